// Time to score a fixture print, and of its stages (maps, binarisation, hole filling alone,
// detection alone, detection with removal), against a fixed baseline workload measured in
// the same run: a plain 24 × 24 box mean at every 8th pixel of a 500 × 500 image, about the
// memory traffic of one pass of block windows. The ratios printed at the end are what to
// compare between machines; "ms per 500x500" scales each print by its pixel count. NIST's
// tool is compared process against process by vs_nist.sh beside this file.
#include "detector.h"
#include "internal.h"
#include "nfiq_bmp.h"
#include "nfiq_core.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

std::vector<nfiq::GreyImage> g_prints;

void load_prints() {
    const std::filesystem::path dir =
        std::filesystem::path(STATION_SHARED_DIR) / "fixtures/fingerprints";
    if (!std::filesystem::exists(dir))
        return;
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.path().extension() == ".bmp")
            files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const auto& f : files) {
        nfiq::GreyImage img;
        if (nfiq::read_bmp(f.string(), img, nullptr))
            g_prints.push_back(std::move(img));
    }
}

double pixels_of_all() {
    double n = 0;
    for (const auto& p : g_prints)
        n += static_cast<double>(p.width) * p.height;
    return n;
}

void BM_Baseline(benchmark::State& state) {
    const int w = 500, h = 500;
    std::vector<uint8_t> px(w * h);
    for (int i = 0; i < w * h; ++i)
        px[i] = static_cast<uint8_t>((i * 37) ^ (i >> 7));
    for (auto _ : state) {
        long total = 0;
        for (int by = 0; by + 24 <= h; by += 8)
            for (int bx = 0; bx + 24 <= w; bx += 8)
                for (int y = by; y < by + 24; ++y)
                    for (int x = bx; x < bx + 24; ++x)
                        total += px[y * w + x];
        benchmark::DoNotOptimize(total);
    }
}
BENCHMARK(BM_Baseline)->Unit(benchmark::kMillisecond);

// All fixture prints once per iteration; the time is then given per print.
void BM_ScoreAllPrints(benchmark::State& state) {
    if (g_prints.empty()) {
        state.SkipWithError("fixture prints not found");
        return;
    }
    for (auto _ : state)
        for (const auto& p : g_prints)
            benchmark::DoNotOptimize(nfiq::assess(p.pixels.data(), p.width, p.height).score);
    state.counters["prints"] = static_cast<double>(g_prints.size());
}
BENCHMARK(BM_ScoreAllPrints)->Unit(benchmark::kMillisecond);

void BM_MapsAllPrints(benchmark::State& state) {
    if (g_prints.empty()) {
        state.SkipWithError("fixture prints not found");
        return;
    }
    for (auto _ : state)
        for (const auto& p : g_prints) {
            const lfs::PaddedImage img =
                lfs::pad_image(p.pixels.data(), p.width, p.height, lfs::kParamsV2);
            benchmark::DoNotOptimize(lfs::make_maps(img, lfs::kParamsV2).direction.data());
        }
}
BENCHMARK(BM_MapsAllPrints)->Unit(benchmark::kMillisecond);

// The detector stages on the maps of each print: binarisation, then detection and
// false-minutia removal (maps are computed once, outside the timing).
struct Prepared {
    lfs::PaddedImage img;
    lfs::Maps maps;
    std::vector<uint8_t> bin;
};

std::vector<Prepared>& prepared() {
    static std::vector<Prepared> all = [] {
        std::vector<Prepared> v;
        for (const auto& p : g_prints) {
            Prepared q;
            q.img = lfs::pad_image(p.pixels.data(), p.width, p.height, lfs::kParamsV2);
            q.maps = lfs::make_maps(q.img, lfs::kParamsV2);
            q.bin = lfs::binarize(q.img, q.maps, lfs::kParamsV2);
            v.push_back(std::move(q));
        }
        return v;
    }();
    return all;
}

void BM_BinarizeAllPrints(benchmark::State& state) {
    if (g_prints.empty()) {
        state.SkipWithError("fixture prints not found");
        return;
    }
    auto& all = prepared();
    for (auto _ : state)
        for (const auto& q : all)
            benchmark::DoNotOptimize(lfs::binarize(q.img, q.maps, lfs::kParamsV2).data());
}
BENCHMARK(BM_BinarizeAllPrints)->Unit(benchmark::kMillisecond);

// Hole filling alone (three passes over each binary image, as binarisation does).
void BM_FillHolesAllPrints(benchmark::State& state) {
    if (g_prints.empty()) {
        state.SkipWithError("fixture prints not found");
        return;
    }
    auto& all = prepared();
    for (auto _ : state)
        for (const auto& q : all) {
            std::vector<uint8_t> bin = q.bin;
            for (int i = 0; i < lfs::kParamsV2.num_fill_holes; ++i)
                lfs::det::fill_holes(bin, q.img.iw(), q.img.ih());
            benchmark::DoNotOptimize(bin.data());
        }
}
BENCHMARK(BM_FillHolesAllPrints)->Unit(benchmark::kMillisecond);

// Detection alone: the pixel-pair scans, candidate placement and the duplicate search.
void BM_DetectAllPrints(benchmark::State& state) {
    if (g_prints.empty()) {
        state.SkipWithError("fixture prints not found");
        return;
    }
    auto& all = prepared();
    for (auto _ : state)
        for (const auto& q : all) {
            std::vector<uint8_t> bin = q.bin;
            auto found = lfs::detect_minutiae(bin, q.img.iw(), q.img.ih(), q.maps, lfs::kParamsV2);
            benchmark::DoNotOptimize(found.data());
        }
}
BENCHMARK(BM_DetectAllPrints)->Unit(benchmark::kMillisecond);

void BM_MinutiaeAllPrints(benchmark::State& state) {
    if (g_prints.empty()) {
        state.SkipWithError("fixture prints not found");
        return;
    }
    auto& all = prepared();
    for (auto _ : state)
        for (const auto& q : all) {
            std::vector<uint8_t> bin = q.bin;
            const int w = q.img.iw(), h = q.img.ih();
            auto found = lfs::detect_minutiae(bin, w, h, q.maps, lfs::kParamsV2);
            lfs::remove_false_minutiae(found, bin, w, h, q.maps, lfs::kParamsV2);
            benchmark::DoNotOptimize(found.data());
        }
}
BENCHMARK(BM_MinutiaeAllPrints)->Unit(benchmark::kMillisecond);

// Console output plus a summary of ratios once all runs are in.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (!r.error_occurred && r.run_type == Run::RT_Iteration)
                ms_[r.benchmark_name()] = r.GetAdjustedCPUTime(); // in the unit: ms
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        const auto base = ms_.find("BM_Baseline");
        if (base == ms_.end() || g_prints.empty())
            return;
        const double n = static_cast<double>(g_prints.size());
        const double scale = 500.0 * 500.0 / (pixels_of_all() / n);
        for (const char* name :
             {"BM_ScoreAllPrints", "BM_MapsAllPrints", "BM_BinarizeAllPrints",
              "BM_FillHolesAllPrints", "BM_DetectAllPrints", "BM_MinutiaeAllPrints"}) {
            const auto it = ms_.find(name);
            if (it == ms_.end())
                continue;
            const double per_print = it->second / n;
            std::printf("%-20s %.2f ms per print, %.2f ms per 500x500, %.2f x baseline\n", name,
                        per_print, per_print * scale, per_print / base->second);
        }
    }

  private:
    std::map<std::string, double> ms_;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    load_prints();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
