// zfconv run for real: pictures written by the picture libraries (and BMP
// files laid out here) turned into DJP files through the converter form,
// zfenc on every format end to end, and ZEFA, DJP and raw files turned into
// PNG files read back with the library's own readers.
#include "codec_run.h"
#include "harness.h"
#include "pictures.h"
#include "readers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace {

using namespace zt;

Picture read_picture(const std::string &path)
{
    const Bytes b = read_file(path);
    Picture img;
    std::string error;
    EXPECT_TRUE(zfconv::read_image(b.data(), b.size(), img, error)) << path << ": " << error;
    return img;
}

class Zfconv : public ::testing::Test {
protected:
    RunResult conv(std::vector<std::string> args)
    {
        return run(zfconv_path(), args, RunOptions{dir.path(), "", {"LC_ALL=C.UTF-8"}, {}});
    }
    TempDir dir;
};

} // namespace

// Palette pictures keep their palette (the DJP table padded with zeros),
// grey stays grey, everything else becomes 24-bit colour; JPEG comes close.
// zfenc starts the converter of each format by its name and codes what it
// gives.
TEST_F(Zfconv, EveryFormatToDjpAndThroughZfenc)
{
    const Picture pal = test_picture(Kind::palette, 37, 11), grey = test_picture(Kind::grey, 20, 7),
                  rgb = test_picture(Kind::rgb, 21, 9), two = test_picture(Kind::palette, 13, 5, 2),
                  sixteen = test_picture(Kind::palette, 13, 5, 16);
    ASSERT_TRUE(write_gif(dir / "p.gif", pal) && write_gif(dir / "i.gif", pal, true) && write_png(dir / "p.png", pal, 4) &&
                write_tiff(dir / "p.tif", pal) && write_png(dir / "g.png", grey) && write_tiff(dir / "g.tif", grey) &&
                write_jpeg(dir / "g.jpg", grey) && write_png(dir / "c.png", rgb) && write_tiff(dir / "c.tif", rgb) &&
                write_jpeg(dir / "c.jpg", rgb));
    write_file(dir / "1.bmp", bmp_of(two, 1));
    write_file(dir / "4.bmp", bmp_of(sixteen, 4));
    write_file(dir / "8.bmp", bmp_of(sixteen, 8));
    write_file(dir / "c.bmp", bmp_of(rgb, 24));
    const std::pair<const char *, const Picture *> cases[] = {
        {"p.gif", &pal}, {"i.gif", &pal}, {"p.png", &pal}, {"p.tif", &pal}, {"1.bmp", &two}, {"4.bmp", &sixteen},
        {"8.bmp", &sixteen}, {"g.png", &grey}, {"g.tif", &grey}, {"g.jpg", &grey}, {"c.png", &rgb}, {"c.tif", &rgb},
        {"c.bmp", &rgb}, {"c.jpg", &rgb}};
    for (const auto &[name, want] : cases) {
        std::filesystem::remove(dir / "out.DJP");
        const auto r = conv({"DJ505JC", name, "out.DJP"});
        ASSERT_EQ(r.status, 0) << name << ": " << r.err;
        const Picture d = read_picture(dir / "out.DJP");
        ASSERT_EQ(d.kind, want->kind) << name;
        EXPECT_EQ(d.width, want->width) << name;
        ASSERT_EQ(d.pixels.size(), want->pixels.size()) << name;
        const int tolerance = name[2] == 'j' ? 12 : 0;
        for (size_t i = 0; i < d.pixels.size(); ++i)
            ASSERT_NEAR(d.pixels[i], want->pixels[i], tolerance) << name << " " << i;
        Bytes table = want->palette;
        table.resize(want->kind == Kind::palette ? 768 : 0, 0);
        EXPECT_EQ(d.palette, table) << name;

        RunOptions o{dir.path(), "", {"LC_ALL=C.UTF-8", "PATH=/usr/bin:/bin"}, {"LOG", "EXE", "TMP"}};
        ASSERT_EQ(run(zfenc_path(), {name, "out", "-m1", "-nh"}, o).status, 0) << name;
        EXPECT_FALSE(file_exists(dir / "ZFENCIMG.DJP"));
        const Image got = decode(dir / "out.ZF");
        ASSERT_EQ(got.size(), static_cast<size_t>(want->height)) << name;
        for (int y = 0; y < want->height; ++y)
            for (int x = 0; x < want->width; ++x)
                for (int shift : {16, 8, 0})
                    ASSERT_NEAR(int(got[y][x] >> shift & 255), int(colour_at(*want, x, y) >> shift & 255), tolerance)
                        << name << " " << x << "," << y;
    }
}

