// Header display and library messages, shown by a real program in both
// console character sets, and the pauses on a terminal.
#include "codec_run.h"
#include "harness.h"
#include "hostile.h"

#include "zefa.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

using zt::has;

const std::string kTool = zt::tools_dir() + "/show_header";
const zt::RunOptions kUtf8{"", "", {"LC_ALL=C.UTF-8", "TZ=UTC"}, {}};
const zt::RunOptions kSjis{"", "", {"LC_ALL=ja_JP.SJIS", "TZ=UTC"}, {}};

// Shift-JIS bytes of a short Japanese title (the word for "title").
const std::string kSjisTitle = "\x95\x5c\x91\xe8";

std::string make_file(const zt::TempDir &dir, const char *comment, const std::string &title = "A title")
{
    zf_params p = zt::params(24, 1, 2);
    p.saver = "saver 1.0";
    p.max_width = 640, p.max_height = 400;
    EXPECT_FALSE(zt::write_zefa(dir / "shown.ZF", p, {}, {title.c_str(), comment, "artist", 42}).empty());
    return dir / "shown.ZF";
}

std::string lines(int n, const char *end = "\r\n")
{
    std::string s;
    for (int i = 1; i <= n; ++i)
        s += "line " + std::to_string(i) + end;
    return s;
}

} // namespace

TEST(Display, FullHeaderInBothCharacterSets)
{
    zt::TempDir dir;
    const std::string path = make_file(dir, "first\r\nsecond", "A " + kSjisTitle);
    auto r = zt::run(kTool, {path, "3"}, kUtf8);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string title = "A 表題" + std::string(24, ' ');
    EXPECT_EQ(r.out.substr(0, r.out.find("Date Time")),
              "Artist           : artist            \n"
              "Subtitle         : shown   \n"
              "Title            : " + title + "\n"
              "Saver/Encoder    : saver 1.0                     \n");
    EXPECT_TRUE(has(r.out, "Number           : 42\n"
                           "Color bit depth  : 24 bits (=16777216 Colors)\n"
                           "Pixel ratio      : 1:2\n"
                           "Max image size   : 640 x 400\n"
                           "User comment     : \nfirst\nsecond\n"));

    auto s = zt::run(kTool, {path, "3"}, kSjis);
    EXPECT_TRUE(has(s.out, "Title            : A " + kSjisTitle + std::string(24, ' ') + "\n"));

    // a byte that is no character and a backslash that reads like an escape:
    // shown as the library words them for every program
    const std::string odd = "C:\\x41 \xFD end";
    make_file(dir, "", odd);
    r = zt::run(kTool, {path, "3"}, kUtf8);
    EXPECT_TRUE(has(r.out, "Title            : " + zefa::to_utf8(odd + std::string(30 - odd.size(), ' ')) + "\n")) << r.out;
}

// The brief header, and comments of up to 16 lines before a notice or a
// pause, which waits for a key on a terminal only.
TEST(Display, BriefHeaderAndSixteenLineRule)
{
    zt::TempDir dir;
    auto r = zt::run(kTool, {make_file(dir, nullptr), "1"}, kUtf8);
    EXPECT_FALSE(has(r.out, "Date Time"));
    EXPECT_TRUE(has(r.out, "User comment     : no comment string\n"));
    // exactly 16 lines, or an empty 17th that starts the count again: no notice
    for (const std::string &comment : {lines(16), lines(16) + "\r\n" + lines(15)}) {
        r = zt::run(kTool, {make_file(dir, comment.c_str()), "1"}, kUtf8);
        EXPECT_TRUE(has(r.out, "line 15\n"));
        EXPECT_EQ(r.err, "");
    }
    const std::string twenty = make_file(dir, lines(20).c_str());
    r = zt::run(kTool, {twenty, "1"}, kUtf8);
    EXPECT_FALSE(has(r.out, "line 17"));
    EXPECT_EQ(r.err, "- includeing comment too long, left line skipped -\n");
    r = zt::run(kTool, {twenty, "3"}, kUtf8);
    EXPECT_TRUE(has(r.out, "line 20\n"));
    EXPECT_EQ(r.err, "-- hit any key --" + std::string(17, ' ') + "\r");
    // mode 2 pauses in the comment and once more before decoding: two keys
    r = zt::run_pty(kTool, {twenty, "2"}, "xy", 300, kUtf8);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(has(r.out, "-- Decode start, hit any key --"));
    EXPECT_TRUE(has(r.out, "line 20"));
}

