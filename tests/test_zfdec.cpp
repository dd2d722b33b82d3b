// zfdec run on files the library writes: names, companions, DJP output,
// options, statuses, ESC on a terminal, full disks and the same-file guard.
#include "harness.h"
#include "zefa.h"
#include "record.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <sys/stat.h>
#include <filesystem>

namespace {

using Bytes = std::vector<uint8_t>;
const zt::RunOptions kEnv{"", "", {"LC_ALL=C.UTF-8"}, {}};

struct Blk {
    int x, y, w, h;
    const char *tag;
};

// Pixel value of (col, row) in block b at a depth.
uint32_t pixel(int depth, int b, int col, int row)
{
    const uint32_t v = static_cast<uint32_t>(col * 37 + row * 11 + b * 101);
    return depth == 8 ? v & 0xFF : depth == 15 ? (v * 2) & 0xFFFE : (v * 0x010307) & 0xFFFFFF;
}

void write_zf(const std::string &path, int depth, const std::vector<Blk> &blocks, int ratio_x = 1,
              int ratio_y = 1)
{
    zf::creation.n_pal = 0;
    zf_set_info("test", depth, -1, -1, ratio_x, ratio_y, 0);
    if (depth == 8) {
        unsigned char pal[768];
        for (int i = 0; i < 768; ++i)
            pal[i] = static_cast<unsigned char>(255 - i / 3);
        zf_set_palette(256, 8, pal);
    }
    zf_file *f = zf_create(path.c_str(), "t", nullptr, "a", 1);
    ASSERT_NE(f, nullptr);
    for (size_t b = 0; b < blocks.size(); ++b) {
        const Blk &k = blocks[b];
        uint32_t *line = nullptr;
        ASSERT_EQ(zf_begin_write(f, &line, k.x, k.y, k.w, k.h, k.tag, -1), 0);
        for (int r = 0; r < k.h; ++r) {
            for (int c = 0; c < k.w; ++c)
                line[c] = pixel(depth, static_cast<int>(b), c, r);
            zf_line(f, &line);
        }
    }
    ASSERT_EQ(zf_close(f), 0);
    zf::creation.n_pal = 0;
}

Bytes expected_rgb(int depth, int b, int w, int h)
{
    Bytes out;
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) {
            const uint32_t v = pixel(depth, b, c, r);
            if (depth == 24)
                out.insert(out.end(), {uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
            else if (depth == 15)
                out.insert(out.end(), {uint8_t(((v >> 6) & 31) * 8), uint8_t(((v >> 11) & 31) * 8),
                                       uint8_t(((v >> 1) & 31) * 8)});
            else {
                const uint8_t p = static_cast<uint8_t>(255 - v); // palette entry v holds 255 - v
                out.insert(out.end(), {p, p, p});
            }
        }
    return out;
}

zt::RunResult zfdec(const zt::TempDir &dir, std::vector<std::string> args)
{
    zt::RunOptions o = kEnv;
    o.cwd = dir.path();
    return zt::run(zt::zfdec_path(), args, o);
}

// NAME.ZF, large and optimising-coded, so that decoding it outlasts the
// time a key or a signal takes to arrive.
void write_slow_file(const zt::TempDir &dir, const std::string &name)
{
    Bytes rgb;
    for (int i = 0; i < 3000 * 2000; ++i)
        rgb.insert(rgb.end(), {uint8_t(i * 7), uint8_t(i / 3000), uint8_t(i % 251)});
    zt::write_file(dir / (name + ".RGB"), rgb);
    zt::write_file(dir / (name + ".FAL"), std::string("F_ALL(V1.00)\n 3000  2000     0     0\n   1.00   255   255   255   0\n"));
    zt::RunOptions o = kEnv;
    o.cwd = dir.path();
    ASSERT_EQ(zt::run(zt::zfenc_path(), {name, "-2", "-m1", "-nh"}, o).status, 0);
    std::filesystem::remove(dir / (name + ".RGB"));
}

} // namespace

TEST(Zfdec, EveryBlockToItsOwnFileWithCompanions)
{
    zt::TempDir dir;
    for (int depth : {8, 15, 24}) {
        write_zf(dir / "img.ZF", depth, {{0, 0, 7, 3, "ZFBI"}, {7, 0, 5, 2, "ZFBM"}, {2, 3, 9, 4, "ZFBI"}});
        auto r = zfdec(dir, {"img"});
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(zt::read_file(dir / "img.RGB"), expected_rgb(depth, 0, 7, 3)) << depth;
        EXPECT_EQ(zt::read_file(dir / "ZFDEC001.RGB"), expected_rgb(depth, 1, 5, 2)) << depth;
        EXPECT_EQ(zt::read_file(dir / "ZFDEC002.RGB"), expected_rgb(depth, 2, 9, 4)) << depth;
        const auto fal = zt::read_file(dir / "ZFDEC002.FAL");
        EXPECT_EQ(std::string(fal.begin(), fal.end()),
                  "F_ALL(V1.00)\n    9     4     2     3\n   1.00   255   255   255   0\n");
        EXPECT_NE(r.out.find("Block number     :  2\nBlock size       : 9 x 4\n"
                             "Output file      : ZFDEC002.RGB (+.FAL)\n"),
                  std::string::npos);
    }
    auto r = zfdec(dir, {"img", "sub/out", "-p1"});
    EXPECT_EQ(r.status, 1); // folder missing: the output cannot be created
    std::filesystem::create_directory(dir / "sub");
    r = zfdec(dir, {"img", "first", "sub/out", "-p1"});
    ASSERT_EQ(r.status, 0);
    EXPECT_TRUE(zt::file_exists(dir / "sub/out.RGB"));
    EXPECT_TRUE(zt::file_exists(dir / "sub/ZFDEC001.RGB"));
    const auto ipr = zt::read_file(dir / "sub/ZFDEC002.IPR");
    EXPECT_EQ(std::string(ipr.begin(), ipr.end()), "9 4 2 3\n");
}

TEST(Zfdec, UnknownTagStillCounts)
{
    zt::TempDir dir;
    write_zf(dir / "img.ZF", 24, {{0, 0, 4, 2, "ZFBI"}, {0, 2, 4, 2, "ZFBI"}, {0, 4, 4, 2, "ZFBI"}});
    Bytes b = zt::read_file(dir / "img.ZF");
    std::memcpy(&b[125 + 26 + 24], "QQQQ", 4);
    zt::write_file(dir / "img.ZF", b);
    auto r = zfdec(dir, {"img.ZF", "o.RGB"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("このﾌﾞﾛｯｸはﾃﾞｺｰﾄﾞできません"), std::string::npos);
    EXPECT_FALSE(zt::file_exists(dir / "ZFDEC001.RGB"));
    EXPECT_EQ(zt::read_file(dir / "ZFDEC002.RGB"), expected_rgb(24, 2, 4, 2));
}

TEST(Zfdec, DjpOutputTypesAndReduction)
{
    zt::TempDir dir;
    write_zf(dir / "p.ZF", 8, {{0, 0, 6, 2, "ZFBI"}, {0, 2, 6, 2, "ZFBI"}});
    auto r = zfdec(dir, {"DJ505JC", "p", "p.DJP"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("DJP出力のため最初の画像ﾌﾞﾛｯｸ以外無視します"), std::string::npos);
    Bytes d = zt::read_file(dir / "p.DJP");
    ASSERT_EQ(d.size(), 780u + 12u);
    EXPECT_EQ(Bytes(d.begin(), d.begin() + 12), (Bytes{'D', 'J', '5', '0', '5', 'J', 6, 0, 2, 0, 0, 0}));
    EXPECT_EQ(d[12], 255);           // palette copied in stored order
    EXPECT_EQ(d[780 + 1], pixel(8, 0, 1, 0)); // indices unchanged

    // Grey of a 24-bit image, reduced by the ratio and the bound.
    write_zf(dir / "w.ZF", 24, {{0, 0, 320, 400, "ZFBI"}}, 2, 1);
    r = zfdec(dir, {"DJ505JM", "w", "w.DJP"});
    ASSERT_EQ(r.status, 0) << r.err;
    d = zt::read_file(dir / "w.DJP");
    EXPECT_EQ(d[6] | d[7] << 8, 320);
    EXPECT_EQ(d[8] | d[9] << 8, 200);
    EXPECT_EQ(d[10], 8);
    EXPECT_EQ(d.size(), 12u + 320u * 200u); // exactly the rows and columns announced

    r = zfdec(dir, {"DJ505J", "w", "h.DJP", "-h", "-w100,50"});
    ASSERT_EQ(r.status, 0);
    d = zt::read_file(dir / "h.DJP");
    EXPECT_EQ(d[10], 24);
    EXPECT_EQ(d.size(), 12u + 3u * (d[6] | d[7] << 8) * (d[8] | d[9] << 8));
    EXPECT_LE(d[6] | d[7] << 8, 100);
    EXPECT_LE(d[8] | d[9] << 8, 50);

    // A block partly outside the header's size cannot push columns out.
    write_zf(dir / "o.ZF", 24, {{-3, 0, 10, 10, "ZFBI"}});
    r = zfdec(dir, {"DJ505J", "o", "o.DJP", "-w4,4"});
    EXPECT_EQ(r.status, 0);

    // A damaged header that announces fewer lines and columns than the
    // block holds: the extra ones are dropped (the sanitizer build checks
    // that no map or sum is indexed past its end).
    write_zf(dir / "t.ZF", 24, {{0, 0, 641, 96, "ZFBI"}});
    Bytes t = zt::read_file(dir / "t.ZF");
    t[116] = 0x01, t[117] = 0x02, t[118] = 0, t[119] = 3; // 258 x 3
    zt::write_file(dir / "t.ZF", t);
    for (const char *marker : {"DJ505J", "DJ505JM"}) {
        r = zfdec(dir, {marker, "t", "t.DJP", "-w64,64"});
        EXPECT_EQ(r.status, 0) << r.err;
        d = zt::read_file(dir / "t.DJP");
        ASSERT_GE(d.size(), 12u);
        EXPECT_EQ(d[6] | d[7] << 8, 64);
        EXPECT_EQ(d[8] | d[9] << 8, 1);
        EXPECT_EQ(d.size(), 12u + 64u * (d[10] == 24 ? 3 : 1));
    }
}

TEST(Zfdec, OptionsStatusesAndMessages)
{
    zt::TempDir dir;
    write_zf(dir / "img.ZF", 15, {{0, 0, 3, 3, "ZFBI"}});
    auto r = zfdec(dir, {});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("usage : ZFDEC {-opt} filename[.ZF] {outfile[.RGB]} {-opt}\n"), std::string::npos);
    EXPECT_EQ(zfdec(dir, {"-q", "img"}).status, 17);
    EXPECT_EQ(zfdec(dir, {"-Q1", "img"}).status, 100);
    EXPECT_EQ(zfdec(dir, {"-q", "-i", "img"}).status, 0);
    EXPECT_EQ(zfdec(dir, {"-q", "missing"}).status, 255);
    r = zfdec(dir, {"img", "-x"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("ｵﾌﾟｼｮﾝ -x は間違った指定です\n"), std::string::npos);
    for (const char *w : {"-w10", "-w1,2,3", "-wa,2", "-w99999999999,2"})
        EXPECT_EQ(zfdec(dir, {"DJ505J", "img", w}).status, 1) << w;
    r = zfdec(dir, {"DJ505J"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("処理ﾌｧｲﾙ名を指定してください"), std::string::npos);
    r = zfdec(dir, {"-i", "img"});
    EXPECT_NE(r.out.find("Color bit depth  : 15 bits (=32768 Colors)"), std::string::npos);
    EXPECT_EQ(zfdec(dir, {"img", std::string(300, 'n')}).status, 1);
}

TEST(Zfdec, ErrorsEndWithStatusOneAndSpareTheInput)
{
    zt::TempDir dir;
    write_zf(dir / "img.ZF", 24, {{0, 0, 5, 4, "ZFBI"}});
    const Bytes original = zt::read_file(dir / "img.ZF");
    auto r = zfdec(dir, {"img", "img.ZF"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(zt::read_file(dir / "img.ZF"), original);
    r = zfdec(dir, {"img", "./img.ZF"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(zt::read_file(dir / "img.ZF"), original);

    std::filesystem::create_symlink("/dev/full", dir / "full.RGB");
    r = zfdec(dir, {"img", "full.RGB"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("出力ﾌｧｲﾙが作成できません"), std::string::npos);

    EXPECT_EQ(zfdec(dir, {"nothere"}).status, 1);
    Bytes cut = original;
    cut.resize(cut.size() - 8 - 20); // inside the payload
    zt::write_file(dir / "cut.ZF", cut);
    r = zfdec(dir, {"cut"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("ファイルはもうありません"), std::string::npos);
}

TEST(Zfdec, EscOnTheTerminalRemovesThePartialOutput)
{
    zt::TempDir dir;
    write_slow_file(dir, "big");
    zt::RunOptions o = kEnv;
    o.cwd = dir.path();
    o.repeat_keys_ms = 100; // until the program takes one
    auto r = zt::run_pty(zt::zfdec_path(), {"big"}, "\x1b", 0, o);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("ﾃﾞｺｰﾄﾞを中止します"), std::string::npos) << r.out;
    EXPECT_FALSE(zt::file_exists(dir / "big.RGB"));
}

// A signal while the output is being written removes it and ends the
// program with the signal.  The file is large and optimising-coded, so the
// decoding outlasts the delay.
TEST(Zfdec, SignalsRemoveThePartialOutput)
{
    zt::TempDir dir;
    write_slow_file(dir, "img");
    zt::RunOptions o = kEnv;
    o.cwd = dir.path();
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        std::filesystem::remove(dir / "img.RGB");
        o.signal = sig;
        o.signal_after_ms = 100;
        const auto r = zt::run(zt::zfdec_path(), {"img"}, o);
        EXPECT_EQ(r.status, 128 + sig) << r.out << r.err;
        EXPECT_FALSE(zt::file_exists(dir / "img.RGB")) << sig;
    }
}

TEST(Zfdec, ADeviceAsOutputIsNeverRemoved)
{
    zt::TempDir dir;
    write_zf(dir / "img.ZF", 24, {{0, 0, 300, 300, "ZFBI"}});
    std::filesystem::create_symlink("/dev/full", dir / "dev.RGB");
    const auto r = zfdec(dir, {"img", "dev"});
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "dev.RGB"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("出力ﾌｧｲﾙが作成できません"), std::string::npos) << r.err;
    struct stat st {};
    ASSERT_EQ(stat("/dev/full", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}

// "--" ends the options: names that begin with '-', and "--help" as a name.
TEST(Zfdec, DoubleDashEndsTheOptions)
{
    zt::TempDir dir;
    write_zf(dir / "-img.ZF", 24, {{0, 0, 4, 2, "ZFBI"}});
    auto r = zfdec(dir, {"-p1", "--", "-img", "-i"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(zt::read_file(dir / "-i.RGB"), expected_rgb(24, 0, 4, 2));
    EXPECT_TRUE(zt::file_exists(dir / "-i.IPR"));
    r = zfdec(dir, {"DJ505J", "--", dir / "-img.ZF", "-o.DJP"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(zt::read_file(dir / "-o.DJP").size(), 12u + 4 * 2 * 3);
    r = zfdec(dir, {"--", "--version"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("ファイルがありません"), std::string::npos) << r.out << r.err;
    EXPECT_NE(zfdec(dir, {"--help"}).out.find("  --  "), std::string::npos);
}
