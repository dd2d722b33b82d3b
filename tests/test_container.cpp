// The container layout: header, palette, comment, block headers, end
// marker, running maxima, the prefix, the block walk and append.
#include "harness.h"
#include "zefa.h"
#include "record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

int u16(const Bytes &b, size_t at) { return b[at] << 8 | b[at + 1]; }
int s16(const Bytes &b, size_t at) { return static_cast<int16_t>(u16(b, at)); }
uint32_t u32(const Bytes &b, size_t at)
{
    return uint32_t{b[at]} << 24 | uint32_t{b[at + 1]} << 16 | uint32_t{b[at + 2]} << 8 | b[at + 3];
}
std::string text(const Bytes &b, size_t at, size_t n) { return std::string(b.begin() + at, b.begin() + at + n); }

struct Block {
    int x, y, width, height;
    const char *tag = "ZFBI";
};

// Writes a file of 24-bit blocks, every pixel holding x + y * 256.
void write_blocks(const std::string &path, const std::vector<Block> &blocks, int max_w = -1, int max_h = -1,
                  const char *comment = nullptr)
{
    zf_set_info("saver", 24, max_w, max_h, 1, 1, 0);
    zf_file *f = zf_create(path.c_str(), "title", comment, "artist", 7);
    ASSERT_NE(f, nullptr);
    for (const Block &b : blocks) {
        uint32_t *line = nullptr;
        ASSERT_EQ(zf_begin_write(f, &line, b.x, b.y, b.width, b.height, b.tag, -1), 0);
        for (int y = 0; y < b.height; ++y) {
            for (int x = 0; x < b.width; ++x)
                line[x] = static_cast<uint32_t>(x + y * 256);
            int r = zf_line(f, &line);
            ASSERT_EQ(r, y == b.height - 1 ? -2 : y + 1);
        }
    }
    ASSERT_EQ(zf_close(f), 0);
}

// Reads a signed 16-bit field of the record's block header image the way
// a tool does.
int block_field(const zf_file *f, int offset)
{
    uint16_t raw;
    std::memcpy(&raw, f->block + offset, 2);
    return static_cast<int16_t>(zf_swap16(raw));
}

class Container : public ::testing::Test {
protected:
    // The creation parameters are library-wide: start every test without
    // a palette.
    void SetUp() override { zf::creation.n_pal = 0; }
    zt::TempDir dir;
};

} // namespace

TEST_F(Container, HeaderFieldsAndEmptyFirstBlockAt125)
{
    const std::string path = dir / "photo.part.ZF";
    zf_set_info("ZFENC v1.0 saver name that is longer than thirty", 24, -1, -1, 3, 4, 0);
    zf_file *f = zf_create(path.c_str(), "", nullptr, "an artist name of more than 18", -3);
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(zf_close(f), 0);
    Bytes b = zt::read_file(path);
    ASSERT_EQ(b.size(), 125u + 8u);
    EXPECT_EQ(text(b, 0, 4), "ZFDT");
    EXPECT_EQ(text(b, 4, 18), "an artist name of ");
    EXPECT_EQ(text(b, 22, 8), "photo   ");
    EXPECT_EQ(text(b, 30, 2), "\r\n");
    EXPECT_EQ(text(b, 32, 30), std::string(30, ' '));
    EXPECT_EQ(text(b, 64, 30), "ZFENC v1.0 saver name that is ");
    EXPECT_EQ(text(b, 94, 3), "\r\n\x1a");
    EXPECT_EQ(b[97], 0);
    EXPECT_EQ(u16(b, 98), 0);
    EXPECT_EQ(s16(b, 100), -3);
    EXPECT_NE(u32(b, 102), 0u);
    EXPECT_EQ(u32(b, 106), 125u);
    EXPECT_EQ(s16(b, 110), 24);
    EXPECT_EQ(s16(b, 112), 3);
    EXPECT_EQ(s16(b, 114), 4);
    EXPECT_EQ(s16(b, 116), 0); // no blocks: the running maximum stays 0
    EXPECT_EQ(u32(b, 120), 0u);
    EXPECT_EQ(b[124], 0);                       // empty comment
    EXPECT_EQ(Bytes(b.begin() + 125, b.end()), Bytes(8, 0)); // end marker
}

