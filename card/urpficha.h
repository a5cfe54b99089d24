#pragma once
// The ten-print card report: the composed card picture on an A4 landscape page, inside a
// dotted frame, with the reference of the set written over its top left corner.
#include "Report.h"

#include <QString>

class TrpFicha : public report::Report {
    Q_OBJECT
  public:
    explicit TrpFicha(QObject* parent = nullptr);

    report::Picture* QRImage1; // the composed card
    report::Label* QRLabel1;   // the reference
    report::Band* QRBand1;     // first title band: picture, frame and label
    report::Shape* QRShape1;   // dotted frame around the picture
    report::Band* QRBand2;     // second title band, empty

    // Raises platform::StationError "Imágen: "<file>" inexistente." when no such file exists.
    void SetImageFile(const QString& fileName);
    void SetReference(const QString& text);
    const QString& ImageFile() const { return FImageFile; }
    const QString& Reference() const { return FReference; }

    // Loads the picture from the card file and writes the reference into the label; runs
    // each time the report is prepared for the preview or for printing.
    void QuickRepBeforePrint(bool& printReport);

  protected:
    void BeforePrint(bool& printReport) override { QuickRepBeforePrint(printReport); }

  private:
    QString FImageFile;
    QString FReference;
};
