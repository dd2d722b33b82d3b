// support.h - what the fuzz targets share.
#ifndef ZEFA_FUZZ_SUPPORT_H
#define ZEFA_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace zfuzz {

// Puts the bytes into a private file and returns its name; the library
// opens files by name.  The same file is rewritten on every call.
const std::string &as_file(const uint8_t *data, size_t size);

// Opens, walks and reads every line of every block of a ZEFA file.
void read_all_blocks(const std::string &path);

} // namespace zfuzz

#endif
