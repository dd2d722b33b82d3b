// zfconv's PNG output of ZEFA files: RGB pictures of few colours as palette
// PNG of the fewest bits, the private chunk after the image data (and
// still read before it, where earlier versions wrote it, RGB or not), an
// edited palette seen as a change, and a chunk made from what decoding the
// picture learnt that is the one decoding again gives, damaged files too.
#include "archive.h"
#include "codec_run.h"
#include "convert.h"
#include "harness.h"
#include "png_meta.h"
#include "readers.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>

namespace {

using zfconv::Options;
using zfconv::Outcome;
using zfconv::Target;
using Bytes = zt::Bytes;

Outcome convert(const Bytes &in, Target to)
{
    Options o;
    o.verify = true;
    Outcome out;
    std::string error;
    EXPECT_TRUE(zfconv::convert(in, "in", to, o, out, error)) << error;
    return out;
}

// The chunks of a PNG: type, and where each starts (its length field).
struct Chunk {
    std::string type;
    std::size_t at, size; // size: length, type, data and CRC
};
std::vector<Chunk> chunks(const Bytes &png)
{
    std::vector<Chunk> out;
    for (std::size_t at = 8; at + 12 <= png.size();) {
        const std::size_t n = std::size_t{png[at]} << 24 | std::size_t{png[at + 1]} << 16 |
                              std::size_t{png[at + 2]} << 8 | png[at + 3];
        out.push_back(Chunk{std::string(png.begin() + long(at + 4), png.begin() + long(at + 8)), at, n + 12});
        at += n + 12;
    }
    return out;
}

std::size_t index_of(const std::vector<Chunk> &cs, const std::string &type, bool last = false)
{
    std::size_t found = cs.size();
    for (std::size_t i = 0; i < cs.size(); ++i)
        if (cs[i].type == type && (found == cs.size() || last))
            found = i;
    return found;
}

// The private chunk moved before the image data, where earlier versions
// wrote it (its CRC covers only its type and data, so it stays valid).
Bytes chunk_before_idat(const Bytes &png)
{
    const std::vector<Chunk> cs = chunks(png);
    const Chunk zf = cs.at(index_of(cs, "zfAc")), idat = cs.at(index_of(cs, "IDAT"));
    EXPECT_GT(zf.at, idat.at);
    Bytes out(png.begin(), png.begin() + long(idat.at));
    out.insert(out.end(), png.begin() + long(zf.at), png.begin() + long(zf.at + zf.size));
    out.insert(out.end(), png.begin() + long(idat.at), png.begin() + long(zf.at));
    out.insert(out.end(), png.begin() + long(zf.at + zf.size), png.end());
    return out;
}

// Whether the picture a PNG shows is, by its chunk's digest, the one the
// chunk was made from.
bool unchanged(const Bytes &png)
{
    zfconv::Image pic;
    zfconv::PngMeta meta;
    zfconv::Archive a;
    zfconv::Restored r;
    std::string error;
    EXPECT_TRUE(zfconv::read_png(png.data(), png.size(), pic, meta, error)) << error;
    EXPECT_TRUE(zfconv::unpack_archive(meta.archive, a, error)) << error;
    EXPECT_TRUE(zfconv::restore_archive(a, pic, Options{}, r, error)) << error;
    return r.pixels_match;
}

std::size_t distinct_colours(const zt::Image &lines)
{
    std::set<uint32_t> s;
    for (const auto &l : lines)
        s.insert(l.begin(), l.end());
    return s.size();
}

class PngOutput : public ::testing::Test {
protected:
    Bytes zefa(int depth, const zt::Image &lines, const char *tag = "ZFSF")
    {
        return zt::write_zefa(dir / "f.ZF", zt::params(depth), {{0, 0, tag, lines}});
    }
    zt::TempDir dir;
};

} // namespace

