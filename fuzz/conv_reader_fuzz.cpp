// Any bytes through one picture reader of zfconv (chosen at build time by
// CONV_READER): it must refuse or read them, never misbehave.
#include "readers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    zfconv::Image img;
    std::string error;
    if (zfconv::CONV_READER(data, size, img, error)) {
        // what a reader accepts is a whole picture
        const std::size_t want = static_cast<std::size_t>(img.width) * static_cast<std::size_t>(img.height) *
                                 static_cast<std::size_t>(img.bytes_per_pixel());
        if (img.pixels.size() != want || img.palette.size() > 768 || img.palette.size() % 3 != 0)
            __builtin_trap();
    }
    return 0;
}
