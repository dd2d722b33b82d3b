// The ZFSF coding: the byte vectors, round trips at every depth and shape,
// the escape and long runs, and damaged streams.
#include "harness.h"
#include "zefa.h"
#include "codec_run.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using namespace zt;

Coded encode(const std::string &path, int depth, const Image &img) { return zt::encode(path, depth, img, "ZFSF"); }

class Zfsf : public ::testing::Test {
protected:
    zt::TempDir dir;
    std::string path = dir / "s.ZF";
};

} // namespace

TEST_F(Zfsf, ByteVectors)
{
    EXPECT_EQ(encode(path, 24, Image(2, std::vector<uint32_t>(4, 0))).payload, (Bytes{0xE2, 0x00}));
    EXPECT_EQ(decode(path), Image(2, std::vector<uint32_t>(4, 0)));
    EXPECT_EQ(encode(path, 24, {{1}}).payload, (Bytes{0x00, 0x00, 0x00, 0x40, 0x00}));
    EXPECT_EQ(decode(path), (Image{{1}}));
    Coded c = encode(path, 24, {{0, 7}, {0, 7}});
    EXPECT_EQ(c.payload, (Bytes{0x80, 0x00, 0x00, 0x7D, 0x04, 0x00, 0x00}));
    EXPECT_EQ(c.returns, (std::vector<int>{1, -2}));
    EXPECT_EQ(decode(path), (Image{{0, 7}, {0, 7}}));
}

TEST_F(Zfsf, RoundTripsAtEveryDepthAndShape)
{
    std::mt19937 rng(4);
    for (int depth : {8, 15, 24})
        for (auto [w, h] : {std::pair{1, 1}, std::pair{1, 7}, std::pair{2, 1}, std::pair{2, 3}, std::pair{3, 5},
                            std::pair{17, 9}, std::pair{640, 12}, std::pair{1001, 3}})
            for (int colours : {1, 3, 40, 100000}) {
                const Image img = random_image(rng, depth, w, h, colours);
                encode(path, depth, img);
                ASSERT_EQ(decode(path), img) << depth << " " << w << "x" << h << " " << colours;
            }
}

TEST_F(Zfsf, EightBitPairsAndOddWidths)
{
    // (0, 5) then (5, 5): the first unit of line 1 is a change point.
    encode(path, 8, {{0, 5}, {5, 5}});
    EXPECT_EQ(decode(path), (Image{{0, 5}, {5, 5}}));
    // Odd width: the padding pixel after the line stays out of the values.
    encode(path, 8, {{1, 2, 3}, {3, 2, 1}, {9, 9, 9}});
    EXPECT_EQ(decode(path), (Image{{1, 2, 3}, {3, 2, 1}, {9, 9, 9}}));
    // Values outside the form are masked when the line is taken.
    encode(path, 24, {{0x7F123456, 0xFF000001}});
    EXPECT_EQ(decode(path), (Image{{0x123456, 0x000001}}));
}

TEST_F(Zfsf, LongRunsAndTheEscape)
{
    // A run of 1500 repeats after one change point: written as 1501.
    Image flat(1, std::vector<uint32_t>(1501, 9));
    Coded c = encode(path, 24, flat);
    EXPECT_EQ(decode(path), flat);
    // run count 0, miss + 24 bits, link 0 (27 bits), then the count 1501:
    // v = 1502, ten ones, a zero and its ten low bits; 48 bits, then the
    // closing zero bytes.
    ASSERT_EQ(c.payload.size(), 8u);
    uint64_t bits = 0;
    for (int i = 0; i < 6; ++i)
        bits = bits << 8 | c.payload[static_cast<size_t>(i)];
    EXPECT_EQ(bits & 0x1FFFFF, (0x3FFull << 11) | (1502 & 0x3FF));

    // One flat 300 x 300 block is a single count of 90001: a 33-bit code.
    encode(path, 24, Image(300, std::vector<uint32_t>(300, 0)));
    EXPECT_EQ(decode(path), Image(300, std::vector<uint32_t>(300, 0)));

    // Vertical stripes: every unit below the first line is a claimed change
    // point, so 1023 link codes queue up and the escape is written.
    Image stripes(4, std::vector<uint32_t>(1200));
    for (auto &row : stripes)
        for (size_t x = 0; x < row.size(); ++x)
            row[x] = (x & 1) ? 0xFFFFFF : 0;
    encode(path, 24, stripes);
    EXPECT_EQ(decode(path), stripes);
    for (int depth : {8, 15})
        for (int w : {2047, 2048, 2049}) {
            Image s(3, std::vector<uint32_t>(static_cast<size_t>(w)));
            for (auto &row : s)
                for (size_t x = 0; x < row.size(); ++x)
                    row[x] = masked(depth, (x % 3) ? 0x1234 : 0x4321);
            encode(path, depth, s);
            ASSERT_EQ(decode(path), s) << depth << " " << w;
        }
}

TEST_F(Zfsf, StreamsAboveOneBufferAndEveryTruncation)
{
    std::mt19937 rng(9);
    const Image noisy = random_image(rng, 24, 200, 120, 100000);
    Coded c = encode(path, 24, noisy);
    EXPECT_GT(c.payload.size(), 8192u * 2);
    EXPECT_EQ(decode(path), noisy);

    const Image small = random_image(rng, 15, 9, 6, 20);
    encode(path, 15, small);
    const Bytes whole = zt::read_file(path);
    const std::string cut = dir / "cut.ZF";
    for (size_t n = 125 + 26; n < whole.size() - 8; ++n) {
        Bytes b(whole.begin(), whole.begin() + static_cast<long>(n));
        zt::write_file(cut, b);
        int last = 0, error = 0;
        Image got = decode(cut, &last, &error);
        ASSERT_LE(got.size(), small.size());
        for (size_t y = 0; y < got.size(); ++y)
            ASSERT_EQ(got[y], small[y]) << "cut at " << n;
        if (got.size() < small.size()) {
            EXPECT_EQ(last, -1);
            EXPECT_EQ(error, ZF_ERR_EOF);
        }
    }
}

TEST_F(Zfsf, DamagedStreamsStayInsideTheBuffers)
{
    std::mt19937 rng(11);
    for (int depth : {8, 15, 24}) {
        const Image img = random_image(rng, depth, 13, 7, 12);
        encode(path, depth, img);
        const Bytes whole = zt::read_file(path);
        for (int round = 0; round < 400; ++round) {
            Bytes b = whole;
            for (int k = 0; k < 3; ++k)
                b[125 + 26 + rng() % (b.size() - 125 - 26 - 8)] = static_cast<uint8_t>(rng());
            zt::write_file(dir / "bad.ZF", b);
            decode(dir / "bad.ZF");
        }
    }
}
