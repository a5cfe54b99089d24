#pragma once
#include "ImageViewer.h"

#include <QDialog>
#include <QLabel>

// The full-size finger viewer: shows one print at 100 % with a 5-pixel margin around it;
// Escape closes it. A print too large for the screen is shown smaller, and the caption says
// so. When the window is too narrow for its caption to be read, the caption is also written
// over the foot of the print.
class TFVerDedo : public QDialog {
    Q_OBJECT
  public:
    explicit TFVerDedo(QWidget* parent = nullptr);
    TImageViewer* imgHuella;
    QLabel* lblCaption; // the caption over the print, shown only when the title bar cuts it
    void FormKeyUp(int key);

  protected:
    void showEvent(QShowEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void keyReleaseEvent(QKeyEvent*) override;

  private:
    void FormShow();
    void PlaceCaption();
};

extern TFVerDedo* FVerDedo;
