// PNG output, through libpng.
#include "output_file.h"
#include "png_meta.h"
#include "writers.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <numeric>
#include <system_error>
#include <thread>

namespace zfconv {
namespace {

struct PngWrite {
    png_structp png = nullptr;
    png_infop info = nullptr;
    char message[200] = "";
};

void on_error(png_structp png, png_const_charp text)
{
    auto *w = static_cast<PngWrite *>(png_get_error_ptr(png));
    std::snprintf(w->message, sizeof w->message, "%s", text ? text : "PNG writing failed");
    png_longjmp(png, 1);
}
void on_warning(png_structp, png_const_charp) {}

void on_write(png_structp png, png_bytep data, png_size_t n)
{
    auto *out = static_cast<Bytes *>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + n);
}
void on_flush(png_structp) {}

// Long texts go compressed; short ones stay readable to any tool.
constexpr std::size_t kCompressAbove = 512;

// The chunks of `meta` handed to libpng, which copies them: texts, time
// and pixel shape before the image data, the private chunk after it.
void set_meta(png_structp png, png_infop info, const PngMeta &meta)
{
    std::vector<png_text> texts;
    for (const PngText &t : meta.texts) {
        png_text pt{};
        pt.compression = t.text.size() > kCompressAbove ? PNG_ITXT_COMPRESSION_zTXt : PNG_ITXT_COMPRESSION_NONE;
        pt.key = const_cast<png_charp>(t.key.c_str());
        pt.text = const_cast<png_charp>(t.text.c_str());
        pt.itxt_length = t.text.size();
        pt.lang = const_cast<png_charp>("");
        pt.lang_key = const_cast<png_charp>("");
        texts.push_back(pt);
    }
    if (!texts.empty())
        png_set_text(png, info, texts.data(), static_cast<int>(texts.size()));
    if (meta.has_time) {
        // gmtime_r: libpng's own conversion uses gmtime, which threads share
        const auto t = static_cast<std::time_t>(meta.time);
        std::tm tm{};
        if (gmtime_r(&t, &tm)) {
            png_time pt{};
            pt.year = static_cast<png_uint_16>(tm.tm_year + 1900);
            pt.month = static_cast<png_byte>(tm.tm_mon + 1);
            pt.day = static_cast<png_byte>(tm.tm_mday);
            pt.hour = static_cast<png_byte>(tm.tm_hour);
            pt.minute = static_cast<png_byte>(tm.tm_min);
            pt.second = static_cast<png_byte>(tm.tm_sec);
            png_set_tIME(png, info, &pt);
        }
    }
    if (meta.has_phys)
        png_set_pHYs(png, info, meta.ppu_x, meta.ppu_y,
                     meta.phys_unit == 1 ? PNG_RESOLUTION_METER : PNG_RESOLUTION_UNKNOWN);
    if (!meta.archive.empty()) {
        png_unknown_chunk chunk{};
        std::memcpy(chunk.name, kArchiveChunk, 5);
        chunk.data = const_cast<png_bytep>(meta.archive.data());
        chunk.size = meta.archive.size();
        chunk.location = PNG_AFTER_IDAT;
        png_set_unknown_chunks(png, info, &chunk, 1);
    }
}

// A picture with holes as RGBA rows: what was decoded is opaque, the rest
// fully transparent, so that it cannot pass for black.
std::vector<uint8_t> with_alpha(const Image &img)
{
    std::vector<uint8_t> out(img.mask.size() * 4);
    const std::size_t entries = img.palette.size() / 3;
    for (std::size_t i = 0; i < img.mask.size(); ++i) {
        uint8_t *o = &out[4 * i];
        if (img.kind == Kind::rgb) {
            std::copy_n(&img.pixels[3 * i], 3, o);
        } else if (img.kind == Kind::grey) {
            o[0] = o[1] = o[2] = img.pixels[i];
        } else if (img.pixels[i] < entries) {
            std::copy_n(&img.palette[3 * std::size_t{img.pixels[i]}], 3, o);
        }
        o[3] = img.mask[i] ? 255 : 0;
    }
    return out;
}

// The compression of the image data.  Filters are libpng's own choice per
// row (none for palette pictures); zlib's effort follows the picture
// (measured on the real pictures of bench/real_pictures.sh against
// pnmtopng, which keeps zlib's level 6 and memLevel 8).  Where at least a
// quarter of the pixels repeat their left neighbour (screens, pixel art),
// level 7 with memLevel 8 is 0.3 to 1.5% smaller than pnmtopng, which pays
// for our text and private chunks, at 1 to 20% more time than level 6
// (level 9 would be 4% smaller again but two to five times slower, and
// memLevel 9 is larger here).  On photographs level 4 with memLevel 9 is
// 1% smaller than pnmtopng and 40% faster than level 6.
struct Effort {
    int level, mem_level;
};
Effort zlib_effort(const Image &img, const uint8_t *pixels, std::size_t stride, std::size_t bpp)
{
    // every eighth row is enough to tell the kinds apart
    std::size_t repeats = 0, seen = 0;
    const std::size_t w = static_cast<std::size_t>(img.width);
    for (std::size_t y = 0; y < static_cast<std::size_t>(img.height); y += 8) {
        const uint8_t *row = pixels + y * stride;
        for (std::size_t x = 1; x < w; ++x)
            repeats += std::memcmp(row + x * bpp, row + (x - 1) * bpp, bpp) == 0;
        seen += w - 1;
    }
    return 4 * repeats >= seen ? Effort{7, 8} : Effort{4, 9};
}

// An RGB picture of at most 256 colours as palette indices, one byte a
// pixel, the palette's most frequent colours first; false (and
// nothing kept) for more colours.  An RGB PNG of such a picture is larger
// than a palette one, which pnmtopng writes.  Colours are counted over a
// small open hash table, stopping at the 257th.
bool few_colours(const Image &img, std::vector<png_color> &palette, std::vector<uint8_t> &indices)
{
    constexpr int kBits = 10; // 1024 slots for at most 257 colours
    uint32_t keys[1u << kBits];  // colour + 1; 0: empty
    uint8_t slots[1u << kBits];
    std::fill(std::begin(keys), std::end(keys), 0u);
    palette.clear();
    const std::size_t n = img.pixels.size() / 3;
    // the slot of a colour, which a new colour takes while there is room
    const auto slot = [&](uint32_t c) {
        uint32_t h = ((c + 1) * 0x9E3779B1u) >> (32 - kBits);
        while (keys[h] != 0 && keys[h] != c + 1)
            h = (h + 1) & ((1u << kBits) - 1);
        return h;
    };
    // counted first, so that a picture of many colours (found within its
    // first pixels, mostly) costs no memory
    const uint8_t *p = img.pixels.data();
    uint32_t last = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i, p += 3) {
        const uint32_t c = uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
        if (c == last)
            continue;
        last = c;
        const uint32_t h = slot(c);
        if (keys[h] == 0) {
            if (palette.size() == 256) {
                palette.clear();
                return false;
            }
            keys[h] = c + 1;
            slots[h] = static_cast<uint8_t>(palette.size());
            palette.push_back(png_color{p[0], p[1], p[2]});
        }
    }
    indices.resize(n);
    p = img.pixels.data();
    last = 0xFFFFFFFFu;
    uint8_t last_index = 0;
    for (std::size_t i = 0; i < n; ++i, p += 3) {
        const uint32_t c = uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
        if (c != last) {
            last = c;
            last_index = slots[slot(c)];
        }
        indices[i] = last_index;
    }
    // the most frequent colours first (0.3% smaller on pixel art than in
    // the order met)
    std::array<std::size_t, 256> count{};
    for (uint8_t v : indices)
        ++count[v];
    std::array<uint8_t, 256> order{}, to{};
    std::iota(order.begin(), order.begin() + static_cast<long>(palette.size()), uint8_t{0});
    std::stable_sort(order.begin(), order.begin() + static_cast<long>(palette.size()),
                     [&count](uint8_t x, uint8_t y) { return count[x] > count[y]; });
    std::vector<png_color> sorted(palette.size());
    for (std::size_t k = 0; k < palette.size(); ++k) {
        to[order[k]] = static_cast<uint8_t>(k);
        sorted[k] = palette[order[k]];
    }
    palette = std::move(sorted);
    for (uint8_t &v : indices)
        v = to[v];
    return true;
}

