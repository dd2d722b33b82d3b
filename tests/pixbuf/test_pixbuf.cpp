// test_pixbuf.cpp - the GTK image loader as gdk-pixbuf's callers use it,
// through the build's loader cache (GDK_PIXBUF_MODULE_FILE) and MIME
// database (gdk-pixbuf knows a file by the MIME type GIO gives it), and the
// thumbnailer entry run as a desktop runs it.
#include "codec_run.h"
#include "harness.h"
#include "pictures.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

using zt::Bytes;

struct Unref {
    void operator()(gpointer p) const { g_object_unref(p); }
};
template <class T> using Ref = std::unique_ptr<T, Unref>;
using Pixbuf = Ref<GdkPixbuf>;

struct Error {
    GError *e = nullptr;
    ~Error() { g_clear_error(&e); }
    std::string text() const { return e ? e->message : "no error"; }
};

// A palette of distinct colours, so that a channel taken for another shows.
zf_params colour_params(int depth, int ratio_x = 1, int ratio_y = 1)
{
    zf_params p = zt::params(depth, ratio_x, ratio_y);
    if (depth == 8)
        for (int i = 0; i < 256; ++i) {
            p.palette[3 * i] = static_cast<unsigned char>(i * 16);
            p.palette[3 * i + 1] = static_cast<unsigned char>(255 - i * 8);
            p.palette[3 * i + 2] = static_cast<unsigned char>(i * 5 + 7);
        }
    return p;
}

// Odd widths, so that every row of a pixbuf is padded.
struct Sample {
    std::string name;
    Bytes bytes;
};
std::vector<Sample> samples(const zt::TempDir &dir)
{
    std::vector<Sample> s;
    const auto add = [&](const std::string &name, int depth, const std::vector<zt::Block> &blocks) {
        s.push_back({name, zt::write_zefa(dir / name, colour_params(depth), blocks)});
    };
    add("palette.ZF", 8, {{0, 0, "ZFSF", zt::pattern(8, 37, 21)}});
    add("hicolour.ZF", 15, {{0, 0, "ZFBI", zt::pattern(15, 29, 17, 1)}});
    add("truecolour.ZF", 24, {{0, 0, "ZFSS", zt::pattern(24, 41, 23, 2)}});
    // blocks apart (the gap is background), one beyond the header's size
    add("blocks.ZF", 24,
        {{0, 0, "ZFSF", zt::pattern(24, 13, 9, 3)}, {20, 5, "ZFBM", zt::pattern(24, 7, 11, 4)},
         {-3, 12, "ZFSS", zt::pattern(24, 9, 3, 5)}});
    Bytes prefixed = s[2].bytes;
    prefixed.insert(prefixed.begin(), ZF_PREFIX_SIZE, 'p');
    s.push_back({"prefixed.ZF", prefixed});
    // cut inside the last block's lines: what decodes, the rest transparent
    Bytes damaged = s[1].bytes;
    damaged.resize(damaged.size() - 8 - 300);
    s.push_back({"damaged.ZF", damaged});
    for (const Sample &x : s)
        zt::write_file(dir / x.name, x.bytes);
    return s;
}

// What zfconv makes of a file, read back by gdk-pixbuf's PNG reader.
Pixbuf zfconv_png(const zt::TempDir &dir, const std::string &name)
{
    const std::string png = dir / (name + ".png");
    zt::run(zt::zfconv_path(), {"-q", dir / name, png});
    Error err;
    Pixbuf p(gdk_pixbuf_new_from_file(png.c_str(), &err.e));
    EXPECT_TRUE(p) << png << ": " << err.text();
    return p;
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
    for (int y = 0; y < h; ++y) {
        const guchar *ra = gdk_pixbuf_read_pixels(a) + y * gdk_pixbuf_get_rowstride(a);
        const guchar *rb = gdk_pixbuf_read_pixels(b) + y * gdk_pixbuf_get_rowstride(b);
        if (std::memcmp(ra, rb, static_cast<size_t>(w * n)) != 0)
            return testing::AssertionFailure() << "row " << y << " differs";
    }
    return testing::AssertionSuccess();
}

