// SDK event handlers of the capture window. They run on the SDK's event threads, each holding
// CallbackLock for its whole body. They touch no widget: text for the window and everything
// that paints, beeps or changes the list is posted to the GUI thread.
#include "IntegratedBiometrics.h"

#include <IBScanUltimateApi.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cstdio>

#include <cmath>

namespace {

// A client-window property as text ("" when it cannot be read).
QString WindowProperty(int handle, int id) {
    char buffer[IBSU_PROPERTY_BUFFER_SIZE] = {};
    if (IBSU_GetClientWindowProperty(handle, id, buffer) != IBSU_STATUS_OK)
        return QString();
    buffer[IBSU_PROPERTY_BUFFER_SIZE - 1] = 0;
    return QString::fromLatin1(buffer);
}

QString Label(int imageType) {
    switch (imageType) {
    case 1:
        return QStringLiteral("-- Dedo rodado --");
    case 2:
        return QStringLiteral("-- Dedo plano --");
    case 3:
        return QStringLiteral("-- Flat two fingers --");
    case 4:
        return QStringLiteral("-- Flat 4 fingers --");
    default:
        return QStringLiteral("-- Unknown --");
    }
}

int TruncToInt(double v) {
    if (!std::isfinite(v))
        return 0;
    return static_cast<int>(std::clamp(std::trunc(v), -1e9, 1e9));
}

} // namespace

#define CAPTURE_HANDLER_BEGIN                                                                      \
    if (!context)                                                                                  \
        return;                                                                                    \
    std::lock_guard lock(CallbackLock);                                                            \
    TFIntegratedBiometrics* w = FromContext(context);                                              \
    if (!w)                                                                                        \
        return;

void TFIntegratedBiometrics::DeviceCountCallback(int, void* context) {
    CAPTURE_HANDLER_BEGIN
    w->Post(UM_REFRESH_DEVICES);
}

void TFIntegratedBiometrics::ScannerLostCallback(int, void* context) {
    CAPTURE_HANDLER_BEGIN
    w->Post(UM_SCANNER_LOST);
}

void TFIntegratedBiometrics::PreviewCallback(int, void* context, IBSU_ImageData) {
    CAPTURE_HANDLER_BEGIN
    // The SDK draws the preview itself.
}

void TFIntegratedBiometrics::KeyButtonCallback(int, void* context, int) {
    CAPTURE_HANDLER_BEGIN
}

void TFIntegratedBiometrics::AcquisitionBeginCallback(int, void* context, int imageType) {
    CAPTURE_HANDLER_BEGIN
    if (imageType != IBSU_ROLL_SINGLE_FINGER)
        return;
    w->Post(UM_BEEP, 2);
    const QString text = QStringLiteral("Cuando termine retire el dedo del scanner");
    w->SetGuidance(text);
    w->ShowGuidance(text);
    w->ShowStatus(text);
}

void TFIntegratedBiometrics::AcquisitionEndCallback(int, void* context, int imageType) {
    CAPTURE_HANDLER_BEGIN
    if (imageType == IBSU_ROLL_SINGLE_FINGER)
        w->Post(UM_BEEP, 2);
}

void TFIntegratedBiometrics::FingerQualityCallback(int, void* context, const int* qualities,
                                                   int count) {
    CAPTURE_HANDLER_BEGIN
    // The indicator has four places: values beyond the fourth are not shown.
    const int n = qualities ? std::clamp(count, 0, 4) : 0;
    for (int i = 0; i < n; ++i)
        w->FFingerQuality[i] = qualities[i];
    w->Post(UM_DRAW_QUALITY);
}

void TFIntegratedBiometrics::FingerCountCallback(int handle, void* context, int state) {
    CAPTURE_HANDLER_BEGIN
    CaptureInfo step;
    if (!w->CurrentStep(step))
        return; // no step runs: no LED pattern to show
    IBSU_SetLEDs(handle, LedMask(step, state == IBSU_NON_FINGER ? kLedRed : kLedBoth, true));
}

void TFIntegratedBiometrics::InitProgressCallback(int, void* context, int progress) {
    CAPTURE_HANDLER_BEGIN
    w->ShowStatus(QStringLiteral("Iniciando el scanner... %1%").arg(progress));
}

void TFIntegratedBiometrics::PlatenCallback(int, void* context, int state) {
    CAPTURE_HANDLER_BEGIN
    CaptureInfo step;
    if (!w->CurrentStep(step))
        return; // no step runs: there is no prompt to restore or alert to raise
    w->FPlatenAlert = state == IBSU_PLATEN_HAS_FINGERS;
    if (w->FPlatenAlert) {
        const QString text =
            QStringLiteral("Por favor primero quite el dedo de la superficie del scanner!");
        w->SetGuidance(text);
        w->ShowGuidance(text);
        w->ShowStatus(text);
    } else {
        w->ShowStatus(step.Prompt);
        const QString text = w->PromptText(step);
        w->ShowGuidance(text);
        w->SetGuidance(text);
    }
    w->Post(UM_DRAW_QUALITY);
}

