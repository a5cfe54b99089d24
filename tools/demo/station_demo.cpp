// A whole set through the real ten-print windows against the simulated IB scanner: ten
// captures with automatic advance, one finger marked amputated through its menu, the set
// saved through "&Grabar" and the card printed to a PDF file through the card's print path.
//
//   station_demo [--fast] [--bin DIR] [OUTDIR]
//
// OUTDIR (default: a new folder under the temporary folder) receives a screenshot of each
// stage, card.pdf, summary.txt and, in OUTDIR/station, the scratch program folder the station
// ran in (links to what the real program folder holds, the twenty files of the set). DIR is
// the real program folder (default: ../bin beside this program). Without a display the
// windows run offscreen; with one they show, with pauses between the stages. --fast runs the
// simulator's clock as fast as it can (no capture window to catch then).
#include "IBScanSim.h"
#include "IntegratedBiometrics.h"
#include "Modules.h"
#include "Paths.h"
#include "Report.h"
#include "TrazelStartup.h"
#include "UConfigTrazel.h"
#include "UTrazel.h"
#include "urpficha.h"

#include "Errors.h"

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int kAmputatedSlot = 7; // "Indice Izquierdo"

struct Stage {
    QString name;
    qint64 ms;
};

bool gShowing = false; // a real display: pause so that a viewer can follow

// Runs the simulator and the event loop until done() holds or ms pass; each pass also runs
// tick(), when given.
bool WaitFor(const std::function<bool()>& done, int ms, const std::function<void()>& tick = {}) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        IBSIM_WaitIdle();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (tick)
            tick();
        if (done())
            return true;
    }
    return done();
}

void Pause(int ms) {
    if (gShowing)
        WaitFor([] { return false; }, ms);
}

bool Save(QWidget* w, const QDir& out, const QString& name) {
    const bool ok = w->grab().save(out.filePath(name));
    printf("   %s %s\n", ok ? "wrote" : "could not write", qPrintable(name));
    return ok;
}

// Links what the real program folder holds for the station into the scratch folder.
QStringList LinkProgramFolder(const QDir& bin, const QDir& scratch) {
    QStringList missing;
    for (const char* name :
         {"BMP2WSQ", "libGBNFIQ.so", "libWSQPACK.so", "Amputado.BMP", "fmodelo.bemepe"}) {
        const QString source = bin.filePath(QString::fromLatin1(name));
        if (!QFileInfo::exists(source) || !QFile::link(source, scratch.filePath(name)))
            missing << QString::fromLatin1(name);
    }
    return missing;
}

QString SizeLine(const QFileInfo& f) {
    return QStringLiteral("  %1 %2\n").arg(f.fileName(), -16).arg(f.exists() ? f.size() : -1, 9);
}

} // namespace

