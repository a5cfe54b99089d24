// The command-line tools as processes, one process a print as the station runs them, beside
// NIST's reference tools run on the same prints in the same run: BMP2WSQ against cwsq,
// wsqtool decode against dwsq, nfiqtool against nfiq, and each tool's start-up alone.
// Ours and NIST's alternate print by print, so that a busy machine slows both alike.
//
// NIST's tools are found in the folder named by the environment variable NBIS_BIN (their
// bin folder); without it only our figures and the do-nothing baseline are reported.
// Counters per benchmark: ours_ms and nist_ms (median wall time per print), ratio (ours /
// NIST of those medians), cpu_ratio (ratio of the children's CPU time, which on a shared
// machine says more than the wall time). Run with --benchmark_repetitions=N for the spread.
// Prints: the fixture prints beside the repository, or synthetic 500 x 500 prints. Work
// files go to a scratch folder under TMPDIR (outputs are flushed to that disk).
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "greyio.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

struct Print {
    std::string stem;
    uint32_t width = 0, height = 0;
};

// A folder with every print as BMP, raw pixels and WSQ, made once.
struct Workspace {
    fs::path dir;
    std::vector<Print> prints;
    Workspace() {
        std::string t = (fs::temp_directory_path() / "tools-bench-XXXXXX").string();
        dir = mkdtemp(t.data());
        const fs::path src = fs::path(STATION_SHARED_DIR) / "fixtures" / "fingerprints";
        std::vector<fs::path> files;
        std::error_code ec;
        if (fs::is_directory(src, ec))
            for (const auto& e : fs::directory_iterator(src))
                if (e.path().extension() == ".bmp")
                    files.push_back(e.path());
        std::sort(files.begin(), files.end());
        for (const auto& f : files) {
            greyio_image im;
            // NIST's tools refuse images under 256 pixels a side.
            if (greyio_bmp_load(f.c_str(), &im) != GREYIO_OK)
                continue;
            if (im.width >= 256 && im.height >= 256)
                add(f.stem().string(), im);
            std::free(im.pixels);
        }
        for (int i = 0; prints.empty() && i < 10; ++i) {
            greyio_image im{static_cast<uint8_t*>(std::malloc(500 * 500)), 500, 500, 500};
            for (int y = 0; y < 500; ++y)
                for (int x = 0; x < 500; ++x)
                    im.pixels[y * 500 + x] =
                        uint8_t(128 + 100 * std::sin(std::hypot(x - 240.0 - i, y - 260.0) * 0.6));
            add("synthetic" + std::to_string(i), im);
            std::free(im.pixels);
        }
        // WSQ inputs for the decoders, made by our converter; every tool gets inputs of
        // its own, since NIST's write their outputs beside their inputs.
        for (const auto& p : prints) {
            run({bin("BMP2WSQ"), p.stem + ".bmp", p.stem + ".wsq"});
            fs::copy_file(dir / (p.stem + ".wsq"), dir / (p.stem + ".dec.wsq"));
            fs::copy_file(dir / (p.stem + ".raw"), dir / (p.stem + ".enc.raw"));
        }
    }
    ~Workspace() { fs::remove_all(dir); }

    void add(const std::string& stem, const greyio_image& im) {
        uint8_t* bmp;
        size_t n;
        if (greyio_bmp_encode(im.pixels, im.width, im.height, 500, &bmp, &n) != GREYIO_OK)
            return;
        std::ofstream(dir / (stem + ".bmp"), std::ios::binary)
            .write(reinterpret_cast<const char*>(bmp), static_cast<std::streamsize>(n));
        std::free(bmp);
        std::ofstream(dir / (stem + ".raw"), std::ios::binary)
            .write(reinterpret_cast<const char*>(im.pixels),
                   static_cast<std::streamsize>(size_t(im.width) * im.height));
        prints.push_back({stem, im.width, im.height});
    }

    static std::string bin(const char* tool) { return std::string(STATION_BIN_DIR) + "/" + tool; }

    // Runs a command in the workspace. Returns wall and CPU seconds, or -1 on failure.
    struct Times {
        double wall = -1, cpu = 0;
    };
    Times run(std::vector<std::string> argv) const {
        std::vector<char*> args;
        for (auto& a : argv)
            args.push_back(a.data());
        args.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addchdir_np(&fa, dir.c_str());
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
        timespec t0, t1;
        clock_gettime(CLOCK_MONOTONIC, &t0);
        pid_t pid;
        Times t;
        if (posix_spawn(&pid, args[0], &fa, nullptr, args.data(), environ) == 0) {
            int st = 0;
            rusage ru{};
            wait4(pid, &st, 0, &ru);
            clock_gettime(CLOCK_MONOTONIC, &t1);
            if (WIFEXITED(st) && WEXITSTATUS(st) == 0) {
                t.wall = (t1.tv_sec - t0.tv_sec) + (t1.tv_nsec - t0.tv_nsec) / 1e9;
                t.cpu = ru.ru_utime.tv_sec + ru.ru_stime.tv_sec +
                        (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
            }
        }
        posix_spawn_file_actions_destroy(&fa);
        return t;
    }
};

const Workspace& workspace() {
    static const Workspace w;
    return w;
}

// NIST's bin folder from NBIS_BIN, or empty when it is not set or lacks the tools.
std::string nist_bin() {
    const char* d = std::getenv("NBIS_BIN");
    if (!d || !*d)
        return {};
    for (const char* t : {"cwsq", "dwsq", "nfiq"})
        if (access((std::string(d) + "/" + t).c_str(), X_OK) != 0)
            return {};
    return d;
}

using Command = std::function<std::vector<std::string>(const Print&, const std::string& nist)>;

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : (v[v.size() / 2] + v[(v.size() - 1) / 2]) / 2;
}