TEST(Display, ErrorMessages)
{
    zt::TempDir dir;
    zt::write_file(dir / "text.ZF", "just some text, not an image file at all");
    auto r = zt::run(kTool, {dir / "text.ZF", "3", "detail"}, kUtf8);
    EXPECT_EQ(r.err, "フォーマットが未知または不正です:detail\n");
    r = zt::run(kTool, {dir / "text.ZF", "3"}, kSjis);
    EXPECT_EQ(r.err, "\x83\x74\x83\x48\x81\x5b\x83\x7d\x83\x62\x83\x67\x82\xaa\x96\xa2\x92\x6d\x82\xdc"
                     "\x82\xbd\x82\xcd\x95\x73\x90\xb3\x82\xc5\x82\xb7\n");
    // (a missing file and one cut short: zfdec's tests, through the program)
}

// Header texts and file names that are terminal sequences (colours, clear
// screen, OSC window title and clipboard, BEL, BS, CR, DEL) are shown
// escaped by every output for people, in both character sets; --json
// carries the characters themselves as JSON escapes.
TEST(Display, ControlCharactersAreShownNotObeyed)
{
    zt::TempDir dir;
    const std::string attack = zt::hostile::terminal_attack();
    const std::string path = dir / "esc\x1b]0;t\x07.ZF";
    zt::write_file(path, zt::read_file(make_file(dir, ("ok\r\n" + attack).c_str(), attack.substr(0, 22))));
    const auto obeyed = [](const std::string &text) {
        for (const char c : text)
            if ((static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n') || c == 0x7F)
                return true;
        return false;
    };
    for (const auto &env : {kUtf8, kSjis}) {
        const auto r = zt::run(zt::zfdec_path(), {"-i", path}, env);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_FALSE(obeyed(r.out + r.err)) << r.out;
        EXPECT_TRUE(has(r.out, "Title            : \\x1B[31mred\\x1B[2J\\x1B]0;title\\x07")) << r.out;
        EXPECT_TRUE(has(r.out, "\nok\n\\x1B[31mred\\x1B[2J\\x1B]0;title\\x07\\x1B]52;c;aGk=\\x07\\x08")) << r.out;
    }
    auto r = zt::run(zt::zfconv_path(), {"--info", path, dir / "missing\x1b[2J.ZF"}, kUtf8);
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(obeyed(r.out + r.err)) << r.out << r.err;
    EXPECT_TRUE(has(r.out, "esc\\x1B]0;t\\x07.ZF\n")) << r.out;
    EXPECT_TRUE(has(r.out, "title:        \\x1B[31mred\\x1B[2J\\x1B]0;title\\x07")) << r.out;
    EXPECT_TRUE(has(r.err, "missing\\x1B[2J.ZF")) << r.err;

    r = zt::run(zt::zfconv_path(), {"--json", path}, kUtf8);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(obeyed(r.out.substr(0, r.out.size() - 1))) << r.out;
    EXPECT_TRUE(has(r.out, "\"title\":\"\\u001b[31mred\\u001b[2J\\u001b]0;title\\u0007\"")) << r.out;
    EXPECT_TRUE(has(r.out, "aGk=\\u0007\\b\\n\\u007fend\"")) << r.out; // the comment's CR is a line end
    EXPECT_TRUE(has(r.out, "\"file\":\"" + (dir / "esc\\u001b]0;t\\u0007.ZF") + "\"")) << r.out;
}
