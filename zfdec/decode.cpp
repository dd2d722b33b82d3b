// The decode driver: every block of a file into its own output file (or
// the first block into a DJP file reduced to a bounded size).
#include "companion.h"
#include "decoder.h"
#include "failure.h"
#include "names.h"
#include "progress.h"
#include "removal_guard.h"
#include "zefa.h"
#include "zf_console.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

dec_state_t dec;

namespace {

constexpr int kEsc = 27;
constexpr int kMaxSize = 60000;

int round_half(double x) { return static_cast<int>(x + 0.5); }

// Block 0 goes to the output name; block i to ZFDEC<i>.<ext> beside it.
std::string block_output_name(const char *output, int i)
{
    if (i == 0)
        return output;
    const std::string out = output;
    std::size_t dir_end = 0;
    for (std::size_t k = 1; k < out.size(); ++k)
        if (out[k] == '\\' || out[k] == ':' || out[k] == '/')
            dir_end = k + 1;
    const auto dot = out.rfind('.');
    const std::string ext = dot == std::string::npos || dot < dir_end ? std::string() : out.substr(dot + 1);
    char name[32];
    std::snprintf(name, sizeof name, "ZFDEC%03d.", i);
    return out.substr(0, dir_end) + name + ext;
}

// The block's output while it is written: removed when the block stops or
// a signal ends the program.
removal_guard block_output;

// Ends a block that cannot be finished: the partial output is removed (a
// plain file only, never a device or pipe it was written to), the input
// closed and the reason told.  The run's status: 1.
int stop_block(zf_file *f, bool esc, const std::string &name)
{
    if (!esc && errno != 0)
        zf_errno = errno; // the write's own cause (a full disk, say), for the words below
    if (dec.out && !dec_settings.sink)
        std::fclose(dec.out);
    dec.out = nullptr;
    block_output.remove_now();
    std::fputc('\n', stderr);
    zf_close(f);
    if (esc) {
        console_printf(stderr, "\rﾃﾞｺｰﾄﾞを中止します\n出力ﾌｧｲﾙを削除しました\n");
    } else {
        std::fputc('\r', stderr);
        console_print_error("出力ﾌｧｲﾙが作成できません");
        tell_failure_cause(nullptr);
        // the fixed words say "cannot be created": the file was, and a
        // write to it failed
        console_printf(stderr, "出力ﾌｧｲﾙ %s への書き込みが途中で失敗しました\n", name.c_str());
    }
    return 1;
}

// Opens the output of one block; false after telling why.
bool open_output(const std::string &name)
{
    if (dec_settings.sink) {
        dec.out = dec_settings.sink;
        return true;
    }
    dec.out = std::fopen(name.c_str(), "wb");
    if (!dec.out)
        return false;
    constexpr std::size_t io_size = 1 << 20; // rows leave in large pieces
    if (!dec.io_buffer)
        dec.io_buffer.reset(new char[io_size]);
    std::setvbuf(dec.out, dec.io_buffer.get(), _IOFBF, io_size);
    struct stat st {};
    if (fstat(fileno(dec.out), &st) == 0 && S_ISREG(st.st_mode) && !block_output.guard(name.c_str())) {
        zf_errno = errno;
        std::fclose(dec.out); // a file no signal could remove is not written
        dec.out = nullptr;
        ::unlink(name.c_str());
        return false;
    }
    return true;
}

// Finishes one block's output; false when its rows did not all reach it.
bool close_output()
{
    // Buffered rows meet a full disk only when the file is flushed.
    bool ok = std::fflush(dec.out) == 0 && !std::ferror(dec.out);
    if (!dec_settings.sink)
        ok = std::fclose(dec.out) == 0 && ok;
    dec.out = nullptr;
    return ok;
}

// The state one run leaves behind must not steer the next (in-process runs).
void reset_state()
{
    dec.scaling = false;
    dec.out_width = dec.out_height = 0;
    dec.image_width = dec.image_height = 0;
    dec.block_x = 0;
    dec.rows_emitted = 0;
}

// DJP output: the reduced size and the maps.  0 to go on, else the status.
int djp_setup(zf_file *f)
{
    if (zf_max_width <= 0 || zf_max_height <= 0 || zf_ratio_x <= 0 || zf_ratio_y <= 0) {
        zf_close(f);
        console_printf(stderr, "画像の大きさまたは比率が不正なため DJP ﾌｧｲﾙにできません (%d x %d, %d:%d)\n",
                   zf_max_width, zf_max_height, zf_ratio_x, zf_ratio_y);
        return 1;
    }
    dec.ratio = static_cast<double>(zf_ratio_x) / zf_ratio_y;
    const auto bound = [](int limit, int max) { return limit != 0 && limit <= max ? limit : max; };
    dec.target_width = bound(dec_settings.limit_width, zf_max_width);
    dec.target_height = bound(dec_settings.limit_height, zf_max_height);
    if (scale_setup(zf_max_width, zf_max_height) != 0) {
        zf_close(f);
        console_printf(stderr, "最大想定ｻｲｽﾞ(= %d Pixel)を超えた画像は処理できません\n", kMaxSize);
        return 1;
    }
    return 0;
}

// Decodes the current block (number i) into its output.  0 to go on with
// the next block, else the run's status (the record is closed then).
int decode_block(zf_file *f, int i, const char *output_name, row_converter convert, int djp_type)
{
    const bool djp = dec_settings.djp_output;
    if (zf_begin_read(f) != 0) {
        console_print_error(nullptr);
        tell_failure_cause(dec_settings.input_name);
        zf_close(f);
        return 1;
    }
    zf_block b{};
    zf_get_block(f, &b);
    const int width = b.width, height = b.height, x = b.x, y = b.y;
    dec.block_x = x;
    if (!dec.scaling) {
        dec.out_width = width;
        dec.out_height = height;
    }
    dec.rgb_row.assign(3 * static_cast<std::size_t>(std::max(width, dec.out_width)) + 1, 0); // + 1: see row_from_24bit
    if (djp)
        dec.accumulators.assign(static_cast<std::size_t>(dec.target_width) + 1, accumulator{0, 0, 0, 0});
    const std::string name = block_output_name(output_name, i);
    if (!open_output(name)) {
        zf_close(f);
        console_print_error("出力ﾌｧｲﾙが作成できません");
        tell_failure_cause(name.c_str());
        return 1;
    }
    row_converter conv = convert;
    row_writer writer = write_rgb_row;
    int type = 0;
    if (djp) {
        type = dec_settings.djp_colour ? djp_type : 8;
        if (dec_settings.djp_force_24)
            type = 24;
        write_djp_header(dec.out, dec.out_width, dec.out_height, type);
        if (type == 0) {
            write_djp_palette(dec.out);
            conv = row_from_index;
            writer = write_index_row;
        } else if (type == 8) {
            writer = write_grey_row;
        }
        if (dec.scaling)
            writer = type == 8 ? emit_scaled_grey_row : emit_scaled_rgb_row;
        dec.out_row.assign(static_cast<std::size_t>(dec.out_width) * (type == 24 ? 3 : 1), 0);
        dec.rows_emitted = 0;
    }
    console_printf(stdout, "Block number     : %2d\n", i);
    std::printf("Block size       : %d x %d\n", width, height);
    console_printf(stdout, "Output file      : %s ", name.c_str());
    if (!djp)
        std::printf("(+.%s)", dec_settings.companion_fal ? "FAL" : "IPR");
    std::printf("\n");
    std::fflush(stdout);
    progress_start(height);

    uint32_t *line = nullptr;
    int t = zf_line(f, &line), lines = 0;
    for (; t >= 0; t = zf_line(f, &line), ++lines) {
        progress_step(t);
        if (console_key_pressed() == kEsc)
            return stop_block(f, true, name);
        conv(line, width);
        if (writer(t, width) != 0)
            return stop_block(f, false, name);
    }
    if (djp && dec.scaling && pad_scaled_rows(type == 24 ? 3 : 1) != 0)
        return stop_block(f, false, name);
    if (!close_output())
        return stop_block(f, false, name);
    block_output.release();
    progress_end();
    // a block that failed to decode keeps the lines before the damage; the
    // cause is told when the file is closed
    std::fputc('\n', stderr);
    if (t == -1)
        console_printf(stderr, "このﾌﾞﾛｯｸは %d ﾗｲﾝ中 %d ﾗｲﾝしかﾃﾞｺｰﾄﾞできませんでした: 出力ﾌｧｲﾙ %s はその分だけです\n",
                   height, lines, name.c_str());
    else
        console_printf(stderr, "complete.\n");
    if (!djp && dec_settings.sink) {
        if (dec_settings.companion_fal)
            print_fal(dec_settings.sink, width, height, x, y);
        else
            print_ipr(dec_settings.sink, width, height, x, y);
    } else if (!djp && names_device_or_pipe(name.c_str())) {
        // beside a device or pipe the companion would be a stray file
        // (/dev/null.FAL): its numbers are told instead
        console_printf(stderr, "出力先がﾌｧｲﾙではないので %s は作りません (%d x %d, 位置 %d,%d)\n",
                   dec_settings.companion_fal ? "FAL" : "IPR", width, height, x, y);
    } else if (!djp) {
        if (dec_settings.companion_fal)
            write_fal(name.c_str(), width, height, x, y);
        else
            write_ipr(name.c_str(), width, height, x, y);
    }
    return 0;
}

} // namespace

