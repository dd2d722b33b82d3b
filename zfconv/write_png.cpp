// PNG output.  libpng offers no way to hand its rows to another deflate,
// so the file is framed here, chunk by chunk as the PNG format
// lays them out (signature, IHDR, PLTE, pHYs, tIME, iTXt, IDAT, the
// private chunk, IEND), with the same row filters libpng chooses by
// default; the image data is compressed by libdeflate or zlib, whichever
// does better for the kind of picture, and every CRC is libdeflate's.
// The tests and the fuzz targets read every PNG written back through
// libpng.
#include "output_file.h"
#include "png_meta.h"
#include "writers.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <numeric>

namespace zfconv {
namespace {

struct Rgb {
    uint8_t r, g, b;
};

// ---- framing ---------------------------------------------------------------

void put32(Bytes &out, uint32_t v)
{
    const uint8_t b[4] = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
                          static_cast<uint8_t>(v)};
    out.insert(out.end(), b, b + 4);
}

// One chunk: length, type, data, and the CRC of type and data.
void put_chunk(Bytes &out, const char type[5], const uint8_t *data, std::size_t n)
{
    put32(out, static_cast<uint32_t>(n));
    const std::size_t at = out.size();
    out.insert(out.end(), type, type + 4);
    if (n)
        out.insert(out.end(), data, data + n);
    put32(out, libdeflate_crc32(0, &out[at], n + 4));
}
void put_chunk(Bytes &out, const char type[5], const Bytes &data) { put_chunk(out, type, data.data(), data.size()); }

struct Compressor {
    libdeflate_compressor *c;
    explicit Compressor(int level) : c(libdeflate_alloc_compressor(level)) {}
    ~Compressor() { libdeflate_free_compressor(c); }
    Compressor(const Compressor &) = delete;
    Compressor &operator=(const Compressor &) = delete;
};

// `n` bytes as one zlib stream appended to `out`; false when out of memory.
bool append_zlib(Bytes &out, const uint8_t *data, std::size_t n, int level)
{
    Compressor z(level);
    if (!z.c)
        return false;
    const std::size_t at = out.size();
    out.resize(at + libdeflate_zlib_compress_bound(z.c, n));
    const std::size_t made = libdeflate_zlib_compress(z.c, data, n, &out[at], out.size() - at);
    out.resize(at + made);
    return made != 0;
}

// Long texts go compressed; short ones stay readable to any tool.
constexpr std::size_t kCompressAbove = 512;

// A keyword as PNG allows: 1 to 79 Latin-1 letters, spaces inside only.
bool valid_keyword(const std::string &k)
{
    if (k.empty() || k.size() > 79 || k.front() == ' ' || k.back() == ' ')
        return false;
    for (unsigned char c : k)
        if (c < 32 || (c > 126 && c < 161))
            return false;
    return true;
}

// iTXt: keyword, compression flag and method, no language, no translated
// keyword, the UTF-8 text (zlib-compressed when long).
bool put_text(Bytes &out, Bytes &body, const PngText &t)
{
    if (!valid_keyword(t.key))
        return true;
    const bool packed = t.text.size() > kCompressAbove;
    body.assign(t.key.begin(), t.key.end());
    const uint8_t fields[] = {0, packed ? uint8_t{1} : uint8_t{0}, 0, 0, 0};
    body.insert(body.end(), fields, fields + sizeof fields);
    const auto *text = reinterpret_cast<const uint8_t *>(t.text.data());
    if (packed) {
        if (!append_zlib(body, text, t.text.size(), 9))
            return false;
    } else {
        body.insert(body.end(), text, text + t.text.size());
    }
    put_chunk(out, "iTXt", body);
    return true;
}

// The chunks of `meta` that go before the image data.
bool put_meta(Bytes &out, const PngMeta &meta)
{
    Bytes body;
    if (meta.has_phys) {
        body.clear();
        put32(body, meta.ppu_x);
        put32(body, meta.ppu_y);
        body.push_back(meta.phys_unit == 1 ? 1 : 0);
        put_chunk(out, "pHYs", body);
    }
    if (meta.has_time) {
        const auto t = static_cast<std::time_t>(meta.time);
        std::tm tm{};
        // years PNG's two bytes hold
        if (gmtime_r(&t, &tm) && tm.tm_year + 1900 >= 0 && tm.tm_year + 1900 <= 65535) {
            const int year = tm.tm_year + 1900;
            const uint8_t b[7] = {static_cast<uint8_t>(year >> 8), static_cast<uint8_t>(year),
                                  static_cast<uint8_t>(tm.tm_mon + 1), static_cast<uint8_t>(tm.tm_mday),
                                  static_cast<uint8_t>(tm.tm_hour), static_cast<uint8_t>(tm.tm_min),
                                  static_cast<uint8_t>(std::min(tm.tm_sec, 60))};
            put_chunk(out, "tIME", b, sizeof b);
        }
    }
    for (const PngText &t : meta.texts)
        if (!put_text(out, body, t))
            return false;
    return true;
}

// ---- rows --------------------------------------------------------------------

// How far a filtered row is from zero, as libpng judges it: each byte
// taken as signed, |v| being the lesser of v and -v as bytes.  Summed in
// pieces whose total fits 32 bits.
inline __attribute__((always_inline)) uint64_t weight(const uint8_t *__restrict row, std::size_t n)
{
    uint64_t sum = 0;
    for (std::size_t at = 0; at < n; at += 1u << 20) {
        const std::size_t end = std::min(n, at + (std::size_t{1} << 20));
        uint32_t part = 0;
        for (std::size_t i = at; i < end; ++i) {
            const uint8_t v = row[i], minus = static_cast<uint8_t>(-v);
            part += v < minus ? v : minus;
        }
        sum += part;
    }
    return sum;
}

// The four filters of a row after the first pixel, each loop plain enough
// for the compiler to run on vectors.
inline __attribute__((always_inline)) void filters_after_first(const uint8_t *__restrict row, const uint8_t *__restrict prev, std::size_t n,
                         std::size_t bpp, uint8_t *__restrict sub, uint8_t *__restrict up, uint8_t *__restrict avg,
                         uint8_t *__restrict pae)
{
    for (std::size_t i = bpp; i < n; ++i)
        sub[i] = static_cast<uint8_t>(row[i] - row[i - bpp]);
    for (std::size_t i = bpp; i < n; ++i)
        up[i] = static_cast<uint8_t>(row[i] - prev[i]);
    for (std::size_t i = bpp; i < n; ++i)
        avg[i] = static_cast<uint8_t>(row[i] - ((row[i - bpp] + prev[i]) >> 1));
    for (std::size_t i = bpp; i < n; ++i) {
        const int a = row[i - bpp], b = prev[i], c = prev[i - bpp];
        const int pa = b > c ? b - c : c - b;
        const int pb = a > c ? a - c : c - a;
        const int pc = a + b > 2 * c ? a + b - 2 * c : 2 * c - a - b;
        const int pred = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
        pae[i] = static_cast<uint8_t>(row[i] - pred);
    }
}

// Every row with the filter of the least weight before it (libpng's
// default choice); `prev` is null for the first row.  `out` receives the
// filter byte and the row, `scratch` holds 4 * n bytes.  Also built for
// processors with 32-byte vectors (x86-64-v3), chosen when the program
// starts (not under ThreadSanitizer, whose runtime is not ready then).
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__linux__) && \
    !defined(__SANITIZE_THREAD__)
