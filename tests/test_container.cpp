// The container: header and block header bytes, the palette and comment
// sections, the running maximum, the block walk, the 128-byte prefix with
// append, and the system's errors reaching the caller and the record.
#include "codec_run.h"
#include "harness.h"
#include "byte_io.h"
#include "zefa.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <tuple>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace zt;
using namespace std::string_literals;

std::string text(const Bytes &b, size_t at, size_t n) { return std::string(b.begin() + at, b.begin() + at + n); }

// A 24-bit file of ZFBI blocks given as {x, y, width, height}.
Bytes write_blocks(const std::string &path, const std::vector<std::array<int, 4>> &blocks, int max = -1)
{
    zf_params p = params(24);
    p.max_width = p.max_height = max;
    std::vector<Block> list;
    for (const auto &[x, y, w, h] : blocks)
        list.push_back({x, y, "ZFBI", pattern(24, w, h, x)});
    return write_zefa(path, p, list);
}

class Container : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir / "c.ZF";
};

} // namespace

TEST_F(Container, HeaderBytes)
{
    const std::string name = dir / "photo.part.ZF";
    zf_params p = params(24, 3, 4);
    p.saver = "ZFENC v1.0 saver name that is longer than thirty";
    zf_file *f = zf_create_with(name.c_str(), "", nullptr, "an artist name of more than 18", -3, &p);
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(zf_close(f), 0);
    Bytes b = read_file(name);
    ASSERT_EQ(b.size(), 124u + 1 + 8);
    EXPECT_NE(text(b, ZF_H_TIME, 4), "\0\0\0\0"s); // set at close
    std::memset(&b[ZF_H_TIME], 0, 4);
    // no blocks: the running maximum stays 0; an empty comment; the end marker
    EXPECT_EQ(std::string(b.begin(), b.end()),
              "ZFDTan artist name of photo   \r\n" + std::string(30, ' ') + "\r\nZFENC v1.0 saver name that is \r\n\x1a" +
                  std::string("\0" "\0\0" "\xFF\xFD" "\0\0\0\0" "\0\0\0\x7D" "\0\x18" "\0\x03" "\0\x04" "\0\0\0\0"
                              "\0\0\0\0" "\0" "\0\0\0\0\0\0\0\0", 36));

    // ':' and '\\' are ordinary name characters here, so every subtitle rule
    // can be tried on real files
    for (auto [file, subtitle] : {std::pair{"a:b\\dd.e.f", "dd      "}, std::pair{"x\\y:z", "z       "},
                                  std::pair{"longername123.zf", "longerna"}, std::pair{"A.B.ZF", "A       "}}) {
        ASSERT_FALSE(write_zefa(dir / file, params(24), {}).empty()) << file;
        EXPECT_EQ(text(read_file(dir / file), ZF_H_SUBTITLE, 8), subtitle) << file;
    }
}

// Through the process-wide calls: a palette of 256 entries and the comment
// "ab" put the first block at 898; comment line ends become CR LF.
TEST_F(Container, PaletteAndCommentSections)
{
    unsigned char pal[768];
    for (int i = 0; i < 768; ++i)
        pal[i] = static_cast<unsigned char>(i * 7);
    zf_set_info("s", 8, -1, -1, 1, 1, 0);
    zf_set_palette(256, 8, pal);
    zf_file *f = zf_create(path.c_str(), "t", "ab", "a", 1);
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(zf_close(f), 0);
    const Bytes b = read_file(path);
    ASSERT_EQ(b.size(), 898u + 8);
    EXPECT_EQ(text(b, ZF_H_FLAGS, 2) + text(b, ZF_H_FIRST, 4), "\0\1\0\0\x03\x82"s);
    EXPECT_EQ(text(b, 124, 774), "\x08\x01\x00"s + std::string(pal, pal + 768) + "ab\0"s); // n_bits, n_pal, entries, comment

    const Bytes c = write_zefa(path, params(24), {}, {"", "p\nq\r\nr\rs"});
    EXPECT_EQ(text(c, 124, 11) + text(c, ZF_H_FIRST, 4), "p\r\nq\r\nr\r\ns\0\0\0\0\x87"s);
    EXPECT_EQ(read_back(path).comment, "p\r\nq\r\nr\r\ns");
}

