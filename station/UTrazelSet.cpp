// Amputations, clearing the set, leaving the station, and the hidden test-image loader.
#include "DuplicateCheck.h"
#include "BusyCursor.h"
#include "IntegratedBiometrics.h"
#include "MessageBox.h"
#include "UTrazel.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

namespace {

// The amputation picture shipped beside the program.
const QString kAmputationPicture = QStringLiteral("Amputado.BMP");

// Folder the hidden loader takes its test images from ("dedo1.BMP" … "dedo10.BMP").
const QString kTestImageFolder = QStringLiteral("/tmp");

// File names of this station are matched without regard to letter case, as operators and
// older tools expect ("amputado.bmp" and "Amputado.BMP" are one file). Returns the path of
// the file in folder whose name matches, or an empty string.
QString FindNoCase(const QString& folder, const QString& name) {
    const QDir dir(folder);
    if (dir.exists(name))
        return dir.filePath(name);
    for (const QString& entry : dir.entryList(QDir::Files | QDir::Hidden))
        if (entry.compare(name, Qt::CaseInsensitive) == 0)
            return dir.filePath(entry);
    return QString();
}

// Copies a file over target through a temporary name, so the target is either the old file,
// absent, or the whole copy. False when the source cannot be read or the target written.
bool CopyOver(const QString& source, const QString& target) {
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    QSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    const QByteArray data = in.readAll();
    if (out.write(data) != data.size())
        return false;
    return out.commit();
}

} // namespace

void TFTrazel::AmputarClick(QObject* sender) {
    const QString name = sender ? sender->objectName() : QString();
    const QChar last = name.isEmpty() ? QChar() : name.back();
    const int k = last.isDigit() ? last.digitValue() + 1 : 0;
    const QString picture = FindNoCase(QDir::currentPath(), kAmputationPicture.toLower());
    if (picture.isEmpty()) {
        platform::ShowMessage(this, QStringLiteral("Falta el archivo \"Amputado.BMP\""),
                              QStringLiteral("Error"), QMessageBox::Ok, QMessageBox::Critical);
        return;
    }
    if (k < 1 || k > 10)
        return;
    platform::BusyCursor busy;
    QFile::remove(SlotFile(k));
    SelectSlot(k);
    CopyOver(picture, SlotFile(CurrentSlot())); // a failed copy shows as a missing slot file
    if (FDuplicates)
        FDuplicates->Forget(k); // an amputated finger is no print to compare
    LoadSlotImage();
    FModified = true;
}

void TFTrazel::btClearClick() {
    // A capture still waiting for its finger belongs to the set being thrown away: it ends
    // first, and a print it took but has not handed over yet is dropped with the set.
    if (FIntegratedBiometrics)
        FIntegratedBiometrics->CancelRequest();
    ResetQuality();
    if (FDuplicates)
        FDuplicates->ForgetAll();
    DeleteSlotFiles();
    for (int slot = 1; slot <= 10; ++slot) {
        SelectSlot(slot);
        FCurrentImage->Clear();
        FCurrentImage->repaint();
    }
    SelectSlot(1);
    ShowMessageLine(QStringLiteral("OK"));
    FSetCrono->Start();
}

void TFTrazel::btSalirClick() {
    if (FModified) {
        const auto answer = platform::ShowMessage(
            this, QStringLiteral("La impresiones han sido modificadas. ¿Desea guardarlas?"),
            QStringLiteral("Advertencia"), QMessageBox::Yes | QMessageBox::No,
            QMessageBox::Warning);
        if (answer == QMessageBox::Yes) {
            // Only a successful save ends the program (it closes the window itself); a failed
            // one leaves the window open with its error and every slot file on disk.
            SaveSet();
            return;
        }
        if (FIntegratedBiometrics)
            FIntegratedBiometrics->CancelRequest(); // no print may land after the files go
        DeleteSlotFiles();
    }
    close();
}

void TFTrazel::miSalirClick() {
    close();
}

void TFTrazel::Cargarimagenesdeprueba1Click() {
    for (int n = 1; n <= 10; ++n) {
        const QString source = FindNoCase(kTestImageFolder, QStringLiteral("dedo%1.BMP").arg(n));
        if (!source.isEmpty())
            CopyOver(source, SlotFile(n));
        SelectSlot(n);
        LoadSlotImage();
    }
}
