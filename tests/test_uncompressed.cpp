// The uncompressed codings: stored bytes for every depth and tag, line
// function return sequences, packed lines and short payloads.
#include "harness.h"
#include "zefa.h"
#include "record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

class Uncompressed : public ::testing::Test {
protected:
    void SetUp() override { zf::creation.n_pal = 0; }
    void TearDown() override { zf::creation.packed = 0; }

    // Writes one block of the given lines; returns the payload bytes.
    Bytes write_block(int depth, const char *tag, int width, const std::vector<std::vector<uint32_t>> &lines,
                      std::vector<int> *returns = nullptr, int packed = 0)
    {
        zf_set_info("", depth, -1, -1, 1, 1, packed);
        zf_file *f = zf_create(path.c_str(), "", nullptr, "", 0);
        EXPECT_NE(f, nullptr);
        uint32_t *line = nullptr;
        EXPECT_EQ(zf_begin_write(f, &line, 0, 0, width, static_cast<int>(lines.size()), tag, -1), 0);
        for (const auto &l : lines) {
            std::copy(l.begin(), l.end(), line);
            int r = zf_line(f, &line);
            if (returns)
                returns->push_back(r);
        }
        EXPECT_EQ(zf_close(f), 0);
        Bytes b = zt::read_file(path);
        return Bytes(b.begin() + 125 + 26, b.end() - 8);
    }

    std::vector<std::vector<uint32_t>> read_block(std::vector<int> *returns = nullptr)
    {
        zf_file *f = zf_open(path.c_str());
        EXPECT_NE(f, nullptr);
        EXPECT_EQ(zf_first_block(f), 1);
        EXPECT_EQ(zf_begin_read(f), 0);
        std::vector<std::vector<uint32_t>> lines;
        uint32_t *line = nullptr;
        const int width = zf_swap16(static_cast<uint16_t>(f->block[10] | f->block[11] << 8));
        for (;;) {
            int r = zf_line(f, &line);
            if (returns)
                returns->push_back(r);
            if (r < 0)
                break;
            lines.emplace_back(line, line + width);
        }
        zf_close(f);
        return lines;
    }

    zt::TempDir dir;
    std::string path = dir / "u.ZF";
};

} // namespace

TEST_F(Uncompressed, StoredBytesPerDepthAndTag)
{
    EXPECT_EQ(write_block(15, "ZFBM", 1, {{0x1234}}), (Bytes{0x12, 0x34}));
    EXPECT_EQ(read_block(), (std::vector<std::vector<uint32_t>>{{0x1234}}));
    EXPECT_EQ(write_block(15, "ZFBI", 1, {{0x1234}}), (Bytes{0x34, 0x12}));
    EXPECT_EQ(read_block(), (std::vector<std::vector<uint32_t>>{{0x1234}}));
    EXPECT_EQ(write_block(24, "ZFBI", 1, {{0xFFABCDEF}}), (Bytes{0xAB, 0xCD, 0xEF}));
    EXPECT_EQ(read_block(), (std::vector<std::vector<uint32_t>>{{0xABCDEF}}));
    EXPECT_EQ(write_block(8, "ZFBI", 2, {{0x1FF, 7}}), (Bytes{0xFF, 7}));
    EXPECT_EQ(read_block(), (std::vector<std::vector<uint32_t>>{{0xFF, 7}}));
}

TEST_F(Uncompressed, BlockLengthAndReturnSequences)
{
    std::vector<int> w;
    Bytes payload = write_block(24, "ZFBI", 4, {{1, 2, 3, 4}, {5, 6, 7, 8}}, &w);
    EXPECT_EQ(payload.size(), 24u);
    EXPECT_EQ(w, (std::vector<int>{1, -2}));
    Bytes file = zt::read_file(path);
    EXPECT_EQ(file[125 + 7], 50); // length 26 + 24
    std::vector<int> r;
    auto lines = read_block(&r);
    EXPECT_EQ(r, (std::vector<int>{0, 1, -2}));
    EXPECT_EQ(lines[1], (std::vector<uint32_t>{5, 6, 7, 8}));

    w.clear();
    write_block(8, "ZFBI", 3, {{1, 2, 3}}, &w);
    EXPECT_EQ(w, (std::vector<int>{-2}));
    w.clear();
    write_block(8, "ZFBI", 1, {{1}, {2}, {3}}, &w);
    EXPECT_EQ(w, (std::vector<int>{1, 2, -2}));
}

