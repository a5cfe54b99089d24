#include "urpficha.h"

#include "CardFile.h"

#include "Errors.h"

#include <QFile>

TrpFicha::TrpFicha(QObject* parent) : report::Report(parent) {
    setObjectName(QStringLiteral("rpFicha"));
    Title = QStringLiteral("Ficha");

    QRBand1 = AddBand(QStringLiteral("QRBand1"), 112.9);
    QRImage1 = QRBand1->Add<report::Picture>(QStringLiteral("QRImage1"));
    QRImage1->Bounds = {37.0, 5.7, 200.2, 100.1};
    QRImage1->Stretch = true;
    QRLabel1 = QRBand1->Add<report::Label>(QStringLiteral("QRLabel1"));
    QRLabel1->Bounds = {37.9, 6.2, 0, 4.4};
    QRLabel1->AutoSize = true;
    QRLabel1->Transparent = true;
    QRLabel1->Font = Font;
    QRLabel1->Alignment = Qt::AlignLeft;
    QRShape1 = QRBand1->Add<report::Shape>(QStringLiteral("QRShape1"));
    QRShape1->Bounds = {36.6, 5.3, 201.1, 101.0};
    QRShape1->PenStyle = Qt::DotLine;
    QRShape1->PenWidth = 3;

    QRBand2 = AddBand(QStringLiteral("QRBand2"), 39.7);
}

void TrpFicha::SetImageFile(const QString& fileName) {
    if (!QFile::exists(fileName))
        throw platform::StationError(QStringLiteral("Imágen: \"%1\" inexistente.").arg(fileName));
    FImageFile = fileName;
}

void TrpFicha::SetReference(const QString& text) {
    FReference = text;
    // The job's name is also the file name the print dialog offers: the reference as the
    // card file's name has it, so that "EXP-2024/0001" names no folder.
    Title = QStringLiteral("Ficha %1").arg(CardFileStem(text)).trimmed();
}

void TrpFicha::QuickRepBeforePrint(bool&) {
    QRImage1->Visible = false;
    QRImage1->LoadFromFile(FImageFile);
    QRImage1->Visible = true;
    QRLabel1->Caption = FReference;
}
