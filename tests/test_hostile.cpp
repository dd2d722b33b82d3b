// Damaged and hostile files: every truncation and thousands of seeded
// corruptions of a sound file open, walk and read without harm, and each
// field made invalid on purpose is refused as a bad format.
#include "harness.h"
#include "zefa.h"
#include "codec.h"
#include "record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace {

using Bytes = std::vector<uint8_t>;

// Whether a block of this tag can be written (codings arrive one by one).
bool coding_available(const std::string &scratch, const char *tag)
{
    zf_file *f = zf_create(scratch.c_str(), "", nullptr, "", 0);
    uint32_t *line = nullptr;
    const bool ok = f && zf_begin_write(f, &line, 0, 0, 1, 1, tag, -1) == 0;
    if (f)
        zf_close(f);
    return ok;
}

// Writes a sound file: palette, comment, and one block for every tag whose
// coding is available, each with a different geometry.
Bytes sound_file(const std::string &path, int depth)
{
    unsigned char pal[768];
    for (int i = 0; i < 768; ++i)
        pal[i] = static_cast<unsigned char>(i);
    zf::creation.n_pal = 0;
    zf_set_info("hostile", depth, -1, -1, 1, 1, 0);
    if (depth == 8)
        zf_set_palette(256, 8, pal);
    zf_file *f = zf_create(path.c_str(), "t", "line one\nline two", "a", 1);
    EXPECT_NE(f, nullptr);
    std::mt19937 rng(7);
    const std::string probe = path + ".probe";
    int y0 = 0;
    for (const char *tag : {"ZFBI", "ZFBM", "ZFSF", "ZFSS"}) {
        const int w = 5 + y0, h = 3;
        uint32_t *line = nullptr;
        if (!coding_available(probe, tag))
            continue;
        EXPECT_EQ(zf_begin_write(f, &line, 2, y0, w, h, tag, -1), 0);
        for (int pass = 0; pass < 2; ++pass) {
            int r = 0;
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x)
                    line[x] = (x + y) % 3 == 0 ? static_cast<uint32_t>(rng()) & zf::pixel_mask(depth) : 0x10;
                if (depth == 15)
                    for (int x = 0; x < w; ++x)
                        line[x] &= 0xFFFE;
                r = zf_line(f, &line);
            }
            if (r == -2)
                break;
        }
        y0 += h;
    }
    EXPECT_EQ(zf_close(f), 0);
    zf::creation.n_pal = 0;
    return zt::read_file(path);
}

// Opens, walks and reads every line of every block; returns the number of
// lines delivered.  Anything unsafe shows under the sanitizers.
int read_everything(const std::string &path)
{
    zf_file *f = zf_open(path.c_str());
    if (!f)
        return 0;
    int lines = 0, walked = 0;
    uint32_t *line = nullptr;
    for (int r = zf_first_block(f); r > 0; r = zf_next_block(f)) {
        if (++walked > 1000) {
            ADD_FAILURE() << "walk does not end";
            break;
        }
        if (r != 1 || zf_begin_read(f) != 0)
            continue;
        int width = static_cast<int16_t>(f->block[10] << 8 | f->block[11]);
        for (int n = zf_line(f, &line); n >= 0; n = zf_line(f, &line)) {
            volatile uint32_t sink = 0;
            for (int x = 0; x < width; ++x)
                sink = sink + line[x];
            ++lines;
        }
    }
    zf_close(f);
    return lines;
}

void put16(Bytes &b, size_t at, int v)
{
    if (at + 2 > b.size())
        return;
    b[at] = static_cast<uint8_t>(v >> 8);
    b[at + 1] = static_cast<uint8_t>(v);
}

void put32(Bytes &b, size_t at, uint32_t v)
{
    if (at + 4 > b.size())
        return;
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

} // namespace

TEST(Hostile, EveryTruncationIsHarmless)
{
    zt::TempDir dir;
    for (int depth : {8, 15, 24}) {
        const std::string path = dir / "sound.ZF", cut = dir / "cut.ZF";
        Bytes whole = sound_file(path, depth);
        const int all = read_everything(path);
        EXPECT_GE(all, 6);
        for (size_t n = 0; n < whole.size(); ++n) {
            zt::write_file(cut, Bytes(whole.begin(), whole.begin() + static_cast<long>(n)));
            EXPECT_LE(read_everything(cut), all);
        }
    }
}

