// zfconv's archive conversions: the header's texts, time and pixel shape
// read back with libpng, edited pixels under the original header, a
// damaged file given back as it was, foreign PNGs, square pixels and
// --verify; few colours as a palette PNG, the private chunk after the
// image data or (as earlier versions wrote it) before.  That any ZEFA file comes back from its PNG byte for byte is
// fuzz_zfconv_png's property, replayed over its kept inputs.
#include "archive.h"
#include "byte_order.h"
#include "codec_run.h"
#include "convert.h"
#include "harness.h"
#include "hostile.h"
#include "pictures.h"
#include "png_meta.h"
#include "readers.h"

#include <gtest/gtest.h>
#include <png.h>

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <tuple>

namespace {

using zfconv::Options;
using zfconv::Outcome;
using zfconv::Target;
using Picture = zfconv::Image;

zfconv::Bytes convert(const zt::Bytes &in, Target to, Options o = {}, Outcome *outcome = nullptr)
{
    o.verify = true; // every conversion here checks itself as well
    Outcome out;
    std::string error;
    EXPECT_TRUE(zfconv::convert(in, "in", to, o, out, error)) << error;
    if (outcome)
        *outcome = out;
    return out.output;
}

std::string failure(const zt::Bytes &in, Target to, const Options &o = {})
{
    Outcome out;
    std::string error;
    EXPECT_FALSE(zfconv::convert(in, "in", to, o, out, error));
    return error;
}

// The blocks of a small picture: `n` lines of a pattern at a depth.
zt::Block block(int depth, int x, int y, int w, int h, const char *tag, int seed = 0)
{
    return zt::Block{x, y, tag, zt::pattern(depth, w, h, seed)};
}

zt::Bytes zefa(const zt::TempDir &dir, int depth, const std::vector<zt::Block> &blocks, zt::Texts texts = {},
               int rx = 1, int ry = 1)
{
    return zt::write_zefa(dir / "f.ZF", zt::params(depth, rx, ry), blocks, texts);
}

using zfbytes::get_u32;

Picture read_png(const zt::Bytes &png, zfconv::PngMeta &meta)
{
    Picture img;
    std::string error;
    EXPECT_TRUE(zfconv::read_png(png.data(), png.size(), img, meta, error)) << error;
    return img;
}

// What libpng itself finds before the image data (iTXt only, as keyword ->
// text; pHYs; tIME); the size and the private chunk from zfconv's reader.
struct PngFacts {
    std::map<std::string, std::string> itxt;
    png_uint_32 ppu_x = 0, ppu_y = 0;
    int unit = -1;
    png_time time{};
    bool has_time = false;
    int width = 0, height = 0;
    bool has_chunk = false;
};

PngFacts png_facts(const zt::TempDir &dir, const zt::Bytes &png)
{
    zt::write_file(dir / "facts.png", png);
    PngFacts r;
    zfconv::PngMeta meta;
    const Picture pic = read_png(png, meta);
    r.width = pic.width, r.height = pic.height, r.has_chunk = !meta.archive.empty();
    FILE *f = std::fopen((dir / "facts.png").c_str(), "rb");
    png_structp p = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(p);
    png_init_io(p, f);
    png_read_info(p, info);
    png_textp t = nullptr;
    int n = 0;
    png_get_text(p, info, &t, &n);
    for (int i = 0; i < n; ++i)
        if (t[i].compression >= PNG_ITXT_COMPRESSION_NONE)
            r.itxt[t[i].key] = std::string(t[i].text, t[i].itxt_length);
    png_get_pHYs(p, info, &r.ppu_x, &r.ppu_y, &r.unit);
    png_timep tm = nullptr;
    if ((r.has_time = png_get_tIME(p, info, &tm) != 0))
        r.time = *tm;
    png_destroy_read_struct(&p, &info, nullptr);
    std::fclose(f);
    return r;
}

zt::Bytes write_png(const Picture &img, const zfconv::PngMeta &meta)
{
    zt::Bytes out;
    std::string error;
    EXPECT_TRUE(zfconv::encode_png(img, meta, out, error)) << error;
    return out;
}

// The chunks of a PNG: type, where each starts (its length field), and
// its size with length, type and CRC.
struct Chunk {
    std::string type;
    std::size_t at, size;
};
std::vector<Chunk> chunks(const zt::Bytes &png)
{
    std::vector<Chunk> out;
    for (std::size_t at = 8; at + 12 <= png.size(); at += out.back().size)
        out.push_back(Chunk{std::string(png.begin() + long(at + 4), png.begin() + long(at + 8)), at, get_u32(&png[at]) + 12});
    return out;
}
Chunk chunk(const zt::Bytes &png, const std::string &type)
{
    for (const Chunk &c : chunks(png))
        if (c.type == type)
            return c;
    return Chunk{"", png.size(), 0};
}

// The private chunk moved before the image data, where earlier versions
// wrote it (its CRC covers only its type and data).
zt::Bytes chunk_before_image_data(const zt::Bytes &png)
{
    const Chunk zf = chunk(png, "zfAc"), idat = chunk(png, "IDAT");
    EXPECT_GT(zf.at, idat.at);
    zt::Bytes out(png.begin(), png.begin() + long(idat.at));
    out.insert(out.end(), png.begin() + long(zf.at), png.begin() + long(zf.at + zf.size));
    out.insert(out.end(), png.begin() + long(idat.at), png.begin() + long(zf.at));
    out.insert(out.end(), png.begin() + long(zf.at + zf.size), png.end());
    return out;
}

// Whether a PNG shows, by its chunk's digest, the picture it was made of.
bool unchanged(const zt::Bytes &png)
{
    zfconv::PngMeta meta;
    const Picture pic = read_png(png, meta);
    zfconv::Archive a;
    zfconv::Restored r;
    std::string error;
    EXPECT_TRUE(zfconv::unpack_archive(meta.archive, a, error)) << error;
    EXPECT_TRUE(zfconv::restore_archive(a, pic, Options{}, r, error)) << error;
    return r.pixels_match;
}

class Archive : public ::testing::Test {
protected:
    zt::TempDir dir;
};

} // namespace

