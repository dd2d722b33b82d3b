// Whole pictures in one call: the canvas, RGB or indices, damage told in
// words with a mask of what was drawn, refusals, and hostile files that
// claim more canvas or more decoding than a reader allows.
#include "codec_run.h"
#include "harness.h"

#include "byte_io.h"
#include "zefa.h"
#include "zefa.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <unistd.h>
#include <string>
#include <tuple>

using namespace zt;

namespace {

using Picture = zefa::Image;

Picture decode(const Bytes &b, zf_report &r, int format = ZF_RGB, const zf_limits *limits = nullptr)
{
    return Picture(zf_decode_memory(b.data(), b.size(), limits, format, &r));
}

std::string words(const zf_report &r) { return zefa::words(r); }

void put16(Bytes &b, std::size_t at, int v)
{
    b[at] = static_cast<uint8_t>(v >> 8);
    b[at + 1] = static_cast<uint8_t>(v);
}

// A hostile file made by hand: a header of this canvas and depth, then
// `count` "ZFSS" blocks of w x h with no payload at all.
Bytes claiming(int canvas_w, int canvas_h, int count, int w, int h, int depth = 24)
{
    Bytes b(ZF_HEADER_SIZE + 1, ' ');
    std::memcpy(b.data(), "ZFDT", 4);
    std::fill(b.begin() + 96, b.end(), 0);
    b[96] = 0x1A;
    put16(b, ZF_H_DEPTH, depth);
    put16(b, ZF_H_MAX_WIDTH, canvas_w);
    put16(b, ZF_H_MAX_HEIGHT, canvas_h);
    b[ZF_H_FIRST + 3] = ZF_HEADER_SIZE + 1;
    for (int i = 0; i < count; ++i) {
        Bytes head(ZF_BLOCK_HEADER_SIZE, 0);
        std::memcpy(head.data(), "ZFSS", 4);
        head[ZF_B_LENGTH + 3] = ZF_BLOCK_HEADER_SIZE;
        put16(head, ZF_B_WIDTH, w);
        put16(head, ZF_B_HEIGHT, h);
        b.insert(b.end(), head.begin(), head.end());
    }
    b.insert(b.end(), 8, 0);
    return b;
}

class Pictures : public ::testing::Test {
protected:
    std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                ("zefa_picture_" + std::to_string(::getpid()));
    std::string path = (dir / "p.ZF").string();
    void SetUp() override { std::filesystem::create_directories(dir); }
    void TearDown() override { std::filesystem::remove_all(dir); }
};

} // namespace

// Two blocks, one partly outside the header's size: the canvas grows to
// hold it, every pixel is the block's colour, and a whole file has no mask.
TEST_F(Pictures, WholeFileOnItsCanvas)
{
    zf_params p = params(24);
    p.max_width = 4;
    p.max_height = 2;
    const Image a = pattern(24, 4, 2, 1), b = pattern(24, 3, 3, 2);
    const Bytes file = write_zefa(path, p, {{0, 0, "ZFSS", a}, {2, 1, "ZFSF", b}});
    zf_report r;
    const Picture img = decode(file, r);
    ASSERT_TRUE(img);
    EXPECT_EQ(std::tuple(r.status, words(r), img->width, img->height, r.blocks, r.work),
              std::tuple(ZF_DECODED_WHOLE, std::string(), 5, 4, 2, 4LL * 2 + 3 * 3));
    EXPECT_EQ(img->mask, nullptr);
    auto at = [&](int x, int y) {
        const unsigned char *q = img->pixels + 3 * (y * img->width + x);
        return uint32_t{q[0]} << 16 | uint32_t{q[1]} << 8 | q[2];
    };
    EXPECT_EQ(at(1, 1), a[1][1]);
    EXPECT_EQ(at(3, 1), b[0][1]); // the later block lies on top
    EXPECT_EQ(at(4, 3), b[2][2]);
    EXPECT_EQ(at(0, 3), 0u); // no block here
}

