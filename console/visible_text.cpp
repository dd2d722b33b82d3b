#include "visible_text.h"

#include <cstdio>

namespace zfcon {
namespace {

bool control_byte(unsigned char c) { return (c < 0x20 && c != '\t' && c != '\n') || c == 0x7F; }

void append_escape(std::string &out, const char *form, unsigned value)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, form, value);
    out += buf;
}


} // namespace

std::size_t utf8_length(std::string_view s)
{
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const auto cont = [&](std::size_t i) { return i < s.size() && (b(i) & 0xC0) == 0x80; };
    const unsigned char c = b(0);
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF)
        return cont(1) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF)
        return cont(1) && cont(2) && !(c == 0xE0 && b(1) < 0xA0) && !(c == 0xED && b(1) > 0x9F) ? 3 : 0;
    if (c >= 0xF0 && c <= 0xF4)
        return cont(1) && cont(2) && cont(3) && !(c == 0xF0 && b(1) < 0x90) && !(c == 0xF4 && b(1) > 0x8F) ? 4 : 0;
    return 0;
}

std::string visible_utf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t n = utf8_length(text.substr(i));
        if (n == 0 || control_byte(c)) {
            append_escape(out, "\\x%02X", c);
            ++i;
        } else if (c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) { // C1: U+0080 to U+009F
            append_escape(out, "\\u%04X", static_cast<unsigned char>(text[i + 1]));
            i += 2;
        } else {
            out.append(text.substr(i, n));
            i += n;
        }
    }
    return out;
}

std::string visible_sjis(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (control_byte(c))
            append_escape(out, "\\x%02X", c);
        else
            out += ch;
    }
    return out;
}

} // namespace zfcon
