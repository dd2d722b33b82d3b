#include "sjis_text.h"

#include <iconv.h>

namespace zfconv {
namespace {

// One iconv descriptor for the length of a conversion; each call opens its
// own, so conversions on many threads never share state.
class Converter {
public:
    Converter(const char *to, const char *from) : cd_(iconv_open(to, from)) {}
    ~Converter()
    {
        if (ok())
            iconv_close(cd_);
    }
    Converter(const Converter &) = delete;
    Converter &operator=(const Converter &) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // One character's bytes converted whole; false when any of it fails.
    bool run(std::string_view in, std::string &out)
    {
        if (!ok())
            return false;
        char buf[32];
        char *src = const_cast<char *>(in.data()), *dst = buf;
        std::size_t left = in.size(), room = sizeof buf;
        const std::size_t r = iconv(cd_, &src, &left, &dst, &room);
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        if (r == static_cast<std::size_t>(-1) || left != 0)
            return false;
        out.assign(buf, static_cast<std::size_t>(dst - buf));
        return true;
    }

private:
    iconv_t cd_;
};

bool lead_byte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
bool trail_byte(unsigned char b) { return b >= 0x40 && b <= 0xFC && b != 0x7F; }

int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The byte an escape at `at` stands for, or -1 when there is none.
int escape_at(std::string_view s, std::size_t at)
{
    if (at + 4 > s.size() || s[at] != '\\' || s[at + 1] != 'x')
        return -1;
    const int hi = hex_value(s[at + 2]), lo = hex_value(s[at + 3]);
    return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
}

void put_escape(std::string &out, unsigned char b)
{
    static const char digits[] = "0123456789ABCDEF";
    out += "\\x";
    out += digits[b >> 4];
    out += digits[b & 15];
}

std::size_t utf8_length(unsigned char b)
{
    if (b < 0x80)
        return 1;
    if ((b & 0xE0) == 0xC0)
        return 2;
    if ((b & 0xF0) == 0xE0)
        return 3;
    if ((b & 0xF8) == 0xF0)
        return 4;
    return 0;
}

} // namespace

std::string sjis_to_utf8(std::string_view sjis)
{
    Converter to_utf8("UTF-8", "CP932"), back("CP932", "UTF-8");
    std::string out, one, again;
    std::size_t i = 0;
    while (i < sjis.size()) {
        const auto b = static_cast<unsigned char>(sjis[i]);
        if (b < 0x80) {
            if ((b < 0x20 && b != '\t' && b != '\n') || b == 0x7F || (b == '\\' && escape_at(sjis, i) >= 0))
                put_escape(out, b);
            else
                out += static_cast<char>(b);
            ++i;
            continue;
        }
        const std::size_t n = lead_byte(b) && i + 1 < sjis.size() && trail_byte(static_cast<unsigned char>(sjis[i + 1]))
                                  ? 2
                                  : 1;
        const std::string_view ch = sjis.substr(i, n);
        if (to_utf8.run(ch, one) && back.run(one, again) && again == ch) {
            out += one;
            i += n;
        } else {
            // only the first byte: the next may start a character of its own
            put_escape(out, b);
            ++i;
        }
    }
    return out;
}

bool utf8_to_sjis(std::string_view utf8, std::string &out)
{
    Converter to_sjis("CP932", "UTF-8");
    std::string converted, as_given, one;
    bool ok = true;
    std::size_t i = 0;
    while (i < utf8.size()) {
        const int e = escape_at(utf8, i);
        if (e >= 0) {
            converted += static_cast<char>(e);
            as_given += static_cast<char>(e);
            i += 4;
            continue;
        }
        const auto b = static_cast<unsigned char>(utf8[i]);
        std::size_t n = utf8_length(b);
        if (n == 0 || i + n > utf8.size())
            n = 1;
        const std::string_view ch = utf8.substr(i, n);
        as_given += ch;
        if (b < 0x80)
            converted += static_cast<char>(b);
        else if (ok && to_sjis.run(ch, one))
            converted += one;
        else
            ok = false;
        i += n;
    }
    out = ok ? converted : as_given;
    return ok;
}

std::string latin1_to_utf8(std::string_view latin1)
{
    std::string out;
    for (char c : latin1) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | b >> 6);
            out += static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    return out;
}

std::string_view trim_padding(std::string_view field)
{
    while (!field.empty() && field.back() == ' ')
        field.remove_suffix(1);
    return field;
}

std::size_t sjis_cut(std::string_view sjis, std::size_t limit)
{
    std::size_t i = 0;
    while (i < sjis.size()) {
        const std::size_t n = lead_byte(static_cast<unsigned char>(sjis[i])) && i + 1 < sjis.size() ? 2 : 1;
        if (i + n > limit)
            break;
        i += n;
    }
    return i;
}

std::string header_text(std::string_view utf8, std::size_t width, const char *what, std::vector<std::string> &notes)
{
    std::string out;
    if (!utf8_to_sjis(utf8, out))
        notes.push_back(std::string("the ") + what + " has characters without a Shift-JIS form: stored as UTF-8");
    if (width > 0 && out.size() > width) {
        out.resize(sjis_cut(out, width));
        notes.push_back(std::string("the ") + what + " is cut to the " + std::to_string(width) + " bytes it holds");
    }
    return out;
}

} // namespace zfconv
