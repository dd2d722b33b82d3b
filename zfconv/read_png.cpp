// PNG: palette pictures keep their palette (indices unpacked to bytes),
// grey stays grey, everything else becomes 8-bit RGB; alpha and tRNS are
// handed on for settle_alpha() (and fully transparent pixels kept as the
// mask, for the reader with metadata) and 16-bit samples are reduced to 8,
// which is said unless each one was an 8-bit value widened.
#include "memory_source.h"
#include "png_meta.h"
#include "readers.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace zfconv {
namespace {

// tEXt and zTXt chunks hold Latin-1.
std::string latin1_to_utf8(std::string_view latin1)
{
    std::string out;
    for (const char c : latin1) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | b >> 6);
            out += static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    return out;
}

struct PngRead {
    png_structp png = nullptr;
    png_infop info = nullptr;
    MemorySource src{nullptr, 0};
    char message[200] = "";
};

void on_error(png_structp png, png_const_charp text)
{
    auto *r = static_cast<PngRead *>(png_get_error_ptr(png));
    std::snprintf(r->message, sizeof r->message, "%s", text ? text : "damaged PNG data");
    png_longjmp(png, 1);
}

void on_warning(png_structp, png_const_charp) {}

void on_read(png_structp png, png_bytep out, png_size_t n)
{
    auto *r = static_cast<PngRead *>(png_get_io_ptr(png));
    if (r->src.read(out, n) != n)
        png_error(png, "the PNG file ends early");
}

void split_alpha(const Bytes &in, std::size_t channels, Image &img, bool keep_mask);
bool narrow_16(Bytes &wide);

// Whether every chunk fits in the file.  libpng allocates a text chunk's
// whole length before reading it, so a few hundred bytes that claim a
// chunk of 2 GB would cost 2 GB: such a file has ended early, and is
// refused before libpng sees it.
bool chunks_fit(const uint8_t *data, std::size_t size)
{
    std::size_t at = 8; // the signature
    while (at + 12 <= size) {
        const std::size_t length = std::size_t{data[at]} << 24 | std::size_t{data[at + 1]} << 16 |
                                   std::size_t{data[at + 2]} << 8 | data[at + 3];
        if (length > size - at - 12)
            return false;
        if (std::memcmp(data + at + 4, "IEND", 4) == 0)
            return true;
        at += 12 + length;
    }
    return true; // the end is libpng's to judge
}

