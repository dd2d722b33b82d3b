// ZEFA files through the library: every decodable block drawn at its
// position onto one picture; what could not be decoded is marked unknown.
#include "readers.h"

#include "zefa.h"

#include <memory>

namespace zfconv {
namespace {

struct Closer {
    void operator()(zf_file *f) const { zf_close(f); }
};
using Record = std::unique_ptr<zf_file, Closer>;

} // namespace

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
    // One record finds the size, a fresh one decodes: a record that met
    // damage on its walk keeps the error and cannot walk again.
    Record sizing(zf_open_memory(data, size));
    if (!sizing) {
        error = "not a readable ZEFA file: " + std::string(zf_strerror(zf_errno));
        return false;
    }
    zf_info info{};
    zf_get_info(sizing.get(), &info);
    const int depth = info.depth;
    if (depth != 8 && depth != 15 && depth != 24) {
        error = "a ZEFA file of depth " + std::to_string(depth) + " cannot be shown";
        return false;
    }
    int w = 0, h = 0;
    if (zf_picture_size(sizing.get(), &w, &h) != 0) {
        error = "no block can be read: " + std::string(zf_strerror(zf_errno));
        return false;
    }
    if (!allocate(img, w, h, depth == 8 ? Kind::palette : Kind::rgb, error, max_pixels))
        return false;
    if (depth == 8) // every index has an entry: unset ones are black
        img.palette.assign(sizing->palette, sizing->palette + 3 * ZF_PALETTE_MAX);
    sizing.reset();

    Record f(zf_open_memory(data, size));
    if (!f) {
        error = "not a readable ZEFA file: " + std::string(zf_strerror(zf_errno));
        return false;
    }
    zf_set_pixel_limit(f.get(), max_pixels);
    zf_picture pic{};
    pic.width = w;
    pic.height = h;
    pic.pixels = img.pixels.data();
    // Without a mask first: a sound file needs none.  A damaged one is
    // decoded once more with it, drawing the same pixels again.
    int decoded = zf_decode_image(f.get(), &pic);
    if (decoded != 0) {
        f.reset(zf_open_memory(data, size));
        if (!f) {
            error = "not a readable ZEFA file: " + std::string(zf_strerror(zf_errno));
            return false;
        }
        zf_set_pixel_limit(f.get(), max_pixels);
        img.mask.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), 0);
        pic.mask = img.mask.data();
        decoded = zf_decode_image(f.get(), &pic);
    }
    decoding.whole = decoded == 0;
    decoding.failed_block = pic.failed_block;
    decoding.failed_line = pic.failed_line;
    decoding.pixel_limit = max_pixels;
    if (decoded != 0) {
        const std::string why = std::string(zf_strerror(zf_errno));
        if (pic.blocks == 0 && pic.failed_line == 0) {
            error = "no block can be decoded: " + why;
            return false;
        }
        // blocks are numbered from 0, as zfdec numbers them
        const std::string block = "block " + std::to_string(pic.failed_block);
        damage = (pic.failed_line == 0 ? block + " cannot be read: "
                                       : "line " + std::to_string(pic.failed_line) + " of " + block +
                                             " cannot be decoded: ") +
                 why;
    } else if (pic.blocks == 0) {
        error = "the ZEFA file holds no block this program can decode";
        return false;
    }
    // a sound file has no mask: what no block covers is background, as it always was
    decoding.known = true;
    return true;
}

} // namespace zfconv
