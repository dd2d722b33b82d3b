// zfconv run for real: pictures written by the picture libraries
// themselves (and BMP files laid out here) turned into DJP files through
// the converter form, zfenc on such inputs end to end, and ZEFA, DJP and
// raw files turned into PNG files read back with libpng.
#include "harness.h"
#include "readers.h"
#include "zefa.h"

#include <gif_lib.h>
#include <png.h>
#include <tiffio.h>

#include <cstdio>
#include <jpeglib.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

namespace {

using Bytes = std::vector<uint8_t>;
using zfconv::Image;
using zfconv::Kind;

struct Djp {
    int width = 0, height = 0, type = -1;
    Bytes palette, pixels;
};

Djp read_djp_file(const std::string &path)
{
    Djp d;
    const Bytes b = zt::read_file(path);
    if (b.size() < 12 || std::string(b.begin(), b.begin() + 6) != "DJ505J")
        return d;
    d.width = b[6] | b[7] << 8;
    d.height = b[8] | b[9] << 8;
    d.type = b[10] | b[11] << 8;
    size_t at = 12;
    if (d.type == 0) {
        d.palette.assign(b.begin() + 12, b.begin() + 780);
        at = 780;
    }
    d.pixels.assign(b.begin() + static_cast<long>(at), b.end());
    return d;
}

Image read_png_file(const std::string &path)
{
    const Bytes b = zt::read_file(path);
    Image img;
    std::string error;
    EXPECT_TRUE(zfconv::read_png(b.data(), b.size(), img, error)) << error;
    return img;
}

// A test picture: index (x * 3 + y) % colours, or that index through a
// simple colour formula.
uint8_t index_at(int x, int y, int colours) { return static_cast<uint8_t>((x * 3 + y) % colours); }
std::array<uint8_t, 3> colour_of(int i) { return {uint8_t(i * 16), uint8_t(255 - i * 8), uint8_t(i * 5 + 7)}; }

void write_gif(const std::string &path, int w, int h, int colours, bool interlace)
{
    int err = 0;
    GifFileType *gif = EGifOpenFileName(path.c_str(), false, &err);
    ASSERT_NE(gif, nullptr);
    std::vector<GifColorType> c(256);
    for (int i = 0; i < colours; ++i)
        c[static_cast<size_t>(i)] = GifColorType{colour_of(i)[0], colour_of(i)[1], colour_of(i)[2]};
    ColorMapObject *map = GifMakeMapObject(256, c.data());
    EGifPutScreenDesc(gif, w, h, 8, 0, map);
    EGifPutImageDesc(gif, 0, 0, w, h, interlace, nullptr);
    std::vector<int> order;
    if (interlace) {
        for (int start : {0, 4, 2, 1})
            for (int y = start; y < h; y += start == 0 || start == 4 ? 8 : start == 2 ? 4 : 2)
                order.push_back(y);
    } else {
        for (int y = 0; y < h; ++y)
            order.push_back(y);
    }
    std::vector<GifPixelType> row(static_cast<size_t>(w));
    for (int y : order) {
        for (int x = 0; x < w; ++x)
            row[static_cast<size_t>(x)] = index_at(x, y, colours);
        EGifPutLine(gif, row.data(), w);
    }
    GifFreeMapObject(map);
    EGifCloseFile(gif, &err);
}

void write_png_file(const std::string &path, const Image &img, int bit_depth = 8)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    const int type = img.kind == Kind::palette ? PNG_COLOR_TYPE_PALETTE : img.kind == Kind::grey ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB_ALPHA;
    png_set_IHDR(png, info, static_cast<png_uint_32>(img.width), static_cast<png_uint_32>(img.height),
                 img.kind == Kind::rgb ? 16 : bit_depth, type, PNG_INTERLACE_ADAM7, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> pal;
    for (size_t i = 0; i + 2 < img.palette.size(); i += 3)
        pal.push_back(png_color{img.palette[i], img.palette[i + 1], img.palette[i + 2]});
    if (!pal.empty())
        png_set_PLTE(png, info, pal.data(), static_cast<int>(pal.size()));
    png_write_info(png, info);
    if (bit_depth < 8)
        png_set_packing(png);
    // RGB pictures go out as 16-bit RGBA with the low bytes and alpha set
    // to noise: the reader must drop both.
    const size_t bpp = img.kind == Kind::rgb ? 8 : 1;
    std::vector<Bytes> rows(static_cast<size_t>(img.height), Bytes(static_cast<size_t>(img.width) * bpp));
    std::vector<png_bytep> ptrs;
    for (int y = 0; y < img.height; ++y) {
        for (int x = 0; x < img.width; ++x) {
            const size_t p = static_cast<size_t>(y * img.width + x);
            Bytes &r = rows[static_cast<size_t>(y)];
            if (img.kind != Kind::rgb) {
                r[static_cast<size_t>(x)] = img.pixels[p];
                continue;
            }
            for (size_t c = 0; c < 4; ++c) {
                r[static_cast<size_t>(x) * 8 + 2 * c] = c < 3 ? img.pixels[3 * p + c] : uint8_t(x);
                r[static_cast<size_t>(x) * 8 + 2 * c + 1] = uint8_t(y * 7 + x);
            }
        }
        ptrs.push_back(rows[static_cast<size_t>(y)].data());
    }
    png_write_image(png, ptrs.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
}

Image test_image(Kind kind, int w, int h, int colours = 16)
{
    Image img;
    img.width = w;
    img.height = h;
    img.kind = kind;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint8_t i = index_at(x, y, colours);
            if (kind == Kind::rgb)
                img.pixels.insert(img.pixels.end(), {uint8_t(x * 5), uint8_t(y * 9), uint8_t(x + y)});
            else
                img.pixels.push_back(kind == Kind::grey ? uint8_t(i * 13) : i);
        }
    if (kind == Kind::palette)
        for (int i = 0; i < colours; ++i)
            img.palette.insert(img.palette.end(), {colour_of(i)[0], colour_of(i)[1], colour_of(i)[2]});
    return img;
}

void write_tiff(const std::string &path, const Image &img)
{
    TIFF *t = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(t, nullptr);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, img.width);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, img.height);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, img.bytes_per_pixel());
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 3);
    std::vector<uint16_t> r(256), g(256), b(256);
    if (img.kind == Kind::palette) {
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE);
        for (size_t i = 0; i < img.palette.size() / 3; ++i) {
            r[i] = static_cast<uint16_t>(img.palette[3 * i] * 257);
            g[i] = static_cast<uint16_t>(img.palette[3 * i + 1] * 257);
            b[i] = static_cast<uint16_t>(img.palette[3 * i + 2] * 257);
        }
        TIFFSetField(t, TIFFTAG_COLORMAP, r.data(), g.data(), b.data());
    } else {
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, img.kind == Kind::grey ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
    }
    const size_t stride = static_cast<size_t>(img.width * img.bytes_per_pixel());
    Bytes row(stride);
    for (int y = 0; y < img.height; ++y) {
        std::copy_n(img.pixels.begin() + static_cast<long>(stride) * y, stride, row.begin());
        TIFFWriteScanline(t, row.data(), static_cast<uint32_t>(y), 0);
    }
    TIFFClose(t);
}

