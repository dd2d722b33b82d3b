// ZEFA files through the library: every decodable block drawn at its
// position onto one picture, under the library's limits; what could not be
// decoded is marked unknown.
#include "readers.h"

#include "zefa.hpp"

#include <algorithm>

namespace zfconv {

bool read_zefa(const uint8_t *data, std::size_t size, Image &img, std::string &error, std::string &damage,
               long long max_pixels)
{
    ZefaDecoding ignored;
    return read_zefa(data, size, img, error, damage, ignored, max_pixels);
}

bool read_zefa(const uint8_t *data, std::size_t size, Image &img, std::string &error, std::string &damage,
               ZefaDecoding &decoding, long long max_pixels)
{
    damage.clear();
    decoding = ZefaDecoding{};
    zf_limits limits;
    zf_default_limits(&limits);
    limits.max_canvas = pixel_limit(max_pixels);
    zf_report report{};
    const zefa::Image pic(zf_decode_memory(data, size, &limits, ZF_INDEXED, &report));
    if (!pic) {
        error = zefa::words(report);
        return false;
    }
    img = Image{};
    img.width = pic->width;
    img.height = pic->height;
    img.kind = pic->format == ZF_INDEXED ? Kind::palette : Kind::rgb;
    const std::size_t count = static_cast<std::size_t>(pic->width) * static_cast<std::size_t>(pic->height);
    img.pixels.assign(pic->pixels, pic->pixels + count * static_cast<std::size_t>(img.bytes_per_pixel()));
    if (img.kind == Kind::palette) // every index has an entry: unset ones are black
        img.palette.assign(pic->palette, pic->palette + 3 * ZF_PALETTE_MAX);
    // a sound file has no mask: what no block covers is background, as it always was
    if (pic->mask)
        img.mask.assign(pic->mask, pic->mask + count);
    decoding.whole = report.status == ZF_DECODED_WHOLE;
    decoding.failed_block = report.block;
    decoding.failed_line = report.lines;
    decoding.known = true;
    if (!decoding.whole)
        damage = zefa::words(report);
    return true;
}

} // namespace zfconv
