#include "UProgreso.h"

#include "Screen.h"

TFProgreso::TFProgreso(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
    setObjectName("FProgreso");
    setWindowTitle(QStringLiteral("Progreso del control de calidad"));
    platform::UseDialogFont(this);
    setFixedSize(269, 31); // a single, non-sizing border
    progressBar = new QProgressBar(this);
    progressBar->setObjectName("progressBar");
    progressBar->setGeometry(0, 0, 269, 31);
    progressBar->setRange(1, 10);
    progressBar->setValue(1);
    progressBar->setTextVisible(false); // the bar alone shows how far the work is
    platform::CenterOnScreen(this);
}
