// zfenc run in temporary folders: input kinds and geometry, options and
// their messages, names, comments and titles, converters, the log and the
// title list, and the faults it must not commit.  Every file written is
// decoded back through the library and compared.
#include "harness.h"
#include "zefa.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <csignal>
#include <sys/stat.h>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

namespace {

using Bytes = std::vector<uint8_t>;

struct Decoded {
    int depth = 0, width = 0, height = 0, x = 0, y = 0;
    std::string tag, artist, title, comment;
    int number = 0;
    std::vector<uint32_t> pixels;
};

Decoded decode(const std::string &path)
{
    Decoded d;
    zf_file *f = zf_open(path.c_str());
    EXPECT_NE(f, nullptr) << path;
    if (!f)
        return d;
    auto s16 = [](const unsigned char *p) { return static_cast<int16_t>(p[0] << 8 | p[1]); };
    d.depth = s16(f->header + ZF_H_DEPTH);
    d.number = s16(f->header + ZF_H_NUMBER);
    d.artist.assign(reinterpret_cast<char *>(f->header + 4), 18);
    d.title.assign(reinterpret_cast<char *>(f->header + 32), 30);
    d.comment = f->comment;
    EXPECT_EQ(zf_first_block(f), 1);
    d.tag.assign(reinterpret_cast<char *>(f->block), 4);
    d.width = s16(f->block + ZF_B_WIDTH);
    d.height = s16(f->block + ZF_B_HEIGHT);
    d.x = s16(f->block + ZF_B_X);
    d.y = s16(f->block + ZF_B_Y);
    EXPECT_EQ(zf_begin_read(f), 0);
    uint32_t *line = nullptr;
    while (zf_line(f, &line) >= 0)
        d.pixels.insert(d.pixels.end(), line, line + d.width);
    EXPECT_EQ(zf_close(f), 0);
    return d;
}

Bytes rgb_image(int w, int h)
{
    Bytes b;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            b.insert(b.end(), {uint8_t(x * 9 + y), uint8_t(x * 3 + y * 7), uint8_t(200 - x - y)});
    return b;
}

class Zfenc : public ::testing::Test {
protected:
    zt::RunResult run(std::vector<std::string> args, const std::string &input = "",
                      std::vector<std::string> env = {})
    {
        zt::RunOptions o{dir.path(), input, {"LC_ALL=C.UTF-8", "PATH=/usr/bin:/bin", "USER=tester"},
                         {"ZEF_USER", "zef_user", "LOG", "EXE", "TMP"}};
        o.env.insert(o.env.end(), env.begin(), env.end());
        return zt::run(zt::zfenc_path(), args, o);
    }
    void fal(const std::string &name, int w, int h, int x = 0, int y = 0)
    {
        char text[128];
        std::snprintf(text, sizeof text, "F_ALL(V1.00)\n%5d%6d%6d%6d\n   1.00   255   255   255   0\n", w, h, x, y);
        zt::write_file(dir / name, std::string(text));
    }
    std::string log() const
    {
        if (!zt::file_exists(dir / "ZFENC.LOG"))
            return {};
        auto b = zt::read_file(dir / "ZFENC.LOG");
        return {b.begin(), b.end()};
    }
    zt::TempDir dir;
};

uint32_t to15(const uint8_t *p) { return uint32_t(p[0] >> 3) << 6 | uint32_t(p[1] >> 3) << 11 | uint32_t(p[2] >> 3) << 1; }
uint32_t to24(const uint8_t *p) { return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]; }

} // namespace

TEST_F(Zfenc, FalRawAtBothDepthsAndUncompressedTags)
{
    const Bytes img = rgb_image(13, 4);
    zt::write_file(dir / "pic.RGB", img);
    fal("pic.FAL", 13, 4, 5, 6);
    auto r = run({"pic", "-b", "-m1"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Input file       : pic.RGB\nImage size       : 13 x 4\nOutput file      : pic.ZF\n"
                         "Color bit depth  : 24 bits\nCompression type : Uncompress\n"),
              std::string::npos)
        << r.out;
    Decoded d = decode(dir / "pic.ZF");
    EXPECT_EQ(d.tag, "ZFBM");
    EXPECT_EQ(d.depth, 24);
    EXPECT_EQ(d.x, 5);
    EXPECT_EQ(d.y, 6);
    ASSERT_EQ(d.pixels.size(), 52u);
    for (size_t i = 0; i < d.pixels.size(); ++i)
        ASSERT_EQ(d.pixels[i], to24(&img[3 * i])) << i;
    EXPECT_EQ(d.artist, "tester" + std::string(12, ' '));

    ASSERT_EQ(run({"-M0", "-B", "pic.RGB", "o15"}).status, 0);
    d = decode(dir / "o15.ZF");
    EXPECT_EQ(d.tag, "ZFBI");
    for (size_t i = 0; i < d.pixels.size(); ++i)
        ASSERT_EQ(d.pixels[i], to15(&img[3 * i])) << i;
    EXPECT_EQ(to15(std::array<uint8_t, 3>{255, 0, 0}.data()), 0x07C0u);
}

