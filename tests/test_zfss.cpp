// The ZFSS coding: its byte vectors, the number code and the folding.
// Round trips, cuts and damage are in test_codings; the coder's output (its
// model's links and cache, its carries) is pinned byte for byte by test_golden.
#include "codec_run.h"
#include "harness.h"
#include "zefa.h"
#include "zfss_model.h"

#include <gtest/gtest.h>

namespace {

using namespace zt;
using Decisions = std::vector<std::pair<int, unsigned>>; // (bit, context)

Coded encode(const std::string &path, int depth, const Image &img) { return zt::encode(path, depth, img, "ZFSS"); }

struct Recorder {
    Decisions seen;
    void zfss_encode_bit(int bit, unsigned context) { seen.emplace_back(bit != 0, context); }
};

class Zfss : public ::testing::Test {
protected:
    zt::TempDir dir;
    std::string path = dir / "s.ZF";
};

} // namespace

TEST_F(Zfss, OnePixelOfZeroAtEveryDepthAndReturnsOfBothPasses)
{
    Bytes expected(256, 0xFF);
    expected.insert(expected.end(), 3, 0x00);
    for (int depth : {8, 15, 24}) {
        const Coded c = encode(path, depth, {{0}});
        EXPECT_EQ(c.payload, expected) << depth;
        EXPECT_EQ(c.returns, (std::vector<int>{0, -2}));
        EXPECT_EQ(decode(path), (Image{{0}}));
    }
    EXPECT_EQ(encode(path, 24, Image(3, {1, 2})).returns, (std::vector<int>{1, 2, 0, 1, 2, -2}));
    EXPECT_EQ(decode(path), Image(3, {1, 2}));
}

TEST_F(Zfss, NumberCode)
{
    Recorder five;
    zfss::zfss_put_number(five, 5, 32);
    EXPECT_EQ(five.seen, (Decisions{{0, 32}, {0, 33}, {1, 34}, {0, 40}, {1, 41}}));
    Recorder thirty;
    zfss::zfss_put_number(thirty, 30, 17);
    EXPECT_EQ(thirty.seen, (Decisions{{0, 17}, {0, 18}, {0, 19}, {0, 20}, {1, 21}, {1, 25}, {1, 26}, {1, 27}, {1, 28}}));
    Recorder top;
    zfss::zfss_put_number(top, 255, 64);
    EXPECT_EQ(top.seen, (Decisions{{0, 64}, {0, 65}, {0, 66}, {0, 67}, {0, 68}, {0, 69}, {0, 70}, {0, 71}}));
}

TEST_F(Zfss, FoldingOfComponents)
{
    const int small[12] = {6, 4, 2, 0, 1, 3, 5, 7, 8, 9, 10, 11};
    for (int a = 0; a < 12; ++a)
        EXPECT_EQ(zfss::zfss_fold(a, 3, 31), small[a]) << a;
    EXPECT_EQ(zfss::zfss_fold(200, 200, 255), 0);
    EXPECT_EQ(zfss::zfss_fold(201, 200, 255), 1);
    EXPECT_EQ(zfss::zfss_fold(199, 200, 255), 2);
    EXPECT_EQ(zfss::zfss_fold(255, 200, 255), 109);
    EXPECT_EQ(zfss::zfss_fold(145, 200, 255), 110);
    EXPECT_EQ(zfss::zfss_fold(144, 200, 255), 111);
    EXPECT_EQ(zfss::zfss_fold(0, 200, 255), 255);
}

TEST_F(Zfss, OtherDepthsAreRefused)
{
    zf_params p = params(24);
    p.depth = 4;
    zf_file *f = zf_create_with(path.c_str(), "", nullptr, "", 0, &p);
    ASSERT_NE(f, nullptr);
    uint32_t *line = nullptr;
    EXPECT_EQ(zf_begin_write(f, &line, 0, 0, 4, 4, "ZFSS", -1), -1);
    EXPECT_EQ(zf_errno, ZF_ERR_FORMAT);
    zf_close(f);

    encode(path, 24, {{1, 2}});
    Bytes b = zt::read_file(path);
    b[ZF_H_DEPTH] = 0;
    b[ZF_H_DEPTH + 1] = 16;
    zt::write_file(path, b);
    int last = 0, error = 0;
    EXPECT_TRUE(decode(path, &last, &error).empty());
    EXPECT_EQ(error, ZF_ERR_FORMAT);
}
