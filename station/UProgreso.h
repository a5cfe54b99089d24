#pragma once
#include <QProgressBar>
#include <QWidget>

// A small always-on-top window with one progress bar (range 1 to 10).
class TFProgreso : public QWidget {
    Q_OBJECT
  public:
    explicit TFProgreso(QWidget* parent = nullptr);
    QProgressBar* progressBar;
};
