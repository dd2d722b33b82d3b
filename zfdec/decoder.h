// decoder.h - the decoder's run settings, its shared state and the
// per-line converters and writers.
#ifndef ZFDEC_DECODER_H
#define ZFDEC_DECODER_H

#include "names.h"
#include "zefa.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

enum class RunMode { Decode, Header, Query };

struct dec_settings_t {
    char input_name[NAME_SIZE];
    char output_name[NAME_SIZE];
    RunMode run_mode = RunMode::Decode;
    bool djp_output = false;
    bool djp_colour = true;
    bool djp_force_24 = false;
    bool companion_fal = true;
    bool ratio_packed = true;
    int limit_width = 0, limit_height = 0;
    // When set, every block, and after it its companion's text, is written
    // to this stream instead of files of their own: nothing is created or
    // removed (in-process runs, such as the fuzz targets).
    FILE *sink = nullptr;
};
extern dec_settings_t dec_settings;

// Ends the run with a status (main.cpp: exit).
[[noreturn]] void end_run(int status);
// help.cpp: --help and --version anywhere on the line print and exit 0.
void handle_long_options(int argc, char **argv);

// options.cpp: one option argument (it begins with '-' or '/') into
// dec_settings; a bad one is reported and ends the run with status 1.
void parse_option(const char *arg);

struct accumulator {
    int32_t r, g, b, count;
};

// State shared by the driver and the writers.
struct dec_state_t {
    unsigned char palette[768];
    int target_width = 0, target_height = 0;
    double ratio = 1.0;
    int out_width = 0, out_height = 0;
    bool scaling = false;
    std::vector<int> col_map, row_map;
    std::vector<unsigned char> rgb_row, out_row;
    std::vector<accumulator> accumulators;
    int block_x = 0;   // the block's x offset: the base for col_map
    int image_width = 0;  // entries of col_map in use
    int image_height = 0; // entries of row_map in use (+ 1)
    FILE *out = nullptr;
    // the output stream's buffer, made on first use and left uninitialised:
    // zeroing a megabyte would cost every run before it writes a byte
    std::unique_ptr<char[]> io_buffer;
    int rows_emitted = 0;
};
extern dec_state_t dec;

using row_converter = void (*)(const uint32_t *line, int width);
using row_writer = int (*)(int t, int width);

void build_colour_tables();
void row_from_palette(const uint32_t *line, int width);
void row_from_index(const uint32_t *line, int width);
void row_from_15bit(const uint32_t *line, int width);
void row_from_24bit(const uint32_t *line, int width);
void accumulate_palette(const uint32_t *line, int width);
void accumulate_15bit(const uint32_t *line, int width);
void accumulate_24bit(const uint32_t *line, int width);
int write_rgb_row(int t, int width);
int write_grey_row(int t, int width);
int write_index_row(int t, int width);
int emit_scaled_rgb_row(int t, int width);
int emit_scaled_grey_row(int t, int width);
void write_djp_header(FILE *f, int width, int height, int type);
int write_djp_palette(FILE *f);
// Writes black rows until the DJP file holds every row its header names.
int pad_scaled_rows(int bytes_per_pixel);

int scale_setup(int width, int height);
// Decodes the named file; the run's exit status: 0, or 1 when an error
// was reported on the way.
int decode_file(const char *input_name, const char *output_name);
// The same for a record the caller opened (from memory, say); closes it.
int decode_record(zf_file *f, const char *output_name);

#endif