void write_jpeg(const std::string &path, const Image &img)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
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
    const size_t stride = static_cast<size_t>(img.width * img.bytes_per_pixel());
    for (int y = 0; y < img.height; ++y) {
        JSAMPROW row = const_cast<JSAMPROW>(img.pixels.data() + stride * static_cast<size_t>(y));
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(f);
}

// A BMP file of 1, 4, 8 or 24 bits, bottom-up, BI_RGB.
Bytes bmp_file(const Image &img, int bits)
{
    const int colours = bits <= 8 ? 1 << bits : 0;
    const int stride = ((img.width * bits + 31) / 32) * 4;
    const int offset = 14 + 40 + 4 * colours;
    Bytes b;
    auto u16 = [&](int v) { b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)}); };
    auto u32 = [&](int v) { b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}); };
    b.insert(b.end(), {'B', 'M'});
    u32(offset + stride * img.height), u16(0), u16(0), u32(offset);
    u32(40), u32(img.width), u32(img.height), u16(1), u16(bits), u32(0), u32(stride * img.height), u32(2835),
        u32(2835), u32(colours), u32(0);
    for (int i = 0; i < colours; ++i) {
        const size_t at = static_cast<size_t>(3 * i);
        if (at + 2 < img.palette.size())
            b.insert(b.end(), {img.palette[at + 2], img.palette[at + 1], img.palette[at], 0});
        else
            u32(0);
    }
    for (int y = img.height - 1; y >= 0; --y) {
        Bytes row(static_cast<size_t>(stride));
        for (int x = 0; x < img.width; ++x) {
            const size_t p = static_cast<size_t>(y * img.width + x);
            if (bits == 24) {
                for (size_t c = 0; c < 3; ++c)
                    row[static_cast<size_t>(3 * x) + c] = img.pixels[3 * p + 2 - c];
            } else {
                const int bit = x * bits;
                row[static_cast<size_t>(bit / 8)] |= static_cast<uint8_t>(img.pixels[p] << (8 - bits - bit % 8));
            }
        }
        b.insert(b.end(), row.begin(), row.end());
    }
    return b;
}

