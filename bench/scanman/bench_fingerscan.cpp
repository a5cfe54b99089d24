// Cost of one delivery of a 500 x 500 image at 500 and at 1000 ppi: from the simulated
// library's callback thread to AfterScan on the GUI thread, and the conversion alone. Each
// is reported as a ratio to copying the image once (the least any delivery must do),
// measured in the same run.
#include "UFingerScan.h"

#include <ScanManSim.h>

#include <QBuffer>
#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int kSide = 500;

std::vector<unsigned char> Image() {
    std::vector<unsigned char> px(size_t(kSide) * kSide);
    for (size_t i = 0; i < px.size(); ++i)
        px[i] = static_cast<unsigned char>(i * 7 % 256);
    return px;
}

void AttachBuffers(TFingerScan& scan, int& after) {
    scan.BeforeScan = [](TScanStream& s) {
        auto b = std::make_unique<QBuffer>();
        b->open(QIODevice::ReadWrite);
        s = std::move(b);
    };
    scan.AfterScan = [&after](TScanStream& s) {
        benchmark::DoNotOptimize(static_cast<QBuffer*>(s.get())->data().constData());
        ++after;
    };
}

void BM_CopyImage(benchmark::State& state) {
    const auto px = Image();
    std::vector<unsigned char> copy(px.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), px.data(), px.size());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_CopyImage);

void BM_Convert(benchmark::State& state) {
    const auto px = Image();
    TFingerScan scan;
    int after = 0;
    AttachBuffers(scan, after);
    const int ppi = static_cast<int>(state.range(0));
    for (auto _ : state)
        scan.Deliver("SIM-0", kSide, kSide, px.data(), ppi);
}
BENCHMARK(BM_Convert)->Arg(500)->Arg(1000);

void BM_Delivery(benchmark::State& state) {
    const auto px = Image();
    const int ppi = static_cast<int>(state.range(0));
    if (!UFingerScanStart().isEmpty()) {
        state.SkipWithError("module start failed");
        return;
    }
    int after = 0;
    AttachBuffers(*FingerScan, after);
    AcceptScans = true;
    for (auto _ : state) {
        const int target = after + 1;
        SMSimDeliver("SIM-0", kSide, kSide, px.data(), ppi);
        while (after < target)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    AcceptScans = false;
    UFingerScanEnd();
}
BENCHMARK(BM_Delivery)->Arg(500)->Arg(1000)->UseRealTime();

// Keeps the results so the ratios can be printed after the run.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (!r.error_occurred && r.run_type == Run::RT_Iteration)
                times_[r.benchmark_name()] = r.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    void PrintRatios() const {
        auto base = times_.find("BM_CopyImage");
        if (base == times_.end() || base->second <= 0)
            return;
        std::printf("\nRatio to copying one 500 x 500 image once (BM_CopyImage):\n");
        for (const auto& [name, t] : times_)
            std::printf("  %-32s %8.1f\n", name.c_str(), t / base->second);
    }

  private:
    std::map<std::string, double> times_;
};

} // namespace

int main(int argc, char** argv) {
    setenv("SCANMAN_DROP_DIR", "-", 1);
    unsetenv("SCANMAN_SCENARIO");
    unsetenv("SCANMAN_BACKEND");
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
