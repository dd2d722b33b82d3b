// ZFSF encoding.  The encoder works one line behind the caller: the links
// of a line are chosen once the next line is known, so the call that
// receives line k codes line k - 1, and the call with the last line codes
// the last two lines.
#include "zfsf_stream.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zfsf {
namespace {

using PutPixel = void (*)(zf::Record *, Sink &, const uint32_t *current, int i);

// Flags of the current and next line: 0 repeats the unit to the left,
// 1 is a change point not claimed by a link, 0xFF one claimed from above.
constexpr unsigned char kRepeat = 0, kChange = 1, kClaimed = 0xFF;

// Depths 15 and 24 keep beside each cache row a tag byte per slot (in
// table_32k, after the pending codes): a hash of the slot's value, never
// 0 for a value other than 0, and 0 for the zeros a row starts with.  A
// search compares the 64 tags of the row at once and looks at the values
// only where a tag matches, so a miss, the common case on photographs,
// costs a few instructions instead of 64 comparisons.
constexpr int kTagsAt = 16384;

inline unsigned char *row_tags(zf::Record *f, uint32_t r) { return f->table_32k + kTagsAt + (r & 0xFF) * kRowStride; }

inline unsigned char tag_of(uint32_t v)
{
    const auto t = static_cast<unsigned char>((v * 0x9E3779B1u) >> 24);
    return t != 0 ? t : 1;
}

// Bit k set where tags[k] == t, k = 0 .. 63.
inline uint64_t matching_tags(const unsigned char *tags, unsigned char t)
{
#if defined(__SSE2__)
    const __m128i want = _mm_set1_epi8(static_cast<char>(t));
    uint64_t m = 0;
    for (int k = 0; k < 4; ++k) {
        const __m128i sixteen = _mm_loadu_si128(reinterpret_cast<const __m128i *>(tags + 16 * k));
        m |= static_cast<uint64_t>(static_cast<uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(sixteen, want)))) << (16 * k);
    }
    return m;
#else
    uint64_t m = 0;
    for (int k = 0; k < kRowStride; ++k)
        m |= static_cast<uint64_t>(tags[k] == t) << k;
    return m;
#endif
}

[[gnu::always_inline]] inline void put_pixel_ring(zf::Record *f, Sink &out, const uint32_t *current, int i, int shift, bool is15)
{
    const uint32_t v = current[i];
    const uint32_t r = (current[i - 1] >> shift) & 0xFF;
    uint32_t *row = cache_row(f, r);
    unsigned char *tags = row_tags(f, r);
    uint16_t &head = ring_heads(f)[r];
    // A value enters a row only when it is not in it, so every value but
    // the 0s a row starts with is there at most once: its slot gives its
    // index in ring order.  0 takes the ring order.
    if (v != 0) {
        for (uint64_t m = matching_tags(tags, tag_of(v)); m != 0; m &= m - 1) {
            const auto slot = static_cast<uint32_t>(__builtin_ctzll(m));
            if (row[slot] == v) {
                out.bits(7, 64 | ((slot - head) & 63)); // hit bit and the 6-bit index
                return;
            }
        }
    } else {
        for (uint32_t j = 0; j < 64; ++j)
            if (row[(head + j) & 63] == 0) {
                out.bits(7, 64 | j);
                return;
            }
    }
    head = static_cast<uint16_t>((head - 1) & 63);
    row[head & 63] = v;
    tags[head & 63] = v != 0 ? tag_of(v) : 0;
    if (is15)
        out.bits(16, v >> 1); // the miss bit 0 and 15 bits
    else
        out.bits(25, v);      // the miss bit 0 and 24 bits
}

inline void zfsf_put_pixel24(zf::Record *f, Sink &out, const uint32_t *current, int i)
{
    put_pixel_ring(f, out, current, i, 16, false);
}
inline void zfsf_put_pixel15(zf::Record *f, Sink &out, const uint32_t *current, int i)
{
    put_pixel_ring(f, out, current, i, 8, true);
}

