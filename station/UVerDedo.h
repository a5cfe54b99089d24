#pragma once
#include "ImageViewer.h"

#include <QDialog>

// The full-size finger viewer: shows one print at 100 % with a 5-pixel margin around it;
// Escape closes it.
class TFVerDedo : public QDialog {
    Q_OBJECT
  public:
    explicit TFVerDedo(QWidget* parent = nullptr);
    TImageViewer* imgHuella;
    void FormKeyUp(int key);

  protected:
    void showEvent(QShowEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void keyReleaseEvent(QKeyEvent*) override;

  private:
    void FormShow();
};

extern TFVerDedo* FVerDedo;
