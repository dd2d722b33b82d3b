// output_file.h - an output written under a temporary name in the same
// folder and renamed into place by commit(); removed if never committed.
// A device or pipe is written in place instead.  A signal that ends the
// program removes the temporary, whichever thread writes it.
#ifndef ZEFA_ZFCONV_OUTPUT_FILE_H
#define ZEFA_ZFCONV_OUTPUT_FILE_H

#include "removal_guard.h"

#include <cstdio>
#include <string>

namespace zfconv {

class OutputFile {
public:
    explicit OutputFile(std::string path);
    ~OutputFile();
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    // The open stream, or null with `error` set when it cannot be created.
    FILE *open(std::string &error);
    // Closes and renames into place; false with `error` set on failure.
    bool commit(std::string &error);

private:
    std::string path_, temp_;
    removal_guard guard_; // the temporary, until it is renamed into place
    FILE *file_ = nullptr;
    bool committed_ = false;
    bool in_place_ = false;
};

} // namespace zfconv

#endif
