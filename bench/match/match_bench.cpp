// Cost of the duplicate-finger check beside one NFIQ call on the same prints (the baseline,
// measured in the same run): a template per print, one comparison, and the check of a
// print landing in a full set (nine comparisons with templates already made). The ratios
// printed at the end are what to compare between machines.
#include "fpmatch.h"
#include "greyio.h"
#include "nfiq_core.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

struct Print {
    int w, h;
    std::vector<uint8_t> px;
};
std::vector<Print> g_prints;
std::vector<fpmatch_template*> g_templates;

void load_prints() {
    const std::filesystem::path dir =
        std::filesystem::path(STATION_SHARED_DIR) / "fixtures/match/prints";
    if (!std::filesystem::exists(dir))
        return;
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.path().extension() == ".bmp")
            files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const auto& f : files) {
        // Impressions 1 and 2 of every finger: 30 prints of three sensors.
        const std::string name = f.stem().string();
        if (name.back() != '1' && name.back() != '2')
            continue;
        greyio_image img;
        if (greyio_bmp_load(f.c_str(), &img) != GREYIO_OK)
            continue;
        Print p{static_cast<int>(img.width), static_cast<int>(img.height),
                std::vector<uint8_t>(img.pixels, img.pixels + img.width * img.height)};
        std::free(img.pixels);
        fpmatch_template* t = nullptr;
        if (fpmatch_extract(p.px.data(), p.w, p.h, 0, &t) == FPMATCH_OK)
            g_templates.push_back(t);
        g_prints.push_back(std::move(p));
    }
}

// Per print: one NFIQ score (what the station computes for every print that lands).
void BM_NfiqCall(benchmark::State& state) {
    for (auto _ : state)
        for (const Print& p : g_prints)
            benchmark::DoNotOptimize(nfiq::assess(p.px.data(), p.w, p.h).score);
}
BENCHMARK(BM_NfiqCall)->Unit(benchmark::kMillisecond);

// Per print: one template.
void BM_Extract(benchmark::State& state) {
    for (auto _ : state)
        for (const Print& p : g_prints) {
            fpmatch_template* t = nullptr;
            fpmatch_extract(p.px.data(), p.w, p.h, 0, &t);
            fpmatch_free(t);
        }
}
BENCHMARK(BM_Extract)->Unit(benchmark::kMillisecond);

// Every pair of templates once: same and different fingers, mostly different.
void BM_ComparePairs(benchmark::State& state) {
    for (auto _ : state)
        for (size_t i = 0; i < g_templates.size(); ++i)
            for (size_t j = i + 1; j < g_templates.size(); ++j) {
                int s = 0;
                fpmatch_compare(g_templates[i], g_templates[j], &s);
                benchmark::DoNotOptimize(s);
            }
}
BENCHMARK(BM_ComparePairs)->Unit(benchmark::kMillisecond);

size_t pair_count() {
    const size_t n = g_templates.size();
    return n * (n - 1) / 2;
}

class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (!r.error_occurred && r.run_type == Run::RT_Iteration)
                ms_[r.benchmark_name()] = r.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        if (g_prints.empty() || !ms_.count("BM_NfiqCall") || !ms_.count("BM_Extract") ||
            !ms_.count("BM_ComparePairs"))
            return;
        const double n = static_cast<double>(g_prints.size());
        const double nfiq = ms_["BM_NfiqCall"] / n;
        const double extract = ms_["BM_Extract"] / n;
        const double compare = ms_["BM_ComparePairs"] / static_cast<double>(pair_count());
        std::printf("NFIQ call           %.3f ms per print (baseline)\n", nfiq);
        std::printf("template            %.3f ms per print, %.2f x NFIQ call\n", extract,
                    extract / nfiq);
        std::printf("one comparison      %.3f ms, %.3f x NFIQ call\n", compare, compare / nfiq);
        std::printf("landing check       %.3f ms (nine comparisons), %.3f x NFIQ call\n",
                    9 * compare, 9 * compare / nfiq);
    }

  private:
    std::map<std::string, double> ms_;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    load_prints();
    if (g_prints.empty())
        std::printf("no matcher fixtures beside the repository: nothing to measure\n");
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    for (fpmatch_template* t : g_templates)
        fpmatch_free(t);
    return 0;
}
