// Opening, creating, appending and closing ZEFA files; the block walk; the
// per-block work buffers and the line-at-a-time interface.
#include "codec.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

zf::CreationParams zf::creation = {};

std::string zf::comment_section(const char *comment)
{
    std::string out;
    if (comment) {
        for (const char *p = comment; *p; ++p) {
            if (*p == '\n') {
                out += "\r\n";
            } else if (*p == '\r') {
                out += "\r\n";
                if (p[1] == '\n')
                    ++p;
            } else {
                out += *p;
            }
        }
    }
    out += '\0';
    return out;
}

namespace {

using zf::creation;

using zf::kMagic;
using zf::get_s16;
using zf::get_u32;
using zf::put16;
using zf::put32;

// Running maxima are signed 16-bit; a sum past 32767 is held at 32767
// rather than wrapping to a negative size.
int16_t raise_max(int16_t current, int edge)
{
    if (edge > SHRT_MAX)
        edge = SHRT_MAX;
    return edge > current ? static_cast<int16_t>(edge) : current;
}

void require(bool ok, const char *condition, int line)
{
    if (!ok) {
        std::fprintf(stderr, "Assertion failed: %s, file %s, line %d\n", condition, "zflib", line);
        std::abort();
    }
}

void free_buffers(zf::Record *f)
{
    void **slots[] = {reinterpret_cast<void **>(&f->line_a), reinterpret_cast<void **>(&f->line_b),
                      reinterpret_cast<void **>(&f->line_c), reinterpret_cast<void **>(&f->row_a),
                      reinterpret_cast<void **>(&f->row_b),  reinterpret_cast<void **>(&f->row_c),
                      reinterpret_cast<void **>(&f->row_d),  reinterpret_cast<void **>(&f->row_e),
                      reinterpret_cast<void **>(&f->table_64k), reinterpret_cast<void **>(&f->table_1k),
                      reinterpret_cast<void **>(&f->table_32k)};
    for (void **slot : slots) {
        std::free(*slot);
        *slot = nullptr;
    }
    f->line_fn = nullptr;
    f->pixel_fn = nullptr;
}

// Allocates the eleven work buffers for the block in `block`, zero-filled.
int alloc_buffers(zf::Record *f)
{
    free_buffers(f);
    const long n = zf::block_width(f) + 8L;
    zf_errno = 0;
    f->line_a = static_cast<uint32_t *>(zf_alloc(n * 4));
    f->line_b = static_cast<uint32_t *>(zf_alloc(n * 4));
    f->line_c = static_cast<uint32_t *>(zf_alloc(n * 4));
    f->row_a = static_cast<unsigned char *>(zf_alloc(n));
    f->row_b = static_cast<unsigned char *>(zf_alloc(n));
    f->row_c = static_cast<unsigned char *>(zf_alloc(n));
    f->row_d = static_cast<unsigned char *>(zf_alloc(n));
    f->row_e = static_cast<unsigned char *>(zf_alloc(n));
    f->table_64k = static_cast<unsigned char *>(zf_alloc(65536));
    f->table_1k = static_cast<unsigned char *>(zf_alloc(1024));
    f->table_32k = static_cast<unsigned char *>(zf_alloc(32768));
    if (zf_errno != 0) {
        free_buffers(f);
        return -1;
    }
    return 0;
}

// Block geometry the work buffers can hold: width + 8 fits signed 16 bits.
bool geometry_ok(int width, int height)
{
    return width >= 1 && width <= ZF_MAX_BLOCK_WIDTH && height >= 1 && height <= ZF_MAX_BLOCK_HEIGHT;
}

void discard(zf::Record *f)
{
    free_buffers(f);
    if (f->out_data && f->error == 0) { // a file written to memory goes to the caller
        *f->out_data = f->out_mem;
        *f->out_size = f->mem_size;
    } else {
        std::free(f->out_mem);
    }
    if (f->fd >= 0 && f->owns_fd)
        ::close(f->fd);
    std::free(f->comment);
    std::free(f);
}

zf::Record *new_record(int fd, unsigned char mode, bool owns_fd)
{
    auto *f = static_cast<zf::Record *>(zf_alloc(sizeof(zf::Record)));
    if (!f) {
        if (fd >= 0 && owns_fd)
            ::close(fd);
        return nullptr;
    }
    f->fd = fd;
    f->owns_fd = owns_fd;
    f->mode = mode;
    return f;
}

// The subtitle is the file's base name: after the last ':', '/' and '\',
// cut before its first '.'.
std::string subtitle_of(const char *name)
{
    std::string s = name ? name : "";
    for (char sep : {':', '/', '\\'}) {
        auto pos = s.rfind(sep);
        if (pos != std::string::npos)
            s.erase(0, pos + 1);
    }
    auto dot = s.find('.');
    if (dot != std::string::npos)
        s.erase(dot);
    return s;
}

// Writes the comment section.
void write_comment(zf::Record *f, const char *comment)
{
    const std::string out = zf::comment_section(comment);
    // Write in pieces that an int count can carry.
    size_t done = 0;
    while (done < out.size()) {
        size_t piece = std::min<size_t>(out.size() - done, 1u << 30);
        zf_write(f, out.data() + done, static_cast<int>(piece));
        done += piece;
    }
}

void fill_header(zf::Record *f, const std::string &subtitle, const char *title, const char *artist, int number)
{
    const zf::CreationParams &p = f->params;
    unsigned char *h = f->header;
    std::memcpy(h + ZF_H_MAGIC, kMagic, 4);
    zf_copy_pad(reinterpret_cast<char *>(h + ZF_H_ARTIST), artist, 18);
    zf_copy_pad(reinterpret_cast<char *>(h + ZF_H_SUBTITLE), subtitle.c_str(), 8);
    zf_copy_pad(reinterpret_cast<char *>(h + ZF_H_TITLE), title, 30);
    zf_copy_pad(reinterpret_cast<char *>(h + ZF_H_SAVER), p.saver, 30);
    for (int at : {30, 62, 94}) {
        h[at] = 0x0D;
        h[at + 1] = 0x0A;
    }
    h[96] = 0x1A;
    h[97] = 0;
    put16(h + ZF_H_FLAGS, p.n_pal > 0 ? 1 : 0);
    put16(h + ZF_H_NUMBER, number);
    put16(h + ZF_H_DEPTH, p.depth);
    put16(h + ZF_H_RATIO_X, p.ratio_x);
    put16(h + ZF_H_RATIO_Y, p.ratio_y);
    put16(h + ZF_H_MAX_WIDTH, p.max_width);
    put16(h + ZF_H_MAX_HEIGHT, p.max_height);
    put32(h + 120, 0);
}

// Reads header, palette and comment of a freshly opened file; false with
// the record's error set when the file is not a sound ZEFA file.
bool read_leading_sections(zf::Record *f)
{
    zf_read(f, f->header, ZF_HEADER_SIZE);
    if (std::memcmp(f->header, kMagic, 4) != 0) {
        zf_seek(f, ZF_PREFIX_SIZE);
        zf_read(f, f->header, ZF_HEADER_SIZE);
        if (std::memcmp(f->header, kMagic, 4) != 0) {
            zf::set_error(f, ZF_ERR_FORMAT);
            return false;
        }
        f->base = ZF_PREFIX_SIZE;
    }
    if (f->error)
        return false;

    if (f->header[ZF_H_FLAGS + 1] & 1) {
        f->n_bits = zf_read_u8(f);
        f->n_pal = zf_read_u16(f);
        if (f->error)
            return false;
        if (f->n_pal < 1 || f->n_pal > ZF_PALETTE_MAX) { // would overrun `palette`
            zf::set_error(f, ZF_ERR_FORMAT);
            return false;
        }
        zf_read(f, f->palette, 3 * f->n_pal);
        if (f->error)
            return false;
    }

    const long here = zf_tell(f);
    const uint32_t first = get_u32(f->header + ZF_H_FIRST);
    if (first < static_cast<uint32_t>(here) || first > static_cast<uint32_t>(INT_MAX)) {
        zf::set_error(f, ZF_ERR_FORMAT);
        return false;
    }
    // A comment that reaches past the end of the file would be read short:
    // say so before allocating for it.
    const long long size = zf::source_size(f);
    if (size >= 0 && static_cast<long long>(first) + f->base > size) {
        zf::set_error(f, ZF_ERR_EOF);
        return false;
    }
    const long length = static_cast<long>(first) - here;
    f->comment = static_cast<char *>(zf_alloc(length + 1));
    if (!f->comment) {
        f->error = zf_errno;
        return false;
    }
    zf_read(f, f->comment, static_cast<int>(length));
    f->max_width = static_cast<int16_t>(get_s16(f->header + ZF_H_MAX_WIDTH));
    f->max_height = static_cast<int16_t>(get_s16(f->header + ZF_H_MAX_HEIGHT));
    f->next_pos = static_cast<int>(zf_tell(f));
    return f->error == 0;
}

// Reads the leading sections of a new reading record; the record, or null
// with zf_errno set when the source is no sound ZEFA file.
zf_file *open_record(zf::Record *f)
{
    if (!f)
        return nullptr;
    if (!read_leading_sections(f)) {
        int code = f->error ? f->error : zf_errno;
        discard(f);
        zf_errno = code;
        return nullptr;
    }
    return f;
}

// Starts a new file on a record made for writing: palette, comment and the
// header image (written at close).  The record, or null with zf_errno set.
zf_file *create_record(zf::Record *f, const zf::CreationParams &params, const std::string &subtitle,
                       const char *title, const char *comment, const char *artist, int number)
{
    if (!f)
        return nullptr;
    f->params = params;
    const zf::CreationParams &p = f->params;
    zf_seek(f, ZF_HEADER_SIZE);
    if (p.n_pal > 0) {
        zf_write_u8(f, p.n_bits);
        zf_write_u16(f, p.n_pal);
        zf_write(f, p.palette, 3 * p.n_pal);
    }
    write_comment(f, comment);
    f->next_pos = static_cast<int>(zf_tell(f));
    fill_header(f, subtitle, title, artist, number);
    put32(f->header + ZF_H_FIRST, static_cast<uint32_t>(f->next_pos));
    f->n_pal = p.n_pal;
    f->n_bits = p.n_bits;
    std::memcpy(f->palette, p.palette, static_cast<size_t>(3 * p.n_pal));
    if (f->error) {
        int code = f->error;
        discard(f);
        zf_errno = code;
        return nullptr;
    }
    return f;
}

// A caller's parameters in the record's form; false when a count is
// outside its limits.
bool take_params(const zf_params *in, zf::CreationParams &out)
{
    if (!in || in->n_pal < 0 || in->n_pal > ZF_PALETTE_MAX || (in->n_pal > 0 && (in->n_bits < 1 || in->n_bits > 256)))
        return false;
    out = zf::CreationParams{};
    if (in->saver)
        std::strncpy(out.saver, in->saver, 30);
    out.depth = in->depth;
    out.max_width = in->max_width;
    out.max_height = in->max_height;
    out.ratio_x = in->ratio_x;
    out.ratio_y = in->ratio_y;
    out.packed = in->packed;
    out.n_pal = in->n_pal;
    out.n_bits = in->n_pal > 0 ? in->n_bits : 0;
    std::memcpy(out.palette, in->palette, static_cast<size_t>(3 * in->n_pal));
    return true;
}

zf_file *misuse()
{
    zf_errno = ZF_ERR_MISUSE;
    return nullptr;
}

int refuse()
{
    zf_errno = ZF_ERR_MISUSE;
    return -1;
}

} // namespace

