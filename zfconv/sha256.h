// sha256.h - SHA-256 for the private chunk's digests: the processor's SHA
// instructions where it has them (x86-64 SHA extensions, about eight times
// nettle's code on the megabytes of a picture), nettle's SHA-256 elsewhere.
// The digests are the same either way.
#ifndef ZEFA_ZFCONV_SHA256_H
#define ZEFA_ZFCONV_SHA256_H

#include <nettle/sha2.h>

#include <array>
#include <cstddef>
#include <cstdint>

namespace zfconv {

class Sha256 {
public:
    Sha256();
    void update(const uint8_t *data, std::size_t size);
    std::array<uint8_t, 32> digest();

    // Whether the processor's instructions are used (for the tests).
    static bool hardware();

private:
    bool hw_;
    sha256_ctx nettle_;
    uint32_t state_[8];
    uint8_t block_[64];
    std::size_t filled_ = 0;
    uint64_t length_ = 0;
};

} // namespace zfconv

#endif