// Runs ours and NIST's command for every print, alternating which goes first.
void compare(benchmark::State& state, const Command& ours, const Command& nists) {
    const Workspace& ws = workspace();
    const std::string nist = nist_bin();
    std::vector<double> ow, nw;
    double ocpu = 0, ncpu = 0;
    bool flip = false;
    for (auto _ : state) {
        for (const Print& p : ws.prints) {
            for (int turn = 0; turn < 2; ++turn) {
                const bool mine = (turn == 0) != flip;
                if (!mine && nist.empty())
                    continue;
                const auto t = ws.run(mine ? ours(p, nist) : nists(p, nist));
                if (t.wall < 0) {
                    state.SkipWithError(
                        (std::string(mine ? "our" : "NIST's") + " tool failed on " + p.stem)
                            .c_str());
                    return;
                }
                (mine ? ow : nw).push_back(t.wall * 1e3);
                (mine ? ocpu : ncpu) += t.cpu;
            }
            flip = !flip;
        }
    }
    state.counters["ours_ms"] = median(ow);
    if (!nist.empty()) {
        state.counters["nist_ms"] = median(nw);
        state.counters["ratio"] = median(ow) / median(nw);
        state.counters["cpu_ratio"] = ocpu / ncpu;
    }
}

std::string res(const Print& p) {
    return std::to_string(p.width) + "," + std::to_string(p.height) + ",8,500";
}

void BM_Encode(benchmark::State& state) {
    compare(
        state,
        [](const Print& p, const std::string&) -> std::vector<std::string> {
            return {Workspace::bin("BMP2WSQ"), p.stem + ".bmp", p.stem + ".out.wsq"};
        },
        [](const Print& p, const std::string& nist) -> std::vector<std::string> {
            return {nist + "/cwsq", "0.75", "wsq", p.stem + ".enc.raw", "-raw_in", res(p)};
        });
}
BENCHMARK(BM_Encode)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_Decode(benchmark::State& state) {
    compare(
        state,
        [](const Print& p, const std::string&) -> std::vector<std::string> {
            return {Workspace::bin("wsqtool"), "decode", p.stem + ".wsq", p.stem + ".out.bmp"};
        },
        [](const Print& p, const std::string& nist) -> std::vector<std::string> {
            return {nist + "/dwsq", "raw", p.stem + ".dec.wsq"};
        });
}
BENCHMARK(BM_Decode)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_Nfiq(benchmark::State& state) {
    compare(
        state,
        [](const Print& p, const std::string&) -> std::vector<std::string> {
            return {Workspace::bin("nfiqtool"), p.stem + ".bmp"};
        },
        [](const Print& p, const std::string& nist) -> std::vector<std::string> {
            return {nist + "/nfiq", "-raw", res(p), p.stem + ".raw"};
        });
}
BENCHMARK(BM_Nfiq)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// Start-up and exit alone: each tool asked for its usage, NIST's for its version.
void BM_Startup(benchmark::State& state, const char* ours, const char* nists) {
    compare(
        state,
        [ours](const Print&, const std::string&) -> std::vector<std::string> {
            return {Workspace::bin(ours), "--help"};
        },
        [nists](const Print&, const std::string& nist) -> std::vector<std::string> {
            return {nist + "/" + nists, "-version"};
        });
}
BENCHMARK_CAPTURE(BM_Startup, BMP2WSQ_vs_cwsq, "BMP2WSQ", "cwsq")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK_CAPTURE(BM_Startup, wsqtool_vs_dwsq, "wsqtool", "dwsq")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK_CAPTURE(BM_Startup, nfiqtool_vs_nfiq, "nfiqtool", "nfiq")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// Baseline: a process that does nothing, started and reaped per print.
void BM_ProcessBaseline(benchmark::State& state) {
    compare(
        state,
        [](const Print&, const std::string&) -> std::vector<std::string> { return {"/bin/true"}; },
        [](const Print&, const std::string&) -> std::vector<std::string> { return {"/bin/true"}; });
}
BENCHMARK(BM_ProcessBaseline)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace

BENCHMARK_MAIN();
