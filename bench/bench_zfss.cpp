// Throughput of the ZFSS coding: encode (both passes) and decode, in bytes
// of 8-bit RGB per second, for each depth on a flat, a 16-colour screen
// and a noisy photo-like picture; and the decoder's time per decision.
#include "bench_codec.h"
#include "zfss_coder.h"

namespace {

using bench_images::Kind;
using bench_codec::kHeight;
using bench_codec::kWidth;

// The decisions a picture makes: pass 1 of the encoder counts them.
double count_decisions(const std::vector<uint32_t> &img, int depth)
{
    const std::string path = bench_codec::temp_path("bench-zfss-count");
    zf_set_info("", depth, -1, -1, 1, 1, 0);
    zf_file *f = zf_create(path.c_str(), "", nullptr, "", 0);
    if (!f)
        return 0;
    uint32_t *line = nullptr;
    double total = 0;
    if (zf_begin_write(f, &line, 0, 0, kWidth, kHeight, "ZFSS", -1) == 0) {
        int t = 1;
        for (int y = 0; y < kHeight && t > 0; ++y) {
            std::memcpy(line, img.data() + static_cast<std::size_t>(y) * kWidth, sizeof(uint32_t) * kWidth);
            t = zf_line(f, &line);
        }
        if (t == 0)
            for (int c = 0; c < zfss::kContexts; ++c)
                total += zfss::count_totals(zf::rec(f))[c];
    }
    zf_close(f);
    std::remove(path.c_str());
    return total;
}

void zfss_decision(benchmark::State &state, Kind kind, int depth)
{
    const auto img = bench_images::make_image(kind, depth, kWidth, kHeight);
    const double decisions = count_decisions(img, depth);
    const std::string path = bench_codec::temp_path("bench-zfss-dec");
    if (decisions == 0 || !bench_codec::encode(path, "ZFSS", depth, kWidth, kHeight, img)) {
        state.SkipWithError("encoding failed");
        return;
    }
    uint32_t sink = 0;
    for (auto _ : state)
        if (bench_codec::decode(path, sink) != kHeight)
            state.SkipWithError("decoding failed");
    benchmark::DoNotOptimize(sink);
    std::remove(path.c_str());
    state.counters["decisions"] = decisions;
    state.counters["time/decision"] = benchmark::Counter(
        decisions, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

} // namespace

int main(int argc, char **argv)
{
    bench_codec::register_codec("zfss", "ZFSS");
    for (Kind kind : {Kind::screen, Kind::photo})
        benchmark::RegisterBenchmark((std::string("zfss_decode_per_decision/") + bench_images::kind_name(kind) + "/24").c_str(),
                                     zfss_decision, kind, 24)
            ->Unit(benchmark::kMillisecond);
    return bench_codec::run_main(argc, argv);
}