// A load through GdkPixbufLoader, `step` bytes per write, with its signals counted.
struct Loaded {
    Pixbuf pixbuf;
    bool written = true, closed = false;
    std::string error;
    int size_prepared = 0, area_prepared = 0, area_updated = 0;
    int set_width = -1, set_height = -1; // what size-prepared answers
};
Loaded load(const Bytes &bytes, size_t step, const char *type = nullptr, int set_width = -1, int set_height = -1)
{
    Loaded r;
    r.set_width = set_width;
    r.set_height = set_height;
    Error err;
    Ref<GdkPixbufLoader> loader(type ? gdk_pixbuf_loader_new_with_type(type, &err.e) : gdk_pixbuf_loader_new());
    if (!loader) {
        r.error = err.text();
        return r;
    }
    g_signal_connect(loader.get(), "size-prepared", G_CALLBACK(+[](GdkPixbufLoader *l, int, int, Loaded *x) {
                         ++x->size_prepared;
                         if (x->set_width >= 0)
                             gdk_pixbuf_loader_set_size(l, x->set_width, x->set_height);
                     }),
                     &r);
    g_signal_connect(loader.get(), "area-prepared",
                     G_CALLBACK(+[](GdkPixbufLoader *, Loaded *x) { ++x->area_prepared; }), &r);
    g_signal_connect(loader.get(), "area-updated",
                     G_CALLBACK(+[](GdkPixbufLoader *, int, int, int, int, Loaded *x) { ++x->area_updated; }), &r);
    for (size_t at = 0; at < bytes.size() && r.written; at += step)
        r.written = gdk_pixbuf_loader_write(loader.get(), bytes.data() + at, std::min(step, bytes.size() - at), &err.e);
    r.closed = gdk_pixbuf_loader_close(loader.get(), err.e ? nullptr : &err.e);
    if (err.e) {
        EXPECT_EQ(err.e->domain, GDK_PIXBUF_ERROR);
        r.error = err.text();
    }
    if (GdkPixbuf *p = gdk_pixbuf_loader_get_pixbuf(loader.get()))
        r.pixbuf.reset(GDK_PIXBUF(g_object_ref(p)));
    return r;
}

class Pixbuf_ : public testing::Test {
protected:
    zt::TempDir dir;
};

TEST_F(Pixbuf_, TheModuleIsRegisteredToReadOnlyAndFromManyThreads)
{
    GSList *formats = gdk_pixbuf_get_formats();
    GdkPixbufFormat *zefa = nullptr;
    for (GSList *l = formats; l; l = l->next)
        if (gchar *name = gdk_pixbuf_format_get_name(static_cast<GdkPixbufFormat *>(l->data))) {
            if (!std::strcmp(name, "zefa"))
                zefa = static_cast<GdkPixbufFormat *>(l->data);
            g_free(name);
        }
    g_slist_free(formats);
    ASSERT_TRUE(zefa) << "the loader cache " << std::getenv("GDK_PIXBUF_MODULE_FILE") << " lacks the module";
    EXPECT_FALSE(gdk_pixbuf_format_is_writable(zefa));
    EXPECT_FALSE(gdk_pixbuf_format_is_disabled(zefa));
    gchar **mime = gdk_pixbuf_format_get_mime_types(zefa);
    EXPECT_STREQ(mime[0], "image/x-zefa");
    g_strfreev(mime);
    // the flag itself: without it gdk-pixbuf ignores the module in threads
    EXPECT_TRUE(zt::has(zt::read_text(std::getenv("GDK_PIXBUF_MODULE_FILE")), "\"zefa\" 4 "));
}

TEST_F(Pixbuf_, PixelsAreZfconvsWholeAndFedByteByByte)
{
    for (const Sample &s : samples(dir)) {
        SCOPED_TRACE(s.name);
        const Pixbuf png = zfconv_png(dir, s.name);
        Error err;
        // by content alone: the name gives gdk-pixbuf nothing to go by
        const std::string plain = dir / "plain";
        zt::write_file(plain, s.bytes);
        const Pixbuf whole(gdk_pixbuf_new_from_file(plain.c_str(), &err.e));
        ASSERT_TRUE(whole) << err.text();
        EXPECT_TRUE(same_pixels(whole.get(), png.get()));
        if (!gdk_pixbuf_get_has_alpha(whole.get())) { // rows of RGB are padded
            EXPECT_NE(gdk_pixbuf_get_rowstride(whole.get()), gdk_pixbuf_get_width(whole.get()) * 3);
        }

        const Loaded bytewise = load(s.bytes, 1);
        EXPECT_TRUE(bytewise.written && bytewise.closed) << bytewise.error;
        EXPECT_TRUE(same_pixels(bytewise.pixbuf.get(), png.get()));
        EXPECT_EQ(bytewise.size_prepared, 1);
        EXPECT_EQ(bytewise.area_prepared, 1);
        EXPECT_EQ(bytewise.area_updated, 1);
        const bool damaged = s.name == "damaged.ZF";
        EXPECT_EQ(gdk_pixbuf_get_has_alpha(whole.get()), damaged);
        EXPECT_EQ(gdk_pixbuf_get_option(whole.get(), "x-zefa-damage") != nullptr, damaged);
    }
}

