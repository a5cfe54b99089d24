// From IBSU_BeginCaptureImage to the result event in the simulator's fastest mode (the
// immediate clock, the finger there at once), against rendering one print alone: most of
// a capture is the rendering of its print, so the ratio shows what the event machinery adds.
#include "IBScanSim.h"
#include "IBScanUltimateApi.h"

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct Waiter {
    std::mutex m;
    std::condition_variable cv;
    int results = 0;
};

void onResult(int, void* ctx, int, IBSU_ImageData, int, int, int, const IBSU_ImageData*,
              const IBSU_SegmentPosition*) {
    auto* w = static_cast<Waiter*>(ctx);
    std::lock_guard lk(w->m);
    ++w->results;
    w->cv.notify_all();
}

void BM_RenderPrint(benchmark::State& state) {
    std::vector<uint8_t> px(800 * 750);
    unsigned seed = 0;
    for (auto _ : state) {
        ibsim_render_print(++seed, 800, 750, px.data());
        benchmark::DoNotOptimize(px.data());
    }
}
BENCHMARK(BM_RenderPrint)->Unit(benchmark::kMillisecond);

void BM_CaptureToResult(benchmark::State& state) {
    IBSIM_Reset("[sim]\nclock = immediate\n[scanner.1]\nmodel = WATSON\n"
                "[capture]\nfinger_ms = 0\nstable_ms = 0\n",
                nullptr);
    int h = 0;
    if (IBSU_OpenDevice(0, &h) < 0) {
        state.SkipWithError("open failed");
        return;
    }
    Waiter w;
    IBSU_RegisterCallbacks(h, IBSU_EVENT_RESULT_IMAGE, IBSU_CALLBACK(&onResult), &w);
    for (auto _ : state) {
        int before = 0;
        {
            std::lock_guard lk(w.m);
            before = w.results;
        }
        IBSU_BeginCaptureImage(h, IBSU_FLAT_SINGLE_FINGER, 500, IBSU_OPTION_AUTO_CAPTURE);
        std::unique_lock lk(w.m);
        w.cv.wait(lk, [&] { return w.results > before; });
    }
    IBSU_CloseDevice(h);
    IBSIM_Reset("", nullptr);
}
BENCHMARK(BM_CaptureToResult)->Unit(benchmark::kMillisecond)->UseRealTime();

// Prints each benchmark's time as a ratio to the baseline measured in the same run.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& r : runs)
            if (r.run_type == Run::RT_Iteration)
                times_[r.benchmark_name()] = r.GetAdjustedRealTime();
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        const auto base = times_.find("BM_RenderPrint");
        if (base == times_.end() || base->second <= 0)
            return;
        for (const auto& [name, t] : times_)
            if (name != base->first)
                std::printf("ratio %s / BM_RenderPrint = %.2f\n", name.c_str(), t / base->second);
    }

  private:
    std::map<std::string, double> times_;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
