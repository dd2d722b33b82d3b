// The C library of WebAssembly builds (musl) knows Shift-JIS by the name
// SHIFT_JIS, not CP932: header text is converted through it under the
// name glibc uses.
#include <cstring>
#include <iconv.h>

extern "C" iconv_t zw_iconv_open(const char *to, const char *from)
{
    const auto name = [](const char *n) { return std::strcmp(n, "CP932") == 0 ? "SHIFT_JIS" : n; };
    return iconv_open(name(to), name(from));
}
