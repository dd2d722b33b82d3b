// One conversion: ZEFA files to PNG files that keep everything, and PNG
// files (or any picture zfconv reads) to ZEFA files.
#include "convert.h"

#include "archive.h"
#include "png_meta.h"
#include "readers.h"
#include "resample.h"
#include "header_text.h"
#include "zefa.hpp"
#include "zefa_build.h"

#include "zefa.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <numeric>
#include <system_error>
#include <thread>

#ifndef ZEFA_VERSION
#define ZEFA_VERSION "1"
#endif

namespace zfconv {
namespace {

constexpr const char kSaver[] = "zfconv " ZEFA_VERSION;

using zefa::Record;

bool options_ok(const Options &o, std::string &error)
{
    if (o.depth != 0 && o.depth != 8 && o.depth != 15 && o.depth != 24) {
        error = "the depth must be 8, 15 or 24, not " + std::to_string(o.depth);
        return false;
    }
    if (!o.coding.empty() && o.coding != "none" && o.coding != "fast" && o.coding != "optimizing") {
        error = "the coding must be none, fast or optimizing, not " + o.coding;
        return false;
    }
    const bool none = o.ratio_x == 0 && o.ratio_y == 0;
    if (!none && (o.ratio_x < 1 || o.ratio_y < 1 || o.ratio_x > 32767 || o.ratio_y > 32767)) {
        error = "the pixel ratio must be two numbers from 1 to 32767";
        return false;
    }
    return true;
}

// ---- ZEFA -> PNG -----------------------------------------------------------

// The header's texts (under the keys the library names), time and pixel
// shape as PNG chunks.
void header_meta(const zf_file *f, PngMeta &meta)
{
    zf_info info{};
    zf_get_info(f, &info);
    const zefa::Texts texts(zf_get_texts(f, nullptr));
    for (const zf_text_entry *t = texts.get(); t && t->key; ++t)
        meta.texts.push_back(PngText{t->key, t->value});
    meta.has_time = true;
    meta.time = info.time;
    // a pixel's width to its height, x:y, is y pixels per unit along x to x along y
    if (info.ratio_x > 0 && info.ratio_y > 0) {
        meta.has_phys = true;
        meta.ppu_x = static_cast<uint32_t>(info.ratio_y);
        meta.ppu_y = static_cast<uint32_t>(info.ratio_x);
    }
}

bool verify_png(const Bytes &png, const Image &written, std::string &error)
{
    Image back;
    PngMeta meta;
    std::string why;
    if (!read_png(png.data(), png.size(), back, meta, why)) {
        error = "verification failed: the PNG made cannot be read: " + why;
        return false;
    }
    bool same = back.width == written.width && back.height == written.height;
    const std::size_t n = static_cast<std::size_t>(written.width) * static_cast<std::size_t>(written.height);
    for (std::size_t i = 0; same && i < n; ++i) {
        const bool hole = written.has_holes() && written.mask[i] == 0;
        const bool back_hole = !back.mask.empty() && back.mask[i] == 0;
        same = hole == back_hole && (hole || colour_at(back, i) == colour_at(written, i));
    }
    if (!same)
        error = "verification failed: the PNG made does not show the picture";
    return same;
}

// The private chunk of one file, made on whichever thread runs it.
struct ArchiveJob {
    ArchiveJob(const Bytes &file_, const Image &picture_, const ZefaDecoding &decoding_)
        : file(file_), picture(picture_), decoding(decoding_)
    {
    }
    void run()
    {
        try {
            // a picture without holes is its own PNG view
            Image view_storage;
            const Image &view = picture.mask.empty() ? picture : (view_storage = png_view(picture));
            Archive a;
            ok = make_archive(file, view, a, error, &decoding);
            if (ok)
                packed = pack_archive(a);
        } catch (const std::bad_alloc &) {
            ok = false;
            error = "out of memory";
        } catch (const std::exception &e) { // nothing may leave a thread
            ok = false;
            error = e.what();
        }
    }
    const Bytes &file;
    const Image &picture;
    const ZefaDecoding &decoding;
    bool ok = false;
    std::string error;
    Bytes packed;
};

struct Joiner {
    std::thread &thread;
    ~Joiner()
    {
        if (thread.joinable())
            thread.join();
    }
};

bool zefa_to_png(const Bytes &input, const Options &o, Outcome &out, std::string &error)
{
    Image img;
    ZefaDecoding decoding;
    if (!read_zefa(input.data(), input.size(), img, error, out.damage, decoding))
        return false;
    PngMeta meta;
    {
        Record f(zf_open_memory(input.data(), input.size()));
        if (!f) {
            error = std::string("not a readable ZEFA file: ") + zf_strerror(zf_errno);
            return false;
        }
        header_meta(f.get(), meta);
    }
    // as pnmtopng does, and smaller: a ZEFA file of 15 or 24 bits is often
    // pixel art of a few colours
    meta.few_colours_as_palette = true;
    if (o.square && meta.has_phys && meta.ppu_x != meta.ppu_y) {
        Image square;
        if (!make_square(img, static_cast<int>(meta.ppu_y), static_cast<int>(meta.ppu_x), square, error))
            return false;
        meta.ppu_x = meta.ppu_y = 1;
        if (!encode_png(square, meta, out.output, error))
            return false;
        return !o.verify || verify_png(out.output, square, error);
    }
    if (!o.archive) {
        if (!encode_png(img, meta, out.output, error))
            return false;
        return !o.verify || verify_png(out.output, img, error);
    }
    // The private chunk (re-coding blocks to see which the picture gives
    // back) is made while libpng compresses the rows, and written after them.
    ArchiveJob job(input, img, decoding);
    std::thread helper;
    if (o.second_thread && std::thread::hardware_concurrency() != 1) {
        try {
            helper = std::thread([&job] { job.run(); });
        } catch (const std::system_error &) {
        }
    }
    const Joiner joiner{helper};
    if (!helper.joinable()) {
        job.run();
        if (!job.ok) {
            error = job.error;
            return false;
        }
    }
    const LateChunk late = [&helper, &job](Bytes &data, std::string &why) {
        if (helper.joinable())
            helper.join();
        if (!job.ok) {
            why = job.error;
            return false;
        }
        data = std::move(job.packed);
        return true;
    };
    if (!encode_png(img, meta, out.output, error, late))
        return false;
    return !o.verify || verify_png(out.output, img, error);
}

// ---- to ZEFA ---------------------------------------------------------------

// The transparency rule applied, and what reading gave up or did told.
void settle(Image &pic, const Options &o, Outcome &out)
{
    settle_alpha(pic, o.has_background ? &o.background : nullptr);
    out.dropped.insert(out.dropped.end(), pic.dropped.begin(), pic.dropped.end());
    out.notes.insert(out.notes.end(), pic.changed.begin(), pic.changed.end());
}

// What a new file's header gets besides its pixels.
struct NewHeader {
    std::string title, artist, comment, subtitle; // Shift-JIS
    int number = 0;
    int ratio_x = 0, ratio_y = 0; // 0: 1:1
    int depth = 0;                // 0: what the picture holds
    Bytes prefix;
    bool original = false; // from an original header, whose text fields are kept as stored
    zf_info fields{};
};

// A pixel ratio from pHYs: x:y is pixels per unit along y to along x,
// reduced to numbers the header holds.
void ratio_from_phys(uint32_t ppu_x, uint32_t ppu_y, int &rx, int &ry)
{
    uint64_t x = ppu_y, y = ppu_x;
    if (x == 0 || y == 0)
        return;
    const uint64_t g = std::gcd(x, y);
    x /= g;
    y /= g;
    while (x > 32767 || y > 32767) {
        x = std::max<uint64_t>(1, (x + 1) / 2);
        y = std::max<uint64_t>(1, (y + 1) / 2);
    }
    rx = static_cast<int>(x);
    ry = static_cast<int>(y);
}

// From an original header kept in the private chunk.
void header_from_lead(const Bytes &lead, NewHeader &h)
{
    Bytes file = lead;
    file.insert(file.end(), 8, 0);
    Record f(zf_open_memory(file.data(), file.size()));
    if (!f)
        return;
    zf_layout layout{};
    if (zf_get_layout(lead.data(), lead.size(), &layout) != 0)
        return;
    h.prefix.assign(lead.begin(), lead.begin() + static_cast<long>(layout.header));
    h.original = true;
    zf_get_info(f.get(), &h.fields);
    h.comment = zf_get_comment(f.get());
    h.number = h.fields.number;
    h.ratio_x = h.fields.ratio_x;
    h.ratio_y = h.fields.ratio_y;
    h.depth = h.fields.depth;
}

// From a PNG's text chunks and pHYs.
bool header_from_png(const PngMeta &meta, const Options &o, NewHeader &h, std::vector<std::string> &notes,
                     std::string &error)
{
    const struct {
        const char *key;
        std::size_t width;
        const char *field;
        std::string NewHeader::*into;
    } texts[] = {{"Title", 30, "title", &NewHeader::title},
                 {"Author", 18, "artist", &NewHeader::artist},
                 {"Comment", 0, "comment", &NewHeader::comment},
                 {"ZEFA Subtitle", 8, "subtitle", &NewHeader::subtitle}};
    for (const auto &t : texts)
        if (const std::string *v = meta.text(t.key))
            if (!header_text(*v, t.width, TextSource{t.field, std::string("the PNG's ") + t.key + " text"},
                             o.text_fallback, h.*t.into, notes, error))
                return false;
    if (const std::string *t = meta.text("ZEFA Number")) {
        char *end = nullptr;
        const long n = std::strtol(t->c_str(), &end, 10);
        if (end && *end == '\0' && !t->empty() && n >= -32768 && n <= 32767)
            h.number = static_cast<int>(n);
    }
    if (meta.has_phys)
        ratio_from_phys(meta.ppu_x, meta.ppu_y, h.ratio_x, h.ratio_y);
    return true;
}

// The texts the options give, over the header's.
bool header_from_options(const Options &o, NewHeader &h, std::vector<std::string> &notes, std::string &error)
{
    return (!o.has_title ||
            header_text(o.title, 30, TextSource{"title", "option --title"}, o.text_fallback, h.title, notes, error)) &&
           (!o.has_artist ||
            header_text(o.artist, 18, TextSource{"artist", "option --artist"}, o.text_fallback, h.artist, notes, error)) &&
           (!o.has_comment || header_text(o.comment, 0, TextSource{"comment", "option --comment"}, o.text_fallback,
                                          h.comment, notes, error));
}

// Whether a depth of 15 shows any colour of the picture otherwise.
bool loses_at_15(const Image &pic)
{
    const ValueMap map(15, nullptr, 0);
    const std::size_t n = static_cast<std::size_t>(pic.width) * static_cast<std::size_t>(pic.height);
    for (std::size_t i = 0; i < n; ++i) {
        const uint32_t colour = colour_at(pic, i);
        uint32_t value = 0;
        if (!map.value(colour, value) || shown_colour(15, value, nullptr, 0) != colour)
            return true;
    }
    return false;
}

bool write_depth(const Image &pic, const NewHeader &h, const Options &o, int depth, Outcome &out, std::string &error)
{
    zf_params p{};
    p.saver = kSaver;
    p.depth = depth;
    p.max_width = pic.width;
    p.max_height = pic.height;
    p.ratio_x = o.ratio_x ? o.ratio_x : h.ratio_x > 0 && h.ratio_y > 0 ? h.ratio_x : 1;
    p.ratio_y = o.ratio_y ? o.ratio_y : h.ratio_x > 0 && h.ratio_y > 0 ? h.ratio_y : 1;
    if (pic.width > 32767 || pic.height > 32767) {
        error = "a ZEFA file holds at most 32767 x 32767 pixels, the picture has " + std::to_string(pic.width) +
                " x " + std::to_string(pic.height);
        return false;
    }
    bool direct = false;
    if (depth == 8) {
        p.n_bits = 8;
        if (pic.kind == Kind::palette) {
            p.n_pal = std::clamp(static_cast<int>(pic.palette.size() / 3), 1, ZF_PALETTE_MAX);
            std::copy_n(pic.palette.begin(), std::min<std::size_t>(pic.palette.size(), 3 * ZF_PALETTE_MAX), p.palette);
            direct = true;
        } else if (pic.kind == Kind::grey) {
            p.n_pal = ZF_PALETTE_MAX;
            for (int i = 0; i < ZF_PALETTE_MAX; ++i)
                std::fill_n(p.palette + 3 * i, 3, static_cast<unsigned char>(i));
            direct = true;
        } else {
            std::vector<uint32_t> seen;
            const std::size_t n = pic.pixels.size() / 3;
            std::vector<uint32_t> sorted;
            for (std::size_t i = 0; i < n; ++i) {
                const uint32_t c = colour_at(pic, i);
                const auto it = std::lower_bound(sorted.begin(), sorted.end(), c);
                if (it != sorted.end() && *it == c)
                    continue;
                if (seen.size() == ZF_PALETTE_MAX) {
                    error = "the picture has more than 256 colours; depth 8 holds 256 (give --depth 15 or 24)";
                    return false;
                }
                sorted.insert(it, c);
                seen.push_back(c);
            }
            p.n_pal = std::max<int>(1, static_cast<int>(seen.size()));
            for (std::size_t i = 0; i < seen.size(); ++i) {
                p.palette[3 * i] = static_cast<unsigned char>(seen[i] >> 16);
                p.palette[3 * i + 1] = static_cast<unsigned char>(seen[i] >> 8);
                p.palette[3 * i + 2] = static_cast<unsigned char>(seen[i]);
            }
        }
    }
    const ValueMap map(depth, p.palette, depth == 8 ? p.n_pal : 0);
    const PictureValues values(pic, map, direct);
    std::array<char, 4> tag{};
    coding_tag(o.coding.empty() ? "fast" : o.coding, depth, tag);
    std::vector<BlockSource> blocks = tiles(pic.width, pic.height, tag);
    for (BlockSource &b : blocks)
        fill_from(b, values);
    Bytes file;
    if (library_file(p, h.title.c_str(), h.comment.c_str(), h.artist.c_str(), h.number, blocks, file, error) != Built::ok)
        return false;
    // what the library's arguments cannot carry: the original fields as
    // stored, and the subtitle (a file in memory has no name to take it from)
    zf_header_edit edit{};
    if (h.original) {
        edit.artist = o.has_artist ? nullptr : h.fields.artist;
        edit.artist_length = 18;
        edit.title = o.has_title ? nullptr : h.fields.title;
        edit.title_length = 30;
        edit.subtitle = h.fields.subtitle;
        edit.subtitle_length = 8;
    } else if (!h.subtitle.empty()) {
        edit.subtitle = h.subtitle.data();
        edit.subtitle_length = std::min<std::size_t>(h.subtitle.size(), 8);
    }
    if (zf_edit_header(file.data(), file.size(), &edit) != 0) {
        error = std::string("cannot set the header's fields: ") + zf_strerror(zf_errno);
        return false;
    }
    file.insert(file.begin(), h.prefix.begin(), h.prefix.end());
    out.output = std::move(file);
    return true;
}

bool write_new(const Image &pic, const NewHeader &h, const Options &o, Outcome &out, std::string &error)
{
    const int depth = o.depth ? o.depth : h.depth ? h.depth : pic.kind == Kind::rgb ? 24 : 8;
    if (depth == 15 && loses_at_15(pic))
        out.dropped.emplace_back("colour precision: 15 bits keep 5 of each channel's 8");
    if (o.depth != 0 || h.depth != 0 || depth != 8)
        return write_depth(pic, h, o, depth, out, error);
    // A palette or grey picture is whole at 8 bits and at 24: the smaller
    // file wins (a palette's indices can cost more than the colours).
    Outcome wide = out;
    if (!write_depth(pic, h, o, 8, out, error))
        return false;
    std::string why;
    if (write_depth(pic, h, o, 24, wide, why) && wide.output.size() < out.output.size())
        out = std::move(wide);
    return true;
}

// The file made shows the picture: every pixel in the colour its depth
// gives it, and a pixel no block gives only where the picture has a hole
// or shows what such a pixel shows.
bool verify_zefa(const Bytes &file, const Image &pic, std::string &error)
{
    Image dec;
    std::string why, damage;
    if (!read_zefa(file.data(), file.size(), dec, why, damage)) {
        error = "verification failed: the ZEFA file made cannot be read: " + why;
        return false;
    }
    zf_layout layout{};
    const int depth = zf_get_layout(file.data(), file.size(), &layout) == 0 ? layout.info.depth : 0;
    bool same = dec.width == pic.width && dec.height == pic.height;
    const std::size_t n = static_cast<std::size_t>(pic.width) * static_cast<std::size_t>(pic.height);
    for (std::size_t i = 0; same && i < n; ++i) {
        const bool hole = !pic.mask.empty() && pic.mask[i] == 0;
        const uint32_t got = colour_at(dec, i);
        uint32_t want = colour_at(pic, i);
        if (!dec.mask.empty() && dec.mask[i] == 0) {
            same = hole || want == got;
            continue;
        }
        if (depth == 15) {
            uint32_t v = 0;
            ValueMap(15, nullptr, 0).value(want, v);
            want = shown_colour(15, v, nullptr, 0);
        }
        same = want == got;
    }
    if (!same)
        error = "verification failed: the ZEFA file made does not show the picture";
    return same;
}

bool to_zefa(const Bytes &input, const std::string &name, const Options &o, Outcome &out, std::string &error)
{
    Image pic;
    PngMeta meta;
    Archive a;
    bool archived = false;
    switch (sniff(input.data(), input.size())) {
    case Format::zefa: {
        Image img;
        std::string damage;
        ZefaDecoding decoding;
        if (!read_zefa(input.data(), input.size(), img, error, damage, decoding))
            return false;
        img = png_view(img);
        if (!make_archive(input, img, a, error, &decoding))
            return false;
        pic = std::move(img);
        archived = true;
        break;
    }
    case Format::png:
        if (!read_png(input.data(), input.size(), pic, meta, error))
            return false;
        if (meta.archive_chunks > 1) {
            out.notes.push_back("the PNG holds " + std::to_string(meta.archive_chunks) +
                                " private chunks where one is written: they are damaged, and the PNG is taken as any "
                                "other");
        } else if (!meta.archive.empty()) {
            std::string why;
            archived = unpack_archive(meta.archive, a, why, archive_body_limit(pic.width, pic.height));
            if (!archived)
                out.notes.push_back(why + "; the PNG is taken as any other");
        }
        break;
    case Format::unknown:
        if (!read_raw_rgb(name, input, pic, error))
            return false;
        break;
    default:
        if (!read_image(input.data(), input.size(), pic, error, o.frame))
            return false;
        break;
    }

    NewHeader h;
    if (archived) {
        zf_layout lead{};
        const int depth = zf_get_layout(a.lead.data(), a.lead.size(), &lead) == 0 ? lead.info.depth : 0;
        if ((o.depth == 0 || o.depth == depth) && pic.width == a.width && pic.height == a.height) {
            Restored r;
            if (!restore_archive(a, pic, o, r, error))
                return false;
            // (the file made was decoded and compared with the picture)
            if (r.unproven.empty()) {
                out.output = std::move(r.file);
                out.exact = r.exact;
                out.notes.insert(out.notes.end(), r.notes.begin(), r.notes.end());
                if (r.exact && a.holes)
                    out.notes.push_back("the original file was damaged, and so is this copy of it");
                return true;
            }
            const std::string why = "the private chunk does not give this picture back: " + r.unproven;
            if (o.verify) {
                error = "verification failed: " + why;
                return false;
            }
            out.notes.push_back(why + "; it is set aside and the pixels written as a new file");
            if (meta.archive.empty()) // a ZEFA file read as it is: its own header
                header_from_lead(a.lead, h);
            archived = false;
        } else {
            header_from_lead(a.lead, h);
            out.notes.push_back(pic.width != a.width || pic.height != a.height
                                    ? "the picture's size changed: written as a new file with the original header's texts"
                                    : "written as a new file of the depth asked for, with the original header's texts");
        }
    }
    if (!archived && !header_from_png(meta, o, h, out.notes, error))
        return false;
    if (!header_from_options(o, h, out.notes, error))
        return false;
    settle(pic, o, out);
    if (!write_new(pic, h, o, out, error))
        return false;
    // The depth a chunk's header gives is no promise that the picture fits
    // it: a colour of more than 15 bits is written at the depth that holds it.
    if (h.depth != 0 && o.depth == 0 && !file_shows_picture(out.output, pic)) {
        out.notes.push_back("the picture holds colours a file of " + std::to_string(h.depth) +
                            " bits cannot show: written at the depth that holds them");
        h.depth = 0;
        if (!write_new(pic, h, o, out, error))
            return false;
    }
    return !o.verify || verify_zefa(out.output, pic, error);
}

// ---- other pictures to PNG --------------------------------------------------

bool picture_to_png(const Bytes &input, const std::string &name, const Options &o, Outcome &out,
                    std::string &error)
{
    Image img;
    const bool ok = sniff(input.data(), input.size()) == Format::unknown
                        ? read_raw_rgb(name, input, img, error)
                        : read_image(input.data(), input.size(), img, error, o.frame);
    if (!ok)
        return false;
    settle(img, o, out);
    if (!encode_png(img, PngMeta{}, out.output, error))
        return false;
    return !o.verify || verify_png(out.output, img, error);
}

std::string join(const std::vector<std::string> &phrases)
{
    std::string all;
    for (const std::string &p : phrases)
        all += (all.empty() ? "" : "; ") + p;
    return all;
}

} // namespace

bool convert(const Bytes &input, const std::string &input_name, Target to, const Options &options, Outcome &out,
             std::string &error)
{
    out = Outcome{};
    error.clear();
    if (!options_ok(options, error))
        return false;
    if (input.empty()) {
        error = "the file is empty";
        return false;
    }
    const PixelLimit limit(options.max_pixels);
    try {
        bool ok = false;
        if (to == Target::zefa)
            ok = to_zefa(input, input_name, options, out, error);
        else if (sniff(input.data(), input.size()) == Format::zefa)
            ok = zefa_to_png(input, options, out, error);
        else
            ok = picture_to_png(input, input_name, options, out, error);
        if (ok && options.lossless && !out.dropped.empty()) {
            error = "--lossless: the output would lack " + join(out.dropped) + "; nothing written";
            out = Outcome{};
            return false;
        }
        return ok;
    } catch (const std::bad_alloc &) {
        out = Outcome{};
        error = "out of memory";
        return false;
    }
}

} // namespace zfconv
