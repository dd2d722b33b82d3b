// Throughput of the ZFSS coding: encode (both passes) and decode, in bytes
// of 8-bit RGB per second, for each depth on a flat, a 16-colour screen
// and a noisy photo-like picture; and the time per decision of both
// directions, on those pictures and on real ones.
//
// Real pictures: every binary PPM (P6, 24-bit) and PGM (P5, coded at depth
// 8 with the grey level as index) in the folder named by the environment
// variable ZEFA_BENCH_PICTURES becomes zfss_decode_per_decision/<name> and
// zfss_encode_per_decision/<name>.  Without the variable only the generated
// pictures are measured.  For example:
//   djpeg -pnm photo.jpg | pnmscale -width 1000 > pics/photo.ppm
//   ZEFA_BENCH_PICTURES=pics bench_zfss --benchmark_filter=per_decision
// The encoder's time per decision is the time of both passes over the
// decisions of one pass.  zfss_decision_chain/<name> decodes decisions
// without the model: the floor the arithmetic coding sets.
#include "bench_codec.h"
#include "zfss_coder.h"

#include <algorithm>
#include <dirent.h>
#include <fstream>
#include <iterator>

namespace {

using bench_images::Kind;
using bench_codec::kHeight;
using bench_codec::kWidth;

struct Picture {
    std::string name;
    int depth = 24;
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
};

// The decisions a picture makes: pass 1 of the encoder counts them.
double count_decisions(const Picture &pic)
{
    const std::string path = bench_codec::temp_path("bench-zfss-count");
    zf_set_info("", pic.depth, -1, -1, 1, 1, 0);
    zf_file *f = zf_create(path.c_str(), "", nullptr, "", 0);
    if (!f)
        return 0;
    uint32_t *line = nullptr;
    double total = 0;
    if (zf_begin_write(f, &line, 0, 0, pic.width, pic.height, "ZFSS", -1) == 0) {
        int t = 1;
        for (int y = 0; y < pic.height && t > 0; ++y) {
            std::memcpy(line, pic.pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(pic.width),
                        sizeof(uint32_t) * static_cast<std::size_t>(pic.width));
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

void per_decision(benchmark::State &state, double decisions)
{
    state.counters["decisions"] = decisions;
    state.counters["time/decision"] = benchmark::Counter(
        decisions, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void zfss_decode_decisions(benchmark::State &state, const Picture &pic)
{
    const double decisions = count_decisions(pic);
    const std::string path = bench_codec::temp_path("bench-zfss-dec");
    if (decisions == 0 || !bench_codec::encode(path, "ZFSS", pic.depth, pic.width, pic.height, pic.pixels)) {
        state.SkipWithError("encoding failed");
        return;
    }
    uint32_t sink = 0;
    for (auto _ : state)
        if (bench_codec::decode(path, sink) != pic.height)
            state.SkipWithError("decoding failed");
    benchmark::DoNotOptimize(sink);
    std::remove(path.c_str());
    per_decision(state, decisions);
}

void zfss_encode_decisions(benchmark::State &state, const Picture &pic)
{
    const double decisions = count_decisions(pic);
    const std::string path = bench_codec::temp_path("bench-zfss-enc");
    for (auto _ : state)
        if (!bench_codec::encode(path, "ZFSS", pic.depth, pic.width, pic.height, pic.pixels))
            state.SkipWithError("encoding failed");
    std::remove(path.c_str());
    per_decision(state, decisions);
}

// The floor the coding sets: decisions alone, each one's context following
// from the bit before it as the model's do, over a picture's own stream and
// probabilities.  No model work, so the time is the chain of dependent
// steps per decision (table lookup, comparison, renormalisation).
void zfss_decision_chain(benchmark::State &state, const Picture &pic)
{
    const double decisions = count_decisions(pic);
    const std::string path = bench_codec::temp_path("bench-zfss-chain");
    if (decisions == 0 || !bench_codec::encode(path, "ZFSS", pic.depth, pic.width, pic.height, pic.pixels)) {
        state.SkipWithError("encoding failed");
        return;
    }
    double decided = 0;
    unsigned sink = 0;
    for (auto _ : state) {
        zf_file *f = zf_open(path.c_str());
        if (!f || zf_first_block(f) != 1 || zf_begin_read(f) != 0) {
            state.SkipWithError("decoding failed");
            break;
        }
        zfss::Decoder in(zf::rec(f));
        decided = 0;
        unsigned context = 0;
        try {
            // contexts 32 to 46, as a colour component's number code walks them
            for (double k = 0; k < decisions; ++k) {
                const int bit = in.zfss_decode_bit(32 + context);
                context = bit ? 8 + (context & 7) : (context + 1) & 7;
                sink += static_cast<unsigned>(bit);
                ++decided;
            }
        } catch (const zfss::CoderAbort &) {
            // the stream ended first: what was decided counts
        }
        zf_close(f);
    }
    benchmark::DoNotOptimize(sink);
    std::remove(path.c_str());
    per_decision(state, decided);
}

// A binary PPM or PGM with a maximum of 255; false for anything else.
bool read_pnm(const std::string &file, Picture &pic)
{
    std::ifstream in(file, std::ios::binary);
    std::string magic;
    int maxval = 0;
    if (!(in >> magic >> pic.width >> pic.height >> maxval) || (magic != "P6" && magic != "P5") || maxval != 255 ||
        pic.width <= 0 || pic.height <= 0 || pic.width > 65535 || pic.height > 65535)
        return false;
    in.get(); // the one white-space character before the samples
    const std::size_t count = static_cast<std::size_t>(pic.width) * static_cast<std::size_t>(pic.height);
    const std::size_t channels = magic == "P6" ? 3 : 1;
    std::vector<unsigned char> bytes(count * channels);
    if (!in.read(reinterpret_cast<char *>(bytes.data()), static_cast<std::streamsize>(bytes.size())))
        return false;
    pic.depth = channels == 3 ? 24 : 8;
    pic.pixels.resize(count);
    for (std::size_t i = 0; i < count; ++i)
        pic.pixels[i] = channels == 3 ? uint32_t{bytes[3 * i]} << 16 | uint32_t{bytes[3 * i + 1]} << 8 | bytes[3 * i + 2]
                                      : bytes[i];
    return true;
}

std::vector<Picture> real_pictures()
{
    std::vector<Picture> found;
    const char *dir = std::getenv("ZEFA_BENCH_PICTURES");
    if (!dir || !*dir)
        return found;
    DIR *d = opendir(dir);
    if (!d)
        return found;
    std::vector<std::string> names;
    while (const dirent *e = readdir(d)) {
        const std::string name = e->d_name;
        if (name.size() > 4 && (name.ends_with(".ppm") || name.ends_with(".pgm")))
            names.push_back(name);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    for (const std::string &name : names) {
        Picture pic;
        pic.name = name.substr(0, name.size() - 4);
        if (read_pnm(std::string(dir) + "/" + name, pic))
            found.push_back(std::move(pic));
    }
    return found;
}

} // namespace

int main(int argc, char **argv)
{
    bench_codec::register_codec("zfss", "ZFSS");
    std::vector<Picture> pictures;
    for (Kind kind : {Kind::screen, Kind::photo}) {
        Picture pic;
        pic.name = std::string(bench_images::kind_name(kind)) + "/24";
        pic.width = kWidth;
        pic.height = kHeight;
        pic.pixels = bench_images::make_image(kind, 24, kWidth, kHeight);
        pictures.push_back(std::move(pic));
    }
    for (Picture &pic : real_pictures())
        pictures.push_back(std::move(pic));
    for (const Picture &pic : pictures) {
        benchmark::RegisterBenchmark(("zfss_decode_per_decision/" + pic.name).c_str(), zfss_decode_decisions, pic)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("zfss_encode_per_decision/" + pic.name).c_str(), zfss_encode_decisions, pic)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("zfss_decision_chain/" + pic.name).c_str(), zfss_decision_chain, pic)
            ->Unit(benchmark::kMillisecond);
    }
    return bench_codec::run_main(argc, argv);
}
