#include "Screen.h"

#include <QGuiApplication>
#include <QScreen>

namespace platform {

void CenterOnScreen(QWidget* window) {
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    const QSize outer = window->frameGeometry().size();
    window->move(area.center() - QPoint(outer.width() / 2, outer.height() / 2));
}

void UseDialogFont(QWidget* window) {
    QFont f(QStringLiteral("MS Sans Serif"));
    f.setPixelSize(11);
    window->setFont(f);
}

void SetClientSize(QWidget* window, int width, int height) {
    window->resize(width, height);
}

} // namespace platform