// The fewest bits a pixel of a palette of this many entries needs.
int index_bits(std::size_t entries) { return entries <= 2 ? 1 : entries <= 4 ? 2 : entries <= 16 ? 4 : 8; }

// ---- the image data, filtered and compressed here ---------------------------
//
// libpng filters and compresses rows one at a time on one thread.  The same
// filter choice (libpng's: the filter whose bytes, read as signed, sum
// smallest in size, None first, then Sub, Up, Average, Paeth) is made here,
// and the filtered rows are compressed in two halves, on two threads when
// the caller allows, as pigz does: the second half is primed with the last
// 32 KiB of the first, which ends with a sync flush, so the stream is one
// zlib stream and hardly larger.  The halves are fixed by the picture, not
// by the threads: the file is the same either way.

enum : unsigned { kNone = 1, kSub = 2, kUp = 4, kAvg = 8, kPaeth = 16 };

// The sum of |v| over bytes read as signed, as libpng weighs a filtered row.
std::size_t weight(const uint8_t *v, std::size_t n)
{
    std::size_t s = 0;
    for (std::size_t i = 0; i < n; ++i)
        s += static_cast<unsigned>(std::abs(static_cast<int>(static_cast<int8_t>(v[i]))));
    return s;
}

// One row (`x`, the row above `b`) through each filter; loops without
// branches, which the compiler runs many bytes at a time.
void sub_row(const uint8_t *x, std::size_t n, std::size_t bpp, uint8_t *o)
{
    for (std::size_t i = 0; i < bpp; ++i)
        o[i] = x[i];
    for (std::size_t i = bpp; i < n; ++i)
        o[i] = static_cast<uint8_t>(x[i] - x[i - bpp]);
}
void up_row(const uint8_t *x, const uint8_t *b, std::size_t n, uint8_t *o)
{
    for (std::size_t i = 0; i < n; ++i)
        o[i] = static_cast<uint8_t>(x[i] - b[i]);
}
void avg_row(const uint8_t *x, const uint8_t *b, std::size_t n, std::size_t bpp, uint8_t *o)
{
    for (std::size_t i = 0; i < bpp; ++i)
        o[i] = static_cast<uint8_t>(x[i] - (b[i] >> 1));
    for (std::size_t i = bpp; i < n; ++i)
        o[i] = static_cast<uint8_t>(x[i] - ((unsigned{x[i - bpp]} + b[i]) >> 1));
}
void paeth_row(const uint8_t *x, const uint8_t *b, std::size_t n, std::size_t bpp, uint8_t *o)
{
    for (std::size_t i = 0; i < bpp; ++i)
        o[i] = static_cast<uint8_t>(x[i] - b[i]);
    for (std::size_t i = bpp; i < n; ++i) {
        const int16_t a = x[i - bpp], u = b[i], c = b[i - bpp];
        const int16_t p = static_cast<int16_t>(u - c), q = static_cast<int16_t>(a - c);
        const int16_t pa = static_cast<int16_t>(p < 0 ? -p : p), pb = static_cast<int16_t>(q < 0 ? -q : q);
        const int16_t r = static_cast<int16_t>(p + q), pc = static_cast<int16_t>(r < 0 ? -r : r);
        const int16_t near_bc = pb <= pc ? u : c;
        const int16_t pred = (pa <= pb) & (pa <= pc) ? a : near_bc;
        o[i] = static_cast<uint8_t>(x[i] - pred);
    }
}

