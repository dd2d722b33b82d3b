// zfdec run on files the library writes: names, companions, DJP output,
// options, statuses, full disks, devices and the same-file guard.
#include "codec_run.h"
#include "harness.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <tuple>

namespace {

using namespace zt;

// The RGB bytes zfdec writes for lines of a depth (params' palette: entry
// v is the grey 255 - v).
Bytes expected_rgb(int depth, const Image &lines)
{
    Bytes out;
    for (const auto &row : lines)
        for (uint32_t v : row) {
            if (depth == 24)
                out.insert(out.end(), {uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
            else if (depth == 15)
                out.insert(out.end(), {uint8_t((v >> 6 & 31) * 8), uint8_t((v >> 11 & 31) * 8), uint8_t((v >> 1 & 31) * 8)});
            else
                out.insert(out.end(), 3, uint8_t(255 - v));
        }
    return out;
}

class Zfdec : public ::testing::Test {
protected:
    RunResult zfdec(std::vector<std::string> args)
    {
        return run(zfdec_path(), args, RunOptions{dir.path(), "", {"LC_ALL=C.UTF-8"}, {}});
    }
    // NAME.ZF of ZFBI blocks given as {x, y, width, height}; block b holds pattern b.
    std::vector<Block> write(const std::string &name, int depth, const std::vector<std::array<int, 4>> &at, int ratio_x = 1)
    {
        std::vector<Block> blocks;
        for (const auto &[x, y, w, h] : at)
            blocks.push_back({x, y, "ZFBI", pattern(depth, w, h, static_cast<int>(blocks.size()))});
        EXPECT_FALSE(write_zefa(dir / name, params(depth, ratio_x), blocks).empty());
        return blocks;
    }
    std::string text(const std::string &name) const { return read_text(dir / name); }
    TempDir dir;
};

} // namespace

TEST_F(Zfdec, EveryBlockToItsOwnFileWithCompanions)
{
    std::vector<Block> blocks;
    for (int depth : {8, 15, 24}) {
        blocks = write("img.ZF", depth, {{0, 0, 7, 3}, {7, 0, 5, 2}, {2, 3, 9, 4}});
        const auto r = zfdec({"img"});
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(read_file(dir / "img.RGB"), expected_rgb(depth, blocks[0].lines)) << depth;
        EXPECT_EQ(read_file(dir / "ZFDEC001.RGB"), expected_rgb(depth, blocks[1].lines)) << depth;
        EXPECT_EQ(read_file(dir / "ZFDEC002.RGB"), expected_rgb(depth, blocks[2].lines)) << depth;
        EXPECT_EQ(text("ZFDEC002.FAL"), "F_ALL(V1.00)\n    9     4     2     3\n   1.00   255   255   255   0\n");
        EXPECT_TRUE(has(r.out, "Block number     :  2\nBlock size       : 9 x 4\nOutput file      : ZFDEC002.RGB (+.FAL)\n"));
    }
    // the output folder is missing, then there; IPR companions
    EXPECT_EQ(zfdec({"img", "sub/out", "-p1"}).status, 1);
    std::filesystem::create_directory(dir / "sub");
    ASSERT_EQ(zfdec({"img", "first", "sub/out", "-p1"}).status, 0);
    EXPECT_TRUE(file_exists(dir / "sub/out.RGB"));
    EXPECT_EQ(text("sub/ZFDEC002.IPR"), "9 4 2 3\n");

    // a block of an unknown coding is said and still counts
    Bytes b = read_file(dir / "img.ZF");
    std::memcpy(&b[125 + 26 + 7 * 3 * 3], "QQQQ", 4);
    write_file(dir / "unk.ZF", b);
    std::filesystem::remove(dir / "ZFDEC001.RGB");
    const auto r = zfdec({"unk.ZF", "o.RGB"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(has(r.err, "このﾌﾞﾛｯｸはﾃﾞｺｰﾄﾞできません"));
    EXPECT_FALSE(file_exists(dir / "ZFDEC001.RGB"));
    EXPECT_EQ(read_file(dir / "ZFDEC002.RGB"), expected_rgb(24, blocks[2].lines));
}

TEST_F(Zfdec, DjpOutputTypesAndReduction)
{
    const auto blocks = write("p.ZF", 8, {{0, 0, 6, 2}, {0, 2, 6, 2}});
    auto r = zfdec({"DJ505JC", "p", "p.DJP"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(has(r.err, "DJP出力のため最初の画像ﾌﾞﾛｯｸ以外無視します"));
    Bytes d = read_file(dir / "p.DJP");
    ASSERT_EQ(d.size(), 780u + 12u);
    EXPECT_EQ(Bytes(d.begin(), d.begin() + 12), (Bytes{'D', 'J', '5', '0', '5', 'J', 6, 0, 2, 0, 0, 0}));
    EXPECT_EQ(d[12], 255);                        // palette copied in stored order
    EXPECT_EQ(d[780 + 1], blocks[0].lines[0][1]); // indices unchanged

    const auto u16 = [&d](size_t at) { return d[at] | d[at + 1] << 8; };
    // grey of a 24-bit image, reduced by the ratio and the bound
    write("w.ZF", 24, {{0, 0, 320, 400}}, 2);
    ASSERT_EQ(zfdec({"DJ505JM", "w", "w.DJP"}).status, 0);
    d = read_file(dir / "w.DJP");
    EXPECT_EQ(std::tuple(u16(6), u16(8), d[10]), std::tuple(320, 200, 8)); // (a file of exactly those: fuzz_zfdec_djp's property)
    ASSERT_EQ(zfdec({"DJ505J", "w", "h.DJP", "-h", "-w100,50"}).status, 0);
    d = read_file(dir / "h.DJP");
    EXPECT_TRUE(d[10] == 24 && u16(6) <= 100 && u16(8) <= 50);

    // a block partly outside the header's size cannot push columns out
    write("o.ZF", 24, {{-3, 0, 10, 10}});
    EXPECT_EQ(zfdec({"DJ505J", "o", "o.DJP", "-w4,4"}).status, 0);

    // A damaged header that announces fewer lines and columns than the
    // block holds: the extra ones are dropped (the sanitizer build checks
    // that no map or sum is indexed past its end).
    write("t.ZF", 24, {{0, 0, 641, 96}});
    Bytes t = read_file(dir / "t.ZF");
    t[116] = 0x01, t[117] = 0x02, t[118] = 0, t[119] = 3; // 258 x 3
    write_file(dir / "t.ZF", t);
    for (const char *marker : {"DJ505J", "DJ505JM"}) {
        r = zfdec({marker, "t", "t.DJP", "-w64,64"});
        EXPECT_EQ(r.status, 0) << r.err;
        d = read_file(dir / "t.DJP");
        ASSERT_GE(d.size(), 12u);
        EXPECT_EQ(std::tuple(u16(6), u16(8), d.size()), std::tuple(64, 1, 12u + 64u * (d[10] == 24 ? 3 : 1)));
    }
}

TEST_F(Zfdec, OptionsStatusesAndMessages)
{
    write("img.ZF", 15, {{0, 0, 3, 3}});
    auto r = zfdec({});
    EXPECT_TRUE(r.status == 1 && has(r.out, "usage : ZFDEC {-opt} filename[.ZF] {outfile[.RGB]} {-opt}\n"));
    // -q: the pixel ratio as the status, 255 when the file cannot be read
    EXPECT_EQ(zfdec({"-q", "img"}).status, 17);
    EXPECT_EQ(zfdec({"-Q1", "img"}).status, 100);
    EXPECT_EQ(zfdec({"-q", "-i", "img"}).status, 0);
    EXPECT_EQ(zfdec({"-q", "missing"}).status, 255);
    EXPECT_TRUE(has(zfdec({"img", std::string(300, 'n')}).out, "ﾌｧｲﾙ名が長すぎます"));
    // (a wrong option: its status in the English runs, its text there with -z9)
    for (const char *w : {"-w10", "-w1,2,3", "-wa,2", "-w99999999999,2"})
        EXPECT_EQ(zfdec({"DJ505J", "img", w}).status, 1) << w;
    r = zfdec({"DJ505J"});
    EXPECT_TRUE(r.status == 1 && has(r.out, "処理ﾌｧｲﾙ名を指定してください"));
    EXPECT_TRUE(has(zfdec({"-i", "img"}).out, "Color bit depth  : 15 bits (=32768 Colors)"));
    // -i on a file it cannot read is a failure, with the cause and the file
    r = zfdec({"-i", "missing"});
    EXPECT_TRUE(r.status == 1 && has(r.err, "ファイルがありません\n対象ﾌｧｲﾙ: missing.ZF\n"));
    EXPECT_TRUE(has(zfdec({"--", "--version"}).err, "対象ﾌｧｲﾙ: --version.ZF")); // after "--", a name
    // (a '.' in a folder's name is no extension: the names both programs share, in test_zfenc)
}

// The input is never touched; an output that cannot be written, a device
// (written in place, never removed), a missing or damaged input: status 1.
TEST_F(Zfdec, FaultsItMustNotCommit)
{
    write("img.ZF", 24, {{0, 0, 300, 300}});
    const Bytes original = read_file(dir / "img.ZF");
    for (const char *same : {"img.ZF", "./img.ZF"}) {
        EXPECT_EQ(zfdec({"img", same}).status, 1) << same;
        EXPECT_EQ(read_file(dir / "img.ZF"), original) << same;
    }
    std::filesystem::create_symlink("/dev/full", dir / "dev.RGB");
    const auto r = zfdec({"img", "dev"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r.err, "出力ﾌｧｲﾙが作成できません"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "dev.RGB"));
    EXPECT_TRUE(is_device("/dev/full"));
    // named without an extension, a device keeps its name and gets no
    // companion beside it
    const auto null = zfdec({"--", "img", "/dev/null"});
    EXPECT_EQ(null.status, 0) << null.err;
    EXPECT_TRUE(has(null.err, "出力先がﾌｧｲﾙではないので FAL は作りません (300 x 300, 位置 0,0)"));
    EXPECT_FALSE(file_exists("/dev/null.RGB") || file_exists("/dev/null.FAL"));

    EXPECT_EQ(zfdec({"nothere"}).status, 1);
    write_file(dir / "cut.ZF", Bytes(original.begin(), original.end() - 8 - 20)); // inside the payload
    const auto cut = zfdec({"cut"});
    EXPECT_EQ(cut.status, 1);
    // what was decoded, then the cause: never "complete." first
    EXPECT_TRUE(has(cut.err, "ﾗｲﾝしかﾃﾞｺｰﾄﾞできませんでした: 出力ﾌｧｲﾙ cut.RGB はその分だけです\n"));
    EXPECT_TRUE(has(cut.err, "ファイルはもうありません\n対象ﾌｧｲﾙ: cut.ZF\n"));
    EXPECT_FALSE(has(cut.err, "complete."));
}

