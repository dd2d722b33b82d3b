// codec.h - what the container core and the block codecs share.
//
// Every row of the codec table (codec_table.cpp) obeys one contract:
//  * read set-up: called after the work buffers exist; sets line_no = 0,
//    installs line_fn (and pixel_fn), seeks to block_pos + 26, returns 0/-1.
//  * write set-up: called after `block` is filled and the buffers exist;
//    sets line_no = 0, installs line_fn, seeks to next_pos + 26, stores the
//    first line buffer in *line (when line is not null), returns 0/-1.
//  * line function: see zf_line in zefa.h for its results.
#ifndef ZFLIB_CODEC_H
#define ZFLIB_CODEC_H

#include "record.h"

#include <cstdint>
#include <cstring>

namespace zf {

// ZFBI / ZFBM (uncompressed)
int zfbi_read_setup(Record *f);
int zfbi_write_setup(Record *f, uint32_t **line);
// ZFSF
int zfsf_read_setup(Record *f);
int zfsf_write_setup(Record *f, uint32_t **line);
// ZFSS
int zfss_read_setup(Record *f);
int zfss_write_setup(Record *f, uint32_t **line);

// Block geometry as the codecs see it, read from the block header image.
inline int16_t block_s16(const Record *f, int offset)
{
    return static_cast<int16_t>(get_s16(f->block + offset));
}
inline int block_width(const Record *f) { return block_s16(f, ZF_B_WIDTH); }
inline int block_height(const Record *f) { return block_s16(f, ZF_B_HEIGHT); }
inline int header_depth(const Record *f)
{
    return get_s16(f->header + ZF_H_DEPTH);
}

// The start every set-up shares: the line count at 0 and the file at the
// payload of the block whose header is at `block_at` (block_pos when
// reading, next_pos when writing).  False with the record's error set.
inline bool start_payload(Record *f, long block_at)
{
    f->line_no = 0;
    return zf_seek(f, block_at + ZF_BLOCK_HEADER_SIZE) >= 0;
}

// The depth of a compressed coding's pixels: 8, 15 or 24, else -1 with
// the record's error set (the uncompressed coding counts lines of any depth).
inline int coded_depth(Record *f)
{
    const int depth = header_depth(f);
    if (depth == 8 || depth == 15 || depth == 24)
        return depth;
    set_error(f, ZF_ERR_FORMAT);
    return -1;
}

// A codec keeps its per-block state in codec_state: the first kStreamSize
// bytes are the stream buffer, the rest holds a trivially copyable struct of
// the codec's counters.  These helpers give typed access without aliasing
// tricks.
inline unsigned char *stream_buffer(Record *f) { return f->codec_state.bytes; }

template <class Regs> Regs *codec_regs(Record *f)
{
    static_assert(sizeof(Regs) <= kCodecRegsSize, "codec registers too large");
    static_assert(alignof(Regs) <= 8, "codec registers over-aligned");
    return reinterpret_cast<Regs *>(f->codec_state.bytes + kStreamSize);
}

// Masks a caller's value to the pixel form of a depth (an index; G, R, B
// above a clear bit 0; R, G, B in 24 bits), so cache indices derived from
// it stay in range and the coder never holds a value the other side cannot
// reproduce: bit 0 of a 15-bit value is never sent.
inline uint32_t pixel_mask(int depth)
{
    return depth == 8 ? 0xFFu : depth == 15 ? 0xFFFEu : 0xFFFFFFu;
}

// Units of a line for the compressed codings: pixels, or pixel pairs at
// depth 8.
inline int units(int depth, int width) { return depth == 8 ? (width + 1) / 2 : width; }

// Masks the caller's values to the pixel form of the depth and, at depth
// 8, packs the pixels into pairs in place (an odd width pairs the last
// pixel with 0).  The line needs room for one value past the width.
inline void take_line(uint32_t *next, int width, int depth)
{
    const uint32_t mask = pixel_mask(depth);
    for (int i = 0; i < width; ++i)
        next[i] &= mask;
    if (depth != 8)
        return;
    if (width & 1)
        next[width] = 0;
    const int n = units(depth, width);
    for (int i = 0; i < n; ++i)
        next[i] = next[2 * i] << 8 | next[2 * i + 1];
}

// Whether any of `count` entries (a multiple of 4) is v: four entries per
// comparison and no early exit, so that a search that mostly misses costs
// count / 4 steps; the caller looks for the exact place only after a yes.
inline bool holds(const uint32_t *entries, int count, uint32_t v)
{
    using u32x4 = uint32_t __attribute__((vector_size(16)));
    const u32x4 want = {v, v, v, v};
    u32x4 any = {0, 0, 0, 0};
    for (int k = 0; k < count; k += 4) {
        u32x4 four;
        std::memcpy(&four, entries + k, sizeof four);
        any |= reinterpret_cast<u32x4>(four == want);
    }
    return (any[0] | any[1] | any[2] | any[3]) != 0;
}

// Where v is among `count` entries (a multiple of 4) that hold it at most
// once, or -1: without a branch, so an unpredictable place costs nothing.
inline int unique_entry(const uint32_t *entries, int count, uint32_t v)
{
    using u32x4 = uint32_t __attribute__((vector_size(16)));
    const u32x4 want = {v, v, v, v};
    u32x4 place = {1, 2, 3, 4}; // entry number + 1
    const u32x4 step = {4, 4, 4, 4};
    u32x4 found = {0, 0, 0, 0};
    for (int k = 0; k < count; k += 4) {
        u32x4 four;
        std::memcpy(&four, entries + k, sizeof four);
        found += reinterpret_cast<u32x4>(four == want) & place;
        place += step;
    }
    return static_cast<int>(found[0] + found[1] + found[2] + found[3]) - 1;
}

} // namespace zf

#endif
