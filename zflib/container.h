// container.h - library-internal pieces shared by the container core, the
// codec table and the uncompressed codec.
#ifndef ZFLIB_CONTAINER_H
#define ZFLIB_CONTAINER_H

#include "zefa.h"

namespace zf {

// Creation parameters: set by zf_set_info / zf_set_palette, read by
// zf_create / zf_open_append and by the uncompressed codec (packed lines).
struct CreationParams {
    char saver[31];
    int depth;
    int max_width;
    int max_height;
    int ratio_x;
    int ratio_y;
    int packed;
    int n_pal;
    int n_bits;
    unsigned char palette[3 * ZF_PALETTE_MAX];
};
extern CreationParams creation;

// The codec row whose tag matches the four bytes at `tag`, or null.
const zf_codec *find_codec(const unsigned char *tag);

} // namespace zf

#endif