// 8-bit files: indices and the whole palette (entries the file lacks are
// black), or colours through the palette.
TEST_F(Pictures, IndicesOrColours)
{
    zf_params p = params(8);
    p.n_pal = 3;
    const Bytes file = write_zefa(path, p, {{0, 0, "ZFBI", {{0, 1, 2, 200}}}});
    zf_report r;
    const Picture idx = decode(file, r, ZF_INDEXED);
    ASSERT_TRUE(idx);
    EXPECT_EQ(idx->format, ZF_INDEXED);
    EXPECT_EQ(Bytes(idx->pixels, idx->pixels + 4), (Bytes{0, 1, 2, 200}));
    EXPECT_EQ(Bytes(idx->palette, idx->palette + 9), (Bytes{255, 255, 255, 254, 254, 254, 253, 253, 253}));
    EXPECT_EQ(idx->palette[3 * 200], 0);
    const Picture rgb = decode(file, r, ZF_RGB);
    ASSERT_TRUE(rgb);
    EXPECT_EQ(rgb->format, ZF_RGB);
    EXPECT_EQ(Bytes(rgb->pixels, rgb->pixels + 12), (Bytes{255, 255, 255, 254, 254, 254, 253, 253, 253, 0, 0, 0}));
    // other depths come as colours whatever is asked
    const Bytes deep = write_zefa(path, params(15), {{0, 0, "ZFBI", {{0x7FFE}}}});
    const Picture wide = decode(deep, r, ZF_INDEXED);
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide->format, ZF_RGB);
}

// A file cut inside its second block: the first block and the lines before
// the cut are drawn and marked, decoded once, and told as zfconv tells it.
TEST_F(Pictures, DamageIsMarkedAndWorded)
{
    const Image a = pattern(24, 6, 4, 1), b = pattern(24, 6, 40, 2);
    Bytes file = write_zefa(path, params(24), {{0, 0, "ZFBM", a}, {0, 4, "ZFBM", b}});
    file.resize(file.size() - 8 - 18 * 10 - 5); // into line 29 of the second block
    zf_report r;
    const Picture img = decode(file, r);
    ASSERT_TRUE(img);
    EXPECT_EQ(std::tuple(r.status, r.block, r.lines), std::tuple(ZF_DECODED_DAMAGED, 1, 29));
    EXPECT_EQ(words(r), "line 29 of block 1 cannot be decoded: the file ends too early");
    ASSERT_NE(img->mask, nullptr);
    for (int y = 0; y < img->height; ++y)
        EXPECT_EQ(img->mask[y * img->width + 3], y < 4 + 29 ? 1 : 0) << y;

    // the earlier call over a caller's canvas draws the same
    zf_file *f = zf_open_memory(file.data(), file.size());
    std::vector<unsigned char> pixels(3 * 6 * 44), mask(6 * 44);
    zf_picture pic{};
    pic.width = 6;
    pic.height = 44;
    pic.pixels = pixels.data();
    pic.mask = mask.data();
    EXPECT_EQ(zf_decode_image(f, &pic), -1);
    zf_close(f);
    EXPECT_EQ(pixels, Bytes(img->pixels, img->pixels + pixels.size()));
    EXPECT_EQ(mask, Bytes(img->mask, img->mask + mask.size()));
}