int main(int argc, char** argv) {
    gShowing =
        !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !gShowing)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    gShowing = gShowing && qEnvironmentVariable("QT_QPA_PLATFORM") != QLatin1String("offscreen");
    // The ScanMan road stays idle: no drop folder shared with other programs.
    if (qEnvironmentVariableIsEmpty("SCANMAN_BACKEND")) {
        qputenv("SCANMAN_BACKEND", "sim");
        qputenv("SCANMAN_DROP_DIR", "-");
    }
    platform::StationApplication app(argc, argv);

    bool fast = false;
    QString binFolder = QCoreApplication::applicationDirPath() + QStringLiteral("/../bin");
    QString outFolder;
    const QStringList args = QCoreApplication::arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--fast"))
            fast = true;
        else if (args[i] == QLatin1String("--bin") && i + 1 < args.size())
            binFolder = args[++i];
        else if (args[i].startsWith(QLatin1Char('-'))) {
            fprintf(stderr, "usage: station_demo [--fast] [--bin DIR] [OUTDIR]\n");
            return 2;
        } else
            outFolder = args[i];
    }
    if (outFolder.isEmpty()) {
        QTemporaryDir made(QDir::tempPath() + QStringLiteral("/station-demo-XXXXXX"));
        made.setAutoRemove(false);
        outFolder = made.path();
    }
    QDir out(outFolder);
    out.mkpath(QStringLiteral("."));
    out.setPath(out.absolutePath());
    // A fresh scratch program folder: the station deletes and writes slot files in it.
    QDir scratch(out.filePath(QStringLiteral("station")));
    // Nothing of an earlier run may pass for this run's output.
    for (const char* name : {"1-captures.png", "2-capture.png", "3-amputation.png", "4-card.png",
                             "card.pdf", "summary.txt"})
        QFile::remove(out.filePath(QString::fromLatin1(name)));
    if (scratch.exists())
        scratch.removeRecursively();
    out.mkpath(QStringLiteral("station"));
    const QStringList missing =
        LinkProgramFolder(QDir(QFileInfo(binFolder).canonicalFilePath()), scratch);
    if (!missing.isEmpty()) {
        fprintf(stderr, "station_demo: not in the program folder %s: %s\n", qPrintable(binFolder),
                qPrintable(missing.join(QStringLiteral(", "))));
        return 1;
    }
    QDir::setCurrent(scratch.path());
    platform::SetProgramFolderForTesting(scratch.path());

    std::vector<Stage> stages;
    QElapsedTimer total, stage;
    total.start();
    stage.start();
    auto endStage = [&](const QString& name) {
        stages.push_back({name, stage.elapsed()});
        printf("== %s: %lld ms\n", qPrintable(name), static_cast<long long>(stage.elapsed()));
        stage.restart();
    };
    auto fail = [&](const char* what) {
        fprintf(stderr, "station_demo: %s; files so far in %s\n", what, qPrintable(out.path()));
        return 1;
    };

    const QString failure = StartModules();
    if (!failure.isEmpty()) {
        fprintf(stderr, "station_demo: %s\n", qPrintable(failure));
        return 1;
    }
    IBSIM_Reset(nullptr, nullptr);
    IBSIM_SetClock(fast ? IBSIM_CLOCK_IMMEDIATE : IBSIM_CLOCK_REALTIME);
    endStage(QStringLiteral("start"));

    // The windows as the program creates them: the start timer closes the splash, maximises
    // the main window and asks for the first finger.
    CreateTrazelWindows({QStringLiteral("DEMO-0001")});
    FConfigTrazel->cbScannerType->setCurrentIndex(kScannerIBFlat);
    FConfigTrazel->cbAutoAvance->setChecked(true);

    // Ten captures. While a capture runs, its window is grabbed every pass; the last picture
    // before the window hides is kept (the finger lies on the platen by then).
    QImage captureShot;
    int captureShotSlot = 0;
    const bool captured = WaitFor(
        [&] {
            return FTrazel->focusWidget() == FTrazel->btGrabar &&
                   !FIntegratedBiometrics->isVisible() && QFile::exists(TFTrazel::SlotFile(10));
        },
        120000,
        [&] {
            if (FIntegratedBiometrics->isVisible() && FTrazel->CurrentSlot() == 2) {
                captureShot = FIntegratedBiometrics->grab().toImage();
                captureShotSlot = 2;
            }
        });
    if (!captured)
        return fail("the ten captures did not complete");
    endStage(QStringLiteral("ten captures"));
    if (!captureShot.isNull() && captureShot.save(out.filePath(QStringLiteral("2-capture.png"))))
        printf("   wrote 2-capture.png (slot %d)\n", captureShotSlot);
    Save(FTrazel, out, QStringLiteral("1-captures.png"));
    Pause(1500);
    stage.restart(); // the timings leave the pauses out

    // The amputation, through its menu item.
    std::vector<int> scores(11), statuses(11);
    const int scoreBefore = FTrazel->QualityScore(kAmputatedSlot);
    FTrazel->amp_d[kAmputatedSlot - 1]->trigger();
    QCoreApplication::processEvents();
    if (FTrazel->CurrentSlot() != kAmputatedSlot)
        return fail("the amputation did not select its slot");
    for (int n = 1; n <= 10; ++n) {
        scores[n] = FTrazel->QualityScore(n);
        statuses[n] = FTrazel->QualityStatus(n);
    }
    endStage(QStringLiteral("amputation"));
    Save(FTrazel, out, QStringLiteral("3-amputation.png"));
    Pause(1500);
    stage.restart();

    // The save of the set; the main window closes when it succeeds.
    FTrazel->btGrabarClick();
    QCoreApplication::processEvents();
    const QString saveLine = FTrazel->lblMsg->text();
    endStage(QStringLiteral("save"));
    for (int n = 1; n <= 10; ++n)
        if (!QFile::exists(QStringLiteral("dedo%1.wsq").arg(n)))
            return fail("the save did not write the ten WSQ files");
    Pause(1000);
    stage.restart();

    // The card, through the main window's print handler; the preview prints to a PDF file.
    const QString pdf = out.filePath(QStringLiteral("card.pdf"));
    QFile::remove(pdf);
    bool printed = false;
    const auto previous =
        report::Report::SetPreviewHook([&](report::Report& r) { printed = r.PrintToPdf(pdf); });
    FTrazel->btPrintClick();
    report::Report::SetPreviewHook(previous);
    if (!printed)
        return fail("the card was not printed");
    endStage(QStringLiteral("card"));
    if (!QStandardPaths::findExecutable(QStringLiteral("pdftoppm")).isEmpty()) {
        QProcess::execute(QStringLiteral("pdftoppm"),
                          {QStringLiteral("-r"), QStringLiteral("80"), QStringLiteral("-png"),
                           QStringLiteral("-singlefile"), pdf,
                           out.filePath(QStringLiteral("4-card"))});
        if (QFile::exists(out.filePath(QStringLiteral("4-card.png"))))
            printf("   wrote 4-card.png\n");
    } else {
        printf("   pdftoppm not installed: no picture of the card page\n");
    }

    DestroyTrazelWindows();
    EndModules();
    platform::SetProgramFolderForTesting(QString());

    // The summary.
    QFile summaryFile(out.filePath(QStringLiteral("summary.txt")));
    if (!summaryFile.open(QIODevice::WriteOnly | QIODevice::Text))
        return fail("cannot write summary.txt");
    QTextStream s(&summaryFile);
    s << "Station demo: reference DEMO-0001, simulated IB scanner ("
      << (fast ? "immediate" : "real-time") << " clock), "
      << (gShowing ? "on the display" : "offscreen") << "\n\n";
    s << "NFIQ per slot (1 best .. 5 worst; status 0 = scored without complaint):\n";
    for (int n = 1; n <= 10; ++n) {
        s << QStringLiteral("  %1 %2 NFIQ %3 status %4")
                 .arg(n, 2)
                 .arg(TFTrazel::FingerDisplayName(n), -18)
                 .arg(scores[n])
                 .arg(statuses[n]);
        if (n == kAmputatedSlot)
            s << QStringLiteral("  (amputated; the capture scored %1)").arg(scoreBefore);
        s << "\n";
    }
    s << "\nMessage line after the save: " << saveLine << "\n";
    s << "\nFiles of the set (station/):\n";
    for (const char* ext : {"bmp", "wsq"})
        for (int n = 1; n <= 10; ++n)
            s << SizeLine(QFileInfo(scratch.filePath(QStringLiteral("dedo%1.%2").arg(n).arg(ext))));
    s << "\nOutput:\n";
    for (const QFileInfo& f : out.entryInfoList(QDir::Files, QDir::Name))
        if (f.fileName() != QLatin1String("summary.txt"))
            s << SizeLine(f);
    s << "\nTimings:\n";
    for (const Stage& st : stages)
        s << QStringLiteral("  %1 %2 ms\n").arg(st.name, -14).arg(st.ms, 7);
    s << QStringLiteral("  %1 %2 ms\n").arg(QStringLiteral("total"), -14).arg(total.elapsed(), 7);
    summaryFile.close();
    printf("\n%s", qPrintable([&] {
               QFile f(summaryFile.fileName());
               f.open(QIODevice::ReadOnly);
               return QString::fromUtf8(f.readAll());
           }()));
    printf("\nDemo output in %s\n", qPrintable(out.path()));
    return 0;
}
