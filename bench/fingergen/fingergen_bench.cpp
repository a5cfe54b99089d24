// Time to generate a 400 x 500 print, against the time to fill the same buffer with
// pseudo-random noise (the cheapest possible "image source") measured in the same run.
// The `x_baseline` counter is the ratio of the two.
#include "fingergen.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <cstdint>
#include <vector>

namespace {

// CPU time of this thread: steadier than wall time on a machine shared with other work.
double cpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

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

// Best of several runs of the noise fill, in CPU seconds.
double baselineSeconds() {
    static const double seconds = [] {
        std::vector<unsigned char> px(kW * kH);
        double best = 1e9;
        for (int i = 0; i < 200; ++i) {
            const double t0 = cpuSeconds();
            fillNoise(static_cast<unsigned>(i), px);
            benchmark::DoNotOptimize(px.data());
            best = std::min(best, cpuSeconds() - t0);
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
    const double t0 = cpuSeconds();
    for (auto _ : state) {
        // A different person and finger each time: the cost depends on the pattern.
        fg_render(seed / 10, static_cast<int>(seed % 10) + 1, kW, kH, d, px.data());
        ++seed;
        benchmark::DoNotOptimize(px.data());
    }
    const double perPrint = (cpuSeconds() - t0) / static_cast<double>(state.iterations());
    // CPU time per print divided by the best CPU time of one noise fill.
    state.counters["x_baseline"] = perPrint / baselineSeconds();
}
BENCHMARK(BM_Render)->Arg(0)->Arg(1)->ArgName("defects")->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
