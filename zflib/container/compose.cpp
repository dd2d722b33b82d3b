// Whole pictures: every decodable block of a file drawn at its position.
#include "codec.h"

#include <cstring>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

namespace {

int header_s16(const zf::Record *f, int offset) { return zf::get_s16(f->header + offset); }

// 5-bit components widened to 8 bits by repeating their top bits (31 -> 255).
unsigned char widen5(uint32_t c) { return static_cast<unsigned char>((c & 31) << 3 | (c & 31) >> 2); }

// Draws the visible part [from, to) of one decoded line at row `row`;
// 8-bit lines as indices, or as colours when a palette is given.
void draw_line(zf_picture *pic, int depth, const uint32_t *line, int from, int to, long long x0, long long row,
               const unsigned char *palette = nullptr)
{
    const std::size_t at = static_cast<std::size_t>(row * pic->width + x0 + from);
    if (pic->mask)
        std::fill(pic->mask + at, pic->mask + at + (to - from), 1);
    if (depth == 8 && palette) {
        unsigned char *p = pic->pixels + 3 * at;
        for (int k = from; k < to; ++k, p += 3)
            std::memcpy(p, palette + 3 * (line[k] & 0xFF), 3);
        return;
    }
    if (depth == 8) {
        unsigned char *p = pic->pixels + at;
        for (int k = from; k < to; ++k)
            *p++ = static_cast<unsigned char>(line[k]);
        return;
    }
    unsigned char *p = pic->pixels + 3 * at;
    if (depth == 15) {
        for (int k = from; k < to; ++k, p += 3) {
            const uint32_t v = line[k];
            p[0] = widen5(v >> 6);
            p[1] = widen5(v >> 11);
            p[2] = widen5(v >> 1);
        }
    } else {
        for (int k = from; k < to; ++k, p += 3) {
            const uint32_t v = line[k];
            p[0] = static_cast<unsigned char>(v >> 16);
            p[1] = static_cast<unsigned char>(v >> 8);
            p[2] = static_cast<unsigned char>(v);
        }
    }
}

// Decodes the current block onto the picture; the lines drawn, or -1 - that
// count when decoding stopped.
int draw_block(zf::Record *f, zf_picture *pic, int depth, const unsigned char *palette = nullptr)
{
    if (zf_begin_read(f) != 0)
        return -1;
    const long long bx = zf::block_s16(f, ZF_B_X), by = zf::block_s16(f, ZF_B_Y);
    const int bw = zf::block_width(f);
    // the columns of the block inside the canvas
    const int from = static_cast<int>(std::clamp<long long>(-bx, 0, bw));
    const int to = static_cast<int>(std::clamp<long long>(pic->width - bx, from, bw));
    int lines = 0, t;
    uint32_t *line = nullptr;
    while ((t = zf_line(f, &line)) >= 0) {
        ++lines;
        const long long row = by + t;
        if (row >= 0 && row < pic->height && from < to)
            draw_line(pic, depth, line, from, to, bx, row, palette);
    }
    return t == -2 ? lines : -1 - lines;
}

bool depth_ok(int depth) { return depth == 8 || depth == 15 || depth == 24; }

} // namespace

extern "C" {

int zf_picture_size(zf_file *file, int *width, int *height)
{
    zf::Record *f = zf::rec(file);
    if (!f || !width || !height || f->mode != 0) {
        zf_errno = ZF_ERR_MISUSE;
        return -1;
    }
    if (!depth_ok(zf::header_depth(f))) {
        zf_errno = ZF_ERR_FORMAT;
        return -1;
    }
    long long w = std::max(0, header_s16(f, ZF_H_MAX_WIDTH));
    long long h = std::max(0, header_s16(f, ZF_H_MAX_HEIGHT));
    int r = zf_first_block(f);
    if (r < 0)
        return -1;
    for (; r > 0; r = zf_next_block(f)) {
        if (r != 1)
            continue;
        w = std::max<long long>(w, std::max(0, int{zf::block_s16(f, ZF_B_X)}) + zf::block_width(f));
        h = std::max<long long>(h, std::max(0, int{zf::block_s16(f, ZF_B_Y)}) + zf::block_height(f));
    }
    // both stay below 2 * 32767: a 16-bit offset plus a 16-bit size
    *width = static_cast<int>(w);
    *height = static_cast<int>(h);
    return 0;
}

int zf_decode_image(zf_file *file, zf_picture *pic)
{
    zf::Record *f = zf::rec(file);
    if (!f || !pic || !pic->pixels || pic->width < 0 || pic->height < 0 || f->mode != 0) {
        zf_errno = ZF_ERR_MISUSE;
        return -1;
    }
    if (!depth_ok(zf::header_depth(f))) {
        zf_errno = ZF_ERR_FORMAT;
        return -1;
    }
    const int depth = zf::header_depth(f);
    pic->blocks = pic->skipped = 0;
    pic->failed_block = -1;
    pic->failed_line = 0;
    int i = 0, r;
    for (r = zf_first_block(f); r > 0; r = zf_next_block(f), ++i) {
        if (r == 2) {
            ++pic->skipped;
            continue;
        }
        const int lines = draw_block(f, pic, depth);
        if (lines > 0 || lines < -1)
            ++pic->blocks;
        if (lines < 0) {
            pic->failed_block = i;
            pic->failed_line = -1 - lines;
            return -1;
        }
    }
    if (r < 0) {
        pic->failed_block = i;
        return -1;
    }
    return 0;
}

} // extern "C"

