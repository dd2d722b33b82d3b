// The block codings.  Every tag at every depth: round trips of noise in wide
// lines (small shapes of few colours are fuzz_roundtrip's, replayed over its
// kept inputs), every cut of a file that holds them all, and header fields
// made invalid on purpose (random damage is the fuzz targets' part).  Then
// the fast coding's edge cases and the line calls' returns (the stored
// bytes are test_golden's).  Under the sanitizers any access outside a buffer fails here too.
#include "codec_run.h"
#include "harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace {

using namespace zt;

constexpr const char *kTags[] = {"ZFBI", "ZFBM", "ZFSF", "ZFSS"};
constexpr int kDepths[] = {8, 15, 24};
bool compressed(const char *tag) { return tag[2] == 'S'; }

// A sound file of one depth: a palette at depth 8, a comment, and each
// coding twice (one and thirteen pixels wide), each block at its own place.
struct Sound {
    Bytes bytes;
    std::vector<Block> blocks;
    std::vector<size_t> starts; // where each block starts; the last is the end marker
};

Sound sound_file(const TempDir &dir, int depth)
{
    std::mt19937 rng(7);
    Sound s;
    for (const char *tag : kTags)
        for (int w : {1, 13})
            s.blocks.push_back({2, 7 * static_cast<int>(s.blocks.size()), tag, random_image(rng, depth, w, 7, 12)});
    // a file of the first k blocks has its end marker where block k starts
    for (size_t k = 0; k <= s.blocks.size(); ++k) {
        const std::vector<Block> first(s.blocks.begin(), s.blocks.begin() + static_cast<long>(k));
        s.bytes = write_zefa(dir / "sound.ZF", params(depth), first, {"t", "line one\nline two", "a", 1});
        s.starts.push_back(s.bytes.size() - 8);
    }
    return s;
}

} // namespace

TEST(Codings, RoundTripsAtEveryTagAndDepth)
{
    TempDir dir;
    const std::string path = dir / "r.ZF";
    std::mt19937 rng(4);
    for (const char *tag : kTags)
        for (int depth : kDepths) {
            // noise in lines wider than fuzz_roundtrip's, over several stream buffers
            const Image noisy = random_image(rng, depth, 1001, 24, 100000);
            const Coded c = encode(path, depth, noisy, tag);
            EXPECT_GT(c.payload.size(), depth == 24 ? 2 * 8192u : 0u) << tag;
            EXPECT_EQ(decode(path), noisy) << tag << " " << depth;
            // the compressed codings mask values outside the pixel form when they take a line
            const Image wild{{0xFFFFFFFF, 0x12345, 0x7F123456, 0x100}};
            encode(path, depth, wild, tag);
            if (compressed(tag)) {
                EXPECT_EQ(decode(path)[0], (std::vector<uint32_t>{masked(depth, 0xFFFFFFFF), masked(depth, 0x12345),
                                                                  masked(depth, 0x7F123456), masked(depth, 0x100)}));
            }
        }
}

// Cut at every byte, read from a file or from memory: the lines before the
// cut come back as written, every block whose bytes all came comes back
// whole, and the read ends in "the file ended too early" (257) once the
// magic is there; the record keeps the error.  A failed line call stays
// failed.
TEST(Codings, EveryCutGivesTheLinesBeforeItThenEndOfFile)
{
    TempDir dir;
    for (int depth : kDepths) {
        const Sound s = sound_file(dir, depth);
        size_t before = 0; // lines at the previous cut: never fewer with more bytes
        for (size_t n = 0; n <= s.bytes.size(); ++n) {
            const Bytes cut(s.bytes.begin(), s.bytes.begin() + static_cast<long>(n));
            if (n % 2 == 0)
                write_file(dir / "cut.ZF", cut);
            const ReadBack r = n % 2 ? read_back(cut) : read_back(dir / "cut.ZF");
            const std::string at = std::to_string(depth) + " bits, cut at " + std::to_string(n);
            // too short for the magic: not a ZEFA file (258)
            ASSERT_EQ(r.error, n < 4 ? ZF_ERR_FORMAT : n < s.bytes.size() ? ZF_ERR_EOF : 0) << at;
            ASSERT_EQ(r.close, r.opened && !r.error ? 0 : -1) << at;
            const auto whole = std::count_if(s.starts.begin() + 1, s.starts.end(), [n](size_t e) { return e <= n; });
            ASSERT_GE(r.blocks.size(), static_cast<size_t>(whole)) << at;
            ASSERT_LE(r.blocks.size(), s.blocks.size()) << at;
            size_t lines = 0;
            for (size_t k = 0; k < r.blocks.size(); ++k) {
                const ReadBlock &b = r.blocks[k];
                const Image &want = s.blocks[k].lines;
                ASSERT_STREQ(b.head.tag, s.blocks[k].tag) << at;
                ASSERT_TRUE(b.lines.size() <= want.size() && std::equal(b.lines.begin(), b.lines.end(), want.begin()))
                    << at << " block " << k;
                if (static_cast<long>(k) < whole) {
                    ASSERT_EQ(b.lines.size(), want.size()) << at << " block " << k;
                }
                if (b.lines.size() < want.size() && !b.returns.empty()) {
                    ASSERT_EQ(std::vector<int>(b.returns.begin() + static_cast<long>(b.lines.size()), b.returns.end()),
                              (std::vector<int>{-1, -1})) << at << " block " << k;
                }
                lines += b.lines.size();
            }
            ASSERT_GE(lines, before) << at;
            before = lines;
        }
        EXPECT_EQ(before, 8u * 7u);
    }
}