// A block header as stored, with its extra value; the running maximum of
// the blocks replaces a size given as -1, a size given is kept, and a
// negative position counts from 0.
TEST_F(Container, BlockHeaderBytesAndRunningMaximum)
{
    zf_params p = params(24);
    zf_file *f = zf_create_with(path.c_str(), "", nullptr, "", 0, &p);
    uint32_t *line = nullptr;
    ASSERT_EQ(zf_begin_write(f, &line, 10, -2, 100, 50, "ZFBM", 0x12345678), 0);
    for (int r = 1; r > 0;)
        r = zf_line(f, &line);
    ASSERT_EQ(zf_close(f), 0);
    const Bytes b = read_file(path);
    EXPECT_EQ(text(b, 125, 26), "ZFBM\0\0\x3A\xB2\0\x01\0\x64\0\x32\0\x0A\xFF\xFE\x12\x34\x56\x78\0\0\0\0"s);
    EXPECT_EQ(b.size(), 125u + 26 + 100 * 50 * 3 + 8);

    struct Case {
        std::vector<std::array<int, 4>> blocks;
        int max, width, height;
    };
    for (const Case &c : {Case{{{10, 0, 100, 50}, {0, 60, 80, 40}}, -1, 110, 100},
                          Case{{{0, 0, 100, 1}, {50, 0, 100, 1}}, 0, 0, 0}, Case{{{-5, -2, 20, 3}}, -1, 20, 3}}) {
        write_blocks(path, c.blocks, c.max);
        const ReadBack r = read_back(path);
        EXPECT_EQ(r.info.max_width, c.width) << c.blocks.size() << " " << c.max;
        EXPECT_EQ(r.info.max_height, c.height);
        ASSERT_EQ(r.blocks.size(), c.blocks.size());
        for (size_t k = 0; k < r.blocks.size(); ++k) {
            EXPECT_EQ(r.blocks[k].head.x, c.blocks[k][0]); // stored as given
            EXPECT_EQ(r.blocks[k].lines, pattern(24, c.blocks[k][2], c.blocks[k][3], c.blocks[k][0]));
        }
    }
}

TEST_F(Container, WalkSkipsUnknownTagAndStopsAtEnd)
{
    Bytes b = write_blocks(path, {{0, 0, 4, 2}, {0, 2, 4, 2}, {0, 4, 4, 2}});
    std::memcpy(&b[125 + 26 + 24], "ABCD", 4);
    write_file(path, b);
    zf_file *f = zf_open(path.c_str());
    ASSERT_NE(f, nullptr);
    std::vector<int> walk{zf_first_block(f)};
    while (walk.back() > 0)
        walk.push_back(zf_next_block(f));
    EXPECT_EQ(walk, (std::vector<int>{1, 2, 1, 0}));
    EXPECT_EQ(zf_next_block(f), 0);
    EXPECT_EQ(zf_close(f), 0);
    f = zf_open(path.c_str());
    zf_first_block(f);
    zf_next_block(f); // the unknown tag: not to be read
    zf_errno = 0;
    EXPECT_EQ(zf_begin_read(f), -1);
    EXPECT_EQ(zf_errno, ZF_ERR_FORMAT);
    zf_close(f);
}

TEST_F(Container, PrefixOf128BytesIsSkippedAndKeptOnAppend)
{
    Bytes b = write_blocks(path, {{0, 0, 3, 2}});
    b.insert(b.begin(), 128, 'x');
    write_file(path, b);
    zf_file *f = zf_open(path.c_str());
    EXPECT_TRUE(f && zf_seek(f, 0) == 0 && zf_tell(f) == 0); // positions count from the magic
    zf_close(f);
    EXPECT_EQ(read_back(path).blocks.at(0).lines, pattern(24, 3, 2, 0));

    zf_set_info("appender", 24, -1, -1, 1, 1, 0);
    f = zf_open_append(path.c_str(), "ignored", "ignored", "new artist", 9);
    ASSERT_NE(f, nullptr);
    uint32_t *w = nullptr;
    ASSERT_EQ(zf_begin_write(f, &w, 3, 0, 2, 1, "ZFBM", -1), 0);
    w[0] = w[1] = 0xABCDEF;
    EXPECT_EQ(zf_line(f, &w), -2);
    ASSERT_EQ(zf_close(f), 0);
    const Bytes after = read_file(path);
    EXPECT_EQ(Bytes(after.begin(), after.begin() + 128), Bytes(128, 'x'));
    const ReadBack r = read_back(path);
    EXPECT_EQ(std::string(r.info.artist) + r.info.title, "new artist        t" + std::string(29, ' '));
    ASSERT_EQ(r.blocks.size(), 2u);
    EXPECT_EQ(std::tuple(r.blocks[1].head.x, r.blocks[1].lines), std::tuple(3, Image{{0xABCDEF, 0xABCDEF}}));
}

// The full disk, a missing file, a place that refuses creating a file:
// the system's error numbers in zf_errno.
TEST_F(Container, SystemErrors)
{
    const zf_params p = params(24);
    EXPECT_TRUE(zf_create_with("/dev/full", "", "comment", "", 0, &p) == nullptr && zf_errno == ENOSPC);
    EXPECT_TRUE(zf_open((dir / "missing.ZF").c_str()) == nullptr && zf_errno == ENOENT);
    std::string locked = "/sys/kernel/zefa-test.ZF"; // refused even to root
    if (geteuid() != 0) {
        locked = dir / "locked.ZF";
        write_file(locked, "x");
        ::chmod(locked.c_str(), 0444);
    }
    EXPECT_TRUE(zf_create_with(locked.c_str(), "", nullptr, "", 0, &p) == nullptr && zf_errno == EACCES);
}

