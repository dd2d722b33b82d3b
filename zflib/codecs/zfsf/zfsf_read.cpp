// ZFSF decoding: run counts, links to the next line and a colour cache per
// left neighbour, read from an MSB-first bit stream.
#include "zfsf_stream.h"

#include <algorithm>

namespace zfsf {
namespace {

unsigned char zfsf_get_byte(zf::Record *f, BitReader &in)
{
    unsigned char *list = byte_list(f);
    if (in.bit()) {
        const int j = static_cast<int>(in.bits(4));
        const unsigned char b = list[j];
        move_to_front(list, j, b);
        return b;
    }
    const auto b = static_cast<unsigned char>(in.bits(8));
    move_to_front(list, 15, b);
    return b;
}

uint32_t zfsf_get_pixel8(zf::Record *f, BitReader &in, uint32_t left)
{
    uint32_t *row = cache_row(f, left & 0xFF);
    if (in.bit()) {
        const int j = static_cast<int>(in.bits(4));
        const uint32_t v = row[j];
        move_to_front(row, j, v);
        return v;
    }
    const uint32_t hi = zfsf_get_byte(f, in);
    const uint32_t v = hi << 8 | zfsf_get_byte(f, in);
    move_to_front(row, 15, v);
    return v;
}

// Link codes: 0 none; 11 same position; 1011 i-1; 1001 i+1; 1010 i-2;
// 1000 i+2.  Read through a 4-bit window: its length and the next-line
// position's offset.  No link writes into a spare entry before position 0
// instead, which nothing reads, so that the outcome steers no branch.
struct LinkCode {
    int8_t length, offset;
    bool linked;
};
constexpr LinkCode kLinkCodes[16] = {
    {1, 0, false}, {1, 0, false}, {1, 0, false}, {1, 0, false}, {1, 0, false}, {1, 0, false},
    {1, 0, false}, {1, 0, false}, {4, +2, true},  {4, +1, true},  {4, -2, true},  {4, -1, true},
    {2, 0, true},  {2, 0, true},  {2, 0, true},  {2, 0, true},
};
constexpr int kNowhere = -kSpare;

// Applies the link code at the top of w; its length.
inline int link(uint64_t w, int i, uint32_t v, uint32_t *below, unsigned char *next_flags)
{
    const LinkCode code = kLinkCodes[w >> 60];
    const int p = code.linked ? i + code.offset : kNowhere; // p is -4 .. n + 1: inside the spare entries
    below[p] = v;
    next_flags[p] = 0xFF;
    return code.length;
}

// The run counter and skip count after reading a run count.
inline void set_count(int64_t c, int64_t &run, int32_t &skip)
{
    run = c;
    if (c == kEscape)
        skip = kEscape;
    else if (c > kEscape)
        run = c - 1;
}

// A run count at the top of w when the window holds all of it (k up to
// `most` leading ones): its length, else 0.
inline int short_count(uint64_t w, int most, int64_t &c)
{
    const int k = __builtin_clzll(~w); // w's low bits are zeros shifted in
    if (k > most)
        return 0;
    const uint64_t low = (uint64_t{1} << k) - 1;
    c = static_cast<int64_t>(((w >> (63 - 2 * k)) & low) + low);
    return 2 * k + 1;
}

inline void take_count(BitReader &in, int64_t &run, int32_t &skip) { set_count(in.count(), run, skip); }

// The first position from j on, before end, whose flag marks a link.
inline int next_linked(const unsigned char *flags, int j, int end)
{
    for (; j + 8 <= end; j += 8) {
        uint64_t eight;
        std::memcpy(&eight, flags + j, 8);
        eight &= 0x8080808080808080u;
        if (eight != 0)
            return j + __builtin_ctzll(eight) / 8; // little-endian: the first byte is the lowest
    }
    while (j < end && !(flags[j] & 0x80))
        ++j;
    return j;
}

// A change point: its colour, its link and the run count after it, read
// from one window when they fit (depths 15 and 24).
template <int kValueBits, int kRowShift, int kValueShift>
inline uint32_t change_point(zf::Record *f, Window &in, uint32_t left, int j, uint32_t *below,
                             unsigned char *next_flags, int64_t &run, int32_t &skip)
{
    uint64_t w = in.bits56();
    const uint32_t r = (left >> kRowShift) & 0xFF;
    uint32_t *row = cache_row(f, r);
    uint16_t &head = ring_heads(f)[r];
    uint32_t v;
    int used;
    if (w >> 63) { // hit: 1 and a 6-bit index
        v = row[(head + (w >> 57)) & 63];
        used = 7;
    } else {       // miss: 0 and the value
        head = static_cast<uint16_t>((head - 1) & 63);
        v = static_cast<uint32_t>(w >> (63 - kValueBits)) << kValueShift;
        row[head & 63] = v;
        used = 1 + kValueBits;
    }
    w <<= used;
    const int link_bits = link(w, j, v, below, next_flags);
    w <<= link_bits;
    used += link_bits;
    int64_t c;
    // 56 bits hold colour and link (at most 29 bits) and a count of 27
    const int count_bits = short_count(w, (56 - 29 - 1) / 2, c);
    if (count_bits != 0) {
        in.take(used + count_bits);
        set_count(c, run, skip);
    } else {
        in.take(used);
        take_count(in.sync(), run, skip);
        in.load();
    }
    return v;
}

uint32_t change_point8(zf::Record *f, Window &in, uint32_t left, int j, uint32_t *below, unsigned char *next_flags,
                       int64_t &run, int32_t &skip)
{
    const uint32_t v = zfsf_get_pixel8(f, in.sync(), left);
    in.load();
    in.take(link(in.bits56(), j, v, below, next_flags));
    take_count(in.sync(), run, skip);
    in.load();
    return v;
}

using ChangePoint = uint32_t (*)(zf::Record *, Window &, uint32_t, int, uint32_t *, unsigned char *, int64_t &,
                                 int32_t &);

template <ChangePoint change>
void decode_units(zf::Record *f, BitReader &reader, int n, uint32_t left, Regs &r)
{
    uint32_t *current = f->line_b + kSpare, *below = f->line_c + kSpare;
    const unsigned char *flags = f->row_a + kSpare;
    unsigned char *next_flags = f->row_b + kSpare;
    Window in(reader);
    // the counters live in registers while the line is decoded
    int64_t run = r.run;
    int32_t skip = r.skip;
    for (int j = 0; j < n;) {
        if (flags[j] & 0x80) { // linked: the value is there; its own link follows
            left = current[j];
            in.take(link(in.bits56(), j, left, below, next_flags));
            ++j;
            if (skip > 0 && --skip == 0) {
                take_count(in.sync(), run, skip);
                in.load();
            }
        } else if (skip > 0 || run > 0) {
            // repeats of the value to the left, up to the next linked
            // position (and, outside the skip mode, the end of the run)
            const int end = skip > 0 || run >= n - j ? n : j + static_cast<int>(run);
            const int stop = next_linked(flags, j, end);
            std::fill(current + j, current + stop, left);
            if (skip == 0)
                run -= stop - j;
            j = stop;
        } else {
            left = change(f, in, left, j, below, next_flags, run, skip);
            current[j] = left;
            ++j;
        }
    }
    in.sync();
    r.run = run;
    r.skip = skip;
}

int zfsf_read_line(zf::Record *f, uint32_t **line)
{
    Regs &r = regs(f);
    const int height = zf::block_height(f);
    if (f->line_no >= height)
        return -2;
    const int width = zf::block_width(f);
    const int n = units(r.depth, width);
    uint32_t *above = f->line_a + kSpare, *current = f->line_b + kSpare;
    std::memset(f->row_b + kSpare, 0, static_cast<std::size_t>(n));
    try {
        BitReader in(f);
        uint32_t left;
        if (f->line_no == 0) {
            r.skip = 0;
            int64_t run = 0;
            int32_t skip = 0;
            take_count(in, run, skip);
            r.run = run;
            r.skip = skip;
            left = 0;
        } else if (r.depth == 8) {
            left = (above[2 * n - 2] & 0xFF) << 8 | (above[2 * n - 1] & 0xFF);
        } else {
            left = above[n - 1];
        }
        if (r.depth == 24)
            decode_units<change_point<24, 16, 0>>(f, in, n, left, r);
        else if (r.depth == 15)
            decode_units<change_point<15, 8, 1>>(f, in, n, left, r);
        else
            decode_units<change_point8>(f, in, n, left, r);
    } catch (const StreamFailure &) {
        return -1;
    }
    if (r.depth == 8)
        for (int j = n - 1; j >= 0; --j) {
            const uint32_t v = current[j] & 0xFFFF;
            current[2 * j + 1] = v & 0xFF;
            current[2 * j] = v >> 8;
        }
    *line = current;
    ++f->line_no;
    // above <- current, current <- below, below <- old above
    uint32_t *old_a = f->line_a;
    f->line_a = f->line_b;
    f->line_b = f->line_c;
    f->line_c = old_a;
    std::swap(f->row_a, f->row_b);
    return f->line_no - 1;
}

} // namespace
} // namespace zfsf

int zf::zfsf_read_setup(zf::Record *f)
{
    using namespace zfsf;
    const int depth = zf::coded_depth(f);
    if (depth < 0 || !zf::start_payload(f, f->block_pos))
        return -1;
    f->pixel_fn = nullptr; // the line function picks its change points by depth
    f->line_fn = zfsf_read_line;
    std::memset(f->table_64k, 0, 65536);
    std::memset(f->table_1k, 0, 1024);
    const std::size_t row_bytes = static_cast<std::size_t>(zf::block_width(f)) + 8;
    std::memset(f->row_a, 0, row_bytes);
    std::memset(f->row_b, 0, row_bytes);
    regs(f) = Regs{};
    regs(f).depth = depth;
    return 0;
}
