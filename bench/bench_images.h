// bench_images.h - synthetic images for the codec benchmarks.
//
// Three kinds, each in the pixel form of a depth (8, 15 or 24):
//  * flat:   one colour over the whole image;
//  * screen: 16 colours in large rectangles (windows, bars, a few thin
//            rules), the kind of picture a screen capture gives;
//  * photo:  smooth gradients with per-pixel noise, so that nearly every
//            pixel differs from its neighbours.
// Header-only and deterministic (fixed seed), so every benchmark program
// codes the same pictures.
#ifndef ZEFA_BENCH_IMAGES_H
#define ZEFA_BENCH_IMAGES_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bench_images {

enum class Kind { flat, screen, photo };

inline const char *kind_name(Kind k)
{
    switch (k) {
    case Kind::flat: return "flat";
    case Kind::screen: return "screen16";
    case Kind::photo: return "photo";
    }
    return "?";
}

// Default geometry: a 640 x 480 picture.
constexpr int default_width = 640;
constexpr int default_height = 480;

// Bytes of 8-bit RGB the picture stands for: the unit of the throughput
// figures.
inline double rgb_bytes(int width, int height) { return 3.0 * width * height; }

// A small deterministic generator (xorshift32).
struct Rng {
    uint32_t s;
    explicit Rng(uint32_t seed) : s(seed ? seed : 0x9E3779B9u) {}
    uint32_t next()
    {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        return s;
    }
};

// An RGB colour in the pixel form of a depth.  Depth 8 takes `index`.
inline uint32_t pixel(int depth, unsigned r, unsigned g, unsigned b, unsigned index)
{
    r &= 0xFF;
    g &= 0xFF;
    b &= 0xFF;
    switch (depth) {
    case 8: return index & 0xFF;
    case 15: return (g >> 3) << 11 | (r >> 3) << 6 | (b >> 3) << 1;
    default: return r << 16 | g << 8 | b;
    }
}

inline unsigned clamp8(int v) { return v < 0 ? 0u : v > 255 ? 255u : static_cast<unsigned>(v); }

// The 16 colours of the screen picture (a classic 16-colour set).
inline void screen_colour(unsigned i, unsigned &r, unsigned &g, unsigned &b)
{
    static const unsigned char table[16][3] = {
        {0, 0, 0},     {0, 0, 170},   {0, 170, 0},   {0, 170, 170},  {170, 0, 0},    {170, 0, 170},
        {170, 85, 0},  {170, 170, 170}, {85, 85, 85}, {85, 85, 255},  {85, 255, 85},  {85, 255, 255},
        {255, 85, 85}, {255, 85, 255}, {255, 255, 85}, {255, 255, 255}};
    r = table[i & 15][0];
    g = table[i & 15][1];
    b = table[i & 15][2];
}

// Returns width x height pixel values, line after line.
inline std::vector<uint32_t> make_image(Kind kind, int depth, int width, int height, uint32_t seed = 1)
{
    std::vector<uint32_t> img(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    Rng rng(seed);
    switch (kind) {
    case Kind::flat:
        for (auto &p : img)
            p = pixel(depth, 96, 128, 160, 7);
        break;
    case Kind::screen: {
        // Background colour 1, then rectangles of random colours and sizes
        // from a tenth to a half of the picture, then a few one-pixel rules.
        std::vector<unsigned char> idx(img.size(), 1);
        for (int k = 0; k < 24; ++k) {
            const int w = width / 10 + static_cast<int>(rng.next() % static_cast<uint32_t>(width / 2 + 1));
            const int h = height / 10 + static_cast<int>(rng.next() % static_cast<uint32_t>(height / 2 + 1));
            const int x0 = static_cast<int>(rng.next() % static_cast<uint32_t>(width));
            const int y0 = static_cast<int>(rng.next() % static_cast<uint32_t>(height));
            const auto c = static_cast<unsigned char>(rng.next() & 15);
            for (int y = y0; y < y0 + h && y < height; ++y)
                for (int x = x0; x < x0 + w && x < width; ++x)
                    idx[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)] = c;
        }
        for (int k = 0; k < 12; ++k) {
            const int y = static_cast<int>(rng.next() % static_cast<uint32_t>(height));
            const auto c = static_cast<unsigned char>(rng.next() & 15);
            for (int x = 0; x < width; ++x)
                idx[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)] = c;
        }
        for (std::size_t i = 0; i < img.size(); ++i) {
            unsigned r, g, b;
            screen_colour(idx[i], r, g, b);
            img[i] = pixel(depth, r, g, b, idx[i]);
        }
        break;
    }
    case Kind::photo:
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const int n = static_cast<int>(rng.next() % 17) - 8;
                const int r = x * 255 / (width > 1 ? width - 1 : 1) + n;
                const int g = y * 255 / (height > 1 ? height - 1 : 1) - n;
                const int b = ((x + y) * 255 / (width + height)) + static_cast<int>(rng.next() % 9) - 4;
                const unsigned lum = clamp8((r * 3 + g * 6 + b) / 10);
                img[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)] =
                    pixel(depth, clamp8(r), clamp8(g), clamp8(b), lum);
            }
        break;
    }
    return img;
}

} // namespace bench_images

#endif
