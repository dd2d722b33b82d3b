// pictures.h - picture files of the formats zfconv and zfenc read, for the
// tests: GIF, PNG, TIFF and JPEG written by their own libraries; BMP, DJP and FAL files laid out here.
#ifndef ZEFA_TESTS_PICTURES_H
#define ZEFA_TESTS_PICTURES_H

#include "image.h"

#include <string>
#include <utility>
#include <vector>

namespace zt {

using Picture = zfconv::Image;
using zfconv::Kind;

// Palette index (x * 3 + y) % colours, entry i = (i * 16, 255 - i * 8,
// i * 5 + 7); grey: the index * 13; colour: (x * 5, y * 9, x + y).
Picture test_picture(Kind kind, int w, int h, int colours = 16);

// Each false when the library refused.  GIF takes palette pictures (an
// animation's frames of one size, with the first one's colour table padded
// to 256 entries).  PNG is interlaced: palette pictures at `bits` per pixel,
// colour with an `alpha` (one byte per pixel) as 8-bit RGBA, colour without
// one as 16-bit RGBA whose low bytes and alpha are noise a reader must drop.
// TIFF is LZW-compressed, a picture's `alpha` an extra sample, unassociated
// or (`associated`) with the colours multiplied by it.  A JPEG's EXIF
// orientation tag, or a TIFF's, is written when `orientation` is not 0.
bool write_gif(const std::string &path, const std::vector<Picture> &frames, bool interlace = false, int transparent = -1);
// `trns`: a palette picture's alpha per entry (its tRNS chunk).
bool write_png(const std::string &path, const Picture &img, int bits = 8, const zfconv::Bytes &trns = {});
bool write_tiff(const std::string &path, const Picture &img, bool associated = false);
bool write_jpeg(const std::string &path, const Picture &img, int orientation = 0);

// A BMP file: file header, an info header of `header` bytes (12 is the
// core form), bit-field masks, palette and the pixel bytes as stored.
struct Bmp {
    Bmp(int header_size, int w, int h, int bit_count, uint32_t coding = 0, zfconv::Bytes stored = {},
        std::vector<uint32_t> bit_masks = {})
        : header(header_size), width(w), height(h), bits(bit_count), compression(coding), masks(std::move(bit_masks)),
          pixels(std::move(stored))
    {
    }
    int header, width, height, bits;
    uint32_t compression = 0, colours = 0;
    std::vector<uint32_t> masks; // after a 40-byte header, or inside a longer one
    zfconv::Bytes palette;       // R, G, B triples
    zfconv::Bytes pixels;
    zfconv::Bytes file() const;
};
// A picture as a bottom-up BMP of 1, 4, 8 (palette) or 24 bits.
zfconv::Bytes bmp_of(const Picture &img, int bits);

// A DJP file: the header, then the palette (type 0) and pixels given.
zfconv::Bytes djp_file(int w, int h, int type, const zfconv::Bytes &data);
// The text of a FAL companion.
std::string fal_text(int w, int h, int x = 0, int y = 0);
// The pixel (x, y) of a picture as 0xRRGGBB.
uint32_t colour_at(const Picture &img, int x, int y);

} // namespace zt

#endif
