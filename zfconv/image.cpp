#include "image.h"

#include <algorithm>

namespace zfconv {

bool Image::has_holes() const
{
    for (uint8_t m : mask)
        if (m == 0)
            return true;
    return false;
}

namespace {
thread_local long long thread_limit = kMaxPixels;
} // namespace

PixelLimit::PixelLimit(long long max_pixels) : previous_(thread_limit)
{
    thread_limit = std::min(thread_limit, max_pixels);
}

PixelLimit::~PixelLimit() { thread_limit = previous_; }

long long pixel_limit(long long max_pixels) { return std::min(max_pixels, thread_limit); }

bool allocate(Image &img, long long width, long long height, Kind kind, std::string &error, long long max_pixels)
{
    max_pixels = pixel_limit(max_pixels);
    if (width < 1 || height < 1) {
        error = "the picture has no pixels (" + std::to_string(width) + " x " + std::to_string(height) + ")";
        return false;
    }
    if (width > max_pixels || height > max_pixels || width * height > max_pixels) {
        error = "the picture is too large (" + std::to_string(width) + " x " + std::to_string(height) + ")";
        return false;
    }
    img.width = static_cast<int>(width);
    img.height = static_cast<int>(height);
    img.kind = kind;
    img.mask.clear();
    img.pixels.assign(static_cast<std::size_t>(width * height) * static_cast<std::size_t>(img.bytes_per_pixel()), 0);
    return true;
}

} // namespace zfconv

namespace zfconv {
namespace {

uint8_t over(unsigned colour, unsigned alpha, unsigned back)
{
    return static_cast<uint8_t>((colour * alpha + back * (255 - alpha) + 127) / 255);
}

std::string hex_colour(uint32_t c)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s = "#";
    for (int shift = 20; shift >= 0; shift -= 4)
        s += digits[(c >> shift) & 15];
    return s;
}

void composite_entries(Image &img, uint32_t back)
{
    const std::size_t entries = std::min(img.palette.size() / 3, img.palette_alpha.size());
    for (std::size_t i = 0; i < entries; ++i)
        for (int k = 0; k < 3; ++k)
            img.palette[3 * i + static_cast<std::size_t>(k)] =
                over(img.palette[3 * i + static_cast<std::size_t>(k)], img.palette_alpha[i], (back >> (16 - 8 * k)) & 255);
}

void composite_pixels(Image &img, uint32_t back)
{
    const std::size_t n = img.alpha.size();
    const bool grey_back = (back >> 16 & 255) == (back & 255) && (back >> 8 & 255) == (back & 255);
    if (img.kind == Kind::palette || (img.kind == Kind::grey && !grey_back)) {
        // the background's colour may be in no palette: the picture becomes RGB
        std::vector<uint8_t> rgb(n * 3);
        for (std::size_t i = 0; i < n; ++i) {
            const uint32_t c = img.kind == Kind::grey ? img.pixels[i] * 0x010101u : [&] {
                const std::size_t at = 3u * img.pixels[i];
                return at + 2 < img.palette.size()
                           ? uint32_t{img.palette[at]} << 16 | uint32_t{img.palette[at + 1]} << 8 | img.palette[at + 2]
                           : 0u;
            }();
            for (int k = 0; k < 3; ++k)
                rgb[3 * i + static_cast<std::size_t>(k)] = static_cast<uint8_t>(c >> (16 - 8 * k));
        }
        img.pixels = std::move(rgb);
        img.palette.clear();
        img.kind = Kind::rgb;
    }
    const std::size_t channels = static_cast<std::size_t>(img.bytes_per_pixel());
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t k = 0; k < channels; ++k)
            img.pixels[i * channels + k] =
                over(img.pixels[i * channels + k], img.alpha[i], channels == 1 ? back & 255 : (back >> (16 - 8 * k)) & 255);
}

} // namespace

void settle_alpha(Image &img, const uint32_t *background)
{
    const std::size_t n = static_cast<std::size_t>(img.width) * static_cast<std::size_t>(img.height);
    if (img.alpha.size() != n)
        img.alpha.clear();
    std::size_t see_through = 0;
    for (uint8_t a : img.alpha)
        see_through += a < 255 ? 1 : 0;
    if (img.kind == Kind::palette && !img.palette_alpha.empty())
        for (std::size_t i = 0; i < n && i < img.pixels.size(); ++i)
            see_through += img.pixels[i] < img.palette_alpha.size() && img.palette_alpha[img.pixels[i]] < 255 ? 1 : 0;
    if (see_through > 0) {
        const std::string count = std::to_string(see_through) + " of " + std::to_string(n) + " pixels";
        if (background) {
            if (img.kind == Kind::palette && !img.palette_alpha.empty())
                composite_entries(img, *background);
            if (!img.alpha.empty())
                composite_pixels(img, *background);
            img.mask.clear(); // nothing is left transparent
            img.dropped.push_back("transparency (" + count + "): composited over " + hex_colour(*background));
        } else {
            img.dropped.push_back("transparency (" + count +
                                  " transparent or partly so): they keep the colours stored under it "
                                  "(--background=COLOUR composites them over a colour)");
        }
    }
    img.alpha.clear();
    img.palette_alpha.clear();
}

void apply_orientation(Image &img, int orientation)
{
    if (orientation < 2 || orientation > 8)
        return;
    // 5 to 8 exchange width and height
    const bool swap = orientation >= 5;
    const int w = img.width, h = img.height;
    const int nw = swap ? h : w, nh = swap ? w : h;
    const auto turn = [&](std::vector<uint8_t> &plane, std::size_t bpp) {
        if (plane.size() != static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * bpp)
            return;
        std::vector<uint8_t> out(plane.size());
        for (int y = 0; y < nh; ++y)
            for (int x = 0; x < nw; ++x) {
                // the stored pixel shown at (x, y)
                int sx = x, sy = y;
                switch (orientation) {
                case 2: sx = w - 1 - x; break;
                case 3: sx = w - 1 - x; sy = h - 1 - y; break;
                case 4: sy = h - 1 - y; break;
                case 5: sx = y; sy = x; break;
                case 6: sx = y; sy = h - 1 - x; break;
                case 7: sx = w - 1 - y; sy = h - 1 - x; break;
                case 8: sx = w - 1 - y; sy = x; break;
                }
                const std::size_t from = static_cast<std::size_t>(sy) * static_cast<std::size_t>(w) + static_cast<std::size_t>(sx);
                const std::size_t to = static_cast<std::size_t>(y) * static_cast<std::size_t>(nw) + static_cast<std::size_t>(x);
                std::copy_n(&plane[from * bpp], bpp, &out[to * bpp]);
            }
        plane = std::move(out);
    };
    turn(img.pixels, static_cast<std::size_t>(img.bytes_per_pixel()));
    turn(img.alpha, 1);
    turn(img.mask, 1);
    img.width = nw;
    img.height = nh;
    static const char *const kDone[] = {"",
                                        "",
                                        "mirrored left to right",
                                        "turned half round",
                                        "mirrored top to bottom",
                                        "mirrored along its diagonal",
                                        "turned a quarter clockwise",
                                        "mirrored along its other diagonal",
                                        "turned a quarter anticlockwise"};
    img.changed.push_back(std::string("stored as viewers show it: ") + kDone[orientation] + " as its orientation tag (" +
                          std::to_string(orientation) + ") asks");
}

} // namespace zfconv