// The header's texts as iTXt before the image data, in UTF-8: kanji,
// half-width katakana, a control character as itself, and bytes that are
// no Shift-JIS written \xHH; the
// time as tIME, the ratio as pHYs.  A new file made from
// those texts alone (another depth) has the same fields, byte for byte.
TEST_F(Archive, HeaderTextsReadBackWithLibpng)
{
    // 日本 ｱｲ, then a lead byte with no trail, an NEC code CP932 also has
    // elsewhere, a control byte and a backslash that reads like an escape
    const char title[] = "\x93\xfa\x96\x7b \xb1\xb2 \x81 \xed\x40\x01 \\x41";
    const char comment[] = "\x88\xea\x8d\x73\r\n\x93\xf1\x8d\x73";   // 一行 CR LF 二行
    const char artist[] = "\x8e\x52\x93\x63"; // 山田
    const zt::Bytes original =
        zefa(dir, 24, {block(24, 0, 0, 12, 6, "ZFSF")}, {title, comment, artist, -7}, 2, 1);
    const zt::Bytes png = convert(original, Target::png);
    const PngFacts facts = png_facts(dir, png);
    std::map<std::string, std::string> texts = facts.itxt;
    texts.erase("Creation Time"); // (the conformance test's)
    EXPECT_EQ(texts, (std::map<std::string, std::string>{{"Title", "日本 ｱｲ \\x81 \\xED@\x01 \\x5Cx41"}, {"Author", "山田"},
                                                          {"Comment", "一行\n二行"}, {"Software", "test"},
                                                          {"ZEFA Number", "-7"}, {"ZEFA Subtitle", "f"}}));
    ASSERT_TRUE(facts.has_time); // (Creation Time's text: the conformance test's)
    EXPECT_EQ(std::tuple(facts.unit, facts.ppu_x, facts.ppu_y), std::tuple(PNG_RESOLUTION_UNKNOWN, 1u, 2u)); // 2:1 pixels

    // without the chunk's help: a new file from the texts
    Options o;
    o.depth = 15;
    Outcome out;
    const zt::Bytes fresh = convert(png, Target::zefa, o, &out);
    EXPECT_FALSE(out.exact);
    for (auto [at, n] : {std::pair{ZF_H_ARTIST, 18}, {ZF_H_SUBTITLE, 8}, {ZF_H_TITLE, 30}, {ZF_H_NUMBER, 2},
                         {ZF_H_RATIO_X, 4}})
        EXPECT_EQ(zt::Bytes(fresh.begin() + at, fresh.begin() + at + n),
                  zt::Bytes(original.begin() + at, original.begin() + at + n))
            << "header field at " << at;
    EXPECT_EQ(zt::read_back(fresh).comment, comment);
}

