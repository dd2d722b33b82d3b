// Throughput of the ZFSF coding: encode and decode, in MB of 8-bit RGB
// per second (the bytes_per_second column), for each depth on a flat, a 16-colour screen and a noisy
// photo-like picture; and the bit reader on its own.
#include "bench_codec.h"
#include "../zflib/zfsf_stream.h"

#include <cstdio>

namespace {

using bench_images::Kind;

constexpr int kW = bench_images::default_width;
constexpr int kH = bench_images::default_height;

void set_rate(benchmark::State &state) { bench_codec::set_rgb_rate(state, kW, kH); }

void zfsf_encode(benchmark::State &state, Kind kind, int depth)
{
    const auto img = bench_images::make_image(kind, depth, kW, kH);
    const std::string path = bench_codec::temp_path("bench-zfsf-enc");
    for (auto _ : state)
        if (!bench_codec::encode(path, "ZFSF", depth, kW, kH, img))
            state.SkipWithError("encoding failed");
    std::remove(path.c_str());
    set_rate(state);
}

void zfsf_decode(benchmark::State &state, Kind kind, int depth)
{
    const auto img = bench_images::make_image(kind, depth, kW, kH);
    const std::string path = bench_codec::temp_path("bench-zfsf-dec");
    if (!bench_codec::encode(path, "ZFSF", depth, kW, kH, img)) {
        state.SkipWithError("encoding failed");
        return;
    }
    uint32_t sink = 0;
    for (auto _ : state)
        if (bench_codec::decode(path, sink) != kH)
            state.SkipWithError("decoding failed");
    benchmark::DoNotOptimize(sink);
    std::remove(path.c_str());
    set_rate(state);
}

// The bit reader alone: a buffer of random bytes read back as codes of
// 1 to 12 bits, the lengths the colour and link codes use.
void zfsf_bit_reader(benchmark::State &state)
{
    alignas(zf_file) static unsigned char storage[sizeof(zf_file)];
    zf_file *f = reinterpret_cast<zf_file *>(storage);
    bench_images::Rng rng(7);
    unsigned char *buf = zf::stream_buffer(f);
    for (int i = 0; i < ZF_STREAM_SIZE; ++i)
        buf[i] = static_cast<unsigned char>(rng.next());
    // The reader works inside the buffer only: length kept full, position
    // rewound, so no file read is timed.
    uint32_t sink = 0;
    long bits = 0;
    for (auto _ : state) {
        zfsf::Regs &r = zfsf::regs(f);
        r = zfsf::Regs{};
        r.len = ZF_STREAM_SIZE;
        zfsf::BitReader in(f);
        const long total = 8L * (ZF_STREAM_SIZE - 8);
        long used = 0;
        for (int n = 1; used + 12 <= total; n = n % 12 + 1) {
            sink += in.bits(n);
            used += n;
        }
        bits += used;
    }
    benchmark::DoNotOptimize(sink);
    state.SetBytesProcessed(bits / 8);
}

void register_all()
{
    for (Kind kind : {Kind::flat, Kind::screen, Kind::photo})
        for (int depth : {8, 15, 24}) {
            const std::string tail = std::string("/") + bench_images::kind_name(kind) + "/" + std::to_string(depth);
            benchmark::RegisterBenchmark(("zfsf_encode" + tail).c_str(), zfsf_encode, kind, depth)
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(("zfsf_decode" + tail).c_str(), zfsf_decode, kind, depth)
                ->Unit(benchmark::kMillisecond);
        }
    benchmark::RegisterBenchmark("zfsf_bit_reader", zfsf_bit_reader)->Unit(benchmark::kMicrosecond);
}

} // namespace

int main(int argc, char **argv)
{
    register_all();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