class Zfconv : public ::testing::Test {
protected:
    zt::RunResult conv(std::vector<std::string> args)
    {
        return zt::run(zt::zfconv_path(), args, zt::RunOptions{dir.path(), "", {"LC_ALL=C.UTF-8"}, {}});
    }
    // Converts through the converter form and reads the DJP back.
    Djp convert(const std::string &input)
    {
        std::filesystem::remove(dir / "out.DJP");
        const auto r = conv({"DJ505JC", input, "out.DJP"});
        EXPECT_EQ(r.status, 0) << input << ": " << r.err;
        return read_djp_file(dir / "out.DJP");
    }
    void expect_palette(const Djp &d, const Image &img)
    {
        ASSERT_EQ(d.type, 0);
        EXPECT_TRUE(std::equal(img.palette.begin(), img.palette.end(), d.palette.begin()));
        EXPECT_TRUE(std::all_of(d.palette.begin() + static_cast<long>(img.palette.size()), d.palette.end(),
                                [](uint8_t v) { return v == 0; }));
        EXPECT_EQ(d.pixels, img.pixels);
    }
    zt::TempDir dir;
};

} // namespace

TEST_F(Zfconv, PalettePicturesKeepTheirPalette)
{
    const Image img = test_image(Kind::palette, 37, 11);
    for (bool interlace : {false, true}) {
        write_gif(dir / "p.gif", 37, 11, 16, interlace);
        Djp d = convert("p.gif");
        Image with256 = img;
        with256.palette.resize(256 * 3, 0);
        expect_palette(d, with256); // a GIF colour table of 256 entries
    }
    write_png_file(dir / "p.png", img, 4);
    expect_palette(convert("p.png"), img);
    write_tiff(dir / "p.tif", img);
    expect_palette(convert("p.tif"), img);
    for (int bits : {1, 4, 8}) {
        const Image small = test_image(Kind::palette, 13, 5, 1 << std::min(bits, 4));
        zt::write_file(dir / "p.bmp", bmp_file(small, bits));
        Djp d = convert("p.bmp");
        Image padded = small;
        padded.palette.resize(static_cast<size_t>(3 << bits), 0);
        expect_palette(d, padded);
        EXPECT_EQ(d.width, 13);
    }
}

TEST_F(Zfconv, GreyAndColourPictures)
{
    const Image grey = test_image(Kind::grey, 20, 7);
    write_png_file(dir / "g.png", grey);
    Djp d = convert("g.png");
    EXPECT_EQ(d.type, 8);
    EXPECT_EQ(d.pixels, grey.pixels);
    write_tiff(dir / "g.tif", grey);
    EXPECT_EQ(convert("g.tif").pixels, grey.pixels);

    const Image rgb = test_image(Kind::rgb, 21, 9);
    write_png_file(dir / "c.png", rgb); // 16-bit RGBA
    d = convert("c.png");
    EXPECT_EQ(d.type, 24);
    EXPECT_EQ(d.pixels, rgb.pixels);
    write_tiff(dir / "c.tif", rgb);
    EXPECT_EQ(convert("c.tif").pixels, rgb.pixels);
    zt::write_file(dir / "c.bmp", bmp_file(rgb, 24));
    EXPECT_EQ(convert("c.bmp").pixels, rgb.pixels);

    // JPEG is lossy: close, not equal
    write_jpeg(dir / "c.jpg", rgb);
    d = convert("c.jpg");
    ASSERT_EQ(d.type, 24);
    ASSERT_EQ(d.pixels.size(), rgb.pixels.size());
    for (size_t i = 0; i < d.pixels.size(); ++i)
        ASSERT_NEAR(d.pixels[i], rgb.pixels[i], 12) << i;
    write_jpeg(dir / "g.jpg", grey);
    EXPECT_EQ(convert("g.jpg").type, 8);
}

