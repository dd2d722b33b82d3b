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
    zfuzz::for_each_option(data, size, [](const char *arg) {
        try {
            settings = enc_settings{};
            parse_option(arg);
        } catch (const RunEnded &) {
        }
    });
    settings = enc_settings{};
    if (load_comment(zfuzz::as_file(data, size).c_str()) == 0)
        std::free(settings.comment);
    return 0;
}