// A 2:1 file: pHYs by default, twice the columns with --square (each
// pixel doubled: the area filter adds nothing of its own), no private
// chunk then, and pHYs 1:1.
TEST_F(Archive, SquarePixelsOnRequestOnly)
{
    const zt::Bytes original = zefa(dir, 8, {block(8, 0, 0, 9, 4, "ZFSF")}, {}, 2, 1);
    Options o;
    o.square = true;
    const zt::Bytes png = convert(original, Target::png, o);
    const PngFacts sq = png_facts(dir, png);
    EXPECT_EQ(std::tuple(sq.width, sq.height, sq.ppu_x, sq.has_chunk), std::tuple(18, 4, sq.ppu_y, false));
    zfconv::PngMeta meta;
    const Picture wide = read_png(png, meta);
    Picture narrow;
    std::string error, damage;
    ASSERT_TRUE(zfconv::read_zefa(original.data(), original.size(), narrow, error, damage));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 18; ++x)
            ASSERT_EQ(zt::colour_at(wide, x, y), zt::colour_at(narrow, x / 2, y)) << x << "," << y;
}

// Edited pixels keep the header, palette and comment; the blocks they
// touch are coded again, the others stay as they were; pixels no block
// covered become a block of their own.  A colour the palette lacks is
// refused.
TEST_F(Archive, EditedPixelsKeepTheHeader)
{
    const zt::Bytes original =
        zefa(dir, 8, {block(8, 0, 0, 20, 10, "ZFSS", 1), block(8, 0, 10, 20, 10, "ZFBI", 2)}, {"t", "c", "a", 5});
    zt::Bytes widened = original;
    // a header larger than its blocks: room no block covers
    widened[ZF_H_MAX_WIDTH + 1] = 30;
    const zt::Bytes png = convert(widened, Target::png);
    zfconv::PngMeta meta;
    Picture pic = read_png(png, meta);
    ASSERT_EQ(pic.kind, zfconv::Kind::palette);
    pic.pixels[2 * 30 + 3] = 77;   // in the first block
    pic.pixels[15 * 30 + 25] = 9;  // outside both
    Outcome out;
    const zt::Bytes edited = convert(write_png(pic, meta), Target::zefa, {}, &out);
    EXPECT_FALSE(out.exact);
    const std::size_t first = get_u32(&widened[ZF_H_FIRST]);
    EXPECT_EQ(zt::Bytes(edited.begin(), edited.begin() + long(first)), zt::Bytes(widened.begin(), widened.begin() + long(first)));
    const zt::ReadBack r = zt::read_back(edited);
    ASSERT_EQ(r.blocks.size(), 3u); // (the pixels: every conversion here is verified)
    EXPECT_STREQ(r.blocks[0].head.tag, "ZFSS");
    EXPECT_EQ(r.blocks[2].head.x, 25);
    // the untouched block is the same bytes
    const std::size_t second_old = first + get_u32(&widened[first + 4]);
    const std::size_t second_new = first + get_u32(&edited[first + 4]);
    const std::size_t len = get_u32(&widened[second_old + 4]);
    EXPECT_EQ(zt::Bytes(edited.begin() + long(second_new), edited.begin() + long(second_new + len)),
              zt::Bytes(widened.begin() + long(second_old), widened.begin() + long(second_old + len)));
    Options o; // another coding asked for: every block coded so
    o.coding = "none";
    for (const auto &b : zt::read_back(convert(write_png(pic, meta), Target::zefa, o)).blocks)
        EXPECT_STREQ(b.head.tag, "ZFBI");

    // as RGB, with a colour the palette has not
    Picture rgb = zfconv::rgb_view(read_png(convert(original, Target::png), meta));
    EXPECT_EQ(convert(write_png(rgb, meta), Target::zefa), original); // the same colours: the same file
    rgb.pixels[0] = 1;
    EXPECT_NE(failure(write_png(rgb, meta), Target::zefa).find("palette lacks"), std::string::npos);
}

