// The tools' texts: Japanese by default, English when the locale asks for
// it (through the message catalog), the catalog complete, and the --help
// and --version texts.
#include "harness.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

namespace {

zt::RunResult run(const std::string &program, std::vector<std::string> args, std::vector<std::string> env)
{
    zt::TempDir dir;
    return zt::run(program, args, zt::RunOptions{dir.path(), "", env, {"LC_ALL", "LC_MESSAGES", "LANG", "LANGUAGE"}});
}

std::string read_text(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

TEST(Messages, JapaneseByDefaultEnglishOnRequest)
{
    const auto ja = run(zt::zfenc_path(), {"missing"}, {"LC_ALL=C.UTF-8"});
    EXPECT_NE(ja.out.find("指定されたﾌｧｲﾙが見つかりません\n"), std::string::npos) << ja.out;
    for (const std::vector<std::string> &env :
         {std::vector<std::string>{"LC_ALL=C.UTF-8", "LANGUAGE=en"}, std::vector<std::string>{"LC_MESSAGES=en_US.UTF-8"},
          std::vector<std::string>{"LANG=en_US.UTF-8"}}) {
        const auto en = run(zt::zfenc_path(), {"missing"}, env);
        EXPECT_NE(en.out.find("The file given cannot be found\n"), std::string::npos) << env[0] << en.out;
        EXPECT_EQ(en.status, 1);
    }
    // formats keep their arguments; library messages too
    const auto opt = run(zt::zfdec_path(), {"x", "-z9"}, {"LC_ALL=C.UTF-8", "LANGUAGE=en"});
    EXPECT_NE(opt.out.find("Option -z9 is not valid\n"), std::string::npos) << opt.out;
    const auto usage = run(zt::zfenc_path(), {}, {"LC_ALL=C.UTF-8", "LANGUAGE=en"});
    EXPECT_NE(usage.out.find("        -b                 no compression\n"), std::string::npos);
    // the banner and the usage line are the system's own in every language
    EXPECT_NE(usage.out.find("usage : ZFENC {-opt} filename[.RGB|.Q0] {outfile[.ZF]} {-opt}\n"), std::string::npos);
}

// Every Japanese text of the programs and the library has an English one.
TEST(Messages, TheCatalogIsComplete)
{
    const std::string po = read_text(zt::source_dir() + "/po/en.po");
    std::set<std::string> ids;
    const std::regex msgid(R"re(msgid "((?:[^"\\]|\\.)*)")re");
    for (std::sregex_iterator it(po.begin(), po.end(), msgid), end; it != end; ++it)
        ids.insert((*it)[1]);
    const std::regex literal(R"re("((?:[^"\\]|\\.)*[\x80-\xFF](?:[^"\\]|\\.)*)")re");
    for (const char *folder : {"zflib", "zfenc", "zfdec", "common"})
        for (const auto &entry : std::filesystem::directory_iterator(zt::source_dir() + "/" + folder)) {
            const std::string code = read_text(entry.path());
            for (std::sregex_iterator it(code.begin(), code.end(), literal), end; it != end; ++it) {
                const std::string text = (*it)[1];
                if (text == "(作者不明)") // stored in files, never shown as a message
                    continue;
                EXPECT_TRUE(ids.count(text)) << entry.path().filename() << ": \"" << text << "\"";
            }
        }
}

TEST(Messages, HelpAndVersion)
{
    for (const std::string &program : {zt::zfenc_path(), zt::zfdec_path(), zt::zfconv_path()}) {
        const auto help = run(program, {"--help"}, {"LC_ALL=C.UTF-8"});
        EXPECT_EQ(help.status, 0) << program;
        EXPECT_NE(help.out.find("usage: "), std::string::npos);
        EXPECT_NE(help.out.find("example"), std::string::npos);
        const auto version = run(program, {"--version"}, {"LC_ALL=C.UTF-8"});
        EXPECT_EQ(version.status, 0);
        EXPECT_NE(version.out.find("1.0"), std::string::npos);
    }
    const auto enc = run(zt::zfenc_path(), {"--help"}, {"LC_ALL=C.UTF-8"}).out;
    for (const char *option : {"-m1", "-m2", "-2", "-b", "-a", "-c", "-ti", "-tn", "-nh", "-tl", "-95", "-ex"})
        EXPECT_NE(enc.find(std::string("  ") + option), std::string::npos) << option;
    const auto dec = run(zt::zfdec_path(), {"--help"}, {"LC_ALL=C.UTF-8"}).out;
    for (const char *option : {"-i", "-p1", "-w", "-h", "-q", "DJ505JM"})
        EXPECT_NE(dec.find(option), std::string::npos) << option;
}
