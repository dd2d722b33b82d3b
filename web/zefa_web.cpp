// zefa_web.cpp - the library's whole-picture calls for the web page and for
// Node: a ZEFA file to RGBA pixels with its header as text, and RGBA
// pixels to a ZEFA file.  Everything a page shows or says comes from here;
// the script only moves bytes and builds the page.
//
// Each call returns a zw_result the caller frees with zw_release: the
// bytes (RGBA pixels or a file), the picture's size, and a JSON text with
// the rest ({"error": words} when nothing came out).
#include "zefa.h"

#include "sjis_text.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <new>
#include <string>
#include <unistd.h>
#include <vector>

#ifdef __EMSCRIPTEN__
#include <emscripten/emscripten.h>
#define ZW_EXPORT EMSCRIPTEN_KEEPALIVE
#else
#define ZW_EXPORT
#endif

extern "C" {

struct zw_result {
    uint8_t *data;  // RGBA pixels, or the file made
    int32_t size;   // bytes at data
    int32_t width;  // the picture's size (decoding)
    int32_t height;
    char *json;     // 0-terminated UTF-8
};

} // extern "C"

namespace {

// A viewer's limits: the canvas a page may hold (RGBA in the module's
// memory, and again in the page), and the pixels decoded for one file,
// overlapping blocks included, tied to the canvas so a small file cannot
// claim minutes of work.
constexpr long long kCanvasLimit = 64LL << 20;
constexpr long long kWorkPerCanvas = 4;
constexpr long long kWorkFloor = 1LL << 20;

struct Closer {
    void operator()(zf_file *f) const { zf_close(f); }
};
using Record = std::unique_ptr<zf_file, Closer>;

// ---- JSON ----------------------------------------------------------------

// Text that is already UTF-8 (sjis_to_utf8 escapes what is not).
void put_string(std::string &out, const std::string &text)
{
    out += '"';
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (b < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", b);
            out += buf;
        } else {
            out += c;
        }
    }
    out += '"';
}

void put_key(std::string &out, const char *key)
{
    if (out.back() != '{' && out.back() != '[')
        out += ',';
    put_string(out, key);
    out += ':';
}

void put_field(std::string &out, const char *key, const std::string &text)
{
    put_key(out, key);
    put_string(out, text);
}

void put_field(std::string &out, const char *key, long long value)
{
    put_key(out, key);
    out += std::to_string(value);
}

zw_result *make_result(std::string json, std::vector<uint8_t> bytes = {}, int width = 0, int height = 0)
{
    auto *r = static_cast<zw_result *>(std::calloc(1, sizeof(zw_result)));
    if (!r)
        return nullptr;
    r->json = static_cast<char *>(std::malloc(json.size() + 1));
    r->data = static_cast<uint8_t *>(std::malloc(std::max<std::size_t>(bytes.size(), 1)));
    if (!r->json || !r->data) {
        std::free(r->json);
        std::free(r->data);
        std::free(r);
        return nullptr;
    }
    std::memcpy(r->json, json.c_str(), json.size() + 1);
    std::copy(bytes.begin(), bytes.end(), r->data);
    r->size = static_cast<int32_t>(bytes.size());
    r->width = width;
    r->height = height;
    return r;
}

zw_result *failure(const std::string &words)
{
    std::string json = "{";
    put_field(json, "error", words);
    json += '}';
    return make_result(json);
}

std::string library_words(const char *what) { return std::string(what) + ": " + zf_strerror(zf_errno); }

// ---- reading -------------------------------------------------------------

std::string field_text(const char *field) { return zfconv::sjis_to_utf8(zfconv::trim_padding(field)); }

std::string utc_date(uint32_t seconds)
{
    const auto t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    char when[32] = "";
    if (gmtime_r(&t, &tm))
        std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return when;
}

std::string comment_text(const zf_file *f)
{
    const std::string comment = f->comment ? f->comment : "";
    std::string lf;
    for (std::size_t i = 0; i < comment.size(); ++i)
        if (!(comment[i] == '\r' && i + 1 < comment.size() && comment[i + 1] == '\n'))
            lf += comment[i];
    return zfconv::sjis_to_utf8(lf);
}

