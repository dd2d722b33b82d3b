// Any bytes as decoder arguments (split at 0 bytes) through its option
// parser.
#include "decoder.h"
#include "support.h"

dec_settings_t dec_settings;

namespace {
struct RunEnded {};
} // namespace

// The decoder ends a run here; the fuzzer goes on with the next input.
[[noreturn]] void end_run(int) { throw RunEnded{}; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    zfuzz::for_each_option(data, size, [](const char *arg) {
        try {
            dec_settings = dec_settings_t{};
            parse_option(arg);
        } catch (const RunEnded &) {
        }
    });
    return 0;
}
