// Draws the picture that stands for a missing finger and stores it as an 8-bit grey BMP:
//   make_amputado assets/Amputado.BMP
// A light finger outline, crossed out, with the word "AMPUTADO": an operator recognises it in
// a slot and on the printed card, and it converts and scores like any print.
#include "dibutils.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstring>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("Amputado.BMP");
    const int w = 320, h = 400;
    QImage img(w, h, QImage::Format_Grayscale8);
    img.fill(255);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);

    // Finger outline: a rounded tip over straight sides, open at the bottom.
    QPainterPath finger;
    finger.moveTo(70, 390);
    finger.lineTo(70, 150);
    finger.arcTo(QRectF(70, 30, 180, 220), 180, -180);
    finger.lineTo(250, 390);
    p.setPen(QPen(QColor(150, 150, 150), 6, Qt::DashLine, Qt::RoundCap));
    p.drawPath(finger);

    p.setPen(QPen(QColor(40, 40, 40), 14, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(60, 60, 260, 340);
    p.drawLine(260, 60, 60, 340);

    QFont f(QStringLiteral("Liberation Sans"));
    f.setPixelSize(42);
    f.setBold(true);
    p.setFont(f);
    const QRect band(0, 170, w, 60);
    p.fillRect(band, QColor(255, 255, 255));
    p.setPen(QColor(0, 0, 0));
    p.drawText(band, Qt::AlignCenter, QStringLiteral("AMPUTADO"));
    p.end();

    auto block = DibBlock::CreateGrey(w, h);
    for (int y = 0; y < h; ++y)
        std::memcpy(block->StoredRow(h - 1 - y), img.constScanLine(y), static_cast<size_t>(w));
    return SaveBmpData(*block, out, block->Size()) ? 0 : 1;
}
