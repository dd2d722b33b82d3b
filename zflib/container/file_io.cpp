// Byte order, descriptor access relative to the file's base, the two error
// slots, zero-filled allocation and fixed-width text fields.
#include "codec.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
thread_local int last_error = 0;

void record(zf::Record *f, int code)
{
    f->error = code;
    last_error = code;
}
} // namespace

int zf::read_memory(zf::Record *f, void *buf, int count)
{
    const size_t left = f->mem_pos < f->mem_size ? f->mem_size - f->mem_pos : 0;
    const size_t n = std::min(left, static_cast<size_t>(count));
    if (n > 0)
        std::memcpy(buf, f->mem + f->mem_pos, n);
    f->mem_pos += n;
    return static_cast<int>(n);
}

long long zf::source_size(zf::Record *f)
{
    if (f->mem)
        return static_cast<long long>(f->mem_size);
    struct stat st {};
    return fstat(f->fd, &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

extern "C" int *zf_errno_location(void) { return &last_error; }

uint16_t zf_swap16(uint16_t v) { return static_cast<uint16_t>((v >> 8) | (v << 8)); }

uint32_t zf_swap32(uint32_t v)
{
    return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

int zf_read(zf_file *file, void *buf, int count)
{
    zf::Record *f = zf::rec(file);
    if (count <= 0)
        return 0;
    if (f->mem) {
        const int got = zf::read_memory(f, buf, count);
        if (got < count)
            record(f, ZF_ERR_EOF);
        return got;
    }
    // Loop over short reads from pipes and signals; a true end of file
    // still comes up short.
    auto *p = static_cast<unsigned char *>(buf);
    int got = 0;
    while (got < count) {
        ssize_t n = ::read(f->fd, p + got, static_cast<size_t>(count - got));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            record(f, errno);
            return -1;
        }
        if (n == 0)
            break;
        got += static_cast<int>(n);
    }
    if (got < count)
        record(f, ZF_ERR_EOF);
    return got;
}

int zf_read_some(zf_file *file, void *buf, int count)
{
    zf::Record *f = zf::rec(file);
    if (count <= 0)
        return 0;
    if (f->mem)
        return zf::read_memory(f, buf, count);
    for (;;) {
        ssize_t n = ::read(f->fd, buf, static_cast<size_t>(count));
        if (n >= 0)
            return static_cast<int>(n);
        if (errno != EINTR) {
            record(f, errno);
            return -1;
        }
    }
}

int zf_read_u8(zf_file *file)
{
    zf::Record *f = zf::rec(file);
    unsigned char b = 0;
    zf_read(f, &b, 1);
    return b;
}

int zf_read_u16(zf_file *file)
{
    zf::Record *f = zf::rec(file);
    unsigned char b[2] = {0, 0};
    zf_read(f, b, 2);
    return (b[0] << 8) | b[1];
}

namespace {

// Writes into a memory record's buffer at its position, growing it.
int write_memory(zf::Record *f, const void *buf, int count)
{
    const size_t end = f->mem_pos + static_cast<size_t>(count);
    if (end > f->out_cap) {
        const size_t cap = std::max(end, f->out_cap * 2 + 4096);
        auto *grown = static_cast<unsigned char *>(std::realloc(f->out_mem, cap));
        if (!grown) {
            record(f, ENOMEM);
            return -1;
        }
        std::memset(grown + f->out_cap, 0, cap - f->out_cap);
        f->out_mem = grown;
        f->out_cap = cap;
    }
    std::memcpy(f->out_mem + f->mem_pos, buf, static_cast<size_t>(count));
    f->mem_pos = end;
    f->mem_size = std::max(f->mem_size, end);
    return count;
}

} // namespace

int zf_write(zf_file *file, const void *buf, int count)
{
    zf::Record *f = zf::rec(file);
    if (count <= 0)
        return 0;
    if (f->fd < 0)
        return write_memory(f, buf, count);
    const auto *p = static_cast<const unsigned char *>(buf);
    int done = 0;
    while (done < count) {
        ssize_t n = ::write(f->fd, p + done, static_cast<size_t>(count - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            record(f, errno);
            return -1;
        }
        if (n == 0)
            break;
        done += static_cast<int>(n);
    }
    if (done != count)
        record(f, ENOSPC);
    return done;
}

int zf_write_u8(zf_file *file, int value)
{
    zf::Record *f = zf::rec(file);
    unsigned char b = static_cast<unsigned char>(value);
    return zf_write(f, &b, 1);
}

int zf_write_u16(zf_file *file, int value)
{
    zf::Record *f = zf::rec(file);
    unsigned char b[2] = {static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
    return zf_write(f, b, 2);
}

int zf_write_u32(zf_file *file, uint32_t value)
{
    zf::Record *f = zf::rec(file);
    unsigned char b[4] = {static_cast<unsigned char>(value >> 24), static_cast<unsigned char>(value >> 16),
                          static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
    return zf_write(f, b, 4);
}

long zf_seek(zf_file *file, long position)
{
    zf::Record *f = zf::rec(file);
    if (f->fd < 0) {
        // as with a descriptor, a position past the end is allowed; reads there come up short
        if (position < 0 || position > LONG_MAX - f->base) {
            record(f, EINVAL);
            return -1;
        }
        f->mem_pos = static_cast<size_t>(position + f->base);
        return position;
    }
    off_t r = ::lseek(f->fd, static_cast<off_t>(position) + f->base, SEEK_SET);
    if (r < 0) {
        record(f, errno);
        return -1;
    }
    return static_cast<long>(r) - f->base;
}

long zf_tell(zf_file *file)
{
    zf::Record *f = zf::rec(file);
    if (f->fd < 0)
        return static_cast<long>(f->mem_pos) - f->base;
    off_t r = ::lseek(f->fd, 0, SEEK_CUR);
    if (r < 0)
        return -1;
    return static_cast<long>(r) - f->base;
}

void *zf_alloc(long count)
{
    if (count < 0) {
        last_error = EINVAL;
        return nullptr;
    }
    void *p = std::calloc(1, count > 0 ? static_cast<size_t>(count) : 1);
    if (!p)
        last_error = errno ? errno : ENOMEM;
    return p;
}

void zf_copy_pad(char *dest, const char *text, int width)
{
    int i = 0;
    if (text)
        for (; i < width && text[i] != '\0'; ++i)
            dest[i] = text[i];
    for (; i < width; ++i)
        dest[i] = ' ';
}
