// WSQ speed: encode and decode per print, and BMP2WSQ run as a process per print (the way
// the station converts ten prints), against a process that does nothing as baseline.
// Uses the fixture prints beside the repository, or 500 x 500 synthetic prints without them.
#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "greyio.h"
#include "wsq_test_util.h"

using namespace wsqtest;
namespace fs = std::filesystem;

extern char** environ;

namespace {

struct Print {
    std::string name;
    Image im;
    Bytes bmp, wsq;
};

const std::vector<Print>& prints() {
    static const std::vector<Print> all = [] {
        std::vector<Print> v;
        const fs::path dir = fs::path(STATION_SHARED_DIR) / "fixtures" / "fingerprints";
        std::error_code ec;
        if (fs::is_directory(dir, ec)) {
            for (const auto& e : fs::directory_iterator(dir)) {
                if (e.path().extension() != ".bmp")
                    continue;
                Print p{e.path().filename().string(), {}, read_file(e.path()), {}};
                greyio_image b;
                if (greyio_bmp_decode(p.bmp.data(), p.bmp.size(), &b) != GREYIO_OK)
                    continue;
                p.im = {b.width, b.height, Bytes(b.pixels, b.pixels + size_t(b.width) * b.height)};
                std::free(b.pixels);
                v.push_back(std::move(p));
            }
        }
        if (v.empty()) {
            for (int i = 0; i < 10; ++i) {
                Print p{"synthetic", ridges(500, 500), {}, {}};
                uint8_t* out;
                size_t n;
                greyio_bmp_encode(p.im.px.data(), 500, 500, 500, &out, &n);
                p.bmp.assign(out, out + n);
                std::free(out);
                v.push_back(std::move(p));
            }
        }
        for (auto& p : v)
            p.wsq = encode(p.im);
        return v;
    }();
    return all;
}

double megapixels() {
    double n = 0;
    for (const auto& p : prints())
        n += double(p.im.width) * p.im.height;
    return n / 1e6;
}

void per_print_counters(benchmark::State& state) {
    const double n = double(prints().size());
    state.counters["per_print"] = benchmark::Counter(
        n, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["Mpx_per_s"] =
        benchmark::Counter(megapixels(), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_Encode(benchmark::State& state) {
    const double rate = state.range(0) / 100.0;
    for (auto _ : state) {
        for (const auto& p : prints()) {
            uint8_t* out;
            size_t n;
            wsq_encode(p.im.px.data(), p.im.width, p.im.height, p.im.width, 500, rate, nullptr,
                       &out, &n);
            benchmark::DoNotOptimize(out);
            wsq_free(out);
        }
    }
    per_print_counters(state);
}
BENCHMARK(BM_Encode)->Arg(75)->Arg(225)->Unit(benchmark::kMillisecond);

void BM_Decode(benchmark::State& state) {
    for (auto _ : state) {
        for (const auto& p : prints()) {
            wsq_image img;
            wsq_decode(p.wsq.data(), p.wsq.size(), nullptr, &img);
            benchmark::DoNotOptimize(img.pixels);
            wsq_free(img.pixels);
        }
    }
    per_print_counters(state);
}
BENCHMARK(BM_Decode)->Unit(benchmark::kMillisecond);

// Runs `program` once per print in a scratch folder, as the station runs its converter.
void run_per_print(benchmark::State& state, const std::string& program, bool convert) {
    std::string tmpl = (fs::temp_directory_path() / "wsq-bench-XXXXXX").string();
    const fs::path dir = mkdtemp(tmpl.data());
    for (size_t i = 0; i < prints().size(); ++i)
        write_file(dir / ("dedo" + std::to_string(i) + ".bmp"), prints()[i].bmp);
    const fs::path old = fs::current_path();
    fs::current_path(dir);
    auto child_cpu = [] {
        rusage u;
        getrusage(RUSAGE_CHILDREN, &u);
        return u.ru_utime.tv_sec + u.ru_stime.tv_sec +
               (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    };
    const double cpu0 = child_cpu();
    for (auto _ : state) {
        for (size_t i = 0; i < prints().size(); ++i) {
            std::string src = "dedo" + std::to_string(i) + ".bmp";
            std::string dst = "dedo" + std::to_string(i) + ".wsq";
            char* argv[] = {const_cast<char*>(program.c_str()), src.data(), dst.data(), nullptr};
            pid_t pid;
            if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ) != 0) {
                state.SkipWithError("cannot start the program");
                break;
            }
            int st;
            waitpid(pid, &st, 0);
            if (convert && !(WIFEXITED(st) && WEXITSTATUS(st) == 0))
                state.SkipWithError("conversion failed");
        }
    }
    fs::current_path(old);
    fs::remove_all(dir);
    per_print_counters(state);
    // CPU time of the child processes: on a busy machine wall time mostly shows the wait
    // for a core.
    state.counters["child_cpu_ms_per_print"] =
        (child_cpu() - cpu0) * 1000.0 / double(state.iterations() * prints().size());
}

// Baseline: starting and reaping a process that does nothing.
void BM_ProcessBaseline(benchmark::State& state) {
    run_per_print(state, "/bin/true", false);
}
BENCHMARK(BM_ProcessBaseline)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Bmp2WsqProcess(benchmark::State& state) {
    run_per_print(state, (fs::path(STATION_BIN_DIR) / "BMP2WSQ").string(), true);
}
BENCHMARK(BM_Bmp2WsqProcess)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
