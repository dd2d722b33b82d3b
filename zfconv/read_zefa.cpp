// ZEFA files through the library: every decodable block drawn at its
// position onto one picture.
#include "readers.h"

#include "zefa.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace zfconv {
namespace {

int s16(const unsigned char *p) { return static_cast<int16_t>(p[0] << 8 | p[1]); }

struct Closer {
    void operator()(zf_file *f) const { zf_close(f); }
};

// 5-bit components widened to 8 bits by repeating their top bits, so that
// 31 becomes 255.
uint8_t widen5(uint32_t c) { return static_cast<uint8_t>((c & 31) << 3 | (c & 31) >> 2); }

void put_pixel(Image &img, int depth, uint32_t v, std::size_t at)
{
    uint8_t *p = img.pixels.data() + at * static_cast<std::size_t>(img.bytes_per_pixel());
    if (depth == 8) {
        p[0] = static_cast<uint8_t>(v);
    } else if (depth == 15) {
        p[0] = widen5(v >> 6);
        p[1] = widen5(v >> 11);
        p[2] = widen5(v >> 1);
    } else {
        p[0] = static_cast<uint8_t>(v >> 16);
        p[1] = static_cast<uint8_t>(v >> 8);
        p[2] = static_cast<uint8_t>(v);
    }
}

std::string library_error(const char *what)
{
    const int code = zf_errno;
    const std::string why = code == ZF_ERR_EOF      ? "the file ends early"
                            : code == ZF_ERR_FORMAT ? "not a ZEFA file, or damaged"
                                                    : std::strerror(code);
    return std::string(what) + ": " + why;
}

} // namespace

bool read_zefa(const std::string &path, Image &img, std::string &error)
{
    std::unique_ptr<zf_file, Closer> f(zf_open(path.c_str()));
    if (!f) {
        error = library_error("not a readable ZEFA file");
        return false;
    }
    const int depth = s16(f->header + ZF_H_DEPTH);
    if (depth != 8 && depth != 15 && depth != 24) {
        error = "a ZEFA file of depth " + std::to_string(depth) + " cannot be shown";
        return false;
    }

    // First walk: the picture must hold the header's size and every block.
    long long w = std::max(0, s16(f->header + ZF_H_MAX_WIDTH));
    long long h = std::max(0, s16(f->header + ZF_H_MAX_HEIGHT));
    int blocks = 0;
    for (int r = zf_first_block(f.get()); r > 0; r = zf_next_block(f.get())) {
        if (r != 1)
            continue;
        ++blocks;
        w = std::max<long long>(w, std::max(0, s16(f->block + ZF_B_X)) + static_cast<long long>(s16(f->block + ZF_B_WIDTH)));
        h = std::max<long long>(h, std::max(0, s16(f->block + ZF_B_Y)) + static_cast<long long>(s16(f->block + ZF_B_HEIGHT)));
    }
    if (blocks == 0) {
        error = "the ZEFA file holds no block this program can decode";
        return false;
    }
    if (!allocate(img, w, h, depth == 8 ? Kind::palette : Kind::rgb, error))
        return false;
    if (depth == 8) {
        const int n = f->n_pal >= 1 && f->n_pal <= 256 ? f->n_pal : 256;
        img.palette.assign(f->palette, f->palette + 3 * 256);
        img.palette.resize(static_cast<std::size_t>(3 * n));
    }

    // Second walk: decode and draw, clipping what lies outside.
    int max_index = 0;
    for (int r = zf_first_block(f.get()); r > 0; r = zf_next_block(f.get())) {
        if (r != 1)
            continue;
        const int bx = s16(f->block + ZF_B_X), by = s16(f->block + ZF_B_Y);
        const int bw = s16(f->block + ZF_B_WIDTH);
        if (zf_begin_read(f.get()) != 0) {
            error = library_error("a block cannot be decoded");
            return false;
        }
        uint32_t *line = nullptr;
        int y;
        while ((y = zf_line(f.get(), &line)) >= 0) {
            const long long py = static_cast<long long>(by) + y;
            if (py < 0 || py >= img.height)
                continue;
            for (int x = 0; x < bw; ++x) {
                const long long px = static_cast<long long>(bx) + x;
                if (px < 0 || px >= img.width)
                    continue;
                put_pixel(img, depth, line[x], static_cast<std::size_t>(py * img.width + px));
                if (depth == 8)
                    max_index = std::max(max_index, static_cast<int>(line[x] & 0xFF));
            }
        }
        if (y != -2) {
            error = library_error("the ZEFA file is damaged");
            return false;
        }
    }
    // a palette must name every index the blocks use
    if (depth == 8 && static_cast<int>(img.palette.size() / 3) <= max_index)
        img.palette.resize(3 * 256, 0);
    return true;
}

} // namespace zfconv
