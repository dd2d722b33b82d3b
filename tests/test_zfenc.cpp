// zfenc run in temporary folders: every input kind at every tag and depth,
// options and their messages, names, comments, titles and authors,
// converters and their temporary files, the log and the title list, and
// the faults it must not commit.  Every file written is read back through
// the library.
#include "codec_run.h"
#include "harness.h"
#include "pictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <optional>
#include <thread>

namespace {

using namespace zt;

// The only block of a file, with the header's fields.
struct Decoded {
    zf_info info{};
    zf_block head{};
    std::string comment;
    std::vector<uint32_t> pixels;
};

Decoded read_zf(const std::string &path)
{
    const ReadBack r = read_back(path);
    Decoded d{r.info, {}, r.comment, {}};
    EXPECT_TRUE(r.error == 0 && r.blocks.size() == 1) << path << ": error " << r.error;
    if (!r.blocks.empty())
        d.head = r.blocks[0].head;
    for (const auto &row : r.blocks.empty() ? Image{} : r.blocks[0].lines)
        d.pixels.insert(d.pixels.end(), row.begin(), row.end());
    return d;
}

// The names in the folder that begin with `prefix`: a converter's
// temporary files, or a run's unfinished output.
std::vector<std::string> leftovers(const TempDir &dir, const std::string &prefix = "ZFENCIMG")
{
    std::vector<std::string> found = names_in(dir.path());
    std::erase_if(found, [&](const std::string &name) { return name.rfind(prefix, 0) != 0; });
    return found;
}

// One run and what it must leave: its status, a text it prints (and one it
// must not), the file it writes (or, when it fails, must not write) and
// fields of that file; text fields are given without their blank padding.
struct Case {
    std::vector<std::string> args;
    int status = 0;
    std::string says = "", never = "\x01";
    std::string output = "";
    std::string input = "";
    std::vector<std::string> env = {};
    std::optional<std::string> title = {}, comment = {}, artist = {};
    int number = -1, depth = 0, width = 0, height = 0;
    const char *tag = nullptr;
    std::vector<uint32_t> pixels = {}; // the first ones
};

class Zfenc : public ::testing::Test {
protected:
    RunResult run(std::vector<std::string> args, const std::string &input = "", std::vector<std::string> env = {})
    {
        RunOptions o{dir.path(), input, {"LC_ALL=C.UTF-8", "PATH=/usr/bin:/bin", "USER=tester"},
                     {"ZEF_USER", "zef_user", "LOG", "EXE", "TMP"}};
        o.env.insert(o.env.end(), env.begin(), env.end());
        return zt::run(zfenc_path(), args, o);
    }
    void check(const std::vector<Case> &cases)
    {
        for (const Case &c : cases) {
            std::string label;
            for (const auto &a : c.args)
                label += a.substr(0, 24) + " ";
            if (!c.output.empty())
                std::filesystem::remove(dir / c.output);
            const auto r = run(c.args, c.input, c.env);
            EXPECT_EQ(r.status, c.status) << label << r.out << r.err;
            EXPECT_TRUE(has(r.out + r.err, c.says)) << label;
            EXPECT_FALSE(has(r.out + r.err, c.never)) << label;
            if (c.output.empty() || c.status) {
                EXPECT_TRUE(c.output.empty() || !file_exists(dir / c.output)) << label;
                continue;
            }
            const Decoded d = read_zf(dir / c.output);
            const auto padded = [](const std::string &s, size_t n) { return s + std::string(n - std::min(n, s.size()), ' '); };
            EXPECT_TRUE(!c.title || d.info.title == padded(*c.title, 30)) << label << "title " << d.info.title;
            EXPECT_TRUE(!c.artist || d.info.artist == padded(*c.artist, 18)) << label << "artist " << d.info.artist;
            EXPECT_TRUE(!c.comment || d.comment == *c.comment) << label << "comment " << d.comment;
            EXPECT_TRUE(c.number < 0 || d.info.number == c.number) << label << "number " << d.info.number;
            EXPECT_TRUE(!c.depth || d.info.depth == c.depth) << label << "depth " << d.info.depth;
            EXPECT_TRUE(!c.tag || std::string(d.head.tag) == c.tag) << label << "tag " << d.head.tag;
            EXPECT_TRUE(!c.width || d.head.width == c.width) << label << "width " << d.head.width;
            EXPECT_TRUE(!c.height || d.head.height == c.height) << label << "height " << d.head.height;
            EXPECT_TRUE(d.pixels.size() >= c.pixels.size() && std::equal(c.pixels.begin(), c.pixels.end(), d.pixels.begin()))
                << label;
        }
    }
    // NAME.RGB of w x h pixels with its NAME.FAL
    void raw(const std::string &name, int w, int h, int x = 0, int y = 0)
    {
        write_file(dir / (name + ".RGB"), test_picture(Kind::rgb, w, h).pixels);
        write_file(dir / (name + ".FAL"), fal_text(w, h, x, y));
    }
    std::string text(const std::string &name) const { return read_text(dir / name); }
    std::string log() const { return text("ZFENC.LOG"); }
    TempDir dir;
};

} // namespace

