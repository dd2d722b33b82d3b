// byte_io.h - the library's own access to an open file's bytes: reads and
// writes relative to the file's base, big-endian integers, zero-filled
// allocation and fixed-width text fields.  The container and the codecs use
// these; they are not part of the public interface (C++ linkage keeps them
// out of the shared library's exports).
#ifndef ZFLIB_BYTE_IO_H
#define ZFLIB_BYTE_IO_H

#include "zefa.h"

#include <cstdint>

// Exact read: fewer bytes than asked records ZF_ERR_EOF.  The count read.
int zf_read(zf_file *f, void *buf, int count);
// What one read gives (0 at the end); -1 on a system error.
int zf_read_some(zf_file *f, void *buf, int count);
int zf_read_u8(zf_file *f);
int zf_read_u16(zf_file *f);
// Writes all bytes; a short write records ENOSPC.  The count written.
int zf_write(zf_file *f, const void *buf, int count);
int zf_write_u8(zf_file *f, int value);
int zf_write_u16(zf_file *f, int value);
int zf_write_u32(zf_file *f, uint32_t value);
// Positions relative to the file's base (0, or 128 behind the prefix).
long zf_seek(zf_file *f, long position);
long zf_tell(zf_file *f);

// Zero-filled allocation (free with free); a failure sets zf_errno.
void *zf_alloc(long count);
// Text copied into a field of `width` bytes, the rest filled with blanks.
void zf_copy_pad(char *dest, const char *text, int width);

// Byte order of the host's 16- and 32-bit values swapped.
uint16_t zf_swap16(uint16_t v);
uint32_t zf_swap32(uint32_t v);

namespace zf {

// The file's big-endian fields, read from and written to memory.
inline int get_s16(const unsigned char *p) { return static_cast<int16_t>((p[0] << 8) | p[1]); }
inline unsigned get_u16(const unsigned char *p) { return static_cast<unsigned>((p[0] << 8) | p[1]); }
inline uint32_t get_u32(const unsigned char *p)
{
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
inline void put16(unsigned char *p, int v)
{
    p[0] = static_cast<unsigned char>(v >> 8);
    p[1] = static_cast<unsigned char>(v);
}
inline void put32(unsigned char *p, uint32_t v)
{
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

} // namespace zf

#endif