// Rows [y0, y1) of `pixels` filtered into `out`, each led by its filter
// type: libpng's choice, the smallest weight, the first of equal ones.
void filter_rows(const uint8_t *pixels, std::size_t stride, std::size_t bpp, unsigned filters, std::size_t y0,
                 std::size_t y1, Bytes &out)
{
    out.resize((y1 - y0) * (stride + 1));
    std::vector<uint8_t> zero(stride, 0), t(4 * stride);
    uint8_t *rows[4] = {t.data(), t.data() + stride, t.data() + 2 * stride, t.data() + 3 * stride};
    for (std::size_t y = y0; y < y1; ++y) {
        const uint8_t *x = pixels + y * stride, *b = y > 0 ? x - stride : zero.data();
        uint8_t *o = &out[(y - y0) * (stride + 1)];
        if (filters == kNone) {
            o[0] = 0;
            std::memcpy(o + 1, x, stride);
            continue;
        }
        std::size_t best_sum = SIZE_MAX;
        int best = 0;
        const uint8_t *best_row = x;
        if (filters & kNone)
            best_sum = weight(x, stride);
        const auto consider = [&](int type, const uint8_t *row) {
            const std::size_t s = weight(row, stride);
            if (s < best_sum)
                best_sum = s, best = type, best_row = row;
        };
        if (filters & kSub) {
            sub_row(x, stride, bpp, rows[0]);
            consider(1, rows[0]);
        }
        if (filters & kUp) {
            up_row(x, b, stride, rows[1]);
            consider(2, rows[1]);
        }
        if (filters & kAvg) {
            avg_row(x, b, stride, bpp, rows[2]);
            consider(3, rows[2]);
        }
        if (filters & kPaeth) {
            paeth_row(x, b, stride, bpp, rows[3]);
            consider(4, rows[3]);
        }
        o[0] = static_cast<uint8_t>(best);
        std::memcpy(o + 1, best_row, stride);
    }
}