extern "C" {

void zf_set_info(const char *saver, int depth, int max_width, int max_height, int ratio_x, int ratio_y,
                 int packed)
{
    std::memset(creation.saver, 0, sizeof creation.saver);
    if (saver)
        std::strncpy(creation.saver, saver, 30);
    creation.depth = depth;
    creation.max_width = max_width;
    creation.max_height = max_height;
    creation.ratio_x = ratio_x;
    creation.ratio_y = ratio_y;
    creation.packed = packed;
}

void zf_set_palette(int n_pal, int n_bits, const unsigned char *entries)
{
    require(0 < n_pal && n_pal <= 256, "0 < n_pal && n_pal <= 256", __LINE__);
    require(0 < n_bits && n_bits <= 256, "0 < n_bits && n_bits <= 256", __LINE__);
    creation.n_pal = n_pal;
    creation.n_bits = n_bits;
    std::memcpy(creation.palette, entries, static_cast<size_t>(3 * n_pal));
}

zf_file *zf_open(const char *name)
{
    if (!name)
        return misuse();
    int fd = ::open(name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        zf_errno = errno;
        return nullptr;
    }
    return open_record(new_record(fd, 0, true));
}

int zf_sniff(const void *data, size_t size)
{
    if (!data && size > 0) {
        zf_errno = ZF_ERR_MISUSE;
        return -1;
    }
    const auto *d = static_cast<const unsigned char *>(data);
    const auto magic_at = [d, size](std::size_t at) { return size >= at + 4 && std::memcmp(d + at, kMagic, 4) == 0; };
    if (magic_at(0) || magic_at(ZF_PREFIX_SIZE))
        return 1;
    return size >= ZF_SNIFF_SIZE ? 0 : -1;
}

zf_file *zf_open_memory(const void *data, size_t size)
{
    static const unsigned char nothing = 0;
    if (!data && size > 0)
        return misuse();
    zf::Record *f = new_record(-1, 0, false);
    if (f) {
        f->mem = data ? static_cast<const unsigned char *>(data) : &nothing;
        f->mem_size = data ? size : 0;
    }
    return open_record(f);
}

int zf_set_pixel_limit(zf_file *file, long long max_pixels)
{
    zf::Record *f = zf::rec(file);
    if (!f || max_pixels < 0)
        return refuse();
    f->pixel_limit = max_pixels;
    return 0;
}

int zf_set_packed(zf_file *file, int packed)
{
    zf::Record *f = zf::rec(file);
    if (!f || f->line_fn) // not while a block is in progress
        return refuse();
    f->params.packed = packed != 0;
    return 0;
}

int zf_set_subtitle(zf_file *file, const char *sjis)
{
    zf::Record *f = zf::rec(file);
    if (!f || f->mode != 1)
        return refuse();
    zf_copy_pad(reinterpret_cast<char *>(f->header + ZF_H_SUBTITLE), sjis, 8);
    return 0;
}

zf_file *zf_create_with(const char *name, const char *title, const char *comment, const char *artist, int number,
                        const zf_params *params)
{
    zf::CreationParams p;
    if (!name || !take_params(params, p))
        return misuse();
    int fd = ::open(name, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        zf_errno = errno;
        return nullptr;
    }
    return create_record(new_record(fd, 1, true), p, subtitle_of(name), title, comment, artist, number);
}

zf_file *zf_create_fd(int fd, const char *title, const char *comment, const char *artist, int number,
                      const zf_params *params)
{
    zf::CreationParams p;
    if (fd < 0 || !take_params(params, p))
        return misuse();
    return create_record(new_record(fd, 1, false), p, "", title, comment, artist, number);
}

} // extern "C"

