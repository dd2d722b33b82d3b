// archive_parts.h - what the private chunk's format (archive_format.cpp),
// its making (archive_make.cpp) and its restoring (archive_restore.cpp)
// share: the chunk's limits and flags, block geometry, and blocks coded
// and read back through the library.
#ifndef ZEFA_ZFCONV_ARCHIVE_PARTS_H
#define ZEFA_ZFCONV_ARCHIVE_PARTS_H

#include "archive.h"
#include "zefa_build.h"

#include "zefa.hpp"

#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace zfconv {

inline constexpr uint8_t kVersion = 1;
inline constexpr uint32_t kMaxBody = 1u << 30; // no ZEFA file zfconv reads is larger
// What a chunk may cost, tied to the picture its PNG holds.  The body: the
// lead, stored payloads and the tail, which for a file this program read
// stay well within a few bytes per pixel of the picture they belong to.
inline constexpr std::size_t kBodyFloor = std::size_t{16} << 20;
inline constexpr std::size_t kBodyPerPixel = 4;
// The pixels the blocks make a decoder draw (the sum of block areas) are
// held to the library's work limit for the picture (zf_limits); setting a
// block up costs the decoder and the coders as much as this many pixels,
// however small the block.
inline constexpr long long kWorkPerBlock = 4096;
enum Flags : uint8_t { kHoles = 1, kPartlyDrawn = 2, kSoundEnd = 4 };

using zefa::Record;

// ---- geometry ------------------------------------------------------------

struct Rect {
    long long x = 0, y = 0, w = 0, h = 0;
    bool meets(const Rect &o) const { return x < o.x + o.w && o.x < x + w && y < o.y + o.h && o.y < y + h; }
    bool holds(long long px, long long py) const { return px >= x && px < x + w && py >= y && py < y + h; }
};

inline Rect rect_of(const zf_block &b) { return Rect{b.x, b.y, b.width, b.height}; }

// The place and size a stored block header gives (none when it is short).
inline Rect rect_of(const Bytes &head)
{
    zf_block b{};
    zf_read_block_header(head.data(), head.size(), &b, nullptr);
    return rect_of(b);
}

// ---- reading blocks back -------------------------------------------------

// A file of the lead, these bytes and an end marker, to read one block with.
inline Bytes mini_file(const Bytes &lead, const Bytes &block_head, const Bytes &payload)
{
    Bytes f = lead;
    f.insert(f.end(), block_head.begin(), block_head.end());
    f.insert(f.end(), payload.begin(), payload.end());
    f.insert(f.end(), 8, 0);
    return f;
}

// The lines of the first block of `file`, as many as decode; -1 when not
// even the block can be reached.
inline int first_block_lines(const Bytes &file, std::vector<uint32_t> &values, int &width, int max_lines = INT_MAX)
{
    Record f(zf_open_memory(file.data(), file.size()));
    if (!f || zf_first_block(f.get()) != 1)
        return -1;
    zf_block b{};
    zf_get_block(f.get(), &b);
    width = b.width;
    values.clear();
    if (zf_begin_read(f.get()) != 0)
        return 0;
    int lines = 0;
    uint32_t *line = nullptr;
    while (lines < max_lines && zf_line(f.get(), &line) >= 0) {
        values.insert(values.end(), line, line + b.width);
        ++lines;
    }
    return lines;
}

// The header and palette of a lead, read as the library reads them.
struct LeadInfo {
    zf_info info{};
    int n_bits = 0;
    uint8_t palette[3 * ZF_PALETTE_MAX] = {};
};

inline bool read_lead(const Bytes &lead, LeadInfo &out)
{
    Bytes file = lead;
    file.insert(file.end(), 8, 0);
    Record f(zf_open_memory(file.data(), file.size()));
    if (!f)
        return false;
    zf_get_info(f.get(), &out.info);
    out.n_bits = zf_get_palette_bits(f.get());
    std::memcpy(out.palette, zf_get_palette(f.get()), sizeof out.palette);
    return true;
}

inline zf_params params_of(const LeadInfo &l)
{
    zf_params p{};
    p.depth = l.info.depth;
    p.max_width = p.max_height = -1;
    p.ratio_x = p.ratio_y = 1;
    p.n_pal = l.info.n_pal;
    p.n_bits = std::clamp(l.n_bits, 1, 256);
    std::memcpy(p.palette, l.palette, sizeof p.palette);
    return p;
}

// Codes the blocks; their headers and payloads in order.
inline Built code_blocks(const zf_params &p, const std::vector<BlockSource> &blocks, std::vector<Bytes> &out,
                  std::string &error)
{
    out.clear();
    if (blocks.empty())
        return Built::ok;
    Bytes file;
    FileParts parts;
    const Built built = library_file(p, nullptr, nullptr, nullptr, 0, blocks, file, error);
    if (built != Built::ok)
        return built;
    if (!split_file(file, parts) || parts.blocks.size() != blocks.size()) {
        error = "the library wrote an unexpected file";
        return Built::failed;
    }
    out = std::move(parts.blocks);
    return Built::ok;
}

inline bool picture_is_direct(const Image &pic, int depth, const uint8_t *palette)
{
    if (depth != 8 || pic.kind != Kind::palette)
        return false;
    Bytes padded(pic.palette);
    padded.resize(3 * ZF_PALETTE_MAX, 0);
    return std::memcmp(padded.data(), palette, padded.size()) == 0;
}


// What a chunk this program made always holds; a clear word for what is
// not, before anything is decoded or allocated for it.
bool chunk_is_possible(const Archive &a, std::string &why);

} // namespace zfconv

#endif
