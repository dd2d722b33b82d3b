// The private chunk's body: its layout, packing and unpacking, and the
// digests that tie it to a picture.
#include "archive_parts.h"

#include "byte_order.h"
#include "zefa.hpp"

#include <nettle/sha2.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace zfconv {
namespace {

using zfbytes::get_u32;
using zfbytes::put_u32;

// ---- the chunk's body ----------------------------------------------------

class Writer {
public:
    void u8(uint8_t v) { b.push_back(v); }
    void u32(uint32_t v)
    {
        for (int s = 24; s >= 0; s -= 8)
            b.push_back(static_cast<uint8_t>(v >> s));
    }
    void u64(uint64_t v)
    {
        u32(static_cast<uint32_t>(v >> 32));
        u32(static_cast<uint32_t>(v));
    }
    void raw(const uint8_t *p, std::size_t n) { b.insert(b.end(), p, p + n); }
    void bytes(const Bytes &v)
    {
        u32(static_cast<uint32_t>(v.size()));
        raw(v.data(), v.size());
    }
    Bytes b;
};

class Reader {
public:
    explicit Reader(const Bytes &v) : b(v) {}
    bool u8(uint8_t &v) { return take(1) && (v = b[pos - 1], true); }
    bool u32(uint32_t &v) { return take(4) && (v = get_u32(&b[pos - 4]), true); }
    bool u64(uint64_t &v)
    {
        uint32_t hi = 0, lo = 0;
        return u32(hi) && u32(lo) && (v = uint64_t{hi} << 32 | lo, true);
    }
    bool raw(uint8_t *p, std::size_t n) { return take(n) && (std::memcpy(p, &b[pos - n], n), true); }
    bool fixed(Bytes &v, std::size_t n) { return take(n) && (v.assign(b.begin() + long(pos - n), b.begin() + long(pos)), true); }
    bool bytes(Bytes &v)
    {
        uint32_t n = 0;
        return u32(n) && fixed(v, n);
    }
    bool done() const { return pos == b.size(); }

private:
    bool take(std::size_t n)
    {
        if (n > b.size() - pos)
            return false;
        pos += n;
        return true;
    }
    const Bytes &b;
    std::size_t pos = 0;
};

} // namespace

// ---- chunk ----------------------------------------------------------------

Bytes pack_archive(const Archive &a)
{
    Writer w;
    w.u32(static_cast<uint32_t>(a.width));
    w.u32(static_cast<uint32_t>(a.height));
    w.u8(static_cast<uint8_t>((a.holes ? kHoles : 0) | (a.partly_drawn ? kPartlyDrawn : 0) | (a.sound_end ? kSoundEnd : 0)));
    w.u64(a.file_size);
    w.raw(a.file_digest.data(), a.file_digest.size());
    w.raw(a.pixel_digest.data(), a.pixel_digest.size());
    w.bytes(a.lead);
    w.u32(static_cast<uint32_t>(a.blocks.size()));
    for (const ArchiveBlock &b : a.blocks) {
        w.u8(b.kind);
        if (b.kind != ArchiveBlock::raw)
            w.raw(b.head.data(), ZF_BLOCK_HEADER_SIZE);
        if (b.kind != ArchiveBlock::rebuilt)
            w.bytes(b.payload);
    }
    if (a.partly_drawn) {
        w.raw(a.stopped_head.data(), ZF_BLOCK_HEADER_SIZE);
        w.u32(static_cast<uint32_t>(a.stopped_lines));
    }
    w.bytes(a.tail);

    uLongf packed = compressBound(static_cast<uLong>(w.b.size()));
    Bytes out(5 + packed);
    out[0] = kVersion;
    put_u32(&out[1], static_cast<uint32_t>(w.b.size()));
    compress2(&out[5], &packed, w.b.data(), static_cast<uLong>(w.b.size()), Z_BEST_COMPRESSION);
    out.resize(5 + packed);
    return out;
}

