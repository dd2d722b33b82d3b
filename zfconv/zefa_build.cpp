#include "zefa_build.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace zfconv {
namespace {

uint32_t get_u32(const uint8_t *p) { return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]; }

// A descriptor on memory that lives as long as this object.
class MemoryFd {
public:
    MemoryFd() : fd_(memfd_create("zfconv", MFD_CLOEXEC)) {}
    ~MemoryFd()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    MemoryFd(const MemoryFd &) = delete;
    MemoryFd &operator=(const MemoryFd &) = delete;
    int fd() const { return fd_; }

    bool read_all(Bytes &out) const
    {
        const off_t size = lseek(fd_, 0, SEEK_END);
        if (size < 0)
            return false;
        out.resize(static_cast<std::size_t>(size));
        std::size_t done = 0;
        while (done < out.size()) {
            const ssize_t n = pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

private:
    int fd_;
};

std::string library_error(const char *what)
{
    // the file is made in memory, but a file size limit counts it too
    if (zf_errno == EFBIG)
        return "the output would pass the file size limit (ulimit -f)";
    return std::string(what) + ": " + zf_strerror(zf_errno);
}

// Codes one block; a ZFSS block takes every line twice.
bool code_block(zf_file *f, const BlockSource &b, std::string &error)
{
    const char tag[5] = {b.tag[0], b.tag[1], b.tag[2], b.tag[3], 0};
    uint32_t *line = nullptr;
    if (zf_begin_write(f, &line, b.x, b.y, b.width, b.height, tag, -1) != 0) {
        error = library_error("cannot start a block");
        return false;
    }
    int row = 0;
    for (;;) {
        if (row >= b.height || !b.fill(row, line)) {
            // abandoned: the block never reaches the file
            if (error.empty())
                error = "the picture holds a colour the file cannot";
            return false;
        }
        const int r = zf_line(f, &line);
        if (r == -2)
            return true;
        if (r == -1) {
            error = library_error("cannot code a block");
            return false;
        }
        row = r == 0 ? 0 : row + 1;
    }
}

} // namespace

bool library_file(const zf_params &params, const char *title, const char *comment, const char *artist, int number,
                  const std::vector<BlockSource> &blocks, Bytes &out, std::string &error)
{
    MemoryFd mem;
    if (mem.fd() < 0) {
        error = std::string("cannot make a file in memory: ") + std::strerror(errno);
        return false;
    }
    zf_file *f = zf_create_fd(mem.fd(), title, comment, artist, number, &params);
    if (!f) {
        error = library_error("cannot create a ZEFA file");
        return false;
    }
    bool ok = true;
    for (const BlockSource &b : blocks)
        if (!(ok = code_block(f, b, error)))
            break;
    if (zf_close(f) != 0 && ok) {
        error = library_error("cannot write the ZEFA file");
        ok = false;
    }
    if (ok && !mem.read_all(out)) {
        error = std::string("cannot read the file back from memory: ") + std::strerror(errno);
        ok = false;
    }
    return ok;
}

bool split_file(const Bytes &file, FileParts &parts)
{
    parts = FileParts{};
    if (file.size() < ZF_HEADER_SIZE)
        return false;
    std::size_t pos = get_u32(file.data() + ZF_H_FIRST);
    if (pos > file.size())
        return false;
    parts.lead.assign(file.begin(), file.begin() + static_cast<long>(pos));
    while (pos + 8 <= file.size() && file[pos] != 0) {
        const std::size_t len = get_u32(file.data() + pos + ZF_B_LENGTH);
        if (len < ZF_BLOCK_HEADER_SIZE || len > file.size() - pos)
            return false;
        parts.blocks.emplace_back(file.begin() + static_cast<long>(pos), file.begin() + static_cast<long>(pos + len));
        pos += len;
    }
    parts.tail.assign(file.begin() + static_cast<long>(pos), file.end());
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

} // namespace zfconv
