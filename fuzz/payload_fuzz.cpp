// Any bytes as the payload of one block of the coding PAYLOAD_TAG, at a
// depth and size taken from the first five bytes: every line is decoded.
#include "support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    zfuzz::Input in{data, size};
    static const int depths[3] = {8, 15, 24};
    const int depth = depths[in.byte() % 3];
    const int width = static_cast<int>(in.u16() % 2048) + 1;
    const int height = static_cast<int>(in.u16() % 256) + 1;
    const std::vector<uint8_t> file = zfuzz::payload_file(depth, PAYLOAD_TAG, width, height, in.data, in.size);
    zfuzz::read_all_blocks(file.data(), file.size());
    return 0;
}