// Each field made invalid on purpose is refused as a bad format, at open
// when the header shows it, else when the walk reaches the block.
TEST(Codings, InvalidFieldsAreBadFormat)
{
    TempDir dir;
    const Sound pal8 = sound_file(dir, 8), plain = sound_file(dir, 24);
    const size_t first = plain.starts[0];
    const auto put = [](Bytes b, size_t at, uint32_t v, int size) {
        for (int i = 0; i < size; ++i)
            b[at + i] = static_cast<uint8_t>(v >> (8 * (size - 1 - i)));
        return b;
    };
    struct Case {
        const char *what;
        Bytes bytes;
        bool at_open;
    };
    // one value for each check (no palette entries, a first block inside the header, a block length
    // of 0 or a negative width meet the same ones as their neighbours)
    const Case cases[] = {
        {"palette count 257", put(pal8.bytes, 125, 257, 2), true},
        {"first block inside the palette", put(pal8.bytes, ZF_H_FIRST, 200, 4), true},
        {"first block far past the end", put(plain.bytes, ZF_H_FIRST, 0x7FFFFFF0u, 4), false},
        {"block length 25", put(plain.bytes, first + ZF_B_LENGTH, 25, 4), false},
        {"block length huge", put(plain.bytes, first + ZF_B_LENGTH, 0xFFFFFFF0u, 4), false},
        {"width 0", put(plain.bytes, first + ZF_B_WIDTH, 0, 2), false},
        {"width 32760", put(plain.bytes, first + ZF_B_WIDTH, 32760, 2), false},
        {"height 0", put(plain.bytes, first + ZF_B_HEIGHT, 0, 2), false},
    };
    for (const Case &c : cases) {
        const ReadBack r = read_back(c.bytes);
        EXPECT_FALSE(c.at_open && r.opened) << c.what;
        EXPECT_TRUE(r.blocks.empty()) << c.what;
        EXPECT_TRUE(r.error == ZF_ERR_FORMAT || (!c.at_open && r.error == ZF_ERR_EOF)) << c.what << " " << r.error;
    }
}

class Coding : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir / "c.ZF";
};

// Packed 15-bit lines hold the stored bytes and pass unchanged both ways.
TEST_F(Coding, PackedLinesPassUnchanged)
{
    zf_params p = params(15);
    p.packed = 1;
    uint32_t stored; // the line buffer holds the stored bytes themselves
    std::memcpy(&stored, "\x12\x34\x56\x78", 4);
    const Bytes b = write_zefa(path, p, {{0, 0, "ZFBI", {{stored, 0}}}});
    EXPECT_EQ(Bytes(b.begin() + 151, b.begin() + 155), (Bytes{0x12, 0x34, 0x56, 0x78}));
    zf_set_info("", 15, -1, -1, 1, 1, 1); // a reader takes no process-wide setting
    EXPECT_EQ(read_back(path).blocks.at(0).lines[0][0], 0x3412u);
    zf_set_info("", 15, -1, -1, 1, 1, 0);
    zf_file *f = zf_open(path.c_str()); // but packs when its record asks
    ASSERT_EQ(zf_set_packed(f, 1), 0);
    ASSERT_EQ(zf_first_block(f), 1);
    ASSERT_EQ(zf_begin_read(f), 0);
    uint32_t *line = nullptr;
    ASSERT_EQ(zf_line(f, &line), 0);
    EXPECT_EQ(line[0], stored);
    zf_close(f);
}

// A block left unfinished is dropped at close; geometry outside the limits
// and unknown tags are refused without harming the file.
TEST_F(Coding, UnfinishedBlocksAndRefusedGeometry)
{
    const zf_params p = params(24);
    zf_file *f = zf_create_with(path.c_str(), "", nullptr, "", 0, &p);
    uint32_t *line = nullptr;
    ASSERT_EQ(zf_begin_write(f, &line, 0, 0, 4, 3, "ZFBI", -1), 0);
    EXPECT_EQ(zf_line(f, &line), 1);
    ASSERT_EQ(zf_close(f), 0);
    EXPECT_TRUE(read_back(path).blocks.empty());

    f = zf_create_with(path.c_str(), "", nullptr, "", 0, &p);
    for (auto [w, h] : {std::pair{0, 1}, std::pair{1, 0}, std::pair{32760, 1}, std::pair{-3, 5}, std::pair{5, 40000}}) {
        zf_errno = 0;
        EXPECT_EQ(zf_begin_write(f, &line, 0, 0, w, h, "ZFBI", -1), -1) << w << "x" << h;
        EXPECT_EQ(zf_errno, ZF_ERR_MISUSE);
    }
    EXPECT_EQ(zf_begin_write(f, &line, 0, 0, 32759, 1, "ZFBI", -1), 0);
    EXPECT_EQ(zf_begin_write(f, &line, 0, 0, 4, 1, "ABCD", -1), -1);
    EXPECT_EQ(zf_errno, ZF_ERR_MISUSE);
    EXPECT_EQ(zf_close(f), 0);
}

