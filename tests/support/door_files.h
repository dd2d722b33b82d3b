// door_files.h - ZEFA files for the tests of the doors that show pictures
// (the GTK loader, the Qt plugin): each is compared with zfconv's PNG of
// it read through the same door.  Made by the library's zf_encode_memory;
// no test framework here.
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

// What the door files' texts show (UTF-8).
extern const char *const kDoorTitle;   // of "8-fast"
extern const char *const kDoorComment; // of "8-fast"

// 5000 blocks of 2000 x 2000 over a 2000 x 2000 canvas in 165 KB: a file
// every door must refuse before decoding.
std::vector<uint8_t> work_bomb();

} // namespace zt

#endif
