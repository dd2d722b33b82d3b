// Any bytes as header text: Shift-JIS to UTF-8 must come back to the same
// bytes, and any bytes as UTF-8 are taken or refused, never stored as they are.
#include "zefa.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *in = reinterpret_cast<const char *>(data);
    char *utf8 = zf_text_to_utf8(in, size);
    if (!utf8)
        std::abort();
    size_t n = 0;
    char *back = zf_text_from_utf8(utf8, std::strlen(utf8), ZF_TEXT_STRICT, &n);
    if (!back || n != size || std::memcmp(back, in, size) != 0)
        std::abort();
    zf_free(back);
    zf_free(utf8);
    back = zf_text_from_utf8(in, size, ZF_TEXT_QUESTION, &n);
    if (!back)
        std::abort();
    zf_free(back);
    return 0;
}