// The header as the page shows it, and as PNG text under zfconv's keys.
void put_header(std::string &json, const zf_file *f, const zf_info &info)
{
    const std::string title = field_text(info.title), author = field_text(info.artist),
                      comment = comment_text(f), saver = field_text(info.saver),
                      subtitle = field_text(info.subtitle), date = utc_date(info.time);
    put_key(json, "info");
    json += '{';
    put_field(json, "title", title);
    put_field(json, "author", author);
    put_field(json, "comment", comment);
    put_field(json, "subtitle", subtitle);
    put_field(json, "saver", saver);
    put_field(json, "number", info.number);
    put_field(json, "time", static_cast<long long>(info.time));
    put_field(json, "date", date);
    put_field(json, "depth", info.depth);
    put_field(json, "ratio_x", info.ratio_x);
    put_field(json, "ratio_y", info.ratio_y);
    put_field(json, "width", info.max_width);
    put_field(json, "height", info.max_height);
    put_field(json, "palette_entries", info.n_pal);
    json += '}';
    put_key(json, "png_text");
    json += '[';
    const auto pair = [&json](const char *key, const std::string &text, bool always = false) {
        if (text.empty() && !always)
            return;
        if (json.back() != '[')
            json += ',';
        json += '[';
        put_string(json, key);
        json += ',';
        put_string(json, text);
        json += ']';
    };
    pair("Title", title);
    pair("Author", author);
    pair("Comment", comment);
    pair("Software", saver);
    pair("Creation Time", date);
    pair("ZEFA Subtitle", subtitle);
    pair("ZEFA Number", std::to_string(info.number), true);
    json += ']';
}

struct BlockSeen {
    zf_block b;
    bool decodes;
};

// The blocks up to the first damage, and the pixels decoding them costs.
std::vector<BlockSeen> walk_blocks(const uint8_t *data, std::size_t size, long long &work)
{
    std::vector<BlockSeen> out;
    work = 0;
    Record f(zf_open_memory(data, size));
    if (!f)
        return out;
    for (int r = zf_first_block(f.get()); r > 0; r = zf_next_block(f.get())) {
        BlockSeen s{};
        zf_get_block(f.get(), &s.b);
        s.decodes = r == 1;
        if (s.decodes)
            work += static_cast<long long>(s.b.width) * s.b.height;
        out.push_back(s);
    }
    return out;
}

void put_blocks(std::string &json, const std::vector<BlockSeen> &blocks, const zf_picture &pic)
{
    put_key(json, "blocks");
    json += '[';
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const zf_block &b = blocks[i].b;
        json += '{';
        put_field(json, "number", static_cast<long long>(i));
        put_field(json, "tag", std::string(b.tag));
        put_field(json, "x", b.x);
        put_field(json, "y", b.y);
        put_field(json, "width", b.width);
        put_field(json, "height", b.height);
        const bool failed = static_cast<int>(i) == pic.failed_block;
        const bool unreached = pic.failed_block >= 0 && static_cast<int>(i) > pic.failed_block;
        put_key(json, "decodes");
        json += blocks[i].decodes && !failed && !unreached ? "true" : "false";
        if (failed)
            put_field(json, "lines_decoded", pic.failed_line);
        json += "},";
    }
    if (json.back() == ',')
        json.pop_back();
    json += ']';
}

std::vector<uint8_t> to_rgba(const zf_picture &pic, const zf_file *f, int depth, const std::vector<uint8_t> &mask,
                             bool damaged)
{
    const std::size_t n = static_cast<std::size_t>(pic.width) * static_cast<std::size_t>(pic.height);
    std::vector<uint8_t> rgba(4 * n);
    for (std::size_t i = 0; i < n; ++i) {
        const uint8_t *rgb = depth == 8 ? f->palette + 3 * std::size_t{pic.pixels[i]} : pic.pixels + 3 * i;
        uint8_t *p = &rgba[4 * i];
        p[0] = rgb[0];
        p[1] = rgb[1];
        p[2] = rgb[2];
        // a sound file shows its background where no block lies
        p[3] = !damaged || mask[i] ? 255 : 0;
    }
    return rgba;
}

