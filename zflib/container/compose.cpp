// Whole pictures: every decodable block of a file drawn at its position.
#include "codec.h"

#include <algorithm>
#include <climits>

namespace {

int header_s16(const zf::Record *f, int offset) { return static_cast<int16_t>((f->header[offset] << 8) | f->header[offset + 1]); }

// 5-bit components widened to 8 bits by repeating their top bits (31 -> 255).
unsigned char widen5(uint32_t c) { return static_cast<unsigned char>((c & 31) << 3 | (c & 31) >> 2); }

// Draws the visible part [from, to) of one decoded line at row `row`.
void draw_line(zf_picture *pic, int depth, const uint32_t *line, int from, int to, long long x0, long long row)
{
    const std::size_t at = static_cast<std::size_t>(row * pic->width + x0 + from);
    if (pic->mask)
        std::fill(pic->mask + at, pic->mask + at + (to - from), 1);
    if (depth == 8) {
        unsigned char *p = pic->pixels + at;
        for (int k = from; k < to; ++k)
            *p++ = static_cast<unsigned char>(line[k]);
        return;
    }
    unsigned char *p = pic->pixels + 3 * at;
    if (depth == 15) {
        for (int k = from; k < to; ++k, p += 3) {
            const uint32_t v = line[k];
            p[0] = widen5(v >> 6);
            p[1] = widen5(v >> 11);
            p[2] = widen5(v >> 1);
        }
    } else {
        for (int k = from; k < to; ++k, p += 3) {
            const uint32_t v = line[k];
            p[0] = static_cast<unsigned char>(v >> 16);
            p[1] = static_cast<unsigned char>(v >> 8);
            p[2] = static_cast<unsigned char>(v);
        }
    }
}

// Decodes the current block onto the picture; the lines drawn, or -1 - that
// count when decoding stopped.
int draw_block(zf::Record *f, zf_picture *pic, int depth)
{
    if (zf_begin_read(f) != 0)
        return -1;
    const long long bx = zf::block_s16(f, ZF_B_X), by = zf::block_s16(f, ZF_B_Y);
    const int bw = zf::block_width(f);
    // the columns of the block inside the canvas
    const int from = static_cast<int>(std::clamp<long long>(-bx, 0, bw));
    const int to = static_cast<int>(std::clamp<long long>(pic->width - bx, from, bw));
    int lines = 0, t;
    uint32_t *line = nullptr;
    while ((t = zf_line(f, &line)) >= 0) {
        ++lines;
        const long long row = by + t;
        if (row >= 0 && row < pic->height && from < to)
            draw_line(pic, depth, line, from, to, bx, row);
    }
    return t == -2 ? lines : -1 - lines;
}

bool depth_ok(int depth) { return depth == 8 || depth == 15 || depth == 24; }

} // namespace

extern "C" {

int zf_picture_size(zf_file *file, int *width, int *height)
{
    zf::Record *f = zf::rec(file);
    if (!f || !width || !height || f->mode != 0 || !depth_ok(zf::header_depth(f))) {
        zf_errno = ZF_ERR_FORMAT;
        return -1;
    }
    long long w = std::max(0, header_s16(f, ZF_H_MAX_WIDTH));
    long long h = std::max(0, header_s16(f, ZF_H_MAX_HEIGHT));
    int r = zf_first_block(f);
    if (r < 0)
        return -1;
    for (; r > 0; r = zf_next_block(f)) {
        if (r != 1)
            continue;
        w = std::max<long long>(w, std::max(0, int{zf::block_s16(f, ZF_B_X)}) + zf::block_width(f));
        h = std::max<long long>(h, std::max(0, int{zf::block_s16(f, ZF_B_Y)}) + zf::block_height(f));
    }
    // both stay below 2 * 32767: a 16-bit offset plus a 16-bit size
    *width = static_cast<int>(w);
    *height = static_cast<int>(h);
    return 0;
}

int zf_decode_image(zf_file *file, zf_picture *pic)
{
    zf::Record *f = zf::rec(file);
    if (!f || !pic || !pic->pixels || pic->width < 0 || pic->height < 0 || f->mode != 0 ||
        !depth_ok(zf::header_depth(f))) {
        zf_errno = ZF_ERR_FORMAT;
        return -1;
    }
    const int depth = zf::header_depth(f);
    pic->blocks = pic->skipped = 0;
    pic->failed_block = -1;
    pic->failed_line = 0;
    int i = 0, r;
    for (r = zf_first_block(f); r > 0; r = zf_next_block(f), ++i) {
        if (r == 2) {
            ++pic->skipped;
            continue;
        }
        const int lines = draw_block(f, pic, depth);
        if (lines > 0 || lines < -1)
            ++pic->blocks;
        if (lines < 0) {
            pic->failed_block = i;
            pic->failed_line = -1 - lines;
            return -1;
        }
    }
    if (r < 0) {
        pic->failed_block = i;
        return -1;
    }
    return 0;
}

} // extern "C"
