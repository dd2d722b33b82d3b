// Placeholder for the ZFSF coding until it is written: blocks of this tag
// are refused as an unknown format.
#include "codec.h"

extern "C" int zfsf_read_setup(zf_file *f)
{
    zf::set_error(f, ZF_ERR_FORMAT);
    return -1;
}

extern "C" int zfsf_write_setup(zf_file *f, uint32_t **)
{
    zf::set_error(f, ZF_ERR_FORMAT);
    return -1;
}
