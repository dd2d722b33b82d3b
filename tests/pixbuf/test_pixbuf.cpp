// test_pixbuf.cpp - the GTK image loader as gdk-pixbuf's callers use it,
// through the build's loader cache (GDK_PIXBUF_MODULE_FILE) and MIME
// database (gdk-pixbuf knows a file by the MIME type GIO gives it).
#include "codec_run.h"
#include "door_files.h"
#include "harness.h"
#include "pictures.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstring>
#include <map>

namespace {

using zt::Bytes;
struct Unref {
    void operator()(gpointer p) const { g_object_unref(p); }
};
using Pixbuf = std::unique_ptr<GdkPixbuf, Unref>;

// The door files, one of them behind the 128-byte prefix, written into `dir`.
std::vector<std::pair<std::string, Bytes>> samples(const zt::TempDir &dir)
{
    std::vector<std::pair<std::string, Bytes>> s;
    for (zt::DoorFile &f : zt::door_files())
        s.emplace_back(f.name + ".ZF", std::move(f.bytes));
    s.emplace_back("prefixed.ZF", s[2].second);
    s.back().second.insert(s.back().second.begin(), ZF_PREFIX_SIZE, 'p');
    for (const auto &[name, bytes] : s)
        zt::write_file(dir / name, bytes);
    return s;
}

// The options of a pixbuf.
std::map<std::string, std::string> options_of(GdkPixbuf *p)
{
    std::map<std::string, std::string> m;
    GHashTable *t = gdk_pixbuf_get_options(p);
    g_hash_table_foreach(t, +[](gpointer k, gpointer v, gpointer to) {
        (*static_cast<std::map<std::string, std::string> *>(to))[static_cast<char *>(k)] = static_cast<char *>(v);
    }, &m);
    g_hash_table_destroy(t);
    return m;
}

// Equal size, layout and pixels; the padding after each row is not compared.
testing::AssertionResult same_pixels(GdkPixbuf *a, GdkPixbuf *b)
{
    if (!a || !b)
        return testing::AssertionFailure() << "no picture";
    const int w = gdk_pixbuf_get_width(a), h = gdk_pixbuf_get_height(a), n = gdk_pixbuf_get_n_channels(a);
    if (w != gdk_pixbuf_get_width(b) || h != gdk_pixbuf_get_height(b) || n != gdk_pixbuf_get_n_channels(b))
        return testing::AssertionFailure() << w << "x" << h << "x" << n << " against " << gdk_pixbuf_get_width(b)
                                           << "x" << gdk_pixbuf_get_height(b) << "x" << gdk_pixbuf_get_n_channels(b);
    for (int y = 0; y < h; ++y)
        if (std::memcmp(gdk_pixbuf_read_pixels(a) + y * gdk_pixbuf_get_rowstride(a),
                        gdk_pixbuf_read_pixels(b) + y * gdk_pixbuf_get_rowstride(b), static_cast<size_t>(w * n)))
            return testing::AssertionFailure() << "row " << y << " differs";
    return testing::AssertionSuccess();
}

// A load through GdkPixbufLoader, `step` bytes per write, its signals
// counted; size-prepared answers with `size` when it is set.
struct Loaded {
    Pixbuf pixbuf;
    bool ok = true;
    std::string error;
    int size = -1, signals[3] = {};
};
Loaded load(const Bytes &bytes, size_t step, const char *type = nullptr, int size = -1)
{
    Loaded r;
    r.size = size;
    GError *e = nullptr;
    GdkPixbufLoader *loader = type ? gdk_pixbuf_loader_new_with_type(type, nullptr) : gdk_pixbuf_loader_new();
    g_signal_connect(loader, "size-prepared", G_CALLBACK(+[](GdkPixbufLoader *l, int, int, Loaded *x) {
                         ++x->signals[0];
                         if (x->size >= 0)
                             gdk_pixbuf_loader_set_size(l, x->size, x->size);
                     }), &r);
    g_signal_connect(loader, "area-prepared", G_CALLBACK(+[](GdkPixbufLoader *, Loaded *x) { ++x->signals[1]; }), &r);
    g_signal_connect(loader, "area-updated",
                     G_CALLBACK(+[](GdkPixbufLoader *, int, int, int, int, Loaded *x) { ++x->signals[2]; }), &r);
    for (size_t at = 0; at < bytes.size() && r.ok; at += step)
        r.ok = gdk_pixbuf_loader_write(loader, bytes.data() + at, std::min(step, bytes.size() - at), &e);
    r.ok = gdk_pixbuf_loader_close(loader, e ? nullptr : &e) && r.ok; // after a failed write it is closed
    if (e) {
        EXPECT_EQ(e->domain, GDK_PIXBUF_ERROR);
        r.error = e->message;
        g_error_free(e);
    }
    if (GdkPixbuf *p = gdk_pixbuf_loader_get_pixbuf(loader))
        r.pixbuf.reset(GDK_PIXBUF(g_object_ref(p)));
    g_object_unref(loader);
    return r;
}

class Pixbuf_ : public testing::Test {
protected:
    zt::TempDir dir;
};

// Each file known by its content alone, and fed a byte at a time with each
// signal once, shows the same.  (What it shows is the conformance test's:
// tests/conformance.)
TEST_F(Pixbuf_, FilesLoadBytewiseAndByContent)
{
    // flags 4: safe for threads (gdk-pixbuf serialises modules without
    // it), and not 1: it cannot save
    EXPECT_TRUE(zt::has(zt::read_text(ZEFA_PIXBUF_CACHE), "\"zefa\" 4 \""));
    for (const auto &[name, bytes] : samples(dir)) {
        SCOPED_TRACE(name);
        zt::write_file(dir / "plain", bytes); // known by content alone
        const Pixbuf whole(gdk_pixbuf_new_from_file((dir / "plain").c_str(), nullptr));
        ASSERT_TRUE(whole);
        EXPECT_EQ(options_of(whole.get()).count("x-zefa-damage"), name == "24-damaged.ZF");
        const Loaded bytewise = load(bytes, 1);
        EXPECT_TRUE(bytewise.ok) << bytewise.error;
        EXPECT_TRUE(same_pixels(bytewise.pixbuf.get(), whole.get()));
        std::map<std::string, std::string> options = options_of(bytewise.pixbuf.get());
        options.erase("original-width"); // GdkPixbufLoader's own
        options.erase("original-height");
        EXPECT_EQ(options, options_of(whole.get()));
        EXPECT_EQ(std::vector<int>(bytewise.signals, bytewise.signals + 3), std::vector<int>(3, 1));
    }
}

TEST_F(Pixbuf_, SizeAloneIsToldWithoutDecoding)
{
    // a canvas of 30000 x 30000 is more than a load allocates, but its size is told
    zf_params p = zt::params(24);
    p.max_width = p.max_height = 30000;
    const Bytes huge = zt::write_zefa(dir / "huge.ZF", p, {{0, 0, "ZFSF", zt::pattern(24, 3, 3)}});
    int w = 0, h = 0;
    ASSERT_TRUE(gdk_pixbuf_get_file_info((dir / "huge.ZF").c_str(), &w, &h));
    EXPECT_EQ(std::pair(w, h), std::pair(30000, 30000));
    const Loaded sized = load(huge, 4096, "zefa", 0);
    EXPECT_TRUE(sized.ok && !sized.pixbuf && sized.signals[1] == 0) << sized.error;
    EXPECT_TRUE(zt::has(load(huge, 4096, "zefa").error, "the picture is too large (30000 x 30000)"));
}

// A smaller size is drawn straight at that size: each pixel the one of
// the whole picture nearest its centre.
TEST_F(Pixbuf_, SmallerSizesAreDecodedAtThatSize)
{
    for (const auto &[name, bytes] : samples(dir)) {
        SCOPED_TRACE(name);
        const Pixbuf whole(gdk_pixbuf_new_from_file((dir / name).c_str(), nullptr));
        ASSERT_TRUE(whole);
        const Pixbuf nearest(gdk_pixbuf_scale_simple(whole.get(), 16, 12, GDK_INTERP_NEAREST));
        const Pixbuf small(gdk_pixbuf_new_from_file_at_scale((dir / name).c_str(), 16, 12, FALSE, nullptr));
        EXPECT_TRUE(same_pixels(small.get(), nearest.get()));
    }
}

// A refusal is a GError (its words are the conformance test's), also to
// callers that pass none.
TEST_F(Pixbuf_, ForeignAndTruncatedDataFailWithAnError)
{
    const Bytes zefa = zt::write_zefa(dir / "z.ZF", zt::params(24), {{0, 0, "ZFSF", zt::pattern(24, 30, 30)}});
    for (const Bytes &bytes : {Bytes{'h', 'i'}, Bytes{}, Bytes(zefa.begin(), zefa.begin() + 125)}) {
        const Loaded l = load(bytes, 1, "zefa");
        EXPECT_TRUE(!l.ok && !l.error.empty() && !l.pixbuf) << bytes.size() << l.error;
        GdkPixbufLoader *loader = gdk_pixbuf_loader_new_with_type("zefa", nullptr);
        EXPECT_FALSE((bytes.empty() || gdk_pixbuf_loader_write(loader, bytes.data(), bytes.size(), nullptr)) &&
                     gdk_pixbuf_loader_close(loader, nullptr));
        g_object_unref(loader);
    }
}

} // namespace

int main(int argc, char **argv)
{
    // before gdk-pixbuf or GIO read them
    const char *dirs = std::getenv("XDG_DATA_DIRS");
    setenv("XDG_DATA_DIRS", (ZEFA_MIME_DATA_DIR ":" + std::string(dirs && *dirs ? dirs : "/usr/local/share:/usr/share")).c_str(), 1);
    setenv("GDK_PIXBUF_MODULE_FILE", ZEFA_PIXBUF_CACHE, 1);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
