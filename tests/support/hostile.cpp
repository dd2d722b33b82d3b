#include "hostile.h"

#include "byte_order.h"
#include "png_meta.h"
#include "readers.h"
#include "zefa_build.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace zt::hostile {
namespace {

using zfbytes::put_u32;
void put_s16(uint8_t *p, int v)
{
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
void append_u32(Bytes &b, uint32_t v)
{
    b.resize(b.size() + 4);
    put_u32(&b[b.size() - 4], v);
}

void need(bool ok, const std::string &what)
{
    if (!ok)
        throw std::runtime_error("hostile: " + what);
}

Picture uniform(int w, int h, uint32_t colour)
{
    Picture p;
    p.width = w;
    p.height = h;
    p.kind = zfconv::Kind::rgb;
    p.pixels.resize(3 * static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    for (std::size_t i = 0; i < p.pixels.size(); i += 3) {
        p.pixels[i] = static_cast<uint8_t>(colour >> 16);
        p.pixels[i + 1] = static_cast<uint8_t>(colour >> 8);
        p.pixels[i + 2] = static_cast<uint8_t>(colour);
    }
    return p;
}

// A block's bytes (header and payload) as the chunk keeps it.
Bytes block_bytes(const zfconv::ArchiveBlock &b)
{
    Bytes out = b.head;
    out.insert(out.end(), b.payload.begin(), b.payload.end());
    return out;
}

// One PNG chunk: length, type, data, CRC.
Bytes png_chunk(const char *type, const Bytes &data)
{
    Bytes c;
    append_u32(c, static_cast<uint32_t>(data.size()));
    c.insert(c.end(), type, type + 4);
    c.insert(c.end(), data.begin(), data.end());
    const uLong crc = crc32(crc32(0, reinterpret_cast<const Bytef *>(type), 4), data.data(), static_cast<uInt>(data.size()));
    append_u32(c, static_cast<uint32_t>(crc));
    return c;
}

// Where the chunk of `type` starts in a PNG (its length field), or size.
std::size_t find_chunk(const Bytes &png, const char *type)
{
    for (std::size_t at = 8; at + 12 <= png.size(); at += 12 + zfbytes::get_u32(&png[at]))
        if (std::memcmp(&png[at + 4], type, 4) == 0)
            return at;
    return png.size();
}

Bytes sealed_png(Archive a, const Picture &shown)
{
    reseal(a, shown);
    return png(shown, a);
}

constexpr uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF;

} // namespace

Bytes zefa(int depth, const std::vector<Fill> &blocks, const std::string &title, const std::string &comment, int width,
           int height)
{
    zf_params p{};
    p.saver = "hostile";
    p.depth = depth;
    p.max_width = width;
    p.max_height = height;
    p.ratio_x = p.ratio_y = 1;
    if (depth == 8) {
        p.n_pal = ZF_PALETTE_MAX;
        p.n_bits = 8;
        for (int i = 0; i < ZF_PALETTE_MAX; ++i) {
            p.palette[3 * i] = static_cast<unsigned char>(i);
            p.palette[3 * i + 1] = static_cast<unsigned char>(255 - i);
            p.palette[3 * i + 2] = 7;
        }
    }
    std::vector<zfconv::BlockSource> sources;
    for (const Fill &f : blocks) {
        zfconv::BlockSource s;
        std::copy_n(f.tag, 4, s.tag.begin());
        s.x = f.x, s.y = f.y, s.width = f.w, s.height = f.h;
        const uint32_t v = f.value;
        const int w = f.w;
        s.fill = [v, w](int, uint32_t *line) {
            std::fill_n(line, w, v);
            return true;
        };
        sources.push_back(std::move(s));
    }
    Bytes out;
    std::string error;
    need(zfconv::library_file(p, title.c_str(), comment.c_str(), "hostile", 1, sources, out, error) == zfconv::Built::ok,
         error);
    return out;
}

Made chunk_of(const Bytes &zefa_file)
{
    Made m;
    std::string error, damage;
    Picture drawn;
    need(zfconv::read_zefa(zefa_file.data(), zefa_file.size(), drawn, error, damage), error);
    m.picture = zfconv::png_view(drawn);
    need(zfconv::make_archive(zefa_file, m.picture, m.archive, error), error);
    // every block as its stored bytes, found by their lengths as the walk finds them
    std::size_t pos = m.archive.lead.size();
    for (zfconv::ArchiveBlock &b : m.archive.blocks) {
        if (b.kind == zfconv::ArchiveBlock::raw) {
            pos += b.payload.size();
            continue;
        }
        const std::size_t len = zfbytes::get_u32(b.head.data() + ZF_B_LENGTH);
        if (b.kind == zfconv::ArchiveBlock::rebuilt) {
            const std::size_t from = std::min(pos + ZF_BLOCK_HEADER_SIZE, zefa_file.size());
            const std::size_t to = std::min(pos + len, zefa_file.size());
            b.payload.assign(zefa_file.begin() + static_cast<long>(from), zefa_file.begin() + static_cast<long>(to));
            b.kind = zfconv::ArchiveBlock::stored;
        }
        pos += len;
    }
    need(laid_out(m.archive) == zefa_file, "the chunk does not lay out its file");
    return m;
}

Bytes laid_out(const Archive &a)
{
    Bytes f = a.lead;
    for (const zfconv::ArchiveBlock &b : a.blocks) {
        need(b.kind != zfconv::ArchiveBlock::rebuilt, "a rebuilt block has no bytes to lay out");
        if (b.kind == zfconv::ArchiveBlock::stored)
            f.insert(f.end(), b.head.begin(), b.head.end());
        f.insert(f.end(), b.payload.begin(), b.payload.end());
    }
    f.insert(f.end(), a.tail.begin(), a.tail.end());
    return f;
}

void reseal(Archive &a, const Picture &shown)
{
    const Bytes file = laid_out(a);
    a.file_size = file.size();
    a.file_digest = zfconv::sha256(file.data(), file.size());
    a.pixel_digest = zfconv::pixel_digest(zfconv::png_view(shown));
}

Bytes png(const Picture &picture, const std::vector<Bytes> &chunks, bool first_before_image_data)
{
    zfconv::PngMeta meta;
    meta.few_colours_as_palette = true; // as zfconv writes a ZEFA file's PNG
    Bytes out;
    std::string error;
    need(zfconv::encode_png(picture, meta, out, error), error);
    Bytes extra;
    for (std::size_t i = first_before_image_data ? 1 : 0; i < chunks.size(); ++i) {
        const Bytes c = png_chunk(zfconv::kArchiveChunk, chunks[i]);
        extra.insert(extra.end(), c.begin(), c.end());
    }
    out.insert(out.begin() + static_cast<long>(find_chunk(out, "IEND")), extra.begin(), extra.end());
    if (first_before_image_data && !chunks.empty()) {
        const Bytes c = png_chunk(zfconv::kArchiveChunk, chunks[0]);
        out.insert(out.begin() + static_cast<long>(find_chunk(out, "IDAT")), c.begin(), c.end());
    }
    return out;
}

Bytes png(const Picture &picture, const Archive &a) { return png(picture, {zfconv::pack_archive(a)}); }

std::vector<Case> forged_chunks()
{
    std::vector<Case> cases;
    const Picture red = uniform(16, 8, kRed);
    const Bytes red_file = zefa(24, {{0, 0, 16, 8, kRed}});
    const Bytes blue_file = zefa(24, {{0, 0, 16, 8, kBlue}});
    const Made blue_block = chunk_of(zefa(24, {{0, 0, 4, 4, kBlue}}));
    const Bytes blue_bytes = block_bytes(blue_block.archive.blocks[0]);

    // an all-blue file under digests that call it the all-red picture, exact
    Archive recoloured = chunk_of(blue_file).archive;
    reseal(recoloured, red);
    cases.push_back({"recoloured", png(red, recoloured)});
    cases.push_back({"recoloured chunk before the image data", png(red, {zfconv::pack_archive(recoloured)}, true)});

    // a "raw" block that the walk reads as a block drawing over the picture
    Made m = chunk_of(red_file);
    zfconv::ArchiveBlock raw;
    raw.kind = zfconv::ArchiveBlock::raw;
    raw.payload = blue_bytes;
    m.archive.blocks.push_back(raw);
    cases.push_back({"raw block that draws", sealed_png(m.archive, red)});

    // a "raw" block that is an end marker: nothing after it is read
    m = chunk_of(zefa(24, {{0, 0, 16, 4, kRed}, {0, 4, 16, 4, kGreen}}));
    raw.payload.assign(8, 0);
    m.archive.blocks.insert(m.archive.blocks.begin(), raw);
    cases.push_back({"raw block that is an end marker", sealed_png(m.archive, m.picture)});

    // a tail, after a walk said to have stopped, that carries a block
    m = chunk_of(red_file);
    m.archive.sound_end = false;
    m.archive.tail = blue_bytes;
    m.archive.tail.insert(m.archive.tail.end(), 8, 0);
    cases.push_back({"tail carrying a block", sealed_png(m.archive, red)});

    // a damaged file's stopped block said to lie elsewhere than the bytes put it
    Bytes cut = zefa(24, {{0, 0, 16, 4, kRed, "ZFBI"}, {0, 4, 16, 4, kGreen, "ZFBI"}}, "t", "", 16, 8);
    cut.resize(cut.size() - 8 - 2 * 16 * 3); // the last two lines and the end marker gone
    m = chunk_of(cut);
    need(m.archive.partly_drawn, "the cut file did not stop in a block");
    put_s16(m.archive.stopped_head.data() + ZF_B_X, 1);
    cases.push_back({"stopped block elsewhere", sealed_png(m.archive, m.picture)});

    // a lead two bytes short: the blocks start where the header does not say
    m = chunk_of(zefa(24, {{0, 0, 16, 8, kRed}}, "t", "a comment"));
    m.archive.lead.resize(m.archive.lead.size() - 2);
    cases.push_back({"lead cut by two bytes", sealed_png(m.archive, red)});

    for (int depth : {0, 7, 16, 32, -1}) {
        m = chunk_of(red_file);
        put_s16(m.archive.lead.data() + ZF_H_DEPTH, depth);
        cases.push_back({"lead of depth " + std::to_string(depth), sealed_png(m.archive, red)});
    }

    // two honest chunks: one is written, so one is damage
    const Bytes honest = zfconv::pack_archive(chunk_of(red_file).archive);
    cases.push_back({"two chunks", png(red, {honest, honest})});
    return cases;
}

Bytes stored_block_bomb()
{
    Made m = chunk_of(zefa(24, {{0, 0, 1, 1, kRed}}));
    const Made big = chunk_of(zefa(24, {{0, 0, 64, 64, kRed}}));
    zfconv::ArchiveBlock &b = m.archive.blocks[0];
    b = big.archive.blocks[0];
    b.payload.resize(std::min<std::size_t>(b.payload.size(), 9));
    put_s16(b.head.data() + ZF_B_WIDTH, 32759);
    put_s16(b.head.data() + ZF_B_HEIGHT, 32767);
    put_u32(b.head.data() + ZF_B_LENGTH, static_cast<uint32_t>(ZF_BLOCK_HEADER_SIZE + b.payload.size()));
    return sealed_png(m.archive, m.picture);
}

Bytes lead_bomb(std::size_t lead_bytes)
{
    // Streamed: the body is never held whole.
    const Made m = chunk_of(zefa(24, {{0, 0, 1, 1, kRed}}));
    const Archive &a = m.archive;
    Bytes head, lead_start = a.lead, rest;
    append_u32(head, 1), append_u32(head, 1);
    head.push_back(4); // the walk reached the end marker
    head.insert(head.end(), 8 + 64, 0);
    append_u32(head, static_cast<uint32_t>(lead_bytes));
    put_u32(lead_start.data() + ZF_H_FIRST, static_cast<uint32_t>(lead_bytes));
    append_u32(rest, 0); // no block
    append_u32(rest, 8);
    rest.insert(rest.end(), 8, 0);
    const std::size_t body = head.size() + lead_bytes + rest.size();

    Bytes out{1, 0, 0, 0, 0};
    put_u32(&out[1], static_cast<uint32_t>(body));
    z_stream z{};
    need(deflateInit(&z, Z_BEST_COMPRESSION) == Z_OK, "deflateInit");
    Bytes buf(1 << 16);
    const auto feed = [&](const uint8_t *p, std::size_t n, int flush) {
        z.next_in = const_cast<Bytef *>(p);
        z.avail_in = static_cast<uInt>(n);
        do {
            z.next_out = buf.data();
            z.avail_out = static_cast<uInt>(buf.size());
            deflate(&z, flush);
            out.insert(out.end(), buf.data(), buf.data() + (buf.size() - z.avail_out));
        } while (z.avail_out == 0 || (flush == Z_FINISH && z.avail_in > 0));
    };
    feed(head.data(), head.size(), Z_NO_FLUSH);
    feed(lead_start.data(), lead_start.size(), Z_NO_FLUSH);
    const Bytes zeros(1 << 20, 0);
    for (std::size_t left = lead_bytes - lead_start.size(); left > 0;) {
        const std::size_t n = std::min(left, zeros.size());
        feed(zeros.data(), n, Z_NO_FLUSH);
        left -= n;
    }
    feed(rest.data(), rest.size(), Z_FINISH);
    deflateEnd(&z);
    return png(m.picture, {out});
}

Bytes many_blocks_bomb(int blocks, int side, int block_side)
{
    Made m = chunk_of(zefa(24, {{0, 0, side, side, kRed}}));
    const zfconv::ArchiveBlock first = m.archive.blocks[0];
    m.archive.blocks.clear();
    const int across = std::max(1, side / block_side);
    for (int i = 0; i < blocks; ++i) {
        zfconv::ArchiveBlock b;
        b.kind = zfconv::ArchiveBlock::rebuilt;
        b.head = first.head;
        put_s16(b.head.data() + ZF_B_X, i % across * block_side);
        put_s16(b.head.data() + ZF_B_Y, i / across % across * block_side);
        put_s16(b.head.data() + ZF_B_WIDTH, block_side);
        put_s16(b.head.data() + ZF_B_HEIGHT, block_side);
        m.archive.blocks.push_back(std::move(b));
    }
    m.archive.pixel_digest = zfconv::pixel_digest(m.picture);
    return png(m.picture, m.archive);
}

std::string terminal_attack()
{
    return "\x1b[31mred\x1b[2J\x1b]0;title\x07\x1b]52;c;aGk=\x07\x08\r\x7f" "end";
}

} // namespace zt::hostile
