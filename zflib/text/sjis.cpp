// Header text: Shift-JIS (code page 932) to UTF-8 and back through the
// generated table, the escapes that keep every stored byte, and the
// header's texts under the names programs show them by.
#include "codec.h"

#include <algorithm>
#include <cerrno>
#include <new>
#include <cstdlib>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct SjisPair {
    uint16_t code;    // one byte, or lead << 8 | trail
    uint32_t unicode;
};

#include "sjis_table.inc"

bool lead_byte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// The character of a code, or -1 when the code is none.
long unicode_of(unsigned code)
{
    const auto *end = kSjisByCode + kSjisCount;
    const auto *it = std::lower_bound(kSjisByCode, end, code, [](const SjisPair &p, unsigned c) { return p.code < c; });
    return it != end && it->code == code ? static_cast<long>(it->unicode) : -1;
}

// The code of a character, or -1 when it has no Shift-JIS form.
long code_of(uint32_t unicode)
{
    const auto *end = kSjisByChar + kSjisCount;
    const auto *it =
        std::lower_bound(kSjisByChar, end, unicode, [](const SjisPair &p, uint32_t u) { return p.unicode < u; });
    return it != end && it->unicode == unicode ? static_cast<long>(it->code) : -1;
}

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

// The byte an escape \xHH at `at` stands for, or -1 when there is none.
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