TEST_F(Zfenc, DjpGlmAndPlainRawInputs)
{
    // DJP type 0 at depth 8 keeps indices and palette.
    Bytes djp = {'D', 'J', '5', '0', '5', 'J', 3, 0, 2, 0, 0, 0};
    for (int i = 0; i < 768; ++i)
        djp.push_back(uint8_t(i % 256));
    for (int v : {1, 2, 3, 250, 251, 252})
        djp.push_back(static_cast<uint8_t>(v));
    zt::write_file(dir / "d.DJP", djp);
    ASSERT_EQ(run({"d.DJP", "-m2", "-b"}).status, 0);
    Decoded d = decode(dir / "d.ZF");
    EXPECT_EQ(d.depth, 8);
    EXPECT_EQ(d.pixels, (std::vector<uint32_t>{1, 2, 3, 250, 251, 252}));

    // Depth 8 from RGB is refused, and nothing is written.
    zt::write_file(dir / "x.RGB", rgb_image(640, 400));
    auto r = run({"x", "-m2"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("RGB/Q0ﾌｧｲﾙからは 8 bit ZEFAﾌｧｲﾙを生成できません"), std::string::npos);
    EXPECT_FALSE(zt::file_exists(dir / "x.ZF"));

    // Plain raw 640 x 400 without companions.
    ASSERT_EQ(run({"x", "-b"}).status, 0);
    d = decode(dir / "x.ZF");
    EXPECT_EQ(d.width, 640);
    EXPECT_EQ(d.height, 400);

    // GLM: 15-bit words; at depth 24 the components are widened.
    Bytes glm = {'G', 'R', '6', '5', 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 1, 0x01, 0xF8, 0xC0, 0x07};
    zt::write_file(dir / "g.GLM", glm);
    ASSERT_EQ(run({"g.GLM", "-b"}).status, 0);
    EXPECT_EQ(decode(dir / "g.ZF").pixels, (std::vector<uint32_t>{0xF800, 0x07C0}));
    ASSERT_EQ(run({"g.GLM", "g24", "-b", "-m1"}).status, 0);
    EXPECT_EQ(decode(dir / "g24.ZF").pixels, (std::vector<uint32_t>{0x00F800, 0xF80000}));
    // A GMM partner of another family rejects the GLM reading.
    zt::write_file(dir / "g.GMM", std::string(16, 'x'));
    ASSERT_EQ(run({"g.GLM", "-b"}).status, 0);
    EXPECT_EQ(decode(dir / "g.ZF").width, 640);
}

TEST_F(Zfenc, OptionMessagesAndStatuses)
{
    auto r = run({});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("usage : ZFENC {-opt} filename[.RGB|.Q0] {outfile[.ZF]} {-opt}\n"), std::string::npos);
    struct Case {
        const char *arg, *message;
    };
    for (Case c : {Case{"-m3", "ｵﾌﾟｼｮﾝ -m3 は間違った指定です\n"}, Case{"-n0", "ｵﾌﾟｼｮﾝ -n0 は間違った指定です\n"},
                   Case{"/tmp/x", "ｵﾌﾟｼｮﾝ -tmp/x は間違った指定です\n"}, Case{"-ey", "ｵﾌﾟｼｮﾝ -ey は間違った指定です\n"},
                   Case{"-q", "ｵﾌﾟｼｮﾝ -q は間違った指定です\n"},
                   Case{"-a1234567890123456789", "作成者名は18文字までしか指定できません\n"}}) {
        r = run({"pic", c.arg});
        EXPECT_EQ(r.status, 1) << c.arg;
        EXPECT_NE(r.out.find(c.message), std::string::npos) << c.arg << r.out;
    }
    r = run({"-b"});
    EXPECT_NE(r.out.find("処理ﾌｧｲﾙ名を指定してください"), std::string::npos);
    r = run({"missing"});
    EXPECT_NE(r.out.find("指定されたﾌｧｲﾙが見つかりません"), std::string::npos);

    zt::write_file(dir / "p.RGB", rgb_image(2, 2));
    fal("p.FAL", 2, 2);
    ASSERT_EQ(run({"p", "-a123456789012345678", "-m12", "-b", "-2", "-b"}).status, 0);
    Decoded d = decode(dir / "p.ZF");
    EXPECT_EQ(d.artist, "123456789012345678");
    EXPECT_EQ(d.depth, 24);
}

