// Any bytes as a ZEFA file: open, walk and read every line of every block
// through whatever coding its tag names.
#include "support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    zfuzz::read_all_blocks(data, size);
    return 0;
}
