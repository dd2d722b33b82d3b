// The coders' output, byte for byte: a fixed set of generated pictures is
// encoded with every tag and depth, and the SHA-256 digest of each block's
// payload is compared with the digest recorded when these
// codings were first written.  Any change to the output, however it comes
// about, shows here.
#include "codec_run.h"
#include "harness.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using namespace zt;

// Pictures with flat areas, stripes, gradients and noise.
Image picture(int kind, int depth, int w, int h)
{
    std::mt19937 rng(static_cast<unsigned>(kind * 100 + depth));
    if (kind == 0)
        return random_image(rng, depth, w, h, 12);
    Image img(static_cast<size_t>(h), std::vector<uint32_t>(static_cast<size_t>(w)));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint32_t v;
            if (kind == 1) // gradients with noise
                v = static_cast<uint32_t>((x * 3 + (rng() & 7)) << 16 | (y * 5) << 8 | ((x + y) & 255));
            else // vertical stripes and blocks
                v = ((x / 3) & 1) ? 0x00FF00u : ((y / 4) & 1) ? 0x123456u : 0x000000u;
            img[static_cast<size_t>(y)][static_cast<size_t>(x)] = masked(depth, v);
        }
    return img;
}

std::string sha256(const TempDir &dir, const Bytes &bytes)
{
    write_file(dir / "digest.bin", bytes);
    const auto r = run("/usr/bin/sha256sum", {dir / "digest.bin"});
    return r.out.substr(0, 64);
}

} // namespace

TEST(Golden, EveryTagAndDepthGivesTheRecordedBytes)
{
    // digest of tag/depth/picture, recorded from the first version
    const std::map<std::string, std::string> recorded = {
#include "golden_digests.inc"
    };
    TempDir dir;
    std::string now;
    for (const char *tag : {"ZFBI", "ZFBM", "ZFSF", "ZFSS"})
        for (int depth : {8, 15, 24})
            for (int kind = 0; kind < 3; ++kind) {
                const Image img = picture(kind, depth, 61, 23);
                const Coded c = encode(dir / "g.ZF", depth, img, tag);
                const std::string key = std::string(tag) + "/" + std::to_string(depth) + "/" + std::to_string(kind);
                const std::string digest = sha256(dir, c.payload);
                now += "    {\"" + key + "\", \"" + digest + "\"},\n";
                const auto it = recorded.find(key);
                if (it != recorded.end()) {
                    EXPECT_EQ(digest, it->second) << key;
                } else {
                    ADD_FAILURE() << "no digest recorded for " << key;
                }
            }
    if (HasFailure())
        std::printf("digests now:\n%s", now.c_str());
}
