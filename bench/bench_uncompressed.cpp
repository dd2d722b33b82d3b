// Throughput of the uncompressed codings (ZFBI; ZFBM differs only in the
// byte order of 15-bit pixels), on the same pictures as the others.
#include "bench_codec.h"

int main(int argc, char **argv)
{
    bench_codec::register_codec("zfbi", "ZFBI");
    bench_codec::register_codec("zfbm", "ZFBM");
    return bench_codec::run_main(argc, argv);
}
