// Saving the set: the ten slot bitmaps converted to WSQ files in slot order, then, when the
// settings ask for it, the set as one ANSI/NIST-ITL transaction, then the program ends; the
// first missing or failing slot stops the save and is selected, and a transaction that cannot
// be written stops it the same way.
#include "BusyCursor.h"
#include "DuplicateCheck.h"
#include "IntegratedBiometrics.h"
#include "NFIQUtil.h"
#include "UConfigTrazel.h"
#include "UProgreso.h"
#include "UTrazel.h"
#include "WsqConvert.h"
#include "an2k_set.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QScopeGuard>

namespace {

// The amputation picture in the working folder, matched without regard to letter case.
QString AmputationPicture() {
    for (const QString& entry : QDir::current().entryList(QDir::Files | QDir::Hidden))
        if (entry.compare(QStringLiteral("Amputado.BMP"), Qt::CaseInsensitive) == 0)
            return QDir::current().filePath(entry);
    return QString();
}

} // namespace

bool TFTrazel::SaveTransaction(QString& file, QString& error) {
    an2k::SetOptions options;
    options.ref = edRef->text().toStdString();
    options.ori = FConfigTrazel->edORI->text().toStdString();
    options.dai = FConfigTrazel->edDAI->text().toStdString();
    options.imp =
        CurrentScannerType() == kScannerIBRolled ? an2k::kImpLiveRolled : an2k::kImpLivePlain;
    options.amputation_picture = AmputationPicture().toStdString();
    // NQM carries the score the station showed for the capture: 1..5 when the library scored
    // it (also "no foreground" and "few minutiae", which score 5), 254 when it was never
    // scored, 255 when scoring failed.
    options.score = [this](int n, const uint8_t*, int, int) {
        const int status = QualityStatus(n), score = QualityScore(n);
        if (status == kNfiqNoImage)
            return 254;
        return status >= 0 && status <= 2 && score >= 1 && score <= 5 ? score : 255;
    };
    file = QString::fromStdString(an2k::transaction_file_name(options.ref));
    QFile::remove(file); // no transaction of an earlier save may pass for this one
    std::vector<uint8_t> bytes;
    const an2k::Result r = an2k::encode_set(".", options, bytes);
    if (!r) {
        error = QString::fromStdString(r.message);
        return false;
    }
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly) ||
        out.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size())) !=
            qint64(bytes.size()) ||
        !out.commit()) {
        error = out.errorString();
        return false;
    }
    return true;
}

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
        if (converted && FConfigTrazel && FConfigTrazel->cbGrabarAN2->isChecked()) {
            QString file, error;
            converted = SaveTransaction(file, error);
            if (!converted) {
                progress->hide();
                QCoreApplication::processEvents();
                ShowMessageLine(QStringLiteral("Error: grabando ") + file +
                                QStringLiteral("! . Mensaje:") + error);
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
