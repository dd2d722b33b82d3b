// The per-block tables of the ZFSS arithmetic coder.
#include "zfss_coder.h"

namespace zfss {

void zfss_build_intervals(zf::Record *f, const ProbTable &prob)
{
    uint16_t *table = interval_table(f);
    for (unsigned i = 0; i < kIntervals; ++i) {
        const uint32_t h = (i >> 7) + 128;
        const uint32_t entry = prob[i & 127] * h / 256;
        table[i] = static_cast<uint16_t>(entry == 0 ? 1 : entry);
    }
}

ProbTable zfss_estimate(const uint32_t *zeros, const uint32_t *totals)
{
    ProbTable prob{};
    for (int c = 0; c < kContexts; ++c) {
        uint32_t z = zeros[c];
        uint32_t t = totals[c];
        while (z > 0x7FFF) {
            z >>= 1;
            t >>= 1;
        }
        // z > t cannot come from counting; kept harmless all the same.
        prob[c] = z >= t ? uint16_t{0xFFFF} : static_cast<uint16_t>((uint64_t{z} << 16) / t);
    }
    return prob;
}

} // namespace zfss
