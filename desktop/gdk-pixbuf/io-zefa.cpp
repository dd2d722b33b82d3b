// io-zefa.cpp - the gdk-pixbuf loader module for ZEFA files.
//
// The module collects the bytes it is fed and draws the picture when the
// caller closes the load: the library composes the blocks from memory, and
// every picture is whole before anyone sees it.  A load keeps all of its
// state in its own context and the library's records are per load, so any
// number of loads may run at once in different threads.
//
// The picture is what zfconv makes of the same file: every decodable block
// drawn at its place onto the canvas the blocks need, 8-bit files through
// their palette.  A damaged file gives every line that decodes with the
// rest transparent (and the option "x-zefa-damage" saying what happened);
// a file of which nothing can be drawn is an error.
#define GDK_PIXBUF_ENABLE_BACKEND
#include <gdk-pixbuf/gdk-pixbuf.h>
#undef GDK_PIXBUF_ENABLE_BACKEND

#include "zefa.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

// The largest canvas a load accepts, as zfconv: 2^27 pixels (512 MiB with
// alpha).  A file can claim a canvas of nearly 65536 x 65536 in a few bytes.
constexpr long long kMaxPixels = 1LL << 27;

constexpr char kMagic[] = "ZFDT";

struct Load {
    GdkPixbufModuleSizeFunc size_func;
    GdkPixbufModulePreparedFunc prepared_func;
    GdkPixbufModuleUpdatedFunc updated_func;
    gpointer user_data;
    std::vector<unsigned char> data;
};

struct Closer {
    void operator()(zf_file *f) const { zf_close(f); }
};
using Record = std::unique_ptr<zf_file, Closer>;

struct Unref {
    void operator()(GdkPixbuf *p) const { g_object_unref(p); }
};
using Pixbuf = std::unique_ptr<GdkPixbuf, Unref>;

gboolean fail(GError **error, GdkPixbufError code, const std::string &message)
{
    g_set_error(error, GDK_PIXBUF_ERROR, code, "ZEFA: %s", message.c_str());
    return FALSE;
}

// A failure the library reports, with its reason.
gboolean fail_library(GError **error, const std::string &what, int code)
{
    return fail(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE, what + ": " + zf_strerror(code));
}

bool magic_at(const std::vector<unsigned char> &d, std::size_t at)
{
    return d.size() >= at + 4 && std::memcmp(d.data() + at, kMagic, 4) == 0;
}

// The library refused to open the bytes: either no ZEFA file at all, or
// one whose header is damaged.
gboolean fail_open(GError **error, const std::vector<unsigned char> &d)
{
    const int code = zf_errno;
    if (!magic_at(d, 0) && !magic_at(d, ZF_PREFIX_SIZE))
        return fail(error, GDK_PIXBUF_ERROR_UNKNOWN_TYPE, "not a ZEFA file");
    return fail_library(error, "the header cannot be read", code);
}

// Whether the bytes so far already rule out a ZEFA file (neither magic can
// still be there), so that foreign data fails on the first write that shows it.
bool surely_foreign(const std::vector<unsigned char> &d)
{
    return d.size() >= ZF_PREFIX_SIZE + 4 && !magic_at(d, 0) && !magic_at(d, ZF_PREFIX_SIZE);
}

// Header text (Shift-JIS, blank-padded) as UTF-8 without the padding;
// bytes that are not Shift-JIS become '?'.  Empty when there is no text.
std::string utf8_of(const char *text, std::size_t length)
{
    while (length > 0 && (text[length - 1] == ' ' || text[length - 1] == '\0'))
        --length;
    if (length == 0)
        return {};
    gsize written = 0;
    gchar *u = g_convert_with_fallback(text, static_cast<gssize>(length), "UTF-8", "CP932", "?", nullptr, &written,
                                       nullptr);
    if (!u)
        return {};
    std::string s(u, written);
    g_free(u);
    return s;
}

