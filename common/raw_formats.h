// raw_formats.h - the raw image files the tools exchange with other
// programs, defined once for both tools.
//
//  * raw RGB (".RGB", also ".Q0"): no header; rows of width x (R, G, B)
//    bytes, top row first.  The size travels in a FAL/IPR companion.
//  * DJP (".DJP"): 12-byte header, little-endian u16 fields:
//      0 "DJ505J", 6 width, 8 height, 10 type (0 palette, 8 grey, 24 RGB);
//    type 0 is followed by a 768-byte palette (256 x R, G, B); then rows.
//    Type 24 rows hold 3 bytes per pixel, every other type 1 byte (a type
//    other than 0 and 24 reads through the grey ramp).
//  * GLM (".GLM"): 16-byte header "GR65", 8 unexamined bytes, big-endian
//    u16 width at 12 and height at 14; then rows of little-endian 16-bit
//    words, each a 15-bit pixel value (bit 0 cleared when read).
//  * GMM (".GMM"): the GLM file's partner, the same header with "GR25".
//    Readers compare only the first two magic bytes, "GR".
#ifndef ZEFA_COMMON_RAW_FORMATS_H
#define ZEFA_COMMON_RAW_FORMATS_H

#include <cstddef>
#include <cstdint>

inline constexpr int RGB_PIXEL_BYTES = 3;

inline constexpr const char DJP_MAGIC[] = "DJ505J";
inline constexpr int DJP_MAGIC_SIZE = 6;
inline constexpr int DJP_HEADER_SIZE = 12;
inline constexpr int DJP_PALETTE_SIZE = 768;
inline constexpr int DJP_TYPE_PALETTE = 0;
inline constexpr int DJP_TYPE_GREY = 8;
inline constexpr int DJP_TYPE_RGB = 24;

struct djp_header {
    int width;  // 0..65535
    int height; // 0..65535
    int type;   // 0..65535 as stored
};

// Lays out the 12 header bytes; width, height and type are stored as their
// low 16 bits.
void djp_encode_header(unsigned char out[DJP_HEADER_SIZE], int width, int height, int type);
// Reads the 12 header bytes; false when the magic is not "DJ505J".
bool djp_decode_header(const unsigned char in[DJP_HEADER_SIZE], djp_header *h);
// Where the pixel rows start: 780 for type 0, 12 for every other type.
long djp_data_offset(int type);
// Bytes per pixel in the rows: 3 for type 24, 1 for every other type.
int djp_pixel_bytes(int type);
// The palette a grey DJP file reads through: entry i is (i, i, i).
void djp_grey_ramp(unsigned char palette[DJP_PALETTE_SIZE]);

inline constexpr const char GLM_MAGIC[] = "GR65";
inline constexpr const char GMM_MAGIC[] = "GR25";
inline constexpr int GLM_MAGIC_COMPARE = 2; // only "GR" is compared
inline constexpr int GLM_HEADER_SIZE = 16;
inline constexpr long GLM_DATA_OFFSET = 16;
inline constexpr int GLM_PIXEL_BYTES = 2;

// Lays out a 16-byte GLM or GMM header (magic GLM_MAGIC or GMM_MAGIC,
// unexamined bytes 0, big-endian width and height).
void glm_encode_header(unsigned char out[GLM_HEADER_SIZE], const char *magic, int width, int height);
// Reads a GLM or GMM header; false when it does not start with "GR".
bool glm_decode_header(const unsigned char in[GLM_HEADER_SIZE], int *width, int *height);
// One GLM word (2 bytes, low byte first) as a 15-bit pixel value.
inline uint32_t glm_word_to_pixel(const unsigned char *p)
{
    return (uint32_t{p[0]} | uint32_t{p[1]} << 8) & 0xFFFEu;
}

// Bytes of one row of width pixels of pixel_bytes each, or 0 when width is
// not positive or the count would not fit a size_t.
std::size_t raw_row_bytes(long width, int pixel_bytes);

#endif
