// Any bytes as a ZEFA file through zfdec -I: the header and comment shown
// in full.
#include "support.h"

#include "zefa.h"
#include "zf_console.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    zfuzz::quiet_console();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    zf_file *f = zf_open_memory(data, size);
    if (!f) {
        console_print_error(nullptr);
        return 0;
    }
    zf_load_info(f);
    console_show_header(f, 3);
    zf_close(f);
    return 0;
}
