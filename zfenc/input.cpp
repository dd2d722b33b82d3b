// Detection of the input kind and its geometry, and the row sources.
#include "input.h"

#include "byte_order.h"
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

const char *foreign_format(const char *name, bool *zfconv_reads)
{
    unsigned char h[32] = {};
    FILE *f = std::fopen(name, "rb");
    if (!f)
        return nullptr;
    const std::size_t n = std::fread(h, 1, sizeof h, f);
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    std::fclose(f);
    const auto is = [&](std::size_t at, const char *magic, std::size_t len) {
        return n >= at + len && std::memcmp(h + at, magic, len) == 0;
    };
    *zfconv_reads = true;
    if (is(0, "\x89PNG\r\n\x1a\n", 8))
        return "PNG";
    if (is(0, "GIF87a", 6) || is(0, "GIF89a", 6))
        return "GIF";
    // a marker after the start of image: APPn, a table, a frame or a comment
    if (is(0, "\xFF\xD8\xFF", 3) && n > 3 && ((h[3] >= 0xE0 && h[3] <= 0xEF) || h[3] == 0xDB || h[3] == 0xC4 ||
                                                  h[3] == 0xC0 || h[3] == 0xC2 || h[3] == 0xFE))
        return "JPEG";
    // the first directory's offset must lie inside the file
    if ((is(0, "II*\0", 4) && n >= 8 && zfbytes::get_le32(h + 4) >= 8 && zfbytes::get_le32(h + 4) < static_cast<uint32_t>(size)) ||
        (is(0, "MM\0*", 4) && n >= 8 && zfbytes::get_u32(h + 4) >= 8 && zfbytes::get_u32(h + 4) < static_cast<uint32_t>(size)))
        return "TIFF";
    // the size it states is its own, and its header one of the known ones
    if (is(0, "BM", 2) && n >= 16 && zfbytes::get_le32(h + 2) == static_cast<uint32_t>(size)) {
        const uint32_t header = zfbytes::get_le32(h + 14);
        if (header == 12 || header == 40 || header == 52 || header == 56 || header == 64 || header == 108 || header == 124)
            return "BMP";
    }
    *zfconv_reads = false;
    if (is(0, "RIFF", 4) && is(8, "WEBP", 4))
        return "WebP";
    if (is(0, "\0\0\0\x0CJXL \r\n\x87\n", 12))
        return "JPEG XL";
    if (is(4, "ftypavif", 8) || is(4, "ftypavis", 8))
        return "AVIF";
    if (is(4, "ftypheic", 8) || is(4, "ftypheix", 8) || is(4, "ftypmif1", 8) || is(4, "ftypmsf1", 8))
        return "HEIF";
    if (is(0, "\0\0\0\x0CjP  \r\n\x87\n", 12))
        return "JPEG 2000";
    if (is(0, "%PDF-", 5))
        return "PDF";
    if (is(0, "%!PS-Adobe", 10))
        return "PostScript";
    if (is(0, "8BPS\0\x01", 6))
        return "Photoshop";
    if (is(0, "qoif", 4) && n >= 14 && (h[12] == 3 || h[12] == 4) && h[13] <= 1)
        return "QOI";
    if (is(0, "v/1\x01", 4))
        return "OpenEXR";
    if (is(0, "PK\x03\x04", 4))
        return "ZIP";
    return nullptr;
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
