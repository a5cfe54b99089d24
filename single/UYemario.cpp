#include "UYemario.h"

#include "BitmapUtil.h"
#include "BusyCursor.h"
#include "Errors.h"
#include "IntegratedBiometrics.h"
#include "MessageBox.h"
#include "Modules.h"
#include "Screen.h"
#include "SlotBitmap.h"
#include "UConfigTrazel.h"
#include "UFingerScan.h"
#include "USplash.h"

#include <QBuffer>
#include <QCloseEvent>
#include <QFile>
#include <QMenuBar>

TFYemario* FYemario = nullptr;

namespace {
const QString kResultFile = QStringLiteral("huella.bmp");
const QString kCaption = QStringLiteral("Yemario v1.07");
} // namespace

TFYemario::TFYemario(const QStringList& args, QWidget* parent) : QMainWindow(parent), FArgs(args) {
    setObjectName("FYemario");
    setWindowTitle(kCaption);
    platform::UseDialogFont(this);
    resize(400, 400);
    setMinimumSize(400, 400);

    Archivo1 = menuBar()->addMenu(QStringLiteral("&Archivo"));
    Archivo1->setObjectName("Archivo1");
    miConfig = Archivo1->addAction(QStringLiteral("&Configuración"));
    miConfig->setObjectName("miConfig");
    miSalir = Archivo1->addAction(QStringLiteral("&Salir"));
    miSalir->setObjectName("miSalir");
    connect(miConfig, &QAction::triggered, this,
            [this] { platform::RunReported([this] { miConfigClick(); }); });
    connect(miSalir, &QAction::triggered, this,
            [this] { platform::RunReported([this] { miSalirClick(); }); });

    auto* client = new QWidget(this);
    setCentralWidget(client);
    img = new QLabel(client);
    img->setObjectName("img");
    img->setGeometry(0, 0, 105, 105);

    TimerStart = new QTimer(this);
    TimerStart->setObjectName("TimerStart");
    TimerStart->setInterval(50);
    connect(TimerStart, &QTimer::timeout, this,
            [this] { platform::RunReported([this] { TimerStartTimer(); }); });

    FormCreate();
    platform::CenterOnScreen(this);
}

void TFYemario::FormCreate() {
    QFile::remove(kResultFile); // a file present at the end was written by this run
    if (FingerScan) {
        FingerScan->BeforeScan = [this](std::unique_ptr<QIODevice>& s) { FingerScanBeforeScan(s); };
        FingerScan->AfterScan = [this](std::unique_ptr<QIODevice>& s) { FingerScanAfterScan(s); };
    }
    AcceptScans = true;
    if (FArgs.size() == 1)
        setWindowTitle(kCaption + QStringLiteral(" - ") + FArgs.first());
}

void TFYemario::TimerStartTimer() {
    TimerStart->stop();
    if (FSplash)
        FSplash->close();
    const int type = CurrentScannerType();
    if (!IsIntegratedBiometrics(type) || !FIntegratedBiometrics)
        return; // only a ScanMan delivery or the menu ends the program now
    FIntegratedBiometrics->RequestCapture(
        type + 1, kResultFile,
        QStringLiteral("dedo ") + (FArgs.isEmpty() ? QString() : FArgs.first()),
        TFIntegratedBiometrics::kCentred, [] {}, [this] { CaptureWindowClosed(); });
}

void TFYemario::miConfigClick() {
    if (FConfigTrazel)
        FConfigTrazel->exec();
}

void TFYemario::miSalirClick() {
    close();
}

void TFYemario::CaptureWindowClosed() {
    close();
}

void TFYemario::FingerScanBeforeScan(std::unique_ptr<QIODevice>& stream) {
    auto buffer = std::make_unique<QBuffer>();
    buffer->open(QIODevice::ReadWrite);
    stream = std::move(buffer);
}

void TFYemario::FingerScanAfterScan(std::unique_ptr<QIODevice>& stream) {
    std::unique_ptr<QIODevice> owned = std::move(stream); // released on every path
    if (platform::IsBusy()) {
        // A hand-off is already under way: this image is dropped.
        LogDroppedScan(QStringLiteral("ya se está guardando otra huella"));
        return;
    }
    platform::BusyCursor busy;
    owned->seek(0);
    QImage source;
    if (!source.load(owned.get(), "BMP"))
        throw platform::StationError(QStringLiteral("Bitmap image is not valid"));
    QImage target;
    if (!FlipBitmap(FConfigTrazel && FConfigTrazel->cbFlipVer->isChecked(),
                    FConfigTrazel && FConfigTrazel->cbFlipHor->isChecked(), source, target))
        return; // nothing saved; the window waits for another image
    SaveSlotBitmap(target, kResultFile);
    img->setPixmap(QPixmap(kResultFile));
    img->adjustSize();
    close();
}

void TFYemario::closeEvent(QCloseEvent* e) {
    QMainWindow::closeEvent(e);
    if (e->isAccepted())
        emit closed();
}

int RunYemario(const QStringList& args) {
    const QString failure = StartModules();
    if (!failure.isEmpty()) {
        platform::ShowMessage(nullptr, failure, QCoreApplication::applicationName(),
                              QMessageBox::Ok, QMessageBox::Critical);
        return 1;
    }
    FSplash = new TFSplash;
    FSplash->show();
    FSplash->repaint();
    QCoreApplication::processEvents();

    FYemario = new TFYemario(args);
    FConfigTrazel = new TFConfigTrazel(FYemario);
    FIntegratedBiometrics = new TFIntegratedBiometrics;
    QObject::connect(FYemario, &TFYemario::closed, qApp, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    FYemario->show();
    FYemario->TimerStart->start();
    QCoreApplication::exec();

    delete FIntegratedBiometrics;
    FIntegratedBiometrics = nullptr;
    delete FYemario;
    FYemario = nullptr;
    FConfigTrazel = nullptr;
    delete FSplash;
    FSplash = nullptr;
    EndModules();
    return 0;
}