// Round trips at the fast coding's edges (its stored bytes are the golden
// digests' part): flat blocks, 8 bits in pairs with a change point at a
// line's first unit and an odd width, runs of 1501, 90001 (a 33-bit count)
// and counts too long to share one 56-bit window with the colour and link
// before them; vertical stripes queue 1023 link codes and write the escape.
TEST_F(Coding, FastLongRunsAndTheEscape)
{
    std::vector<std::pair<int, Image>> cases = {{24, Image(2, std::vector<uint32_t>(4, 0))}, {24, {{0, 7}, {0, 7}}}, {24, {{1}}},
        {8, {{0, 5}, {5, 5}}}, {8, {{1, 2, 3}, {3, 2, 1}, {9, 9, 9}}}, {24, Image(1, std::vector<uint32_t>(1501, 9))},
        {24, Image(300, std::vector<uint32_t>(300, 0))}};
    for (size_t rows : {9u, 17u, 41u}) { // runs of 8998, 16998 and 40998
        cases.push_back({24, Image(rows, std::vector<uint32_t>(1000, 5))});
        cases.back().second[0][0] = 1;
    }
    const std::pair<int, int> stripe_cases[] = {{24, 1200}, {8, 2047}, {8, 2048}, {8, 2049}, {15, 2047}, {15, 2048}, {15, 2049}};
    for (auto [depth, w] : stripe_cases) {
        Image stripes(4, std::vector<uint32_t>(static_cast<size_t>(w)));
        for (auto &row : stripes)
            for (size_t x = 0; x < row.size(); ++x)
                row[x] = masked(depth, depth == 24 ? ((x & 1) ? 0xFFFFFF : 0) : (x % 3) ? 0x1234 : 0x4321);
        cases.push_back({depth, stripes});
    }
    for (const auto &[depth, img] : cases) {
        encode(path, depth, img, "ZFSF");
        ASSERT_EQ(decode(path), img) << depth << " bits, " << img[0].size() << " x " << img.size();
    }
    EXPECT_EQ(encode(path, 24, {{0, 7}, {0, 7}}, "ZFSF").returns, (std::vector<int>{1, -2}));
}

// The returns of a line call: the uncompressed codings line by line,
// ZFSS the lines twice, a return of 0 starting the second pass.
TEST_F(Coding, ReturnsOfTheLineCalls)
{
    EXPECT_EQ(encode(path, 24, {{1, 2, 3, 4}, {5, 6, 7, 8}}, "ZFBI").returns, (std::vector<int>{1, -2}));
    EXPECT_EQ(read_back(path).blocks.at(0).returns, (std::vector<int>{0, 1, -2}));
    EXPECT_EQ(encode(path, 8, {{1}, {2}, {3}}, "ZFBI").returns, (std::vector<int>{1, 2, -2}));
    for (int depth : {8, 15, 24}) {
        EXPECT_EQ(encode(path, depth, {{0}}, "ZFSS").returns, (std::vector<int>{0, -2}));
        EXPECT_EQ(decode(path), (Image{{0}}));
    }
    EXPECT_EQ(encode(path, 24, Image(3, {1, 2}), "ZFSS").returns, (std::vector<int>{1, 2, 0, 1, 2, -2}));
    EXPECT_EQ(decode(path), Image(3, {1, 2}));
}

TEST_F(Coding, ZfssRefusesOtherDepths)
{
    zf_params p = params(24);
    p.depth = 4;
    zf_file *f = zf_create_with(path.c_str(), "", nullptr, "", 0, &p);
    ASSERT_NE(f, nullptr);
    uint32_t *line = nullptr;
    EXPECT_EQ(zf_begin_write(f, &line, 0, 0, 4, 4, "ZFSS", -1), -1);
    EXPECT_EQ(zf_errno, ZF_ERR_FORMAT);
    zf_close(f);

    encode(path, 24, {{1, 2}}, "ZFSS");
    Bytes b = zt::read_file(path);
    b[ZF_H_DEPTH] = 0;
    b[ZF_H_DEPTH + 1] = 16;
    zt::write_file(path, b);
    EXPECT_TRUE(decode(path).empty());
    EXPECT_EQ(read_back(path).error, ZF_ERR_FORMAT);
}
