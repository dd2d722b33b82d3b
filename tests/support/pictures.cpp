#include "pictures.h"

#include <gif_lib.h>
#include <png.h>
#include <tiffio.h>

#include <cstdio>
#include <jpeglib.h>

namespace zt {

using zfconv::Bytes;

Picture test_picture(Kind kind, int w, int h, int colours)
{
    Picture img;
    img.width = w;
    img.height = h;
    img.kind = kind;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const auto i = static_cast<uint8_t>((x * 3 + y) % colours);
            if (kind == Kind::rgb)
                img.pixels.insert(img.pixels.end(), {uint8_t(x * 5), uint8_t(y * 9), uint8_t(x + y)});
            else
                img.pixels.push_back(kind == Kind::grey ? uint8_t(i * 13) : i);
        }
    for (int i = 0; kind == Kind::palette && i < colours; ++i)
        img.palette.insert(img.palette.end(), {uint8_t(i * 16), uint8_t(255 - i * 8), uint8_t(i * 5 + 7)});
    return img;
}

bool write_gif(const std::string &path, const std::vector<Picture> &frames, bool interlace, int transparent)
{
    int err = 0;
    GifFileType *gif = EGifOpenFileName(path.c_str(), false, &err);
    if (!gif)
        return false;
    const Picture &first = frames.at(0);
    std::vector<GifColorType> c(256);
    for (size_t i = 0; i < first.palette.size() / 3; ++i)
        c[i] = GifColorType{first.palette[3 * i], first.palette[3 * i + 1], first.palette[3 * i + 2]};
    ColorMapObject *map = GifMakeMapObject(256, c.data());
    const bool animated = frames.size() > 1;
    if (animated)
        EGifSetGifVersion(gif, true);
    bool ok = EGifPutScreenDesc(gif, first.width, first.height, 8, 0, map) == GIF_OK;
    // interlaced rows go out in four passes: every 8th from 0 and from 4,
    // every 4th from 2, every 2nd from 1
    const int starts[] = {0, 4, 2, 1}, steps[] = {8, 8, 4, 2};
    for (const Picture &f : frames) {
        if (animated) {
            GraphicsControlBlock gcb{DISPOSAL_UNSPECIFIED, false, 10, transparent};
            GifByteType ext[4];
            EGifGCBToExtension(&gcb, ext);
            ok = ok && EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, ext) == GIF_OK;
        }
        ok = ok && EGifPutImageDesc(gif, 0, 0, f.width, f.height, interlace, nullptr) == GIF_OK;
        for (int pass = 0; pass < (interlace ? 4 : 1); ++pass)
            for (int y = interlace ? starts[pass] : 0; ok && y < f.height; y += interlace ? steps[pass] : 1)
                ok = EGifPutLine(gif, const_cast<GifPixelType *>(&f.pixels[static_cast<size_t>(y * f.width)]), f.width) == GIF_OK;
    }
    GifFreeMapObject(map);
    return EGifCloseFile(gif, &err) == GIF_OK && ok;
}

