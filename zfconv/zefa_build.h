// zefa_build.h - ZEFA files coded through the library into memory, and the
// pixel values of a picture at each depth.
#ifndef ZEFA_ZFCONV_ZEFA_BUILD_H
#define ZEFA_ZFCONV_ZEFA_BUILD_H

#include "image.h"

#include "zefa.h"

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace zfconv {

// A block to code: its place, its tag and where its lines come from.
struct BlockSource {
    std::array<char, 4> tag{};
    int x = 0, y = 0, width = 0, height = 0;
    // puts the width values of line `row`; false stops the file (a colour
    // the depth cannot hold)
    std::function<bool(int row, uint32_t *line)> fill;
};

// How writing a file went: `colour_missing` when a block's lines could not
// be filled (a colour the depth or palette cannot hold), `failed` when the
// library refused; `error` says it in words either way.
enum class Built { ok, colour_missing, failed };

// A new file with these blocks, written by the library into memory; its
// bytes.
Built library_file(const zf_params &params, const char *title, const char *comment, const char *artist, int number,
                  const std::vector<BlockSource> &blocks, Bytes &out, std::string &error);

// A file this program just had the library write, cut into its parts as
// the library's walk finds them: everything before the first block, each
// block (header and payload) and the end marker.
struct FileParts {
    Bytes lead;
    std::vector<Bytes> blocks;
    Bytes tail;
};
bool split_file(const Bytes &file, FileParts &parts);

// Tiles no larger than the library's largest block covering w x h at (0, 0).
std::vector<BlockSource> tiles(int w, int h, std::array<char, 4> tag);

// The tag of a coding name ("none", "fast", "optimizing") at a depth;
// false for other names.
bool coding_tag(const std::string &coding, int depth, std::array<char, 4> &tag);

// Colours and pixel values.  A colour is 0xRRGGBB.
uint32_t colour_at(const Image &img, std::size_t i);
// What a file's pixel value shows at a depth (15-bit widened as the
// library widens it; 8-bit through the palette of `pal` entries).
uint32_t shown_colour(int depth, uint32_t value, const uint8_t *pal, int entries);

// Turns colours into the pixel values of one depth.  Depth 8 looks them up
// in the palette (the first entry of a colour wins); a colour it lacks
// fails.  A hint (the value the pixel had) is kept when it shows the same
// colour, so duplicate palette entries and stray low bits survive.
class ValueMap {
public:
    ValueMap(int depth, const uint8_t *palette, int entries);
    bool value(uint32_t colour, uint32_t &out, const uint32_t *hint = nullptr) const;
    int depth() const { return depth_; }

private:
    int depth_;
    std::vector<uint8_t> pal_;
    std::vector<std::pair<uint32_t, uint8_t>> index_; // colour -> first index, sorted
};

// The pixel values of one picture for a file of this depth: palette indices
// pass as they are when `direct`, everything else through the map.
class PictureValues {
public:
    PictureValues(const Image &img, const ValueMap &map, bool direct) : img_(img), map_(map), direct_(direct) {}
    bool value(int x, int y, uint32_t &out, const uint32_t *hint = nullptr) const;

private:
    const Image &img_;
    const ValueMap &map_;
    bool direct_;
};

// Makes `block` take its lines from `values` at its place (the values must
// outlive the coding).
void fill_from(BlockSource &block, const PictureValues &values);

} // namespace zfconv

#endif