// Rows [y0, y1) filtered and compressed as one raw deflate stream, after
// the rows from `dict_from` (the last 32 KiB of them filtered: the
// dictionary), ended by a sync flush (more follows) or finished.  Rows go
// through in batches of about 64 KiB, so that neither the filtered rows
// nor room for the worst case of their compression is ever held whole
// (on a machine where first touching memory is dear, that is most of the
// time libpng's whole-image buffers would cost).
struct Piece {
    Bytes packed;
    uLong adler = 1;    // of the filtered rows
    std::size_t size = 0; // their length
    bool ok = false;
    std::string error;
};
void compress_rows(const uint8_t *pixels, std::size_t stride, std::size_t bpp, unsigned filters, int level,
                   int mem_level, int strategy, std::size_t dict_from, std::size_t y0, std::size_t y1, bool last,
                   Piece &piece)
{
    try {
        z_stream z{};
        if (deflateInit2(&z, level, Z_DEFLATED, -15, mem_level, strategy) != Z_OK) {
            piece.error = "zlib cannot compress the image data";
            return;
        }
        const std::unique_ptr<z_stream, int (*)(z_stream *)> end(&z, deflateEnd);
        const std::size_t row = stride + 1;
        Bytes rows, out(1u << 16);
        if (dict_from < y0) {
            filter_rows(pixels, stride, bpp, filters, dict_from, y0, rows);
            const std::size_t dict = std::min<std::size_t>(32768, rows.size());
            if (deflateSetDictionary(&z, rows.data() + rows.size() - dict, static_cast<uInt>(dict)) != Z_OK) {
                piece.error = "zlib cannot compress the image data";
                return;
            }
        }
        const std::size_t batch = std::max<std::size_t>(1, (std::size_t{1} << 16) / row);
        for (std::size_t y = y0; y < y1; y += batch) {
            const std::size_t to = std::min(y1, y + batch);
            filter_rows(pixels, stride, bpp, filters, y, to, rows);
            piece.adler = adler32(piece.adler, rows.data(), static_cast<uInt>(rows.size()));
            piece.size += rows.size();
            const int flush = to < y1 ? Z_NO_FLUSH : last ? Z_FINISH : Z_SYNC_FLUSH;
            z.next_in = rows.data();
            z.avail_in = static_cast<uInt>(rows.size());
            int r = Z_OK;
            do {
                z.next_out = out.data();
                z.avail_out = static_cast<uInt>(out.size());
                r = deflate(&z, flush);
                if (r == Z_STREAM_ERROR) {
                    piece.error = "zlib cannot compress the image data";
                    return;
                }
                piece.packed.insert(piece.packed.end(), out.data(), out.data() + (out.size() - z.avail_out));
            } while (z.avail_out == 0);
        }
        piece.ok = true;
    } catch (const std::bad_alloc &) {
        piece.error = "out of memory";
    } catch (const std::exception &e) { // nothing may leave a thread
        piece.error = e.what();
    }
}

