// The codec table: block tags and the set-ups that install their line
// functions.  Searched in order; the first row whose tag matches is used.
#include "codec.h"

namespace {

const zf::Codec codec_table[] = {
    {{'Z', 'F', 'B', 'I'}, zf::zfbi_read_setup, zf::zfbi_write_setup},
    {{'Z', 'F', 'B', 'M'}, zf::zfbi_read_setup, zf::zfbi_write_setup},
    {{'Z', 'F', 'S', 'F'}, zf::zfsf_read_setup, zf::zfsf_write_setup},
    {{'Z', 'F', 'S', 'S'}, zf::zfss_read_setup, zf::zfss_write_setup},
};

} // namespace

const zf::Codec *zf::find_codec(const unsigned char *tag)
{
    for (const Codec &row : codec_table)
        if (std::memcmp(row.tag, tag, 4) == 0)
            return &row;
    return nullptr;
}
