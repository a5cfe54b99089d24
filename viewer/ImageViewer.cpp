#include "ImageViewer.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <cmath>
#include <cstring>

TImageViewer::TImageViewer(QWidget* parent) : QAbstractScrollArea(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setFrameShape(QFrame::NoFrame);
    viewport()->setAutoFillBackground(true);
    QPalette pal = viewport()->palette();
    pal.setColor(QPalette::Window, Qt::white);
    viewport()->setPalette(pal);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

bool TImageViewer::LoadFromFile(const QString& fileName) {
    std::unique_ptr<DibBlock> block;
    QImage img(fileName);
    if (img.isNull())
        return false;
    if (img.format() == QImage::Format_Indexed8 && BmpDataSize(fileName) > 0) {
        // An 8-bit bitmap is kept exactly as stored; one shorter than its header says is
        // refused rather than shown half-read.
        block = LoadBmpData(fileName);
        if (!block)
            return false;
    } else {
        const QImage grey = img.convertToFormat(QImage::Format_Grayscale8);
        block = DibBlock::CreateGrey(grey.width(), grey.height());
        if (!block)
            return false;
        for (int y = 0; y < grey.height(); ++y)
            std::memcpy(block->StoredRow(grey.height() - 1 - y), grey.constScanLine(y),
                        static_cast<size_t>(grey.width()));
    }
    SetImage(std::move(block));
    return true;
}

int TImageViewer::ImageWidth() const {
    return FImage ? FImage->Width() : 0;
}
int TImageViewer::ImageHeight() const {
    return FImage ? FImage->Height() : 0;
}

void TImageViewer::Clear() {
    SetImage(nullptr);
}

void TImageViewer::SetImage(std::unique_ptr<DibBlock> block) {
    FImage = std::move(block);
    RebuildPicture();
    Relayout();
}

std::unique_ptr<DibBlock> TImageViewer::CopyRect(int left, int top, int right, int bottom) const {
    return FImage ? CopyDibRect(*FImage, left, top, right, bottom) : nullptr;
}

void TImageViewer::SetScale(double percent) {
    FScale = std::max(1.0, percent);
    Relayout();
}

void TImageViewer::Relayout() {
    UpdateScrollBars();
    viewport()->update();
}

QSize TImageViewer::DisplaySize() const {
    if (!FImage)
        return {0, 0};
    return {static_cast<int>(std::trunc(ImageWidth() * FScale / 100.0)),
            static_cast<int>(std::trunc(ImageHeight() * FScale / 100.0))};
}

void TImageViewer::RebuildPicture() {
    if (!FImage) {
        FPicture = QImage();
        return;
    }
    const int w = ImageWidth(), h = ImageHeight();
    FPicture = QImage(w, h, QImage::Format_Indexed8);
    QList<QRgb> table(256);
    const uint8_t* pal = FImage->Data() + kBmpInfoHeaderSize;
    for (int i = 0; i < 256; ++i)
        table[i] = qRgb(pal[4 * i + 2], pal[4 * i + 1], pal[4 * i]);
    FPicture.setColorTable(table);
    for (int y = 0; y < h; ++y)
        std::memcpy(FPicture.scanLine(y), FImage->StoredRow(h - 1 - y), static_cast<size_t>(w));
}

void TImageViewer::UpdateScrollBars() {
    const QSize shown = DisplaySize();
    const QSize area = viewport()->size();
    horizontalScrollBar()->setRange(0, std::max(0, shown.width() - area.width()));
    horizontalScrollBar()->setPageStep(area.width());
    verticalScrollBar()->setRange(0, std::max(0, shown.height() - area.height()));
    verticalScrollBar()->setPageStep(area.height());
}

void TImageViewer::paintEvent(QPaintEvent*) {
    if (FPicture.isNull())
        return;
    QPainter p(viewport());
    p.setRenderHint(QPainter::SmoothPixmapTransform, false);
    const QSize shown = DisplaySize();
    p.drawImage(
        QRect(QPoint(-horizontalScrollBar()->value(), -verticalScrollBar()->value()), shown),
        FPicture);
}

void TImageViewer::resizeEvent(QResizeEvent* e) {
    QAbstractScrollArea::resizeEvent(e);
    UpdateScrollBars();
}

void TImageViewer::mousePressEvent(QMouseEvent* e) {
    setFocus(Qt::MouseFocusReason);
    QAbstractScrollArea::mousePressEvent(e);
}

void TImageViewer::mouseReleaseEvent(QMouseEvent* e) {
    emit mouseReleased(e->button());
    if (rect().contains(e->position().toPoint()))
        emit clicked();
}

void TImageViewer::mouseDoubleClickEvent(QMouseEvent*) {
    emit doubleClicked();
}

void TImageViewer::keyReleaseEvent(QKeyEvent* e) {
    if (e->isAutoRepeat())
        return;
    emit keyReleased(e->key(), e->modifiers());
}

bool TImageViewer::event(QEvent* e) {
    // Tab and Shift+Tab belong to the slot rules of the windows that hold viewers: the viewer
    // takes the press so that the release reaches it (and its window) unchanged.
    if (e->type() == QEvent::KeyPress) {
        auto* k = static_cast<QKeyEvent*>(e);
        if (k->key() == Qt::Key_Tab || k->key() == Qt::Key_Backtab) {
            e->accept();
            return true;
        }
    }
    return QAbstractScrollArea::event(e);
}
