// make_conv_seeds DIR - writes small pictures of every format zfconv
// reads, and the companion files the encoder reads, as fuzz seeds.  The
// pictures come from the picture libraries' own writers (and zfconv's).
#include "writers.h"

#include <gif_lib.h>
#include <tiffio.h>

#include <cstdio>
#include <jpeglib.h>

#include <string>

namespace {

using zfconv::Image;
using zfconv::Kind;

Image picture(Kind kind, int w, int h)
{
    Image img;
    std::string error;
    zfconv::allocate(img, w, h, kind, error);
    for (std::size_t i = 0; i < img.pixels.size(); ++i)
        img.pixels[i] = static_cast<uint8_t>((i * 7) % (kind == Kind::palette ? 16 : 256));
    if (kind == Kind::palette)
        for (int i = 0; i < 16; ++i)
            img.palette.insert(img.palette.end(), {uint8_t(i * 16), uint8_t(i * 3), uint8_t(255 - i)});
    return img;
}

void text(const std::string &path, const char *content)
{
    if (FILE *f = std::fopen(path.c_str(), "wb")) {
        std::fputs(content, f);
        std::fclose(f);
    }
}

void gif_seed(const std::string &path, bool interlace)
{
    int err = 0;
    GifFileType *g = EGifOpenFileName(path.c_str(), false, &err);
    if (!g)
        return;
    GifColorType colours[16];
    for (int i = 0; i < 16; ++i)
        colours[i] = GifColorType{uint8_t(i * 16), uint8_t(i), uint8_t(255 - i)};
    ColorMapObject *map = GifMakeMapObject(16, colours);
    EGifPutScreenDesc(g, 9, 5, 4, 0, map);
    EGifPutImageDesc(g, 0, 0, 9, 5, interlace, nullptr);
    GifPixelType row[9];
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 9; ++x)
            row[x] = static_cast<GifPixelType>((x + y) % 16);
        EGifPutLine(g, row, 9);
    }
    GifFreeMapObject(map);
    EGifCloseFile(g, &err);
}

void tiff_seed(const std::string &path, const Image &img, uint16_t photometric, uint16_t compression)
{
    TIFF *t = TIFFOpen(path.c_str(), "w");
    if (!t)
        return;
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, img.width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, img.height);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, img.bytes_per_pixel());
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    uint16_t map[3][256] = {};
    if (photometric == PHOTOMETRIC_PALETTE)
        TIFFSetField(t, TIFFTAG_COLORMAP, map[0], map[1], map[2]);
    const auto stride = static_cast<std::size_t>(img.width * img.bytes_per_pixel());
    for (int y = 0; y < img.height; ++y)
        TIFFWriteScanline(t, const_cast<uint8_t *>(img.pixels.data()) + stride * static_cast<std::size_t>(y),
                          static_cast<uint32_t>(y), 0);
    TIFFClose(t);
}

void jpeg_seed(const std::string &path, const Image &img, bool progressive)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        return;
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
    if (progressive)
        jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    const auto stride = static_cast<std::size_t>(img.width * img.bytes_per_pixel());
    for (int y = 0; y < img.height; ++y) {
        JSAMPROW row = const_cast<JSAMPROW>(img.pixels.data() + stride * static_cast<std::size_t>(y));
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(f);
}

// BMP files laid out by hand: 8 bits with a palette, RLE8, 24 bits.
void bmp_seed(const std::string &path, int bits, int compression, const std::vector<uint8_t> &pixels, int w, int h)
{
    std::vector<uint8_t> b;
    auto u16 = [&](uint32_t v) { b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)}); };
    auto u32 = [&](uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
    const uint32_t colours = bits <= 8 ? 1u << bits : 0;
    const uint32_t offset = 54 + 4 * colours;
    b.insert(b.end(), {'B', 'M'});
    u32(offset + static_cast<uint32_t>(pixels.size())), u32(0), u32(offset);
    u32(40), u32(static_cast<uint32_t>(w)), u32(static_cast<uint32_t>(h)), u16(1), u16(static_cast<uint32_t>(bits));
    u32(static_cast<uint32_t>(compression)), u32(static_cast<uint32_t>(pixels.size())), u32(0), u32(0), u32(colours), u32(0);
    for (uint32_t i = 0; i < colours; ++i)
        u32(i * 0x010101u);
    b.insert(b.end(), pixels.begin(), pixels.end());
    if (FILE *f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(b.data(), 1, b.size(), f);
        std::fclose(f);
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_conv_seeds DIR\n");
        return 2;
    }
    const std::string dir = std::string(argv[1]) + "/";
    std::string error;
    const Image pal = picture(Kind::palette, 9, 5), grey = picture(Kind::grey, 9, 5), rgb = picture(Kind::rgb, 9, 5);
    zfconv::write_png(dir + "pal.png", pal, error);
    zfconv::write_png(dir + "grey.png", grey, error);
    zfconv::write_png(dir + "rgb.png", rgb, error);
    zfconv::write_djp(dir + "pal.DJP", pal, error);
    zfconv::write_djp(dir + "rgb.DJP", rgb, error);
    gif_seed(dir + "a.gif", false);
    gif_seed(dir + "i.gif", true);
    tiff_seed(dir + "rgb.tif", rgb, PHOTOMETRIC_RGB, COMPRESSION_LZW);
    tiff_seed(dir + "grey.tif", grey, PHOTOMETRIC_MINISBLACK, COMPRESSION_PACKBITS);
    tiff_seed(dir + "pal.tif", pal, PHOTOMETRIC_PALETTE, COMPRESSION_NONE);
    jpeg_seed(dir + "rgb.jpg", rgb, false);
    jpeg_seed(dir + "grey.jpg", grey, true);
    bmp_seed(dir + "pal.bmp", 8, 0, std::vector<uint8_t>(12 * 5, 3), 9, 5);
    bmp_seed(dir + "rle.bmp", 8, 1, {2, 5, 0, 3, 1, 2, 3, 0, 0, 0, 0, 2, 1, 0, 1, 7, 0, 1}, 4, 2);
    bmp_seed(dir + "rgb.bmp", 24, 0, std::vector<uint8_t>(28 * 5, 9), 9, 5);
    text(dir + "a.FAL", "F_ALL(V1.00)\n    9     5     0     0\n   1.00   255   255   255   0\n");
    text(dir + "a.IPR", "9 5 0 0\n");
    text(dir + "a.GLM", "GR65\0\0\0\0\0\0\0\0\0\x09\0\x05");
    return 0;
}
