// Any bytes as a ZEFA file through zfdec's raw RGB path (the first byte
// chooses FAL or IPR companions).  A run that ends with status 0 has
// written every line of every block and one companion after each.
#include "support.h"
#include "zfdec_driver.h"

#include "companion.h"
#include "zefa.h"

#include <cstdio>
#include <cstdlib>

namespace {

std::size_t companion_length(bool fal, int w, int h, int x, int y)
{
    char *text = nullptr;
    size_t n = 0;
    FILE *f = open_memstream(&text, &n);
    if (!f)
        std::abort();
    fal ? print_fal(f, w, h, x, y) : print_ipr(f, w, h, x, y);
    std::fclose(f);
    std::free(text);
    return n;
}

// What a complete run writes, from a walk of its own.
std::size_t expected_length(const uint8_t *data, size_t size, bool fal)
{
    std::size_t total = 0;
    zf_file *f = zf_open_memory(data, size);
    for (int r = f ? zf_first_block(f) : 0; r > 0; r = zf_next_block(f)) {
        if (r != 1)
            continue;
        zf_block b{};
        zf_get_block(f, &b);
        total += 3u * static_cast<std::size_t>(b.width) * static_cast<std::size_t>(b.height) +
                 companion_length(fal, b.width, b.height, b.x, b.y);
    }
    zf_close(f);
    return total;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    zfuzz::quiet_console();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    zfuzz::Input in{data, size};
    dec_settings_t settings;
    settings.companion_fal = (in.byte() & 1) == 0;
    std::string out;
    if (zfuzz::run_zfdec(in.data, in.size, settings, out) == 0 &&
        out.size() != expected_length(in.data, in.size, settings.companion_fal))
        __builtin_trap();
    return 0;
}
