// Per-line converters and writers of the decoder: decoded pixel values to
// raw RGB rows, DJP rows (colour, index, grey) and reduced DJP rows.
#include "decoder.h"

#include "raw_formats.h"

#include <algorithm>
#include <cstring>

namespace {

uint16_t expand5[32];
uint16_t lum_r[256], lum_g[256], lum_b[256];

bool write_all(const void *p, std::size_t n) { return std::fwrite(p, 1, n, dec.out) == n; }

// The record of column k, or null when the column lies outside the image
// (a block partly outside the header's size): such columns are dropped.
accumulator *record_for(int k)
{
    const int c = dec.block_x + k;
    if (dec.block_x < 0 || c >= dec.image_width)
        return nullptr;
    const int at = dec.col_map[static_cast<std::size_t>(c)] - dec.col_map[static_cast<std::size_t>(dec.block_x)];
    if (at < 0 || at >= static_cast<int>(dec.accumulators.size()))
        return nullptr;
    return &dec.accumulators[static_cast<std::size_t>(at)];
}

void add(int k, int r, int g, int b)
{
    if (accumulator *a = record_for(k)) {
        a->r += r;
        a->g += g;
        a->b += b;
        ++a->count;
    }
}

// Averages of output column c (a gap takes its left neighbour's colour).
void average(int c, int *r, int *g, int *b)
{
    const accumulator *a = &dec.accumulators[static_cast<std::size_t>(c)];
    if (a->count == 0 && c > 0 && c < dec.out_width - 1 && dec.accumulators[static_cast<std::size_t>(c - 1)].count > 0)
        a = &dec.accumulators[static_cast<std::size_t>(c - 1)];
    if (a->count > 0) {
        *r = std::min(a->r / a->count, 255);
        *g = std::min(a->g / a->count, 255);
        *b = std::min(a->b / a->count, 255);
    } else {
        *r = *g = *b = 0;
    }
}

void clear_accumulators() { std::fill(dec.accumulators.begin(), dec.accumulators.end(), accumulator{0, 0, 0, 0}); }

int emit_scaled(int t, bool grey)
{
    // A block taller than the header announces (a damaged file): its lines
    // past the image have no row to go to and are dropped.
    if (t < 0 || t >= dec.image_height) {
        clear_accumulators();
        return 0;
    }
    if (dec.row_map[static_cast<std::size_t>(t)] == dec.row_map[static_cast<std::size_t>(t) + 1])
        return 0;
    // Rows past the header's height are not written: the file holds
    // exactly the rows it announces.
    const bool inside = dec.rows_emitted < dec.out_height;
    const int columns = std::min(dec.out_width, static_cast<int>(dec.accumulators.size()));
    for (int c = 0; c < columns && inside; ++c) {
        int r, g, b;
        average(c, &r, &g, &b);
        if (grey)
            dec.out_row[static_cast<std::size_t>(c)] = static_cast<unsigned char>(lum_b[b] + lum_r[r] + lum_g[g]);
        else {
            dec.out_row[3 * static_cast<std::size_t>(c)] = static_cast<unsigned char>(r);
            dec.out_row[3 * static_cast<std::size_t>(c) + 1] = static_cast<unsigned char>(g);
            dec.out_row[3 * static_cast<std::size_t>(c) + 2] = static_cast<unsigned char>(b);
        }
    }
    clear_accumulators();
    if (!inside)
        return 0;
    ++dec.rows_emitted;
    const std::size_t n = static_cast<std::size_t>(dec.out_width) * (grey ? 1 : 3);
    return write_all(dec.out_row.data(), n) ? 0 : 1;
}

} // namespace

void build_colour_tables()
{
    for (int i = 0; i < 32; ++i)
        expand5[i] = static_cast<uint16_t>(i * 8);
    for (int i = 0; i < 256; ++i) {
        lum_r[i] = static_cast<uint16_t>(i * 0.299 + 0.5);
        lum_g[i] = static_cast<uint16_t>(i * 0.587 + 0.5);
        lum_b[i] = static_cast<uint16_t>(i * 0.114 + 0.5);
    }
}

