#include "archive.h"

#include "byte_order.h"
#include "header_text.h"
#include "zefa_build.h"

#include "zefa.hpp"

#include <nettle/sha2.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>

namespace zfconv {
namespace {

constexpr uint8_t kVersion = 1;
constexpr uint32_t kMaxBody = 1u << 30; // no ZEFA file zfconv reads is larger
// What a chunk may cost, tied to the picture its PNG holds.  The body: the
// lead, stored payloads and the tail, which for a file this program read
// stay well within a few bytes per pixel of the picture they belong to.
constexpr std::size_t kBodyFloor = std::size_t{16} << 20;
constexpr std::size_t kBodyPerPixel = 4;
// The pixels the blocks make a decoder draw (the sum of block areas) are
// held to the library's work limit for the picture (zf_limits); setting a
// block up costs the decoder and the coders as much as this many pixels,
// however small the block.
constexpr long long kWorkPerBlock = 4096;
enum Flags : uint8_t { kHoles = 1, kPartlyDrawn = 2, kSoundEnd = 4 };

using zefa::Record;
using zfbytes::get_s16;
using zfbytes::get_u32;
using zfbytes::put_u32;

// ---- the chunk's body ----------------------------------------------------

class Writer {
public:
    void u8(uint8_t v) { b.push_back(v); }
    void u32(uint32_t v)
    {
        for (int s = 24; s >= 0; s -= 8)
            b.push_back(static_cast<uint8_t>(v >> s));
    }
    void u64(uint64_t v)
    {
        u32(static_cast<uint32_t>(v >> 32));
        u32(static_cast<uint32_t>(v));
    }
    void raw(const uint8_t *p, std::size_t n) { b.insert(b.end(), p, p + n); }
    void bytes(const Bytes &v)
    {
        u32(static_cast<uint32_t>(v.size()));
        raw(v.data(), v.size());
    }
    Bytes b;
};

class Reader {
public:
    explicit Reader(const Bytes &v) : b(v) {}
    bool u8(uint8_t &v) { return take(1) && (v = b[pos - 1], true); }
    bool u32(uint32_t &v) { return take(4) && (v = get_u32(&b[pos - 4]), true); }
    bool u64(uint64_t &v)
    {
        uint32_t hi = 0, lo = 0;
        return u32(hi) && u32(lo) && (v = uint64_t{hi} << 32 | lo, true);
    }
    bool raw(uint8_t *p, std::size_t n) { return take(n) && (std::memcpy(p, &b[pos - n], n), true); }
    bool fixed(Bytes &v, std::size_t n) { return take(n) && (v.assign(b.begin() + long(pos - n), b.begin() + long(pos)), true); }
    bool bytes(Bytes &v)
    {
        uint32_t n = 0;
        return u32(n) && fixed(v, n);
    }
    bool done() const { return pos == b.size(); }

private:
    bool take(std::size_t n)
    {
        if (n > b.size() - pos)
            return false;
        pos += n;
        return true;
    }
    const Bytes &b;
    std::size_t pos = 0;
};

// ---- geometry ------------------------------------------------------------

struct Rect {
    long long x = 0, y = 0, w = 0, h = 0;
    bool meets(const Rect &o) const { return x < o.x + o.w && o.x < x + w && y < o.y + o.h && o.y < y + h; }
    bool holds(long long px, long long py) const { return px >= x && px < x + w && py >= y && py < y + h; }
};

Rect rect_of(const uint8_t *head)
{
    return Rect{get_s16(head + ZF_B_X), get_s16(head + ZF_B_Y), get_s16(head + ZF_B_WIDTH), get_s16(head + ZF_B_HEIGHT)};
}

// ---- reading blocks back -------------------------------------------------

// A file of the lead, these bytes and an end marker, to read one block with.
Bytes mini_file(const Bytes &lead, const Bytes &block_head, const Bytes &payload)
{
    Bytes f = lead;
    f.insert(f.end(), block_head.begin(), block_head.end());
    f.insert(f.end(), payload.begin(), payload.end());
    f.insert(f.end(), 8, 0);
    return f;
}

// The lines of the first block of `file`, as many as decode; -1 when not
// even the block can be reached.
int first_block_lines(const Bytes &file, std::vector<uint32_t> &values, int &width, int max_lines = INT_MAX)
{
    Record f(zf_open_memory(file.data(), file.size()));
    if (!f || zf_first_block(f.get()) != 1)
        return -1;
    zf_block b{};
    zf_get_block(f.get(), &b);
    width = b.width;
    values.clear();
    if (zf_begin_read(f.get()) != 0)
        return 0;
    int lines = 0;
    uint32_t *line = nullptr;
    while (lines < max_lines && zf_line(f.get(), &line) >= 0) {
        values.insert(values.end(), line, line + b.width);
        ++lines;
    }
    return lines;
}

// The header, palette and comment of a lead, read as the library reads them.
struct LeadInfo {
    int base = 0;
    zf_info info{};
    int n_pal = 0, n_bits = 0;
    uint8_t palette[3 * ZF_PALETTE_MAX] = {};
    std::string comment;
};

bool read_lead(const Bytes &lead, LeadInfo &out)
{
    Bytes file = lead;
    file.insert(file.end(), 8, 0);
    Record f(zf_open_memory(file.data(), file.size()));
    if (!f)
        return false;
    out.base = static_cast<int>(header_offset(lead));
    zf_get_info(f.get(), &out.info);
    out.n_pal = f->n_pal;
    out.n_bits = f->n_bits;
    std::memcpy(out.palette, f->palette, sizeof out.palette);
    out.comment = f->comment ? f->comment : "";
    return true;
}

zf_params params_of(const LeadInfo &l)
{
    zf_params p{};
    p.depth = l.info.depth;
    p.max_width = p.max_height = -1;
    p.ratio_x = p.ratio_y = 1;
    p.n_pal = l.n_pal;
    p.n_bits = std::clamp(l.n_bits, 1, 256);
    std::memcpy(p.palette, l.palette, sizeof p.palette);
    return p;
}

// Codes the blocks; their headers and payloads in order.
Built code_blocks(const zf_params &p, const std::vector<BlockSource> &blocks, std::vector<Bytes> &out,
                  std::string &error)
{
    out.clear();
    if (blocks.empty())
        return Built::ok;
    Bytes file;
    FileParts parts;
    const Built built = library_file(p, nullptr, nullptr, nullptr, 0, blocks, file, error);
    if (built != Built::ok)
        return built;
    if (!split_file(file, parts) || parts.blocks.size() != blocks.size()) {
        error = "the library wrote an unexpected file";
        return Built::failed;
    }
    out = std::move(parts.blocks);
    return Built::ok;
}

bool picture_is_direct(const Image &pic, int depth, const uint8_t *palette)
{
    if (depth != 8 || pic.kind != Kind::palette)
        return false;
    Bytes padded(pic.palette);
    padded.resize(3 * ZF_PALETTE_MAX, 0);
    return std::memcmp(padded.data(), palette, padded.size()) == 0;
}

} // namespace

// ---- chunk ----------------------------------------------------------------

Bytes pack_archive(const Archive &a)
{
    Writer w;
    w.u32(static_cast<uint32_t>(a.width));
    w.u32(static_cast<uint32_t>(a.height));
    w.u8(static_cast<uint8_t>((a.holes ? kHoles : 0) | (a.partly_drawn ? kPartlyDrawn : 0) | (a.sound_end ? kSoundEnd : 0)));
    w.u64(a.file_size);
    w.raw(a.file_digest.data(), a.file_digest.size());
    w.raw(a.pixel_digest.data(), a.pixel_digest.size());
    w.bytes(a.lead);
    w.u32(static_cast<uint32_t>(a.blocks.size()));
    for (const ArchiveBlock &b : a.blocks) {
        w.u8(b.kind);
        if (b.kind != ArchiveBlock::raw)
            w.raw(b.head.data(), ZF_BLOCK_HEADER_SIZE);
        if (b.kind != ArchiveBlock::rebuilt)
            w.bytes(b.payload);
    }
    if (a.partly_drawn) {
        w.raw(a.stopped_head.data(), ZF_BLOCK_HEADER_SIZE);
        w.u32(static_cast<uint32_t>(a.stopped_lines));
    }
    w.bytes(a.tail);

    uLongf packed = compressBound(static_cast<uLong>(w.b.size()));
    Bytes out(5 + packed);
    out[0] = kVersion;
    put_u32(&out[1], static_cast<uint32_t>(w.b.size()));
    compress2(&out[5], &packed, w.b.data(), static_cast<uLong>(w.b.size()), Z_BEST_COMPRESSION);
    out.resize(5 + packed);
    return out;
}

std::size_t archive_body_limit(int width, int height)
{
    const auto canvas = static_cast<std::size_t>(std::max(width, 0)) * static_cast<std::size_t>(std::max(height, 0));
    return std::min<std::size_t>(kMaxBody, kBodyFloor + kBodyPerPixel * canvas);
}

long long archive_work_limit(int width, int height)
{
    // the library's own limit for a canvas of this size
    return std::max(ZF_WORK_PER_CANVAS * static_cast<long long>(std::max(width, 0)) * std::max(height, 0), ZF_MIN_WORK);
}

namespace {

// What a chunk this program made always holds; a clear word for what is
// not, before anything is decoded or allocated for it.
bool chunk_is_possible(const Archive &a, std::string &why)
{
    const std::size_t base = header_offset(a.lead);
    if (a.lead.size() < base + ZF_HEADER_SIZE) {
        why = "its ZEFA header is cut short";
        return false;
    }
    const uint8_t *h = a.lead.data() + base;
    const int depth = get_s16(h + ZF_H_DEPTH);
    if (depth != 8 && depth != 15 && depth != 24) {
        why = "its header gives a depth of " + std::to_string(depth) + " bits";
        return false;
    }
    if (base + get_u32(h + ZF_H_FIRST) != a.lead.size()) {
        why = "its header does not lead to its first block";
        return false;
    }
    if (get_s16(h + ZF_H_MAX_WIDTH) > a.width || get_s16(h + ZF_H_MAX_HEIGHT) > a.height) {
        why = "its header is larger than its picture";
        return false;
    }
    // every pixel the blocks make the decoder draw, whether it shows or not
    const long long limit = archive_work_limit(a.width, a.height);
    long long work = 0;
    const auto add = [&](const Bytes &head) {
        const Rect r = rect_of(head.data());
        work += std::max(std::max(r.w, 0LL) * std::max(r.h, 0LL), kWorkPerBlock);
        return work <= limit;
    };
    bool within = !a.partly_drawn || add(a.stopped_head);
    for (std::size_t i = 0; within && i < a.blocks.size(); ++i)
        within = a.blocks[i].kind == ArchiveBlock::raw || add(a.blocks[i].head);
    if (!within) {
        why = "its blocks would draw more than " + std::to_string(limit) + " pixels for a picture of " +
              std::to_string(a.width) + " x " + std::to_string(a.height);
        return false;
    }
    if (a.partly_drawn && a.stopped_lines > get_s16(a.stopped_head.data() + ZF_B_HEIGHT)) {
        why = "its damaged block drew more lines than it has";
        return false;
    }
    return true;
}

} // namespace

bool unpack_archive(const Bytes &data, Archive &a, std::string &error, std::size_t max_body)
{
    a = Archive{};
    error = "the private chunk is damaged";
    if (data.size() < 5 || data[0] != kVersion) {
        if (data.size() >= 1 && data[0] != kVersion)
            error = "the private chunk is of a later version";
        return false;
    }
    const uint32_t n = get_u32(&data[1]);
    // zlib expands at most about a thousandfold: a larger claim is no chunk
    // this program wrote, and is not worth the memory
    if (n > std::min<std::size_t>(max_body, kMaxBody) || n / 1100 > data.size()) {
        if (n > max_body && n / 1100 <= data.size())
            error = "the private chunk is damaged (it holds " + std::to_string(n) +
                    " bytes, more than a file of its picture needs)";
        return false;
    }
    Bytes body(n);
    uLongf got = n;
    if (uncompress(body.data(), &got, &data[5], static_cast<uLong>(data.size() - 5)) != Z_OK || got != n)
        return false;
    Reader r(body);
    uint32_t w = 0, h = 0, count = 0, lines = 0;
    uint8_t flags = 0;
    if (!r.u32(w) || !r.u32(h) || !r.u8(flags) || !r.u64(a.file_size) || !r.raw(a.file_digest.data(), 32) ||
        !r.raw(a.pixel_digest.data(), 32) || !r.bytes(a.lead) || !r.u32(count))
        return false;
    if (w == 0 || h == 0 || w > 0xFFFF || h > 0xFFFF || count > n)
        return false;
    a.width = static_cast<int>(w);
    a.height = static_cast<int>(h);
    a.holes = flags & kHoles;
    a.partly_drawn = flags & kPartlyDrawn;
    a.sound_end = flags & kSoundEnd;
    for (uint32_t i = 0; i < count; ++i) {
        ArchiveBlock b;
        uint8_t kind = 0;
        if (!r.u8(kind) || kind > ArchiveBlock::raw)
            return false;
        b.kind = static_cast<ArchiveBlock::Kind>(kind);
        if (b.kind != ArchiveBlock::raw && !r.fixed(b.head, ZF_BLOCK_HEADER_SIZE))
            return false;
        if (b.kind != ArchiveBlock::rebuilt && !r.bytes(b.payload))
            return false;
        a.blocks.push_back(std::move(b));
    }
    if (a.partly_drawn && (!r.fixed(a.stopped_head, ZF_BLOCK_HEADER_SIZE) || !r.u32(lines) || lines > 0x7FFF))
        return false;
    a.stopped_lines = static_cast<int>(lines);
    if (!r.bytes(a.tail) || !r.done())
        return false;
    std::string why;
    if (!chunk_is_possible(a, why)) {
        error += " (" + why + ")";
        return false;
    }
    error.clear();
    return true;
}

Digest sha256(const uint8_t *data, std::size_t size)
{
    sha256_ctx ctx;
    sha256_init(&ctx);
    sha256_update(&ctx, size, data);
    Digest d{};
    sha256_digest(&ctx, d.size(), d.data());
    return d;
}

Image png_view(const Image &picture)
{
    if (picture.has_holes())
        return rgb_view(picture);
    Image v = picture;
    v.mask.clear();
    return v;
}

Image rgb_view(const Image &picture)
{
    Image v;
    v.width = picture.width;
    v.height = picture.height;
    v.kind = Kind::rgb;
    v.mask = picture.mask;
    const std::size_t n = static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height);
    v.pixels.resize(3 * n);
    for (std::size_t i = 0; i < n; ++i) {
        const uint32_t c = colour_at(picture, i);
        v.pixels[3 * i] = static_cast<uint8_t>(c >> 16);
        v.pixels[3 * i + 1] = static_cast<uint8_t>(c >> 8);
        v.pixels[3 * i + 2] = static_cast<uint8_t>(c);
    }
    return v;
}

