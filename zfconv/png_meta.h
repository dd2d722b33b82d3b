// png_meta.h - what a PNG carries besides its pixels, as zfconv writes and
// reads it: text chunks, the time, the pixel shape, and the private chunk
// that lets a ZEFA file come back byte for byte (archive.h).
#ifndef ZEFA_ZFCONV_PNG_META_H
#define ZEFA_ZFCONV_PNG_META_H

#include "image.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zfconv {

// Ancillary, private, safe to copy: editors that change the pixels keep
// it, and the pixel digest inside tells that they did.
inline constexpr char kArchiveChunk[5] = "zfAc";

struct PngText {
    std::string key;  // Latin-1 keyword
    std::string text; // UTF-8
};

struct PngMeta {
    std::vector<PngText> texts; // written as iTXt before the image data
    bool has_time = false;      // tIME
    int64_t time = 0;           // seconds since 1970 UTC
    bool has_phys = false;      // pHYs: pixels per unit along x and y
    uint32_t ppu_x = 0, ppu_y = 0;
    int phys_unit = 0;          // 0 unknown, 1 metre
    Bytes archive;              // the private chunk's data; empty: none
    int archive_chunks = 0;     // how many private chunks the PNG holds (one
                                // is written; more are damage)
    bool few_colours_as_palette = false; // an RGB picture of at most 256 colours
                                // written as a palette PNG (of 1, 2, 4 or 8 bits)

    // The text of the first chunk with this keyword, or null.
    const std::string *text(const std::string &key) const;
};

// The private chunk's data when it is made while the image data compresses
// (on another thread): asked for after the image data, written before the
// end.  False fails the PNG with the message it sets.
using LateChunk = std::function<bool(Bytes &data, std::string &error)>;

// A whole PNG in memory: palette, grey or RGB as the picture is, RGBA when
// it has holes; `meta` adds its chunks, `late` the private chunk.  The
// private chunk follows the image data (PNG files zfconv wrote before
// carried it before, and are read as well).
bool encode_png(const Image &img, const PngMeta &meta, Bytes &out, std::string &error, const LateChunk &late = {});

// A PNG with everything it carries: the pixels as read_png gives them, and
// an alpha channel as img.mask (0 where a pixel is fully transparent; left
// empty when nothing is).  tEXt and zTXt text comes converted to UTF-8.
bool read_png(const uint8_t *data, std::size_t size, Image &img, PngMeta &meta, std::string &error);

} // namespace zfconv

#endif