// ---- one call for a whole picture ---------------------------------------

namespace {

// A block met on the walk, kept so that the picture is decoded on the same
// record after its size and cost are known.
struct Walked {
    unsigned char head[ZF_BLOCK_HEADER_SIZE];
    int pos;
    int number; // in file order, over all blocks
    bool known; // a coding the library decodes
};

struct Walk {
    std::vector<Walked> blocks;
    bool failed = false; // the walk stopped at damage, at block `failed_number`
    int failed_number = 0;
    int error = 0;
};

Walk walk_blocks(zf::Record *f)
{
    Walk w;
    int r = zf_first_block(f);
    int number = 0;
    for (; r > 0; r = zf_next_block(f), ++number) {
        Walked b{};
        std::memcpy(b.head, f->block, sizeof b.head);
        b.pos = f->block_pos;
        b.number = number;
        b.known = r == 1;
        w.blocks.push_back(b);
    }
    if (r < 0) {
        w.failed = true;
        w.failed_number = number;
        w.error = f->error ? f->error : zf_errno;
    }
    return w;
}

struct Rect {
    long long x, y, width, height;
};

Rect rect_of(const unsigned char *head)
{
    return {zf::get_s16(head + ZF_B_X), zf::get_s16(head + ZF_B_Y), zf::get_s16(head + ZF_B_WIDTH),
            zf::get_s16(head + ZF_B_HEIGHT)};
}

// Marks the visible part of `lines` lines of a block as drawn.
void mark(unsigned char *mask, long long w, long long h, const Rect &r, long long lines)
{
    const long long x0 = std::max(0LL, r.x), x1 = std::min(w, r.x + r.width);
    const long long y0 = std::max(0LL, r.y), y1 = std::min(h, r.y + lines);
    for (long long y = y0; y < y1 && x0 < x1; ++y)
        std::fill(mask + y * w + x0, mask + y * w + x1, 1);
}

// A picture drawn straight at another size: each of its pixels shows the
// canvas pixel nearest its centre, taken as the lines of the blocks pass
// by, so that no canvas is ever held.
struct Scaled {
    int width, height;
    unsigned char *pixels;
    unsigned char *mask; // 1 where a block drew
    const unsigned char *palette; // 8-bit files as colours, else null
    std::vector<long long> rows, cols; // the canvas row and column each pixel shows
};

void put_pixel(unsigned char *p, int depth, uint32_t v, const unsigned char *palette)
{
    if (depth == 8 && palette) {
        std::memcpy(p, palette + 3 * (v & 0xFF), 3);
    } else if (depth == 8) {
        *p = static_cast<unsigned char>(v);
    } else if (depth == 15) {
        p[0] = widen5(v >> 6);
        p[1] = widen5(v >> 11);
        p[2] = widen5(v >> 1);
    } else {
        p[0] = static_cast<unsigned char>(v >> 16);
        p[1] = static_cast<unsigned char>(v >> 8);
        p[2] = static_cast<unsigned char>(v);
    }
}

// As draw_block, onto a picture of another size.
int draw_block_scaled(zf::Record *f, Scaled &s, int depth, int bytes)
{
    if (zf_begin_read(f) != 0)
        return -1;
    const long long bx = zf::block_s16(f, ZF_B_X), by = zf::block_s16(f, ZF_B_Y);
    const int bw = zf::block_width(f);
    // the picture's columns that show this block
    const auto c0 = std::lower_bound(s.cols.begin(), s.cols.end(), bx) - s.cols.begin();
    const auto c1 = std::lower_bound(s.cols.begin(), s.cols.end(), bx + bw) - s.cols.begin();
    int lines = 0, t;
    uint32_t *line = nullptr;
    while ((t = zf_line(f, &line)) >= 0) {
        ++lines;
        const auto [r0, r1] = std::equal_range(s.rows.begin(), s.rows.end(), by + t);
        for (auto ty = r0 - s.rows.begin(); ty < r1 - s.rows.begin(); ++ty)
            for (auto tx = c0; tx < c1; ++tx) {
                const std::size_t at = static_cast<std::size_t>(ty * s.width + tx);
                put_pixel(s.pixels + at * bytes, depth, line[s.cols[tx] - bx], s.palette);
                s.mask[at] = 1;
            }
    }
    return t == -2 ? lines : -1 - lines;
}

// The canvas positions `count` pixels across `extent` show: their centres.
std::vector<long long> centres(int count, long long extent)
{
    std::vector<long long> v(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        v[i] = (2LL * i + 1) * extent / (2LL * count);
    return v;
}

long long work_limit(const zf_limits &limits, long long canvas)
{
    // a viewer's allowance: a few canvases' worth of decoding, and never
    // less than a small picture needs
    if (limits.max_work > 0)
        return limits.max_work;
    return std::max(ZF_WORK_PER_CANVAS * canvas, ZF_MIN_WORK);
}

zf_image *refuse_picture(zf_report &r, int status, int error)
{
    r.status = status;
    r.error = error;
    zf_errno = error;
    return nullptr;
}

// What zf_decode_picture does once the record is known to be sound.
// The picture at the canvas size, or at tw x th when those are not 0.
zf_image *decode_picture(zf::Record *f, const zf_limits &limits, int format, zf_report &r, int tw = 0, int th = 0)
{
    r.depth = zf::header_depth(f);
    if (!depth_ok(r.depth))
        return refuse_picture(r, ZF_REFUSED_DEPTH, ZF_ERR_FORMAT);
    const Walk walk = walk_blocks(f);
    if (walk.failed && walk.blocks.empty())
        return refuse_picture(r, ZF_REFUSED_NO_READ, walk.error);

    long long w = std::max(0, header_s16(f, ZF_H_MAX_WIDTH)), h = std::max(0, header_s16(f, ZF_H_MAX_HEIGHT));
    for (const Walked &b : walk.blocks)
        if (b.known) {
            const Rect rc = rect_of(b.head);
            w = std::max(w, std::max(0LL, rc.x) + rc.width);
            h = std::max(h, std::max(0LL, rc.y) + rc.height);
        }
    r.width = w;
    r.height = h;
    if (w < 1 || h < 1)
        return refuse_picture(r, ZF_REFUSED_EMPTY, ZF_ERR_FORMAT);
    // both below 2 * 32767, so the product cannot overflow
    if (w * h > limits.max_canvas || static_cast<long long>(tw) * th > limits.max_canvas)
        return refuse_picture(r, ZF_REFUSED_CANVAS, ZF_ERR_LIMIT);
    // Every decodable block costs its whole area, wherever it lies: the
    // sum is bounded before a single line is decoded.
    r.max_work = work_limit(limits, w * h);
    for (const Walked &b : walk.blocks)
        if (b.known) {
            const Rect rc = rect_of(b.head);
            r.work += rc.width * rc.height; // each below 2^30, the sum stops past the limit
            if (r.work > r.max_work)
                return refuse_picture(r, ZF_REFUSED_WORK, ZF_ERR_LIMIT);
        }

    const bool indexed = format == ZF_INDEXED && r.depth == 8;
    const bool scaled = tw > 0 && th > 0;
    const long long out_w = scaled ? tw : w, out_h = scaled ? th : h;
    auto *img = static_cast<zf_image *>(std::calloc(1, sizeof(zf_image)));
    const std::size_t count = static_cast<std::size_t>(out_w * out_h);
    if (img)
        img->pixels = static_cast<unsigned char *>(std::calloc(count, indexed ? 1 : 3));
    if (img && scaled)
        img->mask = static_cast<unsigned char *>(std::calloc(count, 1));
    if (!img || !img->pixels || (scaled && !img->mask)) {
        zf_free_image(img);
        return refuse_picture(r, ZF_REFUSED_OTHER, ENOMEM);
    }
    img->width = static_cast<int>(out_w);
    img->height = static_cast<int>(out_h);
    img->depth = r.depth;
    img->format = indexed ? ZF_INDEXED : ZF_RGB;
    if (r.depth == 8)
        std::memcpy(img->palette, f->palette, sizeof img->palette);

    // The walk is over: its damage (if any) is told after the blocks before it.
    const int walk_error = f->error;
    f->error = 0;
    const int packed = f->params.packed;
    f->params.packed = 0;
    zf_picture canvas{};
    canvas.width = img->width;
    canvas.height = img->height;
    canvas.pixels = img->pixels;
    Scaled small{img->width, img->height, img->pixels, img->mask, nullptr, {}, {}};
    if (scaled) {
        small.palette = indexed || r.depth != 8 ? nullptr : img->palette;
        small.rows = centres(th, h);
        small.cols = centres(tw, w);
    }
    std::size_t drawn = 0; // blocks of the walk decoded whole
    for (; drawn < walk.blocks.size(); ++drawn) {
        const Walked &b = walk.blocks[drawn];
        if (!b.known) {
            ++r.skipped;
            continue;
        }
        std::memcpy(f->block, b.head, sizeof b.head);
        f->block_pos = b.pos;
        const int lines = scaled ? draw_block_scaled(f, small, r.depth, indexed ? 1 : 3)
                                 : draw_block(f, &canvas, r.depth, indexed || r.depth != 8 ? nullptr : img->palette);
        if (lines > 0 || lines < -1)
            ++r.blocks;
        if (lines < 0) {
            r.block = b.number;
            r.lines = -1 - lines;
            r.error = f->error ? f->error : zf_errno;
            break;
        }
    }
    f->params.packed = packed;
    if (f->error == 0)
        f->error = walk_error;
    const bool damaged = drawn < walk.blocks.size() || walk.failed;
    if (damaged && drawn == walk.blocks.size()) {
        r.block = walk.failed_number;
        r.lines = 0;
        r.error = walk.error;
    }
    if (damaged && r.blocks == 0 && r.lines == 0) {
        zf_free_image(img);
        return refuse_picture(r, ZF_REFUSED_NO_DECODE, r.error);
    }
    if (!damaged && r.blocks == 0) {
        zf_free_image(img);
        return refuse_picture(r, ZF_REFUSED_NO_BLOCK, ZF_ERR_FORMAT);
    }
    if (!damaged) {
        std::free(img->mask);
        img->mask = nullptr;
        r.status = ZF_DECODED_WHOLE;
        return img;
    }
    if (scaled) { // drawn while decoding
        r.status = ZF_DECODED_DAMAGED;
        zf_errno = r.error;
        return img;
    }
    // The mask follows from the geometry: every block before the damage
    // whole, and the lines of the damaged one that were drawn.
    img->mask = static_cast<unsigned char *>(std::calloc(count, 1));
    if (!img->mask) {
        zf_free_image(img);
        return refuse_picture(r, ZF_REFUSED_OTHER, ENOMEM);
    }
    for (std::size_t i = 0; i < drawn; ++i)
        if (walk.blocks[i].known) {
            const Rect rc = rect_of(walk.blocks[i].head);
            mark(img->mask, w, h, rc, rc.height);
        }
    if (drawn < walk.blocks.size())
        mark(img->mask, w, h, rect_of(walk.blocks[drawn].head), r.lines);
    r.status = ZF_DECODED_DAMAGED;
    zf_errno = r.error;
    return img;
}

void start_report(zf_report &r)
{
    r = zf_report{};
    r.block = -1;
}

// The report started and the limits taken (the defaults where none are
// given); the record, or null when the call is a misuse.
zf::Record *start_decoding(zf_file *file, const zf_limits *limits, int format, zf_report &r, zf_limits &lim)
{
    start_report(r);
    zf_default_limits(&lim);
    if (limits)
        lim = *limits;
    zf::Record *f = zf::rec(file);
    if (!f || f->mode != 0 || f->line_fn || (format != ZF_RGB && format != ZF_INDEXED) || lim.max_canvas < 0 ||
        lim.max_work < 0)
        return nullptr;
    return f;
}

} // namespace

extern "C" {

void zf_default_limits(zf_limits *limits)
{
    if (!limits)
        return;
    limits->max_canvas = ZF_DEFAULT_MAX_CANVAS;
    limits->max_work = 0;
}

void zf_free_image(zf_image *image)
{
    if (!image)
        return;
    std::free(image->pixels);
    std::free(image->mask);
    std::free(image);
}

zf_image *zf_decode_picture(zf_file *file, const zf_limits *limits, int format, zf_report *report)
{
    zf_report local;
    zf_report &r = report ? *report : local;
    zf_limits lim;
    zf::Record *f = start_decoding(file, limits, format, r, lim);
    if (!f)
        return refuse_picture(r, ZF_REFUSED_OTHER, ZF_ERR_MISUSE);
    try {
        return decode_picture(f, lim, format, r);
    } catch (const std::bad_alloc &) {
        return refuse_picture(r, ZF_REFUSED_OTHER, ENOMEM);
    }
}

zf_image *zf_decode_scaled(zf_file *file, int width, int height, const zf_limits *limits, int format,
                           zf_report *report)
{
    zf_report local;
    zf_report &r = report ? *report : local;
    zf_limits lim;
    zf::Record *f = start_decoding(file, limits, format, r, lim);
    if (!f || width < 1 || height < 1)
        return refuse_picture(r, ZF_REFUSED_OTHER, ZF_ERR_MISUSE);
    try {
        return decode_picture(f, lim, format, r, width, height);
    } catch (const std::bad_alloc &) {
        return refuse_picture(r, ZF_REFUSED_OTHER, ENOMEM);
    }
}

zf_image *zf_decode_memory(const void *data, size_t size, const zf_limits *limits, int format, zf_report *report)
{
    return zf_decode_memory_scaled(data, size, 0, 0, limits, format, report);
}

zf_image *zf_decode_memory_scaled(const void *data, size_t size, int width, int height, const zf_limits *limits,
                                  int format, zf_report *report)
{
    zf_report local;
    zf_report &r = report ? *report : local;
    start_report(r);
    zf_file *f = zf_open_memory(data, size);
    if (!f)
        return refuse_picture(r, zf_errno == ZF_ERR_MISUSE ? ZF_REFUSED_OTHER : ZF_REFUSED_OPEN, zf_errno);
    zf_image *img = width == 0 && height == 0 ? zf_decode_picture(f, limits, format, &r)
                                              : zf_decode_scaled(f, width, height, limits, format, &r);
    const int code = zf_errno;
    zf_close(f);
    zf_errno = code;
    return img;
}

int zf_report_text(const zf_report *report, char *text, size_t size)
{
    if (!report) {
        zf_errno = ZF_ERR_MISUSE;
        return -1;
    }
    const zf_report &r = *report;
    const char *why = zf_strerror(r.error);
    std::string s;
    switch (r.status) {
    case ZF_DECODED_WHOLE: break;
    case ZF_DECODED_DAMAGED:
        // blocks are numbered from 0, as zfdec numbers them
        s = r.lines == 0 ? "block " + std::to_string(r.block) + " cannot be read: " + why
                         : "line " + std::to_string(r.lines) + " of block " + std::to_string(r.block) +
                               " cannot be decoded: " + why;
        break;
    case ZF_REFUSED_OPEN: s = std::string("not a readable ZEFA file: ") + why; break;
    case ZF_REFUSED_DEPTH: s = "a ZEFA file of depth " + std::to_string(r.depth) + " cannot be shown"; break;
    case ZF_REFUSED_NO_READ: s = std::string("no block can be read: ") + why; break;
    case ZF_REFUSED_EMPTY:
        s = "the picture has no pixels (" + std::to_string(r.width) + " x " + std::to_string(r.height) + ")";
        break;
    case ZF_REFUSED_CANVAS:
        s = "the picture is too large (" + std::to_string(r.width) + " x " + std::to_string(r.height) + ")";
        break;
    case ZF_REFUSED_WORK:
        s = "the blocks of the picture hold more than the " + std::to_string(r.max_work) +
            " pixels allowed for decoding a picture of " + std::to_string(r.width) + " x " +
            std::to_string(r.height);
        break;
    case ZF_REFUSED_NO_DECODE: s = std::string("no block can be decoded: ") + why; break;
    case ZF_REFUSED_NO_BLOCK: s = "the ZEFA file holds no block this program can decode"; break;
    default: s = why; break;
    }
    if (text && size > 0)
        std::snprintf(text, size, "%s", s.c_str());
    return static_cast<int>(s.size());
}

} // extern "C"
