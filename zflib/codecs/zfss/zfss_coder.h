// zfss_coder.h - the binary arithmetic coder under the ZFSS image model.
//
// Every decision is coded under one of 128 contexts with a probability
// that is fixed for the block.  The encoder runs twice: pass 1 only counts
// the decisions per context (Counter), pass 2 turns the counts into the
// probability table, writes it at the head of the payload and codes
// (Encoder).  The decoder reads the table back before its first decision.
//
// Coding a decision is one lookup in the interval table (the size of the
// 0-subinterval for the context and the top byte of the range), a
// comparison and subtractions; renormalisation shifts one bit at a time.
// Failures throw CoderAbort, which the running line function catches.
#ifndef ZFLIB_ZFSS_CODER_H
#define ZFLIB_ZFSS_CODER_H

#include "codec.h"

#include <array>
#include <cstring>
#include <cstdint>

namespace zfss {

constexpr int kContexts = 128;
constexpr int kIntervals = 16384;
constexpr int kProbBytes = 2 * kContexts; // the table at the head of the payload

using ProbTable = std::array<uint16_t, kContexts>;

// Thrown when the stream cannot go on; the error code is already recorded.
struct CoderAbort {};

// Per-block state kept in the record between line calls.  A record is
// used in one direction only, so only `range` serves both.
struct Regs {
    uint32_t range;
    // decoder
    uint64_t in_window; // the code (top 16 bits) and the stream bits after it
    int32_t in_avail;   // how many of those stream bits are valid
    int32_t in_pos;     // next byte of the buffer
    int32_t in_left;    // bytes of the last refill not yet taken
    // encoder
    uint64_t low_window; // low in bits 0 to 15, the bits that left it above
    uint32_t window_bits;
    uint32_t held_zero;
    uint32_t pending_ones;
    uint32_t acc;
    uint32_t acc_bits;
    int32_t out_pos;
    // model
    int32_t depth;
    int32_t pass;
    int32_t hit_context;
};

inline Regs &regs(zf::Record *f) { return *zf::codec_regs<Regs>(f); }

inline uint16_t *interval_table(zf::Record *f) { return reinterpret_cast<uint16_t *>(f->table_32k); }
// Pass-1 counts share the interval table's memory: totals in 32-bit words
// 0 to 127, zeros in words 129 to 256.
inline uint32_t *count_totals(zf::Record *f) { return reinterpret_cast<uint32_t *>(f->table_32k); }
inline uint32_t *count_zeros(zf::Record *f) { return reinterpret_cast<uint32_t *>(f->table_32k) + 129; }
// Pass 1 counts the numbers of the four number codes (bases 17, 32, 48 and
// 64) as 256 counts per code, from word 512 on, and turns them into counts
// per context when the pass ends.
inline uint32_t *count_numbers(zf::Record *f) { return reinterpret_cast<uint32_t *>(f->table_32k) + 512; }
constexpr unsigned number_code(unsigned base) { return (base >> 4) - 1; }

// The table that replaces range x probability: for context c and the
// range's top byte h (128 to 255 when a decision starts), the entry is
// prob[c] * h / 256, never 0.  The 128 entries of a context lie together,
// at 128 * c + h - 128: the context's row is known ahead of the range, so
// finding the entry takes only the range's shift.
void zfss_build_intervals(zf::Record *f, const ProbTable &prob);

// prob[c] = zeros / totals in units of 1/65536, with both counts halved
// until the zeros fit in 15 bits; 0xFFFF when they are equal (an unused
// context included).
ProbTable zfss_estimate(const uint32_t *zeros, const uint32_t *totals);

#define ZFSS_INLINE inline __attribute__((always_inline))

// The line functions are also built for processors with a one-step count
// of leading zeros and shifts by a register (x86-64-v3), chosen when the
// program starts: they shorten the chain of dependent steps per decision.
// Not under ThreadSanitizer, whose runtime is not ready when the loader
// runs the chooser of a program built with it.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__linux__) && \
    !defined(__SANITIZE_THREAD__)
#define ZFSS_CLONES __attribute__((target_clones("arch=x86-64-v3", "default")))
#else
#define ZFSS_CLONES
#endif

inline unsigned interval_index(unsigned context, uint32_t range)
{
    return (context << 7) + (range >> 8) - 128;
}

// ---- decoding ------------------------------------------------------------

// The decoder keeps the code in the top 16 bits of a 64-bit window whose
// lower bits are the next bits of the stream, `avail` of them valid.  A
// decision is a lookup, a comparison and conditional moves; renormalising
// shifts range and window by the range's leading zeros at once.  The window
// is refilled from the stream buffer only when the code itself runs short,
// in a function of its own that takes and gives back the window by value,
// so that a decoder held in a local variable lives in registers.
class Decoder {
public:
    explicit Decoder(zf::Record *f) : f_(f), table_(interval_table(f))
    {
        const Regs &r = regs(f);
        range_ = r.range;
        x_ = r.in_window;
        avail_ = r.in_avail;
    }

