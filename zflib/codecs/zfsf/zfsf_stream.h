// zfsf_stream.h - what both directions of the ZFSF coding share: the
// per-block registers kept in the record, the MSB-first bit reader and
// writer over the record's 8192-byte stream buffer, and the layout of the
// work buffers.
//
// Line buffers and flag rows are used from entry 4 on, so positions -4 to
// -1 and n to n + 3 are spare entries that stray links may touch.
#ifndef ZFLIB_ZFSF_STREAM_H
#define ZFLIB_ZFSF_STREAM_H

#include "codec.h"

#include <cstdint>
#include <cstring>
#include <utility>

namespace zfsf {

constexpr int kSpare = 4;          // entries before position 0
constexpr int kRowStride = 64;     // entries per colour cache row
constexpr int kEscape = 1023;      // run count that starts the skip mode
constexpr int kByteListAt = 512;   // byte list inside table_1k (depth 8)

// Thrown by the bit reader and writer when the stream cannot go on; the
// error code is already in the record and in zf_errno.
struct StreamFailure {};

struct Regs {
    uint64_t acc;      // bit accumulator
    int64_t run;       // run counter
    int32_t nbits;     // bits held in acc (reader: unread; writer: unemitted, under 32)
    int32_t pos;       // position in the stream buffer
    int32_t len;       // reader: bytes in the buffer
    int32_t skip;      // reader: linked positions left in the skip mode
    int32_t pending;   // writer: queued link codes
    int32_t depth;
};

inline Regs &regs(zf::Record *f) { return *zf::codec_regs<Regs>(f); }

inline uint32_t *cache_row(zf::Record *f, uint32_t r)
{
    return reinterpret_cast<uint32_t *>(f->table_64k) + static_cast<std::size_t>(r & 0xFF) * kRowStride;
}
inline uint16_t *ring_heads(zf::Record *f) { return reinterpret_cast<uint16_t *>(f->table_1k); }
inline unsigned char *byte_list(zf::Record *f) { return f->table_1k + kByteListAt; }

using zf::units;

// Moves entry j of a list to the front (j == size: a new value pushes the
// last one out).
template <class T> inline void move_to_front(T *list, int j, T value)
{
    for (int k = j; k > 0; --k)
        list[k] = list[k - 1];
    list[0] = value;
}

// ---- reading ------------------------------------------------------------

class BitReader {
public:
    // Works on copies of the record's reader fields, written back when the
    // reader goes (the fields are dead after a failure anyway).
    explicit BitReader(zf::Record *f)
        : f_(f), r_(regs(f)), buf_(zf::stream_buffer(f)), acc_(r_.acc), nbits_(r_.nbits), pos_(r_.pos), len_(r_.len)
    {
    }
    ~BitReader()
    {
        // the zero bits that stood in past the end are not kept
        r_.acc = acc_ >> pad_;
        r_.nbits = nbits_ - pad_;
        r_.pos = pos_;
        r_.len = len_;
    }
    BitReader(const BitReader &) = delete;
    BitReader &operator=(const BitReader &) = delete;

    // The next n bits (n <= 32) without taking them.  Past the end of the
    // stream zero bits stand in, so a short code near the end may be
    // looked at through a wide window; taking one of them fails.
    uint32_t peek(int n)
    {
        if (nbits_ < n)
            fill(n);
        return static_cast<uint32_t>((acc_ >> (nbits_ - n)) & ((uint64_t{1} << n) - 1));
    }
    void skip(int n)
    {
        if (n > nbits_ - pad_)
            ended();
        nbits_ -= n;
    }

    // At least 56 bits, the next one at bit 63, for codes read together
    // and taken with take() (zero bits past the end, as for peek).
    uint64_t window()
    {
        if (nbits_ < 56)
            fill(56);
        return acc_ << (64 - nbits_);
    }
    void take(int n)
    {
        nbits_ -= n;
        if (nbits_ < pad_)
            ended();
    }

    uint32_t bits(int n) // n <= 32
    {
        const uint32_t v = peek(n);
        skip(n);
        return v;
    }
    uint32_t bit() { return bits(1); }

    // Run count: k one-bits, a zero, then k bits b: b + 2^k - 1.
    int64_t count()
    {
        const uint32_t w = peek(32);
        const int k = __builtin_clz(~w | 1);
        if (k < 16) { // the whole code is in the window
            skip(2 * k + 1);
            return static_cast<int64_t>(((w >> (31 - 2 * k)) & ((1u << k) - 1)) + (1u << k) - 1);
        }
        return long_count();
    }

