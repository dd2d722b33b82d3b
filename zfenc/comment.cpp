// The comment file, the title and the author of the image.  Text given by
// the user is stored in the file as Shift-JIS (console_stored_text).
#include "settings.h"
#include "zf_console.h"

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <sys/stat.h>

namespace {

constexpr long kCommentLimit = 65532; // 0xFFFC bytes


// Copies Shift-JIS text into a field, cut at a character boundary.
void copy_cut(char *field, std::size_t size, const char *text, std::size_t n)
{
    const std::size_t keep = console_sjis_cut(text, n, size - 1);
    std::memcpy(field, text, keep);
    field[keep] = '\0';
}

// The title is the text up to the first CR or LF.
void take_first_line(const char *text)
{
    const std::size_t n = std::strcspn(text, "\r\n");
    copy_cut(settings.title, TITLE_SIZE, text, n);
}

} // namespace

int load_comment(const char *name)
{
    struct stat st{};
    if (::stat(name, &st) != 0) {
        say("ｺﾒﾝﾄﾌｧｲﾙが見付かりません");
        return -1;
    }
    FILE *in = std::fopen(name, "rb");
    if (!in) {
        say("ｺﾒﾝﾄﾌｧｲﾙが見付かりません");
        return -1;
    }
    if (st.st_size > kCommentLimit) {
        std::fclose(in);
        console_printf(stdout, "ｺﾒﾝﾄﾌｧｲﾙが長すぎます %d ﾊﾞｲﾄ以下に調節してください\n", static_cast<int>(kCommentLimit));
        return -1;
    }
    const auto size = static_cast<std::size_t>(st.st_size);
    auto *text = static_cast<char *>(std::calloc(size + 1, 1));
    if (!text) {
        std::fclose(in);
        say("ｺﾒﾝﾄ作成用ﾒﾓﾘが取得できません");
        return -1;
    }
    const std::size_t got = std::fread(text, 1, size, in);
    std::fclose(in);
    if (got < size) {
        std::free(text);
        say("ｺﾒﾝﾄﾌｧｲﾙが途中で終わっています");
        return -1;
    }
    if (char *eof = static_cast<char *>(std::memchr(text, 0x1A, size)))
        *eof = '\0';
    // Stored as Shift-JIS; the stored form is never longer than the text.
    const std::size_t len = std::strlen(text);
    console_stored_text(text, text, len + 1);
    settings.comment = text;
    if (settings.title_mode == TitleMode::FirstCommentLine)
        take_first_line(text);
    return 0;
}

void ask_title()
{
    say("Input Your graphics title.(return only is title skip)");
    std::fflush(stdout);
    std::string line;
    if (!std::getline(std::cin, line))
        line.clear();
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    std::string stored(line.size() + 1, '\0');
    console_stored_text(line.c_str(), stored.data(), stored.size());
    copy_cut(settings.title, TITLE_SIZE, stored.c_str(), std::strlen(stored.c_str()));
}

void default_author(char *author, std::size_t size)
{
    for (const char *var : {"ZEF_USER", "zef_user", "USER"}) {
        if (const char *v = std::getenv(var)) {
            std::string stored(std::strlen(v) + 1, '\0');
            console_stored_text(v, stored.data(), stored.size());
            copy_cut(author, size, stored.c_str(), std::strlen(stored.c_str()));
            return;
        }
    }
    // "(作者不明)" (author unknown) in the Shift-JIS the file stores
    static const char unknown[] = "(\x8d\xec\x8e\xd2\x95\x73\x96\xbe)";
    copy_cut(author, size, unknown, std::strlen(unknown));
}