TEST_F(Pictures, RefusalsAreWorded)
{
    zf_report r;
    const Bytes sound = write_zefa(path, params(24), {{0, 0, "ZFBI", pattern(24, 3, 3)}});
    EXPECT_FALSE(decode(Bytes{'x', 'y'}, r));
    EXPECT_EQ(words(r), "not a readable ZEFA file: not a ZEFA file, or a damaged one");

    Bytes odd = sound;
    odd[ZF_H_DEPTH + 1] = 16;
    EXPECT_FALSE(decode(odd, r));
    EXPECT_EQ(words(r), "a ZEFA file of depth 16 cannot be shown");

    const std::size_t first = ZF_HEADER_SIZE + 1;
    Bytes cut(sound.begin(), sound.begin() + first + 12);
    EXPECT_FALSE(decode(cut, r));
    EXPECT_EQ(words(r), "no block can be read: the file ends too early");

    cut.assign(sound.begin(), sound.begin() + first + ZF_BLOCK_HEADER_SIZE + 2);
    EXPECT_FALSE(decode(cut, r));
    EXPECT_EQ(words(r), "no block can be decoded: the file ends too early");

    Bytes unknown = sound;
    std::memcpy(&unknown[first], "ABCD", 4);
    EXPECT_FALSE(decode(unknown, r));
    EXPECT_EQ(r.skipped, 1);
    EXPECT_EQ(words(r), "the ZEFA file holds no block this program can decode");

    EXPECT_FALSE(decode(claiming(0, 5, 0, 1, 1), r));
    EXPECT_EQ(words(r), "the picture has no pixels (0 x 5)");

    zf_errno = 0;
    EXPECT_EQ(zf_decode_picture(nullptr, nullptr, ZF_RGB, &r), nullptr);
    EXPECT_EQ(zf_errno, ZF_ERR_MISUSE);
    // the earlier calls answer a null argument as the caller's fault too
    int w = 0, h = 0;
    EXPECT_EQ(zf_picture_size(nullptr, &w, &h), -1);
    EXPECT_EQ(zf_errno, ZF_ERR_MISUSE);
    EXPECT_EQ(zf_decode_image(nullptr, nullptr), -1);
    EXPECT_EQ(zf_errno, ZF_ERR_MISUSE);
}

// A 165 KB file of 6000 blocks of 2000 x 2000 over a 2000 x 2000 canvas is
// refused from its block headers, before any decoding; so is a canvas of
// 32767 x 32767 in a few bytes.
TEST_F(Pictures, BombsAreRefusedWhole)
{
    zf_report r;
    const Bytes work = claiming(2000, 2000, 6000, 2000, 2000);
    EXPECT_LT(work.size(), 170000u);
    EXPECT_FALSE(decode(work, r));
    EXPECT_EQ(std::tuple(r.status, r.error, zf_errno, r.max_work), std::tuple(ZF_REFUSED_WORK, ZF_ERR_LIMIT, ZF_ERR_LIMIT, 4LL * 2000 * 2000));
    EXPECT_EQ(words(r), "the blocks of the picture hold more than the 16000000 pixels allowed for decoding a "
                        "picture of 2000 x 2000");

    EXPECT_FALSE(decode(claiming(32767, 32767, 1, 10, 10), r));
    EXPECT_EQ(r.status, ZF_REFUSED_CANVAS);
    EXPECT_EQ(words(r), "the picture is too large (32767 x 32767)");
    // (a caller's own limits, at the pixel: the Python package's test_limits)
}

// The header's texts under the keys zfconv's PNG writes them, with their
// JSON names; empty ones left out, the time and number always there.
TEST_F(Pictures, HeaderTextsAndAccessors)
{
    zf_params p = params(8);
    p.saver = "saver 1";
    const Bytes file = write_zefa(path, p, {{0, 0, "ZFBI", {{1}}}}, {"\x93\xFA\x96\x7B", "one\ntwo", "", -3});
    Bytes zero = file;
    std::fill(zero.begin() + ZF_H_TIME, zero.begin() + ZF_H_TIME + 4, 0);
    zf_file *f = zf_open_memory(zero.data(), zero.size());
    ASSERT_NE(f, nullptr);
    int n = 0;
    zf_text_entry *e = zf_get_texts(f, &n);
    ASSERT_NE(e, nullptr);
    std::vector<std::string> got;
    for (int i = 0; i < n; ++i)
        got.push_back(std::string(e[i].key) + "|" + e[i].json + "|" + e[i].value);
    EXPECT_EQ(e[n].key, nullptr);
    zf_free(e);
    EXPECT_EQ(got, (std::vector<std::string>{"Title|title|\xE6\x97\xA5\xE6\x9C\xAC", "Comment|comment|one\ntwo",
                                             "Software|saver|saver 1", "Creation Time|date|1970-01-01T00:00:00Z",
                                             "ZEFA Subtitle|subtitle|p", "ZEFA Number|number|-3"}));
    EXPECT_EQ(std::string(zf_get_comment(f)), "one\r\ntwo");
    EXPECT_EQ(std::tuple(zf_get_palette(f)[3], zf_get_palette(f)[3 * 255], zf_get_palette_bits(f)), std::tuple(254, 0, 8));
    EXPECT_EQ(std::memcmp(zf_get_header(f), "ZFDT", 4), 0);
    zf_close(f);
}

