// Any bytes as encoder arguments (split at 0 bytes) through its option
// parser, and as a comment file through its comment loader.
#include "support.h"

#include "settings.h"

#include <cstdlib>

enc_settings settings;

namespace {
struct RunEnded {};
} // namespace

// The encoder ends a run here; the fuzzer goes on with the next input.
[[noreturn]] void fail_run() { throw RunEnded{}; }

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
            settings = enc_settings{};
            parse_option(arg.c_str());
        } catch (const RunEnded &) {
        }
    }
    settings = enc_settings{};
    if (load_comment(zfuzz::as_file(data, size).c_str()) == 0)
        std::free(settings.comment);
    return 0;
}