// As pnmtopng: at most 256 colours of 15 or 24 bits make a palette PNG of
// 1, 2, 4 or 8 bits; more stay RGB.  Each gives its file back byte for byte.
TEST_F(PngOutput, FewColoursMakeAPalettePng)
{
    std::mt19937 rng(7);
    struct Case {
        int depth, colours;
    };
    for (const Case c : {Case{24, 2}, Case{24, 4}, Case{15, 12}, Case{24, 200}, Case{24, 0}}) {
        const zt::Image lines = c.colours ? zt::random_image(rng, c.depth, 40, 30, c.colours)
                                          : zt::pattern(c.depth, 40, 30, 1);
        const std::size_t n = distinct_colours(lines);
        const Bytes file = zefa(c.depth, lines);
        const Bytes png = convert(file, Target::png).output;
        ASSERT_GE(png.size(), 26u);
        const int bits = png[24], type = png[25];
        if (c.colours) {
            ASSERT_LE(n, 256u);
            EXPECT_EQ(type, 3) << n << " colours";
            EXPECT_EQ(bits, n <= 2 ? 1 : n <= 4 ? 2 : n <= 16 ? 4 : 8) << n << " colours";
            const std::vector<Chunk> cs = chunks(png);
            EXPECT_EQ(cs.at(index_of(cs, "PLTE")).size, 12 + 3 * n);
        } else {
            ASSERT_GT(n, 256u);
            EXPECT_EQ(type, 2);
            EXPECT_EQ(bits, 8);
        }
        EXPECT_TRUE(unchanged(png)) << n << " colours";
        const Outcome back = convert(png, Target::zefa);
        EXPECT_TRUE(back.exact) << n << " colours";
        EXPECT_EQ(back.output, file);
    }
}

// The chunk follows the image data; before it, as earlier versions wrote
// it, it is read all the same, and so is the RGB PNG they wrote of a
// picture of few colours (its digest taken over RGB).
TEST_F(PngOutput, ChunkAfterTheImageDataAndBefore)
{
    std::mt19937 rng(3);
    const Bytes file = zefa(24, zt::random_image(rng, 24, 32, 20, 9), "ZFSS");
    const Bytes png = convert(file, Target::png).output;
    const std::vector<Chunk> cs = chunks(png);
    ASSERT_LT(index_of(cs, "zfAc"), cs.size());
    EXPECT_GT(index_of(cs, "zfAc"), index_of(cs, "IDAT", true));
    EXPECT_EQ(cs.back().type, "IEND");

    const Bytes before = chunk_before_idat(png);
    const std::vector<Chunk> moved = chunks(before);
    EXPECT_LT(index_of(moved, "zfAc"), index_of(moved, "IDAT"));
    Outcome back = convert(before, Target::zefa);
    EXPECT_TRUE(back.exact);
    EXPECT_EQ(back.output, file);

    // an earlier version's PNG: RGB, the chunk before the image data
    zfconv::Image pic;
    zfconv::PngMeta meta;
    std::string error;
    ASSERT_TRUE(zfconv::read_png(png.data(), png.size(), pic, meta, error)) << error;
    ASSERT_EQ(pic.kind, zfconv::Kind::palette);
    meta.few_colours_as_palette = false;
    Bytes rgb;
    ASSERT_TRUE(zfconv::encode_png(zfconv::rgb_view(pic), meta, rgb, error)) << error;
    ASSERT_EQ(rgb[25], 2); // RGB
    EXPECT_TRUE(unchanged(rgb));
    back = convert(chunk_before_idat(rgb), Target::zefa);
    EXPECT_TRUE(back.exact);
    EXPECT_EQ(back.output, file);
}

