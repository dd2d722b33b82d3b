// visible_text.h - text from files and command lines shown to people on a
// terminal: a control character is shown, never obeyed, so that a header
// or a file name cannot move the cursor, clear the screen, set the window
// title or write the clipboard (ESC, CSI, OSC sequences).  Every program
// shows such text through these; the JSON output carries the characters
// themselves, escaped as JSON escapes them.
#ifndef ZF_VISIBLE_TEXT_H
#define ZF_VISIBLE_TEXT_H

#include <cstddef>
#include <string>
#include <string_view>

namespace zfcon {

// The length of the UTF-8 character at the start of `s`, or 0 when its
// bytes are none: no overlong forms, no surrogates, nothing past U+10FFFF.
std::size_t utf8_length(std::string_view s);

// UTF-8 text as it may be shown: the C0 controls other than tab and line
// feed, and DEL, as \xHH; the C1 controls (U+0080 to U+009F) as \uHHHH;
// a byte that is no part of a UTF-8 character as \xHH.  Everything else,
// the Japanese texts included, unchanged.
std::string visible_utf8(std::string_view text);

// Shift-JIS text (a ZEFA header's own bytes, for a Shift-JIS console):
// control bytes other than tab and line feed, and DEL, as \xHH.  No byte
// of a double-byte character is ever one of them.
std::string visible_sjis(std::string_view text);

} // namespace zfcon

#endif
