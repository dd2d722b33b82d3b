// door_files.cpp - ZEFA files for the tests of the picture doors.
#include "door_files.h"

#include "zefa.h"

namespace zt {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes encode(const zf_encoding &e, int w, int h)
{
    Bytes pixels(static_cast<std::size_t>(w) * h * (e.depth == 8 ? 1 : 3));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * w + x;
            if (e.depth == 8) {
                pixels[i] = static_cast<uint8_t>(x * 3 + y * 5);
            } else {
                pixels[3 * i] = static_cast<uint8_t>(x * 37);
                pixels[3 * i + 1] = static_cast<uint8_t>(y * 59);
                pixels[3 * i + 2] = static_cast<uint8_t>(x * y + 11 * x);
            }
        }
    void *data = nullptr;
    size_t size = 0;
    if (zf_encode_memory(&data, &size, &e, pixels.data(), w, h, e.depth == 8 ? ZF_INDEXED : ZF_RGB) != 0)
        return {};
    const auto *p = static_cast<const uint8_t *>(data);
    Bytes out(p, p + size);
    zf_free(data);
    return out;
}

zf_encoding encoding(int depth, int coding)
{
    zf_encoding e{};
    e.depth = depth;
    e.coding = coding;
    e.title = "Harbour";
    e.artist = "Taro";
    e.saver = "door test";
    e.number = 12;
    e.has_time = 1;
    e.time = 1234567890;
    if (depth == 8) {
        e.n_pal = 256;
        for (int i = 0; i < 256; ++i) { // distinct colours, so that a channel taken for another shows
            e.palette[3 * i] = static_cast<unsigned char>(i);
            e.palette[3 * i + 1] = static_cast<unsigned char>(255 - i);
            e.palette[3 * i + 2] = static_cast<unsigned char>(i * 7);
        }
    }
    return e;
}

} // namespace

std::vector<DoorFile> door_files()
{
    std::vector<DoorFile> files;
    zf_encoding e = encoding(8, ZF_CODING_FAST);
    e.title = "\x93\xfa\x96\x7b \xb1\xb2\xb3 \xfd!";
    e.comment = "first line\r\nsecond \x8a\xbf\x8e\x9a\n\nthird";
    e.artist = "\xb6\xc0\xb6\xc5"; // half-width katakana
    e.time = 0;
    files.push_back({"8-fast", encode(e, 37, 21), 8});
    e = encoding(15, ZF_CODING_OPTIMIZING);
    e.ratio_x = 2;
    e.ratio_y = 1;
    files.push_back({"15-optimizing-2to1", encode(e, 29, 17), 15});
    files.push_back({"24-fast", encode(encoding(24, ZF_CODING_FAST), 61, 37), 24});
    files.push_back({"24-none", encode(encoding(24, ZF_CODING_NONE), 40, 30), 24});
    Bytes cut = encode(encoding(24, ZF_CODING_FAST), 40, 30); // lines before the damage, the rest transparent
    cut.resize(cut.size() / 2);
    files.push_back({"24-damaged", cut, 24});
    return files;
}

} // namespace zt
