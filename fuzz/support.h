// support.h - what the fuzz targets share.
#ifndef ZEFA_FUZZ_SUPPORT_H
#define ZEFA_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zfuzz {

// Puts the bytes into a private file and returns its name; the library
// opens files by name.  The same file is rewritten on every call.
const std::string &as_file(const uint8_t *data, size_t size);

// Opens, walks and reads every line of every block of a ZEFA file.
void read_all_blocks(const std::string &path);

// A ZEFA file of one depth holding one block of the given tag and size
// whose payload is the given bytes; returns its name.
const std::string &payload_file(int depth, const char *tag, int width, int height, const uint8_t *payload,
                                size_t size);

// Bytes taken from the front of the fuzz input, 0 when it is used up.
struct Input {
    const uint8_t *data;
    size_t size;
    unsigned byte()
    {
        if (size == 0)
            return 0;
        --size;
        return *data++;
    }
    unsigned u16() { return byte() << 8 | byte(); }
};

} // namespace zfuzz

#endif
