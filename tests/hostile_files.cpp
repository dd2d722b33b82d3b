// hostile_files DIR - writes the hostile files of tests/support/hostile.h
// into DIR, to run the programs on by hand (time, memory, terminals).
// hostile_files --restore-seeds DIR [FILE...] - writes inputs for
// fuzz_zfconv_restore: the hostile PNGs' chunks, and the chunks zfconv
// makes of the ZEFA files given.
#include "hostile.h"

#include "convert.h"
#include "png_meta.h"
#include "readers.h"

#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {

bool write(const std::string &dir, std::string name, const zfconv::Bytes &data)
{
    for (char &c : name)
        if (c == ' ')
            c = '_';
    const std::string path = dir + "/" + name;
    FILE *f = std::fopen(path.c_str(), "wb");
    const bool ok = f && std::fwrite(data.data(), 1, data.size(), f) == data.size();
    if (f)
        std::fclose(f);
    if (!ok)
        std::fprintf(stderr, "hostile_files: %s cannot be written\n", path.c_str());
    return ok;
}

// A PNG's picture and chunk body laid out as fuzz_zfconv_restore reads them.
bool restore_seed(const zfconv::Bytes &png, zfconv::Bytes &seed)
{
    zfconv::Image img;
    zfconv::PngMeta meta;
    std::string error;
    if (!zfconv::read_png(png.data(), png.size(), img, meta, error) || meta.archive.size() < 5 || img.width > 255 ||
        img.height > 255)
        return false;
    const zfconv::Image rgb = zfconv::rgb_view(img);
    const uLongf n = uLongf{meta.archive[1]} << 24 | uLongf{meta.archive[2]} << 16 | uLongf{meta.archive[3]} << 8 |
                     meta.archive[4];
    if (n > (64u << 20))
        return false;
    zfconv::Bytes body(n);
    uLongf got = n;
    if (uncompress(body.data(), &got, &meta.archive[5], static_cast<uLong>(meta.archive.size() - 5)) != Z_OK)
        return false;
    seed = {static_cast<uint8_t>(img.width), static_cast<uint8_t>(img.height), static_cast<uint8_t>(img.mask.empty() ? 0 : 1)};
    seed.insert(seed.end(), rgb.pixels.begin(), rgb.pixels.end());
    seed.insert(seed.end(), img.mask.begin(), img.mask.end());
    seed.insert(seed.end(), body.begin(), body.begin() + static_cast<long>(got));
    return true;
}

int restore_seeds(const std::string &dir, int count, char **files)
{
    int written = 0;
    zfconv::Bytes seed;
    for (const zt::hostile::Case &c : zt::hostile::forged_chunks())
        if (restore_seed(c.png, seed) && write(dir, "hostile " + c.name, seed))
            ++written;
    for (int i = 0; i < count; ++i) {
        std::ifstream in(files[i], std::ios::binary);
        const zfconv::Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        zfconv::Options o;
        o.max_pixels = 1 << 16;
        zfconv::Outcome png;
        std::string error, name = files[i];
        if (zfconv::convert(file, "in.ZF", zfconv::Target::png, o, png, error) && restore_seed(png.output, seed) &&
            write(dir, name.substr(name.rfind('/') + 1), seed))
            ++written;
    }
    std::printf("%d inputs written\n", written);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 3 && std::string(argv[1]) == "--restore-seeds")
        return restore_seeds(argv[2], argc - 3, argv + 3);
    if (argc != 2) {
        std::fprintf(stderr, "usage: hostile_files DIR\n");
        return 2;
    }
    namespace h = zt::hostile;
    const std::string dir = argv[1];
    bool ok = true;
    for (const h::Case &c : h::forged_chunks())
        ok &= write(dir, c.name + ".png", c.png);
    ok &= write(dir, "bomb_stored_block.png", h::stored_block_bomb());
    ok &= write(dir, "bomb_lead_1GiB.png", h::lead_bomb(std::size_t{1} << 30));
    ok &= write(dir, "bomb_200000_blocks.png", h::many_blocks_bomb(200000, 1024, 1024));
    ok &= write(dir, "many_small_blocks.png", h::many_blocks_bomb(1000, 1024, 2));
    ok &= write(dir, "most_blocks_allowed.png", h::many_blocks_bomb(16000, 4096, 16));
    const std::string attack = h::terminal_attack();
    ok &= write(dir, "terminal_attack.ZF", h::zefa(24, {{0, 0, 4, 4, 0xFF0000}}, attack.substr(0, 30), attack + "\r\n" + attack));
    return ok ? 0 : 1;
}
