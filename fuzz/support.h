// support.h - what the fuzz targets share.
#ifndef ZEFA_FUZZ_SUPPORT_H
#define ZEFA_FUZZ_SUPPORT_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zfuzz {

// The most pixels of one block a target decodes: a few bytes can claim a
// block of 32759 x 32767 pixels, which would take seconds per input and
// find nothing the smaller ones do not.
inline constexpr long long kPixelLimit = 1 << 20;

// Sends what the programs print (header display, progress bars, messages)
// to /dev/null through the C streams only, so that the fuzzer's and the
// sanitizers' reports still reach the terminal; standard input reads
// nothing.  Called once, before the first input.
void quiet_console();

// Puts the bytes into a private file and returns its name, for readers
// that take names.  The same file is rewritten on every call.
const std::string &as_file(const uint8_t *data, size_t size);

// Opens the bytes as a ZEFA file, walks and reads every line of every block.
void read_all_blocks(const uint8_t *data, size_t size);

// A ZEFA file of one depth holding one block of the given tag and size
// whose payload is the given bytes.
std::vector<uint8_t> payload_file(int depth, const char *tag, int width, int height, const uint8_t *payload,
                                  size_t size);

// Calls parse(arg) for each argument of the bytes (split at 0 bytes) that
// begins like an option, as a program's option parser sees it.
template <class Parse> void for_each_option(const uint8_t *data, size_t size, Parse parse)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    for (size_t start = 0; start < text.size();) {
        const size_t end = std::min(text.find('\0', start), text.size());
        const std::string arg = text.substr(start, end - start);
        start = end + 1;
        if (!arg.empty() && (arg[0] == '-' || arg[0] == '/'))
            parse(arg.c_str());
    }
}

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
