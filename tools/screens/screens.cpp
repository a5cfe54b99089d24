// Renders the station's windows in every state an operator meets to PNG files, and a contact
// sheet of them all, for looking at them without a person at the desk:
//   station_screens OUTDIR [PRINT.bmp ...]
// Prints given on the command line are loaded into the slots in order; without them, synthetic
// ridge patterns are used. The main window is drawn at its design size and at the size of the
// screen's available area (maximised); run under xvfb-run with -s "-screen 0 1024x768x24" (or
// any other size) to see it on that screen. captions.txt lists the title of every window drawn.
#include "Errors.h"
#include "IntegratedBiometrics.h"
#include "MessageBox.h"
#include "TrazelStartup.h"
#include "UConfigTrazel.h"
#include "UInfoWnd.h"
#include "UProgreso.h"
#include "USplash.h"
#include "UTrazel.h"
#include "UVerDedo.h"
#include "urpficha.h"

#include <IBScanSim.h>

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPrintPreviewDialog>
#include <QScreen>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <cmath>
#include <functional>
#include <vector>

namespace {

struct Shot {
    QString name;
    QString caption;
    QImage image;
};

std::vector<Shot> gShots;
QDir gOut;

void Save(const QString& name, QWidget* w, const QString& caption = QString()) {
    QCoreApplication::processEvents();
    const QImage image = w->grab().toImage();
    image.save(gOut.filePath(name + QStringLiteral(".png")));
    gShots.push_back({name, caption.isEmpty() ? w->windowTitle() : caption, image});
}

// An 8-bit grey print of concentric ridges, 500 ppi-like spacing (about 9 pixels a ridge).
QString MakePrint(const QDir& dir, int width, int height) {
    QImage print(width, height, QImage::Format_Indexed8);
    QList<QRgb> grey;
    for (int i = 0; i < 256; ++i)
        grey << qRgb(i, i, i);
    print.setColorTable(grey);
    const double cx = width / 2.0, cy = height * 0.45;
    for (int y = 0; y < height; ++y) {
        uchar* row = print.scanLine(y);
        for (int x = 0; x < width; ++x) {
            const double dx = (x - cx) / (width * 0.42), dy = (y - cy) / (height * 0.46);
            const double r = std::sqrt(dx * dx + dy * dy);
            const double ridge = 0.5 + 0.5 * std::cos(std::hypot(x - cx, (y - cy) * 0.8) / 1.45);
            row[x] = r < 1 ? static_cast<uchar>(255 - 200 * ridge) : 255;
        }
    }
    const QString file = dir.filePath(QStringLiteral("print-%1x%2.bmp").arg(width).arg(height));
    print.save(file);
    return file;
}

// Runs every simulator event and posted message.
void Settle(TFIntegratedBiometrics& w) {
    for (int i = 0; i < 200 && w.Opening(); ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
    for (int i = 0; i < 6; ++i) {
        IBSIM_WaitIdle();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
    QThread::msleep(60);
    QCoreApplication::processEvents();
}

void CaptureStates(const QDir& work) {
    const char* kOneWatson = "[sim]\nclock = manual\n[scanner.1]\nmodel = WATSON\nserial = S1\n";
    const auto fresh = [&](const char* scenario) {
        IBSIM_Reset(scenario, nullptr);
        auto w = std::make_unique<TFIntegratedBiometrics>();
        w->SetFingerName(QStringLiteral("Pulgar Derecho"));
        w->SetOutputFile(work.filePath(QStringLiteral("dedo1.bmp")));
        w->OnCaptureClosed = [] {};
        w->OnCaptureDone = [] {};
        w->m_chkSaveImages->setChecked(false); // the window stays open on the result
        Settle(*w);
        return w;
    };
    {
        auto w = fresh("[sim]\nclock = manual\n");
        w->show();
        Settle(*w);
        Save(QStringLiteral("capture-1-no-scanner"), w.get());
    }
    {
        IBSIM_Reset(kOneWatson, nullptr);
        IBSIM_ForceOpenResult(1, IBSU_WRN_OLD_FIRMWARE);
        auto w = std::make_unique<TFIntegratedBiometrics>();
        w->SetFingerName(QStringLiteral("Pulgar Derecho"));
        w->OnCaptureClosed = [] {};
        w->OnCaptureDone = [] {};
        Settle(*w);
        w->m_cboCaptureSeq->setCurrentIndex(1);
        w->show();
        Settle(*w);
        Save(QStringLiteral("capture-2-open-warning"), w.get());
    }
    {
        auto w = fresh(kOneWatson);
        w->m_chkAutoCapture->setChecked(false);
        w->m_cboCaptureSeq->setCurrentIndex(1);
        w->show();
        Settle(*w);
        Save(QStringLiteral("capture-3-manual-prompt"), w.get());
    }
    {
        IBSIM_SetNfiqLibrary(nullptr);
        auto w = fresh(kOneWatson);
        w->m_cboCaptureSeq->setCurrentIndex(1);
        w->show();
        Settle(*w);
        int q[] = {1, 2, 0, 0};
        IBSIM_PlaceFinger(1, q, 4);
        Settle(*w);
        Save(QStringLiteral("capture-4-finger-on"), w.get());
        IBSIM_ForceResult(1, 0, 2, 2);
        IBSIM_CompleteCapture(1);
        Settle(*w);
        Save(QStringLiteral("capture-5-result"), w.get());
        IBSIM_DetachScanner(1);
        Settle(*w);
        Settle(*w);
        Save(QStringLiteral("capture-7-scanner-lost"), w.get());
        int id = 0;
        IBSIM_AttachScanner("WATSON", "S1", nullptr, &id);
        Settle(*w);
        Save(QStringLiteral("capture-8-scanner-back"), w.get());
    }
    {
        auto w = fresh(kOneWatson);
        w->m_cboCaptureSeq->setCurrentIndex(1);
        w->show();
        Settle(*w);
        IBSIM_ForceResult(1, IBSU_ERR_CAPTURE_FAILED, -1, -1);
        int q[] = {1};
        IBSIM_PlaceFinger(1, q, 1);
        Settle(*w);
        IBSIM_CompleteCapture(1);
        Settle(*w);
        Save(QStringLiteral("capture-6-error-result"), w.get());
    }
}

// Lays the shots out in rows, each with its file name and window title under it.
void ContactSheet(const QString& file) {
    const int width = 2000, gap = 16, label = 34;
    struct Place {
        QPoint at;
        const Shot* shot;
    };
    std::vector<Place> places;
    int x = gap, y = gap, rowHeight = 0;
    for (const Shot& s : gShots) {
        const QSize size = s.image.size().boundedTo(QSize(width - 2 * gap, 1200));
        if (x + size.width() + gap > width) {
            x = gap;
            y += rowHeight + label + gap;
            rowHeight = 0;
        }
        places.push_back({QPoint(x, y), &s});
        x += std::max(size.width(), 200) + gap;
        rowHeight = std::max(rowHeight, size.height());
    }
    QImage sheet(width, y + rowHeight + label + gap, QImage::Format_RGB32);
    sheet.fill(QColor(90, 90, 110));
    QPainter p(&sheet);
    QFont f(QStringLiteral("Liberation Sans"));
    f.setPixelSize(12);
    p.setFont(f);
    for (const Place& pl : places) {
        p.drawImage(pl.at, pl.shot->image);
        p.setPen(Qt::white);
        const QRect text(pl.at.x(), pl.at.y() + pl.shot->image.height() + 2,
                         std::max(pl.shot->image.width(), 200), label);
        p.drawText(text, Qt::TextWordWrap, pl.shot->name + QStringLiteral(": ") + pl.shot->caption);
    }
    p.end();
    sheet.save(file);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    platform::StationApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("TrazelIB"));
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2) {
        fprintf(stderr, "usage: station_screens OUTDIR [PRINT.bmp ...]\n");
        return 2;
    }
    gOut = QDir(args[1]);
    gOut.mkpath(".");
    QTemporaryDir work;
    QDir::setCurrent(work.path());
    const QDir workDir(work.path());
    {
        QFile ini(workDir.filePath(QStringLiteral("TrazelIB.INI")));
        if (ini.open(QIODevice::WriteOnly))
            ini.write("[Config]\r\nScannerType=2 ; lector U.are.U\r\n");
    }

    QStringList prints = args.mid(2);
    if (prints.isEmpty())
        prints = {MakePrint(workDir, 230, 300), MakePrint(workDir, 400, 500),
                  MakePrint(workDir, 800, 750)};

    CreateTrazelWindows({QStringLiteral("EXP-2024/0001")});
    FTrazel->TimerStart->stop();
    Save(QStringLiteral("splash"), FSplash);
    FSplash->close();
    for (int i = 0; i < prints.size() && i < 10; ++i) {
        TImageViewer* v = FTrazel->SlotViewer(i + 1);
        if (v->LoadFromFile(prints[i]))
            TFTrazel::FitToViewer(v);
    }
    FTrazel->ShowMessageLine(QStringLiteral("NFIQ Meñique Izquierdo: 0 (Error Falta memoria para "
                                            "procesar la imagen) - Promedio: 0 (Error)"));
    FTrazel->show();
    Save(QStringLiteral("main-design"), FTrazel);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        FTrazel->resize(area.width(), area.height() - 30);
        Save(QStringLiteral("main-maximised-%1x%2").arg(area.width()).arg(area.height()), FTrazel);
    }
    FTrazel->hide();

