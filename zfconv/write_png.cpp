// PNG output, through libpng.
#include "output_file.h"
#include "writers.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>

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

// Everything libpng may leave with a long jump happens here, on objects
// that live outside this frame.
bool encode(PngWrite &w, FILE *f, const Image &img, std::vector<png_color> &palette, std::vector<png_bytep> &rows,
            std::string &error)
{
    if (setjmp(png_jmpbuf(w.png))) {
        error = w.message;
        return false;
    }
    png_init_io(w.png, f);
    const int type = img.kind == Kind::palette ? PNG_COLOR_TYPE_PALETTE
                     : img.kind == Kind::grey  ? PNG_COLOR_TYPE_GRAY
                                               : PNG_COLOR_TYPE_RGB;
    png_set_IHDR(w.png, w.info, static_cast<png_uint_32>(img.width), static_cast<png_uint_32>(img.height), 8, type,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (img.kind == Kind::palette) {
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
    png_write_info(w.png, w.info);
    const std::size_t stride = static_cast<std::size_t>(img.width) * static_cast<std::size_t>(img.bytes_per_pixel());
    rows.resize(static_cast<std::size_t>(img.height));
    for (std::size_t y = 0; y < rows.size(); ++y)
        rows[y] = const_cast<png_bytep>(img.pixels.data() + y * stride);
    png_write_image(w.png, rows.data());
    png_write_end(w.png, w.info);
    return true;
}

} // namespace

bool write_png(const std::string &path, const Image &img, std::string &error)
{
    OutputFile out(path);
    FILE *f = out.open(error);
    if (!f)
        return false;
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
    const bool ok = encode(w, f, img, palette, rows, error);
    png_destroy_write_struct(&w.png, &w.info);
    return ok && out.commit(error);
}

} // namespace zfconv
