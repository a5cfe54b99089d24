// Composing the ten-print card from the shipped template and ten fixture prints, against the
// file work it cannot avoid: reading the same eleven files and writing one file of the card's
// size, measured in the same run. The `x_baseline` counter is the ratio of the two.
#include "dibcard.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>

namespace {

double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

const char* const kPrints[10] = {
    "fvc2000_db1_101_1.bmp", "fvc2000_db1_102_4.bmp", "fvc2000_db2_101_1.bmp",
    "fvc2000_db2_102_8.bmp", "fvc2000_db3_101_1.bmp", "fvc2002_db1_101_1.bmp",
    "fvc2002_db1_102_5.bmp", "fvc2004_db1_101_1.bmp", "fvc2004_db1_102_1.bmp",
    "fvc2004_db4_102_5.bmp",
};

// A working folder holding the template and the ten prints as the station names them; empty
// when the shipped template or the fixtures are missing.
QString Workspace() {
    static QTemporaryDir dir;
    static const bool ready = [] {
        if (!QFile::copy(QStringLiteral(STATION_SOURCE_DIR "/assets/fmodelo.bemepe"),
                         dir.filePath(kCardTemplateName)))
            return false;
        const QDir prints(QStringLiteral(STATION_SHARED_DIR "/fixtures/fingerprints"));
        for (int n = 1; n <= 10; ++n)
            if (!QFile::copy(prints.filePath(QString::fromLatin1(kPrints[n - 1])),
                             dir.filePath(QStringLiteral("dedo%1.bmp").arg(n))))
                return false;
        QDir::setCurrent(dir.path());
        return true;
    }();
    return ready ? dir.path() : QString();
}

// Reads the eleven files whole and writes one file as large as the template.
void ReadAndWrite() {
    QByteArray card;
    for (int n = 0; n <= 10; ++n) {
        QFile f(n == 0 ? kCardTemplateName : QStringLiteral("dedo%1.bmp").arg(n));
        f.open(QIODevice::ReadOnly);
        QByteArray bytes = f.readAll();
        if (n == 0)
            card = std::move(bytes);
        benchmark::DoNotOptimize(bytes.data());
    }
    QFile out(QStringLiteral("copy.bmp"));
    out.open(QIODevice::WriteOnly | QIODevice::Truncate);
    out.write(card);
}

double BaselineSeconds() {
    static const double seconds = [] {
        double best = 1e9;
        for (int i = 0; i < 20; ++i) {
            const double t0 = CpuSeconds();
            ReadAndWrite();
            best = std::min(best, CpuSeconds() - t0);
        }
        return best;
    }();
    return seconds;
}

void BM_ReadAndWrite(benchmark::State& state) {
    if (Workspace().isEmpty()) {
        state.SkipWithError("the shipped template or ../shared/fixtures is missing");
        return;
    }
    for (auto _ : state)
        ReadAndWrite();
}
BENCHMARK(BM_ReadAndWrite)->Unit(benchmark::kMillisecond);

void BM_ComposeCard(benchmark::State& state) {
    if (Workspace().isEmpty()) {
        state.SkipWithError("the shipped template or ../shared/fixtures is missing");
        return;
    }
    const double t0 = CpuSeconds();
    for (auto _ : state)
        ComposeCard(QStringLiteral("card.bmp"), QStringLiteral("dedo"));
    const double perCard = (CpuSeconds() - t0) / static_cast<double>(state.iterations());
    state.counters["x_baseline"] = perCard / BaselineSeconds();
}
BENCHMARK(BM_ComposeCard)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
