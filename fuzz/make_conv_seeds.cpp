// make_conv_seeds DIR - writes small pictures of every format zfconv
// reads, and the companion files the encoder reads, as fuzz seeds: the
// tests' picture writers (the picture libraries' own) and zfconv's.
#include "convert.h"
#include "pictures.h"
#include "writers.h"

#include <tiffio.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

void put(const std::string &path, const std::string &bytes) { std::ofstream(path, std::ios::binary) << bytes; }
void put(const std::string &path, const zfconv::Bytes &bytes) { put(path, std::string(bytes.begin(), bytes.end())); }

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_conv_seeds DIR\n");
        return 2;
    }
    using zt::Kind;
    const std::string dir = std::string(argv[1]) + "/";
    std::string error;
    const zt::Picture pal = zt::test_picture(Kind::palette, 9, 5), grey = zt::test_picture(Kind::grey, 9, 5),
                      rgb = zt::test_picture(Kind::rgb, 9, 5);
    zt::write_png(dir + "pal.png", pal, 4);
    zt::write_png(dir + "grey.png", grey);
    zt::write_png(dir + "rgb.png", rgb);
    zfconv::write_png(dir + "plain.png", rgb, error);
    zfconv::write_djp(dir + "pal.DJP", pal, error);
    zfconv::write_djp(dir + "rgb.DJP", rgb, error);
    zt::write_gif(dir + "a.gif", pal);
    zt::write_gif(dir + "i.gif", pal, true);
    zt::write_tiff(dir + "rgb.tif", rgb, COMPRESSION_LZW);
    zt::write_tiff(dir + "grey.tif", grey, COMPRESSION_PACKBITS);
    zt::write_tiff(dir + "pal.tif", pal, COMPRESSION_NONE);
    zt::write_jpeg(dir + "rgb.jpg", rgb);
    zt::write_jpeg(dir + "grey.jpg", grey, true);
    put(dir + "pal.bmp", zt::bmp_of(pal, 8));
    put(dir + "rgb.bmp", zt::bmp_of(rgb, 24));
    zt::Bmp rle{40, 4, 2, 8, 1, {2, 5, 0, 3, 1, 2, 3, 0, 0, 0, 0, 2, 1, 0, 1, 7, 0, 1}};
    rle.palette.assign(3 * 8, 7);
    put(dir + "rle.bmp", rle.file());
    put(dir + "a.FAL", zt::fal_text(9, 5));
    put(dir + "a.IPR", std::string("9 5 0 0\n"));
    put(dir + "a.GLM", std::string("GR65\0\0\0\0\0\0\0\0\0\x09\0\x05", 16));

    // The way back to ZEFA starts from PNGs zfconv made of the ZEFA seeds
    // (make_seeds writes them first): their private chunk included.
    const std::string back = dir + "fuzz_zfconv_zefa";
    std::filesystem::create_directories(back);
    for (const auto &entry : std::filesystem::directory_iterator(dir)) {
        if (!entry.is_regular_file() || entry.path().extension() != ".ZF")
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const zfconv::Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        zfconv::Outcome png;
        if (zfconv::convert(file, entry.path().string(), zfconv::Target::png, zfconv::Options{}, png, error))
            put(back + "/" + entry.path().stem().string() + ".png", png.output);
    }
    for (const char *name : {"pal.png", "grey.png", "rgb.png", "plain.png", "a.gif", "rgb.jpg"})
        std::filesystem::copy_file(dir + name, back + "/" + name, std::filesystem::copy_options::overwrite_existing);
    return 0;
}