// One call writes what the line-by-line calls write for the same picture
// (a wide one in two tiles, both passes of "ZFSS"), to memory and to a
// descriptor alike, and the file decodes back to the picture.
TEST_F(Pictures, EncodedFileIsWhatTheLineCallsWrite)
{
    const int w = ZF_MAX_BLOCK_WIDTH + 7, h = 3;
    std::vector<uint32_t> values(static_cast<std::size_t>(w) * h);
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = static_cast<uint32_t>(i * 2654435761u) & 0xFFFFFF & (i % 7 ? 0xFF00FF : 0xFFFFFF);
    zf_encoding e{.depth = 24, .coding = ZF_CODING_OPTIMIZING, .title = "title", .artist = "artist", .comment = "a\nb",
                  .subtitle = "sub", .saver = "saver", .ratio_x = 0, .ratio_y = 0, .number = 7, .has_time = 1,
                  .time = 123456789, .n_pal = 0, .palette = {}};
    void *data = nullptr;
    size_t size = 0;
    ASSERT_EQ(zf_encode_memory(&data, &size, &e, values.data(), w, h, ZF_VALUES), 0);
    const Bytes mem(static_cast<uint8_t *>(data), static_cast<uint8_t *>(data) + size);
    zf_free(data);

    // the same through zf_create_fd, tile by tile, as zfconv writes files
    zf_params p = params(24);
    p.saver = "saver";
    p.max_width = w;
    p.max_height = h;
    zf_file *f = zf_create_with(path.c_str(), "title", "a\nb", "artist", 7, &p);
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(zf_set_subtitle(f, "sub"), 0);
    for (int x0 : {0, ZF_MAX_BLOCK_WIDTH}) {
        const int bw = std::min(ZF_MAX_BLOCK_WIDTH, w - x0);
        uint32_t *line = nullptr;
        ASSERT_EQ(zf_begin_write(f, &line, x0, 0, bw, h, "ZFSS", -1), 0);
        int row = 0, r;
        do {
            std::copy_n(values.begin() + static_cast<long>(row * w + x0), bw, line);
            r = zf_line(f, &line);
            row = r == 0 ? 0 : row + 1;
        } while (r != -2 && r != -1);
        ASSERT_EQ(r, -2);
    }
    ASSERT_EQ(zf_close(f), 0);
    Bytes lines = read_file(path);
    std::copy_n(mem.begin() + ZF_H_TIME, 4, lines.begin() + ZF_H_TIME);
    EXPECT_EQ(mem, lines);
    EXPECT_EQ(zf::get_u32(mem.data() + ZF_H_TIME), 123456789u);

    const unsigned char rgb[3] = {1, 2, 3}; // (15 bits widened: the Python package's save tests)
    zf_errno = 0;
    EXPECT_EQ(zf_encode_memory(&data, &size, &e, rgb, 1, 1, ZF_INDEXED), -1); // indices need depth 8
    EXPECT_EQ(zf_errno, ZF_ERR_MISUSE);
}

