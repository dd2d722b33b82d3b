// codec_run.h - ZEFA files for the tests, written and read back through the
// library's per-record calls: one block coded with a tag (every pass the
// coding asks for), files of several blocks, and all that a file gives back.
// No test framework here: the fuzz targets use it too.
#ifndef ZEFA_TESTS_CODEC_RUN_H
#define ZEFA_TESTS_CODEC_RUN_H

#include "zefa.h"

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

// Writes `img` as the only block of a new file without palette or comment.
Coded encode(const std::string &path, int depth, const Image &img, const char *tag);

// Decodes the first block: the lines delivered before any failure.
Image decode(const std::string &path);

// A value in the pixel form of a depth.
uint32_t masked(int depth, uint32_t v);

// Areas that repeat the left or upper neighbour, broken by new colours
// drawn from a palette of `colours` values.
Image random_image(std::mt19937 &rng, int depth, int w, int h, int colours);

// A smooth pattern in the pixel form of a depth, different for each seed.
Image pattern(int depth, int w, int h, int seed = 0);

// What a file is created with: at depth 8 a palette whose entry i is the
// grey 255 - i.
zf_params params(int depth, int ratio_x = 1, int ratio_y = 1);

struct Block {
    int x, y;
    const char *tag;
    Image lines;
};

struct Texts {
    const char *title = "t", *comment = nullptr, *artist = "a";
    int number = 1;
};

// Writes these blocks into a new record and closes it; false after any failure.
bool write_blocks(zf_file *f, const std::vector<Block> &blocks);
// Writes a file of these blocks; its bytes, or nothing after any failure.
Bytes write_zefa(const std::string &path, const zf_params &p, const std::vector<Block> &blocks,
                 const Texts &texts = {});

// All that a file gives back: the header, each block the walk reaches with
// the lines it delivers, and the first failure.
struct ReadBlock {
    zf_block head{};
    Image lines;
    std::vector<int> returns; // every zf_line result (-1 ends them, and one more call follows it)
};
struct ReadBack {
    bool opened = false;
    zf_info info{};
    std::string comment;
    std::vector<ReadBlock> blocks; // at most 1000: a walk that does not end shows
    int error = 0;                 // zf_errno after the first failure, 0 when none
    int close = -1;                // zf_close's result
};
ReadBack read_back(const std::string &path);
ReadBack read_back(const Bytes &bytes); // from memory

Bytes read_bytes(const std::string &path);

} // namespace zt

#endif
