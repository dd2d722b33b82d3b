// The encode driver: one block of the whole input, fed row by row into the
// library once per coding pass, with progress, ESC abort and clean-up.
#include "encode.h"

#include "failure.h"
#include "progress.h"
#include "raw_formats.h"
#include "run.h"
#include "settings.h"
#include "zefa.h"
#include "zf_console.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kEsc = 27;
constexpr std::size_t kInputBuffer = 1 << 20; // input moves in large pieces

[[noreturn]] void fatal_library(const char *detail, const char *file = nullptr)
{
    std::fputc('\n', stderr);
    console_print_error(detail);
    tell_failure_cause(file);
    fail_run();
}

// Reads one input row; a short read leaves zeros and warns once.
void read_row(FILE *in, unsigned char *row, std::size_t bytes, bool *warned)
{
    const std::size_t got = std::fread(row, 1, bytes, in);
    if (got < bytes) {
        std::memset(row + got, 0, bytes - got);
        if (!*warned) {
            *warned = true;
            console_printf(stderr, "\n%s\n", console_text("警告: 入力ﾌｧｲﾙが画像の大きさより短いので、足りない部分は 0 としました"));
        }
    }
}

// The library stores the output's base name as the subtitle byte for
// byte.  A name given in UTF-8 is stored as Shift-JIS like all header
// text, and cut at a character boundary; ASCII names keep their bytes.
void store_subtitle(zf_file *f, const char *output_name)
{
    std::string base = output_name;
    const auto sep = base.find_last_of(":/\\");
    if (sep != std::string::npos)
        base.erase(0, sep + 1);
    base.erase(std::min(base.find('.'), base.size()));
    if (std::all_of(base.begin(), base.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return;
    char stored[NAME_SIZE * 2];
    console_stored_text(base.c_str(), stored, sizeof stored);
    stored[console_sjis_cut(stored, std::strlen(stored), SUBTITLE_FIELD)] = '\0';
    zf_set_subtitle(f, stored);
}

// Where the output is written.  A file that already has the output's name
// keeps its content until the new one is complete: the new one is written
// in a private folder beside it, under the same name (the header's
// subtitle comes from the name), and renamed over it at the end.  What is
// not a plain file (a device such as /dev/full, a pipe, a link) is written
// in place, as is everything when no folder can be made there.
// A pipe cannot take a ZEFA file as it is written (the header is written
// last, at the start): the file is made in a private folder under $TMPDIR
// (or /tmp) and copied into the pipe when complete.
struct Staging {
    std::string path;
    std::string folder; // empty: written in place
    bool pipe = false;  // copied into output_name at the end
};

Staging stage(const char *output_name)
{
    struct stat st {};
    if (stat(output_name, &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))) {
        const char *tmp = std::getenv("TMPDIR");
        std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/.zfenc-XXXXXX";
        if (!mkdtemp(folder.data()))
            return {output_name, "", false};
        std::string base = output_name;
        base.erase(0, base.rfind('/') + 1);
        return {folder + "/" + base, folder, true};
    }
    if (lstat(output_name, &st) == 0 && !S_ISREG(st.st_mode))
        return {output_name, ""};
    const std::string out = output_name;
    const std::size_t slash = out.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : out.substr(0, slash + 1);
    std::string folder = dir + ".zfenc-XXXXXX";
    if (!mkdtemp(folder.data()))
        return {output_name, ""};
    return {folder + "/" + out.substr(dir.size()), folder};
}

// The whole of one file written into another (a pipe); false with errno.
bool copy_file(const char *from, const char *to)
{
    FILE *in = std::fopen(from, "rb");
    if (!in)
        return false;
    FILE *out = std::fopen(to, "wb");
    if (!out) {
        const int e = errno;
        std::fclose(in);
        errno = e;
        return false;
    }
    std::vector<char> buffer(1 << 16);
    bool ok = true;
    for (std::size_t n; ok && (n = std::fread(buffer.data(), 1, buffer.size(), in)) > 0;)
        ok = std::fwrite(buffer.data(), 1, n, out) == n;
    ok = ok && !std::ferror(in);
    const int e = errno;
    ok = std::fclose(out) == 0 && ok;
    std::fclose(in);
    if (!ok && errno == 0)
        errno = e ? e : EIO;
    return ok;
}

} // namespace