// A damaged file: the lines that decode, the rest transparent, the damage
// told; its PNG gives the damaged file back, and an edit inside the lines
// of the block that broke is refused rather than dropped.
TEST_F(Archive, DamagedFileComesBackAsItWas)
{
    zt::Bytes original = zefa(dir, 24, {block(24, 0, 0, 16, 8, "ZFSF", 1), block(24, 0, 8, 16, 8, "ZFBM", 2)});
    original.resize(original.size() - 8 - 16 * 3 * 3); // the last three lines and the end marker gone
    Outcome out;
    const zt::Bytes png = convert(original, Target::png, {}, &out);
    EXPECT_NE(out.damage.find("block 1"), std::string::npos) << out.damage;
    zfconv::PngMeta meta;
    Picture pic = read_png(png, meta);
    ASSERT_FALSE(pic.mask.empty());
    EXPECT_EQ(pic.mask[15 * 16], 0);
    EXPECT_EQ(pic.mask[12 * 16], 1);
    Outcome back;
    EXPECT_EQ(convert(png, Target::zefa, {}, &back), original);
    EXPECT_TRUE(back.exact);

    pic.pixels[3 * (12 * 16)] ^= 0xFF;
    EXPECT_NE(failure(write_png(pic, meta), Target::zefa).find("damaged"), std::string::npos);
    // an edit in a sound block is written; the damage stays as it was
    pic.pixels[3 * (12 * 16)] ^= 0xFF;
    pic.pixels[0] ^= 0xFF;
    const zt::Bytes edited = convert(write_png(pic, meta), Target::zefa);
    const zt::ReadBack r = zt::read_back(edited);
    ASSERT_GE(r.blocks.size(), 1u);
    EXPECT_EQ(r.blocks[0].lines[0][0] >> 16, uint32_t{pic.pixels[0]});
}

// A PNG from elsewhere: title, author and comment from tEXt, zTXt and
// iTXt, the ratio from pHYs; the depth it holds without loss (of 8 and 24,
// the smaller file), or the one asked for; the options win over the chunks.
TEST_F(Archive, ForeignPngTakesItsTexts)
{
    const Picture pal = zt::test_picture(zfconv::Kind::palette, 7, 5);
    const zt::Bytes png = write_png(pal, {.texts = {{"Title", "Fuji-san \xe5\xaf\x8c\xe5\xa3\xab"}, {"Author", "Hokusai"},
                                                    {"Comment", "one\ntwo"}},
                                          .has_phys = true, .ppu_x = 3000, .ppu_y = 2000, .phys_unit = 1, .archive = {}}); // 3:2 in metres
    const zt::Bytes chosen = convert(png, Target::zefa);
    Options at;
    at.depth = 8;
    const std::size_t size8 = convert(png, Target::zefa, at).size();
    at.depth = 24;
    const std::size_t size24 = convert(png, Target::zefa, at).size();
    EXPECT_EQ(chosen.size(), std::min(size8, size24));
    zt::ReadBack r = zt::read_back(chosen);
    EXPECT_EQ(std::tuple(std::string(r.info.title), std::string(r.info.artist).substr(0, 7), r.comment, r.info.ratio_x, r.info.ratio_y),
              std::tuple("Fuji-san \x95\x78\x8e\x6d" + std::string(17, ' '), "Hokusai", "one\r\ntwo", 2, 3));
    ASSERT_EQ(r.blocks.size(), 1u);
    EXPECT_STREQ(r.blocks[0].head.tag, "ZFSF");

    Options o;
    o.has_title = true;
    o.title = "given";
    o.ratio_x = o.ratio_y = 1;
    r = zt::read_back(convert(png, Target::zefa, o));
    EXPECT_EQ(std::tuple(std::string(r.info.title).substr(0, 6), r.info.ratio_x), std::tuple("given ", 1));

    // at depth 8 colour takes a palette of its colours; more than 256 are refused
    o = Options{};
    o.depth = 8;
    EXPECT_EQ(zt::read_back(convert(write_png(zt::test_picture(zfconv::Kind::rgb, 10, 3), {}), Target::zefa, o)).info.n_pal, 30);
    EXPECT_NE(failure(write_png(zt::test_picture(zfconv::Kind::rgb, 60, 40), {}), Target::zefa, o).find("more than 256 colours"),
              std::string::npos);
}

// A private chunk that is damaged, or claims more than it holds, leaves a
// PNG like any other, and says so.
TEST_F(Archive, DamagedChunkIsIgnored)
{
    const zt::Bytes png = convert(zefa(dir, 24, {block(24, 0, 0, 8, 8, "ZFSF")}, {"kept", nullptr, "a", 1}), Target::png);
    zfconv::PngMeta meta;
    const Picture pic = read_png(png, meta);
    for (auto spoil : {+[](zfconv::Bytes &c) { c[c.size() / 2] ^= 0x55; }, +[](zfconv::Bytes &c) { c[1] = 0x7F; },
                       +[](zfconv::Bytes &c) { c.resize(7); }}) {
        zfconv::PngMeta bad = meta;
        spoil(bad.archive);
        Outcome out;
        const zt::ReadBack r = zt::read_back(convert(write_png(pic, bad), Target::zefa, {}, &out));
        ASSERT_FALSE(out.notes.empty());
        EXPECT_NE(out.notes[0].find("private chunk"), std::string::npos) << out.notes[0];
        EXPECT_EQ(std::string(r.info.title).substr(0, 5), "kept ");
    }
}

