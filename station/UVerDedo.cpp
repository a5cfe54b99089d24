#include "UVerDedo.h"

#include "Screen.h"

#include <QKeyEvent>

TFVerDedo* FVerDedo = nullptr;

TFVerDedo::TFVerDedo(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
    setObjectName("FVerDedo");
    setWindowTitle(QStringLiteral("FVerDedo"));
    platform::UseDialogFont(this);
    platform::SetClientSize(this, 536, 348);
    imgHuella = new TImageViewer(this);
    imgHuella->setObjectName("imgHuella");
    imgHuella->setGeometry(rect());
    connect(imgHuella, &TImageViewer::keyReleased, this,
            [this](int key, Qt::KeyboardModifiers) { FormKeyUp(key); });
}

void TFVerDedo::FormShow() {
    platform::SetClientSize(this, imgHuella->ImageWidth() + 10, imgHuella->ImageHeight() + 10);
    platform::CenterOnScreen(this);
}

void TFVerDedo::FormKeyUp(int key) {
    if (key == Qt::Key_Escape)
        close();
}

void TFVerDedo::showEvent(QShowEvent* e) {
    FormShow();
    QDialog::showEvent(e);
}

void TFVerDedo::resizeEvent(QResizeEvent* e) {
    imgHuella->setGeometry(rect());
    QDialog::resizeEvent(e);
}

void TFVerDedo::keyReleaseEvent(QKeyEvent* e) {
    FormKeyUp(e->key());
}
