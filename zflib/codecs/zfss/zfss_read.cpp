// ZFSS decoding: runs the image model over the arithmetic decoder, one
// line per call.
//
// A line call is one function with everything inlined into it, so that the
// decoder's range and window, the hit context and the row pointers stay in
// registers from the first decision of the line to the last; they go back
// to the record when the line is done.
#include "zfss_model.h"

#include <cstring>

namespace zfss {
namespace {

struct LineState {
    zf::Record *f;
    Decoder in;
    Rows r;
    uint32_t *cache;
    unsigned hit_context;
};

// Hit or miss under the hit context; a hit is an index into the bucket.
ZFSS_INLINE bool decode_hit(LineState &s, int &index)
{
    const int miss = s.in.decide_predicted(s.hit_context);
    // 15 after a hit, 16 after a miss
    s.hit_context = kHitAfterHit + static_cast<unsigned>(miss);
    if (!miss)
        index = zfss_get_number(s.in, kIndexBase);
    return !miss;
}

// Entry j goes to the front, entry j/2 takes entry 0, entry j takes j/2.
template <class Slot> ZFSS_INLINE uint32_t take_hit(uint32_t *entries, int j, Slot slot)
{
    const uint32_t v = entries[slot(j)];
    entries[slot(j)] = entries[slot(j / 2)];
    entries[slot(j / 2)] = entries[slot(0)];
    entries[slot(0)] = v;
    return v;
}

ZFSS_INLINE unsigned char zfss_get_mtf(LineState &s)
{
    unsigned char *list = mtf_list(s.f);
    const int j = zfss_get_number(s.in, kGreenBase);
    const unsigned char b = list[j];
    std::memmove(list + 1, list, static_cast<std::size_t>(j));
    list[0] = b;
    return b;
}

// Depth 8: the bucket is the right pixel of the pair to the left; its 32
// entries are consecutive.  An index above 30 (never sent) still lies
// inside the cache: k * 32 + j is at most 8415.
ZFSS_INLINE uint32_t zfss_get_pixel8(LineState &s, int i)
{
    uint32_t *bucket = s.cache + (s.r.current[i - 1] & 0xFF) * kBucketSize;
    int j = 0;
    if (decode_hit(s, j))
        return take_hit(bucket, j, [](int k) { return k; });
    const uint32_t high = zfss_get_mtf(s);
    const uint32_t v = high << 8 | zfss_get_mtf(s);
    std::memmove(bucket + 1, bucket, (kBucketSize - 1) * sizeof(uint32_t));
    bucket[0] = v;
    return v;
}

template <class D> ZFSS_INLINE int unfold(LineState &s, unsigned base, int p)
{
    return zfss_unfold_number(zfss_get_number(s.in, base), p, D::max);
}

// Depths 15 and 24: the bucket comes from the pixel above and is a ring of
// 32 slots behind a head, so a miss stores one entry.
template <class D> ZFSS_INLINE uint32_t get_pixel_rgb(LineState &s, int i)
{
    const uint32_t above = s.r.above[i];
    const unsigned k = D::bucket(above);
    uint32_t *ring = s.cache + k * kBucketSize;
    uint16_t &head = ring_heads(s.f)[k];
    int j = 0;
    if (decode_hit(s, j)) {
        const unsigned h = head;
        return take_hit(ring, j, [h](int m) { return (h + static_cast<unsigned>(m)) & 31; });
    }
    const uint32_t left = s.r.current[i - 1];
    const int pg = D::predict_green(left, above);
    const int g = unfold<D>(s, kGreenBase, pg);
    const int d = g - pg;
    const int r = unfold<D>(s, kRedBase, corrected(D::predict_red(left, above), d, D::max));
    const int b = unfold<D>(s, kBlueBase, corrected(D::predict_blue(left, above), d, D::max));
    const uint32_t v = D::value(r, g, b);
    head = static_cast<uint16_t>((head - 1) & 31);
    ring[head] = v;
    return v;
}

uint32_t zfss_get_pixel15(LineState &s, int i) { return get_pixel_rgb<Depth15>(s, i); }
uint32_t zfss_get_pixel24(LineState &s, int i) { return get_pixel_rgb<Depth24>(s, i); }

// The link of a change point: kind 0 (none) to 5 as that many 0s and a
// closing 1 (none after five).  The target gets the value and the mark.
ZFSS_INLINE void zfss_get_link(LineState &s, int i, uint32_t v)
{
    const unsigned base = link_base(s.r.flags[i]);
    int kind = 0;
    while (kind < kLinkKinds && !s.in.decide_predicted(base + static_cast<unsigned>(kind)))
        ++kind;
    if (kind == 0)
        return;
    const int p = link_target(i, kind); // -2 .. n + 1: spare entries at the ends
    s.r.below[p] = v;
    s.r.next_flags[p] = static_cast<signed char>(-kind);
}

template <int Depth> ZFSS_INLINE uint32_t get_pixel(LineState &s, int i)
{
    if constexpr (Depth == 8)
        return zfss_get_pixel8(s, i);
    else if constexpr (Depth == 15)
        return get_pixel_rgb<Depth15>(s, i);
    else
        return get_pixel_rgb<Depth24>(s, i);
}

// The positions of one line.  A repetition costs one decision and a store;
// a linked change point takes the value the link placed.
template <int Depth, bool LastLine> ZFSS_INLINE void decode_units(LineState &s, int n)
{
    const Rows r = s.r;
    uint32_t run = r.current[-1];
    for (int i = 0; i < n; ++i) {
        if (r.flags[i] < 0) {
            run = r.current[i];
        } else if (s.in.decide_predicted(r.counts[i])) {
            add_counts(r.counts, r.next_counts, r.after_counts, i);
            run = get_pixel<Depth>(s, i);
            r.current[i] = run;
        } else {
            r.current[i] = run;
            continue;
        }
        if (!LastLine)
            zfss_get_link(s, i, run);
    }
}

template <int Depth> ZFSS_INLINE bool decode_line(zf::Record *f, const Rows &r, int n, bool last_line)
{
    Regs &regs = zfss::regs(f);
    try {
        LineState s{f, Decoder(f), r, cache(f), static_cast<unsigned>(regs.hit_context)};
        if (last_line)
            decode_units<Depth, true>(s, n);
        else
            decode_units<Depth, false>(s, n);
        s.in.store();
        regs.hit_context = static_cast<int32_t>(s.hit_context);
    } catch (const CoderAbort &) {
        return false; // the block is abandoned; nothing of it is used again
    }
    return true;
}

ZFSS_CLONES int zfss_read_line(zf::Record *f, uint32_t **line)
{
    const Regs &regs = zfss::regs(f);
    const int last = zf::block_height(f) - 1;
    if (f->line_no > last)
        return -2;
    const int n = units(regs.depth, zf::block_width(f));
    Rows r = rows(f);

    // The guard: the last unit of the line above (0 before the first line).
    uint32_t guard = 0;
    if (f->line_no > 0)
        guard = regs.depth == 8 ? (r.above[2 * n - 2] & 0xFF) << 8 | (r.above[2 * n - 1] & 0xFF) : r.above[n - 1];
    r.current[-1] = guard;
    std::memset(r.next_flags, 0, static_cast<std::size_t>(n));
    std::memset(r.after_counts, 0, static_cast<std::size_t>(n));

    const bool last_line = f->line_no == last;
    const bool done = regs.depth == 8    ? decode_line<8>(f, r, n, last_line)
                      : regs.depth == 15 ? decode_line<15>(f, r, n, last_line)
                                         : decode_line<24>(f, r, n, last_line);
    if (!done)
        return -1;

    if (regs.depth == 8)
        for (int k = n - 1; k >= 0; --k) {
            const uint32_t t = r.current[k] & 0xFFFF;
            r.current[2 * k + 1] = t & 0xFF;
            r.current[2 * k] = t >> 8;
        }
    *line = r.current;
    ++f->line_no;
    rotate(f);
    return f->line_no - 1;
}

uint32_t zfss_get_pixel8_fn(LineState &s, int i) { return zfss_get_pixel8(s, i); }

} // namespace
} // namespace zfss