TEST_F(Zfenc, CommentTitleAndLog)
{
    zt::write_file(dir / "p.RGB", rgb_image(3, 2));
    fal("p.FAL", 3, 2);
    zt::write_file(dir / "p.DOC", std::string("First line\r\nsecond\x1a ignored"));
    auto r = run({"p", "-c", "-b"});
    ASSERT_EQ(r.status, 0) << r.out;
    Decoded d = decode(dir / "p.ZF");
    EXPECT_EQ(d.title, "First line" + std::string(20, ' '));
    EXPECT_EQ(d.comment, "First line\r\nsecond");
    EXPECT_EQ(d.number, 1);
    EXPECT_EQ(log(), "0001 p.ZF                 First line                     15 ZFBI\n");

    ASSERT_EQ(run({"p", "second", "-c", "-tn", "-b"}).status, 0);
    EXPECT_EQ(decode(dir / "second.ZF").title, std::string(30, ' '));
    EXPECT_EQ(decode(dir / "second.ZF").number, 2);
    ASSERT_EQ(run({"p", "third", "-ti", "-b"}, "typed title\n").status, 0);
    EXPECT_EQ(decode(dir / "third.ZF").title, "typed title" + std::string(19, ' '));
    ASSERT_EQ(run({"p", "fourth", "-nh", "-b"}).status, 0);
    EXPECT_EQ(decode(dir / "fourth.ZF").number, 0);
    ASSERT_EQ(run({"p", "fifth", "-n5", "-nh", "-b"}).status, 0);
    EXPECT_EQ(decode(dir / "fifth.ZF").number, 0);
    ASSERT_EQ(run({"p", "sixth", "-nh", "-n5", "-b"}).status, 0);
    EXPECT_EQ(decode(dir / "sixth.ZF").number, 5);
    EXPECT_EQ(log().find("fourth"), std::string::npos);
    EXPECT_NE(log().find("0003 third.ZF             typed title                    15 ZFBI\n"), std::string::npos);

    r = run({"-tl"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("|   3| third.ZF      |  15/ZFBI | typed title                    |\n"), std::string::npos)
        << r.out;
    r = run({"-tln"});
    EXPECT_NE(r.out.find(".si ZEFA-Graphics data list(1/1)\n"), std::string::npos);
    EXPECT_NE(r.out.find(".row 1 p.ZF\n.col 15/ZFBI\n.col First line"), std::string::npos);

    zt::write_file(dir / "big.DOC", std::string(65533, 'x'));
    r = run({"p", "-cbig", "-b"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("ｺﾒﾝﾄﾌｧｲﾙが長すぎます 65532 ﾊﾞｲﾄ以下に調節してください"), std::string::npos);
    r = run({"p", "-cnone", "-b"});
    EXPECT_NE(r.out.find("ｺﾒﾝﾄﾌｧｲﾙが見付かりません"), std::string::npos);
}

TEST_F(Zfenc, ConverterContractThroughAStandIn)
{
    std::filesystem::copy_file(zt::tools_dir() + "/fake_conv", dir / "GIF_CONV.EXE");
    zt::write_file(dir / "a.gif", std::string("GIF89a"));
    auto r = run({"a.gif", "-b", "-m1"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(decode(dir / "a.ZF").pixels, (std::vector<uint32_t>{0x010203, 0x040506}));
    EXPECT_FALSE(zt::file_exists(dir / "ZFENCIMG.DJP"));
    auto args = zt::read_file(dir / "fake_conv.args");
    EXPECT_EQ(std::string(args.begin(), args.end()), "./GIF_CONV.EXE|DJ505JC|a.gif|ZFENCIMG.DJP|\n");
    ASSERT_EQ(run({"a.gif", "-b", "-m1", "-95"}).status, 0);
    args = zt::read_file(dir / "fake_conv.args");
    EXPECT_EQ(std::string(args.begin(), args.end()), "|DJ505JC|a.gif|ZFENCIMG.DJP|\n");

    // TMP names the temporary file's folder, with or without a final '/'.
    std::filesystem::create_directory(dir / "tmp");
    for (const char *tmp : {"tmp", "tmp/"}) {
        zt::RunOptions o{dir.path(), "", {"LC_ALL=C.UTF-8", "PATH=/usr/bin:/bin", std::string("TMP=") + tmp}, {"LOG", "EXE"}};
        ASSERT_EQ(zt::run(zt::zfenc_path(), {"a.gif", "-b", "-nh"}, o).status, 0);
        args = zt::read_file(dir / "fake_conv.args");
        EXPECT_EQ(std::string(args.begin(), args.end()), "./GIF_CONV.EXE|DJ505JC|a.gif|tmp/ZFENCIMG.DJP|\n");
        EXPECT_FALSE(zt::file_exists(dir / "tmp/ZFENCIMG.DJP"));
    }

    zt::write_file(dir / "fail.gif", std::string("fail"));
    r = run({"fail.gif", "-b"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("指定プラグインが起動できません"), std::string::npos);
    // a converter that crashes, or ends well without writing a DJP file
    for (const char *what : {"dump", "junk"}) {
        zt::write_file(dir / "c.gif", std::string(what));
        r = run({"c.gif", "-b"});
        EXPECT_EQ(r.status, 1) << what;
        EXPECT_FALSE(r.out.empty());
        EXPECT_FALSE(zt::file_exists(dir / "c.ZF")) << what;
        EXPECT_FALSE(zt::file_exists(dir / "ZFENCIMG.DJP")) << what;
    }
    EXPECT_NE(r.out.find("ﾌﾟﾗｸﾞｲﾝの出力がDJPﾌｧｲﾙではありません"), std::string::npos);
    zt::write_file(dir / "b.tif", std::string("x"));
    r = run({"b.tif", "-b"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("指定プラグインが起動できません"), std::string::npos);
}

TEST_F(Zfenc, FaultsItMustNotCommit)
{
    zt::write_file(dir / "p.RGB", rgb_image(5, 4)); // 4 x 4 would be 48 bytes: a Q0 name
    fal("p.FAL", 5, 4);
    const Bytes original = zt::read_file(dir / "p.RGB");
    auto r = run({"p", "p.RGB", "-b"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(zt::read_file(dir / "p.RGB"), original);
    zt::write_file(dir / "p.DOC", std::string("c"));
    r = run({"p", "p.DOC", "-c", "-b"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(zt::read_file(dir / "p.DOC"), Bytes{'c'});

    // A full disk (a file-size limit of 1 KiB): reported, no broken output,
    // no log line.
    zt::write_file(dir / "big.RGB", rgb_image(100, 100));
    fal("big.FAL", 100, 100);
    zt::RunOptions o{dir.path(), "", {"LC_ALL=C.UTF-8"}, {}};
    r = zt::run("/bin/sh", {"-c", "ulimit -f 1; exec \"$0\" big full -b", zt::zfenc_path()}, o);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_FALSE(zt::file_exists(dir / "full.ZF"));
    EXPECT_EQ(log(), "");
    // A file that had the output's name is kept as it was, and nothing of
    // the failed run is left beside it.
    zt::write_file(dir / "full.ZF", std::string("an earlier output"));
    r = zt::run("/bin/sh", {"-c", "ulimit -f 1; exec \"$0\" big full -b", zt::zfenc_path()}, o);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(zt::read_file(dir / "full.ZF"), (Bytes{'a', 'n', ' ', 'e', 'a', 'r', 'l', 'i', 'e', 'r', ' ', 'o', 'u', 't', 'p', 'u', 't'}));
    for (const auto &entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().filename().string().rfind(".zfenc", 0), std::string::npos) << entry.path();
    EXPECT_EQ(run({"big", "full", "-b"}).status, 0); // and replaced by a complete one
    EXPECT_EQ(decode(dir / "full.ZF").pixels.size(), 100u * 100u);

    // A device as the output (through a link, for the name's extension):
    // written to, never removed or replaced.
    std::filesystem::create_symlink("/dev/full", dir / "dev.ZF");
    r = run({"big", "dev", "-b"});
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(r.err.empty());
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "dev.ZF"));
    struct stat st {};
    ASSERT_EQ(stat("/dev/full", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));

    // An input shorter than its geometry: zeros and a warning.
    fal("short.FAL", 4, 4);
    zt::write_file(dir / "short.RGB", Bytes(30, 9));
    r = run({"short", "-b", "-m1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("警告"), std::string::npos);
    Decoded d = decode(dir / "short.ZF");
    ASSERT_EQ(d.pixels.size(), 16u);
    EXPECT_EQ(d.pixels[9], 0x090909u);
    EXPECT_EQ(d.pixels[10], 0u);
    EXPECT_EQ(d.pixels[15], 0u);

    // Geometry the format cannot hold is refused before any output.
    fal("huge.FAL", 40000, 1);
    zt::write_file(dir / "huge.RGB", Bytes(3, 0));
    r = run({"huge", "-b"});
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(zt::file_exists(dir / "huge.ZF"));

    fal("none.FAL", 0, 5);
    zt::write_file(dir / "none.RGB", Bytes(3, 0));
    r = run({"none", "-b"});
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(zt::file_exists(dir / "none.ZF"));

    // An output folder that does not exist: reported, status 1.
    r = run({"p", "nodir/out", "-b"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("nodir/out.ZF"), std::string::npos) << r.out << r.err;
    EXPECT_EQ(log().find("out.ZF"), std::string::npos);

    // -ex deletes the input only after a complete output.
    r = run({"huge", "-ex"});
    EXPECT_TRUE(zt::file_exists(dir / "huge.RGB"));
    ASSERT_EQ(run({"p", "-ex", "-b"}).status, 0);
    EXPECT_FALSE(zt::file_exists(dir / "p.RGB"));
}

TEST_F(Zfenc, EveryTagAtEveryDepth)
{
    const Bytes img = rgb_image(37, 11);
    zt::write_file(dir / "p.RGB", img);
    fal("p.FAL", 37, 11);
    Bytes djp = {'D', 'J', '5', '0', '5', 'J', 37, 0, 11, 0, 0, 0};
    for (int i = 0; i < 768; ++i)
        djp.push_back(uint8_t(i / 3));
    for (int i = 0; i < 37 * 11; ++i)
        djp.push_back(uint8_t(i % 7 == 0 ? i : 3));
    zt::write_file(dir / "d.DJP", djp);
    for (const char *tag : {"-b", "", "-2"}) {
        for (const char *m : {"-m0", "-m1"}) {
            std::vector<std::string> args = {"p", "out", m};
            if (*tag)
                args.push_back(tag);
            auto r = run(args);
            ASSERT_EQ(r.status, 0) << tag << m << r.out << r.err;
            const Decoded d = decode(dir / "out.ZF");
            for (size_t i = 0; i < d.pixels.size(); ++i)
                ASSERT_EQ(d.pixels[i], m[2] == '1' ? to24(&img[3 * i]) : to15(&img[3 * i])) << tag << m << i;
        }
        std::vector<std::string> args = {"d.DJP", "out", "-m2"};
        if (*tag)
            args.push_back(tag);
        ASSERT_EQ(run(args).status, 0);
        const Decoded d = decode(dir / "out.ZF");
        ASSERT_EQ(d.pixels.size(), 37u * 11u);
        for (size_t i = 0; i < d.pixels.size(); ++i)
            ASSERT_EQ(d.pixels[i], djp[780 + i]) << tag << i;
    }
    auto r = run({"p", "-2"});
    EXPECT_NE(r.out.find("Compression type : Optimizing\n"), std::string::npos);
    EXPECT_NE(r.err.find("pass 1 "), std::string::npos);
    EXPECT_NE(r.err.find("\rpass 2 "), std::string::npos);
    EXPECT_EQ(decode(dir / "p.ZF").tag, "ZFSS");
}

TEST_F(Zfenc, DjpTypesAndCompanionOrder)
{
    // Type 8: grey ramp palette, data at 12; type 24: RGB triplets at 12.
    Bytes grey = {'D', 'J', '5', '0', '5', 'J', 2, 0, 1, 0, 8, 0, 0, 200};
    zt::write_file(dir / "g.DJP", grey);
    ASSERT_EQ(run({"g.DJP", "-b", "-m1"}).status, 0);
    EXPECT_EQ(decode(dir / "g.ZF").pixels, (std::vector<uint32_t>{0, 0xC8C8C8}));
    Bytes rgb = {'D', 'J', '5', '0', '5', 'J', 1, 0, 1, 0, 24, 0, 0x12, 0x34, 0x56};
    zt::write_file(dir / "c.DJP", rgb);
    ASSERT_EQ(run({"c.DJP", "-b", "-m1"}).status, 0);
    EXPECT_EQ(decode(dir / "c.ZF").pixels, (std::vector<uint32_t>{0x123456}));
    auto r = run({"c.DJP", "-m2"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("TYPE 0,8 DJPﾌｧｲﾙ以外では 8 bit ZEFAﾌｧｲﾙを生成できません"), std::string::npos);

    // An RGB file with a DJP beside it: geometry from the DJP, pixels from
    // the RGB file at the DJP's data offset.
    Bytes beside(12 + 3, 0);
    beside.insert(beside.end(), {9, 8, 7});
    zt::write_file(dir / "c.RGB", beside);
    ASSERT_EQ(run({"c", "-b", "-m1"}).status, 0);
    EXPECT_EQ(decode(dir / "c.ZF").pixels, (std::vector<uint32_t>{0x000000}));

    // FAL comes before DJP: a.DJP with a.FAL is raw RGB from offset 0.
    zt::write_file(dir / "a.DJP", rgb);
    fal("a.FAL", 5, 1);
    ASSERT_EQ(run({"a.DJP", "-b", "-m1"}).status, 0);
    const Decoded d = decode(dir / "a.ZF");
    EXPECT_EQ(d.width, 5);
    EXPECT_EQ(d.pixels[0], 0x444A35u); // "DJ5"
    // A type-0 DJP shorter than its palette is not a DJP: plain raw.
    zt::write_file(dir / "s.DJP", Bytes{'D', 'J', '5', '0', '5', 'J', 1, 0, 1, 0, 0, 0, 1});
    ASSERT_EQ(run({"s.DJP", "-b"}).status, 0);
    EXPECT_EQ(decode(dir / "s.ZF").width, 640);
}

TEST_F(Zfenc, NameResolution)
{
    // The 48-byte rule and the .Q0 fallback.
    zt::write_file(dir / "q.RGB", Bytes(48, 1));
    zt::write_file(dir / "q.Q0", rgb_image(640, 400));
    auto r = run({"q", "-b"});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Input file       : q.Q0\n"), std::string::npos) << r.out;
    EXPECT_TRUE(zt::file_exists(dir / "q.ZF"));
    zt::write_file(dir / "only.Q0", rgb_image(640, 400));
    r = run({"only.TIF", "-b"});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Input file       : only.Q0\n"), std::string::npos);

    // Outputs: derived beside the input, given without or with extension,
    // the last name wins.
    std::filesystem::create_directory(dir / "sub");
    zt::write_file(dir / "sub/p.RGB", rgb_image(2, 1));
    fal("sub/p.FAL", 2, 1);
    ASSERT_EQ(run({"sub/p", "-b"}).status, 0);
    EXPECT_TRUE(zt::file_exists(dir / "sub/p.ZF"));
    ASSERT_EQ(run({"sub/p.RGB", "out", "-b"}).status, 0);
    EXPECT_TRUE(zt::file_exists(dir / "out.ZF"));
    ASSERT_EQ(run({"sub/p.RGB", "out.bin", "-b"}).status, 0);
    EXPECT_EQ(decode(dir / "out.bin").width, 2);
    ASSERT_EQ(run({"sub/p", "first", "sub/third", "-b"}).status, 0);
    EXPECT_TRUE(zt::file_exists(dir / "sub/third.ZF"));
    EXPECT_FALSE(zt::file_exists(dir / "first.ZF"));

    // A name longer than its field is refused, nothing written.
    r = run({std::string(300, 'n'), "-b"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("ﾌｧｲﾙ名が長すぎます"), std::string::npos);
}

TEST_F(Zfenc, CommentLimitsAndAuthors)
{
    zt::write_file(dir / "p.RGB", rgb_image(2, 2));
    fal("p.FAL", 2, 2);
    zt::write_file(dir / "ok.DOC", std::string(65532, 'y'));
    ASSERT_EQ(run({"p", "-cok", "-b"}).status, 0);
    EXPECT_EQ(decode(dir / "p.ZF").comment.size(), 65532u);
    zt::write_file(dir / "empty.DOC", std::string());
    ASSERT_EQ(run({"p", "-cempty.DOC", "-b"}).status, 0);
    EXPECT_EQ(decode(dir / "p.ZF").comment, "");
    EXPECT_EQ(decode(dir / "p.ZF").title, std::string(30, ' '));

    // The author from the environment, in its order, else "(作者不明)"
    // stored as Shift-JIS.
    zt::RunOptions o{dir.path(), "", {"LC_ALL=C.UTF-8", "PATH=/usr/bin:/bin", "ZEF_USER=zef", "zef_user=low", "USER=u"}, {}};
    ASSERT_EQ(zt::run(zt::zfenc_path(), {"p", "-b", "-nh"}, o).status, 0);
    EXPECT_EQ(decode(dir / "p.ZF").artist, "zef" + std::string(15, ' '));
    o.unset = {"ZEF_USER", "zef_user", "USER", "LOG", "EXE", "TMP"};
    o.env = {"LC_ALL=C.UTF-8", "PATH=/usr/bin:/bin"};
    ASSERT_EQ(zt::run(zt::zfenc_path(), {"p", "-b", "-nh"}, o).status, 0);
    const std::string unknown = "(\x8d\xec\x8e\xd2\x95\x73\x96\xbe)";
    EXPECT_EQ(decode(dir / "p.ZF").artist, unknown + std::string(18 - unknown.size(), ' '));

    // A title longer than its field is cut at a character boundary: 16
    // two-byte characters keep 15 (30 bytes); 0x1A ends a first line.
    std::string kanji;
    for (int i = 0; i < 16; ++i)
        kanji += "漢";
    ASSERT_EQ(run({"p", "-ti", "-b"}, kanji + "\n").status, 0);
    std::string sjis;
    for (int i = 0; i < 15; ++i)
        sjis += "\x8a\xbf";
    EXPECT_EQ(decode(dir / "p.ZF").title, sjis);
    zt::write_file(dir / "p.DOC", std::string("Title\x1a" "after"));
    ASSERT_EQ(run({"p", "-c", "-b"}).status, 0);
    EXPECT_EQ(decode(dir / "p.ZF").title, "Title" + std::string(25, ' '));
    EXPECT_EQ(decode(dir / "p.ZF").comment, "Title");
}

TEST_F(Zfenc, LogNumberingAndLayout)
{
    zt::write_file(dir / "p.RGB", rgb_image(2, 2));
    fal("p.FAL", 2, 2);
    struct Case {
        const char *log;
        int number;
    };
    for (Case c : {Case{"0007 a.ZF\n", 8}, Case{"no number here\n", 2}, Case{"0003 a\n  0012 b\nnote\n", 13},
                   Case{"0005 x\n0000 y\n", 0}}) {
        zt::write_file(dir / "ZFENC.LOG", std::string(c.log));
        ASSERT_EQ(run({"p", "-b", "-tn"}).status, 0);
        EXPECT_EQ(decode(dir / "p.ZF").number, c.number) << c.log;
        char expected[80];
        std::snprintf(expected, sizeof expected, "%04d p.ZF                 unknown                        15 ZFBI\n",
                      c.number);
        EXPECT_EQ(log(), c.log + std::string(expected));
    }
    // A title of more than 30 bytes is cut in the log too.
    std::filesystem::remove(dir / "ZFENC.LOG");
    ASSERT_EQ(run({"p", "a-rather-long-output-name", "-ti", "-b", "-m1", "-2"}, std::string(40, 't') + "\n").status, 0);
    EXPECT_EQ(log(), "0001 a-rather-long-output " + std::string(30, 't') + " 24 ZFSS\n");

    // A log that cannot be written is reported, naming it.
    std::filesystem::remove(dir / "ZFENC.LOG");
    std::filesystem::create_directory(dir / "ZFENC.LOG");
    auto r = run({"p", "-b"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("ZFENC.LOG"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("complete.         \n"), std::string::npos) << r.err;
}

TEST_F(Zfenc, TitleListPagesAndPauses)
{
    std::string text;
    for (int i = 1; i <= 50; ++i) {
        char line[100];
        if (i == 7)
            std::snprintf(line, sizeof line, "%04d short.ZF             brief\n", i);
        else
            std::snprintf(line, sizeof line, "%04d f%02d.ZF               title %-24d 15 ZFSF\n", i, i, i);
        text += line;
    }
    zt::write_file(dir / "ZFENC.LOG", text);

    auto r = run({"-tl"});
    EXPECT_EQ(r.status, 0);
    // 50 rows pause after rows 16, 32 and 48; off a terminal nothing waits
    size_t pauses = 0;
    for (size_t at = r.err.find("-- hit any key --"); at != std::string::npos; at = r.err.find("-- hit any key --", at + 1))
        ++pauses;
    EXPECT_EQ(pauses, 3u);
    EXPECT_NE(r.err.find("-- hit any key --" + std::string(17, ' ') + "\r"), std::string::npos);
    EXPECT_NE(r.out.find("|   7| short.ZF      | -------- | brief                          |\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("|  50| f50.ZF        |  15/ZFSF | title 50                       |\n"), std::string::npos);

    r = run({"-tln"}); // work number 51 from the log
    EXPECT_NE(r.out.find(".si ZEFA-Graphics data list(1/3)\n"), std::string::npos);
    EXPECT_NE(r.out.find(".si ZEFA-Graphics data list(3/3)\n"), std::string::npos);
    const size_t page3 = r.out.find("(3/3)");
    const size_t page2 = r.out.find("(2/3)");
    ASSERT_NE(page2, std::string::npos);
    EXPECT_NE(r.out.find(".row 48 f48.ZF", page2), std::string::npos);
    EXPECT_LT(r.out.find(".row 48 f48.ZF", page2), page3);
    EXPECT_GT(r.out.find(".row 49 f49.ZF"), page3);
    EXPECT_NE(r.out.find(".row 7 short.ZF\n.colc --------\n.col brief\n"), std::string::npos);

    // On a terminal the pause waits for a key.
    zt::RunOptions o{dir.path(), "", {"LC_ALL=C.UTF-8", "PATH=/usr/bin:/bin"}, {"LOG", "EXE"}};
    o.repeat_keys_ms = 150;
    const auto start = std::chrono::steady_clock::now();
    r = zt::run_pty(zt::zfenc_path(), {"-tl"}, "x", 300, o);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.status, 0);
    EXPECT_GE(waited, std::chrono::milliseconds(250)); // the first key comes after 300 ms
    EXPECT_NE(r.out.find("|  50| f50.ZF"), std::string::npos);
}

TEST_F(Zfenc, EscDuringTheFirstPassRemovesTheOutput)
{
    zt::write_file(dir / "big.RGB", rgb_image(2000, 1500));
    fal("big.FAL", 2000, 1500);
    zt::RunOptions o{dir.path(), "", {"LC_ALL=C.UTF-8", "PATH=/usr/bin:/bin"}, {"LOG", "EXE"}};
    o.repeat_keys_ms = 100;
    auto r = zt::run_pty(zt::zfenc_path(), {"big", "-2"}, "\x1b", 50, o);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("ｴﾝｺｰﾄﾞを中止します"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("pass 2"), std::string::npos);
    EXPECT_FALSE(zt::file_exists(dir / "big.ZF"));
    EXPECT_EQ(log(), "");
}

TEST_F(Zfenc, SignalsRemoveThePartialOutput)
{
    zt::write_file(dir / "big.RGB", rgb_image(3000, 2000));
    fal("big.FAL", 3000, 2000);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        zt::RunOptions o{dir.path(), "", {"LC_ALL=C.UTF-8", "PATH=/usr/bin:/bin"}, {"LOG", "EXE"}};
        o.signal = sig;
        o.signal_after_ms = 100;
        const auto r = zt::run(zt::zfenc_path(), {"big", "-2"}, o);
        EXPECT_EQ(r.status, 128 + sig) << r.out << r.err;
        EXPECT_FALSE(zt::file_exists(dir / "big.ZF")) << sig;
        EXPECT_EQ(log(), "");
        EXPECT_TRUE(zt::file_exists(dir / "big.RGB"));
    }
}

namespace {

// A 24-bit BMP file (rows bottom-up, B G R, padded to 4 bytes) of w x h
// pixels, pixel (x, y) = colour(x, y) as 0xRRGGBB.
template <class Colour> Bytes bmp_file(int w, int h, Colour colour)
{
    const int stride = (w * 3 + 3) & ~3;
    const auto size = static_cast<uint32_t>(54 + stride * h);
    Bytes b = {'B', 'M'};
    auto u16 = [&](uint32_t v) { b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)}); };
    auto u32 = [&](uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
    u32(size), u32(0), u32(54), u32(40), u32(uint32_t(w)), u32(uint32_t(h)), u16(1), u16(24);
    u32(0), u32(uint32_t(stride * h)), u32(2835), u32(2835), u32(0), u32(0);
    for (int y = h - 1; y >= 0; --y) {
        for (int x = 0; x < w; ++x) {
            const uint32_t c = colour(x, y);
            b.insert(b.end(), {uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16)});
        }
        b.insert(b.end(), static_cast<size_t>(stride - w * 3), 0);
    }
    return b;
}

std::vector<std::string> temporaries(const zt::TempDir &dir)
{
    std::vector<std::string> found;
    for (const auto &e : std::filesystem::directory_iterator(dir.path()))
        if (e.path().filename().string().rfind("ZFENCIMG", 0) == 0)
            found.push_back(e.path().filename().string());
    return found;
}

Bytes djp_2x1(std::initializer_list<uint8_t> pixels)
{
    Bytes b = {'D', 'J', '5', '0', '5', 'J', 2, 0, 1, 0, 24, 0};
    b.insert(b.end(), pixels);
    return b;
}

} // namespace

// Many runs at once in one folder, each through the real converter: every
// output holds its own picture.
TEST_F(Zfenc, ParallelRunsEachEncodeTheirOwnPicture)
{
    constexpr int kRuns = 12, kW = 120, kH = 90;
    auto colour = [](int k) {
        return [k](int x, int y) {
            return uint32_t((x * 7 + k * 13) & 255) << 16 | uint32_t((y * 5 + k * 29) & 255) << 8 |
                   uint32_t(((x ^ y) + k * 37) & 255);
        };
    };
    for (int k = 0; k < kRuns; ++k)
        zt::write_file(dir / ("p" + std::to_string(k) + ".bmp"), bmp_file(kW, kH, colour(k)));
    std::vector<zt::RunResult> results(kRuns);
    std::vector<std::thread> runs;
    for (int k = 0; k < kRuns; ++k)
        runs.emplace_back([&, k] {
            results[size_t(k)] = run({"p" + std::to_string(k) + ".bmp", "o" + std::to_string(k), "-m1", "-2", "-nh"});
        });
    for (auto &t : runs)
        t.join();
    for (int k = 0; k < kRuns; ++k) {
        ASSERT_EQ(results[size_t(k)].status, 0) << k << results[size_t(k)].out << results[size_t(k)].err;
        const Decoded d = decode(dir / ("o" + std::to_string(k) + ".ZF"));
        ASSERT_EQ(d.pixels.size(), size_t(kW * kH)) << k;
        for (int i = 0; i < kW * kH; ++i)
            ASSERT_EQ(d.pixels[size_t(i)], colour(k)(i % kW, i / kW)) << "run " << k << " pixel " << i;
    }
    EXPECT_EQ(temporaries(dir), std::vector<std::string>{});
}

// While one run's converter works on the temporary name, a second run
// takes a name of its own; a leftover of a run that died is taken over and
// never read as the picture.
TEST_F(Zfenc, TheTemporaryFileBelongsToOneRun)
{
    std::filesystem::copy_file(zt::tools_dir() + "/fake_conv", dir / "GIF_CONV.EXE");
    zt::write_file(dir / "a.gif", std::string("slowpix\x11\x12\x13\x14\x15\x16"));
    zt::write_file(dir / "b.gif", std::string("pix\x21\x22\x23\x24\x25\x26"));
    zt::RunResult first;
    std::thread a([&] { first = run({"a.gif", "a", "-b", "-m1", "-nh"}, "", {"FAKE_CONV_ARGS=a.args"}); });
    for (int i = 0; i < 1000 && !zt::file_exists(dir / "a.args"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const auto second = run({"b.gif", "b", "-b", "-m1", "-nh"});
    a.join();
    ASSERT_EQ(first.status, 0) << first.out << first.err;
    ASSERT_EQ(second.status, 0) << second.out << second.err;
    EXPECT_EQ(decode(dir / "a.ZF").pixels, (std::vector<uint32_t>{0x111213, 0x141516}));
    EXPECT_EQ(decode(dir / "b.ZF").pixels, (std::vector<uint32_t>{0x212223, 0x242526}));
    auto args = zt::read_file(dir / "a.args");
    EXPECT_EQ(std::string(args.begin(), args.end()), "./GIF_CONV.EXE|DJ505JC|a.gif|ZFENCIMG.DJP|\n");
    args = zt::read_file(dir / "fake_conv.args");
    const std::string own(args.begin(), args.end());
    EXPECT_TRUE(std::regex_match(own, std::regex(R"(\./GIF_CONV\.EXE\|DJ505JC\|b\.gif\|ZFENCIMG\.[0-9]+\.[0-9]+\.DJP\|\n)")))
        << own;
    EXPECT_NE(second.out.find("Input file       : " + own.substr(own.find("ZFENCIMG"), own.rfind('|') - own.find("ZFENCIMG"))),
              std::string::npos)
        << second.out;
    EXPECT_EQ(temporaries(dir), std::vector<std::string>{});

    // a leftover, and a converter that ends well without writing anything
    zt::write_file(dir / "ZFENCIMG.DJP", djp_2x1({9, 9, 9, 9, 9, 9}));
    zt::write_file(dir / "n.gif", std::string("none"));
    auto r = run({"n.gif", "-b", "-m1"});
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("ﾌﾟﾗｸﾞｲﾝの出力がDJPﾌｧｲﾙではありません"), std::string::npos) << r.out;
    EXPECT_FALSE(zt::file_exists(dir / "n.ZF"));
    EXPECT_EQ(temporaries(dir), std::vector<std::string>{});
    args = zt::read_file(dir / "fake_conv.args");
    EXPECT_EQ(std::string(args.begin(), args.end()), "./GIF_CONV.EXE|DJ505JC|n.gif|ZFENCIMG.DJP|\n");

    // a folder for the temporary file that does not exist: said, nothing left
    r = run({"b.gif", "nb", "-b"}, "", {"TMP=nodir"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("ﾃﾝﾎﾟﾗﾘﾌｧｲﾙ nodir/ZFENCIMG.DJP が作成できません\n"), std::string::npos) << r.out;
    EXPECT_FALSE(zt::file_exists(dir / "nb.ZF"));
}

// The header's subtitle is the output's base name in Shift-JIS, cut at a
// character boundary to its 8 bytes; ASCII names as before.
TEST_F(Zfenc, SubtitleFromTheOutputNameIsShiftJis)
{
    zt::write_file(dir / "p.RGB", rgb_image(2, 2));
    fal("p.FAL", 2, 2);
    auto subtitle = [&](const std::string &file) {
        zf_file *f = zf_open((dir / file).c_str());
        EXPECT_NE(f, nullptr) << file;
        if (!f)
            return std::string();
        std::string s(reinterpret_cast<char *>(f->header + ZF_H_SUBTITLE), 8);
        zf_close(f);
        return s;
    };
    struct Case {
        const char *output, *file, *subtitle;
    };
    std::filesystem::create_directory(dir / "sub");
    for (Case c : {Case{"写真の記録", "写真の記録.ZF", "\x8e\xca\x90\x5e\x82\xcc\x8b\x4c"},
                   Case{"abc写真の.x", "abc写真の.x", "abc\x8e\xca\x90\x5e "},
                   Case{"sub/写.ZF", "sub/写.ZF", "\x8e\xca      "},
                   Case{"sub/longasciiname", "sub/longasciiname.ZF", "longasci"},
                   Case{"a.b.c", "a.b.c", "a       "}}) {
        const auto r = run({"p", c.output, "-b", "-nh"});
        ASSERT_EQ(r.status, 0) << c.output << r.out << r.err;
        EXPECT_EQ(subtitle(c.file), c.subtitle) << c.output;
    }
    // shown as the header's text again
    zt::RunOptions o{dir.path(), "", {"LC_ALL=C.UTF-8"}, {}};
    const auto shown = zt::run(zt::zfdec_path(), {"-i", "写真の記録.ZF"}, o);
    EXPECT_NE(shown.out.find("Subtitle         : 写真の記\n"), std::string::npos) << shown.out;
}

// A ZEFA file given as raw pixels is refused, whatever its name; DJP files
// are read as before.
TEST_F(Zfenc, AZefaFileIsNotEncodedAsPixels)
{
    zt::write_file(dir / "p.RGB", rgb_image(5, 4)); // not 48 bytes: that is a Q0 name
    fal("p.FAL", 5, 3);
    ASSERT_EQ(run({"p", "-b", "-nh"}).status, 0);
    const Bytes zefa = zt::read_file(dir / "p.ZF");
    Bytes prefixed = zefa;
    prefixed.insert(prefixed.begin(), 128, 0);
    zt::write_file(dir / "q.RGB", zefa);
    fal("q.FAL", 5, 3);
    zt::write_file(dir / "pre.RGB", prefixed);
    zt::write_file(dir / "old.bin", zefa);
    zt::write_file(dir / "ZFENC.LOG", std::string("0004 x.ZF\n"));
    struct Case {
        std::vector<std::string> args;
        const char *named, *output;
    };
    for (const Case &c : {Case{{"p.ZF", "again"}, "p.ZF", "again.ZF"}, Case{{"q"}, "q.RGB", "q.ZF"},
                          Case{{"pre", "-ex"}, "pre.RGB", "pre.ZF"}, Case{{"old.bin", "-m1", "-2"}, "old.bin", "old.ZF"}}) {
        const auto r = run(c.args);
        EXPECT_EQ(r.status, 1) << c.named << r.out;
        EXPECT_NE(r.out.find(std::string(c.named) + " はZEFAﾌｧｲﾙなのでｴﾝｺｰﾄﾞできません\n"), std::string::npos)
            << c.named << r.out;
        EXPECT_EQ(r.out.find("Input file"), std::string::npos) << c.named;
        EXPECT_FALSE(zt::file_exists(dir / c.output)) << c.named;
    }
    EXPECT_EQ(zt::read_file(dir / "p.ZF"), zefa);
    EXPECT_TRUE(zt::file_exists(dir / "pre.RGB"));
    EXPECT_EQ(log(), "0004 x.ZF\n");

    // A DJP file whose palette spells the magic at 128 is a DJP file.
    Bytes djp = {'D', 'J', '5', '0', '5', 'J', 1, 0, 1, 0, 0, 0};
    djp.resize(12 + 768, 0);
    std::memcpy(&djp[128], "ZFDT", 4);
    djp.push_back(0);
    zt::write_file(dir / "d.DJP", djp);
    ASSERT_EQ(run({"d.DJP", "-b", "-m2", "-nh"}).status, 0);
}

// "--" ends the options: absolute paths and names that begin with '-'.
TEST_F(Zfenc, DoubleDashEndsTheOptions)
{
    zt::write_file(dir / "p.RGB", rgb_image(3, 2));
    fal("p.FAL", 3, 2);
    auto r = run({"-b", "-m1", "--", dir / "p.RGB", "-out", "-2"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(decode(dir / "-2.ZF").tag, "ZFBM");
    ASSERT_EQ(run({"-nh", "--", dir / "p"}).status, 0);
    EXPECT_EQ(decode(dir / "p.ZF").width, 3);
    EXPECT_FALSE(zt::file_exists(dir / "-out.ZF"));
    // after "--", "--help" is a name like any other
    r = run({"--", "--help"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("指定されたﾌｧｲﾙが見つかりません"), std::string::npos) << r.out;
    // before it, '/' still starts an option
    r = run({"/tmp/x", "--", "p"});
    EXPECT_NE(r.out.find("ｵﾌﾟｼｮﾝ -tmp/x は間違った指定です\n"), std::string::npos);
    EXPECT_NE(run({"--help"}).out.find("  --  "), std::string::npos);
}
