// ZFSS encoding: two passes over the same lines.  Pass 1 runs the model
// and counts the decisions per context; pass 2 writes the probabilities
// those counts give and codes the same decisions with them.
//
// Each line is coded one call late, because its links depend on the next
// line: a call codes the line the previous call received, and the call
// that receives the last line codes that one too.
#include "zfss_model.h"

#include <bit>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zfss {
namespace {

// The coder (the counter in pass 1) is held by value, so that its state
// stays in registers through the line; it goes back to the record at the
// end of the line.
template <class Sink> struct LineState {
    zf::Record *f;
    Sink out;
    Rows r;
    uint32_t *cache;
    unsigned hit_context;
};

template <class Sink> ZFSS_INLINE void encode_hit(LineState<Sink> &s, bool hit, int j)
{
    s.out.zfss_encode_bit(hit ? 0 : 1, s.hit_context);
    s.hit_context = hit ? kHitAfterHit : kHitAfterMiss;
    if (hit)
        zfss_put_number(s.out, j, kIndexBase);
}

template <class Slot> ZFSS_INLINE void exchange_hit(uint32_t *entries, int j, Slot slot)
{
    const uint32_t v = entries[slot(j)];
    entries[slot(j)] = entries[slot(j / 2)];
    entries[slot(j / 2)] = entries[slot(0)];
    entries[slot(0)] = v;
}

// The slots of a bucket that hold v, as the bits of a mask.
ZFSS_INLINE uint32_t equal_slots(const uint32_t *bucket, uint32_t v)
{
    uint32_t mask = 0;
#if defined(__SSE2__)
    const __m128i want = _mm_set1_epi32(static_cast<int>(v));
#pragma GCC unroll 8
    for (int k = 0; k < kBucketSize; k += 4) {
        const __m128i four = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bucket + k));
        const int eq = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(four, want)));
        mask |= static_cast<uint32_t>(eq) << k;
    }
#else
    for (int k = 0; k < kBucketSize; ++k)
        mask |= static_cast<uint32_t>(bucket[k] == v) << k;
#endif
    return mask;
}

// The first entry (0 to 30) of a bucket that holds v, or -1; entry j is
// slot (head + j) mod 32 (the rings of depths 15 and 24; head 0 at depth
// 8).  Without a branch, so an unpredictable place costs nothing.  (Entry
// 31, kept by the rings, is not searched.)
ZFSS_INLINE int find_searched(const uint32_t *bucket, uint32_t v, unsigned head)
{
    const uint32_t entries = std::rotr(equal_slots(bucket, v), static_cast<int>(head & 31)) & 0x7FFFFFFFu;
    return entries != 0 ? std::countr_zero(entries) : -1;
}

template <class Sink> ZFSS_INLINE void zfss_put_mtf(LineState<Sink> &s, unsigned char b)
{
    unsigned char *list = mtf_list(s.f);
    const auto *at = static_cast<const unsigned char *>(std::memchr(list, b, 256));
    const int j = static_cast<int>(at - list); // every byte is in the list
    zfss_put_number(s.out, j, kGreenBase);
    std::memmove(list + 1, list, static_cast<std::size_t>(j));
    list[0] = b;
}

// Depth 8: the bucket is the right pixel of the pair to the left, its
// entries consecutive.
template <class Sink> ZFSS_INLINE void zfss_put_pixel8(LineState<Sink> &s, int i)
{
    const uint32_t v = s.r.current[i];
    uint32_t *bucket = s.cache + (s.r.current[i - 1] & 0xFF) * kBucketSize;
    const int j = find_searched(bucket, v, 0);
    if (j >= 0) {
        exchange_hit(bucket, j, [](int k) { return k; });
        encode_hit(s, true, j);
        return;
    }
    std::memmove(bucket + 1, bucket, (kSearched - 1) * sizeof(uint32_t));
    bucket[0] = v;
    encode_hit(s, false, 0);
    zfss_put_mtf(s, static_cast<unsigned char>(v >> 8));
    zfss_put_mtf(s, static_cast<unsigned char>(v));
}

// Depths 15 and 24: a ring of 32 slots per bucket, as the decoder keeps
// it; entries 0 to 30 are the searched ones.
template <class D, class Sink> ZFSS_INLINE void put_pixel_rgb(LineState<Sink> &s, int i)
{
    const uint32_t v = s.r.current[i];
    const uint32_t above = s.r.above[i];
    const unsigned k = D::bucket(above);
    uint32_t *ring = s.cache + k * kBucketSize;
    uint16_t &head = ring_heads(s.f)[k];
    const unsigned h = head;
    const int j = find_searched(ring, v, h);
    if (j >= 0) {
        exchange_hit(ring, j, [h](int m) { return (h + static_cast<unsigned>(m)) & 31; });
        encode_hit(s, true, j);
        return;
    }
    head = static_cast<uint16_t>((h - 1) & 31);
    ring[head] = v;
    encode_hit(s, false, 0);

    const uint32_t left = s.r.current[i - 1];
    const int g = D::green(v), r = D::red(v), b = D::blue(v);
    const int pg = D::predict_green(left, above);
    const int d = g - pg;
    const int pr = corrected(D::predict_red(left, above), d, D::max);
    const int pb = corrected(D::predict_blue(left, above), d, D::max);
    zfss_put_number(s.out, zfss_fold(g, pg, D::max), kGreenBase);
    zfss_put_number(s.out, zfss_fold(r, pr, D::max), kRedBase);
    zfss_put_number(s.out, zfss_fold(b, pb, D::max), kBlueBase);
}