// The zlib stream of the filtered rows of a picture: `pixels` are its rows
// as the PNG holds them (packed below 8 bits), `bpp` the bytes a pixel
// takes (1 below 8 bits).
bool image_data(const uint8_t *pixels, std::size_t stride, std::size_t width, std::size_t height, std::size_t bpp,
                bool filtered, int level, int mem_level, unsigned threads, const Offer *offer, Bytes &idat,
                std::string &error)
{
    unsigned filters = filtered ? kNone | kSub | kUp | kAvg | kPaeth : kNone;
    if (height == 1) // as libpng: no filter of the row above for one row
        filters &= ~(kUp | kAvg | kPaeth);
    if (width == 1)
        filters &= ~(kSub | kAvg | kPaeth);
    // libpng's strategy: Z_FILTERED for filtered rows
    const int strategy = filters == kNone ? Z_DEFAULT_STRATEGY : Z_FILTERED;
    const std::size_t row = stride + 1;
    const std::size_t split = row * height >= (256u << 10) && height >= 2 ? height / 2 : height;
    // the rows before the second half whose last 32 KiB prime it
    const std::size_t lead = std::min(split, (std::size_t{32768} + row - 1) / row);
    Piece first, second;
    const auto make_first = [&] {
        compress_rows(pixels, stride, bpp, filters, level, mem_level, strategy, 0, 0, split, split == height, first);
    };
    const auto make_second = [&] {
        compress_rows(pixels, stride, bpp, filters, level, mem_level, strategy, split - lead, split, height, true,
                      second);
    };
    if (split < height && offer && *offer) {
        // the second half waits for the other thread to be free; if this
        // one is first, it takes the half back
        struct Claim {
            std::mutex lock;
            std::condition_variable finished;
            bool claimed = false, done = false;
        };
        const auto claim = std::make_shared<Claim>();
        bool offered = true;
        try {
            (*offer)([claim, &make_second] {
                {
                    std::lock_guard<std::mutex> hold(claim->lock);
                    if (claim->claimed)
                        return;
                    claim->claimed = true;
                }
                make_second();
                {
                    std::lock_guard<std::mutex> hold(claim->lock);
                    claim->done = true;
                }
                claim->finished.notify_all();
            });
        } catch (const std::exception &) {
            offered = false;
        }
        make_first(); // catches everything
        bool mine = !offered;
        {
            std::unique_lock<std::mutex> hold(claim->lock);
            if (!claim->claimed)
                claim->claimed = mine = true;
            else if (!mine)
                claim->finished.wait(hold, [&claim] { return claim->done; });
        }
        if (mine)
            make_second();
    } else if (split < height) {
        std::thread helper;
        if (threads > 1) {
            try {
                helper = std::thread(make_second);
            } catch (const std::system_error &) {
            }
        }
        make_first(); // catches everything
        if (helper.joinable())
            helper.join();
        else
            make_second();
    } else {
        make_first();
        second.ok = true;
    }
    if (!first.ok || !second.ok) {
        error = !first.error.empty() ? first.error : second.error;
        return false;
    }
    // the zlib header (32 KiB window, the level's flags) and adler32 trailer
    const int flags = level < 2 ? 0 : level < 6 ? 1 : level == 6 ? 2 : 3;
    uint8_t head[2] = {0x78, static_cast<uint8_t>(flags << 6)};
    head[1] = static_cast<uint8_t>(head[1] + 31 - (head[0] * 256 + head[1]) % 31);
    const uLong adler =
        split < height ? adler32_combine(first.adler, second.adler, static_cast<z_off_t>(second.size)) : first.adler;
    idat.clear();
    idat.reserve(2 + first.packed.size() + second.packed.size() + 4);
    idat.insert(idat.end(), head, head + 2);
    idat.insert(idat.end(), first.packed.begin(), first.packed.end());
    idat.insert(idat.end(), second.packed.begin(), second.packed.end());
    for (int s = 24; s >= 0; s -= 8)
        idat.push_back(static_cast<uint8_t>(adler >> s));
    return true;
}