zw_result *decode(const uint8_t *data, std::size_t size)
{
    Record f(zf_open_memory(data, size));
    if (!f)
        return failure(library_words("not a readable ZEFA file"));
    zf_info info{};
    zf_get_info(f.get(), &info);
    if (info.depth != 8 && info.depth != 15 && info.depth != 24)
        return failure("a ZEFA file of depth " + std::to_string(info.depth) + " cannot be shown");
    int w = 0, h = 0;
    {
        Record sizing(zf_open_memory(data, size));
        if (!sizing || zf_picture_size(sizing.get(), &w, &h) != 0)
            return failure(library_words("no block can be read"));
    }
    const long long canvas = static_cast<long long>(w) * h;
    if (canvas > kCanvasLimit)
        return failure("the picture is " + std::to_string(w) + " x " + std::to_string(h) +
                       " pixels, more than this page shows (" + std::to_string(kCanvasLimit) + ")");
    long long work = 0;
    const std::vector<BlockSeen> blocks = walk_blocks(data, size, work);
    if (work > std::max(kWorkFloor, kWorkPerCanvas * canvas))
        return failure("the blocks hold " + std::to_string(work) + " pixels for a picture of " + std::to_string(canvas) +
                       ": more work than this page does for one file");

    std::vector<uint8_t> pixels(static_cast<std::size_t>(canvas) * (info.depth == 8 ? 1 : 3) + 1);
    std::vector<uint8_t> mask(static_cast<std::size_t>(canvas) + 1);
    zf_set_pixel_limit(f.get(), std::max(canvas, 1LL));
    zf_picture pic{};
    pic.width = w;
    pic.height = h;
    pic.pixels = pixels.data();
    pic.mask = mask.data();
    const bool whole = zf_decode_image(f.get(), &pic) == 0;
    std::string damage;
    if (!whole) {
        const std::string why = zf_strerror(zf_errno);
        if (pic.blocks == 0 && pic.failed_line == 0)
            return failure("no block can be decoded: " + why);
        const std::string block = "block " + std::to_string(pic.failed_block);
        damage = pic.failed_line == 0 ? block + " cannot be read: " + why
                                      : "line " + std::to_string(pic.failed_line) + " of " + block +
                                            " cannot be decoded: " + why;
    } else if (pic.blocks == 0) {
        return failure("the ZEFA file holds no block this page can decode");
    }
    std::string json = "{";
    put_header(json, f.get(), info);
    put_blocks(json, blocks, pic);
    put_key(json, "damage");
    if (whole)
        json += "null";
    else
        put_string(json, damage);
    json += '}';
    return make_result(json, to_rgba(pic, f.get(), info.depth, mask, !whole), w, h);
}

// ---- writing -------------------------------------------------------------

uint32_t colour_of(const uint8_t *p) { return uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2]; }

// Depth 8: the picture's colours as a palette, in order of first use.
using Palette = std::vector<std::pair<uint32_t, uint32_t>>; // colour -> index, sorted

bool make_palette(const uint8_t *rgba, std::size_t n, zf_params &p, Palette &sorted, std::string &error)
{
    std::vector<uint32_t> seen;
    for (std::size_t i = 0; i < n; ++i) {
        const uint32_t c = colour_of(rgba + 4 * i);
        const auto it = std::lower_bound(sorted.begin(), sorted.end(), std::make_pair(c, 0u));
        if (it != sorted.end() && it->first == c)
            continue;
        if (seen.size() == ZF_PALETTE_MAX) {
            error = "the picture has more than 256 colours; depth 8 holds 256 (choose depth 15 or 24)";
            return false;
        }
        sorted.insert(it, {c, static_cast<uint32_t>(seen.size())});
        seen.push_back(c);
    }
    p.n_bits = 8;
    p.n_pal = std::max<int>(1, static_cast<int>(seen.size()));
    for (std::size_t i = 0; i < seen.size(); ++i) {
        p.palette[3 * i] = static_cast<unsigned char>(seen[i] >> 16);
        p.palette[3 * i + 1] = static_cast<unsigned char>(seen[i] >> 8);
        p.palette[3 * i + 2] = static_cast<unsigned char>(seen[i]);
    }
    return true;
}

uint32_t value_of(const uint8_t *px, int depth, const Palette &sorted)
{
    const uint32_t c = colour_of(px);
    if (depth == 24)
        return c;
    if (depth == 15)
        return (c >> 11 & 31) << 11 | (c >> 19 & 31) << 6 | (c >> 3 & 31) << 1;
    return std::lower_bound(sorted.begin(), sorted.end(), std::make_pair(c, 0u))->second;
}

