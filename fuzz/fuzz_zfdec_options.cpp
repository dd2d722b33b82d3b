// Any bytes as decoder arguments (split at 0 bytes) through its option
// parser.
#include "decoder.h"

#include <cstdint>
#include <string>

dec_settings_t dec_settings;

namespace {
struct RunEnded {};
} // namespace

// The decoder ends a run here; the fuzzer goes on with the next input.
[[noreturn]] void end_run(int) { throw RunEnded{}; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\0', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string arg = text.substr(start, end - start);
        start = end + 1;
        if (arg.empty() || (arg[0] != '-' && arg[0] != '/'))
            continue;
        try {
            dec_settings = dec_settings_t{};
            parse_option(arg.c_str());
        } catch (const RunEnded &) {
        }
    }
    return 0;
}