    {
        // On a settings file whose scanner type carries a comment.
        TFConfigTrazel config(nullptr, workDir.filePath(QStringLiteral("TrazelIB.INI")));
        config.show();
        Save(QStringLiteral("config"), &config);
    }
    {
        // Qt's own texts: a text field's context menu and the file dialog.
        QLineEdit field;
        field.setText(QStringLiteral("EXP-2024/0001"));
        field.show();
        const std::unique_ptr<QMenu> menu(field.createStandardContextMenu());
        menu->popup(QPoint(100, 100));
        Save(QStringLiteral("context-menu"), menu.get(), QStringLiteral("(menú del campo Ref:)"));
        menu->hide();
        QFileDialog files(nullptr, QStringLiteral("Guardar como"), workDir.path());
        files.setOption(QFileDialog::DontUseNativeDialog);
        files.resize(640, 420);
        files.show();
        Save(QStringLiteral("file-dialog"), &files);
    }

    for (const QString& file : prints) {
        FVerDedo->imgHuella->LoadFromFile(file);
        FVerDedo->setWindowTitle(QStringLiteral("Indice Derecho - NFIQ: 2 (Muy buena)"));
        FVerDedo->show();
        Save(QStringLiteral("verdedo-%1").arg(FVerDedo->imgHuella->ImageWidth()), FVerDedo);
        FVerDedo->hide();
    }

