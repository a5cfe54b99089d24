// Intake of prints into the slots: capture requests to the capture window, the finger-scan
// component's deliveries, the after-capture step, the quality line and the finger viewer.
#include "BitmapUtil.h"
#include "BusyCursor.h"
#include "DuplicateCheck.h"
#include "Errors.h"
#include "IntegratedBiometrics.h"
#include "NFIQUtil.h"
#include "SlotBitmap.h"
#include "UConfigTrazel.h"
#include "UFingerScan.h"
#include "UTrazel.h"
#include "UVerDedo.h"

#include <QBuffer>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>

QString TFTrazel::SlotFile(int n) {
    return QStringLiteral("dedo%1.bmp").arg(n);
}

void TFTrazel::AttachFingerScan() {
    if (!FingerScan)
        return;
    FingerScan->BeforeScan = [this](std::unique_ptr<QIODevice>& s) { FingerScanBeforeScan(s); };
    FingerScan->AfterScan = [this](std::unique_ptr<QIODevice>& s) { FingerScanAfterScan(s); };
    // An image the component dropped is in the log; an idle operator also reads why.
    FingerScan->Dropped = [this](const QString& why) {
        if (!platform::IsBusy())
            ShowMessageLine(why);
    };
}

void TFTrazel::FormShow() {
    AcceptScans = true;
}

void TFTrazel::FormHide() {
    AcceptScans = false;
}

void TFTrazel::RequestCapture(int slot) {
    if (!FIntegratedBiometrics)
        return;
    const int n = slot;
    // Keep the capture window away from the row being captured: the right hand is the upper
    // row of slots, so its captures show the window at the bottom of the screen.
    int top = 0;
    if (n < 6) {
        const QScreen* screen = QGuiApplication::primaryScreen();
        const int screenHeight = screen ? screen->geometry().height() : 0;
        top = screenHeight - FIntegratedBiometrics->OuterHeight() - 50;
    }
    FIntegratedBiometrics->RequestCapture(
        CurrentScannerType() + 1, SlotFile(n), FingerDisplayName(n), top,
        [this, n] { platform::RunReported([this, n] { CaptureDone(n); }); },
        [this] { CaptureWindowClosed(); });
}

void TFTrazel::CaptureWindowClosed() {}

void TFTrazel::CaptureDone(int slot) {
    // The print belongs to the slot it was taken for, whichever slot the operator selected
    // meanwhile: that slot is loaded and shown, and the advance goes on from it. The slot's
    // earlier print leaves the duplicate check first; the new one joins it once the advance
    // is done, so that its warning, when there is one, is the last word in the message line.
    if (FDuplicates)
        FDuplicates->Forget(slot);
    if (slot != CurrentSlot())
        SelectSlot(slot);
    LoadSlotImage();
    if (CurrentSlot() >= 10) {
        QCoreApplication::processEvents();
        FocusGrabar();
    } else if (FConfigTrazel && FConfigTrazel->cbAutoAvance->isChecked()) {
        QCoreApplication::processEvents();
        int key = VK_SPACE;
        FormKeyUp(key, Qt::NoModifier);
    }
    if (FDuplicates)
        FDuplicates->PrintLanded(slot);
}

void TFTrazel::LoadSlotImage() {
    const int n = CurrentSlot();
    const QString file = SlotFile(n);
    if (!QFile::exists(file)) {
        ShowMessageLine(QStringLiteral("No se pudo generar el archivo: dedo%1.bmp").arg(n));
        return;
    }
    if (!FCurrentImage->LoadFromFile(file))
        throw platform::StationError(QStringLiteral("Bitmap image is not valid: %1").arg(file));
    int32_t score = FQualityScore[n];
    FQualityStatus[n] = ScoreFingerImage(*FCurrentImage, score);
    FQualityScore[n] = score;
    ShowQualityLine();
    ShowSlotScore(n);
    FitToViewer(FCurrentImage);
    FModified = true;
}

