#include "header_text.h"

#include "zefa.hpp"

namespace zfconv {

bool header_text(std::string_view utf8, std::size_t width, const TextSource &source, int fallback, std::string &out,
                 std::vector<std::string> &notes, std::string &error)
{
    if (!zefa::to_sjis(utf8, out)) {
        if (fallback == ZF_TEXT_STRICT || !zefa::to_sjis(utf8, out, fallback)) {
            error = source.from + ": " + zf_strerror(zf_errno) +
                    " (--text-fallback=question stores '?' for each such character)";
            return false;
        }
        notes.push_back(std::string("the ") + source.field + " has characters without a Shift-JIS form: stored as '?'");
    }
    if (width > 0 && out.size() > width) {
        out.resize(zf_text_cut(out.data(), out.size(), width));
        notes.push_back(std::string("the ") + source.field + " is cut to the " + std::to_string(width) +
                        " bytes it holds");
    }
    return true;
}

} // namespace zfconv
