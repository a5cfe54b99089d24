// Draws the splash picture (480 × 300) and stores it as assets/splash.jpg.
// Build and run by hand when the picture should change:
//   g++ -std=c++20 -fPIC make_splash.cpp $(pkg-config --cflags --libs Qt6Gui) -o make_splash
//   QT_QPA_PLATFORM=offscreen ./make_splash ../../assets/splash.jpg
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("splash.jpg");
    QImage img(480, 300, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient bg(0, 0, 480, 300);
    bg.setColorAt(0, QColor(10, 24, 48));
    bg.setColorAt(1, QColor(2, 6, 14));
    p.fillRect(img.rect(), bg);

    // A stylised print: ridges around a loop core, slightly wavy, fading towards the edge.
    const QPointF core(130, 160);
    for (int k = 1; k <= 16; ++k) {
        QPainterPath ridge;
        const double r = 7.0 * k;
        bool first = true;
        for (double a = -M_PI * 1.05; a <= M_PI * 0.05; a += 0.02) {
            const double wobble = 1.5 * std::sin(a * 7 + k);
            const double rx = r * 0.85 + wobble, ry = r * 1.15 + wobble;
            QPointF pt(core.x() + rx * std::cos(a), core.y() + ry * std::sin(a));
            if (first) {
                ridge.moveTo(pt.x(), pt.y() + 60);
                ridge.lineTo(pt);
                first = false;
            } else {
                ridge.lineTo(pt);
            }
        }
        ridge.lineTo(ridge.currentPosition() + QPointF(0, 60));
        const int alpha = 230 - k * 10;
        p.setPen(QPen(QColor(80, 170, 255, alpha), 3.2, Qt::SolidLine, Qt::RoundCap));
        p.drawPath(ridge);
    }

    p.setPen(QColor(235, 242, 250));
    QFont title(QStringLiteral("Liberation Sans"));
    title.setPixelSize(46);
    title.setBold(true);
    p.setFont(title);
    p.drawText(QRect(250, 70, 220, 60), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Trazel"));
    QFont sub(QStringLiteral("Liberation Sans"));
    sub.setPixelSize(15);
    p.setFont(sub);
    p.setPen(QColor(150, 190, 230));
    p.drawText(QRect(252, 130, 220, 60), Qt::AlignLeft | Qt::TextWordWrap,
               QStringLiteral("Estación de captura decadactilar"));
    p.drawText(QRect(252, 240, 220, 24), Qt::AlignLeft, QStringLiteral("Versión 1.07"));
    p.setPen(QPen(QColor(80, 170, 255), 2));
    p.drawLine(252, 125, 440, 125);
    p.end();
    return img.save(out, "JPG", 88) ? 0 : 1;
}
