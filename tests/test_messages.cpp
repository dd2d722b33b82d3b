// The tools' texts: Japanese by default, English when the locale asks for
// it (through the message catalog), and the catalog complete.
#include "codec_run.h"
#include "harness.h"
#include "pictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <regex>
#include <set>
#include <tuple>

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

// In English the programs say nothing in Japanese: usage, option messages,
// refusals, library errors and the header, a sample of each program (that
// every literal has its English text is TheCatalogIsComplete's part).
TEST(Messages, EnglishRunsShowNoJapanese)
{
    zt::TempDir dir;
    zt::write_file(dir / "p.RGB", std::vector<uint8_t>(5 * 4 * 3, 77));
    zt::write_file(dir / "p.FAL", zt::fal_text(5, 4));
    zt::write_file(dir / "notzefa.ZF", std::string(200, 'n'));
    zt::Bytes img = zt::write_zefa(dir / "img.ZF", zt::params(24), {{0, 0, "ZFBI", zt::pattern(24, 7, 3)}},
                                   {"a title", "a comment", "an author", 3});
    img.resize(img.size() - 30);
    zt::write_file(dir / "cut.ZF", img);
    const std::string enc = zt::zfenc_path(), dec = zt::zfdec_path(), conv = zt::zfconv_path();
    const std::tuple<std::string, std::vector<std::string>, int> cases[] = {
        {enc, {}, 1}, {enc, {"--help"}, 0}, {enc, {"x", "-m2"}, 1}, {enc, {"p", "-cbig"}, 1}, {enc, {"p", "-nh"}, 0},
        {enc, {"p", "nodir/out"}, 1}, {dec, {}, 1}, {dec, {"img", "-x"}, 1}, {dec, {"-i", "img"}, 0},
        {dec, {"notzefa"}, 1}, {dec, {"cut"}, 1}, {conv, {"--help"}, 0}, {conv, {"DJ505JC", "img.ZF", "o.DJP"}, 1}};
    for (const auto &[program, args, status] : cases) {
        const auto r = zt::run(program, args, zt::RunOptions{dir.path(), "", {"LANGUAGE=en", "LANG=en_US.UTF-8", "USER=tester"},
                                                            {"LC_ALL", "LC_CTYPE", "LC_MESSAGES", "LOG", "EXE", "TMP", "ZEF_USER", "zef_user"}});
        const std::string said = r.out + r.err, label = program.substr(program.rfind('/') + 1) + " " + (args.empty() ? "" : args[0]);
        EXPECT_EQ(r.status, status) << label << "\n" << said;
        EXPECT_FALSE(said.empty()) << label;
        // the English catalog is ASCII throughout, and so are these files' names and texts
        EXPECT_TRUE(std::none_of(said.begin(), said.end(), [](char c) { return c & 0x80; })) << label << "\n" << said;
    }
}