// A file's stored bytes: its layout behind a prefix, a block header read
// and written back with its other fields kept, header fields and the
// comment replaced in place; short, foreign and hostile bytes refused, and
// nothing written on a refusal.
TEST_F(Container, StoredBytesAreReadAndEditedInPlace)
{
    const Bytes stored = write_zefa(path, params(8), {{2, 3, "ZFSF", pattern(8, 5, 4)}}, {"title", "ab", "artist", 7});
    Bytes file = stored;
    file.insert(file.begin(), 128, 'p');
    zf_layout l{};
    ASSERT_EQ(zf_get_layout(file.data(), file.size(), &l), 0);
    EXPECT_EQ((std::array{l.header, l.comment, l.first_block}), (std::array<long long, 3>{128, 128 + 124 + 3 + 768, 128 + 124 + 3 + 768 + 3}));
    EXPECT_EQ((std::array{l.info.depth, l.info.n_pal, l.info.number}), (std::array{8, 256, 7}));
    const Bytes lead(file.begin(), file.begin() + l.first_block);
    Bytes no_entries = file;
    no_entries[128 + 125] = no_entries[128 + 126] = 0;
    const std::pair<Bytes, int> layouts[] = {{lead, 0}, {Bytes(file.begin(), file.begin() + l.comment - 1), ZF_ERR_EOF},
                                       {Bytes(file.begin(), file.begin() + 200), ZF_ERR_EOF}, {Bytes(300, 'x'), ZF_ERR_FORMAT},
                                       {no_entries, ZF_ERR_FORMAT}};
    for (const auto &[bytes, error] : layouts) {
        zf_layout x{};
        EXPECT_EQ(zf_get_layout(bytes.data(), bytes.size(), &x) == 0 ? 0 : zf_errno, error) << bytes.size();
    }

    // a block header written back keeps its other fields; a refused one leaves the bytes as they were
    Bytes head(file.begin() + l.first_block, file.begin() + l.first_block + ZF_BLOCK_HEADER_SIZE);
    zf_block b{};
    long long length = 0;
    ASSERT_EQ(zf_read_block_header(head.data(), head.size(), &b, &length), 0);
    EXPECT_EQ((std::array{b.x, b.y, b.width, b.height}), (std::array{2, 3, 5, 4}));
    EXPECT_EQ(l.first_block + length + 8, static_cast<long long>(file.size()));
    head[ZF_B_EXTRA + 1] = 1, head[ZF_B_VALUE + 3] = 9, head[25] = 0xEE;
    std::memcpy(b.tag, "ZFBI", 5);
    b.x = -1;
    ASSERT_EQ(zf_write_block_header(head.data(), head.size(), &b, length + 1), 0);
    zf_block again{}, wide = b;
    ASSERT_EQ(zf_read_block_header(head.data(), head.size(), &again, &length), 0);
    EXPECT_EQ(text(head, 0, 4) + text(head, ZF_B_EXTRA, 2) + text(head, ZF_B_VALUE, 8), "ZFBI\0\1\0\0\0\x09\0\0\0\xEE"s);
    EXPECT_EQ((std::array{again.x, again.y}), (std::array{-1, 3}));
    const Bytes written = head;
    wide.width = 40000;
    EXPECT_EQ(zf_write_block_header(head.data(), head.size(), &wide, length), -1);
    EXPECT_EQ(zf_write_block_header(head.data(), head.size() - 1, &b, length), -1);
    EXPECT_EQ(zf_errno, ZF_ERR_MISUSE);
    EXPECT_EQ(head, written);

    // header fields: bytes as they are, a 0 included, padded with blanks
    zf_header_edit e{};
    e.subtitle = "s\0b";
    e.subtitle_length = 3;
    e.ratio_x = 3, e.ratio_y = 2;
    ASSERT_EQ(zf_edit_header(file.data(), file.size(), &e), 0);
    const ReadBack edited = read_back(file);
    EXPECT_EQ(std::string(edited.info.subtitle, 8) + edited.info.artist, "s\0b     artist            "s);
    EXPECT_EQ((std::array{edited.info.ratio_x, edited.info.ratio_y}), (std::array{3, 2}));
    const Bytes unedited = file;
    e.artist = "x", e.artist_length = 19;
    EXPECT_EQ(zf_edit_header(file.data(), file.size(), &e), -1);
    EXPECT_EQ(file, unedited);

    // another comment: the blocks follow it, read as before
    void *data = nullptr;
    size_t size = 0;
    ASSERT_EQ(zf_replace_comment(file.data(), file.size(), "x\ny", &data, &size), 0);
    const ReadBack after = read_back(Bytes(static_cast<uint8_t *>(data), static_cast<uint8_t *>(data) + size));
    zf_free(data);
    EXPECT_EQ(after.comment, "x\r\ny");
    ASSERT_EQ(after.blocks.size(), 1u);
    EXPECT_EQ(after.blocks[0].lines, read_back(file).blocks.at(0).lines);
    std::memcpy(&file[128 + ZF_H_FIRST], "\0\0\0\xC8", 4); // the first block inside the palette
    EXPECT_EQ(zf_replace_comment(file.data(), file.size(), "", &data, &size), -1);
    EXPECT_EQ(zf_errno, ZF_ERR_FORMAT);
    EXPECT_EQ(zf_replace_comment(file.data(), file.size(), "", nullptr, nullptr), -1);
}
