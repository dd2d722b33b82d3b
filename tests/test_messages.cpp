// The tools' texts: Japanese by default, English when the locale asks for
// it (through the message catalog), and the catalog complete.
#include "codec_run.h"
#include "harness.h"
#include "pictures.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <regex>
#include <set>

namespace {

zt::RunResult run(const std::string &program, std::vector<std::string> args, std::vector<std::string> env)
{
    zt::TempDir dir;
    return zt::run(program, args, zt::RunOptions{dir.path(), "", env, {"LC_ALL", "LC_MESSAGES", "LANG", "LANGUAGE"}});
}

} // namespace

TEST(Messages, JapaneseByDefaultEnglishOnRequest)
{
    const auto ja = run(zt::zfenc_path(), {"missing"}, {"LC_ALL=C.UTF-8"});
    EXPECT_TRUE(zt::has(ja.out, "指定されたﾌｧｲﾙが見つかりません\n"));
    // which variable names the language is gettext's affair (LANGUAGE below, LANG in the English runs)
    const auto en = run(zt::zfenc_path(), {"missing"}, {"LC_MESSAGES=en_US.UTF-8"});
    EXPECT_TRUE(zt::has(en.out, "The file given cannot be found\n"));
    EXPECT_EQ(en.status, 1);
    // formats keep their arguments; library messages too
    const auto opt = run(zt::zfdec_path(), {"x", "-z9"}, {"LC_ALL=C.UTF-8", "LANGUAGE=en"});
    EXPECT_TRUE(zt::has(opt.out, "Option -z9 is not valid\n"));
}

