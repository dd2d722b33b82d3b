#include "resample.h"

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <vector>

namespace zfconv {
namespace {

constexpr int kShift = 14; // weights are fractions of 1 << kShift
constexpr int kOne = 1 << kShift;

struct Tap {
    int first = 0;            // first source pixel
    std::vector<int> weights; // of first, first + 1, ...; they add up to kOne
    int centre = 0;           // source pixel under the output pixel's centre
};

// For each of `dst` output pixels over `src` source pixels: the source
// pixels it covers and by how much.  In units of 1/dst of a source pixel,
// output pixel o spans [o * src, (o + 1) * src) and source pixel k spans
// [k * dst, (k + 1) * dst).
std::vector<Tap> taps(long long src, long long dst)
{
    std::vector<Tap> out(static_cast<std::size_t>(dst));
    for (long long o = 0; o < dst; ++o) {
        Tap &t = out[static_cast<std::size_t>(o)];
        const long long lo = o * src, hi = lo + src;
        const long long k0 = lo / dst, k1 = (hi - 1) / dst;
        t.first = static_cast<int>(k0);
        t.centre = static_cast<int>(std::min(src - 1, (lo + hi) / 2 / dst));
        int sum = 0, biggest = 0;
        for (long long k = k0; k <= k1; ++k) {
            const long long cover = std::min(hi, (k + 1) * dst) - std::max(lo, k * dst);
            const int w = static_cast<int>(cover * kOne / src);
            t.weights.push_back(w);
            sum += w;
            if (w > t.weights[static_cast<std::size_t>(biggest)])
                biggest = static_cast<int>(t.weights.size() - 1);
        }
        t.weights[static_cast<std::size_t>(biggest)] += kOne - sum; // rounding lands on the largest share
    }
    return out;
}

} // namespace

bool make_square(const Image &in, int ratio_x, int ratio_y, Image &out, std::string &error)
{
    if (ratio_x <= 0 || ratio_y <= 0 || ratio_x == ratio_y) {
        out = in;
        return true;
    }
    const int g = std::gcd(ratio_x, ratio_y);
    const long long rx = ratio_x / g, ry = ratio_y / g;
    const bool wide = rx > ry; // pixels wider than tall: more columns
    const long long w = wide ? (in.width * rx + ry / 2) / ry : in.width;
    const long long h = wide ? in.height : (in.height * ry + rx / 2) / rx;

    // palette entries cannot be mixed: work on their colours
    const Kind kind = in.kind == Kind::grey ? Kind::grey : Kind::rgb;
    if (!allocate(out, w, h, kind, error))
        return false;
    const int channels = out.bytes_per_pixel();
    auto source = [&](std::size_t i, int c) -> int {
        if (in.kind != Kind::palette)
            return in.pixels[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)];
        const std::size_t at = 3 * std::size_t{in.pixels[i]} + static_cast<std::size_t>(c);
        return at < in.palette.size() ? in.palette[at] : 0;
    };
    const std::vector<Tap> t = taps(wide ? in.width : in.height, wide ? w : h);
    if (!in.mask.empty())
        out.mask.assign(static_cast<std::size_t>(w * h), 0);
    for (long long y = 0; y < h; ++y)
        for (long long x = 0; x < w; ++x) {
            const Tap &tap = t[static_cast<std::size_t>(wide ? x : y)];
            const std::size_t o = static_cast<std::size_t>(y * w + x);
            auto at = [&](int k) {
                return wide ? static_cast<std::size_t>(y * in.width + k) : static_cast<std::size_t>(k * in.width + x);
            };
            for (int c = 0; c < channels; ++c) {
                int acc = kOne / 2;
                for (std::size_t j = 0; j < tap.weights.size(); ++j)
                    acc += tap.weights[j] * source(at(tap.first + static_cast<int>(j)), c);
                out.pixels[o * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] =
                    static_cast<uint8_t>(acc >> kShift);
            }
            if (!in.mask.empty())
                out.mask[o] = in.mask[at(tap.centre)];
        }
    return true;
}

} // namespace zfconv
