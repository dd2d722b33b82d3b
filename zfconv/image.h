// image.h - the picture every reader of zfconv produces and every writer
// takes: palette, grey or RGB pixels, top row first, one or three bytes
// per pixel, nothing between rows.
#ifndef ZEFA_ZFCONV_IMAGE_H
#define ZEFA_ZFCONV_IMAGE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zfconv {

enum class Kind { palette, grey, rgb };

struct Image {
    int width = 0;
    int height = 0;
    Kind kind = Kind::rgb;
    std::vector<uint8_t> pixels;  // width * height * bytes_per_pixel()
    std::vector<uint8_t> palette; // Kind::palette: 1 to 256 entries of R, G, B
    std::vector<uint8_t> mask;    // empty, or one byte per pixel: 0 where nothing was decoded
    // Transparency as the file stored it, until settle_alpha() applies the
    // rule: empty, or one byte per pixel (0 transparent to 255 opaque, the
    // colours not multiplied by it); palette pictures may have it per entry.
    std::vector<uint8_t> alpha;
    std::vector<uint8_t> palette_alpha;
    // What reading gave up (16-bit samples, later frames), and what it did
    // as a viewer does (an orientation applied): one phrase each, told to
    // the user with the file's name.
    std::vector<std::string> dropped;
    std::vector<std::string> changed;

    // True when some pixel holds nothing decoded (it must not pass for black).
    bool has_holes() const;

    int bytes_per_pixel() const { return kind == Kind::rgb ? 3 : 1; }
};

// The largest picture any reader accepts, so that a hostile header cannot
// make the program allocate without bound: 2^27 pixels (384 MiB as RGB).
inline constexpr long long kMaxPixels = 1LL << 27;

// Checks a header's size against max_pixels (and the calling thread's
// limit) and sizes `pixels`; false with `error` set when the size is empty
// or too large.
bool allocate(Image &img, long long width, long long height, Kind kind, std::string &error,
              long long max_pixels = kMaxPixels);

// The largest picture the calling thread's readers accept: max_pixels, or
// less under a PixelLimit.
long long pixel_limit(long long max_pixels = kMaxPixels);

// Lowers the largest picture the readers of the calling thread accept for
// as long as it lives (the fuzz targets keep every input quick with it).
class PixelLimit {
public:
    explicit PixelLimit(long long max_pixels);
    ~PixelLimit();
    PixelLimit(const PixelLimit &) = delete;
    PixelLimit &operator=(const PixelLimit &) = delete;

private:
    long long previous_;
};

// The one transparency rule of every reader.  Without a background the
// colours stay as stored, as if every pixel were opaque, and the
// transparency is dropped; with one (0xRRGGBB) every pixel is composited
// over it.  Either way it is said in `dropped`.  A palette picture with
// transparency per entry stays a palette picture.
void settle_alpha(Image &img, const uint32_t *background);

// Turns the picture as an EXIF or TIFF orientation (2 to 8) asks; 1 and
// values outside 1 to 8 leave it.  Says what it did in `changed`.
void apply_orientation(Image &img, int orientation);

// A read file in memory.
using Bytes = std::vector<uint8_t>;

} // namespace zfconv

#endif
