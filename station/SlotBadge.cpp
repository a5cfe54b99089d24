#include "SlotBadge.h"

#include "ImageViewer.h"
#include "NFIQUtil.h"

#include <QEvent>
#include <QPainter>

#include <algorithm>

namespace {

constexpr int kMargin = 3; // pixels between the mark and the edges of the picture area

} // namespace

TSlotBadge::TSlotBadge(TImageViewer* viewer, Qt::Corner corner)
    : QWidget(viewer->viewport()), FCorner(corner) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    parentWidget()->installEventFilter(this);
    hide();
}

void TSlotBadge::ShowMark(const QString& text, const QColor& background, const QColor& foreground) {
    FText = text;
    FBackground = background;
    FForeground = foreground;
    Place();
    show();
    raise();
    update();
}

void TSlotBadge::Clear() {
    FText.clear();
    hide();
}

bool TSlotBadge::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && event->type() == QEvent::Resize && !FText.isEmpty())
        Place();
    return QWidget::eventFilter(watched, event);
}

// Sized to its text, in a font that grows with the slot (the window is usually maximised),
// and kept in its corner of the picture area.
void TSlotBadge::Place() {
    const QSize area = parentWidget()->size();
    QFont f = font();
    f.setBold(true);
    f.setPixelSize(std::clamp(std::min(area.width(), area.height()) / 8, 11, 26));
    setFont(f);
    const QFontMetrics fm(f);
    const QSize size(fm.horizontalAdvance(FText) + fm.height() / 2 + 4, fm.height() + 4);
    const bool right = FCorner == Qt::TopRightCorner || FCorner == Qt::BottomRightCorner;
    const bool bottom = FCorner == Qt::BottomLeftCorner || FCorner == Qt::BottomRightCorner;
    const int x = right ? area.width() - size.width() - kMargin : kMargin;
    const int y = bottom ? area.height() - size.height() - kMargin : kMargin;
    setGeometry(QRect(QPoint(std::max(0, x), std::max(0, y)), size));
}

void TSlotBadge::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(FBackground);
    const qreal radius = height() / 4.0;
    p.drawRoundedRect(QRectF(rect()), radius, radius);
    p.setPen(FForeground);
    p.drawText(rect(), Qt::AlignCenter, FText);
}

SlotScoreMark ScoreMark(int status, int score) {
    SlotScoreMark mark;
    if (status == kNfiqNoImage)
        return mark;
    mark.shown = true;
    mark.foreground = Qt::white;
    // Statuses 1 and 2 are scores the library gave with a complaint; they stand as scores.
    const bool scored = status >= 0 && score >= 1 && score <= 5;
    if (!scored) {
        mark.text = QStringLiteral("NFIQ ?");
        mark.background = QColor(110, 110, 110);
        return mark;
    }
    mark.text = QStringLiteral("NFIQ %1").arg(score);
    if (score <= 2) {
        mark.background = QColor(0, 128, 0);
    } else if (score == 3) {
        mark.background = QColor(240, 170, 0);
        mark.foreground = Qt::black;
    } else {
        mark.background = QColor(200, 0, 0);
    }
    return mark;
}
