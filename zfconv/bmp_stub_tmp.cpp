#include "readers.h"
namespace zfconv {
bool read_bmp(const uint8_t *, std::size_t, Image &, std::string &error) { error = "BMP not yet"; return false; }
}
