// door_files.h - ZEFA files for the tests of the doors that show pictures
// (the GTK loader, the Qt plugin): read whole, in pieces, from pipes, at
// smaller sizes.  Made by the library's zf_encode_memory; no test
// framework here.
#ifndef ZEFA_TESTS_DOOR_FILES_H
#define ZEFA_TESTS_DOOR_FILES_H

#include <cstdint>
#include <string>
#include <vector>

namespace zt {

struct DoorFile {
    std::string name; // depth and coding, or what is special about it
    std::vector<uint8_t> bytes;
    int depth;
};

// Every depth, both compressed codings and none, pixels twice as wide as
// tall, a file cut inside its lines, header texts of kanji, half-width
// katakana and a byte that is no Shift-JIS character, a comment of several
// lines, the time 0.
std::vector<DoorFile> door_files();

} // namespace zt

#endif
