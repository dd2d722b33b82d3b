// PNG: palette pictures keep their palette (indices unpacked to bytes),
// grey stays grey, everything else becomes 8-bit RGB; alpha is dropped and
// 16-bit samples are reduced to 8.
#include "memory_source.h"
#include "readers.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>

namespace zfconv {
namespace {

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

// Everything that libpng may leave with a long jump happens here, on
// objects that live outside this frame.
bool decode(PngRead &r, Image &img, std::vector<png_bytep> &rows, std::string &error)
{
    if (setjmp(png_jmpbuf(r.png))) {
        error = r.message;
        return false;
    }
    png_set_read_fn(r.png, &r, on_read);
    png_set_user_limits(r.png, 0x7FFFFFFF, 0x7FFFFFFF);
    png_set_chunk_malloc_max(r.png, 64u << 20);
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
    if (depth == 16)
        png_set_strip_16(r.png);
    if (colour & PNG_COLOR_MASK_ALPHA)
        png_set_strip_alpha(r.png);
    png_set_interlace_handling(r.png);
    png_read_update_info(r.png, r.info);

    if (!allocate(img, w, h, kind, error))
        return false;
    const std::size_t stride = static_cast<std::size_t>(img.width) * static_cast<std::size_t>(img.bytes_per_pixel());
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
    }
    rows.resize(static_cast<std::size_t>(img.height));
    for (std::size_t y = 0; y < rows.size(); ++y)
        rows[y] = img.pixels.data() + y * stride;
    png_read_image(r.png, rows.data());
    return true;
}

} // namespace

bool read_png(const uint8_t *data, std::size_t size, Image &img, std::string &error)
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
    const bool ok = decode(r, img, rows, error);
    png_destroy_read_struct(&r.png, &r.info, nullptr);
    return ok;
}

} // namespace zfconv
