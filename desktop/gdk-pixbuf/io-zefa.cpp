// io-zefa.cpp - the gdk-pixbuf loader module for ZEFA files.
//
// The module collects the bytes it is fed and draws the picture when the
// caller closes the load, through the library's whole-picture calls and
// under the library's limits: the picture, its texts and its refusals are
// those every other door shows.  A load keeps all of its state in its own
// context and the library's records are per load, so any number of loads
// may run at once in different threads.
//
// The texts are the options gdk-pixbuf's PNG loader gives for zfconv's PNG
// of the same file ("tEXt::Title", ...).  A damaged file gives every line
// that decodes with the rest transparent, and the option "x-zefa-damage"
// saying what happened; a file of which nothing can be drawn is an error
// in the library's words.
#define GDK_PIXBUF_ENABLE_BACKEND
#include <gdk-pixbuf/gdk-pixbuf.h>
#undef GDK_PIXBUF_ENABLE_BACKEND

#include "zefa.hpp"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

struct Load {
    GdkPixbufModuleSizeFunc size_func;
    GdkPixbufModulePreparedFunc prepared_func;
    GdkPixbufModuleUpdatedFunc updated_func;
    gpointer user_data;
    std::vector<unsigned char> data;
};

struct Unref {
    void operator()(GdkPixbuf *p) const { g_object_unref(p); }
};
using Pixbuf = std::unique_ptr<GdkPixbuf, Unref>;

gboolean fail(GError **error, GdkPixbufError code, const std::string &message)
{
    g_set_error_literal(error, GDK_PIXBUF_ERROR, code, message.c_str());
    return FALSE;
}

// A refusal of the library, in its words.
gboolean refuse(GError **error, const zf_report &report)
{
    GdkPixbufError code = GDK_PIXBUF_ERROR_CORRUPT_IMAGE;
    if (report.status == ZF_REFUSED_OPEN && report.error == ZF_ERR_FORMAT)
        code = GDK_PIXBUF_ERROR_UNKNOWN_TYPE;
    else if (report.status == ZF_REFUSED_DEPTH)
        code = GDK_PIXBUF_ERROR_UNKNOWN_TYPE;
    else if (report.status == ZF_REFUSED_CANVAS || report.status == ZF_REFUSED_WORK || report.error == ENOMEM)
        code = GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY;
    return fail(error, code, zefa::words(report));
}

// What the file says before any pixel is decoded: its texts, pixel ratio
// and canvas (when its blocks can be walked).
struct Header {
    zefa::Texts texts;
    zf_info info{};
    int width = 0, height = 0;
    bool sized = false;
};

Header read_header(const std::vector<unsigned char> &data)
{
    Header h;
    zefa::Record f = zefa::open_memory(data.data(), data.size());
    if (!f)
        return h; // the decoding says why
    zf_get_info(f.get(), &h.info);
    h.texts.reset(zf_get_texts(f.get(), nullptr));
    h.sized = zf_picture_size(f.get(), &h.width, &h.height) == 0 && h.width > 0 && h.height > 0;
    return h;
}

void set_options(GdkPixbuf *pixbuf, const Header &h, const std::string &damage)
{
    for (const zf_text_entry *t = h.texts.get(); t && t->key; ++t)
        gdk_pixbuf_set_option(pixbuf, ("tEXt::" + std::string(t->key)).c_str(), t->value);
    if (h.info.ratio_x > 0 && h.info.ratio_y > 0 && h.info.ratio_x != h.info.ratio_y)
        gdk_pixbuf_set_option(pixbuf, "x-zefa-ratio",
                              (std::to_string(h.info.ratio_x) + ":" + std::to_string(h.info.ratio_y)).c_str());
    if (!damage.empty())
        gdk_pixbuf_set_option(pixbuf, "x-zefa-damage", damage.c_str());
}

// The picture as a pixbuf: opaque when whole, with what was not decoded
// transparent when damaged, so that it cannot pass for black.
Pixbuf to_pixbuf(const zf_image &img)
{
    const std::size_t n = static_cast<std::size_t>(img.width) * static_cast<std::size_t>(img.height);
    const bool holes = img.mask && std::find(img.mask, img.mask + n, 0) != img.mask + n;
    Pixbuf pixbuf(gdk_pixbuf_new(GDK_COLORSPACE_RGB, holes, 8, img.width, img.height));
    if (!pixbuf)
        return pixbuf;
    guchar *out = gdk_pixbuf_get_pixels(pixbuf.get());
    const std::size_t stride = static_cast<std::size_t>(gdk_pixbuf_get_rowstride(pixbuf.get()));
    const std::size_t w = static_cast<std::size_t>(img.width);
    for (std::size_t y = 0; y < static_cast<std::size_t>(img.height); ++y) {
        guchar *o = out + y * stride;
        const unsigned char *p = img.pixels + 3 * y * w;
        if (!holes) {
            std::copy_n(p, 3 * w, o);
            continue;
        }
        for (std::size_t x = 0; x < w; ++x, o += 4, p += 3) {
            std::copy_n(p, 3, o);
            o[3] = img.mask[y * w + x] ? 255 : 0;
        }
    }
    return pixbuf;
}

gboolean decode(Load &load, GError **error)
{
    const Header h = read_header(load.data);
    int width = 0, height = 0; // 0 x 0: the canvas
    if (h.sized && load.size_func) {
        int w = h.width, ht = h.height;
        (*load.size_func)(&w, &ht, load.user_data);
        if (w <= 0 || ht <= 0) // the caller wanted the size only
            return TRUE;
        // a smaller picture is decoded straight at its size (gdk-pixbuf
        // scales up what is larger than the canvas)
        if (w < h.width || ht < h.height) {
            width = std::min(w, h.width);
            height = std::min(ht, h.height);
        }
    }
    zf_report report{};
    const zefa::Image img(zf_decode_memory_scaled(load.data.data(), load.data.size(), width, height, nullptr, ZF_RGB, &report));
    if (!img)
        return refuse(error, report);
    Pixbuf pixbuf = to_pixbuf(*img);
    if (!pixbuf)
        return fail(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY,
                    "not enough memory for " + std::to_string(img->width) + " x " + std::to_string(img->height) +
                        " pixels");
    set_options(pixbuf.get(), h, zefa::words(report));
    if (load.prepared_func)
        (*load.prepared_func)(pixbuf.get(), nullptr, load.user_data);
    if (load.updated_func)
        (*load.updated_func)(pixbuf.get(), 0, 0, img->width, img->height, load.user_data);
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
    // foreign data fails on the first write that shows it, not at the end
    if (zf_sniff(load->data.data(), load->data.size()) == 0) {
        zf_report report{};
        zefa::Image none(zf_decode_memory(load->data.data(), load->data.size(), nullptr, ZF_RGB, &report));
        return refuse(error, report);
    }
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
