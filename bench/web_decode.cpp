// web_decode FILE [RUNS] - the web page's decode call, natively: the median
// time of decoding FILE to RGBA through the same glue the page's
// WebAssembly runs, for bench/web_bench.py to set beside the page's time.
#include "zefa_web.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>


int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: web_decode FILE [RUNS]\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const int runs = argc > 2 ? std::atoi(argv[2]) : 15;
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        zw_result *r = zw_decode(file.data(), static_cast<int32_t>(file.size()));
        const auto t1 = std::chrono::steady_clock::now();
        if (!r || r->width == 0) {
            std::fprintf(stderr, "web_decode: %s: %s\n", argv[1], r ? r->json : "out of memory");
            return 1;
        }
        zw_release(r);
        ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%.2f\n", ms[ms.size() / 2]);
    return 0;
}
