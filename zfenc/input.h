// input.h - what kind of raw image the encoder reads, its geometry, and the
// row sources that turn one input row into one line of pixel values.
#ifndef ZFENC_INPUT_H
#define ZFENC_INPUT_H

#include <cstdint>
#include <cstdio>

enum input_kind { INPUT_PLAIN_RAW = -1, INPUT_FAL = 0, INPUT_IPR = 1, INPUT_DJP = 2, INPUT_GLM = 3 };

struct input_geometry {
    int width, height, x, y;
};

// Reader state filled by detection and used by the row sources.
struct reader_state {
    int djp_type;
    unsigned char palette[768];
    uint32_t r_tab[256], g_tab[256], b_tab[256];
};
extern reader_state reader;

input_kind detect_input(const char *name, input_geometry *g);
int read_djp_header(const char *name, input_geometry *g);
int read_glm_header(const char *name, input_geometry *g);

// The picture or document format a file's first bytes show by a signature
// long enough that raw pixels do not begin so by chance; null for none.
// `zfconv_reads` tells whether zfconv converts that format.
const char *foreign_format(const char *name, bool *zfconv_reads);

void build_tables_15();
void build_tables_24();

// A row source converts one input row (already read into `row`) into
// width pixel values.
using row_source = void (*)(const unsigned char *row, uint32_t *line, int width);
void row_index(const unsigned char *row, uint32_t *line, int width);
void row_palette(const unsigned char *row, uint32_t *line, int width);
void row_rgb(const unsigned char *row, uint32_t *line, int width);
void row_glm(const unsigned char *row, uint32_t *line, int width);
// GLM words at depth 24: each 5-bit component widened to 8 bits.
void row_glm_24(const unsigned char *row, uint32_t *line, int width);

#endif
