// hostile_files DIR - writes the hostile files of tests/support/hostile.h
// into DIR, to run the programs on by hand (time, memory, terminals).
#include "hostile.h"

#include <cstdio>
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

} // namespace

int main(int argc, char **argv)
{
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
    ok &= write(dir, "many_small_blocks.png", h::many_blocks_bomb(2000, 1024, 2));
    ok &= write(dir, "most_blocks_allowed.png", h::many_blocks_bomb(17000, 4096, 16));
    const std::string attack = h::terminal_attack();
    ok &= write(dir, "terminal_attack.ZF", h::zefa(24, {{0, 0, 4, 4, 0xFF0000}}, attack.substr(0, 30), attack + "\r\n" + attack));
    return ok ? 0 : 1;
}
