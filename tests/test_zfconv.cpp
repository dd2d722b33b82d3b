// zfconv run for real: pictures written by the picture libraries (and BMP
// files laid out here) turned into DJP files through the converter form,
// zfenc on every format end to end, and DJP and raw files turned into PNG
// files read back with zfconv's own readers.  Then its command
// line: batches into a folder (damage in the middle, mixed inputs, --to,
// refusals, -j), -o, standard input and output, --info and --json, the
// progress line on a pseudo-terminal, and a batch stopped by a signal.
#include "archive.h"
#include "codec_run.h"
#include "harness.h"
#include "pictures.h"
#include "readers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace {

using namespace zt;
namespace fs = std::filesystem;

Picture read_picture(const std::string &path)
{
    const Bytes b = read_file(path);
    Picture img;
    std::string error;
    EXPECT_TRUE(zfconv::read_image(b.data(), b.size(), img, error)) << path << ": " << error;
    return img;
}

bool starts_with(const Bytes &b, const std::string &magic)
{
    return b.size() >= magic.size() && std::string(b.begin(), b.begin() + static_cast<long>(magic.size())) == magic;
}
const std::string kPng = "\x89PNG", kZefa = "ZFDT";

class Zfconv : public ::testing::Test {
protected:
    RunResult conv(const std::vector<std::string> &args, const std::string &input = "")
    {
        return run(zfconv_path(), args, RunOptions{dir.path(), input, {"LC_ALL=C.UTF-8", "TZ=UTC"}, {}});
    }
    // A ZEFA file of one 24-bit block, different for each seed.
    Bytes zefa(const std::string &name, int seed, const Texts &texts = {})
    {
        return write_zefa(dir / name, params(24), {{0, 0, "ZFSF", pattern(24, 24, 16, seed)}}, texts);
    }
    TempDir dir;
};
// The command line's batches, outputs and streams.
using ZfconvCli = Zfconv;

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
    ASSERT_TRUE(write_gif(dir / "p.gif", {pal}) && write_gif(dir / "i.gif", {pal}, true) && write_png(dir / "p.png", pal, 4) &&
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
        EXPECT_EQ(decode(dir / "out.ZF").size(), static_cast<size_t>(want->height)) << name; // (its pixels: the DJP's above)
    }
}

