// files.h - the files a conversion reads and writes, standard input and
// output included, and which names are one file.
#ifndef ZEFA_ZFCONV_FILES_H
#define ZEFA_ZFCONV_FILES_H

#include "image.h"

#include <map>
#include <string>
#include <sys/types.h>
#include <utility>

namespace zfconv {

// The name of an input or output in messages ("standard input" for "-").
std::string shown_input(const std::string &name);
std::string shown_output(const std::string &name);

// A whole input in memory ("-": standard input).  False with the cause.
bool read_input(const std::string &name, Bytes &out, std::string &error);

// The first `n` bytes of an input (fewer when it is shorter).
bool read_start(const std::string &name, std::size_t n, Bytes &out, std::string &error);

// Writes an output whole: under a temporary name renamed into place, in
// place for a device or pipe, or to standard output ("-").  False with a
// message that names the output.
bool write_output(const std::string &name, const Bytes &data, std::string &error);

// Files by device and inode, so that an output can be found among the
// inputs however either is spelled.
class FileSet {
public:
    // Remembers the file `name` is (when it exists) under `index`.
    void add(const std::string &name, int index);
    // The index of the file `name` is, or -1.
    int find(const std::string &name) const;

private:
    std::map<std::pair<dev_t, ino_t>, int> files_;
};

} // namespace zfconv

#endif
