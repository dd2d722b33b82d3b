// A PNG holding any private chunk through zfconv's restore: the ZEFA file
// written shows the PNG's pixels, or nothing is written.  The input is a
// small picture and the chunk's body uncompressed (so that the fuzzer
// changes what the chunk says, not its zlib stream):
//
//   u8 width, u8 height (1 to 255 each), u8 flags (1: a mask follows,
//   2: --verify), width * height RGB triples, the mask (0: a hole), the body
//
// kept inputs are the chunks zfconv made of the ZEFA files of the other
// targets' corpora, and the project's hostile chunks.
#include "support.h"

#include "convert.h"
#include "png_meta.h"
#include "readers.h"
#include "zefa_build.h"

#include <zlib.h>

namespace {

bool picture_of(const uint8_t *&data, size_t &size, zfconv::Image &pic, bool &verify)
{
    if (size < 3 || data[0] == 0 || data[1] == 0)
        return false;
    pic.width = data[0];
    pic.height = data[1];
    pic.kind = zfconv::Kind::rgb;
    const bool masked = data[2] & 1;
    verify = data[2] & 2;
    const size_t n = size_t(pic.width) * size_t(pic.height);
    if (size - 3 < n * (masked ? 4 : 3))
        return false;
    pic.pixels.assign(data + 3, data + 3 + 3 * n);
    if (masked) {
        pic.mask.assign(data + 3 + 3 * n, data + 3 + 4 * n);
        for (uint8_t &m : pic.mask)
            m = m ? 1 : 0;
        if (!pic.has_holes())
            pic.mask.clear();
    }
    const size_t used = 3 + n * (masked ? 4 : 3);
    data += used;
    size -= used;
    return true;
}

// The chunk's data: version 1, the body's length, the body compressed.
zfconv::Bytes chunk_of(const uint8_t *body, size_t size)
{
    uLongf packed = compressBound(static_cast<uLong>(size));
    zfconv::Bytes out(5 + packed);
    out[0] = 1;
    for (int i = 0; i < 4; ++i)
        out[1 + i] = static_cast<uint8_t>(size >> (24 - 8 * i));
    compress2(&out[5], &packed, body, static_cast<uLong>(size), 1);
    out.resize(5 + packed);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    zfconv::Image pic;
    bool verify = false;
    if (!picture_of(data, size, pic, verify))
        return 0;
    zfconv::PngMeta meta;
    meta.archive = chunk_of(data, size);
    meta.few_colours_as_palette = true; // as zfconv writes a ZEFA file's PNG
    zfconv::Bytes png;
    std::string error;
    if (!zfconv::encode_png(pic, meta, png, error))
        __builtin_trap();
    // what zfconv sees of the PNG
    zfconv::Image shown;
    zfconv::PngMeta read_meta;
    if (!zfconv::read_png(png.data(), png.size(), shown, read_meta, error))
        __builtin_trap();

    zfconv::Options options;
    options.max_pixels = zfuzz::kPixelLimit;
    options.verify = verify;
    options.second_thread = false;
    zfconv::Outcome out;
    if (!zfconv::convert(png, "fuzz.png", zfconv::Target::zefa, options, out, error))
        return 0; // nothing written
    zfconv::Image dec;
    std::string damage;
    if (!zfconv::read_zefa(out.output.data(), out.output.size(), dec, error, damage) || dec.width != shown.width ||
        dec.height != shown.height)
        __builtin_trap();
    const size_t n = size_t(shown.width) * size_t(shown.height);
    for (size_t i = 0; i < n; ++i) {
        const bool hole = !dec.mask.empty() && dec.mask[i] == 0;
        const bool transparent = !shown.mask.empty() && shown.mask[i] == 0;
        if (!(hole && transparent) && zfconv::colour_at(dec, i) != zfconv::colour_at(shown, i))
            __builtin_trap();
    }
    return 0;
}
