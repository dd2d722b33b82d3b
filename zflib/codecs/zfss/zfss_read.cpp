// ZFSS decoding: runs the image model over the arithmetic decoder, one
// line per call.
#include "zfss_model.h"

#include <cstring>

namespace zfss {
namespace {

struct LineState {
    zf::Record *f;
    Decoder &in;
    Rows &r;
    Regs &regs;
};

// Hit or miss under the hit context; a hit is an index into the bucket.
inline bool decode_hit(LineState &s, int &index)
{
    const int miss = s.in.zfss_decode_bit(static_cast<unsigned>(s.regs.hit_context));
    s.regs.hit_context = static_cast<int32_t>(miss ? kHitAfterMiss : kHitAfterHit);
    if (!miss)
        index = zfss_get_number(s.in, kIndexBase);
    return !miss;
}

// Entry j goes to the front, entry j/2 takes entry 0, entry j takes j/2.
template <class Slot> inline uint32_t take_hit(uint32_t *entries, int j, Slot slot)
{
    const uint32_t v = entries[slot(j)];
    entries[slot(j)] = entries[slot(j / 2)];
    entries[slot(j / 2)] = entries[slot(0)];
    entries[slot(0)] = v;
    return v;
}

unsigned char zfss_get_mtf(LineState &s)
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
uint32_t zfss_get_pixel8(LineState &s, int i)
{
    uint32_t *bucket = cache(s.f) + (s.r.current[i - 1] & 0xFF) * kBucketSize;
    int j;
    if (decode_hit(s, j))
        return take_hit(bucket, j, [](int k) { return k; });
    const uint32_t high = zfss_get_mtf(s);
    const uint32_t v = high << 8 | zfss_get_mtf(s);
    std::memmove(bucket + 1, bucket, (kBucketSize - 1) * sizeof(uint32_t));
    bucket[0] = v;
    return v;
}

template <class D> int unfold(LineState &s, unsigned base, int p)
{
    return zfss_unfold_number(zfss_get_number(s.in, base), p, D::max);
}

// Depths 15 and 24: the bucket comes from the pixel above and is a ring of
// 32 slots behind a head, so a miss stores one entry.
template <class D> uint32_t get_pixel_rgb(LineState &s, int i)
{
    const uint32_t above = s.r.above[i];
    const unsigned k = D::bucket(above);
    uint32_t *ring = cache(s.f) + k * kBucketSize;
    uint16_t &head = ring_heads(s.f)[k];
    int j;
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
void zfss_get_link(LineState &s, int i, uint32_t v)
{
    const unsigned base = link_base(s.r.flags[i]);
    int kind = 0;
    while (kind < kLinkKinds && !s.in.zfss_decode_bit(base + static_cast<unsigned>(kind)))
        ++kind;
    if (kind == 0)
        return;
    const int p = link_target(i, kind); // -2 .. n + 1: spare entries at the ends
    s.r.below[p] = v;
    s.r.next_flags[p] = static_cast<signed char>(-kind);
}

template <uint32_t (*GetPixel)(LineState &, int)> void decode_units(LineState &s, int n, bool last_line)
{
    Rows &r = s.r;
    uint32_t run = r.current[-1];
    for (int i = 0; i < n; ++i) {
        if (r.flags[i] < 0) {
            run = r.current[i];
            if (!last_line)
                zfss_get_link(s, i, run);
        } else if (s.in.zfss_decode_bit(r.counts[i])) {
            add_counts(r.counts, r.next_counts, r.after_counts, i);
            run = GetPixel(s, i);
            r.current[i] = run;
            if (!last_line)
                zfss_get_link(s, i, run);
        } else {
            r.current[i] = run;
        }
    }
}

int zfss_read_line(zf::Record *f, uint32_t **line)
{
    Regs &regs = zfss::regs(f);
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

    try {
        Decoder in(f);
        LineState s{f, in, r, regs};
        const bool last_line = f->line_no == last;
        switch (regs.depth) {
        case 8: decode_units<zfss_get_pixel8>(s, n, last_line); break;
        case 15: decode_units<zfss_get_pixel15>(s, n, last_line); break;
        default: decode_units<zfss_get_pixel24>(s, n, last_line); break;
        }
        in.store();
    } catch (const CoderAbort &) {
        return -1; // the block is abandoned; nothing of it is used again
    }

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

} // namespace
} // namespace zfss

int zf::zfss_read_setup(zf::Record *f)
{
    using namespace zfss;
    const int depth = zf::header_depth(f);
    f->line_no = 0;
    if (depth != 8 && depth != 15 && depth != 24) {
        zf::set_error(f, ZF_ERR_FORMAT);
        return -1;
    }
    f->pixel_fn = reinterpret_cast<zf::PixelFn>(depth == 8 ? zfss_get_pixel8 : depth == 15 ? zfss_get_pixel15 : zfss_get_pixel24);
    f->line_fn = zfss_read_line;
    zf_errno = 0;
    zf_seek(f, f->block_pos + ZF_BLOCK_HEADER_SIZE);
    if (zf_errno != 0)
        return -1;
    if (depth == 8)
        for (int j = 0; j < 256; ++j)
            mtf_list(f)[j] = static_cast<unsigned char>(j);
    else
        std::memset(f->table_1k, 0, 1024);

    Regs &regs = zfss::regs(f);
    regs = Regs{};
    regs.depth = depth;
    regs.hit_context = kHitAfterMiss;
    ProbTable prob{};
    for (auto &p : prob)
        p = static_cast<uint16_t>(zf_read_u16(f));
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