bool write_png(const std::string &path, const Picture &img, int bits, const Bytes &trns)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    const bool rgb = img.kind == Kind::rgb, alpha = !img.alpha.empty();
    png_set_IHDR(png, info, static_cast<png_uint_32>(img.width), static_cast<png_uint_32>(img.height), rgb && !alpha ? 16 : bits,
                 img.kind == Kind::palette ? PNG_COLOR_TYPE_PALETTE : rgb ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_GRAY,
                 PNG_INTERLACE_ADAM7, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> pal;
    for (size_t i = 0; i + 2 < img.palette.size(); i += 3)
        pal.push_back(png_color{img.palette[i], img.palette[i + 1], img.palette[i + 2]});
    if (!pal.empty())
        png_set_PLTE(png, info, pal.data(), static_cast<int>(pal.size()));
    if (!trns.empty())
        png_set_tRNS(png, info, trns.data(), static_cast<int>(trns.size()), nullptr);
    png_write_info(png, info);
    if (bits < 8)
        png_set_packing(png);
    std::vector<Bytes> rows(static_cast<size_t>(img.height));
    std::vector<png_bytep> ptrs;
    for (int y = 0; y < img.height; ++y) {
        Bytes &r = rows[static_cast<size_t>(y)];
        for (int x = 0; x < img.width; ++x) {
            const size_t p = static_cast<size_t>(y * img.width + x);
            if (!rgb)
                r.push_back(img.pixels[p]);
            if (rgb && alpha)
                r.insert(r.end(), {img.pixels[3 * p], img.pixels[3 * p + 1], img.pixels[3 * p + 2], img.alpha[p]});
            for (size_t c = 0; rgb && !alpha && c < 4; ++c)
                r.insert(r.end(), {c < 3 ? img.pixels[3 * p + c] : uint8_t(x), uint8_t(y * 7 + x)});
        }
        ptrs.push_back(r.data());
    }
    png_write_image(png, ptrs.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0;
}

bool write_tiff(const std::string &path, const Picture &img, bool associated)
{
    TIFF *t = TIFFOpen(path.c_str(), "w");
    if (!t)
        return false;
    const bool alpha = !img.alpha.empty();
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, img.width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, img.height);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, img.bytes_per_pixel() + (alpha ? 1 : 0));
    if (alpha) {
        uint16_t kind[1] = {static_cast<uint16_t>(associated ? EXTRASAMPLE_ASSOCALPHA : EXTRASAMPLE_UNASSALPHA)};
        TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, kind);
    }
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 3);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, img.kind == Kind::palette ? PHOTOMETRIC_PALETTE
                                         : img.kind == Kind::grey  ? PHOTOMETRIC_MINISBLACK
                                                                   : PHOTOMETRIC_RGB);
    std::vector<uint16_t> map[3] = {std::vector<uint16_t>(256), std::vector<uint16_t>(256), std::vector<uint16_t>(256)};
    for (size_t i = 0; i < img.palette.size(); ++i)
        map[i % 3][i / 3] = static_cast<uint16_t>(img.palette[i] * 257);
    if (img.kind == Kind::palette)
        TIFFSetField(t, TIFFTAG_COLORMAP, map[0].data(), map[1].data(), map[2].data());
    const size_t bpp = static_cast<size_t>(img.bytes_per_pixel());
    const size_t stride = static_cast<size_t>(img.width) * bpp;
    bool ok = true;
    Bytes row;
    for (int y = 0; ok && y < img.height; ++y) {
        const uint8_t *in = img.pixels.data() + stride * static_cast<size_t>(y);
        row.assign(in, in + stride);
        if (alpha) {
            row.clear();
            for (size_t x = 0; x < static_cast<size_t>(img.width); ++x) {
                const unsigned a = img.alpha[static_cast<size_t>(y * img.width) + x];
                for (size_t k = 0; k < bpp; ++k)
                    row.push_back(associated ? static_cast<uint8_t>((in[x * bpp + k] * a + 127) / 255) : in[x * bpp + k]);
                row.push_back(static_cast<uint8_t>(a));
            }
        }
        ok = TIFFWriteScanline(t, row.data(), static_cast<uint32_t>(y), 0) == 1;
    }
    TIFFClose(t);
    return ok;
}

bool write_jpeg(const std::string &path, const Picture &img, int orientation)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = static_cast<JDIMENSION>(img.width);
    c.image_height = static_cast<JDIMENSION>(img.height);
    c.input_components = img.bytes_per_pixel();
    c.in_color_space = img.kind == Kind::grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 100, TRUE);
    jpeg_start_compress(&c, TRUE);
    if (orientation != 0) {
        // EXIF: a big-endian TIFF header and a first directory of one entry
        const uint8_t exif[] = {'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1, 0x01, 0x12, 0, 3, 0, 0, 0, 1,
                                0, static_cast<uint8_t>(orientation), 0, 0, 0, 0, 0, 0};
        jpeg_write_marker(&c, JPEG_APP0 + 1, exif, sizeof exif);
    }
    const size_t stride = static_cast<size_t>(img.width * img.bytes_per_pixel());
    for (int y = 0; y < img.height; ++y) {
        JSAMPROW row = const_cast<JSAMPROW>(img.pixels.data() + stride * static_cast<size_t>(y));
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    return std::fclose(f) == 0;
}