    {
        TInfoWnd info;
        info.ShowInfo(QStringLiteral("Generación de la ficha completa"));
        info.AddStep(QStringLiteral("Por favor, espera mientras se genera la imágen"));
        info.StepOk();
        info.AddStep(QStringLiteral("Guardando"));
        Save(QStringLiteral("info"), &info, QStringLiteral("(sin título)"));
    }
    {
        TFProgreso progress;
        progress.setWindowTitle(QStringLiteral("Grabando la ficha..."));
        progress.progressBar->setValue(1);
        progress.show();
        Save(QStringLiteral("progress-slot1"), &progress);
        progress.progressBar->setValue(6);
        Save(QStringLiteral("progress-slot6"), &progress);
    }
    {
        const auto exitBox = platform::MakeMessageBox(
            FTrazel, QStringLiteral("Hay huellas sin grabar. ¿Desea salir?"),
            QStringLiteral("Advertencia"), QMessageBox::Yes | QMessageBox::No,
            QMessageBox::Warning);
        exitBox->show();
        Save(QStringLiteral("message-exit"), exitBox.get());
        const auto errorBox = platform::MakeMessageBox(
            FTrazel, QStringLiteral("Error: no existe la ficha completa \"fmodelo.bemepe\""),
            QStringLiteral("TrazelIB"), QMessageBox::Ok, QMessageBox::Critical);
        errorBox->show();
        Save(QStringLiteral("message-error"), errorBox.get());
    }
    {
        // The card preview as it opens, with a print stretched over the card's picture.
        TrpFicha card;
        card.SetImageFile(prints.last());
        card.SetReference(QStringLiteral("EXP-2024/0001"));
        QTimer grabber;
        QObject::connect(&grabber, &QTimer::timeout, [&] {
            auto* preview = qobject_cast<QPrintPreviewDialog*>(QApplication::activeModalWidget());
            if (!preview)
                return;
            grabber.stop();
            preview->resize(1000, 700); // as maximised, also where no window manager does it
            QTimer::singleShot(300, preview, [preview] {
                Save(QStringLiteral("card-preview"), preview);
                preview->reject();
            });
        });
        grabber.start(50);
        card.PreviewModal(nullptr);
    }

    CaptureStates(workDir);
    DestroyTrazelWindows();

    ContactSheet(gOut.filePath(QStringLiteral("contact-sheet.png")));
    QFile captions(gOut.filePath(QStringLiteral("captions.txt")));
    if (captions.open(QIODevice::WriteOnly | QIODevice::Text)) {
        QTextStream out(&captions);
        for (const Shot& s : gShots)
            out << s.name << ": " << s.caption << '\n';
    }
    printf("screenshots in %s\n", qPrintable(gOut.absolutePath()));
    return 0;
}
