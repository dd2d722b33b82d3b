// bench_codec.h - encodes and decodes one block through the library, for
// the throughput benchmarks of every coding.  Files go to a temporary
// folder (TMPDIR, else /tmp) so that the figures include the real file
// I/O of a tool run.
#ifndef ZEFA_BENCH_CODEC_H
#define ZEFA_BENCH_CODEC_H

#include "bench_images.h"
#include "zefa.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace bench_codec {

inline std::string temp_path(const char *stem)
{
    const char *dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/" + stem + "-" + std::to_string(getpid()) + ".ZF";
}

// Writes the image as one block of `tag`; false when the library refuses.
inline bool encode(const std::string &path, const char *tag, int depth, int width, int height,
                   const std::vector<uint32_t> &img)
{
    zf_set_info("", depth, -1, -1, 1, 1, 0);
    zf_file *f = zf_create(path.c_str(), "", nullptr, "", 0);
    if (!f)
        return false;
    uint32_t *line = nullptr;
    if (zf_begin_write(f, &line, 0, 0, width, height, tag, -1) != 0) {
        zf_close(f);
        return false;
    }
    // Lines go in order; a return of 0 ends a pass of a two-pass coding,
    // which then takes every line again from the first.
    int y = 0;
    for (;;) {
        std::memcpy(line, img.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width),
                    sizeof(uint32_t) * static_cast<std::size_t>(width));
        const int t = zf_line(f, &line);
        if (t == -2)
            break;
        if (t < 0 || y >= height) {
            zf_close(f);
            return false;
        }
        y = t == 0 ? 0 : y + 1;
    }
    return zf_close(f) == 0;
}

// Reads every line of the first block; the number of lines, or -1.
inline int decode(const std::string &path, uint32_t &sink)
{
    zf_file *f = zf_open(path.c_str());
    if (!f)
        return -1;
    int lines = 0;
    if (zf_first_block(f) == 1 && zf_begin_read(f) == 0) {
        uint32_t *line = nullptr;
        int t;
        while ((t = zf_line(f, &line)) >= 0) {
            sink += line[0];
            ++lines;
        }
        if (t != -2)
            lines = -1;
    } else {
        lines = -1;
    }
    zf_close(f);
    return lines;
}

// Throughput in bytes of 8-bit RGB: Google Benchmark reports it per second.
inline void set_rgb_rate(benchmark::State &state, int width, int height)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(bench_images::rgb_bytes(width, height)));
}

} // namespace bench_codec

#endif
