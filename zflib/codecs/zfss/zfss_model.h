// zfss_model.h - the ZFSS image model as both directions see it: units,
// contexts, colour buckets, predictions, the folding of colour components,
// the number code, and the rotation of the work buffers.
//
// A line is read left to right in units (pixels; pixel pairs at depth 8).
// Each unit repeats the one to its left or is a change point.  A change
// point may be linked to a change point of the next line with the same
// value up to two positions away; elsewhere one decision says whether the
// unit is a change point, under a context that counts the decided change
// points nearby.  A new value is looked up in a colour cache of 32 entries
// per bucket; a miss sends the value (two move-to-front bytes at depth 8,
// predicted G, R, B components at depths 15 and 24).
//
// Line buffers and flag and count rows are used from entry 4 on, so
// positions -4 to -1 and n to n + 3 are spare entries that neighbours and
// stray links may touch.
#ifndef ZFLIB_ZFSS_MODEL_H
#define ZFLIB_ZFSS_MODEL_H

#include "zfss_coder.h"

#include <utility>

namespace zfss {

constexpr int kSpare = 4;

// Contexts (the change decision's context is the position's count, 0 to 8).
constexpr unsigned kHitAfterHit = 15;
constexpr unsigned kHitAfterMiss = 16;
constexpr unsigned kIndexBase = 17;
constexpr unsigned kGreenBase = 32; // also the move-to-front index at depth 8
constexpr unsigned kRedBase = 48;
constexpr unsigned kBlueBase = 64;
constexpr unsigned kLinkBase = 80; // + 6 x link group
constexpr int kLinkKinds = 5;

constexpr int kBucketSize = 32;
constexpr int kSearched = 31; // the encoder keeps and searches entries 0 to 30

using zf::units;

// Position in the next line that link kind 1 to 5 points at.
inline int link_target(int i, int kind)
{
    static constexpr int kOffset[kLinkKinds + 1] = {0, 0, -1, +1, -2, +2};
    return i + kOffset[kind];
}

inline unsigned link_base(signed char flag)
{
    // a decided change point is group 0, one linked with kind k group k
    const int group = flag < 0 ? -flag : 0;
    return kLinkBase + 6u * static_cast<unsigned>(group);
}

// One change point at i adds to the counts of the two positions after it
// and of the three around it on each of the next two lines.
ZFSS_INLINE void add_counts(unsigned char *current, unsigned char *next, unsigned char *after_next, int i)
{
    ++current[i + 1];
    ++current[i + 2];
    for (int k = i - 1; k <= i + 1; ++k) {
        ++next[k];
        ++after_next[k];
    }
}

// Bucket of a 15- or 24-bit change point: the top three bits of each
// component of the pixel above (G, R, B at depth 15; R, G, B at depth 24).
inline unsigned bucket15(uint32_t u) { return ((u >> 7) & 0x1C0) | ((u >> 5) & 0x38) | ((u >> 3) & 7); }
inline unsigned bucket24(uint32_t u) { return ((u >> 15) & 0x1C0) | ((u >> 10) & 0x38) | ((u >> 5) & 7); }

// The colour layout of a depth: component positions, maximum, and the
// predictions from the unit to the left (L) and the one above (U).
struct Depth15 {
    static constexpr int max = 31;
    static unsigned bucket(uint32_t u) { return bucket15(u); }
    static int green(uint32_t v) { return static_cast<int>((v >> 11) & 31); }
    static int red(uint32_t v) { return static_cast<int>((v >> 6) & 31); }
    static int blue(uint32_t v) { return static_cast<int>((v >> 1) & 31); }
    static int predict_green(uint32_t l, uint32_t u) { return static_cast<int>(((l & 0xF800) + (u & 0xF800)) >> 12); }
    static int predict_red(uint32_t l, uint32_t u) { return static_cast<int>(((l & 0x7C0) + (u & 0x7C0)) >> 7); }
    static int predict_blue(uint32_t l, uint32_t u) { return static_cast<int>(((l & 0x3E) + (u & 0x3E)) >> 2); }
    static uint32_t value(int r, int g, int b)
    {
        // a damaged stream can unfold components beyond 31: keep the form
        return (static_cast<uint32_t>(g) << 11 | static_cast<uint32_t>(r) << 6 | static_cast<uint32_t>(b) << 1) & 0xFFFE;
    }
};

struct Depth24 {
    static constexpr int max = 255;
    static unsigned bucket(uint32_t u) { return bucket24(u); }
    static int green(uint32_t v) { return static_cast<int>((v >> 8) & 255); }
    static int red(uint32_t v) { return static_cast<int>((v >> 16) & 255); }
    static int blue(uint32_t v) { return static_cast<int>(v & 255); }
    static int predict_green(uint32_t l, uint32_t u) { return static_cast<int>(((l & 0xFF00) + (u & 0xFF00)) >> 9); }
    static int predict_red(uint32_t l, uint32_t u) { return static_cast<int>(((l & 0xFF0000) + (u & 0xFF0000)) >> 17); }
    static int predict_blue(uint32_t l, uint32_t u) { return static_cast<int>(((l & 0xFF) + (u & 0xFF)) >> 1); }
    static uint32_t value(int r, int g, int b)
    {
        // components of 0 to 255 always unfold within 0 to 255
        return (static_cast<uint32_t>(r) << 16 | static_cast<uint32_t>(g) << 8 | static_cast<uint32_t>(b)) & 0xFFFFFF;
    }
};

// R and B are predicted like G and corrected by G's prediction error.
inline int corrected(int prediction, int green_error, int max)
{
    const int p = prediction + green_error;
    return p < 0 ? 0 : p > max ? max : p;
}

// Small prediction errors become small numbers, alternating above and
// below the prediction; once one side has no room the rest follow in order.
inline int zfss_fold(int a, int p, int max)
{
    const int half = (max + 1) / 2;
    if (p < half) {
        if (a <= p)
            return 2 * (p - a);
        if (a <= 2 * p)
            return 2 * (a - p) - 1;
        return a;
    }
    if (a > p)
        return 2 * (a - p) - 1;
    if (a >= 2 * p - max)
        return 2 * (p - a);
    return max - a;
}

inline int zfss_unfold_number(int t, int p, int max)
{
    const int half = (max + 1) / 2;
    if (p < half && t > 2 * p)
        return t;
    if (p >= half && t > 2 * (max - p))
        return max - t;
    return (t & 1) ? p + (t >> 1) + 1 : p - (t >> 1);
}

// The number code for 0 to 255: a unary class under base .. base + 7, then
// the class's bits, least significant first, under base + 8 onwards.
template <class Sink> ZFSS_INLINE void zfss_put_number(Sink &out, int v, unsigned base)
{
    if constexpr (requires { out.count_number(v, base); }) {
        out.count_number(v, base); // pass 1 counts whole numbers
        return;
    }
    // the class m: 2^m - 1 <= v <= 2^(m+1) - 2, or 8 for 255
    const int m = 31 - __builtin_clz(static_cast<unsigned>(v) + 1);
    for (int k = 0; k < m; ++k)
        out.zfss_encode_bit(0, base + static_cast<unsigned>(k));
    if (m == 8)
        return; // 255: eight 0s and nothing more
    out.zfss_encode_bit(1, base + static_cast<unsigned>(m));
    const int bits = v - ((1 << m) - 1);
    for (int k = 0; k < m; ++k)
        out.zfss_encode_bit((bits >> k) & 1, base + 8 + static_cast<unsigned>(k));
}

template <class Source> ZFSS_INLINE int zfss_get_number(Source &in, unsigned base)
{
    int m = 0;
    while (m < 8 && !in.zfss_decode_bit(base + static_cast<unsigned>(m)))
        ++m;
    if (m == 8)
        return 255;
    int bits = 0;
    for (int k = 0; k < m; ++k)
        bits |= in.zfss_decode_bit(base + 8 + static_cast<unsigned>(k)) << k;
    return (1 << m) - 1 + bits;
}

// The line buffers, flag rows and count rows of a block, at position 0.
struct Rows {
    uint32_t *above, *current, *below;
    signed char *flags, *next_flags;
    unsigned char *counts, *next_counts, *after_counts;
};

inline Rows rows(zf::Record *f)
{
    return Rows{f->line_a + kSpare,
                f->line_b + kSpare,
                f->line_c + kSpare,
                reinterpret_cast<signed char *>(f->row_a) + kSpare,
                reinterpret_cast<signed char *>(f->row_b) + kSpare,
                f->row_c + kSpare,
                f->row_d + kSpare,
                f->row_e + kSpare};
}

// After a line: above <- current <- below <- old above; the flag rows
// exchange; counts of the current line <- next <- after next <- old current.
inline void rotate(zf::Record *f)
{
    uint32_t *old_a = f->line_a;
    f->line_a = f->line_b;
    f->line_b = f->line_c;
    f->line_c = old_a;
    std::swap(f->row_a, f->row_b);
    unsigned char *old_c = f->row_c;
    f->row_c = f->row_d;
    f->row_d = f->row_e;
    f->row_e = old_c;
}

inline uint32_t *cache(zf::Record *f) { return reinterpret_cast<uint32_t *>(f->table_64k); }
inline uint16_t *ring_heads(zf::Record *f) { return reinterpret_cast<uint16_t *>(f->table_1k); }
inline unsigned char *mtf_list(zf::Record *f) { return f->table_1k; }

} // namespace zfss

#endif