// Rows of one byte a pixel packed to `bits` a pixel, the leftmost highest.
Bytes pack_rows(const uint8_t *pixels, std::size_t width, std::size_t height, int bits, std::size_t &stride)
{
    stride = (width * static_cast<std::size_t>(bits) + 7) / 8;
    Bytes out(stride * height, 0);
    const int per = 8 / bits;
    for (std::size_t y = 0; y < height; ++y) {
        const uint8_t *in = pixels + y * width;
        uint8_t *o = &out[y * stride];
        for (std::size_t x = 0; x < width; ++x)
            o[x / per] |= static_cast<uint8_t>(in[x] << (8 - bits * (1 + static_cast<int>(x % per))));
    }
    return out;
}

// Everything libpng may leave with a long jump happens here, on objects
// that live outside this frame.
bool encode(PngWrite &w, FILE *f, Bytes *sink, const Image &img, const PngMeta *meta, const LateChunk *late,
            unsigned threads, const Offer *offer, Bytes &late_data, std::vector<png_color> &palette, std::vector<png_bytep> &rows,
            std::vector<uint8_t> &rgba, Bytes &idat, std::string &error)
{
    if (setjmp(png_jmpbuf(w.png))) {
        error = w.message;
        return false;
    }
    if (sink)
        png_set_write_fn(w.png, sink, on_write, on_flush);
    else
        png_init_io(w.png, f);
    const bool holes = img.has_holes();
    // an RGB picture of few colours goes as a palette picture
    const bool indexed = meta && meta->few_colours_as_palette && !holes && img.kind == Kind::rgb &&
                         few_colours(img, palette, rgba); // rgba: the indices
    const int type = holes                                 ? PNG_COLOR_TYPE_RGB_ALPHA
                     : img.kind == Kind::palette || indexed ? PNG_COLOR_TYPE_PALETTE
                     : img.kind == Kind::grey               ? PNG_COLOR_TYPE_GRAY
                                                            : PNG_COLOR_TYPE_RGB;
    const int bits = indexed ? index_bits(palette.size()) : 8;
    png_set_IHDR(w.png, w.info, static_cast<png_uint_32>(img.width), static_cast<png_uint_32>(img.height), bits, type,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (indexed) {
        png_set_PLTE(w.png, w.info, palette.data(), static_cast<int>(palette.size()));
    } else if (type == PNG_COLOR_TYPE_PALETTE) {
        // every index the pixels use must have an entry
        std::size_t entries = img.palette.size() / 3;
        for (uint8_t p : img.pixels)
            if (p >= entries)
                entries = 256;
        palette.assign(entries, png_color{0, 0, 0});
        for (std::size_t i = 0; i < img.palette.size() / 3 && i < entries; ++i)
            palette[i] = png_color{img.palette[3 * i], img.palette[3 * i + 1], img.palette[3 * i + 2]};
        png_set_PLTE(w.png, w.info, palette.data(), static_cast<int>(palette.size()));
    }
    if (meta)
        set_meta(w.png, w.info, *meta);
    png_write_info(w.png, w.info);
    if (bits < 8)
        png_set_packing(w.png); // rows of one byte a pixel, packed by libpng
    const uint8_t *pixels = img.pixels.data();
    std::size_t stride = static_cast<std::size_t>(img.width) * static_cast<std::size_t>(img.bytes_per_pixel());
    if (holes) {
        rgba = with_alpha(img);
        pixels = rgba.data();
        stride = static_cast<std::size_t>(img.width) * 4;
    } else if (indexed) {
        pixels = rgba.data();
        stride = static_cast<std::size_t>(img.width);
    }
    const Effort effort = zlib_effort(img, pixels, stride, stride / static_cast<std::size_t>(img.width));
    if (sink) {
        // the image data made here (see image_data), the chunks after it
        // written as libpng writes chunks
        const std::size_t width = static_cast<std::size_t>(img.width), height = static_cast<std::size_t>(img.height);
        if (bits < 8) {
            std::size_t packed_stride = 0;
            rgba = pack_rows(pixels, width, height, bits, packed_stride);
            pixels = rgba.data();
            stride = packed_stride;
        }
        const std::size_t bpp = bits < 8 ? 1 : stride / width;
        if (!image_data(pixels, stride, width, height, bpp, type != PNG_COLOR_TYPE_PALETTE, effort.level,
                        effort.mem_level, threads, offer, idat, error))
            return false;
        constexpr std::size_t kIdat = 256 * 1024;
        for (std::size_t at = 0; at < idat.size(); at += kIdat)
            png_write_chunk(w.png, reinterpret_cast<png_const_bytep>("IDAT"), idat.data() + at,
                            std::min(kIdat, idat.size() - at));
        if (late && *late && !(*late)(late_data, error))
            return false;
        const Bytes &archive = !late_data.empty() ? late_data : meta ? meta->archive : late_data;
        if (!archive.empty())
            png_write_chunk(w.png, reinterpret_cast<png_const_bytep>(kArchiveChunk), archive.data(), archive.size());
        png_write_chunk(w.png, reinterpret_cast<png_const_bytep>("IEND"), nullptr, 0);
        return true;
    }
    png_set_compression_level(w.png, effort.level);
    png_set_compression_mem_level(w.png, effort.mem_level);
    // image data in chunks of up to 256 KiB, not 8: 12 bytes less per 8 KiB
    png_set_compression_buffer_size(w.png, 256 * 1024);
    rows.resize(static_cast<std::size_t>(img.height));
    for (std::size_t y = 0; y < rows.size(); ++y)
        rows[y] = const_cast<png_bytep>(pixels + y * stride);
    png_write_image(w.png, rows.data());
    if (late && *late) {
        if (!(*late)(late_data, error))
            return false;
        if (!late_data.empty()) {
            png_unknown_chunk chunk{};
            std::memcpy(chunk.name, kArchiveChunk, 5);
            chunk.data = late_data.data();
            chunk.size = late_data.size();
            chunk.location = PNG_AFTER_IDAT;
            png_set_unknown_chunks(w.png, w.info, &chunk, 1);
        }
    }
    png_write_end(w.png, w.info);
    return true;
}

bool encode_any(FILE *f, Bytes *sink, const Image &img, const PngMeta *meta, const LateChunk *late, unsigned threads,
                const Offer *offer, std::string &error)
{
    PngWrite w;
    w.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &w, on_error, on_warning);
    w.info = w.png ? png_create_info_struct(w.png) : nullptr;
    if (!w.info) {
        png_destroy_write_struct(&w.png, nullptr);
        error = "out of memory";
        return false;
    }
    std::vector<png_color> palette;
    std::vector<png_bytep> rows;
    std::vector<uint8_t> rgba;
    Bytes late_data, idat;
    const bool ok = encode(w, f, sink, img, meta, late, threads, offer, late_data, palette, rows, rgba, idat, error);
    png_destroy_write_struct(&w.png, &w.info);
    return ok;
}

} // namespace

bool encode_png(FILE *f, const Image &img, std::string &error)
{
    return encode_any(f, nullptr, img, nullptr, nullptr, 1, nullptr, error);
}

bool encode_png(const Image &img, const PngMeta &meta, Bytes &out, std::string &error, const LateChunk &late,
                unsigned threads, const Offer &offer)
{
    out.clear();
    return encode_any(nullptr, &out, img, &meta, &late, threads, &offer, error);
}

bool write_png(const std::string &path, const Image &img, std::string &error)
{
    OutputFile out(path);
    FILE *f = out.open(error);
    return f && encode_png(f, img, error) && out.commit(error);
}

} // namespace zfconv
