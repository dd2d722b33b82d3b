// codec_run.h - codes images through the library for the codec tests:
// one block written with a tag (every pass the coding asks for) and read
// back line by line.
#ifndef ZEFA_TESTS_CODEC_RUN_H
#define ZEFA_TESTS_CODEC_RUN_H

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace zt {

using Bytes = std::vector<uint8_t>;
using Image = std::vector<std::vector<uint32_t>>;

struct Coded {
    Bytes payload;            // the block's payload (between header and end marker)
    std::vector<int> returns; // every zf_line result, in order
};

// Writes `img` as the only block of a new file; a return of 0 from
// zf_line starts the lines again (a two-pass coding).
Coded encode(const std::string &path, int depth, const Image &img, const char *tag);

// Decodes the first block: the lines delivered before any failure, with
// the last zf_line result and zf_errno after it.
Image decode(const std::string &path, int *last = nullptr, int *error = nullptr);

// A value in the pixel form of a depth.
uint32_t masked(int depth, uint32_t v);

// Areas that repeat the left or upper neighbour, broken by new colours
// drawn from a palette of `colours` values.
Image random_image(std::mt19937 &rng, int depth, int w, int h, int colours);

} // namespace zt

#endif
