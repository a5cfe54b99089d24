#include "UVerDedo.h"

#include "Screen.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QRegularExpression>
#include <QScreen>

#include <algorithm>
#include <cmath>

TFVerDedo* FVerDedo = nullptr;

namespace {

// Room the window manager's border and title bar take around the client area, when the
// window has not been framed yet (at least this much is kept free on the screen).
const QMargins kFrameAllowance(4, 30, 4, 4);
// The part of a title bar that icons and buttons take, beside the caption.
constexpr int kTitleBarButtons = 90;

const QRegularExpression& ScaledNote() {
    static const QRegularExpression note(QStringLiteral(" \\(reducida al \\d+ %\\)$"));
    return note;
}

} // namespace

TFVerDedo::TFVerDedo(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName("FVerDedo");
    setWindowTitle(QStringLiteral("FVerDedo"));
    platform::UseDialogFont(this);
    platform::SetClientSize(this, 536, 348);
    imgHuella = new TImageViewer(this);
    imgHuella->setObjectName("imgHuella");
    imgHuella->setGeometry(rect());
    // The window is always sized to the whole print: scroll bars would only hide its edges.
    imgHuella->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    imgHuella->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    lblCaption = new QLabel(imgHuella->viewport());
    lblCaption->setObjectName("lblCaption");
    lblCaption->setWordWrap(true);
    lblCaption->setAlignment(Qt::AlignCenter);
    lblCaption->setAutoFillBackground(true);
    QPalette pal = lblCaption->palette();
    pal.setColor(QPalette::Window, QColor(255, 255, 225));
    pal.setColor(QPalette::WindowText, Qt::black);
    lblCaption->setPalette(pal);
    lblCaption->hide();
    connect(imgHuella, &TImageViewer::keyReleased, this,
            [this](int key, Qt::KeyboardModifiers) { FormKeyUp(key); });
}

void TFVerDedo::FormShow() {
    const int w = imgHuella->ImageWidth();
    const int h = imgHuella->ImageHeight();
    QString caption = windowTitle().remove(ScaledNote());

    // Full size with a 5-pixel margin, unless that does not fit on the screen: then the
    // largest whole per cent that fits.
    double scale = 100;
    QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (screen && w > 0 && h > 0) {
        const QMargins frame(std::max(kFrameAllowance.left(), geometry().left() - x()),
                             std::max(kFrameAllowance.top(), geometry().top() - y()),
                             kFrameAllowance.right(), kFrameAllowance.bottom());
        const QSize room = screen->availableGeometry().marginsRemoved(frame).size();
        const double fit = std::min(static_cast<double>(room.width() - 10) / w,
                                    static_cast<double>(room.height() - 10) / h);
        if (fit < 1)
            scale = std::max(1.0, std::floor(fit * 100));
    }
    imgHuella->SetScale(scale);
    if (scale < 100)
        caption += QStringLiteral(" (reducida al %1 %)").arg(static_cast<int>(scale));
    setWindowTitle(caption);

    const int cw = static_cast<int>(w * scale / 100) + 10;
    const int ch = static_cast<int>(h * scale / 100) + 10;
    // A fixed border: the print is shown whole at this size, so there is nothing to drag.
    setFixedSize(cw, ch);
    imgHuella->setGeometry(0, 0, cw, ch);
    imgHuella->Relayout();

    lblCaption->setText(caption);
    lblCaption->setToolTip(caption);
    imgHuella->setToolTip(caption);
    const QFontMetrics title(QGuiApplication::font());
    lblCaption->setVisible(title.horizontalAdvance(caption) + kTitleBarButtons > cw);
    PlaceCaption();
    platform::CenterOnScreen(this);
}

void TFVerDedo::PlaceCaption() {
    if (!lblCaption->isVisibleTo(this))
        return;
    const QWidget* area = imgHuella->viewport();
    const int width = std::max(1, area->width() - 4);
    const int height = lblCaption->heightForWidth(width);
    lblCaption->setGeometry(2, std::max(0, area->height() - height - 2), width, height);
    lblCaption->raise();
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
    PlaceCaption();
    QDialog::resizeEvent(e);
}

void TFVerDedo::keyReleaseEvent(QKeyEvent* e) {
    FormKeyUp(e->key());
}
