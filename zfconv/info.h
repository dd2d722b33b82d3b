// info.h - what a ZEFA file holds, for people (--info) and as JSON
// (--json): header fields, and each block with whether it decodes.
#ifndef ZEFA_ZFCONV_INFO_H
#define ZEFA_ZFCONV_INFO_H

#include <cstdint>
#include <string>
#include <vector>

namespace zfconv {

// Prints every file on standard output, damage told on standard error
// too.  The exit status: 0 when every file read and decoded whole, else 1.
int print_info(const std::vector<std::string> &files, bool json);

// The --json document for one file's bytes (one line, no line end).
std::string info_json(const std::string &name, const std::vector<uint8_t> &data);

} // namespace zfconv

#endif