// Raw RGB with its FAL (position kept) at 15 and 24 bits, a palette DJP
// file at 8, in each coding: -b is ZFBI, and ZFBM at 24 bits.
TEST_F(Zfenc, EveryTagAtEveryDepth)
{
    raw("p", 37, 11, 5, 6);
    const Picture img = test_picture(Kind::rgb, 37, 11);
    const auto to15 = [](uint32_t c) { return (c >> 19 & 31) << 6 | (c >> 11 & 31) << 11 | (c >> 3 & 31) << 1; };
    Bytes djp;
    for (int i = 0; i < 768 + 37 * 11; ++i)
        djp.push_back(uint8_t(i < 768 ? i / 3 : (i - 768) % 7 == 0 ? i - 768 : 3));
    write_file(dir / "d.DJP", djp_file(37, 11, 0, djp));
    for (auto [option, tag] : {std::pair{"-b", "ZFBI"}, std::pair{"", "ZFSF"}, std::pair{"-2", "ZFSS"}})
        for (int depth : {15, 24, 8}) {
            std::vector<std::string> args = {depth == 8 ? "d.DJP" : "p", "out", depth == 8 ? "-m2" : depth == 24 ? "-m1" : "-M0"};
            if (*option)
                args.push_back(option);
            const auto r = run(args);
            ASSERT_EQ(r.status, 0) << option << depth << r.out << r.err;
            const Decoded d = read_zf(dir / "out.ZF");
            EXPECT_STREQ(d.head.tag, depth == 24 && tag[3] == 'I' ? "ZFBM" : tag);
            EXPECT_EQ(d.info.depth, depth);
            EXPECT_EQ(d.head.x, depth == 8 ? 0 : 5);
            EXPECT_EQ(d.head.y, depth == 8 ? 0 : 6);
            ASSERT_EQ(d.pixels.size(), 37u * 11u);
            for (size_t i = 0; i < d.pixels.size(); ++i) {
                const uint32_t c = colour_at(img, int(i % 37), int(i / 37));
                ASSERT_EQ(d.pixels[i], depth == 8 ? djp[768 + i] : depth == 24 ? c : to15(c)) << option << depth << " " << i;
            }
            EXPECT_EQ(std::string(d.info.artist), "tester" + std::string(12, ' '));
        }
    const auto r = run({"p", "-2"});
    EXPECT_TRUE(has(r.out, "Image size       : 37 x 11\nOutput file      : p.ZF\nColor bit depth  : 15 bits\n"
                           "Compression type : Optimizing\n"));
    EXPECT_TRUE(has(r.err, "\rpass 2 "));
}

