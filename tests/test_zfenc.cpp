// zfenc run in temporary folders: input kinds and geometry, options and
// their messages, names, comments and titles, converters, the log and the
// title list, and the faults it must not commit.  Every file written is
// decoded back through the library and compared.
#include "harness.h"
#include "zefa.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

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
    zt::RunResult run(std::vector<std::string> args, const std::string &input = "")
    {
        zt::RunOptions o{dir.path(), input, {"LC_ALL=C.UTF-8", "PATH=/usr/bin:/bin", "USER=tester"},
                         {"ZEF_USER", "zef_user", "LOG", "EXE", "TMP"}};
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

    zt::write_file(dir / "fail.gif", std::string("fail"));
    r = run({"fail.gif", "-b"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("指定プラグインが起動できません"), std::string::npos);
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

    // -ex deletes the input only after a complete output.
    r = run({"huge", "-ex"});
    EXPECT_TRUE(zt::file_exists(dir / "huge.RGB"));
    ASSERT_EQ(run({"p", "-ex", "-b"}).status, 0);
    EXPECT_FALSE(zt::file_exists(dir / "p.RGB"));
}