TEST_F(Container, SubtitleTakesBaseNameAfterEverySeparator)
{
    // ':' and '\\' are ordinary name characters here, so every rule can be
    // tried on real files.
    for (auto [name, expect] : {std::pair{"a:b\\dd.e.f", "dd      "}, std::pair{"x\\y:z", "z       "},
                                std::pair{"longername123.zf", "longerna"}, std::pair{"A.B.ZF", "A       "}}) {
        const std::string path = dir / name;
        zf_set_info("", 24, -1, -1, 1, 1, 0);
        zf_file *f = zf_create(path.c_str(), "", nullptr, "", 0);
        ASSERT_NE(f, nullptr) << name;
        ASSERT_EQ(zf_close(f), 0);
        EXPECT_EQ(text(zt::read_file(path), 22, 8), expect) << name;
    }
}

TEST_F(Container, PaletteAndCommentPlaceFirstBlockAt898)
{
    const std::string path = dir / "pal.ZF";
    unsigned char pal[768];
    for (int i = 0; i < 768; ++i)
        pal[i] = static_cast<unsigned char>(i * 7);
    zf_set_info("s", 8, -1, -1, 1, 1, 0);
    zf_set_palette(256, 8, pal);
    zf_file *f = zf_create(path.c_str(), "t", "ab", "a", 1);
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(zf_close(f), 0);
    Bytes b = zt::read_file(path);
    EXPECT_EQ(u16(b, 98), 1);
    EXPECT_EQ(b[124], 8);
    EXPECT_EQ(u16(b, 125), 256);
    EXPECT_EQ(Bytes(b.begin() + 127, b.begin() + 127 + 768), Bytes(pal, pal + 768));
    EXPECT_EQ(text(b, 895, 3), std::string("ab\0", 3));
    EXPECT_EQ(u32(b, 106), 898u);

    zf_file *r = zf_open(path.c_str());
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->n_pal, 256);
    EXPECT_EQ(r->n_bits, 8);
    EXPECT_EQ(std::memcmp(r->palette, pal, 768), 0);
    EXPECT_STREQ(r->comment, "ab");
    EXPECT_EQ(zf_first_block(r), 0);
    EXPECT_EQ(zf_close(r), 0);
}

TEST_F(Container, CommentLineEndsBecomeCrLf)
{
    const std::string path = dir / "c.ZF";
    zf_set_info("", 24, -1, -1, 1, 1, 0);
    zf_file *f = zf_create(path.c_str(), "", "p\nq\r\nr\rs", "", 0);
    ASSERT_NE(f, nullptr);
    zf_close(f);
    Bytes b = zt::read_file(path);
    EXPECT_EQ(text(b, 124, 11), std::string("p\r\nq\r\nr\r\ns\0", 11));
    EXPECT_EQ(u32(b, 106), 135u);
}

TEST_F(Container, BlockHeadersLengthsAndRunningMaximum)
{
    const std::string path = dir / "blocks.ZF";
    write_blocks(path, {{10, 0, 100, 50}, {0, 60, 80, 40}});
    Bytes b = zt::read_file(path);
    EXPECT_EQ(s16(b, 116), 110);
    EXPECT_EQ(s16(b, 118), 100);
    const size_t first = 125;
    EXPECT_EQ(text(b, first, 4), "ZFBI");
    EXPECT_EQ(u32(b, first + 4), 26u + 100 * 50 * 3);
    EXPECT_EQ(u16(b, first + 8), 0);
    EXPECT_EQ(s16(b, first + 10), 100);
    EXPECT_EQ(s16(b, first + 12), 50);
    EXPECT_EQ(s16(b, first + 14), 10);
    EXPECT_EQ(s16(b, first + 16), 0);
    const size_t second = first + 26 + 100 * 50 * 3;
    EXPECT_EQ(s16(b, second + 16), 60);
    EXPECT_EQ(b.size(), second + 26 + 80 * 40 * 3 + 8);
}

TEST_F(Container, MaximumGivenIsKeptAndNegativeXCountsFromZero)
{
    const std::string a = dir / "a.ZF", c = dir / "c.ZF", d = dir / "d.ZF";
    write_blocks(a, {{0, 0, 100, 1}, {50, 0, 100, 1}});
    EXPECT_EQ(s16(zt::read_file(a), 116), 150);
    write_blocks(c, {{0, 0, 100, 1}, {50, 0, 100, 1}}, 0, 0);
    EXPECT_EQ(s16(zt::read_file(c), 116), 0);
    write_blocks(d, {{-5, -2, 20, 3}});
    Bytes b = zt::read_file(d);
    EXPECT_EQ(s16(b, 116), 20);
    EXPECT_EQ(s16(b, 118), 3);
    EXPECT_EQ(s16(b, 125 + 14), -5); // stored as given
}