// What a conversion drops is told with the file's name, and --lossless
// refuses it.  One transparency rule whatever the format: colours as stored
// (associated TIFF alpha divided out), or composited over --background.
TEST_F(Zfconv, TransparencyFollowsOneRuleAndIsTold)
{
    Picture rgba = test_picture(Kind::rgb, 16, 8);
    for (int i = 0; i < 16 * 8; ++i)
        rgba.alpha.push_back(static_cast<uint8_t>(i * 2 + 1));
    rgba.pixels[0] = 51, rgba.pixels[1] = 136, rgba.pixels[2] = 221, rgba.alpha[0] = 15; // the issue's pixel
    Bytes bits32; // BMP: 32 bits, BGRA with an alpha mask in a 108-byte header
    for (int y = rgba.height - 1; y >= 0; --y)
        for (int x = 0; x < rgba.width; ++x) {
            const size_t p = static_cast<size_t>(y * rgba.width + x);
            bits32.insert(bits32.end(), {rgba.pixels[3 * p + 2], rgba.pixels[3 * p + 1], rgba.pixels[3 * p], rgba.alpha[p]});
        }
    write_file(dir / "a.bmp", Bmp(108, rgba.width, rgba.height, 32, 3, bits32, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}).file());
    ASSERT_TRUE(write_png(dir / "a.png", rgba) && write_tiff(dir / "a.tif", rgba) &&
                write_tiff(dir / "assoc.tif", rgba, true));

    const auto stored = [&](const std::string &zf) {
        const Bytes b = read_file(dir / zf);
        Picture img;
        std::string error, damage;
        EXPECT_TRUE(zfconv::read_zefa(b.data(), b.size(), img, error, damage)) << zf << ": " << error;
        return img;
    };
    for (const char *name : {"a.png", "a.tif", "a.bmp", "assoc.tif"}) {
        const auto r = conv({name, "out.ZF"});
        ASSERT_EQ(r.status, 0) << name << r.err;
        EXPECT_TRUE(has(r.err, std::string("zfconv: ") + name + ": dropped: transparency (127 of 128 pixels")) << name;
        const Picture got = stored("out.ZF");
        ASSERT_EQ(got.pixels.size(), rgba.pixels.size()) << name;
        const bool divided = name[1] == 's';
        for (size_t i = 0; i < got.pixels.size(); ++i)
            ASSERT_NEAR(got.pixels[i], rgba.pixels[i], divided ? 255 / rgba.alpha[i / 3] : 0) << name << " " << i;

        const auto over = conv({"--background=#FF8000", name, "over.ZF"});
        ASSERT_EQ(over.status, 0) << name;
        EXPECT_TRUE(has(over.err, "composited over #FF8000")) << name;
        const Picture flat = stored("over.ZF");
        for (size_t i = 0; i < flat.pixels.size(); ++i) {
            const unsigned a = rgba.alpha[i / 3], back = (0xFF8000u >> (16 - 8 * (i % 3))) & 255;
            ASSERT_NEAR(flat.pixels[i], (rgba.pixels[i] * a + back * (255 - a) + 127) / 255, divided ? 1 : 0)
                << name << " " << i;
        }
    }
    // a palette PNG's tRNS: the palette stays, its see-through entry composited
    const Picture pal = test_picture(Kind::palette, 6, 3);
    ASSERT_TRUE(write_png(dir / "pal.png", pal, 8, {0, 128}));
    const auto entries = conv({"--background=white", "pal.png", "pal_out.png"});
    EXPECT_TRUE(has(entries.err, "pal.png: dropped: transparency (4 of 18 pixels): composited over #FFFFFF"));
    const Picture flat_pal = read_picture(dir / "pal_out.png");
    EXPECT_EQ(flat_pal.kind, Kind::palette);
    EXPECT_EQ(colour_at(flat_pal, 0, 0), 0xFFFFFFu);                                   // entry 0, alpha 0
    EXPECT_EQ(colour_at(flat_pal, 0, 1), uint32_t{(16 * 128 + 255 * 127 + 127) / 255} << 16 |
                                             uint32_t{(247 * 128 + 255 * 127 + 127) / 255} << 8 |
                                             uint32_t{(12 * 128 + 255 * 127 + 127) / 255}); // entry 1, alpha 128

    const auto refused = conv({"--lossless", "a.png", "strict.ZF"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(has(refused.err, "zfconv: a.png: --lossless: the output would lack transparency"));
    EXPECT_FALSE(file_exists(dir / "strict.ZF"));
    ASSERT_TRUE(write_gif(dir / "p.gif", {test_picture(Kind::palette, 9, 9)}));

    // a batch tells each and counts them
    const auto batch = conv({"-d", "out", "a.png", "p.gif"});
    EXPECT_EQ(batch.status, 0);
    EXPECT_TRUE(has(batch.err, "zfconv: a.png: dropped: transparency"));
    EXPECT_TRUE(has(batch.err, "2 files converted in "));
    EXPECT_TRUE(has(batch.err, "; 1 of them with something dropped (told above)\n"));
}

// 16-bit samples, the later frames of an animation (or a chosen one, as
// shown after those before it) and a JPEG's orientation (applied as
// viewers apply it) are told.
TEST_F(Zfconv, SamplesFramesAndOrientationAreTold)
{
    ASSERT_TRUE(write_png(dir / "deep.png", test_picture(Kind::rgb, 8, 8)));
    EXPECT_TRUE(has(conv({"deep.png", "deep.ZF"}).err, "deep.png: dropped: 16-bit samples, reduced to 8 bits\n"));

    std::vector<Picture> frames;
    for (const uint8_t colour : {uint8_t{1}, uint8_t{2}, uint8_t{3}}) {
        frames.push_back(test_picture(Kind::palette, 6, 4));
        std::fill(frames.back().pixels.begin(), frames.back().pixels.end(), colour);
    }
    ASSERT_TRUE(write_gif(dir / "anim.gif", frames));
    EXPECT_TRUE(has(conv({"anim.gif", "anim.ZF"}).err, "anim.gif: dropped: frames 2 to 3 of the animation"));
    EXPECT_EQ(conv({"--lossless", "anim.gif", "strict.ZF"}).status, 1);
    const auto second = conv({"--frame=2", "anim.gif", "second.png"});
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_TRUE(has(second.err, "every frame of the animation but frame 2 of 3"));
    const Picture two = read_picture(dir / "second.png");
    EXPECT_EQ(colour_at(two, 5, 3), 32u << 16 | 239u << 8 | 17u); // palette entry 2
    const auto beyond = conv({"--frame=4", "anim.gif", "none.png"});
    EXPECT_EQ(beyond.status, 1);
    EXPECT_TRUE(has(beyond.err, "holds 3 frames, not a frame 4"));
    // a transparent index: what the later frame leaves of the earlier, and
    // the one rule for what stays transparent
    std::fill(frames[1].pixels.begin(), frames[1].pixels.begin() + 12, uint8_t{5}); // top half of frame 2
    ASSERT_TRUE(write_gif(dir / "holes.gif", frames, false, 5));
    const auto over = conv({"--frame=2", "holes.gif", "over.png"});
    EXPECT_FALSE(has(over.err, "transparency")) << over.err;  // frame 1 shows through
    EXPECT_EQ(colour_at(read_picture(dir / "over.png"), 0, 0), 16u << 16 | 247u << 8 | 12u); // entry 1
    EXPECT_EQ(colour_at(read_picture(dir / "over.png"), 0, 3), 32u << 16 | 239u << 8 | 17u); // entry 2
    frames[0].pixels[0] = 5;
    ASSERT_TRUE(write_gif(dir / "holes.gif", frames, false, 5));
    EXPECT_TRUE(has(conv({"holes.gif", "kept.png"}).err, "dropped: transparency (1 of 24 pixels"));
    EXPECT_EQ(colour_at(read_picture(dir / "kept.png"), 0, 0), 80u << 16 | 215u << 8 | 32u); // entry 5

    // stored 32 x 16, left quarter blue; tag 6 shows it turned a quarter
    // clockwise: 16 x 32 with the blue along the top
    Picture photo = test_picture(Kind::rgb, 32, 16);
    for (int i = 0; i < 32 * 16; ++i) {
        const bool blue = i % 32 < 8;
        photo.pixels[3 * i] = blue ? 0 : 255, photo.pixels[3 * i + 1] = 0, photo.pixels[3 * i + 2] = blue ? 255 : 0;
    }
    ASSERT_TRUE(write_jpeg(dir / "turned.jpg", photo, 6));
    const auto turned = conv({"--lossless", "turned.jpg", "turned.png"});
    ASSERT_EQ(turned.status, 0) << turned.err; // nothing is lost: it is said, not refused
    EXPECT_TRUE(has(turned.err, "turned.jpg: stored as viewers show it: turned a quarter clockwise"));
    const Picture shown = read_picture(dir / "turned.png");
    ASSERT_EQ(shown.width, 16);
    ASSERT_EQ(shown.height, 32);
    EXPECT_GT(colour_at(shown, 8, 2) & 255, 200u);
    EXPECT_GT(colour_at(shown, 8, 28) >> 16, 200u);
}

TEST_F(Zfconv, FailuresLeaveNoOutput)
{
    const Picture rgb = test_picture(Kind::rgb, 30, 30);
    ASSERT_TRUE(write_png(dir / "c.png", rgb) && write_jpeg(dir / "c.jpg", rgb) &&
                write_png(dir / "wide.png", test_picture(Kind::grey, 70000, 1)));
    for (const char *name : {"c.png", "c.jpg"}) { // (cut files of every format: the readers' fuzz targets)
        Bytes b = read_file(dir / name);
        b.resize(b.size() * 2 / 3);
        write_file(dir / "cut", b);
        const auto r = conv({"DJ505JC", "cut", "out.DJP"});
        EXPECT_NE(r.status, 0) << name;
        EXPECT_TRUE(has(r.err, "zfconv: cut: ")) << name;
        EXPECT_FALSE(file_exists(dir / "out.DJP")) << name;
    }
    write_file(dir / "text", std::string("just some text"));
    write_file(dir / "empty.png", std::string());
    EXPECT_EQ(conv({"empty.png", "empty.ZF"}).err, "zfconv: empty.png: the file is empty\n");
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
    EXPECT_EQ(piped.out.substr(0, 4), kPng);
}

// (DJP files: read back in EveryFormatToDjpAndThroughZfenc, and any picture
// made a PNG in FolderOfMixedInputs.  What a ZEFA file's PNG shows is the
// library's whole picture, test_picture, as every door shows it:
// tests/conformance.)
TEST_F(Zfconv, RawRgbToPng)
{
    write_file(dir / "r.RGB", Bytes{9, 8, 7, 6, 5, 4});
    write_file(dir / "r.IPR", std::string("1 2 0 0\n"));
    ASSERT_EQ(conv({"r.RGB", "r.png"}).status, 0);
    const Picture img = read_picture(dir / "r.png");
    EXPECT_EQ(img.width, 1);
    EXPECT_EQ(img.pixels, (Bytes{9, 8, 7, 6, 5, 4}));
    write_file(dir / "r.IPR", std::string("1 3 0 0\n"));
    EXPECT_EQ(conv({"r.RGB", "r.png"}).status, 1); // shorter than its size
}

// One damaged file and one missing file among good ones: the others are
// converted, the damaged one keeps what decodes, and the end tells both.
TEST_F(ZfconvCli, BatchGoesOnPastBadFilesAndSumsUp)
{
    for (const char *name : {"a.ZF", "b.ZF", "d.ZF", "e.ZF"})
        zefa(name, name[0]);
    const Bytes whole = write_zefa(dir / "c.ZF", params(24), {{0, 0, "ZFSF", pattern(24, 24, 16)}, {0, 16, "ZFSF", pattern(24, 24, 16, 1)}});
    write_file(dir / "c.ZF", Bytes(whole.begin(), whole.end() - 40));
    const auto r = conv({"-d", "png/", "a.ZF", "b.ZF", "c.ZF", "missing.ZF", "d.ZF", "e.ZF"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(names_in(dir / "png"), (std::vector<std::string>{"a.png", "b.png", "c.png", "d.png", "e.png"}));
    EXPECT_TRUE(has(r.err, "zfconv: 4 of 6 files converted in "));
    EXPECT_TRUE(has(r.err, "2 failed:\nzfconv: c.ZF: "));
    EXPECT_TRUE(has(r.err, "ends too early; png/c.png holds every line before it, the rest transparent\n"));
    EXPECT_TRUE(has(r.err, "zfconv: missing.ZF: No such file or directory\n"));
    EXPECT_EQ(r.err.find('\r'), std::string::npos); // no progress line off a terminal

    const auto quiet = conv({"-q", "-d", "png", "a.ZF", "c.ZF"});
    EXPECT_EQ(quiet.status, 1);
    EXPECT_EQ(std::count(quiet.err.begin(), quiet.err.end(), '\n'), 1) << quiet.err;
}

// Without --to a folder gets PNG files of ZEFA files and ZEFA files of
// pictures, told by content; --to makes them all one format; and the PNG
// files made of ZEFA files give those files back.
TEST_F(ZfconvCli, FolderOfMixedInputs)
{
    const Bytes a = zefa("a.ZF", 1), b = zefa("misnamed.png", 2);
    ASSERT_TRUE(write_png(dir / "c.png", test_picture(Kind::rgb, 20, 10)) &&
                write_gif(dir / "d.gif", {test_picture(Kind::palette, 9, 9)}));
    const std::vector<std::string> inputs = {"a.ZF", "misnamed.png", "c.png", "d.gif"};
    const auto args = [&](std::vector<std::string> options) {
        options.insert(options.end(), inputs.begin(), inputs.end());
        return options;
    };
    ASSERT_EQ(conv(args({"-d", "mixed"})).status, 0);
    EXPECT_EQ(names_in(dir / "mixed"), (std::vector<std::string>{"a.png", "c.ZF", "d.ZF", "misnamed.png"}));

    ASSERT_EQ(conv(args({"--to", "png", "-d", "png"})).status, 0);
    EXPECT_EQ(names_in(dir / "png"), (std::vector<std::string>{"a.png", "c.png", "d.png", "misnamed.png"}));
    ASSERT_EQ(conv(args({"--to=zf", "-d", "zf"})).status, 0);
    EXPECT_EQ(names_in(dir / "zf"), (std::vector<std::string>{"a.ZF", "c.ZF", "d.ZF", "misnamed.ZF"}));
    EXPECT_EQ(read_file(dir / "zf/a.ZF"), a); // a ZEFA file made into a ZEFA file stays itself

    ASSERT_EQ(conv({"-d", "back", "png/a.png", "png/misnamed.png"}).status, 0);
    EXPECT_EQ(read_file(dir / "back/a.ZF"), a);
    EXPECT_EQ(read_file(dir / "back/misnamed.ZF"), b);
}

// The output's format comes from --to or its extension (PNG when it has
// neither), and the two disagreeing, or -o with many inputs, is a wrong
// command line.
TEST_F(ZfconvCli, OneOutput)
{
    zefa("a.ZF", 1);
    ASSERT_TRUE(write_png(dir / "p.png", test_picture(Kind::grey, 8, 8)));
    const std::tuple<std::vector<std::string>, const char *, std::string> cases[] = {
        {{"-o", "x.png", "a.ZF"}, "x.png", kPng},       {{"a.ZF", "-o", "noext"}, "noext", kPng},
        {{"p.png", "-o", "y.zf"}, "y.zf", kZefa},       {{"--to", "zf", "p.png", "-o", "z"}, "z", kZefa}};
    for (const auto &[args, out, magic] : cases) {
        const auto r = conv(args);
        EXPECT_EQ(r.status, 0) << out << r.err;
        EXPECT_TRUE(starts_with(read_file(dir / out), magic)) << out;
    }
    const std::pair<std::vector<std::string>, const char *> wrong[] = {
        {{"--to", "png", "-o", "q.ZF", "p.png"}, "disagree"}, {{"-o", "q.png", "a.ZF", "p.png"}, "use -d"},
        {{"-o", "q.png", "-d", "f", "a.ZF"}, "give one of them"}, {{"a.ZF"}, "no output given"},
        {{"--jobs=0", "-d", "f", "a.ZF"}, "--jobs takes"}, {{"--depth", "9", "p.png", "q.ZF"}, "8, 15 or 24"},
        {{"--nonsense", "a.ZF", "q.png"}, "unknown option --nonsense"}, {{"-d", "f", "-"}, "standard input"},
        // a comment file that cannot be read (one that can: the Qt plugin's test reads its lines back)
        {{"--comment=nowhere.txt", "p.png", "d.ZF"}, "nowhere.txt"},
        // a file whose name begins with -d is no folder attached to -d
        {{"-dash.gif", "q.ZF"}, "-d takes its folder as the next argument (-d ash.gif)"},
        {{"--background=pink", "p.png", "q.ZF"}, "#RRGGBB"}, {{}, "zfconv --help"}};
    for (const auto &[args, message] : wrong) {
        const auto r = conv(args);
        EXPECT_EQ(r.status, 2) << message;
        EXPECT_TRUE(has(r.err, message));
        EXPECT_TRUE(has(r.err, "zfconv --help"));
    }
    EXPECT_FALSE(file_exists(dir / "q.ZF") || file_exists(dir / "q.png") || file_exists(dir / "f") || file_exists(dir / "d.ZF") ||
                 file_exists(dir / "ash.gif"));
    EXPECT_TRUE(has(conv({"--version"}).out, "(ZEFA tools for Linux)"));
    fs::copy_file(dir / "p.png", dir / "-dash.png");
    EXPECT_EQ(conv({"--", "-dash.png", "q.ZF"}).status, 0);
}

// Two inputs for one output stop the batch before anything is written; an
// output that is an input, however spelled (its own or another's), is
// refused for that file, which stays untouched.
TEST_F(ZfconvCli, OutputsThatCollideOrAreInputs)
{
    ASSERT_TRUE(write_png(dir / "p.png", test_picture(Kind::rgb, 5, 5)));
    const Bytes p_zf = zefa("p.ZF", 3), p_png = read_file(dir / "p.png");
    std::filesystem::create_symlink("p.ZF", dir / "link.ZF");
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             {"p.ZF", "./p.ZF"}, {"p.ZF", "link.ZF"}, {"DJ505JC", "p.png", "p.png"}, {"DJ505JC", "p.png", "./p.png"}}) {
        const auto r = conv(args);
        EXPECT_EQ(r.status, 1) << args.back();
        EXPECT_TRUE(has(r.err, "is the input file"));
    }
    fs::create_directories(dir / "one");
    fs::create_directories(dir / "two");
    zefa("one/x.ZF", 1);
    zefa("two/x.ZF", 2);
    ASSERT_TRUE(write_png(dir / "x.png", test_picture(Kind::rgb, 4, 4)) &&
                write_gif(dir / "x.gif", {test_picture(Kind::palette, 4, 4)}));
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             {"-d", "out", "one/x.ZF", "two/x.ZF"}, {"-d", "out", "x.png", "x.gif"}, {"-d", "out", "one/x.ZF", "./one/x.ZF"}}) {
        const auto r = conv(args);
        EXPECT_EQ(r.status, 2) << args[3];
        EXPECT_TRUE(has(r.err, "would both be written as out/x."));
        EXPECT_TRUE(has(r.err, "nothing was written"));
        EXPECT_FALSE(file_exists(dir / "out"));
    }

    // p.png -> ./p.ZF and p.ZF -> ./p.png: each output is the other input
    zefa("q.ZF", 4);
    const auto r = conv({"-d", ".", "p.png", "p.ZF", "q.ZF"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r.err, "zfconv: p.png: the output ./p.ZF is the input file p.ZF\n"));
    EXPECT_TRUE(has(r.err, "zfconv: p.ZF: the output ./p.png is the input file p.png\n"));
    EXPECT_EQ(read_file(dir / "p.png"), p_png);
    EXPECT_EQ(read_file(dir / "p.ZF"), p_zf);
    EXPECT_TRUE(starts_with(read_file(dir / "q.png"), kPng));
}

