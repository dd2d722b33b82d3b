#include "codec_run.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace zt {
namespace {

// Codes one block: a return of 0 from zf_line starts the lines again (the
// second pass of a two-pass coding).
bool write_block(zf_file *f, const Block &b, std::vector<int> *returns)
{
    uint32_t *line = nullptr;
    const int w = static_cast<int>(b.lines[0].size()), h = static_cast<int>(b.lines.size());
    if (zf_begin_write(f, &line, b.x, b.y, w, h, b.tag, -1) != 0)
        return false;
    for (size_t y = 0, calls = 0; calls <= 2 * b.lines.size(); ++calls) {
        std::copy(b.lines[y].begin(), b.lines[y].end(), line);
        const int t = zf_line(f, &line);
        if (returns)
            returns->push_back(t);
        if (t < 0)
            return t == -2;
        y = t == 0 ? 0 : y + 1;
    }
    return false;
}

ReadBack read_all(zf_file *f, ReadBack r = {})
{
    if (!f) {
        r.error = zf_errno;
        return r;
    }
    r.opened = true;
    zf_get_info(f, &r.info);
    r.comment = zf_get_comment(f);
    const auto failed = [&r] { r.error = r.error ? r.error : zf_errno; };
    int kind = zf_first_block(f);
    for (; kind > 0 && r.blocks.size() < 1000; kind = zf_next_block(f)) {
        ReadBlock &b = r.blocks.emplace_back();
        zf_get_block(f, &b.head);
        if (kind != 1)
            continue;
        if (zf_begin_read(f) != 0) {
            failed();
            continue;
        }
        uint32_t *line = nullptr;
        int t;
        while ((t = zf_line(f, &line)) >= 0) {
            b.returns.push_back(t);
            b.lines.emplace_back(line, line + b.head.width);
        }
        b.returns.push_back(t);
        if (t == -1) {
            failed();
            b.returns.push_back(zf_line(f, &line));
        }
    }
    if (kind < 0)
        failed();
    r.close = zf_close(f);
    return r;
}

} // namespace

Coded encode(const std::string &path, int depth, const Image &img, const char *tag)
{
    zf_params p = params(depth);
    p.n_pal = 0;
    Coded c;
    if (zf_file *f = zf_create_with(path.c_str(), "", nullptr, "", 0, &p)) {
        write_block(f, {0, 0, tag, img}, &c.returns);
        zf_close(f);
    }
    const Bytes b = read_bytes(path);
    if (b.size() >= ZF_HEADER_SIZE + 1 + ZF_BLOCK_HEADER_SIZE + 8)
        c.payload.assign(b.begin() + ZF_HEADER_SIZE + 1 + ZF_BLOCK_HEADER_SIZE, b.end() - 8);
    return c;
}

Image decode(const std::string &path)
{
    const ReadBack r = read_back(path);
    return r.blocks.empty() ? Image{} : r.blocks[0].lines;
}

uint32_t masked(int depth, uint32_t v) { return depth == 8 ? v & 0xFF : depth == 15 ? v & 0xFFFE : v & 0xFFFFFF; }

Image random_image(std::mt19937 &rng, int depth, int w, int h, int colours)
{
    std::vector<uint32_t> palette(static_cast<size_t>(colours));
    for (auto &p : palette)
        p = masked(depth, static_cast<uint32_t>(rng()));
    Image img(static_cast<size_t>(h), std::vector<uint32_t>(static_cast<size_t>(w)));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const auto roll = rng() % 10;
            uint32_t v = palette[rng() % palette.size()];
            if (roll < 4 && x > 0)
                v = img[y][x - 1];
            else if (roll < 7 && y > 0)
                v = img[y - 1][std::min(w - 1, std::max(0, x + static_cast<int>(rng() % 5) - 2))];
            img[y][x] = v;
        }
    return img;
}

Image pattern(int depth, int w, int h, int seed)
{
    Image img(static_cast<size_t>(h), std::vector<uint32_t>(static_cast<size_t>(w)));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const auto v = static_cast<uint32_t>(x * 37 + y * 11 + seed * 101);
            img[y][x] = depth == 8 ? v & 0xFF : depth == 15 ? (v * 2) & 0xFFFE : (v * 0x010307) & 0xFFFFFF;
        }
    return img;
}

zf_params params(int depth, int ratio_x, int ratio_y)
{
    zf_params p{};
    p.saver = "test";
    p.depth = depth;
    p.max_width = p.max_height = -1;
    p.ratio_x = ratio_x;
    p.ratio_y = ratio_y;
    if (depth == 8) {
        p.n_pal = 256;
        p.n_bits = 8;
        for (int i = 0; i < 768; ++i)
            p.palette[i] = static_cast<unsigned char>(255 - i / 3);
    }
    return p;
}

bool write_blocks(zf_file *f, const std::vector<Block> &blocks)
{
    if (!f)
        return false;
    const bool written = std::all_of(blocks.begin(), blocks.end(), [f](const Block &b) { return write_block(f, b, nullptr); });
    return zf_close(f) == 0 && written;
}

Bytes write_zefa(const std::string &path, const zf_params &p, const std::vector<Block> &blocks, const Texts &texts)
{
    zf_file *f = zf_create_with(path.c_str(), texts.title, texts.comment, texts.artist, texts.number, &p);
    return write_blocks(f, blocks) ? read_bytes(path) : Bytes{};
}

ReadBack read_back(const std::string &path) { return read_all(zf_open(path.c_str())); }
ReadBack read_back(const Bytes &bytes) { return read_all(zf_open_memory(bytes.data(), bytes.size())); }

Bytes read_bytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace zt
