// make_seeds DIR - writes seed files for the fuzz targets with the
// project's own writers (the tests'): ZEFA files of every depth and coding,
// small and with several blocks, palettes and comments.
#include "codec_run.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace {

// A file of `blocks` blocks side by side: areas of one colour broken by noise,
// like real images.
void write_file(const std::string &path, int depth, const char *tag, int width, int height, int blocks)
{
    std::mt19937 rng(12345);
    std::vector<zt::Block> list;
    for (int b = 0; b < blocks; ++b)
        list.push_back({b * width, 0, tag, zt::random_image(rng, depth, width, height, 12)});
    zt::write_zefa(path, zt::params(depth), list, {"seed", "a comment\nof two lines", "fuzz", 1});
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