TEST_F(Pixbuf_, TextsAndPixelRatioAreOptions)
{
    zt::Texts texts;
    texts.title = "\x93\xfa\x96\x7b"; // Shift-JIS for "Japan"
    texts.artist = "Hokusai";
    texts.comment = "first line\nsecond";
    const Bytes b = zt::write_zefa(dir / "t.ZF", colour_params(15, 2, 1), {{0, 0, "ZFSF", zt::pattern(15, 5, 5)}}, texts);
    const Loaded l = load(b, 4096, "zefa");
    ASSERT_TRUE(l.pixbuf) << l.error;
    EXPECT_STREQ(gdk_pixbuf_get_option(l.pixbuf.get(), "x-zefa-title"), "\xe6\x97\xa5\xe6\x9c\xac");
    EXPECT_STREQ(gdk_pixbuf_get_option(l.pixbuf.get(), "x-zefa-author"), "Hokusai");
    EXPECT_STREQ(gdk_pixbuf_get_option(l.pixbuf.get(), "comment"), "first line\nsecond");
    EXPECT_STREQ(gdk_pixbuf_get_option(l.pixbuf.get(), "x-zefa-ratio"), "2:1");
}

TEST_F(Pixbuf_, SizeAloneIsToldWithoutDecodingAndScalingWorks)
{
    // a canvas of 30000 x 30000 is more than a load allocates, but its size is told
    zf_params p = colour_params(24);
    p.max_width = p.max_height = 30000;
    const Bytes huge = zt::write_zefa(dir / "huge.ZF", p, {{0, 0, "ZFSF", zt::pattern(24, 3, 3)}});
    int w = 0, h = 0;
    GdkPixbufFormat *format = gdk_pixbuf_get_file_info((dir / "huge.ZF").c_str(), &w, &h);
    ASSERT_TRUE(format);
    gchar *name = gdk_pixbuf_format_get_name(format);
    EXPECT_STREQ(name, "zefa");
    g_free(name);
    EXPECT_EQ(w, 30000);
    EXPECT_EQ(h, 30000);
    const Loaded sized = load(huge, 4096, "zefa", 0, 0);
    EXPECT_TRUE(sized.closed) << sized.error;
    EXPECT_FALSE(sized.pixbuf);
    EXPECT_EQ(sized.area_prepared, 0);
    const Loaded full = load(huge, 4096, "zefa");
    EXPECT_FALSE(full.closed);
    EXPECT_TRUE(zt::has(full.error, "too large"));

    zt::write_zefa(dir / "s.ZF", colour_params(24), {{0, 0, "ZFSS", zt::pattern(24, 40, 20)}});
    Error err;
    const Pixbuf small(gdk_pixbuf_new_from_file_at_size((dir / "s.ZF").c_str(), 10, 10, &err.e));
    ASSERT_TRUE(small) << err.text();
    EXPECT_EQ(gdk_pixbuf_get_width(small.get()), 10);
    EXPECT_EQ(gdk_pixbuf_get_height(small.get()), 5);
}

TEST_F(Pixbuf_, ForeignAndTruncatedDataFailWithAnError)
{
    const zt::Picture pic = zt::test_picture(zt::Kind::rgb, 40, 30);
    ASSERT_TRUE(zt::write_png(dir / "f.png", pic) && zt::write_jpeg(dir / "f.jpg", pic));
    const Bytes zefa = zt::write_zefa(dir / "z.ZF", colour_params(24), {{0, 0, "ZFSF", zt::pattern(24, 30, 30)}});
    const std::vector<std::pair<std::string, Bytes>> cases = {
        {"png", zt::read_file(dir / "f.png")},
        {"jpeg", zt::read_file(dir / "f.jpg")},
        {"short text", {'h', 'e', 'l', 'l', 'o'}},
        {"nothing", {}},
        {"half a header", Bytes(zefa.begin(), zefa.begin() + 60)},
        {"no block", Bytes(zefa.begin(), zefa.begin() + ZF_HEADER_SIZE + 1)},
        {"a block header cut", Bytes(zefa.begin(), zefa.begin() + ZF_HEADER_SIZE + 1 + 10)},
    };
    for (const auto &[what, bytes] : cases) {
        SCOPED_TRACE(what);
        for (size_t step : {size_t{1}, size_t{100000}}) {
            const Loaded l = load(bytes, step, "zefa");
            EXPECT_FALSE(l.written && l.closed);
            EXPECT_FALSE(l.error.empty());
            EXPECT_FALSE(l.pixbuf);
        }
        // callers that pass no GError at all
        Ref<GdkPixbufLoader> loader(gdk_pixbuf_loader_new_with_type("zefa", nullptr));
        const bool written = bytes.empty() || gdk_pixbuf_loader_write(loader.get(), bytes.data(), bytes.size(), nullptr);
        EXPECT_FALSE(written && gdk_pixbuf_loader_close(loader.get(), nullptr));
    }
    // foreign data fails on the write that shows it
    const Loaded png = load(zt::read_file(dir / "f.png"), 200, "zefa");
    EXPECT_FALSE(png.written);
    EXPECT_TRUE(zt::has(png.error, "not a ZEFA file"));
}