template <class Sink> void zfss_put_pixel8_fn(LineState<Sink> &s, int i) { zfss_put_pixel8(s, i); }
template <class Sink> void zfss_put_pixel15(LineState<Sink> &s, int i) { put_pixel_rgb<Depth15>(s, i); }
template <class Sink> void zfss_put_pixel24(LineState<Sink> &s, int i) { put_pixel_rgb<Depth24>(s, i); }

// Links the change point at i to an uncovered change point of the same
// value in the next line: same position, then i - 1, i + 1, i - 2, i + 2.
// Position i + 2 is left to a change point of the same value at i + 1 to
// i + 3 of this line, which reaches it at least as cheaply.
template <class Sink> ZFSS_INLINE void zfss_put_link(LineState<Sink> &s, int i)
{
    Rows &r = s.r;
    const uint32_t v = r.current[i];
    const auto free_match = [&](int p) { return (r.next_flags[p] == 1) & (r.below[p] == v); };
    const auto same_here = [&](int k) { return r.flags[k] != 0 && r.current[k] == v; };
    unsigned matches = 0; // bit k: kind k would do
    for (int k = 1; k <= kLinkKinds; ++k)
        matches |= static_cast<unsigned>(free_match(link_target(i, k))) << k;
    int kind = matches != 0 ? std::countr_zero(matches) : 0;
    if (kind == kLinkKinds && (same_here(i + 2) || same_here(i + 1) || same_here(i + 3)))
        kind = 0;
    const unsigned base = link_base(r.flags[i]);
    for (int k = 0; k < kind; ++k)
        s.out.zfss_encode_bit(0, base + static_cast<unsigned>(k));
    if (kind < kLinkKinds)
        s.out.zfss_encode_bit(1, base + static_cast<unsigned>(kind));
    if (kind > 0)
        r.next_flags[link_target(i, kind)] = static_cast<signed char>(-kind);
}

// Marks the change points of the line in `below`: 1 where a unit differs
// from the one to its left (below[-1] is the guard).
void mark_changes(const Rows &r, int n)
{
    for (int i = 0; i < n; ++i)
        r.next_flags[i] = r.below[i] != r.below[i - 1] ? 1 : 0;
}

template <int Depth, class Sink> ZFSS_INLINE void put_pixel(LineState<Sink> &s, int i)
{
    if constexpr (Depth == 8)
        zfss_put_pixel8(s, i);
    else if constexpr (Depth == 15)
        put_pixel_rgb<Depth15>(s, i);
    else
        put_pixel_rgb<Depth24>(s, i);
}

template <int Depth, class Sink> ZFSS_INLINE void code_units(zf::Record *f, int n, bool last_line)
{
    Regs &regs = zfss::regs(f);
    LineState<Sink> s{f, Sink(f), rows(f), cache(f), static_cast<unsigned>(regs.hit_context)};
    Rows &r = s.r;
    for (int i = 0; i < n; ++i) {
        const signed char flag = r.flags[i];
        if (flag == 1) {
            add_counts(r.counts, r.next_counts, r.after_counts, i);
            s.out.zfss_encode_bit(1, r.counts[i]);
            put_pixel<Depth>(s, i);
            if (!last_line)
                zfss_put_link(s, i);
        } else if (flag == 0) {
            s.out.zfss_encode_bit(0, r.counts[i]);
        } else if (!last_line) {
            zfss_put_link(s, i);
        }
    }
    s.out.store();
    regs.hit_context = static_cast<int32_t>(s.hit_context);
}

// Codes the current line.
template <class Sink> ZFSS_INLINE void zfss_code_line(zf::Record *f, int n, bool last_line)
{
    Rows r = rows(f);
    r.below[-1] = r.current[n - 1];
    mark_changes(r, n);
    switch (regs(f).depth) {
    case 8: code_units<8, Sink>(f, n, last_line); break;
    case 15: code_units<15, Sink>(f, n, last_line); break;
    default: code_units<24, Sink>(f, n, last_line); break;
    }
}