std::size_t archive_body_limit(int width, int height)
{
    const auto canvas = static_cast<std::size_t>(std::max(width, 0)) * static_cast<std::size_t>(std::max(height, 0));
    return std::min<std::size_t>(kMaxBody, kBodyFloor + kBodyPerPixel * canvas);
}

long long archive_work_limit(int width, int height)
{
    // the library's own limit for a canvas of this size
    return std::max(ZF_WORK_PER_CANVAS * static_cast<long long>(std::max(width, 0)) * std::max(height, 0), ZF_MIN_WORK);
}

namespace {

// The lead's header is whole, of a depth the library decodes, leads to the
// first block and is no larger than the picture.  (A lead that is no ZEFA
// file's at all is told when it is read.)
bool header_is_possible(const Archive &a, std::string &why)
{
    zf_layout lead{};
    if (zf_get_layout(a.lead.data(), a.lead.size(), &lead) != 0) {
        if (zf_errno == ZF_ERR_FORMAT)
            return true;
        why = "its ZEFA header is cut short";
        return false;
    }
    const zf_info &h = lead.info;
    if (h.depth != 8 && h.depth != 15 && h.depth != 24) {
        why = "its header gives a depth of " + std::to_string(h.depth) + " bits";
        return false;
    }
    if (lead.first_block != static_cast<long long>(a.lead.size())) {
        why = "its header does not lead to its first block";
        return false;
    }
    if (h.max_width > a.width || h.max_height > a.height) {
        why = "its header is larger than its picture";
        return false;
    }
    return true;
}

} // namespace

// What a chunk this program made always holds; a clear word for what is
// not, before anything is decoded or allocated for it.
bool chunk_is_possible(const Archive &a, std::string &why)
{
    if (!header_is_possible(a, why))
        return false;
    // every pixel the blocks make the decoder draw, whether it shows or not
    const long long limit = archive_work_limit(a.width, a.height);
    long long work = 0;
    const auto add = [&](const Bytes &head) {
        const Rect r = rect_of(head);
        work += std::max(std::max(r.w, 0LL) * std::max(r.h, 0LL), kWorkPerBlock);
        return work <= limit;
    };
    bool within = !a.partly_drawn || add(a.stopped_head);
    for (std::size_t i = 0; within && i < a.blocks.size(); ++i)
        within = a.blocks[i].kind == ArchiveBlock::raw || add(a.blocks[i].head);
    if (!within) {
        why = "its blocks would draw more than " + std::to_string(limit) + " pixels for a picture of " +
              std::to_string(a.width) + " x " + std::to_string(a.height);
        return false;
    }
    if (a.partly_drawn && a.stopped_lines > rect_of(a.stopped_head).h) {
        why = "its damaged block drew more lines than it has";
        return false;
    }
    return true;
}