bool read_back(int fd, std::vector<uint8_t> &out)
{
    const off_t size = lseek(fd, 0, SEEK_END);
    if (size < 0 || lseek(fd, 0, SEEK_SET) != 0)
        return false;
    out.resize(static_cast<std::size_t>(size));
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = read(fd, out.data() + done, out.size() - done);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

zw_result *encode(const uint8_t *rgba, int w, int h, int depth, const char *coding, const char *title,
                  const char *author, const char *comment)
{
    if (depth != 8 && depth != 15 && depth != 24)
        return failure("the depth must be 8, 15 or 24, not " + std::to_string(depth));
    const std::string c = coding ? coding : "fast";
    const char *tag = c == "none" ? (depth == 24 ? "ZFBM" : "ZFBI") : c == "fast" ? "ZFSF" : c == "optimizing" ? "ZFSS" : nullptr;
    if (!tag)
        return failure("the coding must be none, fast or optimizing, not " + c);
    if (w < 1 || h < 1 || w > 32767 || h > 32767)
        return failure("a ZEFA file holds 1 to 32767 x 32767 pixels, the picture has " + std::to_string(w) + " x " +
                       std::to_string(h));
    const std::size_t n = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    std::vector<std::string> notes;
    for (std::size_t i = 0; i < n; ++i)
        if (rgba[4 * i + 3] != 255) {
            notes.emplace_back("the picture's transparency is dropped: a ZEFA file has none");
            break;
        }
    if (depth == 15)
        notes.emplace_back("depth 15 keeps the upper 5 bits of each colour");
    zf_params p{};
    p.saver = "zefa web page";
    p.depth = depth;
    p.max_width = w;
    p.max_height = h;
    p.ratio_x = p.ratio_y = 1;
    Palette sorted;
    std::string error;
    if (depth == 8 && !make_palette(rgba, n, p, sorted, error))
        return failure(error);
    const std::string t = zfconv::header_text(title ? title : "", 30, "title", notes);
    const std::string a = zfconv::header_text(author ? author : "", 18, "author", notes);
    std::string lf = zfconv::header_text(comment ? comment : "", 0, "comment", notes), crlf;
    for (const char ch : lf) {
        if (ch == '\n')
            crlf += '\r';
        crlf += ch;
    }

    char name[] = "/tmp/zefaXXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0)
        return failure(std::string("cannot make a file in memory: ") + std::strerror(errno));
    unlink(name);
    zf_file *f = zf_create_fd(fd, t.c_str(), crlf.c_str(), a.c_str(), 0, &p);
    bool ok = f != nullptr;
    if (!ok)
        error = library_words("cannot create a ZEFA file");
    for (int y0 = 0; ok && y0 < h; y0 += ZF_MAX_BLOCK_HEIGHT)
        for (int x0 = 0; ok && x0 < w; x0 += ZF_MAX_BLOCK_WIDTH) {
            const int bw = std::min(ZF_MAX_BLOCK_WIDTH, w - x0), bh = std::min(ZF_MAX_BLOCK_HEIGHT, h - y0);
            uint32_t *line = nullptr;
            if (zf_begin_write(f, &line, x0, y0, bw, bh, tag, -1) != 0) {
                error = library_words("cannot start a block");
                ok = false;
                break;
            }
            for (int row = 0;;) {
                const uint8_t *src = rgba + 4 * (static_cast<std::size_t>(y0 + row) * w + x0);
                for (int x = 0; x < bw; ++x)
                    line[x] = value_of(src + 4 * x, depth, sorted);
                const int r = zf_line(f, &line);
                if (r == -2)
                    break;
                if (r == -1) {
                    error = library_words("cannot code a block");
                    ok = false;
                    break;
                }
                row = r == 0 ? 0 : row + 1;
            }
        }
    if (f && zf_close(f) != 0 && ok) {
        error = library_words("cannot write the ZEFA file");
        ok = false;
    }
    std::vector<uint8_t> file;
    if (ok && !read_back(fd, file)) {
        error = std::string("cannot read the file back: ") + std::strerror(errno);
        ok = false;
    }
    close(fd);
    if (!ok)
        return failure(error);
    std::string json = "{";
    put_key(json, "notes");
    json += '[';
    for (const std::string &note : notes) {
        if (json.back() != '[')
            json += ',';
        put_string(json, note);
    }
    json += "]}";
    return make_result(json, std::move(file));
}

} // namespace

extern "C" {

ZW_EXPORT zw_result *zw_decode(const uint8_t *data, int32_t size)
{
    try {
        return decode(data, static_cast<std::size_t>(std::max(size, 0)));
    } catch (const std::bad_alloc &) {
        return failure("out of memory");
    }
}

ZW_EXPORT zw_result *zw_encode(const uint8_t *rgba, int32_t width, int32_t height, int32_t depth, const char *coding,
                               const char *title, const char *author, const char *comment)
{
    try {
        return encode(rgba, width, height, depth, coding, title, author, comment);
    } catch (const std::bad_alloc &) {
        return failure("out of memory");
    }
}

ZW_EXPORT void zw_release(zw_result *r)
{
    if (!r)
        return;
    std::free(r->data);
    std::free(r->json);
    std::free(r);
}

} // extern "C"
