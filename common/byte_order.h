// byte_order.h - multi-byte integers of the files the programs read and
// write besides ZEFA's own (the library keeps those): the private PNG
// chunk, TIFF and PNG signatures, test files.
#ifndef ZEFA_COMMON_BYTE_ORDER_H
#define ZEFA_COMMON_BYTE_ORDER_H

#include <cstdint>

namespace zfbytes {

inline uint32_t get_u32(const uint8_t *p)
{
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
inline int get_s16(const uint8_t *p) { return static_cast<int16_t>(p[0] << 8 | p[1]); }
inline uint32_t get_le32(const uint8_t *p)
{
    return uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
}
inline void put_u32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

} // namespace zfbytes

#endif
