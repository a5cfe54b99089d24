#include "MessageLine.h"

#include <QEvent>
#include <QFontMetrics>

#include <climits>

namespace {

bool Fits(const QFont& font, const QString& text, const QSize& room) {
    const QRect need =
        QFontMetrics(font).boundingRect(QRect(0, 0, room.width(), INT_MAX), Qt::TextWordWrap, text);
    return need.width() <= room.width() && need.height() <= room.height();
}

} // namespace

TMessageLine::TMessageLine(QWidget* parent) : QLabel(parent) {
    setWordWrap(true);
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void TMessageLine::SetMessage(const QString& text) {
    FMessage = text;
    setToolTip(text);
    Fit();
}

void TMessageLine::resizeEvent(QResizeEvent* e) {
    QLabel::resizeEvent(e);
    Fit();
}

void TMessageLine::changeEvent(QEvent* e) {
    QLabel::changeEvent(e);
    if (e->type() == QEvent::FontChange && !FFitting) {
        // A font given from outside (the window's) is where fitting starts.
        Fit();
    }
}

void TMessageLine::Fit() {
    if (FFitting)
        return;
    FFitting = true;
    const QSize room = contentsRect().size();
    QFont font = parentWidget() ? parentWidget()->font() : QLabel::font();
    int size = font.pixelSize() > 0 ? font.pixelSize() : QFontInfo(font).pixelSize();
    QString shown = FMessage;
    for (;;) {
        font.setPixelSize(size);
        if (Fits(font, shown, room) || size <= kSmallestPixelSize)
            break;
        --size;
    }
    if (!Fits(font, shown, room)) {
        // Not even the smallest face holds it: cut at a word boundary and mark the cut.
        const QChar ellipsis(0x2026);
        while (!shown.isEmpty() && !Fits(font, shown + ellipsis, room)) {
            const int blank = shown.lastIndexOf(QLatin1Char(' '));
            shown.truncate(blank > 0 ? blank : shown.size() - 1);
        }
        shown += ellipsis;
    }
    setFont(font);
    setText(shown);
    FFitting = false;
}
