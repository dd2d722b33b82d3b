// Console character set on POSIX systems: program texts are UTF-8 in the
// source and are written in the console's set, chosen from the locale
// variables, through iconv; a file's own text is read through the library.
#include "zf_console.h"

#include "visible_text.h"

#include "zefa.hpp"

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <initializer_list>
#include <cstring>
#include <iconv.h>
#include <string>
#include <vector>

namespace {

int console_is_sjis = -1; // -1: not decided yet

bool names_sjis_codeset(const char *locale)
{
    const char *dot = std::strchr(locale, '.');
    if (!dot)
        return false;
    std::string codeset(dot + 1);
    codeset = codeset.substr(0, codeset.find('@'));
    for (char &c : codeset)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const char *name : {"SJIS", "SHIFT_JIS", "SHIFT-JIS", "CP932", "WINDOWS-31J", "MS932"})
        if (codeset == name)
            return true;
    return false;
}

// Converts with iconv; a byte that does not convert is passed through
// unchanged and conversion goes on after it.
std::string convert(const char *to, const char *from, const char *in, size_t n)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::string(in, n);
    std::string out;
    std::vector<char> buf(4 * n + 16);
    char *src = const_cast<char *>(in);
    size_t left = n;
    while (left > 0) {
        char *dst = buf.data();
        size_t room = buf.size();
        size_t r = iconv(cd, &src, &left, &dst, &room);
        out.append(buf.data(), static_cast<size_t>(dst - buf.data()));
        if (r == static_cast<size_t>(-1) && errno != E2BIG) {
            out += *src; // EILSEQ or EINVAL: keep the byte as it is
            ++src;
            --left;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(cd);
    return out;
}

// Strict conversion: false when any character has no form in `to`.
bool convert_strict(const char *to, const char *from, const char *in, size_t n, std::string &out)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    std::vector<char> buf(2 * n + 16);
    char *src = const_cast<char *>(in);
    size_t left = n;
    char *dst = buf.data();
    size_t room = buf.size();
    size_t r = iconv(cd, &src, &left, &dst, &room);
    iconv_close(cd);
    if (r == static_cast<size_t>(-1) || left != 0)
        return false;
    out.assign(buf.data(), static_cast<size_t>(dst - buf.data()));
    return true;
}

std::string vformat(const char *fmt, va_list ap)
{
    va_list copy;
    va_copy(copy, ap);
    int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    if (n <= 0)
        return {};
    std::string s(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(s.data(), s.size(), fmt, ap);
    s.resize(static_cast<size_t>(n));
    return s;
}

void put(FILE *stream, const std::string &s) { std::fwrite(s.data(), 1, s.size(), stream); }

// Width in bytes of the Shift-JIS character whose first byte is b.
size_t sjis_char_len(unsigned char b) { return ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)) ? 2 : 1; }

// Length of the longest prefix of UTF-8 text s with at most limit bytes
// that ends on a character boundary.
size_t utf8_cut(const char *s, size_t n, size_t limit)
{
    if (n <= limit)
        return n;
    size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80)
        --cut;
    return cut;
}

bool valid_utf8(const char *s, size_t n)
{
    std::string dummy;
    iconv_t cd = iconv_open("UTF-32LE", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    std::vector<char> buf(4 * n + 16);
    char *src = const_cast<char *>(s);
    size_t left = n;
    char *dst = buf.data();
    size_t room = buf.size();
    size_t r = iconv(cd, &src, &left, &dst, &room);
    iconv_close(cd);
    return r != static_cast<size_t>(-1) && left == 0;
}

} // namespace

extern "C" {

int console_sjis(void)
{
    if (console_is_sjis < 0) {
        console_is_sjis = 0;
        for (const char *var : {"LC_ALL", "LC_CTYPE", "LANG"}) {
            const char *v = std::getenv(var);
            if (v && *v) {
                console_is_sjis = names_sjis_codeset(v) ? 1 : 0;
                break;
            }
        }
    }
    return console_is_sjis;
}

void console_reset(void) { console_is_sjis = -1; }

int console_printf(FILE *stream, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    std::string s = vformat(console_text(fmt), ap);
    va_end(ap);
    if (console_sjis())
        s = convert("CP932", "UTF-8", s.data(), s.size());
    put(stream, s);
    return static_cast<int>(s.size());
}

int console_printf_sjis(FILE *stream, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    std::string s = vformat(fmt, ap);
    va_end(ap);
    console_write_sjis(stream, s.data(), s.size());
    return static_cast<int>(s.size());
}

void console_write_sjis(FILE *stream, const char *bytes, size_t n)
{
    // file text: its control characters are shown, not obeyed; in UTF-8 it
    // reads as the library gives it to every program
    if (console_sjis())
        put(stream, zfcon::visible_sjis(std::string_view(bytes, n)));
    else
        put(stream, zfcon::visible_utf8(zefa::to_utf8(std::string_view(bytes, n))));
}

size_t console_stored_text(const char *in, char *out, size_t outsize)
{
    const size_t n = std::strlen(in);
    std::string stored;
    bool converted = false;
    if (!console_sjis() && valid_utf8(in, n))
        converted = convert_strict("CP932", "UTF-8", in, n, stored);
    if (!converted)
        stored.assign(in, n);
    if (outsize > 0) {
        size_t keep = stored.size() < outsize ? stored.size() : outsize - 1;
        if (keep < stored.size())
            keep = (converted || console_sjis()) ? console_sjis_cut(stored.data(), stored.size(), keep)
                             : utf8_cut(stored.data(), stored.size(), keep);
        std::memcpy(out, stored.data(), keep);
        out[keep] = '\0';
    }
    return stored.size();
}

size_t console_sjis_cut(const char *s, size_t n, size_t limit)
{
    size_t i = 0;
    while (i < n) {
        size_t len = sjis_char_len(static_cast<unsigned char>(s[i]));
        if (i + len > limit || i + len > n)
            break;
        i += len;
    }
    return i;
}

} // extern "C"
