// readers.h - the picture readers of zfconv.  Each takes a whole file held
// in memory (so that the fuzzers can drive them directly) and returns true
// with the picture, or false with a one-line English message in `error`.
// None of them trusts a size, an offset or a count read from the file.
#ifndef ZEFA_ZFCONV_READERS_H
#define ZEFA_ZFCONV_READERS_H

#include "image.h"

namespace zfconv {

enum class Format { unknown, bmp, gif, png, tiff, jpeg, djp, zefa };

// The format a file's first bytes show; never looks at the name.
Format sniff(const uint8_t *data, std::size_t size);
const char *format_name(Format f);

// `frame`: which frame of an animation (from 1); the others are counted.
bool read_gif(const uint8_t *data, std::size_t size, Image &img, std::string &error, int frame = 1);
bool read_png(const uint8_t *data, std::size_t size, Image &img, std::string &error);
bool read_tiff(const uint8_t *data, std::size_t size, Image &img, std::string &error);
bool read_jpeg(const uint8_t *data, std::size_t size, Image &img, std::string &error);
bool read_bmp(const uint8_t *data, std::size_t size, Image &img, std::string &error);
bool read_djp(const uint8_t *data, std::size_t size, Image &img, std::string &error);

// Any of the formats above, chosen by sniff(); `frame` for an animation.
bool read_image(const uint8_t *data, std::size_t size, Image &img, std::string &error, int frame = 1);

// A ZEFA file: every decodable block drawn at its position onto a picture
// of the header's maximum size (grown to hold every block); depth 8 gives a
// palette picture.  `mask` tells which pixels were decoded.  A file damaged
// after some lines were drawn gives the picture and says where and why in
// `damage`; false only when nothing can be drawn.
bool read_zefa(const uint8_t *data, std::size_t size, Image &img, std::string &error, std::string &damage,
               long long max_pixels = kMaxPixels);

// How far decoding got, as the library's report told it, so that the
// private chunk (archive.h) need not decode the file again.
struct ZefaDecoding {
    bool known = false;     // filled in by a read_zefa that drew a picture
    bool whole = false;     // every block decoded whole
    int failed_block = -1;  // else: the block (numbered as the walk meets
    int failed_line = 0;    // them, foreign ones too) and its lines drawn
};
bool read_zefa(const uint8_t *data, std::size_t size, Image &img, std::string &error, std::string &damage,
               ZefaDecoding &decoding, long long max_pixels = kMaxPixels);

// A raw RGB file whose size comes from its FAL or IPR companion.
bool read_raw_rgb(const std::string &path, const Bytes &data, Image &img, std::string &error);

} // namespace zfconv

#endif