// A palette entry changed in the PNG (its CRC mended) is a changed picture:
// the file made shows the new colour, and is not the original.
TEST_F(PngOutput, EditedPaletteIsAChange)
{
    std::mt19937 rng(5);
    const zt::Image lines = zt::random_image(rng, 24, 24, 16, 6);
    const Bytes file = zefa(24, lines);
    Bytes png = convert(file, Target::png).output;
    const std::vector<Chunk> cs = chunks(png);
    const Chunk plte = cs.at(index_of(cs, "PLTE"));
    uint8_t *entry = &png[plte.at + 8]; // entry 0: the most frequent colour
    const uint32_t was = uint32_t{entry[0]} << 16 | uint32_t{entry[1]} << 8 | entry[2];
    const uint32_t now = was ^ 0x804020;
    entry[0] = uint8_t(now >> 16), entry[1] = uint8_t(now >> 8), entry[2] = uint8_t(now);
    const uLong crc = crc32(0, &png[plte.at + 4], uInt(plte.size - 8));
    for (int k = 0; k < 4; ++k)
        png[plte.at + plte.size - 4 + std::size_t(k)] = uint8_t(crc >> (24 - 8 * k));

    EXPECT_FALSE(unchanged(png));
    const Outcome back = convert(png, Target::zefa);
    EXPECT_FALSE(back.exact);
    EXPECT_NE(back.output, file);
    const zt::ReadBack r = zt::read_back(back.output);
    ASSERT_EQ(r.blocks.size(), 1u);
    std::size_t changed = 0;
    for (std::size_t y = 0; y < lines.size(); ++y)
        for (std::size_t x = 0; x < lines[y].size(); ++x) {
            const uint32_t want = (lines[y][x] & 0xFFFFFF) == was ? now : lines[y][x] & 0xFFFFFF;
            ASSERT_EQ(r.blocks[0].lines.at(y).at(x) & 0xFFFFFF, want) << x << "," << y;
            changed += want == now;
        }
    EXPECT_GT(changed, 0u);
}

// The chunk made from what read_zefa learnt is the chunk decoding every
// block again gives, for a sound file and for every cut and many damaged
// bytes of it (blocks stopped at their first line and after some lines).
TEST_F(PngOutput, ChunkFromTheDecodingIsTheChunkFromDecodingAgain)
{
    std::mt19937 rng(11);
    const Bytes file = zt::write_zefa(dir / "m.ZF", zt::params(24),
                                      {{0, 0, "ZFSF", zt::random_image(rng, 24, 20, 12, 40)},
                                       {8, 6, "ZFSS", zt::random_image(rng, 24, 16, 10, 40)},
                                       {30, 0, "ZFBM", zt::pattern(24, 6, 6, 2)},
                                       {2, 14, "ZFSS", zt::pattern(24, 12, 8, 3)}});
    ASSERT_FALSE(file.empty());
    std::vector<Bytes> variants{file};
    for (std::size_t cut = 130; cut < file.size(); cut += 7)
        variants.emplace_back(file.begin(), file.begin() + long(cut));
    for (int i = 0; i < 200; ++i) {
        Bytes v = file;
        v[130 + rng() % (v.size() - 130)] ^= uint8_t(1 + rng() % 255);
        variants.push_back(std::move(v));
    }
    int drawn = 0, partly = 0;
    for (const Bytes &v : variants) {
        zfconv::Image img;
        zfconv::ZefaDecoding decoding;
        std::string error, damage;
        if (!zfconv::read_zefa(v.data(), v.size(), img, error, damage, decoding))
            continue;
        ++drawn;
        const zfconv::Image view = zfconv::png_view(img);
        zfconv::Archive told, again;
        ASSERT_TRUE(zfconv::make_archive(v, view, told, error, &decoding)) << error;
        ASSERT_TRUE(zfconv::make_archive(v, view, again, error)) << error;
        partly += again.partly_drawn;
        ASSERT_EQ(zfconv::pack_archive(told), zfconv::pack_archive(again)) << "variant of " << v.size() << " bytes";
    }
    EXPECT_GT(drawn, 100);
    EXPECT_GT(partly, 20);
}
