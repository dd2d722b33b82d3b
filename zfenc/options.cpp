// The options of the command line, one argument at a time, into the run
// settings.  A bad option is reported and ends the run.
#include "settings.h"

#include "names.h"
#include "run.h"
#include "zf_console.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

void say(const char *text) { console_printf(stdout, "%s\n", console_text(text)); }

[[noreturn]] void refuse(const char *text)
{
    say(text);
    fail_run();
}

[[noreturn]] void bad_option(const char *format, const char *text)
{
    console_printf(stdout, format, text);
    fail_run();
}

void name_too_long(const char *) { refuse("ﾌｧｲﾙ名が長すぎます"); }

void parse_option(const char *arg)
{
    const char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(arg[1])));
    const char *text = arg[1] ? arg + 2 : arg + 1;
    switch (letter) {
    case '2':
        std::strcpy(settings.tag, "ZFSS");
        break;
    case '9':
        settings.call_form = CallForm::Compatible;
        break;
    case 'a': {
        char stored[NAME_SIZE * 2];
        if (console_stored_text(text, stored, sizeof stored) > AUTHOR_LIMIT)
            refuse("作成者名は18文字までしか指定できません");
        std::strcpy(settings.author, stored);
        break;
    }
    case 'b':
        std::strcpy(settings.tag, "ZFBI");
        break;
    case 'c':
        settings.comment_requested = true;
        take_name(settings.comment_name, text, name_too_long);
        break;
    case 'e':
        if (text[0] != 'x' && text[0] != 'X')
            bad_option("ｵﾌﾟｼｮﾝ -e%s は間違った指定です\n", text);
        settings.depth = 15;
        settings.update_log = false;
        settings.delete_input = true;
        break;
    case 'm':
        if (text[0] == '\0' || text[0] == '0')
            settings.depth = 15;
        else if (text[0] == '1')
            settings.depth = 24;
        else if (text[0] == '2')
            settings.depth = 8;
        else
            bad_option("ｵﾌﾟｼｮﾝ -m%s は間違った指定です\n", text);
        break;
    case 'n': {
        char *end = nullptr;
        long v = std::strtol(text, &end, 10);
        if (v > 32767 || v < -32768) // the header keeps a signed 16-bit number
            bad_option("ｵﾌﾟｼｮﾝ -n%s は間違った指定です\n", text);
        if (v != 0) {
            settings.work_number = static_cast<int>(v);
        } else if (text[0] == 'h' || text[0] == 'H') {
            settings.work_number = 0;
            settings.update_log = false;
        } else {
            bad_option("ｵﾌﾟｼｮﾝ -n%s は間違った指定です\n", text);
        }
        break;
    }
    case 't': {
        const char t = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
        if (t == 'i')
            settings.title_mode = TitleMode::Ask;
        else if (t == 'n')
            settings.title_mode = TitleMode::None;
        else if (t == 'l') {
            settings.list_requested = true;
            settings.list_formatter = text[1] == 'n' || text[1] == 'N';
        } else
            bad_option("ｵﾌﾟｼｮﾝ -t%s は間違った指定です\n", text);
        break;
    }
    default:
        bad_option("ｵﾌﾟｼｮﾝ -%s は間違った指定です\n", arg + 1);
    }
}
