// The codec table: block tags and the set-ups that install their line
// functions.  Searched in order; the first row whose tag matches is used.
#include "codec.h"
#include "container.h"

extern "C" const zf_codec zf_codec_table[ZF_CODEC_COUNT] = {
    {{'Z', 'F', 'B', 'I'}, zfbi_read_setup, zfbi_write_setup},
    {{'Z', 'F', 'B', 'M'}, zfbi_read_setup, zfbi_write_setup},
    {{'Z', 'F', 'S', 'F'}, zfsf_read_setup, zfsf_write_setup},
    {{'Z', 'F', 'S', 'S'}, zfss_read_setup, zfss_write_setup},
};

const zf_codec *zf::find_codec(const unsigned char *tag)
{
    for (const zf_codec &row : zf_codec_table)
        if (std::memcmp(row.tag, tag, 4) == 0)
            return &row;
    return nullptr;
}
