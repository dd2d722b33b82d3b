// Header text: Shift-JIS to UTF-8 and back over every code of the code
// page, checked against the C library's own converter, and the escapes
// that bring every stored byte back.
#include "zefa.h"

#include <gtest/gtest.h>

#include <iconv.h>
#include <memory>
#include <string>

namespace {

std::string to_utf8(const std::string &sjis)
{
    std::unique_ptr<char, decltype(&zf_free)> p(zf_text_to_utf8(sjis.data(), sjis.size()), zf_free);
    return p ? std::string(p.get()) : "<null>";
}

// The Shift-JIS bytes, or "<refused>".
std::string to_sjis(const std::string &utf8, int fallback = ZF_TEXT_STRICT)
{
    size_t n = 0;
    std::unique_ptr<char, decltype(&zf_free)> p(zf_text_from_utf8(utf8.data(), utf8.size(), fallback, &n), zf_free);
    return p ? std::string(p.get(), n) : "<refused>";
}

// What iconv makes of one code, as the library is to take it: the
// character when it converts to one and back to the same code, else "".
class Iconv {
public:
    Iconv() : to_(iconv_open("UTF-8", "CP932")), back_(iconv_open("CP932", "UTF-8")) {}
    ~Iconv()
    {
        iconv_close(to_);
        iconv_close(back_);
    }
    std::string character(const std::string &code)
    {
        std::string utf8 = run(to_, code);
        if (utf8.empty() || run(back_, utf8) != code)
            return "";
        return utf8;
    }

private:
    static std::string run(iconv_t cd, const std::string &in)
    {
        char buf[32];
        char *src = const_cast<char *>(in.data()), *dst = buf;
        size_t left = in.size(), room = sizeof buf;
        const size_t r = iconv(cd, &src, &left, &dst, &room);
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        return r == static_cast<size_t>(-1) || left != 0 ? "" : std::string(buf, static_cast<size_t>(dst - buf));
    }
    iconv_t to_, back_;
};

std::string hex(unsigned char b)
{
    char s[8];
    std::snprintf(s, sizeof s, "\\x%02X", b);
    return s;
}

} // namespace

// Every double-byte code, both ways: a character iconv round-trips is that
// character and comes back; any other pair is its lead byte escaped
// followed by whatever the trail byte is alone.
TEST(Text, EveryDoubleByteCodeBothWays)
{
    Iconv iconv;
    int characters = 0;
    for (int lead = 0x81; lead <= 0xFC; ++lead) {
        if (lead > 0x9F && lead < 0xE0)
            continue;
        for (int trail = 0x40; trail <= 0xFC; ++trail) {
            if (trail == 0x7F)
                continue;
            const std::string code{static_cast<char>(lead), static_cast<char>(trail)};
            const std::string want = iconv.character(code);
            const std::string got = to_utf8(code);
            if (!want.empty()) {
                ++characters;
                ASSERT_EQ(got, want) << std::hex << lead << " " << trail;
            } else {
                ASSERT_EQ(got.substr(0, 4), hex(static_cast<unsigned char>(lead))) << std::hex << lead << " " << trail;
            }
            ASSERT_EQ(to_sjis(got), code) << std::hex << lead << " " << trail;
        }
    }
    EXPECT_GT(characters, 9000); // kanji, kana, symbols and the user-defined area
}

// Every single byte alone: ASCII (controls included) and half-width
// katakana are characters, the rest escapes; each comes back.
TEST(Text, EverySingleByteBothWays)
{
    Iconv iconv;
    for (int b = 0; b < 256; ++b) {
        const std::string code(1, static_cast<char>(b));
        const std::string want = iconv.character(code);
        const std::string got = to_utf8(code);
        // controls come through as themselves; a 0 would end the text
        const std::string shown = b == 0 ? "\\x00" : b < 0x80 ? code : want.empty() ? hex(static_cast<unsigned char>(b)) : want;
        EXPECT_EQ(got, shown) << b;
        EXPECT_EQ(to_sjis(got), code) << b;
    }
}

TEST(Text, EscapesAndMixedText)
{
    // a title with kanji, half-width katakana, a byte that is no character
    // and a lead byte cut off at the end
    const std::string sjis = "T\x93\xFA\x96\x7B \xB1\xB2 \x81\x7F" "X \xFD end \x88";
    const std::string utf8 = to_utf8(sjis);
    EXPECT_EQ(utf8, "T\xE6\x97\xA5\xE6\x9C\xAC \xEF\xBD\xB1\xEF\xBD\xB2 \\x81\x7FX \\xFD end \\x88");
    EXPECT_EQ(to_sjis(utf8), sjis);
    // a real backslash that reads as an escape is itself escaped; others stay
    EXPECT_EQ(to_utf8("a\\x41 \\y"), "a\\x5Cx41 \\y");
    EXPECT_EQ(to_sjis("a\\x5Cx41 \\y"), "a\\x41 \\y");
    EXPECT_EQ(to_sjis("\\x8a\\x9F"), "\x8A\x9F"); // lower-case digits are read too
}

TEST(Text, NoShiftJisFormIsRefusedOrReplaced)
{
    zf_errno = 0;
    EXPECT_EQ(to_sjis("caf\xC3\xA9"), "<refused>"); // e with acute accent
    EXPECT_EQ(zf_errno, ZF_ERR_TEXT);
    EXPECT_EQ(to_sjis("caf\xC3\xA9 \xF0\x9F\x98\x80!", ZF_TEXT_QUESTION), "caf? ?!");
    // bytes that are no UTF-8 are never stored as they are
    EXPECT_EQ(to_sjis("a\xC3"), "<refused>");
    EXPECT_EQ(to_sjis("a\xED\xA0\x80"), "<refused>"); // a surrogate
    EXPECT_EQ(to_sjis("a\xC0\xAF", ZF_TEXT_QUESTION), "a??");
    EXPECT_EQ(std::string(zf_strerror(ZF_ERR_TEXT)).find("Shift-JIS") != std::string::npos, true);
    zf_errno = 0;
    EXPECT_EQ(zf_text_from_utf8("a", 1, 7, nullptr), nullptr);
    EXPECT_EQ(zf_errno, ZF_ERR_MISUSE);
}

TEST(Text, CutKeepsDoubleByteCharactersWhole)
{
    const std::string s = "ab\x93\xFA\x96\x7B";
    EXPECT_EQ(zf_text_cut(s.data(), s.size(), 3), 2u);
    EXPECT_EQ(zf_text_cut(s.data(), s.size(), 4), 4u);
    EXPECT_EQ(zf_text_cut(s.data(), s.size(), 99), 6u);
}
