// Layouts of the raw image files.
#include "raw_formats.h"

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <utility>

void djp_encode_header(unsigned char out[DJP_HEADER_SIZE], int width, int height, int type)
{
    std::memcpy(out, DJP_MAGIC, DJP_MAGIC_SIZE);
    for (auto [at, v] : {std::pair{6, width}, std::pair{8, height}, std::pair{10, type}}) {
        out[at] = static_cast<unsigned char>(v);
        out[at + 1] = static_cast<unsigned char>(v >> 8);
    }
}

bool djp_decode_header(const unsigned char in[DJP_HEADER_SIZE], djp_header *h)
{
    if (std::memcmp(in, DJP_MAGIC, DJP_MAGIC_SIZE) != 0)
        return false;
    h->width = in[6] | in[7] << 8;
    h->height = in[8] | in[9] << 8;
    h->type = in[10] | in[11] << 8;
    return true;
}

long djp_data_offset(int type) { return type == DJP_TYPE_PALETTE ? DJP_HEADER_SIZE + DJP_PALETTE_SIZE : DJP_HEADER_SIZE; }

int djp_pixel_bytes(int type) { return type == DJP_TYPE_RGB ? 3 : 1; }

void djp_grey_ramp(unsigned char palette[DJP_PALETTE_SIZE])
{
    for (int i = 0; i < 256; ++i)
        palette[3 * i] = palette[3 * i + 1] = palette[3 * i + 2] = static_cast<unsigned char>(i);
}

void glm_encode_header(unsigned char out[GLM_HEADER_SIZE], const char *magic, int width, int height)
{
    std::memset(out, 0, GLM_HEADER_SIZE);
    std::memcpy(out, magic, 4);
    out[12] = static_cast<unsigned char>(width >> 8);
    out[13] = static_cast<unsigned char>(width);
    out[14] = static_cast<unsigned char>(height >> 8);
    out[15] = static_cast<unsigned char>(height);
}

bool glm_decode_header(const unsigned char in[GLM_HEADER_SIZE], int *width, int *height)
{
    if (std::memcmp(in, GLM_MAGIC, GLM_MAGIC_COMPARE) != 0)
        return false;
    *width = in[12] << 8 | in[13];
    *height = in[14] << 8 | in[15];
    return true;
}

std::size_t raw_row_bytes(long width, int pixel_bytes)
{
    if (width <= 0 || pixel_bytes <= 0)
        return 0;
    const auto w = static_cast<std::size_t>(width);
    if (w > SIZE_MAX / static_cast<std::size_t>(pixel_bytes))
        return 0;
    return w * static_cast<std::size_t>(pixel_bytes);
}