__attribute__((target_clones("arch=x86-64-v3", "default")))
#endif
void filter_row(const uint8_t *row, const uint8_t *prev, std::size_t n, std::size_t bpp, uint8_t *out,
                uint8_t *scratch)
{
    uint8_t *sub = scratch, *up = scratch + n, *avg = scratch + 2 * n, *pae = scratch + 3 * n;
    for (std::size_t i = 0; i < bpp && i < n; ++i) {
        const int b = prev ? prev[i] : 0;
        sub[i] = row[i];
        up[i] = static_cast<uint8_t>(row[i] - b);
        avg[i] = static_cast<uint8_t>(row[i] - (b >> 1));
        pae[i] = static_cast<uint8_t>(row[i] - b); // the predictor of the first pixel is the one above
    }
    if (prev) {
        filters_after_first(row, prev, n, bpp, sub, up, avg, pae);
    } else {
        for (std::size_t i = bpp; i < n; ++i) {
            sub[i] = static_cast<uint8_t>(row[i] - row[i - bpp]);
            up[i] = row[i];
            avg[i] = static_cast<uint8_t>(row[i] - (row[i - bpp] >> 1));
            pae[i] = sub[i]; // with nothing above, the predictor is the left pixel
        }
    }
    const uint8_t *pick = row;
    int type = 0;
    uint64_t best = weight(row, n);
    const uint8_t *candidates[4] = {sub, up, avg, pae};
    for (int k = 0; k < 4; ++k) {
        const uint64_t w = weight(candidates[k], n);
        if (w < best) {
            best = w;
            pick = candidates[k];
            type = k + 1;
        }
    }
    out[0] = static_cast<uint8_t>(type);
    std::memcpy(out + 1, pick, n);
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

// An RGB picture of at most 256 colours as palette indices, one byte a
// pixel, the palette's most frequent colours first; false (and
// nothing kept) for more colours.  An RGB PNG of such a picture is larger
// than a palette one, which pnmtopng writes.  Colours are counted over a
// small open hash table, stopping at the 257th.
bool few_colours(const Image &img, std::vector<Rgb> &palette, std::vector<uint8_t> &indices)
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
            palette.push_back(Rgb{p[0], p[1], p[2]});
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
    std::vector<Rgb> sorted(palette.size());
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

// Rows of one byte a pixel packed to `bits` bits, leftmost pixel in the
// high bits; the rest of a row's last byte is zero.
void pack_row(const uint8_t *row, std::size_t w, int bits, uint8_t *out)
{
    const int per = 8 / bits;
    for (std::size_t x = 0; x < w; x += static_cast<std::size_t>(per)) {
        unsigned byte = 0;
        for (int k = 0; k < per; ++k) {
            const unsigned v = x + static_cast<std::size_t>(k) < w ? row[x + static_cast<std::size_t>(k)] : 0;
            byte |= v << (8 - bits * (k + 1));
        }
        *out++ = static_cast<uint8_t>(byte);
    }
}

// The compression of the image data follows the picture (measured on the
// real pictures of bench/real_pictures.sh against pnmtopng, which has
// libpng's zlib at level 6 with the filtered strategy).  Where at least a
// quarter of the pixels repeat their left neighbour (screens, pixel art),
// libdeflate's level 7 is 1.7% smaller than pnmtopng, which pays for our
// text and private chunks, in well under half the time.  On photographs
// libdeflate at any level up to 9 is 1 to 5% larger than zlib's filtered
// strategy (which codes short matches as literals; libdeflate has no such
// choice): there zlib's level 4 with memLevel 9 and that strategy is as
// small as pnmtopng and about twice as fast.
bool flat(const Image &img, const uint8_t *pixels, std::size_t stride, std::size_t bpp)
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
    return 4 * repeats >= seen;
}
constexpr int kDeflateLevel = 7;

