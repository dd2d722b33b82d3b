// The uncompressed codings "ZFBI" and "ZFBM": lines stored as they are,
// 1, 2 or 3 bytes per pixel.  The two tags differ only in the byte order
// of 15-bit pixels ("ZFBM" high byte first).
#include "codec.h"

#include <cstring>

namespace {

int bytes_per_pixel(int depth)
{
    switch (depth) {
    case 8: return 1;
    case 15: return 2;
    case 24: return 3;
    default: return 0; // no bytes stored; lines are still counted
    }
}

bool high_first(const zf::Record *f) { return std::memcmp(f->block + ZF_B_TAG, "ZFBM", 4) == 0; }

void unpack(const unsigned char *in, uint32_t *out, int width, int depth, bool hi_first)
{
    switch (depth) {
    case 8:
        for (int i = 0; i < width; ++i)
            out[i] = in[i];
        break;
    case 15:
        if (hi_first)
            for (int i = 0; i < width; ++i)
                out[i] = uint32_t{in[2 * i]} << 8 | in[2 * i + 1];
        else
            for (int i = 0; i < width; ++i)
                out[i] = uint32_t{in[2 * i + 1]} << 8 | in[2 * i];
        break;
    case 24:
        // four bytes per load: the fourth lies inside the line buffer
        // (width + 8 entries of 4 bytes), so it is always there to read
        for (int i = 0; i < width; ++i) {
            uint32_t v;
            std::memcpy(&v, in + 3 * i, 4);
            out[i] = __builtin_bswap32(v) >> 8;
        }
        break;
    default:
        break;
    }
}

void pack(const uint32_t *in, unsigned char *out, int width, int depth, bool hi_first)
{
    switch (depth) {
    case 8:
        for (int i = 0; i < width; ++i)
            out[i] = static_cast<unsigned char>(in[i]);
        break;
    case 15:
        for (int i = 0; i < width; ++i) {
            auto hi = static_cast<unsigned char>(in[i] >> 8), lo = static_cast<unsigned char>(in[i]);
            out[2 * i] = hi_first ? hi : lo;
            out[2 * i + 1] = hi_first ? lo : hi;
        }
        break;
    case 24:
        for (int i = 0; i < width; ++i) {
            out[3 * i] = static_cast<unsigned char>(in[i] >> 16);
            out[3 * i + 1] = static_cast<unsigned char>(in[i] >> 8);
            out[3 * i + 2] = static_cast<unsigned char>(in[i]);
        }
        break;
    default:
        break;
    }
}

// Reading goes through the record's stream buffer, so that narrow lines
// do not cost a read each; a line wider than the buffer is read directly.
struct ReadAhead {
    int32_t pos;
    int32_t len;
};

bool read_exact(zf::Record *f, unsigned char *out, int n)
{
    ReadAhead &r = *zf::codec_regs<ReadAhead>(f);
    unsigned char *buf = zf::stream_buffer(f);
    while (n > 0) {
        if (r.pos == r.len) {
            if (n >= zf::kStreamSize)
                return zf_read(f, out, n) == n; // a short read records 257
            const int got = zf_read_some(f, buf, zf::kStreamSize);
            if (got < 0)
                return false;
            if (got == 0) {
                zf::set_error(f, ZF_ERR_EOF);
                return false;
            }
            r.pos = 0;
            r.len = got;
        }
        const int take = n < r.len - r.pos ? n : r.len - r.pos;
        std::memcpy(out, buf + r.pos, static_cast<std::size_t>(take));
        r.pos += take;
        out += take;
        n -= take;
    }
    return true;
}

int read_line(zf::Record *f, uint32_t **line)
{
    if (f->line_no > zf::block_height(f) - 1)
        return -2;
    const int width = zf::block_width(f);
    const int depth = zf::header_depth(f);
    const int n = width * bytes_per_pixel(depth);
    zf_errno = 0;
    if (f->params.packed) {
        if (!read_exact(f, reinterpret_cast<unsigned char *>(f->line_b), n))
            return -1;
    } else {
        auto *raw = reinterpret_cast<unsigned char *>(f->line_a);
        if (!read_exact(f, raw, n))
            return -1;
        unpack(raw, f->line_b, width, depth, high_first(f));
    }
    if (line)
        *line = f->line_b;
    uint32_t *old_a = f->line_a;
    f->line_a = f->line_b;
    f->line_b = f->line_c;
    f->line_c = old_a;
    return f->line_no++;
}

int write_line(zf::Record *f, uint32_t **line)
{
    const int width = static_cast<uint16_t>(zf::block_width(f));
    const int last = static_cast<uint16_t>(zf::block_height(f) - 1);
    const int depth = zf::header_depth(f);
    const int n = width * bytes_per_pixel(depth);
    if (f->params.packed) {
        if (zf_write(f, f->line_b, n) < n)
            return -1;
    } else {
        auto *raw = reinterpret_cast<unsigned char *>(f->line_a);
        pack(f->line_b, raw, width, depth, high_first(f));
        if (zf_write(f, raw, n) < n)
            return -1;
    }
    if (line)
        *line = f->line_b;
    if (++f->line_no > last)
        return -2;
    return f->line_no;
}

} // namespace

int zf::zfbi_read_setup(zf::Record *f)
{
    f->line_fn = read_line;
    *zf::codec_regs<ReadAhead>(f) = ReadAhead{0, 0};
    return zf::start_payload(f, f->block_pos) ? 0 : -1;
}

int zf::zfbi_write_setup(zf::Record *f, uint32_t **line)
{
    if (line)
        *line = f->line_b;
    f->line_fn = write_line;
    return zf::start_payload(f, f->next_pos) ? 0 : -1;
}
