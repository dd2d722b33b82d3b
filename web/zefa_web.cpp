// zefa_web.cpp - the library's whole-picture calls for the web page and for
// Node (zefa_web.h): a ZEFA file to RGBA pixels with its header as text,
// and RGBA pixels to a ZEFA file.  Everything the page shows or says about
// a file comes from the library through here; the script only moves bytes
// and builds the page.
#include "zefa_web.h"

#include "zefa.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#ifdef __EMSCRIPTEN__
#include <emscripten/emscripten.h>
#define ZW_EXPORT EMSCRIPTEN_KEEPALIVE
#else
#define ZW_EXPORT
#endif

namespace {

struct Closer {
    void operator()(zf_file *f) const { zf_close(f); }
};
using Record = std::unique_ptr<zf_file, Closer>;
struct Freer {
    void operator()(void *p) const { zf_free(p); }
};

// ---- JSON ----------------------------------------------------------------

// Text that is already UTF-8 (the library escapes what is no character).
void put_string(std::string &out, const char *text)
{
    out += '"';
    for (; *text; ++text) {
        const auto b = static_cast<unsigned char>(*text);
        if (b == '"' || b == '\\') {
            out += '\\';
            out += *text;
        } else if (b < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", b);
            out += buf;
        } else {
            out += *text;
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

void put_field(std::string &out, const char *key, long long value)
{
    put_key(out, key);
    out += std::to_string(value);
}

// A result that owns `bytes` (from malloc, or null for none).
zw_result *make_result(const std::string &json, uint8_t *bytes = nullptr, std::size_t size = 0, int width = 0,
                       int height = 0)
{
    auto *r = static_cast<zw_result *>(std::calloc(1, sizeof(zw_result)));
    char *text = static_cast<char *>(std::malloc(json.size() + 1));
    if (!r || !text) {
        std::free(r);
        std::free(text);
        std::free(bytes);
        return nullptr;
    }
    std::memcpy(text, json.c_str(), json.size() + 1);
    *r = zw_result{bytes, static_cast<int32_t>(size), width, height, text};
    return r;
}

zw_result *failure(const std::string &words)
{
    std::string json = "{";
    put_key(json, "error");
    put_string(json, words.c_str());
    json += '}';
    return make_result(json);
}

std::string library_words(const std::string &what) { return what + ": " + zf_strerror(zf_errno); }

std::string report_words(const zf_report &report)
{
    std::string text(static_cast<std::size_t>(std::max(zf_report_text(&report, nullptr, 0), 0)) + 1, '\0');
    zf_report_text(&report, text.data(), text.size());
    text.pop_back();
    return text;
}

// ---- reading -------------------------------------------------------------

// The header: its texts under the library's JSON names (and the artist
// also as "author"), its numbers, and the texts again under their PNG keys.
bool put_header(std::string &json, const zf_file *f)
{
    zf_info info{};
    zf_get_info(f, &info);
    int count = 0;
    const std::unique_ptr<zf_text_entry, Freer> texts(zf_get_texts(f, &count));
    if (!texts)
        return false;
    const zf_text_entry *t = texts.get();
    put_key(json, "info");
    json += '{';
    for (int i = 0; i < count; ++i) {
        if (std::strcmp(t[i].json, "number") == 0)
            continue; // a number, below
        put_key(json, t[i].json);
        put_string(json, t[i].value);
        if (std::strcmp(t[i].json, "artist") == 0) {
            put_key(json, "author");
            put_string(json, t[i].value);
        }
    }
    put_field(json, "number", info.number);
    put_field(json, "time", static_cast<long long>(info.time));
    put_field(json, "depth", info.depth);
    put_field(json, "ratio_x", info.ratio_x);
    put_field(json, "ratio_y", info.ratio_y);
    put_field(json, "width", info.max_width);
    put_field(json, "height", info.max_height);
    put_field(json, "palette_entries", info.n_pal);
    json += '}';
    put_key(json, "png_text");
    json += '[';
    for (int i = 0; i < count; ++i) {
        json += i ? ",[" : "[";
        put_string(json, t[i].key);
        json += ',';
        put_string(json, t[i].value);
        json += ']';
    }
    json += ']';
    return true;
}

// The blocks in file order as far as the walk gets, and how each decoded.
void put_blocks(std::string &json, const uint8_t *data, std::size_t size, const zf_report &report)
{
    put_key(json, "blocks");
    json += '[';
    Record f(zf_open_memory(data, size));
    int i = 0;
    for (int r = f ? zf_first_block(f.get()) : 0; r > 0; r = zf_next_block(f.get()), ++i) {
        zf_block b{};
        zf_get_block(f.get(), &b);
        json += i ? ",{" : "{";
        put_field(json, "number", i);
        put_key(json, "tag");
        put_string(json, b.tag);
        put_field(json, "x", b.x);
        put_field(json, "y", b.y);
        put_field(json, "width", b.width);
        put_field(json, "height", b.height);
        const bool reached = report.block < 0 || i < report.block;
        put_key(json, "decodes");
        json += r == 1 && reached ? "true" : "false";
        if (i == report.block)
            put_field(json, "lines_decoded", report.lines);
        json += '}';
    }
    json += ']';
}

// RGBA for a canvas: alpha 0 where a damaged file drew nothing.  Null
// when memory runs out.
uint8_t *rgba_of(const zf_image &img)
{
    const std::size_t n = static_cast<std::size_t>(img.width) * static_cast<std::size_t>(img.height);
    auto *rgba = static_cast<uint8_t *>(std::malloc(4 * n));
    for (std::size_t i = 0; rgba && i < n; ++i) {
        const unsigned char *p = img.pixels + 3 * i;
        uint8_t *q = rgba + 4 * i;
        q[0] = p[0];
        q[1] = p[1];
        q[2] = p[2];
        q[3] = !img.mask || img.mask[i] ? 255 : 0;
    }
    return rgba;
}

zw_result *decode(const uint8_t *data, std::size_t size)
{
    zf_report report{};
    const std::unique_ptr<zf_image, decltype(&zf_free_image)> img(
        zf_decode_memory(data, size, nullptr, ZF_RGB, &report), &zf_free_image);
    if (!img)
        return failure(report_words(report));
    Record f(zf_open_memory(data, size));
    std::string json = "{";
    if (!f || !put_header(json, f.get()))
        return failure(library_words("the header cannot be read"));
    put_blocks(json, data, size, report);
    put_key(json, "damage");
    if (report.status == ZF_DECODED_WHOLE)
        json += "null";
    else
        put_string(json, report_words(report).c_str());
    json += '}';
    uint8_t *rgba = rgba_of(*img);
    if (!rgba)
        return failure("out of memory");
    const std::size_t n = static_cast<std::size_t>(img->width) * static_cast<std::size_t>(img->height);
    return make_result(json, rgba, 4 * n, img->width, img->height);
}

// ---- writing -------------------------------------------------------------

// A header text as Shift-JIS, cut to the field's width (0: no limit); what
// was cut is told in `notes`.
bool header_text(const char *utf8, std::size_t width, const char *what, std::string &out,
                 std::vector<std::string> &notes, std::string &error)
{
    std::size_t length = 0;
    const std::unique_ptr<char, Freer> sjis(zf_text_from_utf8(utf8, std::strlen(utf8), ZF_TEXT_STRICT, &length));
    if (!sjis) {
        error = library_words(std::string("the ") + what);
        return false;
    }
    out.assign(sjis.get(), length);
    if (width > 0 && length > width) {
        out.resize(zf_text_cut(out.data(), out.size(), width));
        notes.push_back(std::string("the ") + what + " is cut to the " + std::to_string(width) + " bytes it holds");
    }
    return true;
}

// Depth 8: the picture's colours as the palette, in order of first use,
// and each pixel's index; false when there are more than 256.
bool indexed(const uint8_t *rgba, std::size_t n, zf_encoding &e, std::vector<uint8_t> &out)
{
    std::vector<std::pair<uint32_t, uint8_t>> known; // colour -> index, sorted
    out.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const uint8_t *p = rgba + 4 * i;
        const uint32_t c = uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
        auto it = std::lower_bound(known.begin(), known.end(), std::make_pair(c, uint8_t{0}));
        if (it == known.end() || it->first != c) {
            if (e.n_pal == ZF_PALETTE_MAX)
                return false;
            std::memcpy(e.palette + 3 * e.n_pal, p, 3);
            it = known.insert(it, {c, static_cast<uint8_t>(e.n_pal++)});
        }
        out[i] = it->second;
    }
    e.n_pal = std::max(e.n_pal, 1);
    return true;
}

zw_result *encode(const uint8_t *rgba, int w, int h, int depth, const char *coding, const char *title,
                  const char *author, const char *comment)
{
    zf_encoding e{};
    e.depth = depth;
    const std::string c = coding;
    e.coding = c == "none" ? ZF_CODING_NONE : c == "fast" ? ZF_CODING_FAST : c == "optimizing" ? ZF_CODING_OPTIMIZING : -1;
    if (depth != 8 && depth != 15 && depth != 24)
        return failure("the depth must be 8, 15 or 24, not " + std::to_string(depth));
    if (e.coding < 0)
        return failure("the coding must be none, fast or optimizing, not " + c);
    if (w < 1 || h < 1 || w > 32767 || h > 32767)
        return failure("a ZEFA file holds 1 to 32767 x 32767 pixels, the picture has " + std::to_string(w) + " x " +
                       std::to_string(h));
    std::vector<std::string> notes;
    std::string t, a, m, error;
    if (!header_text(title, 30, "title", t, notes, error) || !header_text(author, 18, "author", a, notes, error) ||
        !header_text(comment, 0, "comment", m, notes, error))
        return failure(error);
    e.title = t.c_str();
    e.artist = a.c_str();
    e.comment = m.c_str();
    e.saver = "zefa web page";

    const std::size_t n = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    for (std::size_t i = 0; i < n; ++i)
        if (rgba[4 * i + 3] != 255) {
            notes.emplace_back("the picture's transparency is dropped: a ZEFA file has none");
            break;
        }
    std::vector<uint8_t> pixels;
    if (depth == 8) {
        if (!indexed(rgba, n, e, pixels))
            return failure("the picture has more than 256 colours; depth 8 holds 256 (choose depth 15 or 24)");
    } else {
        pixels.resize(3 * n);
        for (std::size_t i = 0; i < n; ++i)
            std::memcpy(&pixels[3 * i], rgba + 4 * i, 3);
        if (depth == 15)
            notes.emplace_back("depth 15 keeps the upper 5 bits of each colour");
    }
    void *file = nullptr;
    std::size_t size = 0;
    if (zf_encode_memory(&file, &size, &e, pixels.data(), w, h, depth == 8 ? ZF_INDEXED : ZF_RGB) != 0)
        return failure(library_words("the ZEFA file cannot be made"));
    std::unique_ptr<void, Freer> owned(file);
    auto *bytes = static_cast<uint8_t *>(std::malloc(std::max<std::size_t>(size, 1)));
    if (!bytes)
        return failure("out of memory");
    std::memcpy(bytes, file, size);
    std::string json = "{";
    put_key(json, "notes");
    json += '[';
    for (const std::string &note : notes) {
        if (json.back() != '[')
            json += ',';
        put_string(json, note.c_str());
    }
    json += "]}";
    return make_result(json, bytes, size);
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
