// Detection of the input kind and its geometry, and the row sources.
#include "input.h"

#include "companion.h"
#include "names.h"
#include "raw_formats.h"

#include <cstring>

reader_state reader;

int read_djp_header(const char *name, input_geometry *g)
{
    FILE *f = open_companion(name, EXT_DJP, "rb");
    if (!f)
        return -1;
    unsigned char head[DJP_HEADER_SIZE];
    djp_header h{};
    if (std::fread(head, 1, sizeof head, f) < sizeof head || !djp_decode_header(head, &h)) {
        std::fclose(f);
        return -1;
    }
    if (h.type == DJP_TYPE_PALETTE) {
        unsigned char pal[DJP_PALETTE_SIZE];
        if (std::fread(pal, 1, sizeof pal, f) < sizeof pal) {
            std::fclose(f);
            return -1;
        }
        std::memcpy(reader.palette, pal, sizeof pal);
    } else if (h.type != DJP_TYPE_RGB) {
        djp_grey_ramp(reader.palette);
    }
    std::fclose(f);
    reader.djp_type = h.type;
    *g = {h.width, h.height, 0, 0};
    return 0;
}

int read_glm_header(const char *name, input_geometry *g)
{
    FILE *f = open_companion(name, EXT_GLM, "rb");
    if (!f)
        return -1;
    unsigned char head[GLM_HEADER_SIZE];
    int w = 0, h = 0;
    const bool ok = std::fread(head, 1, sizeof head, f) == sizeof head && glm_decode_header(head, &w, &h);
    std::fclose(f);
    if (!ok)
        return -1;
    // A partner GMM file that exists but is not of this family rejects it.
    if (FILE *m = open_companion(name, EXT_GMM, "rb")) {
        unsigned char mh[GLM_HEADER_SIZE];
        const bool full = std::fread(mh, 1, sizeof mh, m) == sizeof mh;
        std::fclose(m);
        int mw, mhh;
        if (full && !glm_decode_header(mh, &mw, &mhh))
            return -1;
    }
    *g = {w, h, 0, 0};
    return 0;
}

input_kind detect_input(const char *name, input_geometry *g)
{
    if (read_fal(name, &g->width, &g->height, &g->x, &g->y) == 0)
        return INPUT_FAL;
    if (read_ipr(name, &g->width, &g->height, &g->x, &g->y) == 0)
        return INPUT_IPR;
    if (read_djp_header(name, g) == 0)
        return INPUT_DJP;
    if (read_glm_header(name, g) == 0)
        return INPUT_GLM;
    *g = {640, 400, 0, 0};
    return INPUT_PLAIN_RAW;
}

void build_tables_15()
{
    for (uint32_t v = 0; v < 256; ++v) {
        reader.r_tab[v] = (v >> 3) << 6;
        reader.g_tab[v] = (v >> 3) << 11;
        reader.b_tab[v] = (v >> 3) << 1;
    }
}

void build_tables_24()
{
    for (uint32_t v = 0; v < 256; ++v) {
        reader.r_tab[v] = v << 16;
        reader.g_tab[v] = v << 8;
        reader.b_tab[v] = v;
    }
}

void row_index(const unsigned char *row, uint32_t *line, int width)
{
    for (int i = 0; i < width; ++i)
        line[i] = row[i];
}

void row_palette(const unsigned char *row, uint32_t *line, int width)
{
    const reader_state &r = reader;
    for (int i = 0; i < width; ++i) {
        const unsigned char *p = r.palette + 3 * row[i];
        line[i] = r.r_tab[p[0]] | r.g_tab[p[1]] | r.b_tab[p[2]];
    }
}

void row_rgb(const unsigned char *row, uint32_t *line, int width)
{
    const reader_state &r = reader;
    for (int i = 0; i < width; ++i, row += 3)
        line[i] = r.r_tab[row[0]] | r.g_tab[row[1]] | r.b_tab[row[2]];
}

void row_glm(const unsigned char *row, uint32_t *line, int width)
{
    for (int i = 0; i < width; ++i)
        line[i] = glm_word_to_pixel(row + 2 * i);
}

void row_glm_24(const unsigned char *row, uint32_t *line, int width)
{
    for (int i = 0; i < width; ++i) {
        const uint32_t v = glm_word_to_pixel(row + 2 * i);
        const uint32_t g = (v >> 11) & 31, r = (v >> 6) & 31, b = (v >> 1) & 31;
        line[i] = (r << 3) << 16 | (g << 3) << 8 | (b << 3);
    }
}
