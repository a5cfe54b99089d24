#pragma once
// A plain panel: a container whose children keep their share of it when the window resizes.
#include <QFrame>

class TPanel : public QFrame {
    Q_OBJECT
  public:
    explicit TPanel(QWidget* parent = nullptr) : QFrame(parent) { setFrameShape(QFrame::NoFrame); }
};