// The end of pass 1: every counted number adds its decisions to the counts
// of their contexts.
void add_number_counts(zf::Record *f)
{
    struct Adder {
        uint32_t *totals, *zeros;
        uint32_t times;
        void zfss_encode_bit(int bit, unsigned context)
        {
            totals[context] += times;
            zeros[context] += bit == 0 ? times : 0;
        }
    } add{count_totals(f), count_zeros(f), 0};
    const uint32_t *numbers = count_numbers(f);
    for (unsigned base : {kIndexBase, kGreenBase, kRedBase, kBlueBase})
        for (int v = 0; v < 256; ++v) {
            add.times = numbers[number_code(base) * 256 + static_cast<unsigned>(v)];
            if (add.times != 0)
                zfss_put_number(add, v, base);
        }
}

// Pass 2 begins by turning the counts into the probability table, which
// opens the payload.
bool write_probabilities(zf::Record *f)
{
    const ProbTable prob = zfss_estimate(count_zeros(f), count_totals(f));
    zfss_build_intervals(f, prob);
    unsigned char bytes[kProbBytes];
    for (int c = 0; c < kContexts; ++c) {
        bytes[2 * c] = static_cast<unsigned char>(prob[static_cast<std::size_t>(c)] >> 8);
        bytes[2 * c + 1] = static_cast<unsigned char>(prob[static_cast<std::size_t>(c)]);
    }
    zf_errno = 0;
    zf_write(f, bytes, kProbBytes);
    return zf_errno == 0;
}

// Both passes start from the same state, so pass 1 counts exactly what
// pass 2 codes: line 0 has the guard 0 and an all-zero line above.
template <class Sink> void start_pass(zf::Record *f, int n)
{
    Regs &regs = zfss::regs(f);
    Rows r = rows(f);
    std::memset(f->table_64k, 0, 65536);
    if (regs.depth == 8)
        for (int j = 0; j < 256; ++j)
            mtf_list(f)[j] = static_cast<unsigned char>(j);
    else
        std::memset(f->table_1k, 0, 1024);
    const auto spread = static_cast<std::size_t>(n + 2 * kSpare);
    std::memset(r.next_counts - kSpare, 0, spread);
    std::memset(r.after_counts - kSpare, 0, spread);
    r.below[-1] = 0;
    mark_changes(r, n);
    Sink out(f);
    out.start();
    out.store();
    regs.hit_context = kHitAfterMiss;
}

template <class Sink> ZFSS_INLINE int write_line_pass(zf::Record *f, uint32_t **line)
{
    Regs &regs = zfss::regs(f);
    const int width = zf::block_width(f);
    const int last = zf::block_height(f) - 1;
    const int n = units(regs.depth, width);
    if (f->line_no != 0) {
        zfss_code_line<Sink>(f, n, false);
    } else {
        if (regs.pass == 2) {
            if (!write_probabilities(f))
                return -1;
            std::memset(rows(f).current, 0, static_cast<std::size_t>(n) * sizeof(uint32_t));
        } else {
            std::memset(f->table_32k, 0, 32768); // the counts
        }
        start_pass<Sink>(f, n);
    }
    if (f->line_no == last) {
        ++f->line_no;
        rotate(f);
        zfss_code_line<Sink>(f, n, true);
    }
    if (line)
        *line = f->line_a + kSpare; // plays below after the rotation
    ++f->line_no;
    rotate(f);
    if (f->line_no - 1 < last)
        return f->line_no;
    if (regs.pass == 1) {
        add_number_counts(f);
        regs.pass = 2;
        f->line_no = 0;
        return 0;
    }
    zf_errno = 0;
    Sink out(f);
    out.zfss_finish();
    out.store();
    return -2;
}

ZFSS_CLONES int zfss_write_line(zf::Record *f, uint32_t **line)
{
    Regs &regs = zfss::regs(f);
    const int width = zf::block_width(f);
    zf::take_line(f->line_c + kSpare, width, regs.depth);
    {
        unsigned char *after = f->row_e;
        std::memset(after, 0, static_cast<std::size_t>(units(regs.depth, width) + 2 * kSpare));
    }
    try {
        if (regs.pass == 1)
            return write_line_pass<Counter>(f, line);
        return write_line_pass<Encoder>(f, line);
    } catch (const CoderAbort &) {
        return -1;
    }
}

} // namespace
} // namespace zfss

int zf::zfss_write_setup(zf::Record *f, uint32_t **line)
{
    using namespace zfss;
    const int depth = zf::coded_depth(f);
    if (depth < 0 || !zf::start_payload(f, f->next_pos))
        return -1;
    f->pixel_fn = reinterpret_cast<zf::PixelFn>(depth == 8 ? zfss_put_pixel8_fn<Encoder> : depth == 15 ? zfss_put_pixel15<Encoder> : zfss_put_pixel24<Encoder>);
    f->line_fn = zfss_write_line;
    if (line)
        *line = f->line_c + kSpare;
    Regs &regs = zfss::regs(f);
    regs = Regs{};
    regs.depth = depth;
    regs.pass = 1;
    regs.hit_context = kHitAfterMiss;
    return 0;
}
