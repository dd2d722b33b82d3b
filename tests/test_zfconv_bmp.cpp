// The BMP reader: every header form, bit count and coding, both row
// orders, and damaged files.
#include "pictures.h"
#include "readers.h"

#include <gtest/gtest.h>

#include <initializer_list>

namespace {

using zfconv::Bytes;
using zfconv::Image;
using zfconv::Kind;
using zt::Bmp;

Image read(const Bytes &file, bool expect_ok = true)
{
    Image img;
    std::string error;
    const bool ok = zfconv::read_bmp(file.data(), file.size(), img, error);
    EXPECT_EQ(ok, expect_ok) << error;
    if (!ok) {
        EXPECT_FALSE(error.empty());
    }
    return img;
}

} // namespace

TEST(BmpReader, RowOrdersAndColourDepths)
{
    // 24 bits, 2 x 2, top-down (bottom-up rows of every bit count: test_zfconv's
    // every-format test), rows padded to 8 bytes: BGR in the file.
    Bmp b{40, 2, -2, 24, 0, {3, 2, 1, 6, 5, 4, 0, 0, 9, 8, 7, 12, 11, 10, 0, 0}};
    EXPECT_EQ(read(b.file()).pixels, (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));

    // 32 bits without masks: BGRX; 16 bits without masks: 5-5-5, 31
    // widens to 255; 5-6-5 bit fields after the 40-byte header (green all
    // ones); 32-bit bit fields inside a 108-byte header, in an unusual order
    EXPECT_EQ(read(Bmp{40, 1, 1, 32, 0, {0x30, 0x20, 0x10, 0xFF}}.file()).pixels, (Bytes{0x10, 0x20, 0x30}));
    EXPECT_EQ(read(Bmp{40, 2, 1, 16, 0, {0x00, 0x7C, 0x1F, 0x00}}.file()).pixels, (Bytes{255, 0, 0, 0, 0, 255}));
    EXPECT_EQ(read(Bmp{40, 1, 1, 16, 3, {0xE0, 0x07, 0, 0}, {0xF800, 0x07E0, 0x001F}}.file()).pixels, (Bytes{0, 255, 0}));
    EXPECT_EQ(read(Bmp{108, 1, 1, 32, 3, {0x11, 0x22, 0x33, 0}, {0xFF, 0xFF00, 0xFF0000}}.file()).pixels,
              (Bytes{0x11, 0x22, 0x33}));
    read(Bmp{108, 1, 1, 32, 3, {0x11, 0x22, 0x33, 0}, {0x0F0F, 0, 0}}.file(), false); // not one run of bits
}

TEST(BmpReader, PalettePictures)
{
    // (1, 4 and 8 bits with full palettes: test_zfconv's every-format test)
    // 4 bits, 3 pixels; colours used = 3 (a short palette)
    Bmp four{40, 3, 1, 4, 0, {0x21, 0x70, 0, 0}}; // index 7 lies beyond the palette: kept
    four.colours = 3;
    four.palette = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    Image img = read(four.file());
    EXPECT_EQ(img.kind, Kind::palette);
    EXPECT_EQ(img.pixels, (Bytes{2, 1, 7}));
    EXPECT_EQ(img.palette.size(), 9u);

    // the 12-byte core header with 3-byte palette entries
    Bmp core{12, 2, 1, 8, 0, {200, 3, 0, 0}};
    for (int i = 0; i < 256; ++i)
        core.palette.insert(core.palette.end(), {uint8_t(i), uint8_t(255 - i), 7});
    img = read(core.file());
    EXPECT_EQ(img.pixels, (Bytes{200, 3}));
    EXPECT_EQ(img.palette[3 * 200 + 1], 55);
}

TEST(BmpReader, RunLengthCodings)
{
    // RLE8, 4 x 2, bottom row first: a run of two 5s, an absolute run of
    // three (cut at the row's end), end of line, a delta of one, one 7, end.
    Bmp r8{40, 4, 2, 8, 1, {2, 5, 0, 3, 1, 2, 3, 0, 0, 0, 0, 2, 1, 0, 1, 7, 0, 1}};
    r8.palette.assign(3 * 8, 0);
    EXPECT_EQ(read(r8.file()).pixels, (Bytes{0, 7, 0, 0, /* bottom: */ 5, 5, 1, 2}));

    // RLE4: a run alternates the two nibbles; an absolute run of 3 nibbles
    // takes 2 bytes, padded to a word.
    Bmp r4{40, 8, 1, 4, 2, {5, 0x12, 0, 3, 0xAB, 0xC0, 0, 1}};
    r4.palette.assign(3 * 16, 0);
    EXPECT_EQ(read(r4.file()).pixels, (Bytes{1, 2, 1, 2, 1, 10, 11, 12}));

    // Data that stops without its end mark keeps what was decoded.
    Bmp cut = r8;
    cut.pixels = {2, 5};
    EXPECT_EQ(read(cut.file()).pixels, (Bytes{0, 0, 0, 0, 5, 5, 0, 0}));
    // Runs and deltas far beyond the picture stay inside it.
    Bmp wild = r8;
    wild.pixels = {255, 1, 0, 2, 255, 255, 255, 9, 0, 255, 1, 2};
    read(wild.file());
    // Top-down pictures cannot be run-length coded.
    Bmp down = r8;
    down.height = -2;
    read(down.file(), false);
}

TEST(BmpReader, DamagedFilesAreRefusedCleanly)
{
    Bmp b{40, 3, 3, 8};
    for (int i = 0; i < 256; ++i)
        b.palette.insert(b.palette.end(), {uint8_t(i), 0, 0});
    b.pixels.assign(4 * 3, 9);
    const Bytes whole = b.file();
    read(whole);
    read(Bytes(whole.begin(), whole.end() - 2), false); // the last row is cut short
    struct Bad {
        int width, height, bits;
        uint32_t compression;
    };
    for (Bad bad : {Bad{0, 3, 8, 0}, Bad{3, 0, 8, 0}, Bad{100000, 100000, 8, 0}, Bad{3, INT32_MIN, 8, 0},
                    Bad{-3, 3, 8, 0}, Bad{3, 3, 7, 0}, Bad{3, 3, 8, 2}, Bad{3, 3, 24, 3}, Bad{3, 3, 8, 4}}) {
        Bmp x = b;
        x.width = bad.width, x.height = bad.height, x.bits = bad.bits, x.compression = bad.compression;
        read(x.file(), false);
    }
    Bytes far = whole;
    far[10] = 0xFF, far[11] = 0xFF, far[12] = 0xFF, far[13] = 0x7F; // pixels beyond the end
    read(far, false);
    Bytes odd = whole;
    odd[14] = 30; // a header size not read here
    read(odd, false);
}