// "-" reads standard input and writes standard output, the input's format
// told from its content.
TEST_F(ZfconvCli, StandardInputAndOutput)
{
    const Bytes zf = zefa("a.ZF", 5);
    const std::string zf_text(zf.begin(), zf.end());
    const auto png = conv({"-", "-"}, zf_text);
    ASSERT_EQ(png.status, 0) << png.err;
    EXPECT_EQ(png.out.substr(0, 4), kPng);
    EXPECT_EQ(png.err, "");
    const auto back = conv({"--to", "zf", "-", "-"}, png.out);
    ASSERT_EQ(back.status, 0) << back.err;
    EXPECT_EQ(back.out, zf_text); // (a named output's format from its extension: OneOutput)
    const auto junk = conv({"-", "-"}, "no picture");
    EXPECT_EQ(junk.status, 1);
    EXPECT_TRUE(has(junk.err, "zfconv: standard input: "));
    EXPECT_EQ(junk.out, "");
}

// A text with no Shift-JIS form is refused, naming the option, unless a
// fallback is asked for; its UTF-8 bytes are never stored as Shift-JIS.
TEST_F(ZfconvCli, TextWithoutShiftJisForm)
{
    ASSERT_TRUE(write_png(dir / "p.png", test_picture(Kind::rgb, 4, 4)));
    const auto refused = conv({"--title=snow \xE2\x98\x83", "p.png", "a.ZF"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(has(refused.err, "zfconv: p.png: option --title: a text holds a character with no Shift-JIS form"))
        << refused.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "a.ZF"));

    const auto replaced = conv({"--title=snow \xE2\x98\x83 \xE6\x97\xA5", "--text-fallback=question", "p.png", "a.ZF"});
    EXPECT_EQ(replaced.status, 0) << replaced.err;
    const Bytes zf = read_file(dir / "a.ZF");
    EXPECT_EQ(std::string(zf.begin() + ZF_H_TITLE, zf.begin() + ZF_H_TITLE + 9), "snow ? \x93\xFA");
}

