// bench_codec.h - encodes and decodes one block through the library, for
// the throughput benchmarks of every coding.  Files go to a temporary
// folder (TMPDIR, else /tmp) so that the figures include the real file
// I/O of a tool run.
#ifndef ZEFA_BENCH_CODEC_H
#define ZEFA_BENCH_CODEC_H

#include "bench_images.h"
#include "zefa.h"

#include <benchmark/benchmark.h>

#include <cstdio>
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

constexpr int kWidth = bench_images::default_width;
constexpr int kHeight = bench_images::default_height;

inline void encode_bench(benchmark::State &state, const char *tag, bench_images::Kind kind, int depth)
{
    const auto img = bench_images::make_image(kind, depth, kWidth, kHeight);
    const std::string path = temp_path("bench-enc");
    for (auto _ : state)
        if (!encode(path, tag, depth, kWidth, kHeight, img))
            state.SkipWithError("encoding failed");
    std::remove(path.c_str());
    set_rgb_rate(state, kWidth, kHeight);
}

inline void decode_bench(benchmark::State &state, const char *tag, bench_images::Kind kind, int depth)
{
    const auto img = bench_images::make_image(kind, depth, kWidth, kHeight);
    const std::string path = temp_path("bench-dec");
    if (!encode(path, tag, depth, kWidth, kHeight, img)) {
        state.SkipWithError("encoding failed");
        return;
    }
    uint32_t sink = 0;
    for (auto _ : state)
        if (decode(path, sink) != kHeight)
            state.SkipWithError("decoding failed");
    benchmark::DoNotOptimize(sink);
    std::remove(path.c_str());
    set_rgb_rate(state, kWidth, kHeight);
}

// Registers <name>_encode/<picture>/<depth> and <name>_decode/... for
// every picture kind and depth.
inline void register_codec(const char *name, const char *tag)
{
    using bench_images::Kind;
    for (Kind kind : {Kind::flat, Kind::screen, Kind::photo})
        for (int depth : {8, 15, 24}) {
            const std::string tail = std::string("/") + bench_images::kind_name(kind) + "/" + std::to_string(depth);
            benchmark::RegisterBenchmark((std::string(name) + "_encode" + tail).c_str(), encode_bench, tag, kind, depth)
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark((std::string(name) + "_decode" + tail).c_str(), decode_bench, tag, kind, depth)
                ->Unit(benchmark::kMillisecond);
        }
}

inline int run_main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace bench_codec

#endif