TEST_F(Zfconv, FailuresLeaveNoOutput)
{
    const Picture rgb = test_picture(Kind::rgb, 30, 30);
    ASSERT_TRUE(write_png(dir / "c.png", rgb) && write_jpeg(dir / "c.jpg", rgb) &&
                write_gif(dir / "c.gif", test_picture(Kind::palette, 30, 30)) && write_tiff(dir / "c.tif", rgb) &&
                write_png(dir / "wide.png", test_picture(Kind::grey, 70000, 1)));
    for (const char *name : {"c.png", "c.jpg", "c.gif", "c.tif"}) {
        Bytes b = read_file(dir / name);
        b.resize(b.size() * 2 / 3);
        write_file(dir / "cut", b);
        const auto r = conv({"DJ505JC", "cut", "out.DJP"});
        EXPECT_NE(r.status, 0) << name;
        EXPECT_TRUE(has(r.err, "zfconv: cut: ")) << name;
        EXPECT_FALSE(file_exists(dir / "out.DJP")) << name;
    }
    write_file(dir / "text", std::string("just some text"));
    std::filesystem::create_directory(dir / "folder");
    // wider than a DJP file can say; a missing folder for the output
    const std::tuple<const char *, const char *, const char *> refused[] = {
        {"text", "out.DJP", "text"}, {"folder", "out.DJP", "folder"}, {"missing", "out.DJP", "missing"},
        {"wide.png", "out.DJP", "65535"}, {"c.png", "nowhere/out.DJP", "nowhere/out.DJP"}};
    for (auto [in, out, named] : refused) {
        const auto r = conv({"DJ505JC", in, out});
        EXPECT_EQ(r.status, 1) << in;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_TRUE(has(r.err, named));
        EXPECT_FALSE(file_exists(dir / "out.DJP"));
    }
    // a device is written in place and stays a device
    const auto full = conv({"DJ505JC", "c.png", "/dev/full"});
    EXPECT_EQ(full.status, 1);
    EXPECT_TRUE(has(full.err, "/dev/full"));
    EXPECT_TRUE(is_device("/dev/full"));
    const auto piped = conv({"c.png", "/dev/stdout"});
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(piped.out.substr(0, 4), "\x89PNG");
    EXPECT_TRUE(has(conv({"--help"}).out, "zfconv DJ505JC INPUT OUTPUT.DJP"));
}

// Two blocks at their places, at each depth: 15-bit colours widened by
// repeating their top bits, palette files as palette PNG, the rest black.
TEST_F(Zfconv, ZefaFilesToPng)
{
    for (int depth : {15, 24, 8}) {
        zf_params p = params(depth);
        p.max_width = 12, p.max_height = 6;
        const std::vector<Block> blocks = {{0, 0, "ZFSF", pattern(depth, 5, 3, 0)}, {6, 2, "ZFSS", pattern(depth, 6, 4, 1)}};
        ASSERT_FALSE(write_zefa(dir / "m.ZF", p, blocks).empty());
        const auto r = conv({"m.ZF", "m.png"});
        ASSERT_EQ(r.status, 0) << r.err;
        const Picture png = read_picture(dir / "m.png");
        ASSERT_EQ(png.width, 12);
        ASSERT_EQ(png.height, 6);
        ASSERT_EQ(png.kind, depth == 8 ? Kind::palette : Kind::rgb);
        Bytes want(12 * 6 * static_cast<size_t>(png.bytes_per_pixel()), 0);
        const auto widen = [](uint32_t c) { return uint8_t(c << 3 | c >> 2); };
        for (const Block &b : blocks)
            for (size_t y = 0; y < b.lines.size(); ++y)
                for (size_t x = 0; x < b.lines[y].size(); ++x) {
                    const uint32_t v = b.lines[y][x];
                    const size_t at = (static_cast<size_t>(b.y) + y) * 12 + static_cast<size_t>(b.x) + x;
                    if (depth == 8)
                        want[at] = uint8_t(v);
                    else if (depth == 15)
                        std::copy_n(Bytes{widen(v >> 6 & 31), widen(v >> 11 & 31), widen(v >> 1 & 31)}.begin(), 3, &want[3 * at]);
                    else
                        std::copy_n(Bytes{uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}.begin(), 3, &want[3 * at]);
                }
        EXPECT_EQ(png.pixels, want) << depth;
        if (depth == 8) {
            EXPECT_EQ(png.palette[3 * 73], 255 - 73);
        }
    }
}

// An output that is the input, however spelled, is refused untouched.
TEST_F(Zfconv, AnOutputThatIsTheInputIsRefused)
{
    ASSERT_TRUE(write_png(dir / "p.png", test_picture(Kind::rgb, 4, 4)));
    const Bytes zf = write_zefa(dir / "a.ZF", params(24), {{0, 0, "ZFBM", {{1}}}}), png = read_file(dir / "p.png");
    std::filesystem::create_symlink("a.ZF", dir / "link.ZF");
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             {"a.ZF", "./a.ZF"}, {"a.ZF", "link.ZF"}, {"DJ505JC", "p.png", "p.png"}, {"DJ505JC", "p.png", "./p.png"}}) {
        const auto r = conv(args);
        EXPECT_EQ(r.status, 1) << args.back();
        EXPECT_TRUE(has(r.err, "is the input file"));
    }
    EXPECT_EQ(read_file(dir / "a.ZF"), zf);
    EXPECT_EQ(read_file(dir / "p.png"), png);
}

TEST_F(Zfconv, DjpAndRawRgbToPng)
{
    write_file(dir / "d.DJP", djp_file(2, 1, 24, {1, 2, 3, 4, 5, 6}));
    ASSERT_EQ(conv({"d.DJP", "d.png"}).status, 0);
    EXPECT_EQ(read_picture(dir / "d.png").pixels, (Bytes{1, 2, 3, 4, 5, 6}));
    write_file(dir / "r.RGB", Bytes{9, 8, 7, 6, 5, 4});
    write_file(dir / "r.IPR", std::string("1 2 0 0\n"));
    ASSERT_EQ(conv({"r.RGB", "r.png"}).status, 0);
    const Picture img = read_picture(dir / "r.png");
    EXPECT_EQ(img.width, 1);
    EXPECT_EQ(img.pixels, (Bytes{9, 8, 7, 6, 5, 4}));
    write_file(dir / "r.IPR", std::string("1 3 0 0\n"));
    EXPECT_EQ(conv({"r.RGB", "r.png"}).status, 1); // shorter than its size
}
