// dump_pixbuf.cpp - files as gdk-pixbuf shows them, through the loader
// named on the command line ("zefa": the build's, or "png"):
//   conformance_dump_pixbuf zefa|png FILE...
#include "dump.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace {

// The whole file through a loader of `type`, as viewers load.
dump::Shown load(const char *type, const std::string &file)
{
    dump::Shown shown;
    std::ifstream in(file, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
    GError *e = nullptr;
    GdkPixbufLoader *loader = gdk_pixbuf_loader_new_with_type(type, &e);
    const bool ok = loader && gdk_pixbuf_loader_write(loader, reinterpret_cast<const guchar *>(bytes.data()),
                                                      bytes.size(), &e);
    const bool closed = loader && gdk_pixbuf_loader_close(loader, e ? nullptr : &e);
    GdkPixbuf *p = ok && closed ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
    if (e || !p) {
        shown.error = e ? e->message : "failed without an error";
        if (shown.error.empty())
            shown.error = "an empty error";
    } else {
        shown.width = gdk_pixbuf_get_width(p);
        shown.height = gdk_pixbuf_get_height(p);
        const int n = gdk_pixbuf_get_n_channels(p), stride = gdk_pixbuf_get_rowstride(p);
        const guchar *px = gdk_pixbuf_read_pixels(p);
        for (int y = 0; y < shown.height; ++y)
            for (int x = 0; x < shown.width; ++x) {
                const guchar *at = px + static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x) * n;
                shown.rgba.insert(shown.rgba.end(), at, at + 3);
                shown.rgba.push_back(n == 4 ? at[3] : 255);
            }
        GHashTable *t = gdk_pixbuf_get_options(p);
        g_hash_table_foreach(t, +[](gpointer k, gpointer v, gpointer to) {
            (*static_cast<std::map<std::string, std::string> *>(to))[static_cast<char *>(k)] = static_cast<char *>(v);
        }, &shown.texts);
        g_hash_table_destroy(t);
    }
    if (e)
        g_error_free(e);
    if (loader)
        g_object_unref(loader);
    return shown;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        return 2;
    setenv("GDK_PIXBUF_MODULE_FILE", ZEFA_PIXBUF_CACHE, 1);
    for (int i = 2; i < argc; ++i) {
        dump::Shown shown = load(argv[1], argv[i]);
        dump::print(argv[i], std::string("pixbuf-") + argv[1], shown);
    }
    return 0;
}