// Everything that libpng may leave with a long jump happens here, on
// objects that live outside this frame.
bool decode(PngRead &r, Image &img, std::vector<png_bytep> &rows, Bytes &with_alpha, bool keep_alpha,
            std::string &error)
{
    if (setjmp(png_jmpbuf(r.png))) {
        error = r.message;
        return false;
    }
    if (!chunks_fit(r.src.data, r.src.size)) {
        error = "the PNG file ends early: a chunk claims more than the file holds";
        return false;
    }
    png_set_read_fn(r.png, &r, on_read);
    png_set_user_limits(r.png, 0x7FFFFFFF, 0x7FFFFFFF);
    // no chunk is larger than the file; decompressed text may be
    png_set_chunk_malloc_max(r.png, std::max<png_alloc_size_t>(64u << 20, r.src.size));
    if (keep_alpha) {
        const png_byte name[5] = {'z', 'f', 'A', 'c', 0};
        png_set_keep_unknown_chunks(r.png, PNG_HANDLE_CHUNK_ALWAYS, name, 1);
    }
    png_read_info(r.png, r.info);
    png_uint_32 w = 0, h = 0;
    int depth = 0, colour = 0, interlace = 0;
    png_get_IHDR(r.png, r.info, &w, &h, &depth, &colour, &interlace, nullptr, nullptr);

    Kind kind = Kind::rgb;
    if (colour == PNG_COLOR_TYPE_PALETTE) {
        kind = Kind::palette;
        png_set_packing(r.png);
    } else if ((colour & PNG_COLOR_MASK_COLOR) == 0) {
        kind = Kind::grey;
        if (depth < 8)
            png_set_expand_gray_1_2_4_to_8(r.png);
    }
    png_bytep entry_alpha = nullptr;
    int entries_with_alpha = 0;
    png_color_16p trans_colour = nullptr;
    const bool trns = png_get_tRNS(r.png, r.info, &entry_alpha, &entries_with_alpha, &trans_colour) != 0;
    if (trns && kind != Kind::palette)
        png_set_tRNS_to_alpha(r.png); // one colour marked transparent: an alpha channel
    const bool alpha = (colour & PNG_COLOR_MASK_ALPHA) != 0 || (trns && kind != Kind::palette);
    if (depth == 16)
        png_set_swap(r.png); // each sample's bytes low first, see narrow_16
    png_set_interlace_handling(r.png);
    png_read_update_info(r.png, r.info);

    if (!allocate(img, w, h, kind, error))
        return false;
    const std::size_t channels = static_cast<std::size_t>(img.bytes_per_pixel()) + (alpha ? 1 : 0);
    const std::size_t sample = depth == 16 ? 2 : 1;
    const std::size_t stride = static_cast<std::size_t>(img.width) * channels * sample;
    if (png_get_rowbytes(r.png, r.info) != stride) {
        error = "unexpected PNG row layout";
        return false;
    }
    if (kind == Kind::palette) {
        png_colorp pal = nullptr;
        int n = 0;
        if (png_get_PLTE(r.png, r.info, &pal, &n) != PNG_INFO_PLTE || n <= 0) {
            error = "the PNG palette picture has no palette";
            return false;
        }
        for (int i = 0; i < n && i < 256; ++i)
            img.palette.insert(img.palette.end(), {pal[i].red, pal[i].green, pal[i].blue});
        if (trns && entry_alpha && entries_with_alpha > 0) {
            img.palette_alpha.assign(static_cast<std::size_t>(std::min(n, 256)), 255);
            for (int i = 0; i < entries_with_alpha && i < n && i < 256; ++i)
                img.palette_alpha[static_cast<std::size_t>(i)] = entry_alpha[i];
        }
    }
    uint8_t *target = img.pixels.data();
    if (alpha || sample == 2) {
        with_alpha.resize(stride * static_cast<std::size_t>(img.height));
        target = with_alpha.data();
    }
    rows.resize(static_cast<std::size_t>(img.height));
    for (std::size_t y = 0; y < rows.size(); ++y)
        rows[y] = target + y * stride;
    png_read_image(r.png, rows.data());
    if (sample == 2 && narrow_16(with_alpha))
        img.dropped.emplace_back("16-bit samples, reduced to 8 bits");
    if (alpha)
        split_alpha(with_alpha, channels, img, keep_alpha);
    else if (sample == 2)
        std::copy_n(with_alpha.begin(), img.pixels.size(), img.pixels.begin());
    with_alpha = Bytes{};
    return true;
}

// 16-bit samples (low byte first) to their high bytes, in place; whether
// any low byte differed from its high one (a value that was no 8-bit one
// widened, v * 257).
bool narrow_16(Bytes &wide)
{
    bool lost = false;
    const std::size_t n = wide.size() / 2;
    for (std::size_t i = 0; i < n; ++i) {
        lost = lost || wide[2 * i] != wide[2 * i + 1];
        wide[i] = wide[2 * i + 1];
    }
    wide.resize(n);
    return lost;
}

// Colour to the pixels, alpha to the alpha plane (kept only when some
// pixel is not opaque) and, for `keep_mask`, fully transparent pixels to
// the mask.
void split_alpha(const Bytes &in, std::size_t channels, Image &img, bool keep_mask)
{
    const std::size_t n = img.pixels.size() / (channels - 1);
    img.alpha.resize(n);
    img.mask.assign(keep_mask ? n : 0, 1);
    bool holes = false, see_through = false;
    for (std::size_t i = 0; i < n; ++i) {
        std::copy_n(&in[i * channels], channels - 1, &img.pixels[i * (channels - 1)]);
        const uint8_t a = in[i * channels + channels - 1];
        img.alpha[i] = a;
        see_through = see_through || a < 255;
        if (a == 0 && keep_mask) {
            img.mask[i] = 0;
            holes = true;
        }
    }
    if (!holes)
        img.mask.clear();
    if (!see_through)
        img.alpha.clear();
}