TEST_F(Pixbuf_, ManyLoadsAtOnce)
{
    const std::vector<Sample> s = samples(dir);
    std::vector<Pixbuf> expected;
    for (const Sample &x : s)
        expected.push_back(load(x.bytes, 65536).pixbuf);
    std::vector<std::thread> threads;
    std::vector<int> wrong(8, 0);
    for (size_t t = 0; t < wrong.size(); ++t)
        threads.emplace_back([&, t] {
            for (size_t i = 0; i < 6 * s.size(); ++i) {
                const size_t k = (t + i) % s.size();
                Error err;
                Pixbuf p(i % 2 ? gdk_pixbuf_new_from_file((dir / s[k].name).c_str(), &err.e)
                               : load(s[k].bytes, 97).pixbuf.release());
                wrong[t] += !same_pixels(p.get(), expected[k].get());
            }
        });
    for (std::thread &t : threads)
        t.join();
    for (int w : wrong)
        EXPECT_EQ(w, 0);
}

// The entry's command as a desktop runs it: the input a read-only copy in
// a folder of its own, the output in another, the working folder and HOME
// read-only too, no display; nothing may appear but the thumbnail.
TEST_F(Pixbuf_, TheThumbnailerEntryMakesAThumbnail)
{
    std::ifstream entry(ZEFA_THUMBNAILER_ENTRY);
    ASSERT_TRUE(entry) << ZEFA_THUMBNAILER_ENTRY;
    std::string line, exec, try_exec;
    while (std::getline(entry, line)) {
        if (line.rfind("Exec=", 0) == 0)
            exec = line.substr(5);
        if (line.rfind("TryExec=", 0) == 0)
            try_exec = line.substr(8);
        if (line.rfind("MimeType=", 0) == 0) {
            EXPECT_EQ(line, "MimeType=image/x-zefa;");
        }
    }
    if (!zt::file_exists(try_exec))
        GTEST_SKIP() << try_exec << " is not installed";

    const std::string in = dir / "in", out = dir / "out", home = dir / "home";
    for (const std::string &d : {in, out, home})
        mkdir(d.c_str(), 0755);
    const std::string input = in + "/gnome-desktop-file-to-thumbnail.ZF";
    zt::write_zefa(input, colour_params(8), {{0, 0, "ZFSS", zt::pattern(8, 300, 200)}});
    for (const std::string &p : {input, in, home})
        chmod(p.c_str(), p == input ? 0444 : 0555);
    std::vector<std::string> argv;
    std::istringstream words(exec);
    for (std::string w; words >> w;)
        argv.push_back(w == "%s" ? "128" : w == "%u" ? "file://" + input : w == "%i" ? input
                       : w == "%o"                  ? out + "/thumb.png"
                                                    : w);
    zt::RunOptions opts;
    opts.cwd = in;
    opts.env = {"GDK_PIXBUF_MODULE_FILE=" + std::string(std::getenv("GDK_PIXBUF_MODULE_FILE")),
                "XDG_DATA_DIRS=" + std::string(std::getenv("XDG_DATA_DIRS")), "HOME=" + home, "TMPDIR=" + home};
    opts.unset = {"DISPLAY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR", "DBUS_SESSION_BUS_ADDRESS"};
    if (*ZEFA_SANITIZER_PRELOAD) // the desktop's program, the module built with a sanitizer
        opts.env.insert(opts.env.end(), {"LD_PRELOAD=" ZEFA_SANITIZER_PRELOAD, "ASAN_OPTIONS=detect_leaks=0"});
    const zt::RunResult r = zt::run(argv[0], {argv.begin() + 1, argv.end()}, opts);
    EXPECT_EQ(r.status, 0) << r.err;
    Error err;
    const Pixbuf thumb(gdk_pixbuf_new_from_file((out + "/thumb.png").c_str(), &err.e));
    ASSERT_TRUE(thumb) << err.text();
    EXPECT_EQ(gdk_pixbuf_get_width(thumb.get()), 128);
    EXPECT_EQ(gdk_pixbuf_get_height(thumb.get()), 85);
    EXPECT_EQ(zt::names_in(out), std::vector<std::string>{"thumb.png"});
    EXPECT_EQ(zt::names_in(in), std::vector<std::string>{"gnome-desktop-file-to-thumbnail.ZF"});
    EXPECT_TRUE(zt::names_in(home).empty());
    chmod(in.c_str(), 0755);
    chmod(home.c_str(), 0755);
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
