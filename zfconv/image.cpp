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

bool allocate(Image &img, long long width, long long height, Kind kind, std::string &error, long long max_pixels)
{
    max_pixels = std::min(max_pixels, thread_limit);
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