// --info for people and --json for programs: header texts from Shift-JIS
// (bytes that are not shown as \xNN), every block and whether it decodes;
// a damaged or foreign file is described as far as it reads, status 1.
TEST_F(ZfconvCli, InfoAndJson)
{
    Texts texts;
    texts.title = "\x93\xfa\x96\x7b \x80 end"; // 日本, then a byte that is no character
    texts.comment = "first\r\nsecond \"quoted\"\ttab";
    texts.artist = "artist";
    texts.number = 42;
    const Bytes good = write_zefa(dir / "good.ZF", params(24, 2, 3),
                                  {{0, 0, "ZFSF", pattern(24, 8, 4)}, {8, 0, "ZFSS", pattern(24, 8, 4, 1)}}, texts);
    const Bytes two = write_zefa(dir / "two.ZF", params(24), {{0, 0, "ZFBM", pattern(24, 30, 20)}, {0, 20, "ZFSF", pattern(24, 30, 20, 1)}});
    write_file(dir / "cut.ZF", Bytes(two.begin(), two.end() - 30));
    ASSERT_TRUE(write_png(dir / "pic.png", test_picture(Kind::grey, 2, 2)));
    write_file(dir / "tab\there \xff.ZF", good); // a control character and a byte that is not UTF-8
    Bytes other = good; // the first block under a tag of another coding: skipped, not damage
    std::copy_n("QOIF", 4, other.begin() + (other[ZF_H_FIRST + 2] << 8 | other[ZF_H_FIRST + 3]));
    write_file(dir / "other.ZF", other);

    const auto info = conv({"--info", "good.ZF", "cut.ZF"});
    EXPECT_EQ(info.status, 1);
    for (const char *line : {"good.ZF\n", "  title:        日本 \\x80 end\n", "  artist:       artist\n", "  number:       42\n",
                             "  pixel ratio:  2:3\n", "  image size:   16 x 4\n", "  comment:      first\n                second",
                             "  block 0:      ZFSF at 0,0, 8 x 4, decodes\n", "  block 1:      ZFSS at 8,0, 8 x 4, decodes\n",
                             "\ncut.ZF\n", "  block 0:      ZFBM at 0,0, 30 x 20, decodes\n", "  block 1:      ZFSF at 0,20, 30 x 20, stops after "})
        EXPECT_TRUE(has(info.out, line));
    EXPECT_TRUE(has(info.err, "zfconv: cut.ZF: block 1 stops after "));
    EXPECT_EQ(std::count(info.err.begin(), info.err.end(), '\n'), 1) << info.err;

    const auto json = conv({"--json", "good.ZF", "cut.ZF", "pic.png", "missing.ZF", "tab\there \xff.ZF", "other.ZF"});
    EXPECT_EQ(json.status, 1);
    EXPECT_EQ(std::count(json.out.begin(), json.out.end(), '\n'), 6);
    // one document a line; the header's texts in UTF-8, controls and other bytes escaped (fuzz_zfconv_info
    // holds any file to that)
    for (const char *part : {R"({"file":"good.ZF","ok":true,"artist":"artist",)", R"({"file":"tab\there \\xFF.ZF","ok":true,)",
                             R"("title":"日本 \\x80 end",)", R"("number":42,)", R"("comment":"first\nsecond \"quoted\"\ttab",)",
                             R"("depth":24,"ratio_x":2,"ratio_y":3,"width":16,"height":4,)",
                             R"({"number":1,"tag":"ZFSS","x":8,"y":0,"width":8,"height":4,"decodes":true}],"complete":true})",
                             R"({"number":1,"tag":"ZFSF","x":0,"y":20,"width":30,"height":20,"decodes":false,"lines_decoded":)",
                             R"(,"error":"the file ends too early","error_code":257})",
                             R"({"file":"pic.png","ok":false,"error":"a PNG picture, not a ZEFA file","error_code":258})",
                             R"({"file":"missing.ZF","ok":false,"error":"No such file or directory"})",
                             R"([{"number":0,"tag":"QOIF","decodes":false,"error":"a coding this program does not know"},)"})
        EXPECT_TRUE(has(json.out, part));
}

