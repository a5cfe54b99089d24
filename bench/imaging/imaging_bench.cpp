// The station's way of producing a WSQ file (the converter run as a process for one print,
// waited for with the painting wait) against a bare in-process encode of the same print, and
// the station's NFIQ scoring (trim, top-down copy, library call) against a bare library call
// on a prepared buffer. Each pair is measured in the same run; the `x_baseline` counter of the
// station's side is its time divided by the bare one's.
#include "DibViewer.h"
#include "GBNFIQ.h"
#include "NFIQUtil.h"
#include "WsqConvert.h"
#include "dibutils.h"
#include "greyio.h"
#include "wsq.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

double WallSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

// A fixture print when the reference data is there, else a synthetic ridge pattern; either way
// a print of odd width, so that the scoring's trim has work to do.
QString PrintFile(const QTemporaryDir& dir) {
    const QString fixture =
        QStringLiteral(STATION_SHARED_DIR "/fixtures/fingerprints/fvc2000_db3_103_5_crop318.bmp");
    const QString target = dir.filePath("dedo1.bmp");
    if (!QFile::exists(target)) {
        if (!QFile::exists(fixture) || !QFile::copy(fixture, target)) {
            auto b = DibBlock::CreateGrey(357, 401);
            for (int r = 0; r < 401; ++r)
                for (int x = 0; x < 357; ++x)
                    b->StoredRow(r)[x] = static_cast<uint8_t>(((x + r) / 5) % 2 ? 40 : 220);
            SaveBmpData(*b, target, b->Size());
        }
    }
    return target;
}

QTemporaryDir& ProgramDir() {
    static QTemporaryDir dir;
    return dir;
}

double gEncodeSeconds = 0, gNfiqSeconds = 0;

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Baseline: read the bitmap, encode it and write the WSQ file, all in this process.
void BM_EncodeInProcess(benchmark::State& state) {
    const QString bmp = PrintFile(ProgramDir());
    const QString wsqPath = ProgramDir().filePath("inproc.wsq");
    const double t0 = WallSeconds();
    for (auto _ : state) {
        const QByteArray data = ReadAll(bmp);
        greyio_image image;
        if (greyio_bmp_decode(reinterpret_cast<const uint8_t*>(data.constData()),
                              static_cast<size_t>(data.size()), &image) != 0) {
            state.SkipWithError("the print cannot be read");
            return;
        }
        uint8_t* out = nullptr;
        size_t len = 0;
        const int rc = wsq_encode(image.pixels, image.width, image.height, image.width, 500,
                                  WSQ_BITRATE_DEFAULT, nullptr, &out, &len);
        std::free(image.pixels);
        if (rc != 0) {
            state.SkipWithError("encode failed");
            return;
        }
        QFile f(wsqPath);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(reinterpret_cast<const char*>(out), static_cast<qint64>(len));
        wsq_free(out);
    }
    gEncodeSeconds = (WallSeconds() - t0) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_EncodeInProcess)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_ConvertToWsq(benchmark::State& state) {
    QTemporaryDir& dir = ProgramDir();
    PrintFile(dir);
    const QString converter = QDir(dir.path()).filePath(kWsqConverterName);
    if (!QFile::exists(converter) &&
        !QFile::copy(QStringLiteral(STATION_BIN_DIR "/") + kWsqConverterName, converter)) {
        state.SkipWithError("BMP2WSQ is not part of this build");
        return;
    }
    const double t0 = WallSeconds();
    for (auto _ : state) {
        QString error;
        if (!ConvertToWsq("dedo1.bmp", "dedo1.wsq", error, dir.path())) {
            state.SkipWithError(error.toUtf8().constData());
            return;
        }
    }
    const double per = (WallSeconds() - t0) / static_cast<double>(state.iterations());
    if (gEncodeSeconds > 0)
        state.counters["x_baseline"] = per / gEncodeSeconds;
}
BENCHMARK(BM_ConvertToWsq)->UseRealTime()->Unit(benchmark::kMillisecond);

using Holder = TDibHolder;

bool NfiqReady() {
    // The library lies in the program folder of the build; the loader also looks in the
    // working folder.
    QDir::setCurrent(QStringLiteral(STATION_BIN_DIR));
    return NfiqLibraryLoaded();
}

// Baseline: the library on a buffer prepared once (trimmed, top row first).
void BM_NfiqDirect(benchmark::State& state) {
    if (!NfiqReady()) {
        state.SkipWithError("libGBNFIQ.so is not part of this build");
        return;
    }
    auto block = LoadBmpData(PrintFile(ProgramDir()));
    const int w = block->Width() - block->Width() % 4, h = block->Height();
    std::vector<unsigned char> buffer(static_cast<size_t>(w) * h);
    for (int b = 0; b < h; ++b)
        std::memcpy(buffer.data() + static_cast<size_t>(h - 1 - b) * w, block->StoredRow(b), w);
    const GbnfiqGetImageQualityFn quality = NfiqGetImageQuality();
    const double t0 = WallSeconds();
    for (auto _ : state) {
        int score = 0;
        benchmark::DoNotOptimize(quality(buffer.data(), w, h, &score, 0));
    }
    gNfiqSeconds = (WallSeconds() - t0) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_NfiqDirect)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_ScoreFingerImage(benchmark::State& state) {
    if (!NfiqReady()) {
        state.SkipWithError("libGBNFIQ.so is not part of this build");
        return;
    }
    auto original = LoadBmpData(PrintFile(ProgramDir()));
    Holder viewer;
    const double t0 = WallSeconds();
    for (auto _ : state) {
        state.PauseTiming();
        viewer.FImage = std::make_unique<DibBlock>(*original); // untrimmed each time
        state.ResumeTiming();
        int32_t score = 0;
        benchmark::DoNotOptimize(ScoreFingerImage(viewer, score));
    }
    const double per = (WallSeconds() - t0) / static_cast<double>(state.iterations());
    if (gNfiqSeconds > 0)
        state.counters["x_baseline"] = per / gNfiqSeconds;
}
BENCHMARK(BM_ScoreFingerImage)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv); // the converter's wait runs an event loop
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
