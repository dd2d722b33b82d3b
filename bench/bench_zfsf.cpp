// Throughput of the ZFSF coding: encode and decode, in bytes of 8-bit RGB
// per second (the bytes_per_second column), for each depth on a flat, a
// 16-colour screen and a noisy photo-like picture; and the bit reader on
// its own.
#include "bench_codec.h"
#include "zfsf_stream.h"

namespace {

// The bit reader alone: a buffer of random bytes read back as codes of
// 1 to 12 bits, the lengths the colour and link codes use.
void zfsf_bit_reader(benchmark::State &state)
{
    static zf::Record record{};
    zf::Record *f = &record;
    bench_images::Rng rng(7);
    unsigned char *buf = zf::stream_buffer(f);
    for (int i = 0; i < zf::kStreamSize; ++i)
        buf[i] = static_cast<unsigned char>(rng.next());
    // The reader works inside the buffer only: length kept full, position
    // rewound, so no file read is timed.
    uint32_t sink = 0;
    long bits = 0;
    for (auto _ : state) {
        zfsf::Regs &r = zfsf::regs(f);
        r = zfsf::Regs{};
        r.len = zf::kStreamSize;
        zfsf::BitReader in(f);
        const long total = 8L * (zf::kStreamSize - 8);
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

} // namespace

int main(int argc, char **argv)
{
    bench_codec::register_codec("zfsf", "ZFSF");
    benchmark::RegisterBenchmark("zfsf_bit_reader", zfsf_bit_reader)->Unit(benchmark::kMicrosecond);
    return bench_codec::run_main(argc, argv);
}