// The header's texts, the comment and the pixel ratio as pixbuf options.
void set_options(GdkPixbuf *pixbuf, const zf_file *f, const zf_info &info)
{
    const auto set = [pixbuf](const char *key, const std::string &value) {
        if (!value.empty())
            gdk_pixbuf_set_option(pixbuf, key, value.c_str());
    };
    set("x-zefa-title", utf8_of(info.title, std::strlen(info.title)));
    set("x-zefa-author", utf8_of(info.artist, std::strlen(info.artist)));
    if (f->comment) {
        std::string comment = utf8_of(f->comment, std::strlen(f->comment));
        std::string lf; // line ends as the rest of the desktop writes them
        for (std::size_t i = 0; i < comment.size(); ++i)
            if (!(comment[i] == '\r' && i + 1 < comment.size() && comment[i + 1] == '\n'))
                lf += comment[i];
        set("comment", lf);
    }
    if (info.ratio_x > 0 && info.ratio_y > 0)
        set("x-zefa-ratio", std::to_string(info.ratio_x) + ":" + std::to_string(info.ratio_y));
}

gboolean decode(Load &load, GError **error)
{
    const unsigned char *bytes = load.data.data();
    const std::size_t size = load.data.size();
    // One record finds the canvas and the palette; a fresh one decodes (a
    // walk cannot be made twice on one record).
    Record sizing(zf_open_memory(bytes, size));
    if (!sizing)
        return fail_open(error, load.data);
    zf_info info{};
    zf_get_info(sizing.get(), &info);
    if (info.depth != 8 && info.depth != 15 && info.depth != 24)
        return fail(error, GDK_PIXBUF_ERROR_UNKNOWN_TYPE,
                    "pictures of depth " + std::to_string(info.depth) + " cannot be shown");
    int width = 0, height = 0;
    if (zf_picture_size(sizing.get(), &width, &height) != 0)
        return fail_library(error, "no block can be read", zf_errno);
    if (width < 1 || height < 1)
        return fail(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "the picture has no pixels");
    // every index has an entry: unset ones are black, as the record holds them
    std::vector<unsigned char> palette(sizing->palette, sizing->palette + 3 * ZF_PALETTE_MAX);
    sizing.reset();

    if (load.size_func) {
        int w = width, h = height;
        (*load.size_func)(&w, &h, load.user_data);
        if (w == 0 || h == 0) // the caller wanted the size only
            return TRUE;
    }
    const long long pixels = static_cast<long long>(width) * height;
    if (pixels > kMaxPixels)
        return fail(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY,
                    "the picture is too large (" + std::to_string(width) + " x " + std::to_string(height) + ")");

    Record f(zf_open_memory(bytes, size));
    if (!f)
        return fail_open(error, load.data);
    zf_set_pixel_limit(f.get(), kMaxPixels);
    const std::size_t n = static_cast<std::size_t>(pixels);
    const int channels = info.depth == 8 ? 1 : 3;
    std::vector<unsigned char> canvas(n * channels), mask(n, 0);
    zf_picture pic{};
    pic.width = width;
    pic.height = height;
    pic.pixels = canvas.data();
    pic.mask = mask.data();
    std::string damage;
    if (zf_decode_image(f.get(), &pic) != 0) {
        const int code = zf_errno;
        if (pic.blocks == 0 && pic.failed_line == 0)
            return fail_library(error, "no block can be decoded", code);
        const std::string block = "block " + std::to_string(pic.failed_block);
        damage = (pic.failed_line == 0 ? block + " cannot be read: "
                                       : "line " + std::to_string(pic.failed_line) + " of " + block +
                                             " cannot be decoded: ") +
                 zf_strerror(code);
    } else if (pic.blocks == 0) {
        return fail(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "the file holds no block this loader can decode");
    }
    // A sound file is opaque: what no block covers is background.  A damaged
    // one shows what was not decoded as transparent, so it cannot pass for black.
    bool holes = false;
    if (!damage.empty())
        for (unsigned char m : mask)
            holes = holes || m == 0;

    Pixbuf pixbuf(gdk_pixbuf_new(GDK_COLORSPACE_RGB, holes, 8, width, height));
    if (!pixbuf)
        return fail(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY,
                    "not enough memory for " + std::to_string(width) + " x " + std::to_string(height) + " pixels");
    guchar *out = gdk_pixbuf_get_pixels(pixbuf.get());
    const std::size_t stride = static_cast<std::size_t>(gdk_pixbuf_get_rowstride(pixbuf.get()));
    const std::size_t out_channels = holes ? 4 : 3;
    for (std::size_t y = 0; y < static_cast<std::size_t>(height); ++y) {
        guchar *o = out + y * stride;
        const std::size_t row = y * static_cast<std::size_t>(width);
        for (std::size_t x = 0; x < static_cast<std::size_t>(width); ++x, o += out_channels) {
            const std::size_t i = row + x;
            const unsigned char *rgb = channels == 1 ? &palette[3 * std::size_t{canvas[i]}] : &canvas[3 * i];
            o[0] = rgb[0];
            o[1] = rgb[1];
            o[2] = rgb[2];
            if (holes)
                o[3] = mask[i] ? 255 : 0;
        }
    }
    set_options(pixbuf.get(), f.get(), info);
    if (!damage.empty())
        gdk_pixbuf_set_option(pixbuf.get(), "x-zefa-damage", damage.c_str());

    if (load.prepared_func)
        (*load.prepared_func)(pixbuf.get(), nullptr, load.user_data);
    if (load.updated_func)
        (*load.updated_func)(pixbuf.get(), 0, 0, width, height, load.user_data);
    return TRUE;
}