    // The reader's position, for a caller that keeps it in registers
    // (Window below) and hands it back before any other call.
    struct State {
        uint64_t acc;
        int32_t nbits, pos, len, pad;
    };
    State state() const { return State{acc_, nbits_, pos_, len_, pad_}; }
    void set_state(const State &s)
    {
        acc_ = s.acc;
        nbits_ = s.nbits;
        pos_ = s.pos;
        len_ = s.len;
        pad_ = s.pad;
    }
    const unsigned char *buffer() const { return buf_; }
    void refill(int n) { fill(n); }
    [[noreturn]] void ended()
    {
        zf::set_error(f_, ZF_ERR_EOF);
        throw StreamFailure{};
    }

private:
    int64_t long_count()
    {
        int k = 0;
        while (bit()) {
            if (++k > 40) { // longer than any block can need: damaged
                zf::set_error(f_, ZF_ERR_FORMAT);
                throw StreamFailure{};
            }
        }
        uint64_t b = 0;
        for (int left = k; left > 0;) {
            const int piece = left > 24 ? 24 : left;
            b = b << piece | bits(piece);
            left -= piece;
        }
        return static_cast<int64_t>(b + (uint64_t{1} << k) - 1);
    }

    // Takes whole bytes from the buffer while they fit the accumulator; the
    // file is read only when a bit is needed that no byte read so far holds.
    void fill(int n)
    {
        while (nbits_ < n) {
            if (pos_ >= len_) {
                const int got = pad_ > 0 ? 0 : zf_read_some(f_, buf_, zf::kStreamSize);
                if (got < 0)
                    throw StreamFailure{};
                if (got == 0) { // the end: zero bits stand in
                    acc_ <<= 8;
                    nbits_ += 8;
                    pad_ += 8;
                    continue;
                }
                pos_ = 0;
                len_ = got;
            }
            if (len_ - pos_ >= 8) {
                // seven bytes at most at once, so no shift reaches 64
                uint64_t word;
                std::memcpy(&word, buf_ + pos_, 8);
                word = __builtin_bswap64(word);
                const int take = (63 - nbits_) >> 3;
                acc_ = acc_ << (8 * take) | word >> (64 - 8 * take);
                pos_ += take;
                nbits_ += 8 * take;
                continue;
            }
            while (pos_ < len_ && nbits_ <= 56) {
                acc_ = acc_ << 8 | buf_[pos_++];
                nbits_ += 8;
            }
        }
    }

    zf::Record *f_;
    Regs &r_;
    unsigned char *buf_;
    uint64_t acc_;
    int32_t nbits_, pos_, len_;
    int32_t pad_ = 0; // zero bits past the end of the stream, at the bottom of acc_
};

// The reader's state as plain values for a decoding loop: nothing takes
// their address, so they stay in registers while the loop stores pixels
// (which, as far as the compiler knows, could land anywhere in memory).
// Whatever calls the reader itself goes between sync() and load().
class Window {
public:
    explicit Window(BitReader &in) : in_(in), buf_(in.buffer()) { load(); }
    void load() { s_ = in_.state(); }
    BitReader &sync()
    {
        in_.set_state(s_);
        return in_;
    }

    // At least 56 bits, the next one at bit 63.
    uint64_t bits56()
    {
        if (s_.nbits < 56) {
            if (s_.len - s_.pos >= 8) {
                uint64_t word;
                std::memcpy(&word, buf_ + s_.pos, 8);
                word = __builtin_bswap64(word);
                const int take = (63 - s_.nbits) >> 3;
                s_.acc = s_.acc << (8 * take) | word >> (64 - 8 * take);
                s_.pos += take;
                s_.nbits += 8 * take;
            } else {
                sync().refill(56);
                load();
            }
        }
        return s_.acc << (64 - s_.nbits);
    }
    void take(int n)
    {
        s_.nbits -= n;
        if (s_.nbits < s_.pad)
            sync().ended();
    }

private:
    BitReader &in_;
    const unsigned char *buf_;
    BitReader::State s_;
};

// ---- writing ------------------------------------------------------------

class BitWriter {
public:
    // Works on copies of the record's writer fields, written back when the
    // writer goes (the fields are dead after a failure anyway).
    explicit BitWriter(zf::Record *f)
        : f_(f), r_(regs(f)), buf_(zf::stream_buffer(f)), acc_(r_.acc), nbits_(r_.nbits), pos_(r_.pos)
    {
    }
    ~BitWriter()
    {
        r_.acc = acc_;
        r_.nbits = nbits_;
        r_.pos = pos_;
    }
    BitWriter(const BitWriter &) = delete;
    BitWriter &operator=(const BitWriter &) = delete;

    // Bits gather in the accumulator and leave it 32 at a time.
    [[gnu::always_inline]] void bits(int n, uint32_t value) // n <= 32
    {
        acc_ = acc_ << n | (value & ((uint64_t{1} << n) - 1));
        nbits_ += n;
        if (nbits_ >= 32) {
            nbits_ -= 32;
            emit32(static_cast<uint32_t>(acc_ >> nbits_));
        }
    }

