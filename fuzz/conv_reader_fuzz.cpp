// Any bytes through one picture reader of zfconv (chosen at build time by
// CONV_READER): it must refuse or read them, never misbehave.
#include "readers.h"

namespace {

// What a reader accepts is a whole picture, and stays one under the
// transparency rule.
void check(zfconv::Image &img)
{
    const std::size_t pixels = static_cast<std::size_t>(img.width) * static_cast<std::size_t>(img.height);
    const auto whole = [&] {
        return img.pixels.size() == pixels * static_cast<std::size_t>(img.bytes_per_pixel()) &&
               img.palette.size() <= 768 && img.palette.size() % 3 == 0;
    };
    if (!whole() || (!img.alpha.empty() && img.alpha.size() != pixels))
        __builtin_trap();
    const uint32_t white = 0xFFFFFF;
    zfconv::settle_alpha(img, &white);
    if (!whole())
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // pictures of a few million pixels at most: every input stays quick
    const zfconv::PixelLimit limit(1 << 22);
    zfconv::Image img;
    std::string error;
    if (zfconv::CONV_READER(data, size, img, error))
        check(img);
    // an animation's later frames, drawn over the earlier ones
    zfconv::Image frame;
    if (size >= 3 && data[0] == 'G' && zfconv::read_gif(data, size, frame, error, 3))
        check(frame);
    return 0;
}
