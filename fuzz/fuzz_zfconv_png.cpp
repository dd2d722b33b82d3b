// Any bytes as a ZEFA file through zfconv's PNG path: the picture read as
// zfconv reads it and written as PNG data, which must read back at the
// same size.
#include "support.h"

#include "readers.h"
#include "writers.h"

#include <png.h>

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    zfconv::Image img;
    std::string error, damage;
    if (!zfconv::read_zefa(data, size, img, error, damage, zfuzz::kPixelLimit))
        return 0;
    // a sound file has no holes; a damaged one says where it broke
    if ((img.has_holes() && damage.empty()) || (!img.mask.empty() && img.mask.size() != img.pixels.size() / static_cast<std::size_t>(img.bytes_per_pixel())))
        __builtin_trap();
    char *png = nullptr;
    size_t length = 0;
    FILE *f = open_memstream(&png, &length);
    if (!f)
        std::abort();
    const bool written = zfconv::encode_png(f, img, error);
    std::fclose(f);
    png_image back{};
    back.version = PNG_IMAGE_VERSION;
    if (!written || !png_image_begin_read_from_memory(&back, png, length) ||
        back.width != static_cast<png_uint_32>(img.width) || back.height != static_cast<png_uint_32>(img.height))
        __builtin_trap();
    png_image_free(&back);
    std::free(png);
    return 0;
}
