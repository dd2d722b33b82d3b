// Any bytes as a picture (a PNG made by zfconv with its private chunk, or
// any other) through zfconv's way to ZEFA: refused or converted, and what
// it makes must read back.
#include "support.h"

#include "convert.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const zfconv::Bytes input(data, data + size);
    zfconv::Options options;
    options.verify = true; // what is made is decoded and compared
    options.max_pixels = zfuzz::kPixelLimit;
    zfconv::Outcome out;
    std::string error;
    if (zfconv::convert(input, "fuzz.png", zfconv::Target::zefa, options, out, error) && out.output.size() < 124 + 8)
        __builtin_trap();
    return 0;
}