// Plain raw pictures of 640 x 400, GLM files (plain raw when a GMM partner
// of another family is beside them), grey and colour DJP files, an RGB
// file beside a DJP file (pixels from the DJP's data offset), a FAL before
// a DJP (raw from offset 0), a DJP too short for its palette (plain raw).
// A DJP file beside another input lends it its geometry, so the names differ.
TEST_F(Zfenc, InputKinds)
{
    const std::string fal5 = fal_text(5, 1);
    Bytes beside(12 + 3 + 3, 0); // (an insert here draws a false -Warray-bounds from GCC 12)
    std::copy_n("\x09\x08\x07", 3, beside.end() - 3);
    const std::pair<const char *, Bytes> files[] = {
        {"x.RGB", test_picture(Kind::rgb, 640, 400).pixels}, {"g.GLM", {'G', 'R', '6', '5', 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 1, 0x01, 0xF8, 0xC0, 0x07}},
        {"y.DJP", djp_file(2, 1, 8, {0, 200})}, {"c.DJP", djp_file(1, 1, 24, {0x12, 0x34, 0x56})}, {"c.RGB", beside},
        {"a.DJP", djp_file(1, 1, 24, {0x12, 0x34, 0x56})}, {"a.FAL", Bytes(fal5.begin(), fal5.end())},
        {"s.DJP", djp_file(1, 1, 0, {1})}};
    for (const auto &[name, bytes] : files)
        write_file(dir / name, bytes);
    check({{.args = {"x", "o", "-m2"}, .status = 1, .says = "RGB/Q0ﾌｧｲﾙからは 8 bit ZEFAﾌｧｲﾙを生成できません", .output = "o.ZF"},
           {.args = {"x", "o", "-b"}, .output = "o.ZF", .width = 640, .height = 400},
           {.args = {"g.GLM", "o", "-b"}, .output = "o.ZF", .pixels = {0xF800, 0x07C0}},
           {.args = {"g.GLM", "o", "-b", "-m1"}, .output = "o.ZF", .pixels = {0x00F800, 0xF80000}},
           {.args = {"y.DJP", "o", "-b", "-m1"}, .output = "o.ZF", .pixels = {0, 0xC8C8C8}},
           {.args = {"c.DJP", "o", "-b", "-m1"}, .output = "o.ZF", .pixels = {0x123456}},
           {.args = {"c.DJP", "o", "-m2"}, .status = 1, .says = "TYPE 0,8 DJPﾌｧｲﾙ以外では 8 bit ZEFAﾌｧｲﾙを生成できません", .output = "o.ZF"},
           {.args = {"c", "o", "-b", "-m1"}, .output = "o.ZF", .pixels = {0}},
           {.args = {"a.DJP", "o", "-b", "-m1"}, .output = "o.ZF", .width = 5, .pixels = {0x444A35}}, // "DJ5"
           {.args = {"s.DJP", "o", "-b"}, .output = "o.ZF", .width = 640}});
    write_file(dir / "g.GMM", Bytes(16, 'x'));
    check({{.args = {"g.GLM", "o", "-b"}, .output = "o.ZF", .width = 640}});
}

TEST_F(Zfenc, OptionsAndTheirMessages)
{
    raw("p", 2, 2);
    check({{.args = {}, .status = 1, .says = "usage : ZFENC {-opt} filename[.RGB|.Q0] {outfile[.ZF]} {-opt}\n"},
           {.args = {"p", "-m3"}, .status = 1, .says = "ｵﾌﾟｼｮﾝ -m3 は間違った指定です\n", .output = "p.ZF"},
           {.args = {"p", "-n0"}, .status = 1, .says = "ｵﾌﾟｼｮﾝ -n0 は間違った指定です\n", .output = "p.ZF"},
           {.args = {"p", "-ey"}, .status = 1, .says = "ｵﾌﾟｼｮﾝ -ey は間違った指定です\n", .output = "p.ZF"},
           {.args = {"p", "-q"}, .status = 1, .says = "ｵﾌﾟｼｮﾝ -q は間違った指定です\n", .output = "p.ZF"},
           {.args = {"p", "-a1234567890123456789"}, .status = 1, .says = "作成者名は18文字までしか指定できません\n", .output = "p.ZF"},
           {.args = {"-b"}, .status = 1, .says = "処理ﾌｧｲﾙ名を指定してください"},
           {.args = {std::string(300, 'n'), "-b"}, .status = 1, .says = "ﾌｧｲﾙ名が長すぎます"},
           // the later option wins
           {.args = {"p", "-a123456789012345678", "-m12", "-b", "-2", "-b"}, .output = "p.ZF", .artist = "123456789012345678",
            .depth = 24, .tag = "ZFBM"}});
}

