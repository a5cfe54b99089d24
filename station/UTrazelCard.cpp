// The ten-print card: composition and preview.
#include "CardFile.h"
#include "Errors.h"
#include "MessageBox.h"
#include "Paths.h"
#include "UInfoWnd.h"
#include "UTrazel.h"
#include "dibcard.h"
#include "urpficha.h"

#include <QCoreApplication>
#include <QFile>

#include <memory>

void TFTrazel::btPrintClick() {
    const QString caption = QCoreApplication::applicationName();
    for (int n = 1; n <= 10; ++n) {
        if (!QFile::exists(QStringLiteral("%1/dedo%2.bmp").arg(platform::WorkingFolder()).arg(n))) {
            platform::ShowMessage(
                this, QStringLiteral("Error: falta el dedo ") + FingerDisplayName(n), caption);
            return;
        }
    }
    if (!QFile::exists(kCardTemplateName)) {
        platform::ShowMessage(
            this,
            QStringLiteral("Error: no existe la ficha completa \"%1\"").arg(kCardTemplateName),
            caption);
        return;
    }

    // Created anew for each card and released on every path.
    std::unique_ptr<TInfoWnd> info;
    std::unique_ptr<TrpFicha> card;
    QString cardFile;
    try {
        info = std::make_unique<TInfoWnd>();
        info->ShowInfo(QStringLiteral("Generación de la ficha completa"));
        info->AddStep(QStringLiteral("Por favor, espera mientras se genera la imágen..."));

        // The card file lies in the data folder under a fresh name of its own, whatever the
        // reference holds.
        cardFile = CreateCardFile(platform::DataFolder(), edRef->text());
        ComposeCard(cardFile, QStringLiteral("dedo"));

        info->StepOk();
        info->AddStep(QStringLiteral("Guardando..."));
        card = std::make_unique<TrpFicha>();
        card->SetImageFile(cardFile);
        card->SetReference(edRef->text());
        info->StepOk();
        info->HideInfo();

        card->PreviewModal(this);
    } catch (const platform::StationError& e) {
        // A card file that cannot be created or written whole is never previewed or printed;
        // the operator reads why.
        info.reset();
        platform::ShowMessage(this, e.Text(), caption);
    } catch (...) {
        // A template or print that does not load ends the card without a message.
    }
    if (!cardFile.isEmpty())
        QFile::remove(cardFile);
}