Digest pixel_digest(const Image &view)
{
    sha256_ctx ctx;
    sha256_init(&ctx);
    uint8_t head[9];
    put_u32(head, static_cast<uint32_t>(view.width));
    put_u32(head + 4, static_cast<uint32_t>(view.height));
    head[8] = static_cast<uint8_t>(view.kind);
    sha256_update(&ctx, sizeof head, head);
    sha256_update(&ctx, view.pixels.size(), view.pixels.data());
    if (view.kind == Kind::palette) // a changed palette is a change
        sha256_update(&ctx, view.palette.size(), view.palette.data());
    // a mask without holes reads back as none
    if (view.has_holes()) {
        std::vector<uint8_t> bits(view.mask.size());
        for (std::size_t i = 0; i < bits.size(); ++i)
            bits[i] = view.mask[i] ? 1 : 0;
        sha256_update(&ctx, bits.size(), bits.data());
    }
    Digest d{};
    sha256_digest(&ctx, d.size(), d.data());
    return d;
}

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
                if (!whole) {
                    a.partly_drawn = true;
                    a.stopped_head.assign(w->block, w->block + ZF_BLOCK_HEADER_SIZE);
                    a.stopped_lines = lines;
                    a.tail.assign(file.begin() + static_cast<long>(pos), file.end());
                    return true;
                }
                b.kind = ArchiveBlock::stored;
                b.head.assign(w->block, w->block + ZF_BLOCK_HEADER_SIZE);
                const std::size_t from = std::min(pos + ZF_BLOCK_HEADER_SIZE, end);
                b.payload.assign(file.begin() + static_cast<long>(from), file.begin() + static_cast<long>(end));
                sound.push_back(Sound{a.blocks.size(), rect_of(w->block)});
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
        Rect s = rect_of(a.stopped_head.data());
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