// A batch on a terminal rewrites one progress line in place; off a
// terminal, or with -q, there is none.
TEST_F(ZfconvCli, ProgressLineOnlyOnATerminal)
{
    std::vector<std::string> args = {"-d", "out", "f0.ZF", "f1.ZF", "f2.ZF"};
    for (size_t i = 2; i < args.size(); ++i)
        zefa(args[i], int(i));
    const RunOptions opts{dir.path(), "", {"LC_ALL=C.UTF-8"}, {}};
    const auto tty = run_pty(zfconv_path(), args, "", 0, opts);
    EXPECT_EQ(tty.status, 0) << tty.out;
    EXPECT_TRUE(has(tty.out, "\rzfconv: 0/3 files\033[K"));
    EXPECT_TRUE(has(tty.out, "\rzfconv: 3/3 files, "));
    EXPECT_TRUE(has(tty.out, "\r\033[Kzfconv: 3 files converted in "));

    args.insert(args.begin(), "-q");
    const auto quiet = run_pty(zfconv_path(), args, "", 0, opts);
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.out, "");
    // standard output on a terminal is no place for a picture
    const auto to_tty = run_pty(zfconv_path(), {"f0.ZF", "-"}, "", 0, opts);
    EXPECT_EQ(to_tty.status, 2);
    EXPECT_TRUE(has(to_tty.out, "standard output is a terminal"));
}