TEST_F(Container, ExtraValueIsStoredWithItsFlag)
{
    const std::string path = dir / "x.ZF";
    zf_set_info("", 8, -1, -1, 1, 1, 0);
    zf_file *f = zf_create(path.c_str(), "", nullptr, "", 0);
    uint32_t *line = nullptr;
    ASSERT_EQ(zf_begin_write(f, &line, 0, 0, 2, 1, "ZFBI", 0x12345678), 0);
    line[0] = 1;
    line[1] = 2;
    EXPECT_EQ(zf_line(f, &line), -2);
    ASSERT_EQ(zf_close(f), 0);
    Bytes b = zt::read_file(path);
    EXPECT_EQ(u16(b, 125 + 8), 1);
    EXPECT_EQ(u32(b, 125 + 18), 0x12345678u);
    EXPECT_EQ(u32(b, 125 + 4), 28u);
}

TEST_F(Container, WalkSkipsUnknownTagAndStopsAtEnd)
{
    const std::string path = dir / "walk.ZF";
    write_blocks(path, {{0, 0, 4, 2}, {0, 2, 4, 2}, {0, 4, 4, 2, "ZFBM"}});
    Bytes b = zt::read_file(path);
    const size_t second = 125 + 26 + 24;
    std::memcpy(&b[second], "ABCD", 4);
    zt::write_file(path, b);

    zf_file *f = zf_open(path.c_str());
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(zf_first_block(f), 1);
    EXPECT_EQ(zf_next_block(f), 2);
    zf_errno = 0;
    EXPECT_EQ(zf_begin_read(f), -1);
    EXPECT_EQ(zf_errno, ZF_ERR_FORMAT);
    zf_close(f);

    f = zf_open(path.c_str());
    ASSERT_NE(f, nullptr);
    std::vector<int> walk{zf_first_block(f)};
    while (walk.back() > 0)
        walk.push_back(zf_next_block(f));
    EXPECT_EQ(walk, (std::vector<int>{1, 2, 1, 0}));
    EXPECT_EQ(zf_next_block(f), 0);
    EXPECT_EQ(zf_close(f), 0);
}

TEST_F(Container, PrefixOf128BytesIsSkippedAndKeptOnAppend)
{
    const std::string path = dir / "pre.ZF";
    write_blocks(path, {{0, 0, 3, 2}});
    Bytes b = zt::read_file(path);
    Bytes with_prefix(128 + b.size(), 'x');
    std::memcpy(with_prefix.data() + 128, b.data(), b.size());
    zt::write_file(path, with_prefix);

    zf_file *f = zf_open(path.c_str());
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(zf::rec(f)->base, 128);
    EXPECT_EQ(zf_seek(f, 0), 0);
    EXPECT_EQ(zf_tell(f), 0);
    ASSERT_EQ(zf_first_block(f), 1);
    ASSERT_EQ(zf_begin_read(f), 0);
    uint32_t *line = nullptr;
    EXPECT_EQ(zf_line(f, &line), 0);
    EXPECT_EQ(line[2], 2u);
    EXPECT_EQ(zf_line(f, &line), 1);
    EXPECT_EQ(line[1], 257u);
    EXPECT_EQ(zf_line(f, &line), -2);
    EXPECT_EQ(zf_close(f), 0);

    zf_set_info("appender", 24, -1, -1, 1, 1, 0);
    f = zf_open_append(path.c_str(), "ignored", "ignored", "new artist", 9);
    ASSERT_NE(f, nullptr);
    uint32_t *w = nullptr;
    ASSERT_EQ(zf_begin_write(f, &w, 3, 0, 2, 1, "ZFBM", -1), 0);
    w[0] = w[1] = 0xABCDEF;
    EXPECT_EQ(zf_line(f, &w), -2);
    ASSERT_EQ(zf_close(f), 0);

    Bytes after = zt::read_file(path);
    EXPECT_EQ(Bytes(after.begin(), after.begin() + 128), Bytes(128, 'x'));
    EXPECT_EQ(text(after, 128 + 4, 10), "new artist");
    EXPECT_EQ(text(after, 128 + 32, 5), "title");
    f = zf_open(path.c_str());
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(zf_first_block(f), 1);
    EXPECT_EQ(zf_next_block(f), 1);
    EXPECT_EQ(block_field(f, ZF_B_X), 3);
    EXPECT_EQ(zf_next_block(f), 0);
    zf_close(f);
}