// Titles from the comment's first line (up to CR, LF or 0x1A), typed, or
// none; comments of up to 65532 bytes; work numbers from the log, -n and
// -nh in their order; the author from the environment in its order.
TEST_F(Zfenc, CommentsTitlesNumbersAndAuthors)
{
    raw("p", 3, 2);
    write_file(dir / "p.DOC", std::string("First line\r\nsecond\x1a ignored"));
    write_file(dir / "big.DOC", std::string(65533, 'x'));
    write_file(dir / "ok.DOC", std::string(65532, 'y'));
    write_file(dir / "empty.DOC", std::string());
    // a title longer than its field is cut at a character boundary: 16
    // two-byte characters keep 15 (30 bytes)
    std::string kanji, sjis;
    for (int i = 0; i < 16; ++i) {
        kanji += "漢";
        sjis += i < 15 ? "\x8a\xbf" : "";
    }
    check({{.args = {"p", "-c", "-b"}, .output = "p.ZF", .title = "First line", .comment = "First line\r\nsecond", .number = 1},
           {.args = {"p", "second", "-c", "-tn", "-b"}, .output = "second.ZF", .title = "", .number = 2},
           {.args = {"p", "fifth", "-n5", "-nh", "-b"}, .output = "fifth.ZF", .number = 0},
           {.args = {"p", "sixth", "-nh", "-n5", "-b"}, .output = "sixth.ZF", .number = 5},
           {.args = {"p", "-cbig", "-b"}, .status = 1, .says = "ｺﾒﾝﾄﾌｧｲﾙが長すぎます 65532 ﾊﾞｲﾄ以下に調節してください", .output = "p.ZF"},
           {.args = {"p", "-cnone", "-b"}, .status = 1, .says = "ｺﾒﾝﾄﾌｧｲﾙが見付かりません", .output = "p.ZF"},
           {.args = {"p", "-cok", "-b"}, .output = "p.ZF", .comment = std::string(65532, 'y')},
           {.args = {"p", "-cempty.DOC", "-b"}, .output = "p.ZF", .title = "", .comment = ""},
           {.args = {"p", "-ti", "-b"}, .output = "p.ZF", .input = kanji + "\n", .title = sjis},
           {.args = {"p", "-nh"}, .output = "p.ZF", .env = {"ZEF_USER=zef", "zef_user=low", "USER=u"}, .artist = "zef"}});
    const std::string first = "0001 p.ZF                 First line                     15 ZFBI\n";
    EXPECT_EQ(log().substr(0, first.size()), first);
    EXPECT_FALSE(has(log(), "fifth"));
    // no author at all: "(作者不明)" stored as Shift-JIS
    const RunOptions o{dir.path(), "", {"LC_ALL=C.UTF-8"}, {"ZEF_USER", "zef_user", "USER", "LOG", "EXE", "TMP"}};
    ASSERT_EQ(zt::run(zfenc_path(), {"p", "-b", "-nh"}, o).status, 0);
    EXPECT_EQ(std::string(read_zf(dir / "p.ZF").info.artist), "(\x8d\xec\x8e\xd2\x95\x73\x96\xbe)" + std::string(8, ' '));
}