// Every Japanese text of the programs and the library has an English one.
TEST(Messages, TheCatalogIsComplete)
{
    const std::string po = zt::read_text(zt::source_dir() + "/po/en.po");
    std::set<std::string> ids;
    const std::regex msgid(R"re(msgid "((?:[^"\\]|\\.)*)")re");
    for (std::sregex_iterator it(po.begin(), po.end(), msgid), end; it != end; ++it)
        ids.insert((*it)[1]);
    const std::regex literal(R"re("((?:[^"\\]|\\.)*[\x80-\xFF](?:[^"\\]|\\.)*)")re");
    for (const char *folder : {"zflib", "console", "zfenc", "zfdec", "common"}) {
        const std::string path = zt::source_dir() + "/" + folder;
        if (!std::filesystem::is_directory(path))
            continue;
        for (const auto &entry : std::filesystem::recursive_directory_iterator(path)) {
            // generated tables (the Shift-JIS one) hold no messages, and are
            // longer than std::regex's recursion takes
            if (!entry.is_regular_file() || entry.path().extension() == ".inc")
                continue;
            const std::string code = zt::read_text(entry.path());
            for (std::sregex_iterator it(code.begin(), code.end(), literal), end; it != end; ++it) {
                const std::string text = (*it)[1];
                if (text == "(作者不明)") // stored in files, never shown as a message
                    continue;
                EXPECT_TRUE(ids.count(text)) << entry.path().filename() << ": \"" << text << "\"";
            }
        }
    }
}

namespace {

// Where UTF-8 text holds a Japanese character (kana, kanji, CJK
// punctuation, full- and half-width forms) or a byte that is not UTF-8:
// that character with its line, or an empty text when there is none.
std::string japanese_in(const std::string &text)
{
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        uint32_t cp = n == 1 ? c : n == 2 ? c & 0x1F : n == 3 ? c & 0x0F : c & 0x07;
        bool bad = n == 0 || i + n > text.size();
        for (size_t k = 1; !bad && k < n; ++k) {
            const auto cc = static_cast<unsigned char>(text[i + k]);
            bad = (cc >> 6) != 2;
            cp = cp << 6 | (cc & 0x3F);
        }
        if (bad || (cp >= 0x3000 && cp <= 0x30FF) || (cp >= 0x3400 && cp <= 0x9FFF) ||
            (cp >= 0xF900 && cp <= 0xFAFF) || (cp >= 0xFF00 && cp <= 0xFFEF)) {
            const size_t from = text.rfind('\n', i), to = text.find('\n', i);
            return text.substr(from == std::string::npos ? 0 : from + 1,
                               (to == std::string::npos ? text.size() : to) - (from == std::string::npos ? 0 : from + 1));
        }
        i += n;
    }
    return {};
}

// A ZEFA file of ZFBI blocks {x, y, w, h}, a comment and a ratio.
void write_zefa(const std::string &path, const std::vector<std::array<int, 4>> &at, const char *comment,
                int ratio_x = 1, int depth = 24)
{
    std::vector<zt::Block> blocks;
    for (const auto &[x, y, w, h] : at)
        blocks.push_back({x, y, "ZFBI", zt::pattern(depth, w, h)});
    ASSERT_FALSE(zt::write_zefa(path, zt::params(depth, ratio_x), blocks, {"a title", comment, "an author", 3}).empty());
}

} // namespace

// In English every message of the three programs is English: usage texts,
// refusals, option messages, warnings, library errors, the header, the
// title list, and conversions that fail.
TEST(Messages, EnglishRunsShowNoJapanese)
{
    zt::TempDir dir;
    const std::string d = dir.path();
    using Bytes = std::vector<uint8_t>;
    // zfenc's inputs
    const auto text = [](const std::string &s) { return Bytes(s.begin(), s.end()); };
    const std::pair<const char *, Bytes> files[] = {
        {"p.RGB", Bytes(5 * 4 * 3, 77)}, {"p.FAL", text(zt::fal_text(5, 4))}, {"short.RGB", Bytes(30, 9)},
        {"short.FAL", text(zt::fal_text(4, 4))}, {"huge.RGB", Bytes(3, 0)}, {"huge.FAL", text(zt::fal_text(40000, 1))},
        {"x.RGB", Bytes(640 * 400 * 3, 7)}, {"big.DOC", Bytes(65533, 'x')}, {"fail.gif", text("fail")},
        {"notzefa.ZF", Bytes(200, 'n')}};
    for (const auto &[name, bytes] : files)
        zt::write_file(dir / name, bytes);
    std::filesystem::copy_file(zt::tools_dir() + "/fake_conv", dir / "GIF_CONV.EXE");
    std::filesystem::create_symlink("/dev/full", dir / "dev.ZF");
    std::filesystem::create_directory(dir / "L");
    std::filesystem::create_directory(dir / "L/ZFENC.LOG");
    std::filesystem::copy_file(dir / "p.RGB", dir / "L/p.RGB");
    std::string log;
    for (int i = 1; i <= 20; ++i)
        log += (i < 10 ? "000" : "00") + std::to_string(i) + " f.ZF                 a title                        15 ZFSF\n";
    zt::write_file(dir / "ZFENC.LOG", log);
    // zfdec's and zfconv's inputs
    std::string comment;
    for (int i = 1; i <= 20; ++i)
        comment += "comment line " + std::to_string(i) + "\r\n";
    write_zefa(dir / "img.ZF", {{0, 0, 7, 3}, {7, 0, 5, 2}}, comment.c_str());
    write_zefa(dir / "z.RGB", {{0, 0, 5, 4}}, "");
    write_zefa(dir / "ratio0.ZF", {{0, 0, 4, 4}}, "", 0);
    write_zefa(dir / "wide.ZF", {{0, 0, 32000, 1}, {0, 30000, 1, 1}}, "");
    write_zefa(dir / "d16.ZF", {}, "", 1, 16);
    write_zefa(dir / "unk.ZF", {{0, 0, 3, 3}}, "");
    {
        Bytes b = zt::read_file(dir / "unk.ZF");
        std::memcpy(&b[125], "ZFXX", 4); // the first block, after an empty comment
        zt::write_file(dir / "unk.ZF", b);
        b = zt::read_file(dir / "img.ZF");
        b.resize(b.size() - 30);
        zt::write_file(dir / "cut.ZF", b);
    }
    std::filesystem::create_symlink("/dev/full", dir / "full.RGB");
    write_zefa(dir / "bigdec.ZF", {{0, 0, 1000, 2000}}, "");
    zt::write_file(dir / "bigenc.RGB", zt::test_picture(zt::Kind::rgb, 2000, 1500).pixels);
    zt::write_file(dir / "bigenc.FAL", zt::fal_text(2000, 1500));

    struct Case {
        std::string program;
        std::vector<std::string> args;
        int status; // -1: any
        std::vector<std::string> env = {};
        std::string input = "", cwd = "";
    };
    const std::string enc = zt::zfenc_path(), dec = zt::zfdec_path(), conv = zt::zfconv_path();
    const std::vector<Case> cases = {
        // zfenc's refusals are said through refuse(), say() and bad_option(), each of which takes the
        // catalog's text (which TheCatalogIsComplete holds to every literal): -b, x -m2 and -tx stand for them
        {enc, {}, 1}, {enc, {"--help"}, 0}, {enc, {"--version"}, 0}, {enc, {"-b"}, 1}, {enc, {"x", "-m2"}, 1},
        {enc, {"p", "-tx"}, 1}, {enc, {"p", "-cbig"}, 1}, {enc, {"p", "-ti", "-nh"}, 0, {}, "typed\n"},
        {enc, {"p", "-2", "-c", "-cp.FAL"}, 0}, {enc, {"fail.gif"}, 1}, {enc, {"fail.gif"}, 1, {"TMP=nodir"}},
        {enc, {"fail.gif"}, 1, {"TMP=" + std::string(300, 't')}}, {enc, {"huge"}, 1}, {enc, {"short", "-b", "-nh"}, 0},
        {enc, {"p", "nodir/out"}, 1}, {enc, {"p", "dev"}, 1}, {enc, {"z"}, 1}, {enc, {"p"}, 0, {}, "", d + "/L"},
        {enc, {"-tl"}, 0},
        {dec, {}, 1}, {dec, {"--help"}, 0}, {dec, {"--version"}, 0}, {dec, {"img", "-x"}, 1}, {dec, {"DJ505J"}, 1},
        {dec, {"img", std::string(300, 'n')}, 1}, {dec, {"img", "img.ZF"}, 1}, {dec, {"-i", "img"}, 0},
        {dec, {"img", "-p1"}, 0}, {dec, {"-q", "missing"}, 255}, {dec, {"missing"}, 1}, {dec, {"notzefa"}, 1},
        {dec, {"-i", "notzefa"}, 1}, {dec, {"cut"}, 1}, {dec, {"d16"}, -1}, {dec, {"unk"}, -1},
        {dec, {"DJ505J", "img", "o.DJP"}, 0}, {dec, {"DJ505JM", "ratio0", "o.DJP"}, 1},
        {dec, {"DJ505J", "wide", "o.DJP"}, -1}, {dec, {"img", "full.RGB"}, 1},
        // zfconv has no Japanese text of its own: its statuses
        {conv, {}, 2}, {conv, {"--help"}, 0}, {conv, {"--version"}, 0}, {conv, {"a", "b", "c"}, 2},
        {conv, {"DJ505JC", "img.ZF", "o.DJP"}, 1},
    };
    for (const Case &c : cases) {
        zt::RunOptions o{c.cwd.empty() ? d : c.cwd, c.input,
                         {"LANGUAGE=en", "LANG=en_US.UTF-8", "PATH=/usr/bin:/bin", "USER=tester"},
                         {"LC_ALL", "LC_CTYPE", "LC_MESSAGES", "LOG", "EXE", "TMP", "ZEF_USER", "zef_user"}};
        o.env.insert(o.env.end(), c.env.begin(), c.env.end());
        const auto r = zt::run(c.program, c.args, o);
        std::string label = c.program.substr(c.program.rfind('/') + 1);
        for (const auto &a : c.args)
            label += " " + a.substr(0, 20);
        if (c.status >= 0) {
            EXPECT_EQ(r.status, c.status) << label << "\n" << r.out << r.err;
        }
        if (c.program != conv || r.status != 0) { // zfconv says nothing when it succeeds
            EXPECT_FALSE(r.out.empty() && r.err.empty()) << label;
        }
        EXPECT_EQ(japanese_in(r.out), "") << label;
        EXPECT_EQ(japanese_in(r.err), "") << label;
    }
    // ESC on a terminal, in both programs
    zt::RunOptions o{d, "", {"LANGUAGE=en", "LANG=en_US.UTF-8", "PATH=/usr/bin:/bin"}, {"LC_ALL", "LC_CTYPE", "LC_MESSAGES"}};
    o.repeat_keys_ms = 100;
    for (const auto &[program, args] : {std::pair{enc, std::vector<std::string>{"bigenc", "-2"}},
                                        std::pair{dec, std::vector<std::string>{"bigdec"}}}) {
        const auto r = zt::run_pty(program, args, "\x1b", 0, o);
        EXPECT_TRUE(zt::has(r.out, "was removed"));
        EXPECT_EQ(japanese_in(r.out), "") << program;
    }
}
