// make_seeds DIR - writes seed files for the fuzz targets with the
// project's own writers: ZEFA files of every depth and coding, small and
// with several blocks, palettes and comments.
#include "zefa.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace {

void write_file(const std::string &path, int depth, const char *tag, int width, int height, int blocks)
{
    unsigned char pal[768];
    for (int i = 0; i < 768; ++i)
        pal[i] = static_cast<unsigned char>(i * 5);
    zf_set_info("make_seeds", depth, -1, -1, 1, 1, 0);
    if (depth == 8)
        zf_set_palette(256, 8, pal);
    zf_file *f = zf_create(path.c_str(), "seed", "a comment\nof two lines", "fuzz", 1);
    if (!f)
        return;
    unsigned seed = 12345;
    const uint32_t mask = depth == 8 ? 0xFF : depth == 15 ? 0xFFFE : 0xFFFFFF;
    for (int b = 0; b < blocks; ++b) {
        uint32_t *line = nullptr;
        if (zf_begin_write(f, &line, b * width, 0, width, height, tag, -1) != 0)
            break;
        int r = 0;
        do {
            for (int y = 0; y < height && r != -1; ++y) {
                for (int x = 0; x < width; ++x) {
                    seed = seed * 1103515245u + 12345u;
                    // areas of one colour broken by noise, like real images
                    line[x] = ((x / 3 + y / 2 + b) % 5 == 0 ? (seed >> 8) : (x / 4) * 0x010203u) & mask;
                }
                r = zf_line(f, &line);
            }
        } while (r == 0);
    }
    zf_close(f);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    for (const char *tag : {"ZFBI", "ZFBM", "ZFSF", "ZFSS"})
        for (int depth : {8, 15, 24}) {
            const std::string base = dir + "/" + tag + "_" + std::to_string(depth);
            write_file(base + "_small.ZF", depth, tag, 5, 3, 1);
            write_file(base + "_multi.ZF", depth, tag, 17, 9, 3);
            write_file(base + "_wide.ZF", depth, tag, 300, 2, 1);
            write_file(base + "_tall.ZF", depth, tag, 40, 300, 1);
        }
    // The zfdec targets read their mode from the first bytes: the same
    // files behind each mode, in folders of their own.
    const std::pair<const char *, std::vector<std::string>> modes[] = {
        {"fuzz_zfdec_rgb", {std::string(1, '\0'), std::string(1, '\1')}},
        {"fuzz_zfdec_djp", {std::string("\0\0\0\0\0", 5), std::string("\1\0\0\0\0", 5), std::string("\2\0\0\0\0", 5),
                            std::string("\4\0\x40\0\x20", 5), std::string("\5\0\x0b\0\x07", 5)}}};
    for (const auto &[target, prefixes] : modes) {
        const std::string sub = dir + "/" + target;
        std::filesystem::create_directories(sub);
        for (const auto &entry : std::filesystem::directory_iterator(dir)) {
            if (!entry.is_regular_file() || entry.path().extension() != ".ZF")
                continue;
            std::ifstream in(entry.path(), std::ios::binary);
            const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            for (std::size_t m = 0; m < prefixes.size(); ++m)
                std::ofstream(sub + "/" + entry.path().stem().string() + "_" + std::to_string(m), std::ios::binary)
                    << prefixes[m] << file;
        }
    }
    return 0;
}
