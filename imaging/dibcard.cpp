#include "dibcard.h"

#include "Errors.h"

#include <QFile>

#include <stdexcept>

void ComposeCard(const QString& outputFile, const QString& prefix) {
    std::unique_ptr<DibBlock> card = LoadBmpData(kCardTemplateName);
    std::array<std::unique_ptr<DibBlock>, 10> prints;
    for (int n = 1; n <= 10; ++n)
        prints[n - 1] = LoadBmpData(prefix + QString::number(n) + QStringLiteral(".bmp"));

    if (!card)
        throw std::runtime_error("The card template could not be loaded");
    for (const auto& print : prints)
        if (!print)
            throw std::runtime_error("A finger bitmap of the card could not be loaded");

    for (int n = 0; n < 10; ++n)
        StampMultiply(*prints[n], *card, kCardPlaces[n].CenterX, kCardPlaces[n].CenterY);

    // The whole block: header, colour table and the padded pixel rows of the template. A
    // card that was not written whole (a full disk) must never be shown or printed: its
    // file goes and the operator is told.
    bool whole = false;
    try {
        whole = SaveBmpData(*card, outputFile,
                            static_cast<int64_t>(RoundUp4(card->Width())) * card->Height() +
                                kDibPixelOffset);
    } catch (const std::exception&) {
        whole = false;
    }
    if (!whole) {
        QFile::remove(outputFile);
        throw platform::StationError(kCardNotWritten);
    }
}
