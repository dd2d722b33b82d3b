// memory_source.h - a file held in memory, read front to back by the
// picture libraries' input callbacks.
#ifndef ZEFA_ZFCONV_MEMORY_SOURCE_H
#define ZEFA_ZFCONV_MEMORY_SOURCE_H

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zfconv {

struct MemorySource {
    const uint8_t *data;
    std::size_t size;
    std::size_t pos = 0;

    // Copies up to n bytes; the count copied.
    std::size_t read(void *out, std::size_t n)
    {
        const std::size_t left = size - pos;
        const std::size_t take = n < left ? n : left;
        std::memcpy(out, data + pos, take);
        pos += take;
        return take;
    }
};

} // namespace zfconv

#endif
