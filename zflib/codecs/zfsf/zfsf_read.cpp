// ZFSF decoding: run counts, links to the next line and a colour cache per
// left neighbour, read from an MSB-first bit stream.
#include "zfsf_stream.h"

namespace zfsf {
namespace {

using GetPixel = uint32_t (*)(zf::Record *, BitReader &, uint32_t left);

uint32_t get_pixel_ring(zf::Record *f, BitReader &in, uint32_t left, int shift, int value_bits, int value_shift)
{
    const uint32_t r = (left >> shift) & 0xFF;
    uint32_t *row = cache_row(f, r);
    uint16_t &head = ring_heads(f)[r];
    if (in.bit())
        return row[(head + in.bits(6)) & 63];
    head = static_cast<uint16_t>((head - 1) & 63);
    const uint32_t v = in.bits(value_bits) << value_shift;
    row[head & 63] = v;
    return v;
}

uint32_t zfsf_get_pixel24(zf::Record *f, BitReader &in, uint32_t left) { return get_pixel_ring(f, in, left, 16, 24, 0); }
uint32_t zfsf_get_pixel15(zf::Record *f, BitReader &in, uint32_t left) { return get_pixel_ring(f, in, left, 8, 15, 1); }

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

// Link codes: 0 none; 11 same position; 1011 i-1; 1001 i+1; 1010 i-2; 1000 i+2.
void get_link(BitReader &in, int i, uint32_t v, uint32_t *below, unsigned char *next_flags)
{
    if (!in.bit())
        return;
    int p;
    if (in.bit()) {
        p = i;
    } else {
        const uint32_t two = in.bits(2);
        static constexpr int kOffset[4] = {+2, +1, -2, -1}; // 1000, 1001, 1010, 1011
        p = i + kOffset[two];
    }
    below[p] = v; // p is -2 .. n + 1: inside the spare entries
    next_flags[p] = 0xFF;
}

void take_count(Regs &r, BitReader &in)
{
    const int64_t c = in.count();
    r.run = c;
    if (c == kEscape)
        r.skip = kEscape;
    else if (c > kEscape)
        r.run = c - 1;
}

int zfsf_read_line(zf::Record *f, uint32_t **line)
{
    Regs &r = regs(f);
    const int height = zf::block_height(f);
    if (f->line_no >= height)
        return -2;
    const int width = zf::block_width(f);
    const int n = units(r.depth, width);
    const GetPixel get_pixel = reinterpret_cast<GetPixel>(f->pixel_fn);
    uint32_t *above = f->line_a + kSpare, *current = f->line_b + kSpare, *below = f->line_c + kSpare;
    unsigned char *flags = f->row_a + kSpare, *next_flags = f->row_b + kSpare;
    try {
        BitReader in(f);
        uint32_t left;
        if (f->line_no == 0) {
            r.skip = 0;
            take_count(r, in);
            left = 0;
        } else if (r.depth == 8) {
            left = (above[2 * n - 2] & 0xFF) << 8 | (above[2 * n - 1] & 0xFF);
        } else {
            left = above[n - 1];
        }
        std::memset(next_flags, 0, static_cast<std::size_t>(n));
        for (int j = 0; j < n; ++j) {
            const bool linked = (flags[j] & 0x80) != 0;
            if (r.skip > 0) {
                if (!linked) {
                    current[j] = left;
                } else {
                    left = current[j];
                    get_link(in, j, left, below, next_flags);
                    if (--r.skip == 0)
                        take_count(r, in);
                }
            } else if (linked) {
                left = current[j];
                get_link(in, j, left, below, next_flags);
            } else if (--r.run >= 0) {
                current[j] = left;
            } else {
                left = get_pixel(f, in, left);
                current[j] = left;
                get_link(in, j, left, below, next_flags);
                take_count(r, in);
            }
        }
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
    const int depth = zf::header_depth(f);
    if (depth != 8 && depth != 15 && depth != 24) {
        zf::set_error(f, ZF_ERR_FORMAT);
        return -1;
    }
    f->line_no = 0;
    f->pixel_fn = reinterpret_cast<zf::PixelFn>(depth == 8 ? zfsf_get_pixel8 : depth == 15 ? zfsf_get_pixel15 : zfsf_get_pixel24);
    f->line_fn = zfsf_read_line;
    zf_seek(f, f->block_pos + ZF_BLOCK_HEADER_SIZE);
    std::memset(f->table_64k, 0, 65536);
    std::memset(f->table_1k, 0, 1024);
    const std::size_t row_bytes = static_cast<std::size_t>(zf::block_width(f)) + 8;
    std::memset(f->row_a, 0, row_bytes);
    std::memset(f->row_b, 0, row_bytes);
    regs(f) = Regs{};
    regs(f).depth = depth;
    return 0;
}