inline void zfsf_put_byte(zf::Record *f, Sink &out, unsigned char b)
{
    unsigned char *list = byte_list(f);
    int j = 0;
    while (j < 16 && list[j] != b)
        ++j;
    move_to_front(list, j < 16 ? j : 15, b);
    if (j < 16)
        out.bits(5, 16u | static_cast<uint32_t>(j));
    else
        out.bits(9, b);
}

inline void zfsf_put_pixel8(zf::Record *f, Sink &out, const uint32_t *current, int i)
{
    const uint32_t v = current[i];
    uint32_t *row = cache_row(f, current[i - 1] & 0xFF);
    int j = 0;
    while (j < 16 && row[j] != v)
        ++j;
    move_to_front(row, j < 16 ? j : 15, v);
    if (j < 16) {
        out.bits(5, 16u | static_cast<uint32_t>(j));
        return;
    }
    out.bits(1, 0);
    zfsf_put_byte(f, out, static_cast<unsigned char>(v >> 8));
    zfsf_put_byte(f, out, static_cast<unsigned char>(v));
}

// Link codes by kind 0..5: 0, 11, 1011, 1001, 1010, 1000.
constexpr uint32_t kLinkCode[6] = {0b0, 0b11, 0b1011, 0b1001, 0b1010, 0b1000};
constexpr int kLinkBits[6] = {1, 2, 4, 4, 4, 4};
constexpr int kLinkOffset[6] = {0, 0, -1, +1, -2, +2};

template <class Out> inline void put_link_code(Out &out, int kind) { out.bits(kLinkBits[kind], kLinkCode[kind]); }

// Chooses the link of position i: the first next-line position among
// i, i-1, i+1, i-2, i+2 that is an unclaimed change point of the same
// value, passing over i+2 when that unit of this line links down itself.
[[gnu::always_inline]] inline int choose_link(const uint32_t *current, const uint32_t *next, const unsigned char *flags,
                unsigned char *next_flags, int i, bool last_line)
{
    if (last_line)
        return 0;
    const uint32_t v = current[i];
    // Mostly none of the five places holds the value: one comparison of
    // four of them tells (positions -2 and n + 1 are spare entries).
    using u32x4 = uint32_t __attribute__((vector_size(16)));
    u32x4 four;
    std::memcpy(&four, next + i - 2, sizeof four);
    const u32x4 same = four == u32x4{v, v, v, v};
    if (((same[0] | same[1]) | (same[2] | same[3])) == 0 && next[i + 2] != v)
        return 0;
    for (int kind = 1; kind <= 5; ++kind) {
        const int p = i + kLinkOffset[kind];
        if (next_flags[p] != kChange || next[p] != v)
            continue;
        if (kind == 5 && flags[i + 2] != 0 && current[i + 2] == v)
            continue;
        next_flags[p] = kClaimed;
        return kind;
    }
    return 0;
}

template <class Out> void write_pending(zf::Record *f, Out &out, Regs &r)
{
    const unsigned char *queue = f->table_32k;
    for (int k = 0; k < r.pending; ++k)
        put_link_code(out, queue[k]);
    r.pending = 0;
}

// The count written before a change point: counts from 1023 on are one
// more than the run, so that 1023 itself stays the escape.
template <class Out> inline void put_run(Out &out, Regs &r) { out.count(r.run >= kEscape ? r.run + 1 : r.run); }

void set_change_flags(const uint32_t *line, unsigned char *flags, int n)
{
    for (int i = 0; i < n; ++i)
        flags[i] = line[i] != line[i - 1] ? kChange : kRepeat;
}

