// Time to generate a 400 x 500 print, against the time to fill the same buffer with
// pseudo-random noise (the cheapest possible "image source") measured in the same run.
// The `x_baseline` counter is the ratio of the two.
#include "fingergen.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <vector>

namespace {

constexpr int kW = 400, kH = 500;

void fillNoise(unsigned seed, std::vector<unsigned char>& px) {
    uint32_t s = seed * 2654435761u + 1u;
    for (unsigned char& p : px) {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        p = static_cast<unsigned char>(s >> 24);
    }
}

// Best of several runs of the noise fill, in seconds.
double baselineSeconds() {
    static const double seconds = [] {
        std::vector<unsigned char> px(kW * kH);
        double best = 1e9;
        for (int i = 0; i < 200; ++i) {
            const auto t0 = std::chrono::steady_clock::now();
            fillNoise(static_cast<unsigned>(i), px);
            benchmark::DoNotOptimize(px.data());
            const auto t1 = std::chrono::steady_clock::now();
            best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
        }
        return best;
    }();
    return seconds;
}

void BM_NoiseFill(benchmark::State& state) {
    std::vector<unsigned char> px(kW * kH);
    unsigned seed = 0;
    for (auto _ : state) {
        fillNoise(seed++, px);
        benchmark::DoNotOptimize(px.data());
    }
}
BENCHMARK(BM_NoiseFill)->Unit(benchmark::kMicrosecond);

void BM_Render(benchmark::State& state) {
    std::vector<unsigned char> px(kW * kH);
    const fg_defects defects{0.3f, 0.3f, 0.3f, 0.3f, 0.3f};
    const fg_defects* d = state.range(0) ? &defects : nullptr;
    unsigned seed = 0;
    const auto t0 = std::chrono::steady_clock::now();
    for (auto _ : state) {
        // A different person and finger each time: the cost depends on the pattern.
        fg_render(seed / 10, static_cast<int>(seed % 10) + 1, kW, kH, d, px.data());
        ++seed;
        benchmark::DoNotOptimize(px.data());
    }
    const double perPrint =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() /
        static_cast<double>(state.iterations());
    // Wall time per print divided by the best wall time of one noise fill.
    state.counters["x_baseline"] = perPrint / baselineSeconds();
}
BENCHMARK(BM_Render)->Arg(0)->Arg(1)->ArgName("defects")->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