// A chunk that claims more than the file holds (2 GB in a few hundred
// bytes) is refused before anything is allocated for it: under a 512 MB
// address-space limit the refusal must be the reason, not a failed
// allocation.
TEST_F(Archive, ChunkLongerThanTheFileIsRefusedCheaply)
{
    zt::Bytes png = convert(zefa(dir, 24, {block(24, 0, 0, 5, 3, "ZFBI")}, {"t", nullptr, "a", 1}), Target::png);
    const char itxt[] = "iTXt";
    const auto at = std::search(png.begin(), png.end(), itxt, itxt + 4) - 4; // the first iTXt's length
    std::copy_n("\x74\0\0\0", 4, at);                                         // 1.9 GB
    zt::write_file(dir / "claim.png", png);
#if defined(__SANITIZE_ADDRESS__)
    const char *limit = ""; // the sanitizer reserves far more address space than any limit allows
#else
    const char *limit = "ulimit -v 524288; ";
#endif
    const auto r = zt::run("/bin/sh", {"-c", std::string(limit) + "exec \"$0\" claim.png claim.ZF", zt::zfconv_path()},
                           zt::RunOptions{dir.path(), "", {"LC_ALL=C.UTF-8"}, {}});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("claims more than the file holds"), std::string::npos) << r.err;
}

// The chunk follows the image data.  Before it, as earlier versions wrote
// it, it is read all the same, and so is the RGB PNG they wrote of a
// picture of few colours (its digest taken over RGB).
TEST_F(Archive, ChunkAfterTheImageDataAndBefore)
{
    std::mt19937 rng(3);
    const zt::Bytes file = zefa(dir, 24, {{0, 0, "ZFSS", zt::random_image(rng, 24, 32, 20, 9)}});
    const zt::Bytes png = convert(file, Target::png);
    const std::vector<Chunk> cs = chunks(png);
    ASSERT_GE(cs.size(), 3u);
    EXPECT_EQ(cs[cs.size() - 2].type, "zfAc");
    EXPECT_EQ(convert(chunk_before_image_data(png), Target::zefa), file);

    zfconv::PngMeta meta;
    const Picture pic = read_png(png, meta);
    ASSERT_EQ(pic.kind, zfconv::Kind::palette);
    meta.few_colours_as_palette = false;
    const zt::Bytes rgb = write_png(zfconv::rgb_view(pic), meta);
    ASSERT_EQ(rgb[25], 2);
    EXPECT_TRUE(unchanged(rgb));
    Outcome back;
    EXPECT_EQ(convert(chunk_before_image_data(rgb), Target::zefa, {}, &back), file);
    EXPECT_TRUE(back.exact);
}

// A palette entry changed in the PNG (its CRC mended) is a changed picture.
TEST_F(Archive, EditedPaletteIsAChange)
{
    std::mt19937 rng(5);
    const zt::Bytes file = zefa(dir, 24, {{0, 0, "ZFSF", zt::random_image(rng, 24, 24, 16, 6)}});
    zt::Bytes png = convert(file, Target::png);
    const Chunk plte = chunk(png, "PLTE");
    png[plte.at + 8] ^= 0x80; // entry 0's red
    const uLong crc = crc32(0, &png[plte.at + 4], uInt(plte.size - 8));
    for (int k = 0; k < 4; ++k)
        png[plte.at + plte.size - 4 + std::size_t(k)] = uint8_t(crc >> (24 - 8 * k));
    EXPECT_FALSE(unchanged(png));
    Outcome back;
    EXPECT_NE(convert(png, Target::zefa, {}, &back), file);
    EXPECT_FALSE(back.exact);
}

// ---- hostile chunks ---------------------------------------------------------

