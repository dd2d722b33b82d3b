// PNG output, through libpng.
#include "output_file.h"
#include "writers.h"

#include <png.h>

#include <algorithm>
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

// Everything libpng may leave with a long jump happens here, on objects
// that live outside this frame.
bool encode(PngWrite &w, FILE *f, const Image &img, std::vector<png_color> &palette, std::vector<png_bytep> &rows,
            std::vector<uint8_t> &rgba, std::string &error)
{
    if (setjmp(png_jmpbuf(w.png))) {
        error = w.message;
        return false;
    }
    png_init_io(w.png, f);
    const bool holes = img.has_holes();
    const int type = holes                      ? PNG_COLOR_TYPE_RGB_ALPHA
                     : img.kind == Kind::palette ? PNG_COLOR_TYPE_PALETTE
                     : img.kind == Kind::grey    ? PNG_COLOR_TYPE_GRAY
                                                 : PNG_COLOR_TYPE_RGB;
    png_set_IHDR(w.png, w.info, static_cast<png_uint_32>(img.width), static_cast<png_uint_32>(img.height), 8, type,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (type == PNG_COLOR_TYPE_PALETTE) {
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
    const uint8_t *pixels = img.pixels.data();
    std::size_t stride = static_cast<std::size_t>(img.width) * static_cast<std::size_t>(img.bytes_per_pixel());
    if (holes) {
        rgba = with_alpha(img);
        pixels = rgba.data();
        stride = static_cast<std::size_t>(img.width) * 4;
    }
    rows.resize(static_cast<std::size_t>(img.height));
    for (std::size_t y = 0; y < rows.size(); ++y)
        rows[y] = const_cast<png_bytep>(pixels + y * stride);
    png_write_image(w.png, rows.data());
    png_write_end(w.png, w.info);
    return true;
}

} // namespace

bool encode_png(FILE *f, const Image &img, std::string &error)
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
    const bool ok = encode(w, f, img, palette, rows, rgba, error);
    png_destroy_write_struct(&w.png, &w.info);
    return ok;
}

bool write_png(const std::string &path, const Image &img, std::string &error)
{
    OutputFile out(path);
    FILE *f = out.open(error);
    return f && encode_png(f, img, error) && out.commit(error);
}

} // namespace zfconv