void put_utf8(std::string &out, uint32_t u)
{
    if (u < 0x80) {
        out += static_cast<char>(u);
    } else if (u < 0x800) {
        out += static_cast<char>(0xC0 | u >> 6);
        out += static_cast<char>(0x80 | (u & 0x3F));
    } else if (u < 0x10000) {
        out += static_cast<char>(0xE0 | u >> 12);
        out += static_cast<char>(0x80 | (u >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (u & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | u >> 18);
        out += static_cast<char>(0x80 | (u >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (u >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (u & 0x3F));
    }
}

// One UTF-8 character at `at`: its value and length, or false when the
// bytes there are no well-formed character.
bool take_utf8(std::string_view s, std::size_t at, uint32_t &u, std::size_t &n)
{
    const auto b = static_cast<unsigned char>(s[at]);
    uint32_t min;
    if (b < 0x80) {
        u = b, n = 1;
        return true;
    } else if (b >= 0xC2 && b <= 0xDF) {
        u = b & 0x1F, n = 2, min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        u = b & 0x0F, n = 3, min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        u = b & 0x07, n = 4, min = 0x10000;
    } else {
        return false;
    }
    if (at + n > s.size())
        return false;
    for (std::size_t k = 1; k < n; ++k) {
        const auto c = static_cast<unsigned char>(s[at + k]);
        if ((c & 0xC0) != 0x80)
            return false;
        u = u << 6 | (c & 0x3F);
    }
    return u >= min && u <= 0x10FFFF && !(u >= 0xD800 && u <= 0xDFFF);
}

} // namespace

namespace zf {

std::string sjis_to_utf8(std::string_view sjis)
{
    std::string out;
    out.reserve(sjis.size() * 3 / 2);
    std::size_t i = 0;
    while (i < sjis.size()) {
        const auto b = static_cast<unsigned char>(sjis[i]);
        if (b == '\\' && escape_at(sjis, i) >= 0) { // a real backslash that would read as an escape
            put_escape(out, b);
            ++i;
            continue;
        }
        long u = -1;
        std::size_t n = 1;
        if (lead_byte(b) && i + 1 < sjis.size()) {
            u = unicode_of(static_cast<unsigned>(b) << 8 | static_cast<unsigned char>(sjis[i + 1]));
            n = 2;
        }
        if (u < 0) { // only this byte: the next may start a character of its own
            u = unicode_of(b);
            n = 1;
        }
        if (u <= 0) // a 0 byte too: it would end the text
            put_escape(out, b);
        else
            put_utf8(out, static_cast<uint32_t>(u));
        i += n;
    }
    return out;
}

// False (with the text done as far as it goes) when a character has no
// Shift-JIS form and the fallback is strict.
bool utf8_to_sjis(std::string_view utf8, int fallback, std::string &out)
{
    out.clear();
    std::size_t i = 0;
    while (i < utf8.size()) {
        const int e = escape_at(utf8, i);
        if (e >= 0) {
            out += static_cast<char>(e);
            i += 4;
            continue;
        }
        uint32_t u = 0;
        std::size_t n = 1;
        long code = -1;
        if (take_utf8(utf8, i, u, n))
            code = code_of(u);
        if (code < 0) {
            if (fallback != ZF_TEXT_QUESTION)
                return false;
            out += '?';
        } else if (code > 0xFF) {
            out += static_cast<char>(code >> 8);
            out += static_cast<char>(code & 0xFF);
        } else {
            out += static_cast<char>(code);
        }
        i += n;
    }
    return true;
}

} // namespace zf

namespace {

char *copy_out(const std::string &s)
{
    auto *p = static_cast<char *>(std::malloc(s.size() + 1));
    if (!p) {
        zf_errno = ENOMEM;
        return nullptr;
    }
    std::memcpy(p, s.data(), s.size());
    p[s.size()] = '\0';
    return p;
}

std::string_view field(const unsigned char *h, int offset, int width)
{
    std::string_view s(reinterpret_cast<const char *>(h + offset), static_cast<std::size_t>(width));
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return s;
}

std::string utc_date(uint32_t time)
{
    const auto t = static_cast<std::time_t>(time);
    std::tm tm{};
    char when[32] = "";
    if (gmtime_r(&t, &tm))
        std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return when;
}

} // namespace

extern "C" {

void zf_free(void *p) { std::free(p); }

char *zf_text_to_utf8(const char *sjis, size_t length)
{
    if (!sjis && length > 0) {
        zf_errno = ZF_ERR_MISUSE;
        return nullptr;
    }
    try {
        return copy_out(zf::sjis_to_utf8(std::string_view(sjis ? sjis : "", length)));
    } catch (const std::bad_alloc &) {
        zf_errno = ENOMEM;
        return nullptr;
    }
}

char *zf_text_from_utf8(const char *utf8, size_t length, int fallback, size_t *out_length)
{
    if ((!utf8 && length > 0) || (fallback != ZF_TEXT_STRICT && fallback != ZF_TEXT_QUESTION)) {
        zf_errno = ZF_ERR_MISUSE;
        return nullptr;
    }
    try {
        std::string out;
        if (!zf::utf8_to_sjis(std::string_view(utf8 ? utf8 : "", length), fallback, out)) {
            zf_errno = ZF_ERR_TEXT;
            return nullptr;
        }
        char *p = copy_out(out);
        if (p && out_length)
            *out_length = out.size();
        return p;
    } catch (const std::bad_alloc &) {
        zf_errno = ENOMEM;
        return nullptr;
    }
}

size_t zf_text_cut(const char *sjis, size_t length, size_t limit)
{
    std::size_t i = 0;
    while (sjis && i < length) {
        const std::size_t n = lead_byte(static_cast<unsigned char>(sjis[i])) && i + 1 < length ? 2 : 1;
        if (i + n > limit)
            break;
        i += n;
    }
    return i;
}

zf_text_entry *zf_get_texts(const zf_file *f, int *count)
{
    if (!f) {
        zf_errno = ZF_ERR_MISUSE;
        return nullptr;
    }
    try {
        const unsigned char *h = f->header;
        std::string comment; // line ends as LF
        for (const char *c = f->comment; c && *c; ++c)
            if (!(c[0] == '\r' && c[1] == '\n'))
                comment += *c;
        struct Text {
            const char *key, *json;
            std::string value;
        };
        const Text all[] = {
            {"Title", "title", zf::sjis_to_utf8(field(h, ZF_H_TITLE, 30))},
            {"Author", "artist", zf::sjis_to_utf8(field(h, ZF_H_ARTIST, 18))},
            {"Comment", "comment", zf::sjis_to_utf8(comment)},
            {"Software", "saver", zf::sjis_to_utf8(field(h, ZF_H_SAVER, 30))},
            {"Creation Time", "date", utc_date(zf::get_u32(h + ZF_H_TIME))},
            {"ZEFA Subtitle", "subtitle", zf::sjis_to_utf8(field(h, ZF_H_SUBTITLE, 8))},
            {"ZEFA Number", "number", std::to_string(zf::get_s16(h + ZF_H_NUMBER))},
        };
        std::vector<const Text *> shown;
        std::size_t bytes = 0;
        for (const Text &t : all)
            if (!t.value.empty()) {
                shown.push_back(&t);
                bytes += std::strlen(t.key) + std::strlen(t.json) + t.value.size() + 3;
            }
        // the entries, then their texts, in one block
        const std::size_t head = (shown.size() + 1) * sizeof(zf_text_entry);
        auto *entries = static_cast<zf_text_entry *>(std::calloc(1, head + bytes));
        if (!entries) {
            zf_errno = ENOMEM;
            return nullptr;
        }
        char *p = reinterpret_cast<char *>(entries) + head;
        auto put = [&p](std::string_view s) {
            std::memcpy(p, s.data(), s.size());
            p[s.size()] = '\0';
            const char *at = p;
            p += s.size() + 1;
            return at;
        };
        for (std::size_t i = 0; i < shown.size(); ++i) {
            entries[i].key = put(shown[i]->key);
            entries[i].json = put(shown[i]->json);
            entries[i].value = put(shown[i]->value);
        }
        if (count)
            *count = static_cast<int>(shown.size());
        return entries;
    } catch (const std::bad_alloc &) {
        zf_errno = ENOMEM;
        return nullptr;
    }
}

} // extern "C"
