// Saving the set: the ten slot bitmaps converted to WSQ files in slot order, then the program
// ends; the first missing or failing slot stops the save and is selected.
#include "DuplicateCheck.h"
#include "BusyCursor.h"
#include "IntegratedBiometrics.h"
#include "UProgreso.h"
#include "UTrazel.h"
#include "WsqConvert.h"

#include <QCoreApplication>
#include <QFile>
#include <QScopeGuard>

void TFTrazel::btGrabarClick() {
    // The same finger in two slots: saving goes on only when the operator says so.
    if (FDuplicates && !FDuplicates->ConfirmSave())
        return;
    SaveSet();
}

bool TFTrazel::SaveSet() {
    // A capture still waiting for a finger could write a slot's bitmap while the set is being
    // converted (the conversion keeps the event loop turning), after that slot's WSQ file was
    // made. The request ends first: a print already written is shown in its slot, a finger
    // not yet taken is not waited for, and the set saved is the set on disk and on screen.
    if (FIntegratedBiometrics)
        FIntegratedBiometrics->FinishRequest();
    bool converted = true;
    {
        platform::BusyCursor busy; // scanner deliveries are dropped meanwhile
        auto* progress = new TFProgreso;
        progress->setWindowTitle(QStringLiteral("Grabando la ficha..."));
        progress->show();
        auto cleanup = qScopeGuard([&] {
            FSetCrono->Stop();
            if (progress->isVisible())
                progress->hide();
            delete progress;
        });
        auto fail = [&](int i, const QString& message) {
            progress->hide();
            QCoreApplication::processEvents();
            SelectSlot(i);
            ShowMessageLine(message);
        };
        for (int i = 1; i <= 10 && converted; ++i) {
            progress->progressBar->setValue(i);
            progress->repaint();
            const QString bmp = SlotFile(i);
            const QString wsq = QStringLiteral("dedo%1.wsq").arg(i);
            if (QFile::exists(bmp)) {
                ShowMessageLine(QStringLiteral("Convirtiendo a WSQ el ") + FingerDisplayName(i));
                QFile::remove(wsq); // no file of an earlier attempt may pass for a result
                QString error;
                converted = ConvertToWsq(bmp, wsq, error) && QFile::exists(wsq);
                if (!converted)
                    fail(i, QStringLiteral("Error: convirtiendo el ") + FingerDisplayName(i) +
                                QStringLiteral("! . Mensaje:") + error);
            } else {
                converted = false;
                fail(i, QStringLiteral("Error: falta el ") + FingerDisplayName(i) +
                            QStringLiteral("!"));
            }
        }
    }
    if (!converted)
        return false;
    ShowMessageLine(edRef->text() + QStringLiteral(" grabada exitosamente! - Total: ") +
                    QString::number(FSetCrono->Elapsed() / 1000) + QStringLiteral(" seg."));
    QCoreApplication::processEvents();
    close();
    return true;
}