void row_from_palette(const uint32_t *line, int width)
{
    unsigned char *out = dec.rgb_row.data();
    for (int k = 0; k < width; ++k, out += 3)
        std::memcpy(out, dec.palette + 3 * (line[k] & 0xFF), 3);
}

void row_from_index(const uint32_t *line, int width)
{
    unsigned char *out = dec.rgb_row.data();
    for (int k = 0; k < width; ++k, out += 3)
        out[0] = out[1] = out[2] = static_cast<unsigned char>(line[k]);
}

void row_from_15bit(const uint32_t *line, int width)
{
    unsigned char *out = dec.rgb_row.data();
    for (int k = 0; k < width; ++k, out += 3) {
        const uint32_t v = line[k];
        out[0] = static_cast<unsigned char>(expand5[(v >> 6) & 31]);
        out[1] = static_cast<unsigned char>(expand5[(v >> 11) & 31]);
        out[2] = static_cast<unsigned char>(expand5[(v >> 1) & 31]);
    }
}

void row_from_24bit(const uint32_t *line, int width)
{
    // four bytes per store, the fourth overwritten by the next pixel (the
    // row has one byte to spare for the last)
    unsigned char *out = dec.rgb_row.data();
    for (int k = 0; k < width; ++k, out += 3) {
        const uint32_t v = __builtin_bswap32(line[k] << 8);
        std::memcpy(out, &v, 4);
    }
}

void accumulate_palette(const uint32_t *line, int width)
{
    for (int k = 0; k < width; ++k) {
        const unsigned char *p = dec.palette + 3 * (line[k] & 0xFF);
        add(k, p[0], p[1], p[2]);
    }
}

void accumulate_15bit(const uint32_t *line, int width)
{
    for (int k = 0; k < width; ++k) {
        const uint32_t v = line[k];
        add(k, expand5[(v >> 6) & 31], expand5[(v >> 11) & 31], expand5[(v >> 1) & 31]);
    }
}

void accumulate_24bit(const uint32_t *line, int width)
{
    for (int k = 0; k < width; ++k) {
        const uint32_t v = line[k];
        add(k, (v >> 16) & 255, (v >> 8) & 255, v & 255);
    }
}

int write_rgb_row(int, int width) { return write_all(dec.rgb_row.data(), 3 * static_cast<std::size_t>(width)) ? 0 : -1; }

int write_grey_row(int, int width)
{
    const unsigned char *p = dec.rgb_row.data();
    for (int k = 0; k < width; ++k, p += 3)
        dec.out_row[static_cast<std::size_t>(k)] = static_cast<unsigned char>(lum_b[p[2]] + lum_g[p[1]] + lum_r[p[0]]);
    return write_all(dec.out_row.data(), static_cast<std::size_t>(width)) ? 0 : -1;
}

int write_index_row(int, int width)
{
    for (int k = 0; k < width; ++k)
        dec.out_row[static_cast<std::size_t>(k)] = dec.rgb_row[3 * static_cast<std::size_t>(k)];
    return write_all(dec.out_row.data(), static_cast<std::size_t>(width)) ? 0 : -1;
}

int emit_scaled_rgb_row(int t, int) { return emit_scaled(t, false); }
int emit_scaled_grey_row(int t, int) { return emit_scaled(t, true); }

int pad_scaled_rows(int bytes_per_pixel)
{
    std::vector<unsigned char> black(static_cast<std::size_t>(dec.out_width) * static_cast<std::size_t>(bytes_per_pixel), 0);
    for (; dec.rows_emitted < dec.out_height; ++dec.rows_emitted)
        if (!write_all(black.data(), black.size()))
            return 1;
    return 0;
}

void write_djp_header(FILE *f, int width, int height, int type)
{
    unsigned char head[DJP_HEADER_SIZE];
    djp_encode_header(head, width, height, type);
    std::fwrite(head, 1, sizeof head, f);
}

int write_djp_palette(FILE *f) { return std::fwrite(dec.palette, 1, 768, f) == 768 ? 0 : -1; }