int zf::zfss_read_setup(zf::Record *f)
{
    using namespace zfss;
    const int depth = zf::coded_depth(f);
    if (depth < 0 || !zf::start_payload(f, f->block_pos))
        return -1;
    f->pixel_fn = reinterpret_cast<zf::PixelFn>(depth == 8 ? zfss_get_pixel8_fn : depth == 15 ? zfss_get_pixel15 : zfss_get_pixel24);
    f->line_fn = zfss_read_line;
    if (depth == 8)
        for (int j = 0; j < 256; ++j)
            mtf_list(f)[j] = static_cast<unsigned char>(j);
    else
        std::memset(f->table_1k, 0, 1024);

    Regs &regs = zfss::regs(f);
    regs = Regs{};
    regs.depth = depth;
    regs.hit_context = kHitAfterMiss;
    // the 128 big-endian probabilities, in one read
    unsigned char bytes[kProbBytes] = {};
    zf_read(f, bytes, kProbBytes);
    ProbTable prob{};
    for (int c = 0; c < kContexts; ++c)
        prob[static_cast<std::size_t>(c)] = static_cast<uint16_t>(bytes[2 * c] << 8 | bytes[2 * c + 1]);
    if (zf_errno != 0)
        return -1; // zf_read recorded 257 (the payload is too short) or the system's code
    zfss_build_intervals(f, prob);
    try {
        Decoder in(f);
        in.start();
        in.store();
    } catch (const CoderAbort &) {
        return -1;
    }
    return 0;
}