int scale_setup(int width, int height)
{
    if (width > kMaxSize || height > kMaxSize)
        return -1;
    dec.col_map.assign(static_cast<std::size_t>(width) + 1, 0);
    dec.row_map.assign(static_cast<std::size_t>(height) + 1, 0);
    int w = round_half(width * dec.ratio / 1.0), h = round_half(height / 1.0);
    const double rx = static_cast<double>(w) / dec.target_width;
    if (rx > 1) {
        w = round_half(w / rx);
        h = round_half(h / rx);
    }
    const double ry = static_cast<double>(h) / dec.target_height;
    if (ry > 1) {
        h = round_half(h / ry);
        w = round_half(w / ry);
    }
    w = std::max(w, 1);
    h = std::max(h, 1);
    dec.out_width = w;
    dec.out_height = h;
    const double sx = static_cast<double>(width) / w, sy = static_cast<double>(height) / h;
    // Both maps stay inside the output, so every row and column written
    // belongs to the size the header announces.
    const int col_limit = std::min(dec.target_width, w), row_limit = std::min(dec.target_height, h);
    for (int c = 0; c < width; ++c)
        dec.col_map[static_cast<std::size_t>(c)] = std::min(round_half(c / sx), col_limit - 1);
    for (int j = 0; j < height; ++j)
        dec.row_map[static_cast<std::size_t>(j)] = std::min(round_half(j / sy), row_limit - 1);
    dec.row_map[static_cast<std::size_t>(height)] = height;
    dec.image_width = width;
    dec.image_height = height;
    dec.scaling = sx != 1 || sy != 1;
    return 0;
}

