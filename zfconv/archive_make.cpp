// Making the private chunk: what of a ZEFA file its picture cannot give back.
#include "archive_parts.h"

#include "zefa.hpp"

#include <algorithm>
#include <cstring>

namespace zfconv {

// ---- making ---------------------------------------------------------------

bool make_archive(const Bytes &file, const Image &view, Archive &a, std::string &error, const ZefaDecoding *decoded)
{
    a = Archive{};
    Record f(zf_open_memory(file.data(), file.size()));
    long long lead_end = 0, lead_span = 0;
    // the lead ends where the walk meets the first block (or the end marker)
    if (!f || zf_first_block(f.get()) < 0 || zf_get_block_span(f.get(), &lead_end, &lead_span) != 0) {
        error = std::string("not a readable ZEFA file: ") + zf_strerror(zf_errno);
        return false;
    }
    f.reset();
    a.width = view.width;
    a.height = view.height;
    a.holes = view.has_holes();
    a.file_size = file.size();
    a.file_digest = sha256(file.data(), file.size());
    a.pixel_digest = pixel_digest(view);
    a.lead.assign(file.begin(), file.begin() + static_cast<long>(std::min<std::size_t>(lead_end, file.size())));

    // The walk, with each block's place in the file beside it.
    struct Sound {
        std::size_t index; // in a.blocks
        Rect rect;
    };
    std::vector<Sound> sound;
    // Which blocks decode whole and where decoding stopped.  What the
    // picture's decoding told (`d`) answers without decoding again when it
    // cannot be mistaken: every block whole, or lines of a block drawn
    // before it stopped.  (A block that stopped before its first line looks
    // the same as a walk that stopped on what decoding the block before it
    // left behind: those files are decoded again, as is anything that does
    // not agree with the walk.)  False when the walk disagrees with `d`.
    const auto walk = [&](const ZefaDecoding *d) {
        a.blocks.clear();
        a.partly_drawn = a.sound_end = false;
        a.stopped_head.clear();
        a.stopped_lines = 0;
        a.tail.clear();
        sound.clear();
        Record w(zf_open_memory(file.data(), file.size()));
        if (!w)
            return false;
        zf_set_pixel_limit(w.get(), kMaxPixels); // as the picture was drawn
        std::size_t pos = static_cast<std::size_t>(lead_end);
        int r = zf_first_block(w.get());
        for (int i = 0;; r = zf_next_block(w.get()), ++i) {
            long long at = 0, span = 0;
            if (r > 0 && zf_get_block_span(w.get(), &at, &span) == 0)
                pos = static_cast<std::size_t>(at);
            if (r <= 0) {
                if (d && !(d->whole && r == 0))
                    return false;
                a.sound_end = r == 0;
                a.tail.assign(file.begin() + static_cast<long>(std::min(pos, file.size())), file.end());
                return true;
            }
            if (d && !d->whole && (i > d->failed_block || (i == d->failed_block && r != 1)))
                return false;
            const std::size_t len = static_cast<std::size_t>(span);
            const std::size_t end = std::min(pos + len, file.size());
            ArchiveBlock b;
            if (r == 2) {
                b.kind = ArchiveBlock::raw;
                b.payload.assign(file.begin() + static_cast<long>(pos), file.begin() + static_cast<long>(end));
            } else {
                int lines = 0;
                bool whole = false;
                if (d) {
                    whole = d->whole || i < d->failed_block;
                    lines = whole ? 0 : d->failed_line;
                } else if (zf_begin_read(w.get()) == 0) {
                    uint32_t *line = nullptr;
                    int t;
                    while ((t = zf_line(w.get(), &line)) >= 0)
                        ++lines;
                    whole = t == -2;
                }
                const uint8_t *head = zf_get_block_header(w.get());
                if (!whole) {
                    a.partly_drawn = true;
                    a.stopped_head.assign(head, head + ZF_BLOCK_HEADER_SIZE);
                    a.stopped_lines = lines;
                    a.tail.assign(file.begin() + static_cast<long>(pos), file.end());
                    return true;
                }
                b.kind = ArchiveBlock::stored;
                b.head.assign(head, head + ZF_BLOCK_HEADER_SIZE);
                const std::size_t from = std::min(pos + ZF_BLOCK_HEADER_SIZE, end);
                b.payload.assign(file.begin() + static_cast<long>(from), file.begin() + static_cast<long>(end));
                sound.push_back(Sound{a.blocks.size(), rect_of(b.head)});
            }
            a.blocks.push_back(std::move(b));
            pos += len;
        }
    };
    const bool told = decoded && decoded->known && (decoded->whole || decoded->failed_line > 0);
    if (!(told && walk(decoded)) && !walk(nullptr)) {
        error = std::string("not a readable ZEFA file: ") + zf_strerror(zf_errno);
        return false;
    }

    // What was drawn over what: a block is rebuilt from the picture only
    // when nothing was drawn over it and it lies inside the canvas.
    std::vector<Rect> drawn;
    for (const Sound &s : sound)
        drawn.push_back(s.rect);
    if (a.partly_drawn && a.stopped_lines > 0) {
        Rect s = rect_of(a.stopped_head);
        s.h = a.stopped_lines;
        drawn.push_back(s);
    }
    LeadInfo lead;
    if (!read_lead(a.lead, lead)) {
        error = "the file's header cannot be read again";
        return false;
    }
    const int depth = lead.info.depth;
    const ValueMap map(depth, lead.palette, ZF_PALETTE_MAX);
    const PictureValues values(view, map, picture_is_direct(view, depth, lead.palette));
    const bool rgb24 = depth == 24 && view.kind == Kind::rgb;
    std::vector<BlockSource> candidates;
    std::vector<std::size_t> which;
    for (std::size_t i = 0; i < sound.size(); ++i) {
        const Rect &rc = sound[i].rect;
        bool alone = rc.x >= 0 && rc.y >= 0 && rc.x + rc.w <= view.width && rc.y + rc.h <= view.height;
        for (std::size_t j = i + 1; alone && j < drawn.size(); ++j)
            alone = !rc.meets(drawn[j]);
        if (!alone)
            continue;
        const uint8_t *head = a.blocks[sound[i].index].head.data();
        BlockSource b;
        std::copy_n(head, 4, b.tag.begin());
        b.x = static_cast<int>(rc.x);
        b.y = static_cast<int>(rc.y);
        b.width = static_cast<int>(rc.w);
        b.height = static_cast<int>(rc.h);
        b.fill = [&values, &view, rgb24, rc](int row, uint32_t *line) {
            if (rgb24) { // the common case, without a lookup per pixel
                const uint8_t *p = &view.pixels[3 * static_cast<std::size_t>((rc.y + row) * view.width + rc.x)];
                for (int c = 0; c < rc.w; ++c, p += 3)
                    line[c] = uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
                return true;
            }
            for (int c = 0; c < rc.w; ++c)
                if (!values.value(static_cast<int>(rc.x) + c, static_cast<int>(rc.y) + row, line[c]))
                    return false;
            return true;
        };
        candidates.push_back(std::move(b));
        which.push_back(sound[i].index);
    }
    // Coded one by one: a block whose colours the depth lacks stays stored.
    for (std::size_t k = 0; k < candidates.size(); ++k) {
        std::vector<Bytes> coded;
        std::string ignored;
        if (code_blocks(params_of(lead), {candidates[k]}, coded, ignored) != Built::ok)
            continue;
        ArchiveBlock &b = a.blocks[which[k]];
        if (coded[0].size() == ZF_BLOCK_HEADER_SIZE + b.payload.size() &&
            std::equal(b.payload.begin(), b.payload.end(), coded[0].begin() + ZF_BLOCK_HEADER_SIZE)) {
            b.kind = ArchiveBlock::rebuilt;
            b.payload.clear();
        }
    }
    return true;
}


} // namespace zfconv
