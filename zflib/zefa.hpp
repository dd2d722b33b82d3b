// zefa.hpp - owners for the C records of zefa.h, for C++ programs: each
// frees what it holds when it goes out of scope.
#ifndef ZEFA_HPP
#define ZEFA_HPP

#include "zefa.h"

#include <memory>
#include <string>
#include <string_view>

namespace zefa {

struct RecordCloser {
    void operator()(zf_file *f) const { zf_close(f); }
};
// An open file; zf_close at the end of its scope (call zf_close on
// release() yourself when its result matters, as it does when writing).
using Record = std::unique_ptr<zf_file, RecordCloser>;

struct ImageFreer {
    void operator()(zf_image *img) const { zf_free_image(img); }
};
using Image = std::unique_ptr<zf_image, ImageFreer>;

struct Freer {
    void operator()(void *p) const { zf_free(p); }
};
using Texts = std::unique_ptr<zf_text_entry, Freer>;

inline Record open_memory(const void *data, size_t size) { return Record(zf_open_memory(data, size)); }

// Shift-JIS as UTF-8 (escapes for bytes that are no character); "" when
// memory runs out.
inline std::string to_utf8(std::string_view sjis)
{
    std::unique_ptr<char, Freer> p(zf_text_to_utf8(sjis.data(), sjis.size()));
    return p ? std::string(p.get()) : std::string();
}

// UTF-8 as Shift-JIS; false (zf_errno set) when refused.
inline bool to_sjis(std::string_view utf8, std::string &out, int fallback = ZF_TEXT_STRICT)
{
    size_t n = 0;
    std::unique_ptr<char, Freer> p(zf_text_from_utf8(utf8.data(), utf8.size(), fallback, &n));
    if (!p)
        return false;
    out.assign(p.get(), n);
    return true;
}

// A decoding's report in words.
inline std::string words(const zf_report &report)
{
    const int n = zf_report_text(&report, nullptr, 0);
    if (n <= 0)
        return std::string();
    std::string s(static_cast<size_t>(n) + 1, '\0');
    zf_report_text(&report, s.data(), s.size());
    s.resize(static_cast<size_t>(n));
    return s;
}

} // namespace zefa

#endif