TEST(Hostile, SeededCorruptionsAreHarmless)
{
    zt::TempDir dir;
    std::mt19937 rng(20261207);
    for (int depth : {8, 15, 24}) {
        const std::string path = dir / "sound.ZF", bad = dir / "bad.ZF";
        const Bytes whole = sound_file(path, depth);
        for (int round = 0; round < 1500; ++round) {
            Bytes b = whole;
            const int flips = 1 + static_cast<int>(rng() % 6);
            for (int i = 0; i < flips; ++i) {
                size_t at = rng() % b.size();
                switch (rng() % 3) {
                case 0: b[at] = static_cast<uint8_t>(rng()); break;
                case 1: b[at] ^= static_cast<uint8_t>(1u << (rng() % 8)); break;
                default: b[at] = (rng() & 1) ? 0xFF : 0x00; break;
                }
            }
            zt::write_file(bad, b);
            read_everything(bad);
        }
    }
}

TEST(Hostile, InvalidFieldsAreBadFormat)
{
    zt::TempDir dir;
    const std::string path = dir / "sound.ZF", bad = dir / "bad.ZF";
    const Bytes pal8 = sound_file(path, 8);
    const Bytes plain = sound_file(path, 24);
    const size_t first8 = 124 + 3 + 768 + 19, first24 = 124 + 19;
    ASSERT_EQ(pal8[106 + 3] | pal8[106 + 2] << 8, static_cast<int>(first8));

    struct Case {
        const char *what;
        Bytes bytes;
        bool at_open;
    };
    std::vector<Case> cases;
    auto with = [&](const char *what, const Bytes &base, bool at_open, auto change) {
        Bytes b = base;
        change(b);
        cases.push_back({what, b, at_open});
    };
    with("palette count 0", pal8, true, [](Bytes &b) { put16(b, 125, 0); });
    with("palette count 257", pal8, true, [](Bytes &b) { put16(b, 125, 257); });
    with("first block inside the palette", pal8, true, [](Bytes &b) { put32(b, 106, 200); });
    with("first block inside the header", plain, true, [](Bytes &b) { put32(b, 106, 20); });
    with("first block far past the end", plain, false, [](Bytes &b) { put32(b, 106, 0x7FFFFFF0u); });
    with("block length 0", plain, false, [&](Bytes &b) { put32(b, first24 + 4, 0); });
    with("block length 25", plain, false, [&](Bytes &b) { put32(b, first24 + 4, 25); });
    with("block length huge", plain, false, [&](Bytes &b) { put32(b, first24 + 4, 0xFFFFFFF0u); });
    with("width 0", plain, false, [&](Bytes &b) { put16(b, first24 + 10, 0); });
    with("width 32760", plain, false, [&](Bytes &b) { put16(b, first24 + 10, 32760); });
    with("width negative", plain, false, [&](Bytes &b) { put16(b, first24 + 10, -4); });
    with("height 0", plain, false, [&](Bytes &b) { put16(b, first24 + 12, 0); });

    for (const Case &c : cases) {
        zt::write_file(bad, c.bytes);
        zf_errno = 0;
        zf_file *f = zf_open(bad.c_str());
        if (c.at_open) {
            EXPECT_EQ(f, nullptr) << c.what;
            EXPECT_EQ(zf_errno, ZF_ERR_FORMAT) << c.what;
            continue;
        }
        if (!f) {
            EXPECT_EQ(zf_errno, ZF_ERR_EOF) << c.what;
            continue;
        }
        EXPECT_EQ(zf_first_block(f), -1) << c.what;
        EXPECT_TRUE(zf_errno == ZF_ERR_FORMAT || zf_errno == ZF_ERR_EOF) << c.what << " " << zf_errno;
        EXPECT_EQ(zf_begin_read(f), -1) << c.what;
        zf_close(f);
    }
}