// ---- restoring -------------------------------------------------------------

namespace {

// The lead with another comment section (Shift-JIS), as the library
// writes one, the first block's position moved to follow it.
bool lead_with_comment(const Bytes &lead_bytes, const LeadInfo &lead, const std::string &comment, Bytes &out,
                       std::string &error)
{
    zf_params none{};
    none.depth = lead.info.depth;
    Bytes empty;
    FileParts parts;
    if (library_file(none, nullptr, comment.c_str(), nullptr, 0, {}, empty, error) != Built::ok ||
        !split_file(empty, parts)) {
        if (error.empty())
            error = "the library wrote an unexpected file";
        return false;
    }
    const std::size_t palette_end = static_cast<std::size_t>(lead.base) + ZF_HEADER_SIZE +
                                    (lead.n_pal > 0 ? 3 + 3 * static_cast<std::size_t>(lead.n_pal) : 0);
    out.assign(lead_bytes.begin(), lead_bytes.begin() + static_cast<long>(std::min(palette_end, lead_bytes.size())));
    out.insert(out.end(), parts.lead.begin() + ZF_HEADER_SIZE, parts.lead.end());
    put_u32(out.data() + lead.base + ZF_H_FIRST, static_cast<uint32_t>(out.size() - static_cast<std::size_t>(lead.base)));
    return true;
}

// Where each block of a restored file was put, and how the walk must meet it.
struct Placed {
    std::size_t at;
    int walk; // what zf_first_block / zf_next_block return there: 1 a block
              // the library decodes, 2 one of another coding
};

// colour_at for every pixel of one picture, without a call per pixel.
class Colours {
public:
    explicit Colours(const Image &img) : img_(img)
    {
        for (std::size_t i = 0; img.kind != Kind::rgb && i < table_.size(); ++i) {
            const std::size_t at = 3 * i;
            table_[i] = img.kind == Kind::grey ? static_cast<uint32_t>(i) * 0x010101u
                        : at + 2 < img.palette.size()
                            ? uint32_t{img.palette[at]} << 16 | uint32_t{img.palette[at + 1]} << 8 | img.palette[at + 2]
                            : 0;
        }
    }
    uint32_t operator[](std::size_t i) const
    {
        if (img_.kind != Kind::rgb)
            return table_[img_.pixels[i]];
        const uint8_t *p = &img_.pixels[3 * i];
        return uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
    }

private:
    const Image &img_;
    std::array<uint32_t, 256> table_{};
};

// Whether `dec`, a decoded file, shows `pic`: every pixel in its colour
// (15-bit colours as a file of that depth shows them, when `depth` is 15),
// and a pixel nothing was decoded for only where the picture has a hole
// or shows what such a pixel shows.
bool shows_picture(const Image &dec, const Image &pic, int depth = 0)
{
    if (dec.width != pic.width || dec.height != pic.height)
        return false;
    const ValueMap fifteen(15, nullptr, 0);
    const Colours dec_colour(dec), pic_colour(pic);
    const std::size_t n = static_cast<std::size_t>(pic.width) * static_cast<std::size_t>(pic.height);
    for (std::size_t i = 0; i < n; ++i) {
        const bool hole = !pic.mask.empty() && pic.mask[i] == 0;
        const uint32_t got = dec_colour[i];
        uint32_t want = pic_colour[i];
        if (!dec.mask.empty() && dec.mask[i] == 0) {
            if (!hole && want != got)
                return false;
            continue;
        }
        if (depth == 15) {
            uint32_t v = 0;
            fifteen.value(want, v);
            want = shown_colour(15, v, nullptr, 0);
        }
        if (want != got)
            return false;
    }
    return true;
}

// The library's picture as zfconv's (8-bit files as indices and palette).
Image image_of(const zf_image &img)
{
    Image out;
    out.width = img.width;
    out.height = img.height;
    out.kind = img.format == ZF_INDEXED ? Kind::palette : Kind::rgb;
    const std::size_t n = static_cast<std::size_t>(img.width) * static_cast<std::size_t>(img.height);
    out.pixels.assign(img.pixels, img.pixels + n * static_cast<std::size_t>(out.bytes_per_pixel()));
    if (out.kind == Kind::palette)
        out.palette.assign(img.palette, img.palette + 3 * ZF_PALETTE_MAX);
    if (img.mask)
        out.mask.assign(img.mask, img.mask + n);
    return out;
}

// The proof of a restored file (see restore_archive): empty when it holds,
// else why not.
std::string disproof(const Bytes &file, std::size_t lead_end, const std::vector<Placed> &placed, std::size_t tail_at,
                     const Archive &a, int depth, const Image &pic)
{
    const std::size_t base = header_offset(file);
    if (base + get_u32(file.data() + base + ZF_H_FIRST) != lead_end)
        return "its header does not lead to its first block";
    // The walk: the library moves from block to block by their lengths.
    {
        Record f(zf_open_memory(file.data(), file.size()));
        if (!f)
            return "its header cannot be read";
        std::size_t pos = lead_end;
        int r = zf_first_block(f.get());
        for (std::size_t i = 0; i < placed.size(); ++i) {
            if (r != placed[i].walk || pos != placed[i].at)
                return "block " + std::to_string(i) + " is not read as the chunk keeps it";
            pos += get_u32(f->block + ZF_B_LENGTH);
            r = zf_next_block(f.get());
        }
        const bool ends_right =
            a.partly_drawn ? r == 1 && pos == tail_at &&
                                 std::memcmp(f->block, a.stopped_head.data(), ZF_BLOCK_HEADER_SIZE) == 0
            : a.sound_end  ? r == 0 && pos == tail_at
                           : r < 0 && pos >= tail_at;
        if (!ends_right)
            return "its last part is not read as the chunk says";
    }
    // The canvas before any pixel is allocated for it.
    {
        Record f(zf_open_memory(file.data(), file.size()));
        int w = 0, h = 0;
        if (!f || zf_picture_size(f.get(), &w, &h) != 0 || w != pic.width || h != pic.height)
            return "its picture is not the size of the PNG's";
    }
    // Decoded under the library's limits for a picture of the PNG's size.
    zf_limits limits{};
    limits.max_canvas = static_cast<long long>(pic.width) * pic.height;
    limits.max_work = archive_work_limit(pic.width, pic.height);
    zf_report report{};
    const zefa::Image decoded(zf_decode_memory(file.data(), file.size(), &limits, ZF_INDEXED, &report));
    if (!decoded)
        return zefa::words(report);
    const bool whole = a.sound_end && !a.partly_drawn;
    if ((report.status == ZF_DECODED_WHOLE) != whole ||
        (!whole && (report.block != static_cast<int>(placed.size()) ||
                    report.lines != (a.partly_drawn ? a.stopped_lines : 0))))
        return "it does not decode as far as the chunk says";
    const Image dec = image_of(*decoded);
    // Exactly: a restored file never passes off a nearby colour as the PNG's.
    if (!shows_picture(dec, pic))
        return depth == 15 && shows_picture(dec, pic, 15) ? "the picture holds colours a file of 15 bits cannot show"
                                                          : "it does not show the PNG's picture";
    return {};
}

} // namespace

