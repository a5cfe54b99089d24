// Start-up of the station's windows to the first paint of the main window, beside a bare Qt
// main window shown and painted the same way. Reported as a ratio to the bare window.
#include "Errors.h"
#include "TrazelStartup.h"
#include "UTrazel.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

// Waits until a window has received its first paint event.
class PaintWatch : public QObject {
  public:
    bool painted = false;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint)
            painted = true;
        return false;
    }
    void Wait() {
        while (!painted)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
};

// Seconds from creating the windows to the first paint of the main window's client area.
double TrazelStartup() {
    QElapsedTimer t;
    t.start();
    CreateTrazelWindows({});
    FTrazel->TimerStart->stop(); // no capture: the start-up alone is measured
    PaintWatch watch;
    FTrazel->Client->installEventFilter(&watch);
    FTrazel->update();
    watch.Wait();
    const double s = t.nsecsElapsed() / 1e9;
    DestroyTrazelWindows();
    return s;
}

// The same for a bare main window of the same size.
double BareStartup() {
    QElapsedTimer t;
    t.start();
    auto* w = new QMainWindow;
    PaintWatch watch;
    w->installEventFilter(&watch);
    w->resize(564, 280);
    w->show();
    watch.Wait();
    const double s = t.nsecsElapsed() / 1e9;
    delete w;
    return s;
}

void BM_StartupToFirstPaint(benchmark::State& state) {
    QTemporaryDir dir; // the station deletes slot files of its working directory
    QDir::setCurrent(dir.path());
    double station = 0, bare = 0;
    for (auto _ : state) {
        const double b = BareStartup();
        const double s = TrazelStartup();
        bare += b;
        station += s;
        state.SetIterationTime(s);
    }
    state.counters["bare_ms"] = 1000 * bare / state.iterations();
    state.counters["x_bare"] = station / bare;
}

BENCHMARK(BM_StartupToFirstPaint)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    platform::StationApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