template <PutPixel put_pixel> void code_units(zf::Record *f, BitWriter &writer, int n, bool last_line)
{
    Regs &r = regs(f);
    Sink out(writer);
    uint32_t *current = f->line_b + kSpare, *next = f->line_c + kSpare;
    unsigned char *flags = f->row_a + kSpare, *next_flags = f->row_b + kSpare;
    unsigned char *queue = f->table_32k;
    next[-1] = current[n - 1];
    set_change_flags(next, next_flags, n);
    // the counters live in registers while the line is coded
    int64_t run = r.run;
    int pending = r.pending;
    const auto put_pending = [&] {
        for (int k = 0; k < pending; ++k)
            put_link_code(out, queue[k]);
        pending = 0;
    };
    for (int i = 0; i < n; ++i) {
        switch (flags[i]) {
        case kChange: {
            out.count(run >= kEscape ? run + 1 : run);
            if (pending != 0)
                put_pending();
            run = 0;
            put_pixel(f, out, current, i);
            put_link_code(out, choose_link(current, next, flags, next_flags, i, last_line));
            break;
        }
        case kRepeat:
            ++run;
            break;
        default:
            queue[pending++] = static_cast<unsigned char>(choose_link(current, next, flags, next_flags, i, last_line));
            if (pending == kEscape) {
                out.count(kEscape);
                put_pending();
                run = 0;
            }
        }
    }
    r.run = run;
    r.pending = pending;
    out.sync();
}

void zfsf_code_line(zf::Record *f, BitWriter &out, int n, bool last_line)
{
    const PutPixel put_pixel = reinterpret_cast<PutPixel>(f->pixel_fn);
    if (put_pixel == zfsf_put_pixel24)
        code_units<zfsf_put_pixel24>(f, out, n, last_line);
    else if (put_pixel == zfsf_put_pixel15)
        code_units<zfsf_put_pixel15>(f, out, n, last_line);
    else
        code_units<zfsf_put_pixel8>(f, out, n, last_line);
}

void rotate(zf::Record *f)
{
    uint32_t *old_a = f->line_a;
    f->line_a = f->line_b;
    f->line_b = f->line_c;
    f->line_c = old_a;
    std::swap(f->row_a, f->row_b);
}

int zfsf_write_line(zf::Record *f, uint32_t **line)
{
    Regs &r = regs(f);
    const int width = static_cast<uint16_t>(zf::block_width(f));
    const int height = static_cast<uint16_t>(zf::block_height(f));
    const int n = units(r.depth, width);
    try {
        BitWriter out(f);
        zf::take_line(f->line_c + kSpare, width, r.depth);
        if (f->line_no == 0) {
            std::memset(f->table_64k, 0, 65536);
            std::memset(f->table_1k, 0, 1024);
            std::memset(f->table_32k + kTagsAt, 0, 256 * kRowStride);
            uint32_t *next = f->line_c + kSpare;
            next[-1] = 0;
            set_change_flags(next, f->row_b + kSpare, n);
        } else {
            zfsf_code_line(f, out, n, false);
        }
        if (f->line_no == height - 1) {
            ++f->line_no;
            rotate(f);
            zfsf_code_line(f, out, n, true);
        }
        if (line)
            *line = f->line_a + kSpare; // becomes "next" at the rotation
        ++f->line_no;
        rotate(f);
        if (f->line_no - 1 < height - 1)
            return f->line_no;
        zf_errno = 0;
        put_run(out, r);
        write_pending(f, out, r);
        out.finish();
    } catch (const StreamFailure &) {
        return -1;
    }
    return -2;
}

} // namespace
} // namespace zfsf

int zf::zfsf_write_setup(zf::Record *f, uint32_t **line)
{
    using namespace zfsf;
    const int depth = zf::coded_depth(f);
    if (depth < 0 || !zf::start_payload(f, f->next_pos))
        return -1;
    f->pixel_fn = reinterpret_cast<zf::PixelFn>(depth == 8 ? zfsf_put_pixel8 : depth == 15 ? zfsf_put_pixel15 : zfsf_put_pixel24);
    f->line_fn = zfsf_write_line;
    if (line)
        *line = f->line_c + kSpare;
    regs(f) = Regs{};
    regs(f).depth = depth;
    return 0;
}
