// The header's and the current block's fields, decoded for callers.
#include "codec.h"

#include <cstring>

int zf_depth = 0, zf_ratio_x = 0, zf_ratio_y = 0, zf_max_width = 0, zf_max_height = 0;

namespace {

using zf::get_s16;
int s16(const unsigned char *p) { return get_s16(p); }

void take_text(char *out, const unsigned char *field, int width)
{
    std::memcpy(out, field, static_cast<size_t>(width));
    out[width] = '\0';
}

} // namespace

void zf::header_info(const unsigned char *h, int n_pal, zf_info *info)
{
    info->depth = s16(h + ZF_H_DEPTH);
    info->ratio_x = s16(h + ZF_H_RATIO_X);
    info->ratio_y = s16(h + ZF_H_RATIO_Y);
    info->max_width = s16(h + ZF_H_MAX_WIDTH);
    info->max_height = s16(h + ZF_H_MAX_HEIGHT);
    info->number = s16(h + ZF_H_NUMBER);
    info->time = zf::get_u32(h + ZF_H_TIME);
    info->n_pal = n_pal;
    take_text(info->artist, h + ZF_H_ARTIST, 18);
    take_text(info->subtitle, h + ZF_H_SUBTITLE, 8);
    take_text(info->title, h + ZF_H_TITLE, 30);
    take_text(info->saver, h + ZF_H_SAVER, 30);
}

extern "C" {

int zf_get_info(const zf_file *f, zf_info *info)
{
    if (!f || !info) {
        zf_errno = ZF_ERR_MISUSE;
        return -1;
    }
    zf::header_info(f->header, f->n_pal, info);
    return 0;
}

int zf_get_block(const zf_file *f, zf_block *block)
{
    if (!f) {
        zf_errno = ZF_ERR_MISUSE;
        return -1;
    }
    return zf_read_block_header(f->block, ZF_BLOCK_HEADER_SIZE, block, nullptr);
}

void zf_load_info(zf_file *f)
{
    zf_info info{};
    if (zf_get_info(f, &info) != 0)
        return;
    zf_depth = info.depth;
    zf_ratio_x = info.ratio_x;
    zf_ratio_y = info.ratio_y;
    zf_max_width = info.max_width;
    zf_max_height = info.max_height;
}

} // extern "C"

extern "C" {

const unsigned char *zf_get_palette(const zf_file *f) { return f ? f->palette : nullptr; }

int zf_get_palette_bits(const zf_file *f) { return f && f->n_pal > 0 ? f->n_bits : 0; }

const char *zf_get_comment(const zf_file *f) { return f && f->comment ? f->comment : ""; }

const unsigned char *zf_get_header(const zf_file *f) { return f ? f->header : nullptr; }

const unsigned char *zf_get_block_header(const zf_file *f) { return f ? f->block : nullptr; }

} // extern "C"