int decode_file(const char *input_name, const char *output_name)
{
    zf_file *f = zf_open(input_name);
    if (!f) {
        console_print_error(nullptr);
        tell_failure_cause(input_name);
        return 1;
    }
    return decode_record(f, output_name);
}

int decode_record(zf_file *f, const char *output_name)
{
    reset_state();
    zf_load_info(f);
    console_show_header(f, 1);
    const bool djp = dec_settings.djp_output;
    if (djp) {
        if (const int status = djp_setup(f))
            return status;
    }
    row_converter convert = nullptr;
    int djp_type = 24;
    switch (zf_depth) {
    case 8:
        std::memcpy(dec.palette, zf_get_palette(f), sizeof dec.palette);
        convert = dec.scaling ? accumulate_palette : row_from_palette;
        djp_type = dec.scaling ? 24 : 0;
        break;
    case 15: convert = dec.scaling ? accumulate_15bit : row_from_15bit; break;
    case 24: convert = dec.scaling ? accumulate_24bit : row_from_24bit; break;
    default:
        zf_close(f);
        console_printf(stdout, "%d bit ZEFAﾌｫｰﾏｯﾄには対応していません\n", zf_depth);
        return 1;
    }

    int i = 0;
    for (int n = zf_first_block(f); n >= 1; n = zf_next_block(f), ++i) {
        if (n == 2) {
            console_printf(stderr, "このﾌﾞﾛｯｸはﾃﾞｺｰﾄﾞできません\n");
            continue;
        }
        if (djp && i != 0) {
            console_printf(stderr, "DJP出力のため最初の画像ﾌﾞﾛｯｸ以外無視します\n");
            break;
        }
        if (const int status = decode_block(f, i, output_name, convert, djp_type))
            return status;
    }
    if (zf_close(f) != 0) {
        console_print_error(nullptr);
        tell_failure_cause(dec_settings.input_name);
        return 1;
    }
    return 0;
}
