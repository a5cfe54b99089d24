#include "Report.h"

#include <QComboBox>
#include <QFontMetricsF>
#include <QGraphicsView>
#include <QScrollBar>
#include <QLineEdit>
#include <QPageSize>
#include <QPainter>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QTimer>
#include <QPrinter>

namespace report {

namespace {

Report::PreviewHook& Hook() {
    static Report::PreviewHook hook;
    return hook;
}

} // namespace

QRectF DotMapper::Rect(double leftMm, double topMm, double widthMm, double heightMm) const {
    return QRectF(X(leftMm), Y(topMm), X(widthMm), Y(heightMm));
}

void Shape::Paint(QPainter& p, const DotMapper& map, double bandLeftMm, double bandTopMm) const {
    // A screen pixel is 1/96 inch: the pen keeps its physical width on every device.
    QPen pen(PenColor, map.X(PenWidth * 25.4 / 96.0), PenStyle);
    pen.setCapStyle(Qt::FlatCap);
    p.save();
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawRect(
        map.Rect(bandLeftMm + Bounds.Left, bandTopMm + Bounds.Top, Bounds.Width, Bounds.Height));
    p.restore();
}

bool Picture::LoadFromFile(const QString& fileName) {
    Image = QImage();
    return Image.load(fileName);
}

void Picture::Paint(QPainter& p, const DotMapper& map, double bandLeftMm, double bandTopMm) const {
    if (Image.isNull())
        return;
    const QRectF box =
        map.Rect(bandLeftMm + Bounds.Left, bandTopMm + Bounds.Top, Bounds.Width, Bounds.Height);
    p.save();
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
    p.setClipRect(box);
    if (Stretch)
        p.drawImage(box, Image);
    else
        p.drawImage(box.topLeft(), Image);
    p.restore();
}

void Label::Paint(QPainter& p, const DotMapper& map, double bandLeftMm, double bandTopMm) const {
    p.save();
    p.setFont(Font);
    QRectF box =
        map.Rect(bandLeftMm + Bounds.Left, bandTopMm + Bounds.Top, Bounds.Width, Bounds.Height);
    if (AutoSize)
        box.setWidth(p.fontMetrics().horizontalAdvance(Caption));
    if (!Transparent)
        p.fillRect(box, Color);
    p.setPen(Qt::black);
    p.drawText(box, static_cast<int>(Alignment | Qt::AlignTop | Qt::TextSingleLine), Caption);
    p.restore();
}

Report::PreviewHook Report::SetPreviewHook(PreviewHook hook) {
    PreviewHook previous = std::move(Hook());
    Hook() = std::move(hook);
    return previous;
}

Report::Report(QObject* parent) : QObject(parent), Font(QStringLiteral("Arial")) {
    Font.setPointSizeF(10);
}

Report::~Report() = default;

Band* Report::AddBand(const QString& name, double heightMm) {
    Bands.push_back(std::make_unique<Band>(name, heightMm));
    return Bands.back().get();
}

QPageLayout Report::PageLayout() const {
    return QPageLayout(QPageSize(QPageSize::A4), Orientation, MarginsMm, QPageLayout::Millimeter);
}

double Report::PrintableWidthMm() const {
    return PageLayout().fullRect(QPageLayout::Millimeter).width() - MarginsMm.left() -
           MarginsMm.right();
}

void Report::SetupPrinter(QPrinter& printer) const {
    // The report places everything from the sheet's edge itself, so the printer's own margins
    // must not shift it: full-page mode, zero margins.
    printer.setFullPage(true);
    printer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), Orientation, QMarginsF(0, 0, 0, 0),
                                      QPageLayout::Millimeter));
    printer.setCopyCount(1);
    printer.setDocName(Title.isEmpty() ? QStringLiteral("Informe") : Title);
}

void Report::BeforePrint(bool&) {}

bool Report::Print(QPrinter& printer) {
    bool printReport = true;
    BeforePrint(printReport);
    QPainter p;
    if (!p.begin(&printer))
        return false;
    if (printReport)
        PaintPage(p, DotMapper(printer.logicalDpiX(), printer.logicalDpiY()));
    p.end();
    return printReport;
}

bool Report::PrintToPdf(const QString& fileName) {
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(fileName);
    SetupPrinter(printer);
    return Print(printer);
}

void Report::PaintPage(QPainter& p, const DotMapper& map) const {
    p.setFont(Font);
    const double left = MarginsMm.left();
    const double width = PrintableWidthMm();
    double top = MarginsMm.top();
    for (const auto& band : Bands) {
        p.fillRect(map.Rect(left, top, width, band->Height), band->Color);
        for (const auto& e : band->Elements)
            if (e->Visible)
                e->Paint(p, map, left, top);
        top += band->Height;
    }
}

void Report::PreviewModal(QWidget* parent) {
    if (Hook()) {
        Hook()(*this);
        return;
    }
    QPrinter printer(QPrinter::HighResolution);
    SetupPrinter(printer);
    QPrintPreviewDialog preview(&printer, parent);
    preview.setWindowTitle(QStringLiteral("Vista preliminar"));
    connect(&preview, &QPrintPreviewDialog::paintRequested, this,
            [this](QPrinter* target) { Print(*target); });
    // Shown large and at the page's real size, where fine lines of the page read; a page
    // fitted into the window shrinks them into stripes. The dialog fits the page when it is
    // first shown, so the zoom is set once it shows.
    preview.setWindowState(preview.windowState() | Qt::WindowMaximized);
    QTimer::singleShot(0, &preview, [&preview] {
        // Through the dialog's own zoom box, as the operator would type it, so that the box
        // and the fitting buttons show the zoom in force.
        auto* box = preview.findChild<QComboBox*>();
        if (box && box->lineEdit()) {
            box->lineEdit()->setText(QStringLiteral("%1%").arg(kPreviewZoom * 100));
            emit box->lineEdit()->editingFinished();
        } else if (auto* page = preview.findChild<QPrintPreviewWidget*>()) {
            page->setZoomMode(QPrintPreviewWidget::CustomZoom);
            page->setZoomFactor(kPreviewZoom);
        }
        // From the top left corner of the page, where its title is.
        if (auto* view = preview.findChild<QGraphicsView*>()) {
            view->horizontalScrollBar()->setValue(view->horizontalScrollBar()->minimum());
            view->verticalScrollBar()->setValue(view->verticalScrollBar()->minimum());
        }
    });
    preview.exec();
}

} // namespace report
