// The web page's calls (web/zefa_web.cpp), natively: any bytes as a ZEFA
// file, and what comes out encoded again at a depth and with texts taken
// from the input (hostile UTF-8, escapes), then read back.
#include "zefa_web.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

// A result is null only without memory; its JSON is one object.
void check_result(const zw_result *r)
{
    check(r && r->json && r->json[0] == '{' && r->json[std::strlen(r->json) - 1] == '}');
    for (const char *c = r->json; *c; ++c)
        check(static_cast<unsigned char>(*c) >= 0x20);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    zw_result *r = zw_decode(data, static_cast<int32_t>(std::min<size_t>(size, INT32_MAX)));
    check_result(r);
    check(r->size == 0 || r->size == 4LL * r->width * r->height);
    if (r->size > 0 && r->size <= (1 << 18)) {
        std::string text(reinterpret_cast<const char *>(data), std::min<size_t>(size, 48));
        text.erase(std::find(text.begin(), text.end(), '\0'), text.end());
        const int depth = size > 0 && data[size - 1] % 3 == 0 ? 8 : size > 0 && data[size - 1] % 3 == 1 ? 15 : 24;
        zw_result *e = zw_encode(r->data, r->width, r->height, depth, "fast", text.c_str(), text.c_str(), text.c_str());
        check_result(e);
        if (e->size > 0) {
            zw_result *back = zw_decode(e->data, e->size);
            check_result(back);
            check(back->width == r->width && back->height == r->height);
            zw_release(back);
        }
        zw_release(e);
    }
    zw_release(r);
    return 0;
}
