#include "ScannerPicture.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

QImage MakeScannerPicture() {
    QImage img(kScannerPictureWidth, kScannerPictureHeight, QImage::Format_RGB32);
    img.fill(QColor(240, 240, 240)); // the window's face colour around the device
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);

    // Housing: a light grey body with a darker rim, lit from the top.
    const QRectF body(2.5, 4.5, 110, 117);
    QLinearGradient shell(body.topLeft(), body.bottomLeft());
    shell.setColorAt(0.0, QColor(214, 218, 224));
    shell.setColorAt(1.0, QColor(160, 166, 176));
    p.setPen(QPen(QColor(96, 102, 112), 1.5));
    p.setBrush(shell);
    p.drawRoundedRect(body, 14, 14);

    // Bezel and the dark glass platen on which the indicators are painted.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(70, 74, 82));
    p.drawRoundedRect(QRectF(8, 20, 99, 88), 8, 8);
    QLinearGradient glass(QPointF(0, 23), QPointF(0, 105));
    glass.setColorAt(0.0, QColor(38, 44, 56));
    glass.setColorAt(1.0, QColor(16, 18, 24));
    p.setBrush(glass);
    p.drawRoundedRect(QRectF(11, 23, 93, 82), 6, 6);

    // A faint reflection across the glass.
    QPainterPath shine;
    shine.moveTo(13, 25);
    shine.lineTo(60, 25);
    shine.lineTo(30, 60);
    shine.lineTo(13, 60);
    shine.closeSubpath();
    p.setBrush(QColor(255, 255, 255, 18));
    p.drawPath(shine);

    // Status lamps and a maker's plate below the platen.
    const QColor lamps[] = {QColor(40, 160, 60), QColor(230, 160, 30), QColor(200, 40, 40)};
    for (int i = 0; i < 3; ++i) {
        p.setBrush(lamps[i]);
        p.drawEllipse(QPointF(20 + 9 * i, 114), 2.5, 2.5);
    }
    p.setBrush(QColor(120, 126, 136));
    p.drawRoundedRect(QRectF(60, 111, 42, 6), 3, 3);

    // Top grip line.
    p.setPen(QPen(QColor(130, 136, 146), 1.0));
    p.drawLine(QPointF(40, 11), QPointF(75, 11));
    p.end();
    return img;
}
