#pragma once
// The scrolling, zooming image viewer of the finger slots and the full-size finger viewer.
// It keeps its image as a DibBlock (8 bits a pixel, 256-entry colour table, bottom-up padded
// rows), so that the bitmap routines can read and replace it directly. At a display scale of
// s per cent it draws the picture from the top-left corner into trunc(width × s / 100) by
// trunc(height × s / 100) pixels, stretched without smoothing, with scroll bars when that is
// larger than the client area.
#include "DibViewer.h"
#include "dibutils.h"

#include <QAbstractScrollArea>
#include <QImage>

#include <memory>

class TImageViewer : public QAbstractScrollArea, public TDibViewer {
    Q_OBJECT
  public:
    explicit TImageViewer(QWidget* parent = nullptr);

    // Loads a bitmap file. An 8-bit BMP is kept as it is stored; a file of another depth that
    // the platform can read is kept as 8-bit grey. False (image unchanged) when unreadable.
    bool LoadFromFile(const QString& fileName);

    int ImageWidth() const;  // 0 when empty
    int ImageHeight() const; // 0 when empty
    bool IsEmpty() const { return !FImage; }
    void Clear();

    // The image as a block (none when empty); the viewer keeps ownership.
    const DibBlock* Image() const override { return FImage.get(); }
    // Makes a block the viewer's image; the viewer owns it and releases the previous one.
    void SetImage(std::unique_ptr<DibBlock> block) override;
    // A new block holding the rectangle (left, top)–(right, bottom) of the image (top-down
    // coordinates, right and bottom exclusive) at that size, without resampling; none when
    // empty or the rectangle is empty or outside the image.
    std::unique_ptr<DibBlock> CopyRect(int left, int top, int right, int bottom) const override;

    double Scale() const { return FScale; } // per cent
    void SetScale(double percent);          // never below 1 %
    // Lays the image out again at the current scale and repaints.
    void Relayout() override;

  signals:
    void clicked();
    void doubleClicked();
    void mouseReleased(Qt::MouseButton button);
    void keyReleased(int key, Qt::KeyboardModifiers modifiers);

  protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void mouseDoubleClickEvent(QMouseEvent*) override;
    void keyReleaseEvent(QKeyEvent*) override;
    bool event(QEvent*) override;

  private:
    QSize DisplaySize() const;
    void RebuildPicture();
    void UpdateScrollBars();

    std::unique_ptr<DibBlock> FImage;
    QImage FPicture; // top-down view of FImage for drawing
    double FScale = 100.0;
};