// The next number follows the log's last numbered line; the title list
// shows the log, pausing every 16 rows.
TEST_F(Zfenc, LogNumberingAndTheTitleList)
{
    raw("p", 2, 2);
    for (auto [before, number] : {std::pair{"0007 a.ZF\n", 8}, std::pair{"0003 a\n  0012 b\nnote\n", 13}}) {
        write_file(dir / "ZFENC.LOG", std::string(before));
        ASSERT_EQ(run({"p", "-b", "-tn"}).status, 0);
        EXPECT_EQ(read_zf(dir / "p.ZF").info.number, number) << before;
        char line[80];
        std::snprintf(line, sizeof line, "%04d p.ZF                 unknown                        15 ZFBI\n", number);
        EXPECT_EQ(log(), before + std::string(line));
    }
    // a log that cannot be written is reported, naming it
    std::filesystem::remove(dir / "ZFENC.LOG");
    std::filesystem::create_directory(dir / "ZFENC.LOG");
    const auto r = run({"p", "-b"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(has(r.err, "ZFENC.LOG"));
    std::filesystem::remove(dir / "ZFENC.LOG");

    std::string list;
    for (int i = 1; i <= 49; ++i) { // a pause every 16 rows (off a terminal nothing waits); pages
        char line[80];
        std::snprintf(line, sizeof line, "%04d f%02d.ZF               title %-24d 15 ZFSF\n", i, i, i);
        list += i == 7 ? "0007 short.ZF             brief\n" : line; // no depth
    }
    write_file(dir / "ZFENC.LOG", list);
    const auto shown = run({"-tl"});
    EXPECT_TRUE(has(shown.out, "|   1| f01.ZF        |  15/ZFSF | title 1                        |\n"));
    EXPECT_TRUE(has(shown.err, "-- hit any key --" + std::string(17, ' ') + "\r"));
    const auto formatted = run({"-tln"});
    EXPECT_TRUE(has(formatted.out, ".row 1 f01.ZF\n.col 15/ZFSF\n.col title 1"));
    EXPECT_TRUE(has(formatted.out, ".si ZEFA-Graphics data list(3/3)\n"));
    EXPECT_TRUE(has(formatted.out, ".row 7 short.ZF\n.colc --------\n.col brief\n"));
    EXPECT_TRUE(has(shown.out, "|   7| short.ZF      | -------- | brief                          |\n"));
}

// The 48-byte rule and the .Q0 fallback; outputs derived beside the
// input, given without or with extension, the last name winning.
TEST_F(Zfenc, NameResolution)
{
    write_file(dir / "q.RGB", Bytes(48, 1));
    write_file(dir / "q.Q0", test_picture(Kind::rgb, 640, 400).pixels);
    write_file(dir / "only.Q0", test_picture(Kind::rgb, 640, 400).pixels);
    std::filesystem::create_directory(dir / "sub");
    raw("sub/p", 2, 1);
    check({{.args = {"q", "-b"}, .says = "Input file       : q.Q0\n", .output = "q.ZF"},
           {.args = {"only.TIF", "-b"}, .says = "Input file       : only.Q0\n"},
           {.args = {"sub/p", "-b"}, .output = "sub/p.ZF"},
           {.args = {"sub/p.RGB", "out.bin", "-b"}, .output = "out.bin", .width = 2},
           {.args = {"sub/p", "first", "sub/third", "-b"}, .output = "sub/third.ZF"}});
    EXPECT_FALSE(file_exists(dir / "first.ZF"));
    // a '.' in a folder's name is no extension
    std::filesystem::create_directory(dir / "photos.2001");
    raw("photos.2001/pic", 2, 1);
    check({{.args = {"photos.2001/pic", "-b", "-nh"}, .says = "Input file       : photos.2001/pic.RGB\n",
            .output = "photos.2001/pic.ZF", .width = 2},
           {.args = {"photos.2001/pic.RGB", "photos.2001/out", "-b", "-nh"}, .output = "photos.2001/out.ZF"}});
}

// The converter's command line, and converters that end well without
// writing a DJP file (the leftover of a run that died is taken over, never
// read as the picture), fail, crash or write junk; a format without one.
TEST_F(Zfenc, ConverterContractThroughAStandIn)
{
    std::filesystem::copy_file(tools_dir() + "/fake_conv", dir / "GIF_CONV.EXE");
    write_file(dir / "a.gif", std::string("GIF89a"));
    std::filesystem::create_directory(dir / "tmp");
    auto r = run({"a.gif", "-b", "-m1"}, "", {"TMP=tmp"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(has(r.out, "Input file       : tmp/ZFENCIMG.DJP\nConverted from   : a.gif\n"));
    EXPECT_EQ(read_zf(dir / "a.ZF").pixels, (std::vector<uint32_t>{0x010203, 0x040506}));
    EXPECT_EQ(text("fake_conv.args"), "./GIF_CONV.EXE|DJ505JC|a.gif|tmp/ZFENCIMG.DJP|\n");
    EXPECT_FALSE(file_exists(dir / "tmp/ZFENCIMG.DJP"));
    write_file(dir / "b.tif", std::string("x"));
    write_file(dir / "ZFENCIMG.DJP", djp_file(2, 1, 24, {9, 9, 9, 9, 9, 9}));
    for (auto [what, message] : {std::pair{"none", "ﾌﾟﾗｸﾞｲﾝの出力がDJPﾌｧｲﾙではありません"}, std::pair{"fail", "指定プラグインが起動できません"},
                                 std::pair{"dump", ""}, std::pair{"junk", "ﾌﾟﾗｸﾞｲﾝの出力がDJPﾌｧｲﾙではありません"},
                                 std::pair{"", "指定プラグインが起動できません"}}) {
        write_file(dir / "c.gif", std::string(what));
        r = run({*what ? "c.gif" : "b.tif", "-b"});
        EXPECT_EQ(r.status, 1) << what;
        EXPECT_FALSE(r.out.empty() || !has(r.out, message)) << what;
        EXPECT_FALSE(file_exists(dir / "c.ZF") || file_exists(dir / "b.ZF")) << what;
        EXPECT_EQ(leftovers(dir), std::vector<std::string>{}) << what;
    }
    r = run({"a.gif", "nb", "-b"}, "", {"TMP=nodir"});
    EXPECT_TRUE(r.status == 1 && has(r.out, "ﾃﾝﾎﾟﾗﾘﾌｧｲﾙ nodir/ZFENCIMG.DJP が作成できません\n"));
    EXPECT_TRUE(has(run({"a.gif", "-b"}, "", {"TMP=" + std::string(300, 't')}).out, "ﾃﾝﾎﾟﾗﾘﾌｧｲﾙ名が長すぎます"));
}

// Runs at once in one folder, each through the real converter: every
// output holds its own picture, and no run takes another's temporary file
// (each but the first makes one of its own).
TEST_F(Zfenc, ParallelRunsEachEncodeTheirOwnPicture)
{
    std::vector<Picture> pictures(6, test_picture(Kind::rgb, 60, 40));
    std::vector<RunResult> results(pictures.size());
    std::vector<std::thread> runs;
    for (size_t k = 0; k < pictures.size(); ++k) {
        for (uint8_t &v : pictures[k].pixels) // every pixel differs from the other runs'
            v = static_cast<uint8_t>(v + 29 * k);
        write_file(dir / ("p" + std::to_string(k) + ".bmp"), bmp_of(pictures[k], 24));
    }
    for (size_t k = 0; k < pictures.size(); ++k)
        runs.emplace_back([&, k] { results[k] = run({"p" + std::to_string(k) + ".bmp", "o" + std::to_string(k), "-m1", "-nh"}); });
    for (std::thread &t : runs)
        t.join();
    for (size_t k = 0; k < pictures.size(); ++k) {
        ASSERT_EQ(results[k].status, 0) << k << results[k].out << results[k].err;
        const Decoded d = read_zf(dir / ("o" + std::to_string(k) + ".ZF"));
        ASSERT_EQ(d.pixels.size(), 60u * 40u) << k;
        for (size_t i = 0; i < d.pixels.size(); ++i)
            ASSERT_EQ(d.pixels[i], colour_at(pictures[k], int(i % 60), int(i / 60))) << "run " << k << " pixel " << i;
    }
    EXPECT_EQ(leftovers(dir), std::vector<std::string>{});
}

TEST_F(Zfenc, FaultsItMustNotCommit)
{
    raw("p", 5, 4); // 4 x 4 would be 48 bytes: a Q0 name
    const Bytes original = read_file(dir / "p.RGB");
    auto r = run({"p", "p.RGB", "-b"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(read_file(dir / "p.RGB"), original);
    write_file(dir / "p.DOC", std::string("c"));
    r = run({"p", "p.DOC", "-c", "-b"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(read_file(dir / "p.DOC"), Bytes{'c'});

    // A full disk (a file-size limit of 1 KiB): reported, no broken output,
    // no log line.
    raw("big", 100, 100);
    RunOptions o{dir.path(), "", {"LC_ALL=C.UTF-8"}, {}};
    r = zt::run("/bin/sh", {"-c", "ulimit -f 1; exec \"$0\" big full -b", zfenc_path()}, o);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_FALSE(file_exists(dir / "full.ZF"));
    EXPECT_EQ(log(), "");
    // the cause and the file, and no "complete." before them
    EXPECT_TRUE(has(r.err, "(File too large)\n対象ﾌｧｲﾙ: full.ZF\n")) << r.err;
    EXPECT_FALSE(has(r.err, "complete."));
    // A file that had the output's name is kept as it was, and nothing of
    // the failed run is left beside it.
    write_file(dir / "full.ZF", std::string("an earlier output"));
    r = zt::run("/bin/sh", {"-c", "ulimit -f 1; exec \"$0\" big full -b", zfenc_path()}, o);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(text("full.ZF"), "an earlier output");
    EXPECT_EQ(leftovers(dir, ".zfenc"), std::vector<std::string>{});
    EXPECT_EQ(run({"big", "full", "-b"}).status, 0); // and replaced by a complete one
    EXPECT_EQ(read_zf(dir / "full.ZF").pixels.size(), 100u * 100u);

    // A device as the output (through a link, for the name's extension):
    // written to, never removed or replaced.
    std::filesystem::create_symlink("/dev/full", dir / "dev.ZF");
    r = run({"big", "dev", "-b"});
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(r.err.empty());
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "dev.ZF"));
    EXPECT_TRUE(is_device("/dev/full"));
    // named without an extension, a device keeps its name: no /dev/full.ZF
    r = run({"-nh", "--", "big", "/dev/full"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r.err, "/dev/full\n"));
    EXPECT_FALSE(file_exists("/dev/full.ZF"));
    // a pipe gets the whole file, made beside it first (the header is
    // written last)
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
    r = zt::run("/bin/sh", {"-c", "cat pipe > piped & \"$0\" big pipe -b -nh; s=$?; wait; exit $s", zfenc_path()}, o);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_zf(dir / "piped").pixels.size(), 100u * 100u);

    // An input shorter than its geometry: zeros and a warning.
    write_file(dir / "short.FAL", fal_text(4, 4));
    write_file(dir / "short.RGB", Bytes(30, 9));
    r = run({"short", "-b", "-m1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(has(r.err, "警告"));
    const Decoded d = read_zf(dir / "short.ZF");
    ASSERT_EQ(d.pixels.size(), 16u);
    EXPECT_EQ(d.pixels[9], 0x090909u);
    EXPECT_EQ(d.pixels[10], 0u);
    EXPECT_EQ(d.pixels[15], 0u);

    // Geometry the format cannot hold is refused before any output; so is
    // an output folder that does not exist.  -ex deletes the input only
    // after a complete output.
    write_file(dir / "huge.FAL", fal_text(40000, 1));
    write_file(dir / "none.FAL", fal_text(0, 5));
    write_file(dir / "huge.RGB", Bytes(3, 0));
    write_file(dir / "none.RGB", Bytes(3, 0));
    check({{.args = {"huge", "-b"}, .status = 1, .output = "huge.ZF"},
           {.args = {"none", "-b"}, .status = 1, .output = "none.ZF"},
           {.args = {"p", "nodir/out", "-b"}, .status = 1, .says = "nodir/out.ZF"},
           {.args = {"huge", "-ex"}, .status = 1, .output = "huge.ZF"}});
    EXPECT_FALSE(has(log(), "out.ZF"));
    EXPECT_TRUE(file_exists(dir / "huge.RGB"));
    ASSERT_EQ(run({"p", "-ex", "-b"}).status, 0);
    EXPECT_FALSE(file_exists(dir / "p.RGB"));
}

// The header's subtitle is the output's base name in Shift-JIS, cut at a
// character boundary to its 8 bytes; ASCII names as before (the library's
// rules, in test_container).
TEST_F(Zfenc, SubtitleFromTheOutputNameIsShiftJis)
{
    raw("p", 2, 2);
    std::filesystem::create_directory(dir / "sub");
    const std::tuple<const char *, const char *, const char *> cases[] = {
        {"写真の記録", "写真の記録.ZF", "\x8e\xca\x90\x5e\x82\xcc\x8b\x4c"}, {"abc写真の.x", "abc写真の.x", "abc\x8e\xca\x90\x5e "},
        {"sub/写.ZF", "sub/写.ZF", "\x8e\xca      "}, {"a.b.c", "a.b.c", "a       "}};
    for (auto [output, file, subtitle] : cases) {
        const auto r = run({"p", output, "-b", "-nh"});
        ASSERT_EQ(r.status, 0) << output << r.out << r.err;
        EXPECT_EQ(std::string(read_zf(dir / file).info.subtitle), subtitle) << output;
    }
    // (shown as text again: the title's way, in test_display)
}

// A ZEFA file given as raw pixels is refused, whatever its name; DJP files
// are read as before.
TEST_F(Zfenc, AZefaFileIsNotEncodedAsPixels)
{
    raw("p", 5, 4); // not 48 bytes: that is a Q0 name
    write_file(dir / "p.FAL", fal_text(5, 3));
    ASSERT_EQ(run({"p", "-b", "-nh"}).status, 0);
    const Bytes zefa = read_file(dir / "p.ZF");
    Bytes prefixed = zefa;
    prefixed.insert(prefixed.begin(), 128, 0);
    write_file(dir / "q.RGB", zefa);
    write_file(dir / "q.FAL", fal_text(5, 3));
    write_file(dir / "pre.RGB", prefixed);
    write_file(dir / "old.bin", zefa);
    write_file(dir / "ZFENC.LOG", std::string("0004 x.ZF\n"));
    const char *refused = " はZEFAﾌｧｲﾙなのでｴﾝｺｰﾄﾞできません\n";
    check({{.args = {"p.ZF", "again"}, .status = 1, .says = "p.ZF" + std::string(refused), .never = "Input file", .output = "again.ZF"},
           {.args = {"q"}, .status = 1, .says = "q.RGB" + std::string(refused), .never = "Input file", .output = "q.ZF"},
           {.args = {"pre", "-ex"}, .status = 1, .says = "pre.RGB" + std::string(refused), .never = "Input file", .output = "pre.ZF"},
           {.args = {"old.bin", "-m1", "-2"}, .status = 1, .says = "old.bin" + std::string(refused), .never = "Input file",
            .output = "old.ZF"}});
    EXPECT_EQ(read_file(dir / "p.ZF"), zefa);
    EXPECT_TRUE(file_exists(dir / "pre.RGB"));
    EXPECT_EQ(log(), "0004 x.ZF\n");
    // a DJP file whose palette spells the magic at 128 is a DJP file
    Bytes djp(768 + 1, 0);
    std::memcpy(&djp[128 - 12], "ZFDT", 4);
    write_file(dir / "d.DJP", djp_file(1, 1, 0, djp));
    check({{.args = {"d.DJP", "-b", "-m2", "-nh"}, .output = "d.ZF", .pixels = {0}}});
}

// Nor is a picture or document of a format known by a signature raw input
// cannot have by chance: the message names the format and the way on.
// Raw pixels that begin like a weak signature still encode.
TEST_F(Zfenc, PicturesAndDocumentsAreNotEncodedAsPixels)
{
    ASSERT_TRUE(write_png(dir / "photo.png", test_picture(Kind::grey, 8, 8)));
    write_file(dir / "photo.dat", read_file(dir / "photo.png"));
    write_file(dir / "wood.webp", std::string("RIFF\x24\0\0\0WEBPVP8L", 16) + std::string(40, '\0'));
    write_file(dir / "paper.RGB", std::string("%PDF-1.7\n") + std::string(300, ' '));
    check({{.args = {"photo.dat", "-nh"}, .status = 1, .says = "photo.dat はPNGﾌｧｲﾙなのでｴﾝｺｰﾄﾞできません\n"
                                                              "zfconv で ZEFAﾌｧｲﾙに変換できます: zfconv photo.dat photo.ZF\n",
            .never = "Input file", .output = "photo.ZF"},
           {.args = {"wood.webp", "-m1", "-nh"}, .status = 1, .says = "wood.webp はWebPﾌｧｲﾙなのでｴﾝｺｰﾄﾞできません\nzfconv も読めない",
            .never = "Input file", .output = "wood.ZF"},
           {.args = {"paper", "-nh"}, .status = 1, .says = "PDFﾌｧｲﾙ", .never = "Input file", .output = "paper.ZF"}});
    const auto en = run({"wood.webp", "-nh"}, "", {"LC_ALL=en_US.UTF-8", "LANGUAGE=en"});
    EXPECT_TRUE(has(en.out, "wood.webp is a WebP file and cannot be encoded\nzfconv cannot read it either"));
    // "BM" and a TIFF order mark whose numbers do not fit the file are pixels
    Bytes bm(5 * 3 * 3, 7);
    bm[0] = 'B', bm[1] = 'M';
    write_file(dir / "bm.RGB", bm);
    write_file(dir / "bm.FAL", fal_text(5, 3));
    check({{.args = {"bm", "-m1", "-nh"}, .output = "bm.ZF"}});
}

// "--" ends the options: absolute paths and names that begin with '-';
// after it, "--help" is a name like any other, before it '/' still starts
// an option.
TEST_F(Zfenc, DoubleDashEndsTheOptions)
{
    raw("p", 3, 2);
    check({{.args = {"-b", "-m1", "--", dir / "p.RGB", "-out", "-2"}, .output = "-2.ZF", .tag = "ZFBM"},
           {.args = {"-nh", "--", dir / "p"}, .output = "p.ZF", .width = 3},
           {.args = {"--", "--help"}, .status = 1, .says = "指定されたﾌｧｲﾙが見つかりません\n対象ﾌｧｲﾙ: --help.RGB, --help.Q0\n"},
           {.args = {"/tmp/x", "--", "p"}, .status = 1, .says = "ｵﾌﾟｼｮﾝ -tmp/x は間違った指定です\n"},
           {.args = {"--help"}, .says = "  --  "}, {.args = {"--version"}, .says = "(ZEFA tools for Linux)"}});
    EXPECT_FALSE(file_exists(dir / "-out.ZF"));
}