bool file_shows_picture(const Bytes &file, const Image &pic)
{
    const zefa::Image decoded(zf_decode_memory(file.data(), file.size(), nullptr, ZF_INDEXED, nullptr));
    return decoded && shows_picture(image_of(*decoded), pic);
}

bool restore_archive(const Archive &a, const Image &pic, const Options &options, Restored &out, std::string &error)
{
    out = Restored{};
    const auto set_aside = [&out](const std::string &why) {
        out.file.clear();
        out.exact = false;
        out.notes.clear();
        out.unproven = why;
        return true;
    };
    LeadInfo lead;
    if (!read_lead(a.lead, lead))
        return set_aside("it holds no readable ZEFA header");
    const int depth = lead.info.depth;
    if ((depth != 8 && depth != 15 && depth != 24) || pic.width != a.width || pic.height != a.height)
        return set_aside("it is not of this picture");
    std::string why;
    if (!chunk_is_possible(a, why))
        return set_aside(why);
    const ValueMap map(depth, lead.palette, ZF_PALETTE_MAX);
    const PictureValues values(pic, map, picture_is_direct(pic, depth, lead.palette));
    const long long W = pic.width, H = pic.height;
    out.pixels_match = pixel_digest(pic) == a.pixel_digest;
    // An RGB picture of few colours is written as a palette PNG, its digest
    // taken over the RGB picture.
    if (!out.pixels_match && pic.kind == Kind::palette)
        out.pixels_match = pixel_digest(rgb_view(pic)) == a.pixel_digest;

    std::array<char, 4> override_tag{};
    const bool override = !options.coding.empty();
    if (override && !coding_tag(options.coding, depth, override_tag)) {
        error = "unknown coding " + options.coding;
        return false;
    }

    // Every block drawn, in order, and which shows at each pixel (the last
    // drawn there): the work is the blocks' area, which the chunk's limits
    // bound, not blocks times canvas.
    std::vector<Rect> drawn;
    std::vector<long> drawn_of(a.blocks.size(), -1);
    for (std::size_t i = 0; i < a.blocks.size(); ++i)
        if (a.blocks[i].kind != ArchiveBlock::raw) {
            drawn_of[i] = static_cast<long>(drawn.size());
            drawn.push_back(rect_of(a.blocks[i].head.data()));
        }
    if (a.partly_drawn && a.stopped_lines > 0) {
        Rect s = rect_of(a.stopped_head.data());
        s.h = a.stopped_lines;
        drawn.push_back(s);
    }
    std::vector<int32_t> top(static_cast<std::size_t>(W * H), -1);
    for (std::size_t d = 0; d < drawn.size(); ++d) {
        const Rect &rc = drawn[d];
        for (long long y = std::max(0LL, rc.y); y < std::min(H, rc.y + rc.h); ++y)
            for (long long x = std::max(0LL, rc.x); x < std::min(W, rc.x + rc.w); ++x)
                top[static_cast<std::size_t>(y * W + x)] = static_cast<int32_t>(d);
    }
    // A pixel of a drawn block shows when it is inside the canvas and no
    // later block is drawn over it.
    auto shows = [&](std::size_t d, long long x, long long y) {
        return x >= 0 && y >= 0 && x < W && y < H && top[static_cast<std::size_t>(y * W + x)] == static_cast<int32_t>(d);
    };
    auto transparent = [&](std::size_t i) { return !pic.mask.empty() && pic.mask[i] == 0; };

    // Blocks are read back one by one behind the header and palette alone:
    // the comment, however long, is not copied for each.
    Bytes bare;
    if (!lead_with_comment(a.lead, lead, "", bare, error))
        return false;

    // The block decoding stopped in keeps its bytes: its drawn lines must
    // be as they were.
    if (a.partly_drawn && a.stopped_lines > 0) {
        if (a.tail.size() < ZF_BLOCK_HEADER_SIZE ||
            !std::equal(a.stopped_head.begin(), a.stopped_head.end(), a.tail.begin()))
            return set_aside("its damaged block is not where it says");
        std::vector<uint32_t> old;
        int width = 0;
        Bytes file = bare;
        file.insert(file.end(), a.tail.begin(), a.tail.end());
        const int lines = first_block_lines(file, old, width, a.stopped_lines);
        const Rect rc = drawn.back();
        if (lines < a.stopped_lines || width != rc.w)
            return set_aside("it does not match its damaged block");
        for (long long row = 0; row < rc.h; ++row)
            for (long long c = 0; c < rc.w; ++c) {
                const long long x = rc.x + c, y = rc.y + row;
                if (!shows(drawn.size() - 1, x, y))
                    continue;
                const uint32_t was =
                    shown_colour(depth, old[static_cast<std::size_t>(row * width + c)], lead.palette, ZF_PALETTE_MAX);
                if (colour_at(pic, static_cast<std::size_t>(y * W + x)) != was) {
                    error = "pixels the damaged file's last block drew were changed; they cannot be written back "
                            "without dropping the rest of that block (give --depth to write a new file)";
                    return false;
                }
            }
    }

    // Pixels no block covered: unchanged while they show the background
    // (index 0, or black) or stay transparent.
    const uint32_t background = shown_colour(depth, 0, lead.palette, ZF_PALETTE_MAX);
    const Colours pic_colour(pic);
    long long x0 = W, y0 = H, x1 = -1, y1 = -1;
    for (long long y = 0; y < H; ++y)
        for (long long x = 0; x < W; ++x) {
            const auto i = static_cast<std::size_t>(y * W + x);
            if (top[i] >= 0 || transparent(i) || pic_colour[i] == background)
                continue;
            x0 = std::min(x0, x);
            y0 = std::min(y0, y);
            x1 = std::max(x1, x);
            y1 = std::max(y1, y);
        }
    if (x1 >= 0 && !a.sound_end) {
        error = "pixels no block of the damaged file covered were changed; a block for them would come after "
                "the damage, where nothing is read (give --depth to write a new file)";
        return false;
    }

    // Each drawn block's new lines: the picture where it shows, what it
    // held elsewhere.
    const zf_params params = params_of(lead);
    std::vector<BlockSource> to_code;
    std::vector<std::size_t> coded_for; // block index, or SIZE_MAX for a new block
    std::vector<std::vector<uint32_t>> kept_lines(a.blocks.size());
    for (std::size_t i = 0; i < a.blocks.size(); ++i) {
        const ArchiveBlock &b = a.blocks[i];
        if (b.kind == ArchiveBlock::raw)
            continue;
        const Rect rc = drawn[static_cast<std::size_t>(drawn_of[i])];
        const auto d = static_cast<std::size_t>(drawn_of[i]);
        BlockSource src;
        std::copy_n(b.head.data(), 4, src.tag.begin());
        if (override)
            src.tag = override_tag;
        src.x = static_cast<int>(rc.x);
        src.y = static_cast<int>(rc.y);
        src.width = static_cast<int>(rc.w);
        src.height = static_cast<int>(rc.h);
        if (b.kind == ArchiveBlock::rebuilt) {
            for (long long y = rc.y; y < rc.y + rc.h; ++y)
                for (long long x = rc.x; x < rc.x + rc.w; ++x)
                    if (!shows(d, x, y))
                        return set_aside("a block it rebuilds does not show whole");
            src.fill = [&values, rc](int row, uint32_t *line) {
                for (int c = 0; c < rc.w; ++c)
                    if (!values.value(static_cast<int>(rc.x) + c, static_cast<int>(rc.y) + row, line[c]))
                        return false;
                return true;
            };
        } else {
            // An unchanged picture keeps every stored block's bytes as they
            // are, without decoding them again here: a damaged payload may
            // decode differently on its own than with the bytes that
            // followed it.  (The file made is decoded whole at the end.)
            if (out.pixels_match && !override)
                continue;
            std::vector<uint32_t> old;
            int width = 0;
            if (first_block_lines(mini_file(bare, b.head, b.payload), old, width) != rc.h || width != rc.w)
                return set_aside("a block it keeps cannot be read");
            std::vector<uint32_t> now = old;
            for (long long row = 0; row < rc.h; ++row)
                for (long long c = 0; c < rc.w; ++c) {
                    const long long x = rc.x + c, y = rc.y + row;
                    if (!shows(d, x, y))
                        continue;
                    uint32_t &v = now[static_cast<std::size_t>(row * rc.w + c)];
                    const uint32_t hint = v;
                    if (!values.value(static_cast<int>(x), static_cast<int>(y), v, &hint)) {
                        error = "the picture holds a colour the file's palette lacks (give --depth 15 or 24)";
                        return false;
                    }
                }
            if (now == old && !override)
                continue; // its stored bytes stay
            kept_lines[i] = std::move(now);
            const std::vector<uint32_t> *lines = &kept_lines[i];
            src.fill = [lines, rc](int row, uint32_t *line) {
                std::copy_n(lines->data() + row * rc.w, rc.w, line);
                return true;
            };
        }
        to_code.push_back(std::move(src));
        coded_for.push_back(i);
    }
    if (x1 >= 0) {
        std::array<char, 4> tag{};
        if (!override)
            coding_tag("fast", depth, tag);
        for (BlockSource &t : tiles(static_cast<int>(x1 - x0 + 1), static_cast<int>(y1 - y0 + 1), override ? override_tag : tag)) {
            t.x += static_cast<int>(x0);
            t.y += static_cast<int>(y0);
            const int bx = t.x, by = t.y, bw = t.width;
            t.fill = [&values, bx, by, bw](int row, uint32_t *line) {
                for (int c = 0; c < bw; ++c)
                    if (!values.value(bx + c, by + row, line[c]))
                        return false;
                return true;
            };
            to_code.push_back(std::move(t));
            coded_for.push_back(SIZE_MAX);
        }
        out.notes.push_back("pixels no block covered were changed: written as a new block");
    }
    std::vector<Bytes> coded;
    if (const Built built = code_blocks(params, to_code, coded, error); built != Built::ok) {
        if (built == Built::colour_missing)
            error = "the picture holds a colour the file's palette lacks (give --depth 15 or 24)";
        return false;
    }

    // The lead, with the texts and ratio the options give.
    Bytes lead_bytes = a.lead;
    uint8_t *h = lead_bytes.data() + lead.base;
    const auto put_field = [&](int at, std::size_t width, const std::string &utf8, const TextSource &source) {
        std::string sjis;
        if (!header_text(utf8, width, source, options.text_fallback, sjis, out.notes, error))
            return false;
        std::memset(h + at, ' ', width);
        std::memcpy(h + at, sjis.data(), sjis.size());
        return true;
    };
    if (options.has_title && !put_field(ZF_H_TITLE, 30, options.title, TextSource{"title", "option --title"}))
        return false;
    if (options.has_artist && !put_field(ZF_H_ARTIST, 18, options.artist, TextSource{"artist", "option --artist"}))
        return false;
    if (options.ratio_x > 0 && options.ratio_y > 0) {
        h[ZF_H_RATIO_X] = static_cast<uint8_t>(options.ratio_x >> 8);
        h[ZF_H_RATIO_X + 1] = static_cast<uint8_t>(options.ratio_x);
        h[ZF_H_RATIO_Y] = static_cast<uint8_t>(options.ratio_y >> 8);
        h[ZF_H_RATIO_Y + 1] = static_cast<uint8_t>(options.ratio_y);
    }
    if (options.has_comment) {
        // the library writes the comment section, line ends and all
        Bytes with;
        std::string comment;
        if (!header_text(options.comment, 0, TextSource{"comment", "option --comment"}, options.text_fallback, comment,
                         out.notes, error) ||
            !lead_with_comment(lead_bytes, lead, comment, with, error))
            return false;
        lead_bytes = std::move(with);
    }

    // Everything in file order, each block's place kept for the proof.
    Bytes &file = out.file;
    file = std::move(lead_bytes);
    const std::size_t lead_end = file.size();
    std::vector<Placed> placed;
    placed.reserve(a.blocks.size() + coded.size());
    std::size_t next = 0;
    for (std::size_t i = 0; i < a.blocks.size(); ++i) {
        const ArchiveBlock &b = a.blocks[i];
        placed.push_back(Placed{file.size(), b.kind == ArchiveBlock::raw ? 2 : 1});
        if (next < coded_for.size() && coded_for[next] == i) {
            Bytes block = b.head;
            const Bytes &c = coded[next++];
            std::copy_n(c.begin(), 4, block.begin()); // the tag it was coded with
            put_u32(block.data() + ZF_B_LENGTH, static_cast<uint32_t>(c.size()));
            file.insert(file.end(), block.begin(), block.end());
            file.insert(file.end(), c.begin() + ZF_BLOCK_HEADER_SIZE, c.end());
        } else if (b.kind == ArchiveBlock::raw) {
            file.insert(file.end(), b.payload.begin(), b.payload.end());
        } else {
            file.insert(file.end(), b.head.begin(), b.head.end());
            file.insert(file.end(), b.payload.begin(), b.payload.end());
        }
    }
    for (; next < coded.size(); ++next) {
        placed.push_back(Placed{file.size(), 1});
        file.insert(file.end(), coded[next].begin(), coded[next].end());
    }
    const std::size_t tail_at = file.size();
    file.insert(file.end(), a.tail.begin(), a.tail.end());

    why = disproof(file, lead_end, placed, tail_at, a, depth, pic);
    if (!why.empty())
        return set_aside(why);
    out.exact = file.size() == a.file_size && sha256(file.data(), file.size()) == a.file_digest;
    if (out.pixels_match && !out.exact && x1 < 0 && !options.has_title && !options.has_artist && !options.has_comment &&
        options.ratio_x == 0 && !override)
        out.notes.push_back("the picture is unchanged, but the file could not be rebuilt byte for byte: written "
                            "with its header and the picture");
    return true;
}

} // namespace zfconv