Bytes Bmp::file() const
{
    Bytes b;
    auto u16 = [&](uint32_t v) { b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)}); };
    auto u32 = [&](uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
    const bool core = header == 12;
    const size_t entry = core ? 3 : 4, extra = header == 40 ? masks.size() * 4 : 0;
    const auto offset = static_cast<uint32_t>(14 + static_cast<size_t>(header) + extra + palette.size() / 3 * entry);
    b.insert(b.end(), {'B', 'M'});
    u32(offset + static_cast<uint32_t>(pixels.size())), u32(0), u32(offset), u32(static_cast<uint32_t>(header));
    if (core) {
        u16(static_cast<uint32_t>(width)), u16(static_cast<uint32_t>(height)), u16(1), u16(static_cast<uint32_t>(bits));
    } else {
        u32(static_cast<uint32_t>(width)), u32(static_cast<uint32_t>(height)), u16(1), u16(static_cast<uint32_t>(bits));
        u32(compression), u32(static_cast<uint32_t>(pixels.size())), u32(2835), u32(2835), u32(colours), u32(0);
        for (size_t k = 0; header > 40 && k < static_cast<size_t>(header - 40) / 4; ++k)
            u32(k < masks.size() ? masks[k] : 0);
        for (size_t k = 0; header == 40 && k < masks.size(); ++k)
            u32(masks[k]);
    }
    for (size_t i = 0; i + 2 < palette.size(); i += 3) {
        b.insert(b.end(), {palette[i + 2], palette[i + 1], palette[i]});
        if (!core)
            b.push_back(0);
    }
    b.insert(b.end(), pixels.begin(), pixels.end());
    return b;
}

Bytes bmp_of(const Picture &img, int bits)
{
    Bmp b{40, img.width, img.height, bits};
    if (bits <= 8) {
        b.colours = 1u << bits;
        b.palette = img.palette;
        b.palette.resize(3u << bits, 0);
    }
    const int stride = ((img.width * bits + 31) / 32) * 4;
    for (int y = img.height - 1; y >= 0; --y) {
        Bytes row(static_cast<size_t>(stride));
        for (int x = 0; x < img.width; ++x) {
            const size_t p = static_cast<size_t>(y * img.width + x);
            for (size_t c = 0; bits == 24 && c < 3; ++c)
                row[static_cast<size_t>(3 * x) + c] = img.pixels[3 * p + 2 - c]; // B, G, R
            if (bits <= 8)
                row[static_cast<size_t>(x * bits / 8)] |= static_cast<uint8_t>(img.pixels[p] << (8 - bits - x * bits % 8));
        }
        b.pixels.insert(b.pixels.end(), row.begin(), row.end());
    }
    return b.file();
}

Bytes djp_file(int w, int h, int type, const Bytes &data)
{
    Bytes b = {'D', 'J', '5', '0', '5', 'J', uint8_t(w), uint8_t(w >> 8), uint8_t(h), uint8_t(h >> 8), uint8_t(type), 0};
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

std::string fal_text(int w, int h, int x, int y)
{
    char text[128];
    std::snprintf(text, sizeof text, "F_ALL(V1.00)\n%5d%6d%6d%6d\n   1.00   255   255   255   0\n", w, h, x, y);
    return text;
}

uint32_t colour_at(const Picture &img, int x, int y)
{
    const size_t p = static_cast<size_t>(y * img.width + x);
    if (img.kind == Kind::grey)
        return img.pixels[p] * 0x010101u;
    const uint8_t *c = img.kind == Kind::rgb ? &img.pixels[3 * p] : &img.palette[3u * img.pixels[p]];
    return uint32_t{c[0]} << 16 | uint32_t{c[1]} << 8 | c[2];
}

} // namespace zt
