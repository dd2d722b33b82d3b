// Any bytes as a ZEFA file through zfconv --json: the document describes
// as much as reads, and is always valid UTF-8 with every control
// character escaped, whatever the header's text holds.
#include "support.h"

#include "info.h"

namespace {

bool valid_utf8_without_controls(const std::string &s)
{
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size() || c < 0x20)
            return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2)
                return false;
        i += n;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string json = zfconv::info_json("fuzz.ZF", std::vector<uint8_t>(data, data + size));
    if (json.size() < 2 || json.front() != '{' || json.back() != '}' || !valid_utf8_without_controls(json))
        __builtin_trap();
    return 0;
}