bool encode_image(const char *read_name, input_kind kind, const input_geometry &g, const char *output_name,
                  const char *tag, int depth)
{
    if (settings.author[0] == '\0')
        default_author(settings.author, AUTHOR_FIELD + 1);
    zf_set_info(ZFENC_SAVER, depth, -1, -1, 1, 1, 0);
    if (kind == INPUT_DJP && depth == 8)
        zf_set_palette(256, 8, reader.palette);

    // The header keeps 30 title bytes: cut them at a character boundary.
    char title[TITLE_FIELD + 1];
    const std::size_t tlen = console_sjis_cut(settings.title, std::strlen(settings.title), TITLE_FIELD);
    std::memcpy(title, settings.title, tlen);
    title[tlen] = '\0';

    const Staging out = stage(output_name);
    // a file in a private folder is this run's before it exists
    if (!out.folder.empty() && !output_guard.guard(out.path.c_str(), out.folder.c_str())) {
        zf_errno = errno;
        ::rmdir(out.folder.c_str());
        fatal_library(nullptr, output_name);
    }
    zf_file *f = zf_create(out.path.c_str(), title, settings.comment, settings.author, settings.work_number);
    if (!f)
        fatal_library(output_name); // say which file could not be made
    store_subtitle(f, output_name);
    // only a plain file this run made is ever removed: never a device such
    // as /dev/full or a pipe written in place
    struct stat st {};
    if (out.folder.empty() && stat(out.path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        !output_guard.guard(out.path.c_str())) {
        zf_errno = errno;
        zf_close(f);
        ::unlink(out.path.c_str()); // a file no signal could remove is not left half written
        fatal_library(nullptr, output_name);
    }
    uint32_t *line = nullptr;
    int last = zf_begin_write(f, &line, g.x, g.y, g.width, g.height, tag, -1);
    if (last < 0)
        fatal_library(nullptr);
    last = 1; // run the line loop

    row_source source = depth == 8 ? row_index : row_rgb;
    const int passes = std::strcmp(tag, "ZFSS") == 0 ? 2 : 1;
    console_printf(stderr, "%s", passes == 2 ? "pass 1 " : "pass   ");
    const int steps = progress_start(g.height);
    bool aborted = false, warned = false;
    std::vector<unsigned char> row;
    std::vector<char> io_buffer(kInputBuffer);

    for (int pass = 0; pass < passes; ++pass) {
        FILE *in = std::fopen(read_name, "rb");
        if (!in)
            fatal_library("ファイルが読み込めません", read_name);
        std::setvbuf(in, io_buffer.data(), _IOFBF, io_buffer.size());
        long offset = 0;
        int pixel_bytes = 3;
        if (kind == INPUT_DJP) {
            offset = djp_data_offset(reader.djp_type);
            if (reader.djp_type != DJP_TYPE_RGB) {
                pixel_bytes = 1;
                if (depth != 8)
                    source = row_palette;
            }
        } else if (kind == INPUT_GLM) {
            offset = GLM_DATA_OFFSET;
            pixel_bytes = 2;
            source = depth == 24 ? row_glm_24 : row_glm;
        }
        if (std::fseek(in, offset, SEEK_SET) != 0)
            fatal_library("ファイルが読み込めません", read_name);
        row.assign(raw_row_bytes(g.width, pixel_bytes), 0);
        int r = 0;
        do {
            progress_step(r);
            if (console_key_pressed() == kEsc) {
                aborted = true;
                break;
            }
            read_row(in, row.data(), row.size(), &warned);
            source(row.data(), line, g.width);
            r = zf_line(f, &line);
        } while (r > 0);
        last = r;
        std::fclose(in);
        progress_end();
        if (aborted || last == -1)
            break;
        if (pass == 0 && passes == 2) {
            console_printf(stderr, "\rpass 2 ");
            progress_bar(steps);
        }
    }
    // "complete." only for a file that was written whole
    if (last == -1) {
        zf_close(f);
        fatal_library(nullptr, output_name);
    }
    if (zf_close(f) != 0)
        fatal_library(nullptr, output_name); // the broken output is removed, nothing is logged
    if (!aborted)
        console_printf(stderr, "\ncomplete.\n");
    if (aborted) {
        output_guard.remove_now();
        console_printf(stderr, "\rｴﾝｺｰﾄﾞを中止します\n出力ﾌｧｲﾙを削除しました\n");
        return false;
    }
    if (out.pipe) {
        if (!copy_file(out.path.c_str(), output_name)) {
            zf_errno = errno;
            console_print_error(nullptr);
            tell_failure_cause(output_name);
            fail_run();
        }
        std::remove(out.path.c_str());
        ::rmdir(out.folder.c_str());
    } else if (!out.folder.empty()) {
        if (std::rename(out.path.c_str(), output_name) != 0) {
            zf_errno = errno;
            console_print_error(nullptr);
            tell_failure_cause(output_name);
            fail_run();
        }
        ::rmdir(out.folder.c_str());
    }
    output_guard.release();
    return true;
}