    // Keeps the working copy for the next line call.
    void store() const
    {
        Regs &r = regs(f_);
        r.range = range_;
        r.in_window = x_;
        r.in_avail = avail_;
    }

    // The start of the stream: range 0xFFFF, code = its first 16 bits.
    void start()
    {
        Regs &r = regs(f_);
        r.in_pos = 0;
        r.in_left = 0;
        range_ = 0xFFFF;
        const Window w = more_bits(f_, 0, -16); // the code's own 16 bits
        x_ = w.x;
        avail_ = w.avail;
    }

    ZFSS_INLINE int zfss_decode_bit(unsigned context)
    {
        const uint32_t t = table_[interval_index(context, range_)];
        const uint64_t top = static_cast<uint64_t>(t) << 48;
        // without a branch: the outcome is left to the model to branch on
        const uint32_t one = x_ >= top;
        const uint32_t keep = 0u - one; // all ones for a 1
        range_ = ((range_ - t) & keep) | (t & ~keep);
        x_ -= top & (0ull - one);
        renormalise();
        return static_cast<int>(one);
    }

    // As many doublings as bring the range back to 0x8000 or more, the code
    // taking one stream bit for each (none when it is there already): the
    // range is 1 to 0xFFFF, so its leading zeros are 16 to 31 and the count
    // is theirs less 16.
    ZFSS_INLINE void renormalise()
    {
        const int n = __builtin_clz(range_) ^ 16;
        range_ <<= n;
        x_ <<= n;
        avail_ -= n;
        if (__builtin_expect(avail_ < 0, 0)) {
            const Window w = more_bits(f_, x_, avail_);
            x_ = w.x;
            avail_ = w.avail;
        }
    }

    // The same decision for the model to branch on when its outcome is
    // mostly the same (the change decisions of runs, the link kinds): the
    // processor follows the predicted outcome at once instead of waiting
    // for the comparison, and a range that stays at 0x8000 or more needs
    // no shift.
    ZFSS_INLINE int decide_predicted(unsigned context)
    {
        const uint32_t t = table_[interval_index(context, range_)];
        const uint64_t top = static_cast<uint64_t>(t) << 48;
        int bit = 0;
        if (x_ < top) {
            range_ = t;
        } else {
            x_ -= top;
            range_ -= t;
            bit = 1;
        }
        if (range_ < 0x8000)
            renormalise();
        return bit;
    }

private:
    struct Window {
        uint64_t x;
        int32_t avail;
    };

    // Brings the code's missing bits (avail < 0) in, and with them whatever
    // the stream buffer holds up to 40 bits ahead; the file is read only
    // when a bit is needed that no byte read so far holds.
    static Window more_bits(zf::Record *f, uint64_t x, int32_t avail);

    zf::Record *f_;
    const uint16_t *table_;
    uint32_t range_;
    uint64_t x_;
    int32_t avail_;
};

// ---- encoding -------------------------------------------------------------

// Pass 1: counts decisions per context, outputs nothing.
class Counter {
public:
    explicit Counter(zf::Record *f) : totals_(count_totals(f)), zeros_(count_zeros(f)), numbers_(count_numbers(f)) {}
    void store() const {}
    void start() {}
    void zfss_finish() {}
    ZFSS_INLINE void zfss_encode_bit(int bit, unsigned context)
    {
        ++totals_[context];
        zeros_[context] += bit == 0;
    }
    // A whole number (0 to 255) of the code at `base`.
    ZFSS_INLINE void count_number(int v, unsigned base) { ++numbers_[number_code(base) * 256 + static_cast<unsigned>(v)]; }

private:
    uint32_t *totals_;
    uint32_t *zeros_;
    uint32_t *numbers_;
};

// Pass 2: codes decisions into the stream buffer, written to the file in
// 8192-byte pieces.
//
// Low is the bottom 16 bits of a 64-bit window; above it are the last bits
// that left low, up to 47 of them, so an addition carries into them by
// itself and a renormalisation is one shift.  The bits that leave the
// window are final up to the last 0 among them: a carry can only reach
// back to that 0 (the held zero) through the 1s after it (the pending
// ones).  A carry out of the window lands in the bit just above it, and is
// taken into the held zero when the window is emptied; the interval only
// shrinks, so once the window holds a bit, at most one carry can still
// pass all of it.
class Encoder {
public:
    explicit Encoder(zf::Record *f)
        : f_(f), table_(interval_table(f)), buf_(zf::stream_buffer(f))
    {
        const Regs &r = regs(f);
        range_ = r.range;
        window_ = r.low_window;
        window_bits_ = r.window_bits;
        held_zero_ = r.held_zero;
        pending_ = r.pending_ones;
        acc_ = r.acc;
        acc_bits_ = r.acc_bits;
        pos_ = r.out_pos;
    }