    // Run count c as k ones, a zero and the k low bits of c + 1; long
    // codes (c + 1 above 2^31) go out in pieces.
    [[gnu::always_inline]] void count(int64_t c)
    {
        const uint64_t v = static_cast<uint64_t>(c) + 1;
        const int k = 63 - __builtin_clzll(v);
        if (k <= 15) {
            const uint32_t low = (1u << k) - 1;
            bits(2 * k + 1, low << (k + 1) | (static_cast<uint32_t>(v) & low));
            return;
        }
        long_count(k, v);
    }

    void long_count(int k, uint64_t v)
    {
        for (int left = k; left > 0;) {
            const int piece = left > 24 ? 24 : left;
            bits(piece, (1u << piece) - 1);
            left -= piece;
        }
        bits(1, 0);
        for (int left = k; left > 0;) {
            const int piece = left > 24 ? 24 : left;
            bits(piece, static_cast<uint32_t>(v >> (left - piece)));
            left -= piece;
        }
    }

    // The writer's position, for a caller that keeps it in registers
    // (Sink below) and hands it back before any other call.
    struct State {
        uint64_t acc;
        int32_t nbits, pos;
    };
    State state() const { return State{acc_, nbits_, pos_}; }
    void set_state(const State &s)
    {
        acc_ = s.acc;
        nbits_ = s.nbits;
        pos_ = s.pos;
    }
    unsigned char *buffer() const { return buf_; }
    // Writes out a full buffer, or a word that does not fit what is left.
    void word(uint32_t w) { emit32(w); }
    void flush_full() { flush(); }

    // Pads the byte being filled with zeros (a whole zero byte when none is
    // being filled), adds one zero byte, and writes out the buffer.
    void finish()
    {
        while (nbits_ >= 8) {
            nbits_ -= 8;
            emit(static_cast<unsigned char>(acc_ >> nbits_));
        }
        emit(static_cast<unsigned char>(acc_ << (8 - nbits_)));
        nbits_ = 0;
        emit(0);
        flush();
    }

private:
    void emit32(uint32_t word)
    {
        if (pos_ > zf::kStreamSize - 4) {
            for (int shift = 24; shift >= 0; shift -= 8)
                emit(static_cast<unsigned char>(word >> shift));
            return;
        }
        word = __builtin_bswap32(word);
        std::memcpy(buf_ + pos_, &word, 4);
        pos_ += 4;
        if (pos_ == zf::kStreamSize)
            flush();
    }
    void emit(unsigned char byte)
    {
        buf_[pos_++] = byte;
        if (pos_ == zf::kStreamSize)
            flush();
    }
    void flush()
    {
        const int n = pos_;
        pos_ = 0;
        if (n > 0 && zf_write(f_, buf_, n) != n)
            throw StreamFailure{};
    }

    zf::Record *f_;
    Regs &r_;
    unsigned char *buf_;
    uint64_t acc_;
    int32_t nbits_, pos_;
};

// The writer's state as plain values for a coding loop (as Window for
// the reader): nothing takes their address, so they stay in registers.
class Sink {
public:
    explicit Sink(BitWriter &out) : out_(out), buf_(out.buffer()) { load(); }
    void load() { s_ = out_.state(); }
    BitWriter &sync()
    {
        out_.set_state(s_);
        return out_;
    }

    [[gnu::always_inline]] void bits(int n, uint32_t value) // n <= 32
    {
        s_.acc = s_.acc << n | (value & ((uint64_t{1} << n) - 1));
        s_.nbits += n;
        if (s_.nbits >= 32) {
            s_.nbits -= 32;
            const uint32_t w = static_cast<uint32_t>(s_.acc >> s_.nbits);
            if (s_.pos > zf::kStreamSize - 4) {
                sync().word(w);
                load();
                return;
            }
            const uint32_t be = __builtin_bswap32(w);
            std::memcpy(buf_ + s_.pos, &be, 4);
            s_.pos += 4;
            if (s_.pos == zf::kStreamSize) {
                sync().flush_full();
                load();
            }
        }
    }

    [[gnu::always_inline]] void count(int64_t c)
    {
        const uint64_t v = static_cast<uint64_t>(c) + 1;
        const int k = 63 - __builtin_clzll(v);
        if (k <= 15) {
            const uint32_t low = (1u << k) - 1;
            bits(2 * k + 1, low << (k + 1) | (static_cast<uint32_t>(v) & low));
            return;
        }
        sync().long_count(k, v);
        load();
    }

private:
    BitWriter &out_;
    unsigned char *buf_;
    BitWriter::State s_;
};

} // namespace zfsf

#endif
