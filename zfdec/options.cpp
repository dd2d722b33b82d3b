// The options of the command line, one argument at a time, into the run
// settings.  A bad option is reported and ends the run.
#include "decoder.h"
#include "zf_console.h"

#include <cctype>
#include <string>

namespace {

[[noreturn]] void bad_option(const char *arg)
{
    console_printf(stdout, "ｵﾌﾟｼｮﾝ -%s は間違った指定です\n", arg + 1);
    end_run(1);
}

// A decimal number of at most 9 digits, for -W; false for anything else.
bool parse_count(const std::string &s, int *out)
{
    if (s.empty() || s.size() > 9)
        return false;
    int v = 0;
    for (char c : s) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
        v = v * 10 + (c - '0');
    }
    *out = v;
    return true;
}

} // namespace

void parse_option(const char *arg)
{
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(arg[1])));
    const char next = arg[1] ? arg[2] : '\0';
    switch (letter) {
    case 'H': dec_settings.djp_force_24 = true; break;
    case 'I': dec_settings.run_mode = RunMode::Header; break;
    case 'P': dec_settings.companion_fal = next == '\0' || next == '0'; break;
    case 'Q':
        dec_settings.run_mode = RunMode::Query;
        dec_settings.ratio_packed = next == '\0' || next <= '0';
        break;
    case 'W': {
        const std::string text = arg + 2;
        const auto comma = text.find(',');
        if (comma == std::string::npos || !parse_count(text.substr(0, comma), &dec_settings.limit_width) ||
            !parse_count(text.substr(comma + 1), &dec_settings.limit_height))
            bad_option(arg);
        break;
    }
    default: bad_option(arg);
    }
}