// The chunks after the image data.  Damage there costs only what it holds:
// the pixels are already read.
void read_tail(PngRead &r)
{
    if (setjmp(png_jmpbuf(r.png)))
        return;
    png_read_end(r.png, r.info);
}

void take_meta(PngRead &r, PngMeta &meta)
{
    png_textp texts = nullptr;
    int n = 0;
    png_get_text(r.png, r.info, &texts, &n);
    for (int i = 0; i < n; ++i) {
        const png_text &t = texts[i];
        const bool itxt = t.compression == PNG_ITXT_COMPRESSION_NONE || t.compression == PNG_ITXT_COMPRESSION_zTXt;
        const std::string_view body(t.text ? t.text : "", t.text ? (itxt ? t.itxt_length : t.text_length) : 0);
        meta.texts.push_back(PngText{t.key ? t.key : "", itxt ? std::string(body) : latin1_to_utf8(body)});
    }
    png_uint_32 px = 0, py = 0;
    int unit = 0;
    if (png_get_pHYs(r.png, r.info, &px, &py, &unit) == PNG_INFO_pHYs) {
        meta.has_phys = true;
        meta.ppu_x = px;
        meta.ppu_y = py;
        meta.phys_unit = unit == PNG_RESOLUTION_METER ? 1 : 0;
    }
    png_timep when = nullptr;
    if (png_get_tIME(r.png, r.info, &when) == PNG_INFO_tIME && when) {
        std::tm tm{};
        tm.tm_year = when->year - 1900;
        tm.tm_mon = when->month - 1;
        tm.tm_mday = when->day;
        tm.tm_hour = when->hour;
        tm.tm_min = when->minute;
        tm.tm_sec = when->second;
        meta.has_time = true;
        meta.time = static_cast<int64_t>(timegm(&tm));
    }
    png_unknown_chunkp chunks = nullptr;
    const int count = png_get_unknown_chunks(r.png, r.info, &chunks);
    for (int i = 0; i < count; ++i)
        if (std::memcmp(chunks[i].name, kArchiveChunk, 4) == 0 && chunks[i].data &&
            ++meta.archive_chunks == 1)
            meta.archive.assign(chunks[i].data, chunks[i].data + chunks[i].size);
}

bool read_any(const uint8_t *data, std::size_t size, Image &img, PngMeta *meta, std::string &error)
{
    PngRead r;
    r.src = MemorySource{data, size};
    r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &r, on_error, on_warning);
    if (!r.png) {
        error = "out of memory";
        return false;
    }
    r.info = png_create_info_struct(r.png);
    if (!r.info) {
        png_destroy_read_struct(&r.png, nullptr, nullptr);
        error = "out of memory";
        return false;
    }
    std::vector<png_bytep> rows;
    Bytes with_alpha;
    bool ok = decode(r, img, rows, with_alpha, meta != nullptr, error);
    if (ok && meta) {
        read_tail(r);
        take_meta(r, *meta);
    }
    png_destroy_read_struct(&r.png, &r.info, nullptr);
    return ok;
}

} // namespace

bool read_png(const uint8_t *data, std::size_t size, Image &img, std::string &error)
{
    return read_any(data, size, img, nullptr, error);
}

bool read_png(const uint8_t *data, std::size_t size, Image &img, PngMeta &meta, std::string &error)
{
    meta = PngMeta{};
    return read_any(data, size, img, &meta, error);
}

const std::string *PngMeta::text(const std::string &key) const
{
    for (const PngText &t : texts)
        if (t.key == key)
            return &t.text;
    return nullptr;
}

} // namespace zfconv
