// sjis_text.h - the Shift-JIS (CP932) text of ZEFA headers as UTF-8 for
// PNG text chunks, in a form that comes back to the same bytes.
//
// Every character whose conversion round-trips is converted.  Any other
// byte becomes the four characters \xHH (two upper-case hex digits): a
// byte that is no Shift-JIS character, a code CP932 maps to a character
// that converts back to another code (the NEC and IBM duplicates), and
// control bytes other than TAB and LF.  A backslash followed by 'x' and
// two hex digits is written \x5C, so no text reads as an escape it is not;
// any other backslash stays as it is.
#ifndef ZEFA_ZFCONV_SJIS_TEXT_H
#define ZEFA_ZFCONV_SJIS_TEXT_H

#include <string>
#include <string_view>
#include <vector>

namespace zfconv {

std::string sjis_to_utf8(std::string_view sjis);

// The reverse: \xHH gives the byte, the rest is converted to CP932.  False
// when a character has no Shift-JIS form or the text is no UTF-8; `out`
// then holds the text as given, escapes undone.
bool utf8_to_sjis(std::string_view utf8, std::string &out);

// tEXt and zTXt chunks hold Latin-1.
std::string latin1_to_utf8(std::string_view latin1);

// A fixed-width header field without its padding blanks.
std::string_view trim_padding(std::string_view field);

// The longest start of Shift-JIS text within `limit` bytes that does not
// end in the middle of a double-byte character.
std::size_t sjis_cut(std::string_view sjis, std::size_t limit);

// UTF-8 text (escapes allowed) for a header field of `width` bytes (0:
// the comment, no limit): Shift-JIS, cut at a character boundary.  What
// was cut, or stored as given for want of a Shift-JIS form, is told in
// `notes`, naming the field as `what`.
std::string header_text(std::string_view utf8, std::size_t width, const char *what, std::vector<std::string> &notes);

} // namespace zfconv

#endif