// `n` bytes as one zlib stream by zlib at level 4, with the filtered
// strategy for filtered rows (as libpng chooses it).
bool zlib_level4(Bytes &out, const uint8_t *data, std::size_t n, bool filtered)
{
    z_stream z{};
    if (n > 0xFFFFFFFFu ||
        deflateInit2(&z, 4, Z_DEFLATED, 15, 9, filtered ? Z_FILTERED : Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
    out.resize(deflateBound(&z, static_cast<uLong>(n)));
    z.next_in = const_cast<uint8_t *>(data);
    z.avail_in = static_cast<uInt>(n);
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const bool ok = deflate(&z, Z_FINISH) == Z_STREAM_END;
    out.resize(z.total_out);
    deflateEnd(&z);
    return ok;
}

// The image data: rows filtered (palette and packed rows unfiltered, as
// libpng does) and compressed as one zlib stream.
bool image_data(const Image &img, const uint8_t *pixels, std::size_t stride, std::size_t bpp, int bits, bool filter,
                Bytes &idat)
{
    const std::size_t w = static_cast<std::size_t>(img.width), h = static_cast<std::size_t>(img.height);
    const std::size_t row_bytes = bits < 8 ? (w * static_cast<std::size_t>(bits) + 7) / 8 : w * bpp;
    Bytes rows((row_bytes + 1) * h);
    Bytes scratch(filter ? 4 * row_bytes : 0);
    for (std::size_t y = 0; y < h; ++y) {
        uint8_t *out = &rows[y * (row_bytes + 1)];
        const uint8_t *row = pixels + y * stride;
        if (bits < 8) {
            out[0] = 0;
            pack_row(row, w, bits, out + 1);
        } else if (filter) {
            filter_row(row, y ? row - stride : nullptr, row_bytes, bpp, out, scratch.data());
        } else {
            out[0] = 0;
            std::memcpy(out + 1, row, row_bytes);
        }
    }
    idat.clear();
    if (bits == 8 && !flat(img, pixels, stride, bpp))
        return zlib_level4(idat, rows.data(), rows.size(), filter);
    return append_zlib(idat, rows.data(), rows.size(), kDeflateLevel);
}

// Image data in chunks of up to 256 KiB: 12 bytes of framing each.
void put_idat(Bytes &out, const Bytes &idat)
{
    constexpr std::size_t kMost = 256 * 1024;
    std::size_t at = 0;
    do {
        const std::size_t n = std::min(kMost, idat.size() - at);
        put_chunk(out, "IDAT", idat.data() + at, n);
        at += n;
    } while (at < idat.size());
}

bool encode_any(Bytes &out, const Image &img, const PngMeta *meta, const LateChunk *late, std::string &error)
{
    if (img.width <= 0 || img.height <= 0 || img.width > 0x7FFFFFFF || img.height > 0x7FFFFFFF) {
        error = "a PNG cannot hold a picture of this size";
        return false;
    }
    const bool holes = img.has_holes();
    std::vector<Rgb> palette;
    Bytes converted; // RGBA rows or palette indices, when the picture needs them
    // an RGB picture of few colours goes as a palette picture
    const bool indexed = meta && meta->few_colours_as_palette && !holes && img.kind == Kind::rgb &&
                         few_colours(img, palette, converted);
    enum : uint8_t { kGrey = 0, kRgb = 2, kPalette = 3, kRgba = 6 };
    const uint8_t type = holes                                 ? kRgba
                         : img.kind == Kind::palette || indexed ? kPalette
                         : img.kind == Kind::grey               ? kGrey
                                                                : kRgb;
    const int bits = indexed ? index_bits(palette.size()) : 8;
    if (type == kPalette && !indexed) {
        // every index the pixels use must have an entry
        std::size_t entries = img.palette.size() / 3;
        for (uint8_t p : img.pixels)
            if (p >= entries)
                entries = 256;
        palette.assign(entries, Rgb{0, 0, 0});
        for (std::size_t i = 0; i < img.palette.size() / 3 && i < entries; ++i)
            palette[i] = Rgb{img.palette[3 * i], img.palette[3 * i + 1], img.palette[3 * i + 2]};
    }
    const uint8_t *pixels = img.pixels.data();
    std::size_t bpp = static_cast<std::size_t>(img.bytes_per_pixel());
    if (holes) {
        converted = with_alpha(img);
        pixels = converted.data();
        bpp = 4;
    } else if (indexed) {
        pixels = converted.data();
        bpp = 1;
    }
    const std::size_t stride = static_cast<std::size_t>(img.width) * bpp;
    Bytes idat;
    if (!image_data(img, pixels, stride, bpp, bits, type != kPalette, idat)) {
        error = "out of memory";
        return false;
    }

    static constexpr uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
    out.assign(kSignature, kSignature + 8);
    Bytes body;
    put32(body, static_cast<uint32_t>(img.width));
    put32(body, static_cast<uint32_t>(img.height));
    const uint8_t rest[5] = {static_cast<uint8_t>(bits), type, 0, 0, 0}; // deflate, adaptive filters, no interlace
    body.insert(body.end(), rest, rest + 5);
    put_chunk(out, "IHDR", body);
    if (type == kPalette) {
        body.clear();
        for (const Rgb &c : palette) {
            body.push_back(c.r);
            body.push_back(c.g);
            body.push_back(c.b);
        }
        put_chunk(out, "PLTE", body);
    }
    if (meta && !put_meta(out, *meta)) {
        error = "out of memory";
        return false;
    }
    put_idat(out, idat);
    if (meta && !meta->archive.empty())
        put_chunk(out, kArchiveChunk, meta->archive);
    if (late && *late) {
        Bytes data;
        if (!(*late)(data, error))
            return false;
        if (!data.empty())
            put_chunk(out, kArchiveChunk, data);
    }
    put_chunk(out, "IEND", nullptr, 0);
    return true;
}

} // namespace

bool encode_png(FILE *f, const Image &img, std::string &error)
{
    Bytes out;
    if (!encode_any(out, img, nullptr, nullptr, error))
        return false;
    if (std::fwrite(out.data(), 1, out.size(), f) != out.size()) {
        error = "cannot write the PNG";
        return false;
    }
    return true;
}

bool encode_png(const Image &img, const PngMeta &meta, Bytes &out, std::string &error, const LateChunk &late)
{
    out.clear();
    return encode_any(out, img, &meta, &late, error);
}

bool write_png(const std::string &path, const Image &img, std::string &error)
{
    OutputFile out(path);
    FILE *f = out.open(error);
    return f && encode_png(f, img, error) && out.commit(error);
}

} // namespace zfconv