void TFTrazel::ShowQualityLine() {
    const int n = CurrentSlot();
    if (n < 1 || n > 10)
        return;
    const int average = AverageQuality();
    ShowMessageLine(QStringLiteral("NFIQ ") + FingerDisplayName(n) + QStringLiteral(": ") +
                    QualityText(FQualityStatus[n], FQualityScore[n]) + QStringLiteral(" - ") +
                    QStringLiteral("Promedio: ") + QString::number(average) + QStringLiteral(" (") +
                    QualityLabel(average) + QStringLiteral(")"));
}

int TFTrazel::AverageQuality() const {
    int sum = 0, count = 0;
    for (int n = 1; n <= 10; ++n) {
        if (FQualityStatus[n] == 0) {
            sum += FQualityScore[n];
            ++count;
        }
    }
    return count == 0 ? 9 : sum / count;
}

void TFTrazel::ResetQuality() {
    for (int n = 1; n <= 10; ++n) {
        FQualityStatus[n] = -2;
        FQualityScore[n] = 0;
        ShowSlotScore(n);
    }
}

void TFTrazel::ShowSlotScore(int n) {
    TSlotBadge* badge = ScoreBadge(n);
    if (!badge)
        return;
    const SlotScoreMark mark = ScoreMark(FQualityStatus[n], FQualityScore[n]);
    if (mark.shown)
        badge->ShowMark(mark.text, mark.background, mark.foreground);
    else
        badge->Clear();
}

void TFTrazel::FocusGrabar() {
    btGrabar->setFocus(Qt::OtherFocusReason);
    // Styles draw a button's focus mark once the keyboard has moved the focus; the focus
    // comes here in place of the operator's Tab.
    setAttribute(Qt::WA_KeyboardFocusChange);
    btGrabar->update();
}

void TFTrazel::FingerScanBeforeScan(std::unique_ptr<QIODevice>& stream) {
    // The busy cursor means the station is working on something else: refuse the delivery.
    if (platform::IsBusy()) {
        LogDroppedScan(QStringLiteral("la estación está ocupada"));
        platform::SilentAbort();
    }
    auto buffer = std::make_unique<QBuffer>();
    buffer->open(QIODevice::ReadWrite);
    stream = std::move(buffer);
}

void TFTrazel::FingerScanAfterScan(std::unique_ptr<QIODevice>& stream) {
    std::unique_ptr<QIODevice> owned = std::move(stream); // released on every path
    if (platform::IsBusy()) {
        LogDroppedScan(QStringLiteral("la estación está ocupada"));
        return;
    }
    platform::BusyCursor busy;
    const int n = CurrentSlot();
    const QString file = SlotFile(n);
    owned->seek(0);
    QImage source;
    if (!source.load(owned.get(), "BMP"))
        throw platform::StationError(QStringLiteral("Bitmap image is not valid"));
    QImage target;
    const bool flipped =
        FlipBitmap(FConfigTrazel && FConfigTrazel->cbFlipVer->isChecked(),
                   FConfigTrazel && FConfigTrazel->cbFlipHor->isChecked(), source, target);
    // The earlier print of the slot is replaced only by a complete new one: a delivery that
    // cannot be read or written (a full disk) leaves it as it was. Without a picture to store
    // the file goes, and CaptureDone reports it missing.
    if (flipped)
        SaveSlotBitmap(target, file);
    else
        QFile::remove(file);
    CaptureDone(n);
}

void TFTrazel::dedoDblClick() {
    const int n = CurrentSlot();
    const QString file = SlotFile(n);
    if (!QFile::exists(file) || !FVerDedo)
        return;
    FVerDedo->close();
    FVerDedo->imgHuella->LoadFromFile(file);
    FVerDedo->setWindowTitle(FingerDisplayName(n) + QStringLiteral(" - NFIQ: ") +
                             QualityText(FQualityStatus[n], FQualityScore[n]));
    FVerDedo->exec();
    QCoreApplication::processEvents();
    SelectSlot(n);
}
