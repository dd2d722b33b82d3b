// The per-block tables of the ZFSS arithmetic coder.
#include "zfss_coder.h"

namespace zfss {

void zfss_build_intervals(zf::Record *f, const ProbTable &prob)
{
    uint16_t *table = interval_table(f);
    for (unsigned c = 0; c < kContexts; ++c)
        for (uint32_t h = 128; h < 256; ++h) {
            const uint32_t entry = prob[c] * h / 256;
            table[interval_index(c, h << 8)] = static_cast<uint16_t>(entry == 0 ? 1 : entry);
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

Decoder::Window Decoder::more_bits(zf::Record *f, uint64_t x, int32_t avail)
{
    Regs &r = regs(f);
    unsigned char *buf = zf::stream_buffer(f);
    while (avail < 0) {
        if (r.in_left == 0) {
            const int got = zf_read_some(f, buf, zf::kStreamSize);
            if (got == 0) {
                zf::set_error(f, ZF_ERR_EOF);
                throw CoderAbort{};
            }
            if (got < 0) {
                // recorded, and it surfaces at close; decoding goes on with
                // the buffer's first byte, as if read, and the next byte
                // tries another read
                x |= static_cast<uint64_t>(buf[0]) << (40 - avail);
                avail += 8;
                continue;
            }
            r.in_pos = 0;
            r.in_left = got;
        }
        if (r.in_left >= 8) {
            // the bytes that fit, as many as one at a time would take
            // (until more than 40 bits follow the code), in one load
            uint64_t w;
            std::memcpy(&w, buf + r.in_pos, sizeof w);
            w = __builtin_bswap64(w);
            const int take = (48 - avail) >> 3; // 6 to 8
            x |= (w >> (64 - 8 * take)) << (48 - avail - 8 * take);
            r.in_pos += take;
            r.in_left -= take;
            avail += 8 * take;
            continue;
        }
        while (r.in_left > 0 && avail <= 40) {
            x |= static_cast<uint64_t>(buf[r.in_pos++]) << (40 - avail);
            --r.in_left;
            avail += 8;
        }
    }
    return Window{x, avail};
}

void Encoder::flush(zf::Record *f, unsigned char *buf)
{
    if (zf_write(f, buf, zf::kStreamSize) != zf::kStreamSize)
        throw CoderAbort{};
}

} // namespace zfss
