// hostile.h - hostile files of the project's own, for the tests, the fuzz
// seeds and measurements: PNGs whose private chunk lies (forged digests,
// blocks hidden where bytes are only copied, two chunks), chunks that
// claim far more work or memory than their few bytes, and ZEFA files whose
// header texts are terminal control sequences.
//
// The chunks are zfconv's own (archive.h): a ZEFA file's chunk is made as
// zfconv makes it, altered, and sealed again with digests recomputed for
// what it now holds, as anyone can.
#ifndef ZEFA_TESTS_HOSTILE_H
#define ZEFA_TESTS_HOSTILE_H

#include "archive.h"
#include "image.h"

#include <string>
#include <vector>

namespace zt::hostile {

using zfconv::Archive;
using zfconv::Bytes;
using Picture = zfconv::Image;

// A ZEFA file of one depth: each block a uniform colour (a palette index
// at depth 8, whose palette gives index i the colour (i, 255 - i, 7)),
// at (x, y) with w x h pixels, coded with `tag`; the canvas is the header
// size given (-1: the blocks').  Texts are Shift-JIS bytes as stored.
struct Fill {
    int x, y, w, h;
    uint32_t value;
    const char *tag = "ZFSF";
};
Bytes zefa(int depth, const std::vector<Fill> &blocks, const std::string &title = "t",
           const std::string &comment = "", int width = -1, int height = -1);

// The chunk of a ZEFA file as zfconv makes it, every block kept as its
// stored bytes (so that any can be altered), and the picture its PNG shows.
struct Made {
    Archive archive;
    Picture picture;
};
Made chunk_of(const Bytes &zefa_file);

// The file a chunk of stored and raw blocks lays out.
Bytes laid_out(const Archive &a);
// Digests made true again: the file's for what the chunk lays out, the
// picture's for `shown`.
void reseal(Archive &a, const Picture &shown);

// A PNG of `picture` holding each of `chunks` (private chunk data) after
// the image data, or the first one before it.
Bytes png(const Picture &picture, const std::vector<Bytes> &chunks, bool first_before_image_data = false);
// The same as zfconv writes it: the picture and the chunk of `a`.
Bytes png(const Picture &picture, const Archive &a);

// A named hostile PNG and whether an honest program may restore the
// chunk's file from it (false: the chunk must be set aside or refused).
struct Case {
    std::string name;
    Bytes png;
};
// Forged and damaged chunks: altered data under recomputed digests (an
// all-red picture whose chunk holds an all-blue file, a raw block that is
// an end marker or a decodable block, a tail carrying a block, a stopped
// block that is not where it was checked), a lead cut by two bytes, leads
// of impossible depths, two chunks, a forged chunk before the image data.
std::vector<Case> forged_chunks();
// Bombs: a 1 x 1 picture whose chunk stores a block of 32759 x 32767
// pixels in a few bytes; a lead of `lead_bytes` (a comment of zeros)
// compressed; `blocks` blocks of `block_side` squared pixels over a canvas
// of `side` squared.
Bytes stored_block_bomb();
Bytes lead_bomb(std::size_t lead_bytes);
Bytes many_blocks_bomb(int blocks, int side, int block_side);

// Shift-JIS header text that would drive a terminal: ESC sequences
// (colour, clear, OSC 0 window title, OSC 52 clipboard), BEL, BS, CR, DEL.
std::string terminal_attack();

} // namespace zt::hostile

#endif
