#pragma once
// A small banded report: one page of title bands stacked from the top margin, each holding
// shapes, pictures and text labels placed in millimetres. The same drawing serves the print
// preview, a CUPS printer and a PDF file: lengths are converted to the printer's device dots
// (the painter is never scaled, so fonts keep their point size).
#include <QColor>
#include <QFont>
#include <QImage>
#include <QMarginsF>
#include <QObject>
#include <QPageLayout>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QPainter;
class QPrinter;
class QWidget;

namespace report {

// A rectangle in millimetres, relative to the band that holds it.
struct MmRect {
    double Left = 0;
    double Top = 0;
    double Width = 0;
    double Height = 0;
};

// Converts millimetres on the page to device dots of the painter's device.
class DotMapper {
  public:
    DotMapper(double dotsPerInchX, double dotsPerInchY)
        : FX(dotsPerInchX / 25.4), FY(dotsPerInchY / 25.4) {}
    double X(double mm) const { return mm * FX; }
    double Y(double mm) const { return mm * FY; }
    QRectF Rect(double leftMm, double topMm, double widthMm, double heightMm) const;

  private:
    double FX;
    double FY;
};

class Element {
  public:
    explicit Element(QString name) : Name(std::move(name)) {}
    virtual ~Element() = default;
    // Draws the element whose band starts at (bandLeftMm, bandTopMm) on the page.
    virtual void Paint(QPainter& p, const DotMapper& map, double bandLeftMm,
                       double bandTopMm) const = 0;

    QString Name;
    MmRect Bounds;
    bool Visible = true;
};

// A rectangle outline.
class Shape : public Element {
  public:
    using Element::Element;
    void Paint(QPainter& p, const DotMapper& map, double bandLeftMm,
               double bandTopMm) const override;

    Qt::PenStyle PenStyle = Qt::SolidLine;
    double PenWidth = 1; // in screen pixels of 1/96 inch
    QColor PenColor = Qt::black;
};

// A picture, stretched to fill its box or drawn at its box's top left corner.
class Picture : public Element {
  public:
    using Element::Element;
    void Paint(QPainter& p, const DotMapper& map, double bandLeftMm,
               double bandTopMm) const override;
    // Replaces the picture with the image in the file; false (and no picture) when it
    // cannot be read.
    bool LoadFromFile(const QString& fileName);

    QImage Image;
    bool Stretch = true;
};

// One line of text. With AutoSize its box is as wide as its text.
class Label : public Element {
  public:
    using Element::Element;
    void Paint(QPainter& p, const DotMapper& map, double bandLeftMm,
               double bandTopMm) const override;

    QString Caption;
    QFont Font;
    bool AutoSize = true;
    bool Transparent = true;
    QColor Color = Qt::white; // background when not transparent
    Qt::Alignment Alignment = Qt::AlignLeft;
};

// A title band: the full printable width, its own height, a background colour and the
// elements it holds (owned), drawn in the order they were added.
class Band {
  public:
    Band(QString name, double heightMm) : Name(std::move(name)), Height(heightMm) {}
    template <class T> T* Add(const QString& name) {
        auto e = std::make_unique<T>(name);
        T* raw = e.get();
        Elements.push_back(std::move(e));
        return raw;
    }

    QString Name;
    double Height;
    QColor Color = Qt::white;
    std::vector<std::unique_ptr<Element>> Elements;
};

// The report form: page setup, the bands in page order and the before-print step.
class Report : public QObject {
    Q_OBJECT
  public:
    // Replaces the modal preview, e.g. in tests: the hook receives the report instead of a
    // preview window being shown. Returns the previous hook; an empty one restores the window.
    using PreviewHook = std::function<void(Report&)>;
    static PreviewHook SetPreviewHook(PreviewHook hook);

    explicit Report(QObject* parent = nullptr);
    ~Report() override;

    Band* AddBand(const QString& name, double heightMm);

    // Page setup: A4 landscape, 10 mm margins, Arial 10 pt by default.
    QPageLayout::Orientation Orientation = QPageLayout::Landscape;
    QMarginsF MarginsMm{10, 10, 10, 10};
    QFont Font;
    QString Title; // the print job's name (and the default name of a PDF file)
    std::vector<std::unique_ptr<Band>> Bands;

    QPageLayout PageLayout() const;
    double PrintableWidthMm() const;

    // Gives a printer this report's page: A4 in the report's orientation, the whole sheet
    // addressable (margins are applied by the report), one copy.
    void SetupPrinter(QPrinter& printer) const;

    // Prepares the report (the before-print step) and, unless that step refuses, draws its page
    // on the printer. False when nothing was printed.
    bool Print(QPrinter& printer);

    // Prints the report into a PDF file of its page.
    bool PrintToPdf(const QString& fileName);

    // The modal print preview; returns when the operator closes it. Printing to any printer
    // or to a PDF file is done from the preview.
    void PreviewModal(QWidget* parent = nullptr);
    // The zoom the preview opens at (1 = the page at its real size on the screen).
    static constexpr double kPreviewZoom = 1.0;

  protected:
    // Runs each time the report is prepared for the preview or for printing; setting
    // printReport to false leaves the page blank.
    virtual void BeforePrint(bool& printReport);

  private:
    void PaintPage(QPainter& p, const DotMapper& map) const;
};

} // namespace report
