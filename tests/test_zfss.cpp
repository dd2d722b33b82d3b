// The ZFSS coding: its byte vectors, the number code and the folding, and
// the link choice and cache seen through the probabilities they leave.
// Round trips, cuts and damage are in test_codings; the coder's output is
// pinned byte for byte by test_golden.
#include "codec_run.h"
#include "harness.h"
#include "zefa.h"
#include "zfss_model.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <unistd.h>


namespace {

using namespace zt;
using Decisions = std::vector<std::pair<int, unsigned>>; // (bit, context)

Coded encode(const std::string &path, int depth, const Image &img) { return zt::encode(path, depth, img, "ZFSS"); }

// The probability of context c, from the table that opens the payload.
unsigned prob(const Coded &c, unsigned context)
{
    return c.payload[2 * context] << 8 | c.payload[2 * context + 1];
}

struct Recorder {
    Decisions seen;
    void zfss_encode_bit(int bit, unsigned context) { seen.emplace_back(bit != 0, context); }
};

struct Replayer {
    Decisions list;
    size_t at = 0;
    int zfss_decode_bit(unsigned context)
    {
        EXPECT_LT(at, list.size());
        EXPECT_EQ(list[at].second, context);
        return list[at++].first;
    }
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
    for (int v = 0; v < 256; ++v) {
        Recorder r;
        zfss::zfss_put_number(r, v, 48);
        Replayer back{r.seen};
        EXPECT_EQ(zfss::zfss_get_number(back, 48), v);
        EXPECT_EQ(back.at, r.seen.size());
    }
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
    // a one-to-one mapping onto 0 .. M for every prediction
    for (int max : {31, 255})
        for (int p = 0; p <= max; ++p) {
            std::vector<bool> used(static_cast<size_t>(max) + 1);
            for (int a = 0; a <= max; ++a) {
                const int t = zfss::zfss_fold(a, p, max);
                ASSERT_TRUE(t >= 0 && t <= max && !used[static_cast<size_t>(t)]) << max << " " << p << " " << a;
                used[static_cast<size_t>(t)] = true;
                ASSERT_EQ(zfss::zfss_unfold_number(t, p, max), a);
            }
        }
}

// The link choice, seen through the probabilities of the link contexts.
// Line 0 holds v, w, v, x; line 1 has its only uncovered change point of
// value v at position 2.  The change point at 0 passes over position 2
// (kind 0), because the one at 2 reaches it with kind 1.
TEST_F(Zfss, LinkChoiceLeavesPositionTwoAway)
{
    const uint32_t v = 0x102030, w = 0x405060, x = 0x708090;
    const Coded c = encode(path, 24, {{v, w, v, x}, {x, x, v, v}});
    EXPECT_EQ(decode(path), (Image{{v, w, v, x}, {x, x, v, v}}));
    // group 0: four first decisions, one of them 0 (the kind 1)
    EXPECT_EQ(prob(c, 80), 0x4000u);
    EXPECT_EQ(prob(c, 81), 0u);      // the kind 1 closes with a 1
    EXPECT_EQ(prob(c, 82), 0xFFFFu); // no kind 2 to 5 was tried
    // the last line sends no links: no group 1 decisions
    EXPECT_EQ(prob(c, 86), 0xFFFFu);
}

TEST_F(Zfss, CacheHitsAndExchanges)
{
    // Four colours in turn, all in one bucket (line 0 has 0 above).  After
    // four misses the bucket reads d, c, b, a; a hit at j moves entry j/2 to
    // j and entry 0 to j/2, so the hits alternate between indices 3 and 2
    // (a plain move to front would give 3 every time).
    Image img(1, std::vector<uint32_t>());
    for (int k = 0; k < 60; ++k)
        img[0].push_back(static_cast<uint32_t>(0x10 + 0x10 * (k % 4)) << 16);
    const Coded c = encode(path, 24, img);
    EXPECT_EQ(decode(path), img);
    EXPECT_EQ(prob(c, 16), 0x10000u / 5); // four misses, then the first hit
    EXPECT_EQ(prob(c, 15), 0xFFFFu);      // every later one a hit
    EXPECT_EQ(prob(c, 18), 0x8000u);      // index 3 (0 here) and 2 (1) alike
    EXPECT_EQ(prob(c, 19), 0u);           // only index 3 gets this far
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

// The coder against a bit-at-a-time model of its carry rules (held zero,
// pending ones, one output bit at a time), over long streams whose
// probabilities run from 0 to 0xFFFF, so that carries, long runs of
// pending ones and full stream buffers all occur; the decoder gives every
// decision back.
namespace {

struct ModelCoder {
    // the interval table laid out as rows of 128 contexts, one per top byte
    explicit ModelCoder(const zfss::ProbTable &prob) : table(16384)
    {
        for (unsigned i = 0; i < 16384; ++i)
            table[i] = static_cast<uint16_t>(std::max(1u, prob[i & 127] * ((i >> 7) + 128) / 256));
    }
    std::vector<uint16_t> table;
    uint32_t range = 0xFFFF, low = 0, pending = 0, acc = 0, bits = 0;
    bool held = false;
    Bytes out;
    void put(uint32_t b)
    {
        acc = acc << 1 | b;
        if (++bits == 8) {
            out.push_back(static_cast<uint8_t>(acc));
            bits = 0;
        }
    }
    void shift_zero()
    {
        if (held)
            put(0);
        for (; pending > 0; --pending)
            put(1);
        held = true;
    }
    void shift()
    {
        if (low >= 0x8000)
            ++pending;
        else
            shift_zero();
        low = (low << 1) & 0xFFFF;
    }
    void code(int bit, unsigned c)
    {
        const uint32_t t = table[c + ((range >> 1) & 0x3F80)];
        if (bit) {
            if (low + t >= 0x10000) { // carry
                put(1);
                held = pending > 0;
                for (; pending > 1; --pending)
                    put(0);
                pending = 0;
            }
            low = (low + t) & 0xFFFF;
            range -= t;
        } else {
            range = t;
        }
        for (; range < 0x8000; range <<= 1)
            shift();
    }
    void finish()
    {
        for (int k = 0; k < 16; ++k)
            shift();
        shift_zero();
        out.push_back(static_cast<uint8_t>(acc << (8 - bits)));
    }
};

} // namespace

TEST_F(Zfss, CoderMatchesTheBitAtATimeCarryRules)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 3; ++round) {
        zf_params p = params(24);
        zf_file *file = zf_create_with(path.c_str(), "", nullptr, "", 0, &p);
        ASSERT_NE(file, nullptr);
        uint32_t *line = nullptr;
        ASSERT_EQ(zf_begin_write(file, &line, 0, 0, 8, 8, "ZFSS", -1), 0);
        zf::Record *f = zf::rec(file);
        zfss::ProbTable prob{};
        for (auto &q : prob) {
            const uint32_t kind = rng() % 4;
            q = static_cast<uint16_t>(kind == 0 ? 0 : kind == 1 ? 0xFFFF : kind == 2 ? rng() % 64 : rng());
        }
        zfss::zfss_build_intervals(f, prob);
        std::vector<std::pair<int, unsigned>> seen;
        for (int k = 0; k < 300000; ++k) {
            const unsigned c = rng() % zfss::kContexts;
            // mostly the likely outcome, sometimes the other
            const int likely = prob[c] >= 0x8000 ? 0 : 1;
            seen.emplace_back(rng() % 16 == 0 ? 1 - likely : likely, c);
        }
        const long start = lseek(f->fd, 0, SEEK_CUR);
        zfss::Encoder enc(f);
        enc.start();
        ModelCoder model(prob);
        for (size_t k = 0; k < seen.size(); ++k) {
            enc.zfss_encode_bit(seen[k].first, seen[k].second);
            model.code(seen[k].first, seen[k].second);
            if (k % 1000 == 0) { // the state survives a line's end
                enc.store();
                enc = zfss::Encoder(f);
            }
        }
        enc.zfss_finish();
        model.finish();
        ASSERT_GT(model.out.size(), 8192u);
        const Bytes file_bytes = zt::read_file(path);
        ASSERT_EQ(Bytes(file_bytes.begin() + start, file_bytes.end()), model.out) << round;

        lseek(f->fd, start, SEEK_SET);
        zfss::Decoder dec(f);
        dec.start();
        for (size_t k = 0; k < seen.size(); ++k) {
            const int bit = k % 2 ? dec.zfss_decode_bit(seen[k].second) : dec.decide_predicted(seen[k].second);
            ASSERT_EQ(bit, seen[k].first) << k;
            if (k % 1000 == 0) {
                dec.store();
                dec = zfss::Decoder(f);
            }
        }
        zf_close(file);
    }
}
