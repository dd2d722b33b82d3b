// PNG output, through libpng.
#include "output_file.h"
#include "png_meta.h"
#include "writers.h"

#include <png.h>

#include <algorithm>
#include <array>
#include <numeric>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <ctime>

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

// Everything libpng may leave with a long jump happens here, on objects
// that live outside this frame.
bool encode(PngWrite &w, FILE *f, Bytes *sink, const Image &img, const PngMeta *meta, const LateChunk *late,
            Bytes &late_data, std::vector<png_color> &palette, std::vector<png_bytep> &rows,
            std::vector<uint8_t> &rgba, std::string &error)
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

bool encode_any(FILE *f, Bytes *sink, const Image &img, const PngMeta *meta, const LateChunk *late,
                std::string &error)
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
    Bytes late_data;
    const bool ok = encode(w, f, sink, img, meta, late, late_data, palette, rows, rgba, error);
    png_destroy_write_struct(&w.png, &w.info);
    return ok;
}

} // namespace

bool encode_png(FILE *f, const Image &img, std::string &error)
{
    return encode_any(f, nullptr, img, nullptr, nullptr, error);
}

bool encode_png(const Image &img, const PngMeta &meta, Bytes &out, std::string &error, const LateChunk &late)
{
    out.clear();
    return encode_any(nullptr, &out, img, &meta, &late, error);
}

bool write_png(const std::string &path, const Image &img, std::string &error)
{
    OutputFile out(path);
    FILE *f = out.open(error);
    return f && encode_png(f, img, error) && out.commit(error);
}

} // namespace zfconv
