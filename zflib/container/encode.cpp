// A whole picture written as a new file in one call: tiles of the largest
// block, every pass of the coding, to a name, a descriptor or memory.
#include "codec.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <unistd.h>

namespace {

struct Source {
    const void *pixels;
    int width, height, format, depth;
};

bool source_ok(const zf_encoding *e, const Source &s)
{
    if (!e || !s.pixels || s.width < 1 || s.height < 1 || s.width > SHRT_MAX || s.height > SHRT_MAX)
        return false;
    if (e->depth != 8 && e->depth != 15 && e->depth != 24)
        return false;
    if (e->coding < ZF_CODING_NONE || e->coding > ZF_CODING_OPTIMIZING)
        return false;
    if (e->depth == 8 && (e->n_pal < 1 || e->n_pal > ZF_PALETTE_MAX))
        return false;
    // colours need a palette lookup at depth 8, indices a palette
    if (s.format == ZF_RGB)
        return e->depth != 8;
    if (s.format == ZF_INDEXED)
        return e->depth == 8;
    return s.format == ZF_VALUES;
}

const char *tag_of(int coding, int depth)
{
    // as zfenc codes uncompressed files: ZFBI, 24-bit ones ZFBM
    return coding == ZF_CODING_NONE ? (depth == 24 ? "ZFBM" : "ZFBI") : coding == ZF_CODING_FAST ? "ZFSF" : "ZFSS";
}

uint32_t value_at(const Source &s, std::size_t i)
{
    switch (s.format) {
    case ZF_INDEXED: return static_cast<const unsigned char *>(s.pixels)[i];
    case ZF_VALUES: return static_cast<const uint32_t *>(s.pixels)[i];
    default: break;
    }
    const unsigned char *p = static_cast<const unsigned char *>(s.pixels) + 3 * i;
    if (s.depth == 24)
        return uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
    return uint32_t{p[1]} >> 3 << 11 | uint32_t{p[0]} >> 3 << 6 | uint32_t{p[2]} >> 3 << 1;
}

// Codes the tile at (x, y); a "ZFSS" tile takes every line twice.
bool code_tile(zf_file *f, const Source &s, const char *tag, int x, int y, int w, int h)
{
    uint32_t *line = nullptr;
    if (zf_begin_write(f, &line, x, y, w, h, tag, -1) != 0)
        return false;
    int row = 0;
    for (;;) {
        const std::size_t at = static_cast<std::size_t>(y + row) * static_cast<std::size_t>(s.width) + x;
        for (int c = 0; c < w; ++c)
            line[c] = value_at(s, at + static_cast<std::size_t>(c));
        const int r = zf_line(f, &line);
        if (r == -2)
            return true;
        if (r == -1 || ++row > h)
            return false;
        if (r == 0) // the next pass starts again at the top
            row = 0;
    }
}

zf_params params_of(const zf_encoding *e, const Source &s)
{
    zf_params p{};
    p.saver = e->saver;
    p.depth = e->depth;
    p.max_width = s.width;
    p.max_height = s.height;
    const bool ratio = e->ratio_x > 0 && e->ratio_y > 0;
    p.ratio_x = ratio ? e->ratio_x : 1;
    p.ratio_y = ratio ? e->ratio_y : 1;
    if (e->depth == 8) {
        p.n_pal = e->n_pal;
        p.n_bits = 8;
        std::memcpy(p.palette, e->palette, sizeof p.palette);
    }
    return p;
}

// Writes the picture on a new record and closes it.
int write_picture(zf_file *f, const zf_encoding *e, const Source &s)
{
    if (!f)
        return -1;
    zf::Record *r = zf::rec(f);
    if (e->subtitle)
        zf_set_subtitle(f, e->subtitle);
    r->fixed_time = e->has_time != 0;
    r->time = e->time;
    const char *tag = tag_of(e->coding, e->depth);
    bool ok = true;
    for (int y = 0; ok && y < s.height; y += ZF_MAX_BLOCK_HEIGHT)
        for (int x = 0; ok && x < s.width; x += ZF_MAX_BLOCK_WIDTH)
            ok = code_tile(f, s, tag, x, y, std::min(ZF_MAX_BLOCK_WIDTH, s.width - x),
                           std::min(ZF_MAX_BLOCK_HEIGHT, s.height - y));
    const int code = zf_errno;
    if (!ok)
        r->error = r->error ? r->error : code ? code : ZF_ERR_MISUSE;
    const int closed = zf_close(f);
    if (!ok)
        zf_errno = code ? code : ZF_ERR_MISUSE;
    return ok && closed == 0 ? 0 : -1;
}

int misuse()
{
    zf_errno = ZF_ERR_MISUSE;
    return -1;
}

} // namespace

extern "C" {

int zf_encode_file(const char *name, const zf_encoding *enc, const void *pixels, int width, int height, int format)
{
    const Source s{pixels, width, height, format, enc ? enc->depth : 0};
    if (!name || !source_ok(enc, s))
        return misuse();
    const zf_params p = params_of(enc, s);
    return write_picture(zf_create_with(name, enc->title, enc->comment, enc->artist, enc->number, &p), enc, s);
}

int zf_encode_fd(int fd, const zf_encoding *enc, const void *pixels, int width, int height, int format)
{
    const Source s{pixels, width, height, format, enc ? enc->depth : 0};
    if (fd < 0 || !source_ok(enc, s))
        return misuse();
    const zf_params p = params_of(enc, s);
    return write_picture(zf_create_fd(fd, enc->title, enc->comment, enc->artist, enc->number, &p), enc, s);
}

int zf_encode_memory(void **data, size_t *size, const zf_encoding *enc, const void *pixels, int width, int height,
                     int format)
{
    const Source s{pixels, width, height, format, enc ? enc->depth : 0};
    if (!data || !size || !source_ok(enc, s))
        return misuse();
    *data = nullptr;
    *size = 0;
    const zf_params p = params_of(enc, s);
    zf_file *f = zf::create_memory(enc->title, enc->comment, enc->artist, enc->number, &p);
    if (!f)
        return -1;
    zf::rec(f)->out_data = reinterpret_cast<unsigned char **>(data);
    zf::rec(f)->out_size = size;
    return write_picture(f, enc, s);
}

} // extern "C"
