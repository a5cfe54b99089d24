// One capture through the capture window, from the start of the request (which begins the
// capture with the SDK) to OnCaptureDone, with the simulator in its fastest mode; beside it,
// one NFIQ call on the image that capture saved, as the baseline of the same run. The window
// closes 50 ms after saving (its hide timer), which sets a floor under the capture time.
#include "Beeper.h"
#include "IntegratedBiometrics.h"

#include <IBScanSim.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

const char* kScenario = "[sim]\nclock = immediate\n"
                        "[scanner.1]\nmodel = WATSON\n"
                        "[capture]\nfinger_ms = 0\nstable_ms = 0\n";

QString NfiqLibrary() {
    return QDir(QStringLiteral(STATION_BIN_DIR)).filePath("libGBNFIQ.so");
}

struct Station {
    QTemporaryDir dir;
    std::unique_ptr<TFIntegratedBiometrics> window;
    bool done = false;

    Station() {
        platform::SetBeepSinkForTesting([](const platform::BeepPattern&) {});
        IBSIM_Reset(kScenario, nullptr);
        if (QFile::exists(NfiqLibrary()))
            IBSIM_SetNfiqLibrary(NfiqLibrary().toLocal8Bit().constData());
        window = std::make_unique<TFIntegratedBiometrics>();
        QCoreApplication::processEvents();
        Capture(); // the first request also opens the scanner
    }

    void Capture() {
        done = false;
        window->RequestCapture(
            1, dir.filePath("dedo1.bmp"), "Pulgar Derecho", 0, [this] { done = true; }, [] {});
        while (!done)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
};

Station& TheStation() {
    static Station s;
    return s;
}

// Argument 1: with the NFIQ box ticked (the window's default: the result handler scores
// every finger before the window closes); 0: without, to show what scoring adds.
void BM_CaptureToDone(benchmark::State& state) {
    Station& s = TheStation();
    s.window->m_chkNFIQScore->setChecked(state.range(0) != 0);
    for (auto _ : state)
        s.Capture();
    s.window->m_chkNFIQScore->setChecked(true);
    state.counters["nfiq_library"] = QFile::exists(NfiqLibrary()) ? 1 : 0;
}
BENCHMARK(BM_CaptureToDone)
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);

void BM_NfiqOneCall(benchmark::State& state) {
    Station& s = TheStation();
    if (!QFile::exists(NfiqLibrary())) {
        state.SkipWithError("libGBNFIQ.so is not in the program folder: no NFIQ baseline");
        return;
    }
    QImage img(s.dir.filePath("dedo1.bmp"));
    img = img.convertToFormat(QImage::Format_Grayscale8);
    std::vector<uint8_t> pixels(static_cast<std::size_t>(img.width()) * img.height());
    for (int y = 0; y < img.height(); ++y)
        std::memcpy(pixels.data() + static_cast<std::size_t>(y) * img.width(), img.constScanLine(y),
                    img.width());
    int score = 0;
    for (auto _ : state) {
        const int r = IBSU_GetNFIQScore(s.window->DeviceHandle(), pixels.data(), img.width(),
                                        img.height(), 8, &score);
        benchmark::DoNotOptimize(r);
    }
    state.counters["score"] = score;
    state.counters["width"] = img.width();
    state.counters["height"] = img.height();
}
BENCHMARK(BM_NfiqOneCall)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    TheStation().window.reset();
    benchmark::Shutdown();
    return 0;
}
