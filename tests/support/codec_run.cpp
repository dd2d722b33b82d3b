#include "codec_run.h"

#include "harness.h"
#include "zefa.h"
#include "record.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace zt {

Coded encode(const std::string &path, int depth, const Image &img, const char *tag)
{
    zf::creation.n_pal = 0;
    zf_set_info("", depth, -1, -1, 1, 1, 0);
    zf_file *f = zf_create(path.c_str(), "", nullptr, "", 0);
    EXPECT_NE(f, nullptr);
    Coded c;
    if (!f)
        return c;
    uint32_t *line = nullptr;
    const int w = static_cast<int>(img[0].size());
    const int h = static_cast<int>(img.size());
    EXPECT_EQ(zf_begin_write(f, &line, 0, 0, w, h, tag, -1), 0);
    for (size_t y = 0; y < img.size() && c.returns.size() < 4 * img.size() + 4;) {
        std::copy(img[y].begin(), img[y].end(), line);
        const int t = zf_line(f, &line);
        c.returns.push_back(t);
        if (t < 0)
            break;
        y = t == 0 ? 0 : y + 1;
    }
    EXPECT_EQ(zf_close(f), 0);
    Bytes b = read_file(path);
    if (b.size() >= 125 + 26 + 8)
        c.payload.assign(b.begin() + 125 + 26, b.end() - 8);
    return c;
}

Image decode(const std::string &path, int *last, int *error)
{
    Image out;
    zf_file *f = zf_open(path.c_str());
    if (!f)
        return out;
    if (zf_first_block(f) == 1 && zf_begin_read(f) == 0) {
        const int w = static_cast<int16_t>(f->block[10] << 8 | f->block[11]);
        uint32_t *line = nullptr;
        int t;
        while ((t = zf_line(f, &line)) >= 0)
            out.emplace_back(line, line + w);
        if (last)
            *last = t;
        if (error)
            *error = zf_errno;
    } else {
        if (last)
            *last = -1;
        if (error)
            *error = zf_errno;
    }
    zf_close(f);
    return out;
}

uint32_t masked(int depth, uint32_t v) { return depth == 8 ? v & 0xFF : depth == 15 ? v & 0xFFFE : v & 0xFFFFFF; }

Image random_image(std::mt19937 &rng, int depth, int w, int h, int colours)
{
    std::vector<uint32_t> palette(static_cast<size_t>(colours));
    for (auto &p : palette)
        p = masked(depth, static_cast<uint32_t>(rng()));
    Image img(static_cast<size_t>(h), std::vector<uint32_t>(static_cast<size_t>(w)));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const auto roll = rng() % 10;
            uint32_t v = palette[rng() % palette.size()];
            if (roll < 4 && x > 0)
                v = img[y][x - 1];
            else if (roll < 7 && y > 0)
                v = img[y - 1][std::min(w - 1, std::max(0, x + static_cast<int>(rng() % 5) - 2))];
            img[y][x] = v;
        }
    return img;
}

} // namespace zt