TEST_F(Uncompressed, PackedLinesPassUnchanged)
{
    zf_set_info("", 15, -1, -1, 1, 1, 1);
    zf_file *f = zf_create(path.c_str(), "", nullptr, "", 0);
    ASSERT_NE(f, nullptr);
    uint32_t *line = nullptr;
    ASSERT_EQ(zf_begin_write(f, &line, 0, 0, 2, 1, "ZFBI", -1), 0);
    const unsigned char stored[4] = {0x34, 0x12, 0x78, 0x56};
    std::memcpy(line, stored, 4);
    EXPECT_EQ(zf_line(f, &line), -2);
    ASSERT_EQ(zf_close(f), 0);
    Bytes b = zt::read_file(path);
    EXPECT_EQ(Bytes(b.begin() + 151, b.begin() + 155), Bytes(stored, stored + 4));

    zf_file *r = zf_open(path.c_str());
    ASSERT_EQ(zf_first_block(r), 1);
    ASSERT_EQ(zf_begin_read(r), 0);
    ASSERT_EQ(zf_line(r, &line), 0);
    EXPECT_EQ(std::memcmp(line, stored, 4), 0);
    zf_close(r);
}

TEST_F(Uncompressed, ShortPayloadFailsWith257AndFreesTheBlock)
{
    write_block(24, "ZFBI", 4, {{1, 2, 3, 4}, {5, 6, 7, 8}});
    Bytes b = zt::read_file(path);
    b.resize(125 + 26 + 12 + 5); // second line cut short
    zt::write_file(path, b);
    zf_file *f = zf_open(path.c_str());
    ASSERT_EQ(zf_first_block(f), 1);
    ASSERT_EQ(zf_begin_read(f), 0);
    uint32_t *line = nullptr;
    EXPECT_EQ(zf_line(f, &line), 0);
    EXPECT_EQ(zf_line(f, &line), -1);
    EXPECT_EQ(zf_errno, ZF_ERR_EOF);
    EXPECT_EQ(zf::rec(f)->line_a, nullptr);
    EXPECT_EQ(zf_line(f, &line), -1); // no block in progress any more
    EXPECT_EQ(zf_close(f), -1);        // the error stays with the record
}

TEST_F(Uncompressed, AbandonedBlockIsDroppedAtClose)
{
    zf_set_info("", 24, -1, -1, 1, 1, 0);
    zf_file *f = zf_create(path.c_str(), "", nullptr, "", 0);
    uint32_t *line = nullptr;
    ASSERT_EQ(zf_begin_write(f, &line, 0, 0, 4, 3, "ZFBI", -1), 0);
    EXPECT_EQ(zf_line(f, &line), 1);
    ASSERT_EQ(zf_close(f), 0);
    zf_file *r = zf_open(path.c_str());
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(zf_first_block(r), 0);
    zf_close(r);
}

TEST_F(Uncompressed, GeometryOutsideTheLimitsIsRefused)
{
    zf_set_info("", 24, -1, -1, 1, 1, 0);
    zf_file *f = zf_create(path.c_str(), "", nullptr, "", 0);
    uint32_t *line = nullptr;
    for (auto [w, h] : {std::pair{0, 1}, std::pair{1, 0}, std::pair{32760, 1}, std::pair{-3, 5}, std::pair{5, 40000}}) {
        zf_errno = 0;
        EXPECT_EQ(zf_begin_write(f, &line, 0, 0, w, h, "ZFBI", -1), -1) << w << "x" << h;
        EXPECT_EQ(zf_errno, ZF_ERR_MISUSE);
    }
    EXPECT_EQ(zf_begin_write(f, &line, 0, 0, 32759, 1, "ZFBI", -1), 0);
    EXPECT_EQ(zf_begin_write(f, &line, 0, 0, 4, 1, "ABCD", -1), -1);
    EXPECT_EQ(zf_errno, ZF_ERR_MISUSE);
    EXPECT_EQ(zf_close(f), 0); // refusals leave the file sound
}
