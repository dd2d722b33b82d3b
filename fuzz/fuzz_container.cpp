// Any bytes as a ZEFA file: open, walk and read every line of every block
// through whatever coding its tag names; the same bytes as stored parts:
// their layout, a block header, and the comment replaced.
#include "support.h"

#include "zefa.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    zfuzz::read_all_blocks(data, size);
    zf_layout layout;
    zf_block block;
    long long length = 0;
    zf_get_layout(data, size, &layout);
    zf_read_block_header(data, size, &block, &length);
    void *out = nullptr;
    size_t out_size = 0;
    if (zf_replace_comment(data, size, "a\nb", &out, &out_size) == 0)
        zfuzz::read_all_blocks(static_cast<const uint8_t *>(out), out_size);
    zf_free(out);
    return 0;
}
