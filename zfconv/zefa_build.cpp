#include "zefa_build.h"

#include "zefa.hpp"

#include <algorithm>
#include <memory>

namespace zfconv {
namespace {

std::string library_error(const char *what)
{
    return std::string(what) + ": " + zf_strerror(zf_errno);
}

// Codes one block; a ZFSS block takes every line twice.
Built code_block(zf_file *f, const BlockSource &b, std::string &error)
{
    const char tag[5] = {b.tag[0], b.tag[1], b.tag[2], b.tag[3], 0};
    uint32_t *line = nullptr;
    if (zf_begin_write(f, &line, b.x, b.y, b.width, b.height, tag, -1) != 0) {
        error = library_error("cannot start a block");
        return Built::failed;
    }
    int row = 0;
    for (;;) {
        if (row >= b.height || !b.fill(row, line)) {
            // abandoned: the block never reaches the file
            if (error.empty())
                error = "the picture holds a colour the file cannot";
            return Built::colour_missing;
        }
        const int r = zf_line(f, &line);
        if (r == -2)
            return Built::ok;
        if (r == -1) {
            error = library_error("cannot code a block");
            return Built::failed;
        }
        row = r == 0 ? 0 : row + 1;
    }
}

} // namespace

Built library_file(const zf_params &params, const char *title, const char *comment, const char *artist, int number,
                   const std::vector<BlockSource> &blocks, Bytes &out, std::string &error)
{
    void *data = nullptr;
    size_t size = 0;
    zf_file *f = zf_create_memory(&data, &size, title, comment, artist, number, &params);
    if (!f) {
        error = library_error("cannot create a ZEFA file");
        return Built::failed;
    }
    Built result = Built::ok;
    for (const BlockSource &b : blocks)
        if ((result = code_block(f, b, error)) != Built::ok)
            break;
    if (zf_close(f) != 0 && result == Built::ok) {
        error = library_error("cannot write the ZEFA file");
        result = Built::failed;
    }
    std::unique_ptr<void, zefa::Freer> held(data);
    if (result == Built::ok)
        out.assign(static_cast<const uint8_t *>(data), static_cast<const uint8_t *>(data) + size);
    return result;
}

bool split_file(const Bytes &file, FileParts &parts)
{
    parts = FileParts{};
    zefa::Record f(zf_open_memory(file.data(), file.size()));
    if (!f)
        return false;
    long long at = 0, length = 0;
    int r = zf_first_block(f.get());
    for (bool first = true; r > 0; r = zf_next_block(f.get()), first = false) {
        if (zf_get_block_span(f.get(), &at, &length) != 0)
            return false;
        if (first)
            parts.lead.assign(file.begin(), file.begin() + at);
        parts.blocks.emplace_back(file.begin() + at, file.begin() + at + length);
    }
    if (r < 0 || zf_get_block_span(f.get(), &at, &length) != 0)
        return false;
    if (parts.blocks.empty())
        parts.lead.assign(file.begin(), file.begin() + at);
    parts.tail.assign(file.begin() + at, file.end());
    return parts.tail.size() >= 8;
}

std::vector<BlockSource> tiles(int w, int h, std::array<char, 4> tag)
{
    std::vector<BlockSource> out;
    for (int y = 0; y < h; y += ZF_MAX_BLOCK_HEIGHT)
        for (int x = 0; x < w; x += ZF_MAX_BLOCK_WIDTH) {
            BlockSource b;
            b.tag = tag;
            b.x = x;
            b.y = y;
            b.width = std::min(ZF_MAX_BLOCK_WIDTH, w - x);
            b.height = std::min(ZF_MAX_BLOCK_HEIGHT, h - y);
            out.push_back(std::move(b));
        }
    return out;
}

bool coding_tag(const std::string &coding, int depth, std::array<char, 4> &tag)
{
    // as zfenc codes uncompressed files: ZFBI, 24-bit ones ZFBM
    const char *t = coding == "none" ? (depth == 24 ? "ZFBM" : "ZFBI") : coding == "fast" ? "ZFSF" : coding == "optimizing" ? "ZFSS" : nullptr;
    if (!t)
        return false;
    std::copy_n(t, 4, tag.begin());
    return true;
}

uint32_t colour_at(const Image &img, std::size_t i)
{
    switch (img.kind) {
    case Kind::rgb: {
        const uint8_t *p = &img.pixels[3 * i];
        return uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
    }
    case Kind::grey: return img.pixels[i] * 0x010101u;
    case Kind::palette: {
        const std::size_t at = 3 * std::size_t{img.pixels[i]};
        if (at + 2 >= img.palette.size())
            return 0;
        return uint32_t{img.palette[at]} << 16 | uint32_t{img.palette[at + 1]} << 8 | img.palette[at + 2];
    }
    }
    return 0;
}

namespace {
// 5 bits widened as the library widens them: the top bits repeated.
uint32_t widen5(uint32_t c) { return (c & 31) << 3 | (c & 31) >> 2; }
} // namespace

uint32_t shown_colour(int depth, uint32_t value, const uint8_t *pal, int entries)
{
    if (depth == 24)
        return value & 0xFFFFFF;
    if (depth == 15)
        return widen5(value >> 6) << 16 | widen5(value >> 11) << 8 | widen5(value >> 1);
    const uint32_t i = value & 0xFF;
    if (static_cast<int>(i) >= entries)
        return 0;
    return uint32_t{pal[3 * i]} << 16 | uint32_t{pal[3 * i + 1]} << 8 | pal[3 * i + 2];
}

ValueMap::ValueMap(int depth, const uint8_t *palette, int entries) : depth_(depth)
{
    if (depth != 8)
        return;
    pal_.assign(palette, palette + 3 * entries);
    for (int i = 0; i < entries; ++i)
        index_.emplace_back(shown_colour(8, static_cast<uint32_t>(i), palette, entries), static_cast<uint8_t>(i));
    // stable: among equal colours the first index stays first
    std::stable_sort(index_.begin(), index_.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
}

bool ValueMap::value(uint32_t colour, uint32_t &out, const uint32_t *hint) const
{
    if (depth_ == 24) {
        out = colour;
        return true;
    }
    if (hint && shown_colour(depth_, *hint, pal_.data(), static_cast<int>(pal_.size() / 3)) == colour) {
        out = *hint;
        return true;
    }
    if (depth_ == 15) {
        const uint32_t r = colour >> 19 & 31, g = colour >> 11 & 31, b = colour >> 3 & 31;
        out = g << 11 | r << 6 | b << 1;
        return true;
    }
    const auto it = std::lower_bound(index_.begin(), index_.end(), colour,
                                     [](const auto &e, uint32_t c) { return e.first < c; });
    if (it == index_.end() || it->first != colour)
        return false;
    out = it->second;
    return true;
}

bool PictureValues::value(int x, int y, uint32_t &out, const uint32_t *hint) const
{
    const std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(img_.width) + static_cast<std::size_t>(x);
    if (direct_) {
        out = img_.pixels[i];
        return true;
    }
    return map_.value(colour_at(img_, i), out, hint);
}

void fill_from(BlockSource &block, const PictureValues &values)
{
    const int bx = block.x, by = block.y, bw = block.width;
    block.fill = [&values, bx, by, bw](int row, uint32_t *line) {
        for (int c = 0; c < bw; ++c)
            if (!values.value(bx + c, by + row, line[c]))
                return false;
        return true;
    };
}

} // namespace zfconv