namespace {

namespace hostile = zt::hostile;

// Whether a ZEFA file shows a PNG's picture, pixel for pixel (a pixel no
// block decodes only where the PNG has a hole or shows what it shows).
bool shows_png(const zt::Bytes &zefa, const zt::Bytes &png)
{
    zfconv::PngMeta meta;
    const Picture pic = read_png(png, meta);
    Picture dec;
    std::string error, damage;
    if (!zfconv::read_zefa(zefa.data(), zefa.size(), dec, error, damage) || dec.width != pic.width ||
        dec.height != pic.height)
        return false;
    for (int y = 0; y < pic.height; ++y)
        for (int x = 0; x < pic.width; ++x) {
            const std::size_t i = std::size_t(y) * std::size_t(pic.width) + std::size_t(x);
            const bool hole = !dec.mask.empty() && dec.mask[i] == 0;
            const bool transparent = !pic.mask.empty() && pic.mask[i] == 0;
            if (!(hole && transparent) && zt::colour_at(dec, x, y) != zt::colour_at(pic, x, y))
                return false;
        }
    return true;
}

} // namespace

// Forged and damaged chunks: whatever their digests say, the file written
// shows the PNG's pixels (the chunk set aside, with one note naming it), or
// under --verify nothing is written.
TEST_F(Archive, ForgedChunksNeverOutrankThePixels)
{
    for (const hostile::Case &c : hostile::forged_chunks()) {
        SCOPED_TRACE(c.name);
        Outcome out;
        std::string error;
        ASSERT_TRUE(zfconv::convert(c.png, "in", Target::zefa, {}, out, error)) << error;
        EXPECT_TRUE(shows_png(out.output, c.png));
        EXPECT_FALSE(out.exact);
        ASSERT_EQ(out.notes.size(), 1u);
        EXPECT_NE(out.notes[0].find("private chunk"), std::string::npos) << out.notes[0];
        if (c.name.find("depth") != std::string::npos) {
            EXPECT_NE(out.notes[0].find("depth of " + c.name.substr(c.name.rfind(' ') + 1) + " bits"), std::string::npos)
                << out.notes[0];
        }

        Options verify;
        verify.verify = true;
        if (zfconv::convert(c.png, "in", Target::zefa, verify, out, error))
            EXPECT_TRUE(shows_png(out.output, c.png));
        else
            EXPECT_NE(error.find("private chunk"), std::string::npos) << error;
    }
}

// Bombs cost what the picture costs: a 1 x 1 PNG whose chunk stores a
// block of 32759 x 32767 pixels, a chunk of 64 MiB of comment, 200,000
// canvas-sized blocks over 1024 x 1024, each refused as a damaged chunk by
// the program under a 512 MB address-space limit; 1,000 small blocks
// within the limits are restored.
TEST_F(Archive, BombsCostWhatThePictureCosts)
{
#if defined(__SANITIZE_ADDRESS__)
    const std::string limit; // the sanitizer reserves far more address space than any limit allows
#else
    const std::string limit = "ulimit -v 524288; ";
#endif
    const std::vector<std::pair<std::string, zt::Bytes>> bombs = {
        {"stored", hostile::stored_block_bomb()},
        {"lead", hostile::lead_bomb(std::size_t{64} << 20)},
        {"blocks", hostile::many_blocks_bomb(200000, 1024, 1024)},
    };
    for (const auto &[name, png] : bombs) {
        SCOPED_TRACE(name);
        EXPECT_LT(png.size(), std::size_t{1} << 20);
        zt::write_file(dir / "bomb.png", png);
        const auto r = zt::run("/bin/sh", {"-c", limit + "exec \"$0\" bomb.png bomb.ZF", zt::zfconv_path()},
                               zt::RunOptions{dir.path(), "", {"LC_ALL=C.UTF-8"}, {}});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.err.find("private chunk is damaged"), std::string::npos) << r.err;
        EXPECT_TRUE(shows_png(zt::read_file(dir / "bomb.ZF"), png));
    }
    const zt::Bytes small = hostile::many_blocks_bomb(1000, 1024, 2);
    Outcome out;
    std::string error;
    ASSERT_TRUE(zfconv::convert(small, "in", Target::zefa, {}, out, error)) << error;
    EXPECT_TRUE(shows_png(out.output, small));
    for (const std::string &note : out.notes)
        EXPECT_EQ(note.find("private chunk"), std::string::npos) << note; // restored, not set aside
}

// --no-restore: no private chunk.
TEST_F(Archive, NoRestoreLeavesTheChunkOut)
{
    std::mt19937 rng(5);
    const zt::Bytes file = zefa(dir, 24, {{0, 0, "ZFSF", zt::random_image(rng, 24, 30, 20, 300)}});
    Options o;
    o.archive = false;
    EXPECT_EQ(chunk(convert(file, Target::png, o), "zfAc").size, 0u);
}
