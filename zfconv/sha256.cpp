#include "sha256.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(ZEFA_NO_SHA_NI)
#include <immintrin.h>
#define ZEFA_SHA_NI 1
#endif

namespace zfconv {
namespace {

constexpr uint32_t kInit[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                               0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

#ifdef ZEFA_SHA_NI
alignas(16) constexpr uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

// The compression of whole 64-byte blocks with the SHA extensions: four
// rounds per pair of sha256rnds2, the message schedule by sha256msg1/2.
__attribute__((target("sha,sse4.1,ssse3"))) void blocks_ni(uint32_t state[8], const uint8_t *data, std::size_t n)
{
    const __m128i mask = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    __m128i tmp = _mm_loadu_si128(reinterpret_cast<const __m128i *>(&state[0]));
    __m128i s1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(&state[4]));
    tmp = _mm_shuffle_epi32(tmp, 0xB1);      // CDAB
    s1 = _mm_shuffle_epi32(s1, 0x1B);        // EFGH
    __m128i s0 = _mm_alignr_epi8(tmp, s1, 8); // ABEF
    s1 = _mm_blend_epi16(s1, tmp, 0xF0);     // CDGH
    for (; n > 0; --n, data += 64) {
        const __m128i abef = s0, cdgh = s1;
        __m128i w[4];
        for (int i = 0; i < 16; ++i) {
            __m128i x;
            if (i < 4) {
                x = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(data + 16 * i)), mask);
            } else {
                const __m128i a = w[i & 3], b = w[(i + 1) & 3], c = w[(i + 2) & 3], d = w[(i + 3) & 3];
                // a: W[4i-16..], b: W[4i-12..], c: W[4i-8..], d: W[4i-4..]
                x = _mm_sha256msg2_epu32(_mm_add_epi32(_mm_sha256msg1_epu32(a, b), _mm_alignr_epi8(d, c, 4)), d);
            }
            w[i & 3] = x;
            __m128i m = _mm_add_epi32(x, _mm_load_si128(reinterpret_cast<const __m128i *>(&kRound[4 * i])));
            s1 = _mm_sha256rnds2_epu32(s1, s0, m);
            m = _mm_shuffle_epi32(m, 0x0E);
            s0 = _mm_sha256rnds2_epu32(s0, s1, m);
        }
        s0 = _mm_add_epi32(s0, abef);
        s1 = _mm_add_epi32(s1, cdgh);
    }
    tmp = _mm_shuffle_epi32(s0, 0x1B);  // FEBA
    s1 = _mm_shuffle_epi32(s1, 0xB1);   // DCHG
    s0 = _mm_blend_epi16(tmp, s1, 0xF0); // DCBA
    s1 = _mm_alignr_epi8(s1, tmp, 8);   // HGFE
    _mm_storeu_si128(reinterpret_cast<__m128i *>(&state[0]), s0);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(&state[4]), s1);
}

bool has_sha_ni()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("sha") && __builtin_cpu_supports("sse4.1") && __builtin_cpu_supports("ssse3");
}
#else
void blocks_ni(uint32_t *, const uint8_t *, std::size_t) {}
bool has_sha_ni() { return false; }
#endif

} // namespace

bool Sha256::hardware()
{
    static const bool yes = has_sha_ni();
    return yes;
}

Sha256::Sha256() : hw_(hardware())
{
    sha256_init(&nettle_);
    std::memcpy(state_, kInit, sizeof state_);
}

void Sha256::update(const uint8_t *data, std::size_t size)
{
    if (!hw_) {
        sha256_update(&nettle_, size, data);
        return;
    }
    length_ += size;
    if (filled_ > 0) {
        const std::size_t take = std::min(size, sizeof block_ - filled_);
        std::memcpy(block_ + filled_, data, take);
        filled_ += take;
        data += take;
        size -= take;
        if (filled_ < sizeof block_)
            return;
        blocks_ni(state_, block_, 1);
        filled_ = 0;
    }
    blocks_ni(state_, data, size / 64);
    data += size - size % 64;
    filled_ = size % 64;
    std::memcpy(block_, data, filled_);
}

std::array<uint8_t, 32> Sha256::digest()
{
    std::array<uint8_t, 32> d{};
    if (!hw_) {
        sha256_digest(&nettle_, d.size(), d.data());
        return d;
    }
    const uint64_t bits = length_ * 8;
    uint8_t pad[72] = {0x80};
    const std::size_t n = (filled_ < 56 ? 56 : 120) - filled_;
    for (int i = 0; i < 8; ++i)
        pad[n + static_cast<std::size_t>(i)] = static_cast<uint8_t>(bits >> (56 - 8 * i));
    update(pad, n + 8);
    for (int i = 0; i < 8; ++i)
        for (int k = 0; k < 4; ++k)
            d[static_cast<std::size_t>(4 * i + k)] = static_cast<uint8_t>(state_[i] >> (24 - 8 * k));
    return d;
}

} // namespace zfconv