TEST_F(Zfconv, FailuresLeaveNoOutput)
{
    write_png_file(dir / "c.png", test_image(Kind::rgb, 30, 30));
    write_jpeg(dir / "c.jpg", test_image(Kind::rgb, 30, 30));
    write_gif(dir / "c.gif", 30, 30, 16, false);
    write_tiff(dir / "c.tif", test_image(Kind::rgb, 30, 30));
    for (const char *name : {"c.png", "c.jpg", "c.gif", "c.tif"}) {
        Bytes b = zt::read_file(dir / name);
        b.resize(b.size() * 2 / 3);
        zt::write_file(dir / "cut", b);
        const auto r = conv({"DJ505JC", "cut", "out.DJP"});
        EXPECT_NE(r.status, 0) << name;
        EXPECT_NE(r.err.find("zfconv: cut: "), std::string::npos) << name << r.err;
        EXPECT_FALSE(zt::file_exists(dir / "out.DJP")) << name;
    }
    zt::write_file(dir / "text", std::string("just some text"));
    std::filesystem::create_directory(dir / "folder");
    for (const char *name : {"text", "folder", "missing"}) {
        const auto r = conv({"DJ505JC", name, "out.DJP"});
        EXPECT_EQ(r.status, 1) << name;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_FALSE(zt::file_exists(dir / "out.DJP"));
    }
    // wider than a DJP file can say
    write_png_file(dir / "wide.png", test_image(Kind::grey, 70000, 1));
    auto wide = conv({"DJ505JC", "wide.png", "out.DJP"});
    EXPECT_EQ(wide.status, 1);
    EXPECT_NE(wide.err.find("65535"), std::string::npos) << wide.err;
    EXPECT_FALSE(zt::file_exists(dir / "out.DJP"));

    const auto r = conv({"DJ505JC", "c.png", "nowhere/out.DJP"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("nowhere/out.DJP"), std::string::npos);
    // a device is written in place and stays a device
    const auto full = conv({"DJ505JC", "c.png", "/dev/full"});
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(full.err.find("/dev/full"), std::string::npos);
    struct stat st {};
    ASSERT_EQ(stat("/dev/full", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    const auto piped = conv({"c.png", "/dev/stdout"});
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(piped.out.substr(0, 4), "\x89PNG");
    EXPECT_EQ(conv({}).status, 2);
    const auto help = conv({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("zfconv DJ505JC INPUT OUTPUT.DJP"), std::string::npos);
}

TEST_F(Zfconv, ZfencReadsEveryPictureFormat)
{
    const Image rgb = test_image(Kind::rgb, 16, 6);
    write_gif(dir / "a.gif", 16, 6, 16, true);
    zt::write_file(dir / "a.bmp", bmp_file(rgb, 24));
    write_tiff(dir / "a.tif", rgb);
    write_png_file(dir / "a.png", rgb);
    write_jpeg(dir / "a.jpg", rgb);
    for (const char *name : {"a.gif", "a.bmp", "a.tif", "a.png", "a.jpg"}) {
        zt::RunOptions o{dir.path(), "", {"LC_ALL=C.UTF-8", "PATH=/usr/bin:/bin"}, {"LOG", "EXE", "TMP"}};
        const auto r = zt::run(zt::zfenc_path(), {name, "out", "-m1", "-nh"}, o);
        ASSERT_EQ(r.status, 0) << name << r.out << r.err;
        EXPECT_FALSE(zt::file_exists(dir / "ZFENCIMG.DJP"));
        zf_file *f = zf_open((dir / "out.ZF").c_str());
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(zf_first_block(f), 1);
        ASSERT_EQ(zf_begin_read(f), 0);
        uint32_t *line = nullptr;
        int y;
        while ((y = zf_line(f, &line)) >= 0)
            for (int x = 0; x < 16; ++x) {
                const size_t p = static_cast<size_t>(y * 16 + x);
                const std::array<uint8_t, 3> want =
                    name[2] == 'g' ? colour_of(index_at(x, y, 16))
                                   : std::array<uint8_t, 3>{rgb.pixels[3 * p], rgb.pixels[3 * p + 1], rgb.pixels[3 * p + 2]};
                const uint32_t v = line[x];
                const int tolerance = name[2] == 'j' ? 12 : 0;
                ASSERT_NEAR(int(v >> 16), want[0], tolerance) << name << " " << x << "," << y;
                ASSERT_NEAR(int(v >> 8 & 255), want[1], tolerance);
                ASSERT_NEAR(int(v & 255), want[2], tolerance);
            }
        EXPECT_EQ(y, -2);
        zf_close(f);
    }
}

// A ZEFA file of two blocks at their positions, at each depth.
TEST_F(Zfconv, ZefaFilesToPng)
{
    for (int depth : {15, 24, 8}) { // the palette set for depth 8 stays set
        unsigned char palette[768];
        for (int i = 0; i < 768; ++i)
            palette[i] = static_cast<unsigned char>(i * 7);
        zf_set_info("test", depth, 12, 6, 1, 1, 0);
        if (depth == 8)
            zf_set_palette(256, 8, palette);
        zf_file *f = zf_create((dir / "m.ZF").c_str(), "", nullptr, "", 0);
        ASSERT_NE(f, nullptr);
        struct B {
            int x, y, w, h;
            const char *tag;
        };
        for (B b : {B{0, 0, 5, 3, "ZFSF"}, B{6, 2, 6, 4, "ZFSS"}}) {
            uint32_t *line = nullptr;
            ASSERT_EQ(zf_begin_write(f, &line, b.x, b.y, b.w, b.h, b.tag, -1), 0);
            for (int pass = 0, r = 1, y = 0; r != -2 && pass < 4;) {
                for (int x = 0; x < b.w; ++x)
                    line[x] = depth == 8 ? uint32_t((b.x + x) * 10 + b.y + y) : depth == 15 ? 0xF800u | uint32_t(x << 1) : 0x123456u + uint32_t(x);
                r = zf_line(f, &line);
                y = r == 0 ? 0 : y + 1;
                pass += r == 0;
            }
        }
        ASSERT_EQ(zf_close(f), 0);
        const auto r = conv({"m.ZF", "m.png"});
        ASSERT_EQ(r.status, 0) << r.err;
        const Image png = read_png_file(dir / "m.png");
        EXPECT_EQ(png.width, 12);
        EXPECT_EQ(png.height, 6);
        EXPECT_EQ(png.kind, depth == 8 ? Kind::palette : Kind::rgb);
        const auto px = [&](int x, int y) { return png.pixels.data() + (y * 12 + x) * png.bytes_per_pixel(); };
        if (depth == 8) {
            EXPECT_EQ(*px(1, 2), 12);  // block 1
            EXPECT_EQ(*px(7, 3), 73);  // block 2, line 1
            EXPECT_EQ(*px(11, 0), 0);  // outside both
            EXPECT_EQ(png.palette[3 * 73], static_cast<uint8_t>(73 * 3 * 7));
        } else if (depth == 15) {
            EXPECT_EQ(px(2, 1)[1], 255); // G = 31 widened
            EXPECT_EQ(px(2, 1)[2], (2 << 3) | (2 >> 2));
        } else {
            EXPECT_EQ(px(8, 5)[0], 0x12);
            EXPECT_EQ(px(8, 5)[2], 0x56 + 2);
        }
    }
}

// A damaged ZEFA file gives every line that decodes, the rest transparent,
// and status 1 with the file and the damage named.
TEST_F(Zfconv, DamagedZefaFilesKeepWhatDecodesAndSaySo)
{
    zf_set_info("test", 24, -1, -1, 1, 1, 0);
    zf_file *f = zf_create((dir / "w.ZF").c_str(), "", nullptr, "", 0);
    ASSERT_NE(f, nullptr);
    for (int b = 0; b < 2; ++b) {
        uint32_t *line = nullptr;
        ASSERT_EQ(zf_begin_write(f, &line, 0, b * 10, 8, 10, "ZFSF", -1), 0);
        for (int y = 0, r = 1; r > 0; ++y) {
            for (int x = 0; x < 8; ++x)
                line[x] = 0x101010u * uint32_t(x + y) + 0x40u * uint32_t(b + 1) + 0x808080u;
            r = zf_line(f, &line);
        }
    }
    ASSERT_EQ(zf_close(f), 0);
    ASSERT_EQ(conv({"w.ZF", "whole.png"}).status, 0);
    const Bytes whole = zt::read_file(dir / "w.ZF");
    const auto rgba = [&](const std::string &name) {
        png_image im{};
        im.version = PNG_IMAGE_VERSION;
        Bytes px;
        if (png_image_begin_read_from_file(&im, (dir / name).c_str())) {
            im.format = PNG_FORMAT_RGBA;
            px.resize(PNG_IMAGE_SIZE(im));
            png_image_finish_read(&im, nullptr, px.data(), 0, nullptr);
        }
        return px;
    };
    const Bytes want = rgba("whole.png");
    ASSERT_EQ(want.size(), 8u * 20u * 4u);
    // cut inside the second block's payload, and by one byte of the end marker
    for (std::size_t cut : {whole.size() - 8 - 30, whole.size() - 1}) {
        zt::write_file(dir / "cut.ZF", Bytes(whole.begin(), whole.begin() + static_cast<long>(cut)));
        const auto r = conv({"cut.ZF", "cut.png"});
        EXPECT_EQ(r.status, 1) << cut;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.err.find("zfconv: cut.ZF: "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("ends too early"), std::string::npos) << r.err;
        const Bytes got = rgba("cut.png");
        ASSERT_EQ(got.size(), want.size());
        std::size_t drawn = 0;
        for (std::size_t i = 0; i < got.size(); i += 4) {
            if (got[i + 3] == 255) {
                EXPECT_TRUE(std::equal(got.begin() + long(i), got.begin() + long(i) + 4, want.begin() + long(i))) << i;
                ++drawn;
            } else {
                EXPECT_EQ(got[i + 3], 0) << i;
            }
        }
        EXPECT_GE(drawn, 8u * 10u) << cut; // the first block at least
        if (cut == whole.size() - 1)
            EXPECT_EQ(drawn, 8u * 20u);
        else
            EXPECT_LT(drawn, 8u * 20u);
    }
}

// An output that is the input, however spelled, is refused untouched.
TEST_F(Zfconv, AnOutputThatIsTheInputIsRefused)
{
    write_png_file(dir / "p.png", test_image(Kind::rgb, 4, 4));
    zf_set_info("test", 24, -1, -1, 1, 1, 0);
    zf_file *f = zf_create((dir / "a.ZF").c_str(), "", nullptr, "", 0);
    ASSERT_NE(f, nullptr);
    uint32_t *line = nullptr;
    ASSERT_EQ(zf_begin_write(f, &line, 0, 0, 1, 1, "ZFBM", -1), 0);
    zf_line(f, &line);
    ASSERT_EQ(zf_close(f), 0);
    std::filesystem::create_symlink("a.ZF", dir / "link.ZF");
    const Bytes zf = zt::read_file(dir / "a.ZF"), png = zt::read_file(dir / "p.png");
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             {"a.ZF", "./a.ZF"}, {"a.ZF", "link.ZF"}, {"DJ505JC", "p.png", "p.png"}, {"DJ505JC", "p.png", "./p.png"}}) {
        const auto r = conv(args);
        EXPECT_EQ(r.status, 1) << args.back();
        EXPECT_NE(r.err.find("is the input file"), std::string::npos) << r.err;
    }
    EXPECT_EQ(zt::read_file(dir / "a.ZF"), zf);
    EXPECT_EQ(zt::read_file(dir / "p.png"), png);
}

TEST_F(Zfconv, DjpAndRawRgbToPng)
{
    Bytes djp = {'D', 'J', '5', '0', '5', 'J', 2, 0, 1, 0, 24, 0, 1, 2, 3, 4, 5, 6};
    zt::write_file(dir / "d.DJP", djp);
    ASSERT_EQ(conv({"d.DJP", "d.png"}).status, 0);
    EXPECT_EQ(read_png_file(dir / "d.png").pixels, (Bytes{1, 2, 3, 4, 5, 6}));

    zt::write_file(dir / "r.RGB", Bytes{9, 8, 7, 6, 5, 4});
    zt::write_file(dir / "r.IPR", std::string("1 2 0 0\n"));
    ASSERT_EQ(conv({"r.RGB", "r.png"}).status, 0);
    const Image img = read_png_file(dir / "r.png");
    EXPECT_EQ(img.width, 1);
    EXPECT_EQ(img.pixels, (Bytes{9, 8, 7, 6, 5, 4}));
    zt::write_file(dir / "r.IPR", std::string("1 3 0 0\n"));
    EXPECT_EQ(conv({"r.RGB", "r.png"}).status, 1); // shorter than its size
}