zf_file *zf::create_memory(const char *title, const char *comment, const char *artist, int number,
                           const zf_params *params)
{
    zf::CreationParams p;
    if (!take_params(params, p))
        return misuse();
    return create_record(new_record(-1, 1, false), p, "", title, comment, artist, number);
}

extern "C" {

zf_file *zf_create_memory(void **data, size_t *size, const char *title, const char *comment, const char *artist,
                          int number, const zf_params *params)
{
    if (!data || !size)
        return misuse();
    *data = nullptr;
    *size = 0;
    zf_file *f = zf::create_memory(title, comment, artist, number, params);
    if (f) {
        zf::rec(f)->out_data = reinterpret_cast<unsigned char **>(data);
        zf::rec(f)->out_size = size;
    }
    return f;
}

zf_file *zf_create(const char *name, const char *title, const char *comment, const char *artist, int number)
{
    if (!name)
        return misuse();
    int fd = ::open(name, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        zf_errno = errno;
        return nullptr;
    }
    return create_record(new_record(fd, 1, true), creation, subtitle_of(name), title, comment, artist, number);
}

zf_file *zf_open_append(const char *name, const char *title, const char *comment, const char *artist,
                        int number)
{
    zf::Record *f = zf::rec(zf_open(name));
    if (!f)
        return zf_create(name, title, comment, artist, number);
    if (get_s16(f->header + ZF_H_DEPTH) != creation.depth) {
        zf_close(f);
        zf_errno = ZF_ERR_FORMAT;
        return nullptr;
    }
    int r = zf_first_block(f);
    while (r > 0)
        r = zf_next_block(f);
    if (r < 0) {
        int code = zf_errno;
        zf_close(f);
        zf_errno = code;
        return nullptr;
    }
    int fd = ::open(name, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        int code = errno;
        zf_close(f);
        zf_errno = code;
        return nullptr;
    }
    ::close(f->fd);
    f->fd = fd;
    f->mode = 1;
    f->params = creation;
    unsigned char *h = f->header;
    zf_copy_pad(reinterpret_cast<char *>(h + ZF_H_ARTIST), artist, 18);
    zf_copy_pad(reinterpret_cast<char *>(h + ZF_H_SAVER), creation.saver, 30);
    put16(h + ZF_H_NUMBER, number);
    put16(h + ZF_H_RATIO_X, creation.ratio_x);
    put16(h + ZF_H_RATIO_Y, creation.ratio_y);
    put16(h + ZF_H_MAX_WIDTH, creation.max_width);
    put16(h + ZF_H_MAX_HEIGHT, creation.max_height);
    return f;
}

int zf_close(zf_file *file)
{
    zf::Record *f = zf::rec(file);
    if (!f)
        return refuse();
    if (f->mode == 1) {
        zf_seek(f, f->next_pos);
        zf_write_u32(f, 0);
        zf_write_u32(f, 0);
        unsigned char *h = f->header;
        if (get_s16(h + ZF_H_MAX_WIDTH) < 0)
            put16(h + ZF_H_MAX_WIDTH, f->max_width);
        if (get_s16(h + ZF_H_MAX_HEIGHT) < 0)
            put16(h + ZF_H_MAX_HEIGHT, f->max_height);
        put32(h + ZF_H_TIME, f->fixed_time ? f->time : static_cast<uint32_t>(std::time(nullptr)));
        zf_seek(f, 0);
        zf_write(f, h, ZF_HEADER_SIZE);
    }
    if (f->fd >= 0 && f->owns_fd && ::close(f->fd) != 0)
        f->error = errno;
    f->fd = -1;
    const int failed = f->error != 0;
    discard(f);
    return failed ? -1 : 0;
}

int zf_first_block(zf_file *file)
{
    zf::Record *f = zf::rec(file);
    if (!f || f->mode != 0)
        return refuse();
    const uint32_t first = get_u32(f->header + ZF_H_FIRST);
    f->next_pos = static_cast<int>(first); // bounded to INT_MAX by zf_open
    return zf_next_block(f);
}

int zf_next_block(zf_file *file)
{
    zf::Record *f = zf::rec(file);
    if (!f || f->mode != 0)
        return refuse();
    zf_seek(f, f->next_pos);
    zf_read(f, f->block, 8);
    if (f->error)
        return -1;
    if (f->block[ZF_B_TAG] == 0) {
        f->block_pos = f->next_pos; // the end marker: a span of no bytes
        return 0;
    }
    const uint32_t length = get_u32(f->block + ZF_B_LENGTH);
    // A length below the block header would return the walk to the same
    // block; one past the largest position cannot be followed.
    if (length < ZF_BLOCK_HEADER_SIZE || length > static_cast<uint32_t>(INT_MAX - f->next_pos)) {
        zf::set_error(f, ZF_ERR_FORMAT);
        return -1;
    }
    f->block_pos = f->next_pos;
    f->next_pos += static_cast<int>(length);
    if (!zf::find_codec(f->block + ZF_B_TAG))
        return 2;
    zf_read(f, f->block + 8, ZF_BLOCK_HEADER_SIZE - 8);
    if (f->error)
        return -1;
    const int width = zf::block_width(f), height = zf::block_height(f);
    if (!geometry_ok(width, height)) {
        zf::set_error(f, ZF_ERR_FORMAT);
        return -1;
    }
    f->max_width = raise_max(f->max_width, zf::block_s16(f, ZF_B_X) + width);
    f->max_height = raise_max(f->max_height, zf::block_s16(f, ZF_B_Y) + height);
    return 1;
}

int zf_get_block_span(const zf_file *file, long long *offset, long long *length)
{
    const zf::Record *f = zf::rec(file);
    if (!f || f->mode != 0 || !offset || !length)
        return refuse();
    *offset = static_cast<long long>(f->base) + f->block_pos;
    *length = static_cast<long long>(f->next_pos) - f->block_pos;
    return 0;
}

int zf_begin_read(zf_file *file)
{
    zf::Record *f = zf::rec(file);
    if (!f || f->mode != 0)
        return refuse();
    const zf::Codec *codec = zf::find_codec(f->block + ZF_B_TAG);
    if (!codec || !geometry_ok(zf::block_width(f), zf::block_height(f))) {
        zf::set_error(f, ZF_ERR_FORMAT);
        return -1;
    }
    if (f->pixel_limit > 0 && static_cast<long long>(zf::block_width(f)) * zf::block_height(f) > f->pixel_limit) {
        zf::set_error(f, ZF_ERR_LIMIT);
        return -1;
    }
    if (alloc_buffers(f) != 0)
        return -1;
    int r = codec->read_setup(f);
    if (r < 0)
        free_buffers(f);
    return r;
}

int zf_begin_write(zf_file *file, uint32_t **line, int x, int y, int width, int height, const char *tag, long extra)
{
    zf::Record *f = zf::rec(file);
    const zf::Codec *codec = tag ? zf::find_codec(reinterpret_cast<const unsigned char *>(tag)) : nullptr;
    if (!f || f->mode != 1 || !codec || !geometry_ok(width, height) || x < SHRT_MIN || x > SHRT_MAX ||
        y < SHRT_MIN || y > SHRT_MAX)
        return refuse();
    unsigned char *b = f->block;
    std::memset(b, 0, ZF_BLOCK_HEADER_SIZE);
    std::memcpy(b + ZF_B_TAG, tag, 4);
    put16(b + ZF_B_WIDTH, width);
    put16(b + ZF_B_HEIGHT, height);
    put16(b + ZF_B_X, x);
    put16(b + ZF_B_Y, y);
    if (extra != -1) {
        put16(b + ZF_B_EXTRA, 1);
        put32(b + ZF_B_VALUE, static_cast<uint32_t>(extra));
    }
    f->max_width = raise_max(f->max_width, (x < 0 ? 0 : x) + width);
    f->max_height = raise_max(f->max_height, (y < 0 ? 0 : y) + height);
    if (alloc_buffers(f) != 0)
        return -1;
    int r = codec->write_setup(f, line);
    if (r < 0)
        free_buffers(f);
    return r;
}

int zf_line(zf_file *file, uint32_t **line)
{
    zf::Record *f = zf::rec(file);
    if (!f || !f->line_fn) // no block in progress
        return refuse();
    const int r = f->line_fn(f, line);
    if (r != -1 && r != -2)
        return r;
    if (r == -2 && f->mode == 1) {
        const long end = zf_tell(f);
        zf_seek(f, f->next_pos);
        put32(f->block + ZF_B_LENGTH, static_cast<uint32_t>(end - f->next_pos));
        zf_write(f, f->block, ZF_BLOCK_HEADER_SIZE);
        f->next_pos = static_cast<int>(end);
    }
    free_buffers(f);
    return r;
}

} // extern "C"