gpointer begin_load(GdkPixbufModuleSizeFunc size_func, GdkPixbufModulePreparedFunc prepared_func,
                    GdkPixbufModuleUpdatedFunc updated_func, gpointer user_data, GError **error)
{
    Load *load = new (std::nothrow) Load{size_func, prepared_func, updated_func, user_data, {}};
    if (!load)
        fail(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "not enough memory to start loading");
    return load;
}

gboolean load_increment(gpointer context, const guchar *buf, guint size, GError **error)
{
    auto *load = static_cast<Load *>(context);
    try {
        load->data.insert(load->data.end(), buf, buf + size);
    } catch (const std::bad_alloc &) {
        return fail(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "not enough memory for the file's bytes");
    }
    if (surely_foreign(load->data))
        return fail(error, GDK_PIXBUF_ERROR_UNKNOWN_TYPE, "not a ZEFA file");
    return TRUE;
}

gboolean stop_load(gpointer context, GError **error)
{
    std::unique_ptr<Load> load(static_cast<Load *>(context));
    try {
        return decode(*load, error);
    } catch (const std::bad_alloc &) {
        return fail(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "not enough memory to decode the picture");
    }
}

} // namespace

extern "C" {

G_MODULE_EXPORT void fill_vtable(GdkPixbufModule *module);
G_MODULE_EXPORT void fill_info(GdkPixbufFormat *info);

void fill_vtable(GdkPixbufModule *module)
{
    module->begin_load = begin_load;
    module->load_increment = load_increment;
    module->stop_load = stop_load;
}

void fill_info(GdkPixbufFormat *info)
{
    // The magic at byte 0, or behind the 128-byte prefix: the prefix may hold
    // anything but 0 bytes, so its positions are 'x' ("any byte") in the mask.
#define ZF_ANY16 "xxxxxxxxxxxxxxxx"
#define ZF_ANY128 ZF_ANY16 ZF_ANY16 ZF_ANY16 ZF_ANY16 ZF_ANY16 ZF_ANY16 ZF_ANY16 ZF_ANY16
    static GdkPixbufModulePattern signature[] = {
        {const_cast<gchar *>("ZFDT"), nullptr, 100},
        {const_cast<gchar *>(ZF_ANY128 "ZFDT"), const_cast<gchar *>(ZF_ANY128 "    "), 80},
        {nullptr, nullptr, 0},
    };
#undef ZF_ANY128
#undef ZF_ANY16
    static const gchar *mime_types[] = {"image/x-zefa", nullptr};
    static const gchar *extensions[] = {"zf", nullptr};
    info->name = const_cast<gchar *>("zefa");
    info->signature = signature;
    info->description = const_cast<gchar *>("ZEFA still image");
    info->mime_types = const_cast<gchar **>(mime_types);
    info->extensions = const_cast<gchar **>(extensions);
    info->flags = GDK_PIXBUF_FORMAT_THREADSAFE; // reads only: no saving
    info->license = const_cast<gchar *>("");
}

} // extern "C"