bool unpack_archive(const Bytes &data, Archive &a, std::string &error, std::size_t max_body)
{
    a = Archive{};
    error = "the private chunk is damaged";
    if (data.size() < 5 || data[0] != kVersion) {
        if (data.size() >= 1 && data[0] != kVersion)
            error = "the private chunk is of a later version";
        return false;
    }
    const uint32_t n = get_u32(&data[1]);
    // zlib expands at most about a thousandfold: a larger claim is no chunk
    // this program wrote, and is not worth the memory
    if (n > std::min<std::size_t>(max_body, kMaxBody) || n / 1100 > data.size()) {
        if (n > max_body && n / 1100 <= data.size())
            error = "the private chunk is damaged (it holds " + std::to_string(n) +
                    " bytes, more than a file of its picture needs)";
        return false;
    }
    Bytes body(n);
    uLongf got = n;
    if (uncompress(body.data(), &got, &data[5], static_cast<uLong>(data.size() - 5)) != Z_OK || got != n)
        return false;
    Reader r(body);
    uint32_t w = 0, h = 0, count = 0, lines = 0;
    uint8_t flags = 0;
    if (!r.u32(w) || !r.u32(h) || !r.u8(flags) || !r.u64(a.file_size) || !r.raw(a.file_digest.data(), 32) ||
        !r.raw(a.pixel_digest.data(), 32) || !r.bytes(a.lead) || !r.u32(count))
        return false;
    if (w == 0 || h == 0 || w > 0xFFFF || h > 0xFFFF || count > n)
        return false;
    a.width = static_cast<int>(w);
    a.height = static_cast<int>(h);
    a.holes = flags & kHoles;
    a.partly_drawn = flags & kPartlyDrawn;
    a.sound_end = flags & kSoundEnd;
    for (uint32_t i = 0; i < count; ++i) {
        ArchiveBlock b;
        uint8_t kind = 0;
        if (!r.u8(kind) || kind > ArchiveBlock::raw)
            return false;
        b.kind = static_cast<ArchiveBlock::Kind>(kind);
        if (b.kind != ArchiveBlock::raw && !r.fixed(b.head, ZF_BLOCK_HEADER_SIZE))
            return false;
        if (b.kind != ArchiveBlock::rebuilt && !r.bytes(b.payload))
            return false;
        a.blocks.push_back(std::move(b));
    }
    if (a.partly_drawn && (!r.fixed(a.stopped_head, ZF_BLOCK_HEADER_SIZE) || !r.u32(lines) || lines > 0x7FFF))
        return false;
    a.stopped_lines = static_cast<int>(lines);
    if (!r.bytes(a.tail) || !r.done())
        return false;
    std::string why;
    if (!chunk_is_possible(a, why)) {
        error += " (" + why + ")";
        return false;
    }
    error.clear();
    return true;
}

Digest sha256(const uint8_t *data, std::size_t size)
{
    sha256_ctx ctx;
    sha256_init(&ctx);
    sha256_update(&ctx, size, data);
    Digest d{};
    sha256_digest(&ctx, d.size(), d.data());
    return d;
}

Image png_view(const Image &picture)
{
    if (picture.has_holes())
        return rgb_view(picture);
    Image v = picture;
    v.mask.clear();
    return v;
}

Image rgb_view(const Image &picture)
{
    Image v;
    v.width = picture.width;
    v.height = picture.height;
    v.kind = Kind::rgb;
    v.mask = picture.mask;
    const std::size_t n = static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height);
    v.pixels.resize(3 * n);
    for (std::size_t i = 0; i < n; ++i) {
        const uint32_t c = colour_at(picture, i);
        v.pixels[3 * i] = static_cast<uint8_t>(c >> 16);
        v.pixels[3 * i + 1] = static_cast<uint8_t>(c >> 8);
        v.pixels[3 * i + 2] = static_cast<uint8_t>(c);
    }
    return v;
}

Digest pixel_digest(const Image &view)
{
    sha256_ctx ctx;
    sha256_init(&ctx);
    uint8_t head[9];
    put_u32(head, static_cast<uint32_t>(view.width));
    put_u32(head + 4, static_cast<uint32_t>(view.height));
    head[8] = static_cast<uint8_t>(view.kind);
    sha256_update(&ctx, sizeof head, head);
    sha256_update(&ctx, view.pixels.size(), view.pixels.data());
    if (view.kind == Kind::palette) // a changed palette is a change
        sha256_update(&ctx, view.palette.size(), view.palette.data());
    // a mask without holes reads back as none
    if (view.has_holes()) {
        std::vector<uint8_t> bits(view.mask.size());
        for (std::size_t i = 0; i < bits.size(); ++i)
            bits[i] = view.mask[i] ? 1 : 0;
        sha256_update(&ctx, bits.size(), bits.data());
    }
    Digest d{};
    sha256_digest(&ctx, d.size(), d.data());
    return d;
}


} // namespace zfconv