// One thread or four, every conversion is its own: the same bytes come out
// (a batch worked one file at a time and one of several at once make their
// PNG files in different ways).
TEST_F(ZfconvCli, ThreadsDoNotChangeTheOutputs)
{
    const std::vector<std::string> inputs = {"z0.ZF", "z1.ZF", "z2.ZF", "p0.png", "p1.png", "p2.png"};
    for (int i = 0; i < 3; ++i) {
        zefa(inputs[size_t(i)], i);
        ASSERT_TRUE(write_png(dir / inputs[size_t(i) + 3], test_picture(i % 2 ? Kind::rgb : Kind::palette, 30 + i, 20)));
    }
    for (const char *jobs : {"1", "4"}) {
        std::vector<std::string> args = {"-j", jobs, "-d", std::string("j") + jobs, "--coding=optimizing"};
        args.insert(args.end(), inputs.begin(), inputs.end());
        const auto r = conv(args);
        ASSERT_EQ(r.status, 0) << jobs << r.err;
    }
    const auto names = names_in(dir / "j1");
    ASSERT_EQ(names.size(), inputs.size());
    EXPECT_EQ(names, names_in(dir / "j4"));
    // a new ZEFA file takes the time it was written
    const auto timeless = [&](const std::string &path) {
        Bytes b = read_file(path);
        if (starts_with(b, kZefa))
            std::fill_n(b.begin() + ZF_H_TIME, 4, 0);
        return b;
    };
    for (const std::string &name : names)
        EXPECT_EQ(timeless(dir / ("j1/" + name)), timeless(dir / ("j4/" + name))) << name;
}
