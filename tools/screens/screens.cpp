// Renders the station's windows to PNG files, for looking at them without a display:
//   station_screens OUTDIR [PRINT.bmp ...]
// Prints given on the command line are loaded into the slots in order.
#include "Errors.h"
#include "TrazelStartup.h"
#include "UConfigTrazel.h"
#include "UInfoWnd.h"
#include "UProgreso.h"
#include "USplash.h"
#include "UTrazel.h"
#include "UVerDedo.h"

#include <QDir>
#include <QTemporaryDir>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    platform::StationApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2) {
        fprintf(stderr, "usage: station_screens OUTDIR [PRINT.bmp ...]\n");
        return 2;
    }
    QDir out(args[1]);
    out.mkpath(".");
    QTemporaryDir work;
    QDir::setCurrent(work.path());

    CreateTrazelWindows({QStringLiteral("EXP-0001")});
    FTrazel->TimerStart->stop();
    FSplash->grab().save(out.filePath("splash.png"));
    FSplash->close();
    for (int i = 2; i < args.size() && i - 1 <= 10; ++i) {
        TImageViewer* v = FTrazel->SlotViewer(i - 1);
        if (v->LoadFromFile(args[i]))
            TFTrazel::FitToViewer(v);
    }
    FTrazel->resize(900, 500);
    QCoreApplication::processEvents();
    FTrazel->grab().save(out.filePath("main.png"));
    FConfigTrazel->show();
    FConfigTrazel->grab().save(out.filePath("config.png"));
    FConfigTrazel->hide();
    if (args.size() > 2) {
        FVerDedo->imgHuella->LoadFromFile(args[2]);
        FVerDedo->setWindowTitle(TFTrazel::FingerDisplayName(1));
        FVerDedo->show();
        FVerDedo->grab().save(out.filePath("verdedo.png"));
        FVerDedo->hide();
    }
    TInfoWnd info;
    info.ShowInfo(QStringLiteral("Imprimiendo ficha"));
    info.AddStep(QStringLiteral("Componiendo imagen"));
    info.StepOk();
    info.grab().save(out.filePath("info.png"));
    TFProgreso progress;
    progress.progressBar->setValue(4);
    progress.show();
    progress.grab().save(out.filePath("progress.png"));
    DestroyTrazelWindows();
    printf("screenshots in %s\n", qPrintable(out.absolutePath()));
    return 0;
}
