// Any bytes as a ZEFA file through zfconv's PNG path, and back: what
// zfconv turns into a PNG must come back from that PNG byte for byte.  The
// private chunk made from what decoding the picture learnt must be the one
// decoding every block again gives.
#include "support.h"

#include "archive.h"
#include "convert.h"
#include "readers.h"
#include "zefa.hpp"

namespace {

// Pictures larger than the targets decode take seconds and find nothing
// the smaller ones do not.
bool small_enough(const uint8_t *data, size_t size)
{
    zefa::Record f(zf_open_memory(data, size));
    int w = 0, h = 0;
    if (!f || zf_picture_size(f.get(), &w, &h) != 0)
        return true; // refused early, at no cost
    if (static_cast<long long>(w) * h > zfuzz::kPixelLimit)
        return false;
    zefa::Record g(zf_open_memory(data, size));
    for (int r = zf_first_block(g.get()); r > 0; r = zf_next_block(g.get())) {
        zf_block b{};
        if (r == 1 && zf_get_block(g.get(), &b) == 0 && static_cast<long long>(b.width) * b.height > zfuzz::kPixelLimit)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // other pictures become PNGs too, but only a ZEFA file comes back as itself
    if (zfconv::sniff(data, size) != zfconv::Format::zefa || !small_enough(data, size))
        return 0;
    const zfconv::Bytes input(data, data + size);
    zfconv::Options options;
    options.max_pixels = zfuzz::kPixelLimit;
    zfconv::Outcome png, back;
    std::string error;
    if (!zfconv::convert(input, "fuzz.ZF", zfconv::Target::png, options, png, error))
        return 0;
    if (png.output.size() < 8 || !zfconv::convert(png.output, "fuzz.png", zfconv::Target::zefa, options, back, error))
        __builtin_trap();
    if (!back.exact || back.output != input)
        __builtin_trap();
    // without the private chunk: the same picture, read back through libpng
    zfconv::Options plain = options;
    plain.archive = false;
    plain.verify = true;
    zfconv::Outcome no_chunk;
    if (!zfconv::convert(input, "fuzz.ZF", zfconv::Target::png, plain, no_chunk, error))
        __builtin_trap();
    zfconv::Image img;
    zfconv::ZefaDecoding decoding;
    std::string damage;
    if (!zfconv::read_zefa(data, size, img, error, damage, decoding, zfuzz::kPixelLimit))
        __builtin_trap(); // it made a PNG of this file
    const zfconv::Image view = zfconv::png_view(img);
    zfconv::Archive told, again;
    if (!zfconv::make_archive(input, view, told, error, &decoding) || !zfconv::make_archive(input, view, again, error) ||
        zfconv::pack_archive(told) != zfconv::pack_archive(again))
        __builtin_trap();
    return 0;
}