bool TFIntegratedBiometrics::SaveResultImage(const QString& file, const IBSU_ImageData& image) {
    // Written under a temporary name beside the file and renamed over it once complete, so a
    // full disk neither leaves a truncated print nor costs the print the file held before.
    QString temp;
    {
        QTemporaryFile t(file + QStringLiteral(".XXXXXX"));
        t.setAutoRemove(false);
        if (t.open())
            temp = t.fileName();
    }
    if (temp.isEmpty())
        return false;
    QFile::setPermissions(temp, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser |
                                    QFile::WriteUser | QFile::ReadGroup | QFile::ReadOther);
    const QByteArray path = QFile::encodeName(temp);
    const bool saved =
        IBSU_SaveBitmapImage(path.constData(), static_cast<const uint8_t*>(image.Buffer),
                             image.Width, image.Height, image.Pitch, image.ResolutionX,
                             image.ResolutionY) == IBSU_STATUS_OK &&
        std::rename(path.constData(), QFile::encodeName(file).constData()) == 0;
    if (!saved) {
        QFile::remove(temp);
        return false;
    }
    return true;
}

void TFIntegratedBiometrics::ResultImageCallback(int handle, void* context, int status,
                                                 IBSU_ImageData image, int imageType, int,
                                                 int segmentCount, const IBSU_ImageData* segments,
                                                 const IBSU_SegmentPosition* quadrangles) {
    CAPTURE_HANDLER_BEGIN
    if (handle != w->FDeviceHandle)
        return;
    CaptureInfo step;
    if (!w->CurrentStep(step))
        return; // stopped meanwhile: the operator no longer waits for this image
    const int n = segments ? std::max(segmentCount, 0) : 0;
    w->Post(UM_BEEP, status >= 0 ? 1 : 0);
    if (w->FPlatenAlert) {
        w->FPlatenAlert = false;
        w->Post(UM_DRAW_QUALITY);
    }
    const QString label = Label(imageType);
    if (status < 0) {
        // Nothing is saved and the step stays current; the operator reads why (also without
        // a sound device for the error beeps) and what to do next.
        const QString text =
            QStringLiteral("%1 error de captura (Código = %2)").arg(label).arg(status);
        w->SetGuidance(text);
        w->ShowGuidance(text, true);
        w->ShowStatus(text + QStringLiteral(": presione \"Detener\" y luego \"Iniciar\" para "
                                            "repetir"));
        return;
    }

    IBSU_SetLEDs(handle, LedMask(step, kLedGreen, false));

    bool saved = true; // every picture of the result was written whole
    const QString file = w->OutputFile();
    if (w->FSaveImages) {
        w->ShowStatus(QStringLiteral("Guardando la imagen..."));
        bool written = false; // the file holds a picture of this result
        if (n == 0) {
            saved = written = w->SaveResultImage(file, image);
        } else {
            // Each segment goes to the same file: the last one is what remains.
            for (int i = 0; i < n; ++i) {
                const bool ok = w->SaveResultImage(file, segments[i]);
                saved = saved && ok;
                written = written || ok;
            }
        }
        if (written) {
            // The file now holds this result: it is handed over with the close after saving.
            w->FResultSaved = true;
            w->Post(UM_START_TIMER_HIDE);
        }
    }

    if (w->FDrawSegments && quadrangles) {
        const double scale = WindowProperty(handle, IBSU_WINDOW_PROPERTY_SCALE_FACTOR).toDouble();
        const int left = WindowProperty(handle, IBSU_WINDOW_PROPERTY_LEFT_MARGIN).toInt();
        const int top = WindowProperty(handle, IBSU_WINDOW_PROPERTY_TOP_MARGIN).toInt();
        // Four rectangles: segments beyond the fourth are not outlined.
        for (int i = 0; i < std::min(n, 4); ++i) {
            const IBSU_SegmentPosition& q = quadrangles[i];
            const auto X = [&](int16_t v) { return left + TruncToInt(v * scale); };
            const auto Y = [&](int16_t v) { return top + TruncToInt(v * scale); };
            IBSU_ModifyOverlayQuadrangle(handle, w->FSegmentOverlays[i], X(q.x1), Y(q.y1), X(q.x2),
                                         Y(q.y2), X(q.x3), Y(q.y3), X(q.x4), Y(q.y4), 1,
                                         IBSU_RGB(0, 128, 0));
        }
    }

    if (w->FNFIQScore) {
        w->ShowStatus(QStringLiteral("Obteniendo puntaje NFIQ..."));
        int scores[4] = {0, 0, 0, 0};
        int cursor = 0;
        for (int i = 0; i < 4; ++i) {
            if (w->FFingerQuality[i] == 0)
                continue;
            if (cursor >= n) {
                scores[i] = -1; // a finger without a segment to score
                continue;
            }
            const IBSU_ImageData& seg = segments[cursor++];
            int score = 0;
            const int r = IBSU_GetNFIQScore(handle, static_cast<const uint8_t*>(seg.Buffer),
                                            seg.Width, seg.Height, seg.BitsPerPixel, &score);
            scores[i] = r == IBSU_STATUS_OK ? score : -1;
        }
        w->PostEvent(new CaptureEvent(UM_SET_TEXT, kTextNFIQ,
                                      QStringLiteral("%1-%2-%3-%4")
                                          .arg(scores[0])
                                          .arg(scores[1])
                                          .arg(scores[2])
                                          .arg(scores[3])));
    }

    // A picture that could not be written closes nothing: the window stays on the step, so
    // the operator can try again once there is room, and the requester's file is untouched.
    // Both texts then say so; the capture is not called a success.
    const QString text =
        !saved ? QStringLiteral("No se pudo escribir el archivo %1").arg(QFileInfo(file).fileName())
        : status == 0
            ? QStringLiteral("%1 captura exitosa").arg(label)
            : QStringLiteral("%1 advertencia de captura (Código = %2)").arg(label).arg(status);
    w->SetGuidance(text);
    w->ShowGuidance(text, !saved);
    w->ShowStatus(text);
}