    void store() const
    {
        Regs &r = regs(f_);
        r.range = range_;
        r.low_window = window_;
        r.window_bits = window_bits_;
        r.held_zero = held_zero_;
        r.pending_ones = pending_;
        r.acc = static_cast<uint32_t>(acc_ & 0xFF);
        r.acc_bits = acc_bits_;
        r.out_pos = pos_;
    }

    void start()
    {
        range_ = 0xFFFF;
        window_ = 0;
        window_bits_ = 0;
        pending_ = 0;
        held_zero_ = 0;
        acc_ = 0;
        acc_bits_ = 0;
        pos_ = 0;
    }

    ZFSS_INLINE void zfss_encode_bit(int bit, unsigned context)
    {
        const uint32_t t = table_[interval_index(context, range_)];
        const uint32_t keep = 0u - static_cast<uint32_t>(bit != 0); // all ones for a 1
        window_ += t & keep;
        range_ = ((range_ - t) & keep) | (t & ~keep);
        const int n = __builtin_clz(range_) ^ 16; // the range is 1 to 0xFFFF
        range_ <<= n;
        window_ <<= n;
        window_bits_ += static_cast<uint32_t>(n);
        if (__builtin_expect(window_bits_ >= 32, 0))
            empty_window();
    }

    // Sends the 16 bits of low, the held zero and the pending ones, the
    // last partial byte (0x00 when there is none) and the buffer.
    void zfss_finish()
    {
        empty_window();
        window_ <<= 16;
        window_bits_ = 16;
        empty_window();
        zfss_shift_zero();
        zfss_put_byte(static_cast<uint32_t>(acc_ << (8 - acc_bits_)) & 0xFF);
        if (pos_ > 0 && zf_write(f_, buf_, pos_) != pos_)
            throw CoderAbort{};
        pos_ = 0;
    }

    // The output steps, public for the tests of the carry rules.
    // A 0 bit leaves low: nothing before it can change any more.
    void zfss_shift_zero()
    {
        if (held_zero_)
            put_bits(0, 1);
        put_ones(pending_);
        held_zero_ = 1;
        pending_ = 0;
    }

    // The addition overflowed into bits already shifted out: the held zero
    // becomes 1 and the pending ones become 0s, the last of them held.
    void zfss_carry()
    {
        put_bits(1, 1);
        if (pending_ == 0) {
            held_zero_ = 0;
        } else {
            for (uint32_t k = pending_ - 1; k > 0;) {
                const uint32_t take = k < 32 ? k : 32;
                put_bits(0, static_cast<int>(take));
                k -= take;
            }
            held_zero_ = 1;
        }
        pending_ = 0;
    }

private:
    // The bits above low leave the window, after a carry that passed
    // them.  When a 0 is among them, the held zero, the pending ones and
    // the bits before their last 0 are sent; the 1s after it are pending.
    void empty_window()
    {
        const unsigned n = window_bits_;
        if ((window_ >> (16 + n)) & 1)
            zfss_carry();
        const uint64_t out = (window_ >> 16) & ((uint64_t{1} << n) - 1);
        window_ &= 0xFFFF;
        window_bits_ = 0;
        if (out == (uint64_t{1} << n) - 1) { // no 0 among them (or none)
            pending_ += n;
            return;
        }
        const int trailing = __builtin_ctzll(~out);
        const int before = static_cast<int>(n) - trailing - 1;
        zfss_shift_zero();
        put_bits(out >> (trailing + 1), before);
        pending_ = static_cast<uint32_t>(trailing);
    }

    // Appends the low `count` bits of v (at most 56), most significant
    // first, and writes the whole bytes.
    ZFSS_INLINE void put_bits(uint64_t v, int count)
    {
        acc_ = acc_ << count | v;
        acc_bits_ += static_cast<uint32_t>(count);
        while (acc_bits_ >= 8) {
            acc_bits_ -= 8;
            zfss_put_byte(static_cast<uint32_t>(acc_ >> acc_bits_) & 0xFF);
        }
    }

    void put_ones(uint32_t count)
    {
        while (count > 0) {
            const uint32_t take = count < 32 ? count : 32;
            put_bits((uint64_t{1} << take) - 1, static_cast<int>(take));
            count -= take;
        }
    }

    ZFSS_INLINE void zfss_put_byte(uint32_t byte)
    {
        buf_[pos_++] = static_cast<unsigned char>(byte);
        if (__builtin_expect(pos_ == zf::kStreamSize, 0))
            flush(f_, buf_);
        pos_ &= zf::kStreamSize - 1;
    }

    // Writes a full stream buffer; zf_write records 28 for a short write,
    // the system's code for a failed one.
    static void flush(zf::Record *f, unsigned char *buf);

    zf::Record *f_;
    const uint16_t *table_;
    unsigned char *buf_;
    uint32_t range_;
    uint64_t window_;
    uint32_t window_bits_;
    uint32_t held_zero_;
    uint32_t pending_;
    uint64_t acc_;
    uint32_t acc_bits_;
    int32_t pos_;
};

} // namespace zfss

#endif
