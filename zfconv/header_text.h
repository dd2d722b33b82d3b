// header_text.h - texts the user gives (options, a PNG's text chunks) as
// the Shift-JIS of a ZEFA header field, through the library's rule.
#ifndef ZEFA_ZFCONV_HEADER_TEXT_H
#define ZEFA_ZFCONV_HEADER_TEXT_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zfconv {

// Where a header text comes from, for the words that tell of it.
struct TextSource {
    const char *field; // "title", "artist", "comment", "subtitle"
    std::string from;  // "option --title", "the PNG's Title text", ...
};

// UTF-8 text (\xHH escapes allowed) for a header field of `width` bytes (0:
// the comment, no limit): Shift-JIS, cut at a character boundary, which is
// told in `notes`.  A character with no Shift-JIS form refuses the text
// (false, `error` naming where it came from) unless `fallback` names the
// library's replacement (ZF_TEXT_QUESTION), which is then told in `notes`.
bool header_text(std::string_view utf8, std::size_t width, const TextSource &source, int fallback, std::string &out,
                 std::vector<std::string> &notes, std::string &error);

} // namespace zfconv

#endif
