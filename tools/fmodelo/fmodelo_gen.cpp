// Draws the ten-print card form and writes it as the 8-bit grey card template.
//
// The picture is 3940 × 1970 pixels, which the card report stretches into a box of
// 200.2 × 100.1 mm: about 500 pixels an inch, the resolution of the prints stamped on it.
// Each finger's box is centred (within a few pixels) on the place where ComposeCard puts that
// finger's print; the right hand is the upper row, the left hand the lower one.
//
// Usage: fmodelo_gen [output file]   (default "fmodelo.bemepe")
#include "dibcard.h"

#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdio>
#include <iterator>

namespace {

constexpr int kWidth = 3940;
constexpr int kHeight = 1970;
constexpr int kBoxHalfHeight = 330;
constexpr int kFrameLeft = 24;
constexpr int kFrameRight = 3916;
constexpr int kFrameTop = 12;
constexpr int kFrameBottom = 1958;
constexpr int kPanelRight = 770; // the finger boxes start here
// The corner left free for the reference: about 37 × 5.5 mm from the picture's top left.
constexpr int kReferenceRight = 730;
constexpr int kReferenceBottom = 110;

const char* const kFingerNames[10] = {
    "Pulgar Derecho",   "Indice Derecho",    "Medio Derecho",    "Anular Derecho",
    "Meñique Derecho",  "Pulgar Izquierdo",  "Indice Izquierdo", "Medio Izquierdo",
    "Anular Izquierdo", "Meñique Izquierdo",
};

// Top-down picture row of a stored row counted from the bottom.
int TopRow(int storedRow) {
    return kHeight - 1 - storedRow;
}

// Left and right edges of the box of column c (0 = thumb): halfway between neighbouring
// places, and as far beyond the outer places as the next place lies inside.
int BoxLeft(int c) {
    if (c == 0)
        return kPanelRight;
    return (kCardPlaces[c - 1].CenterX + kCardPlaces[c].CenterX) / 2;
}
int BoxRight(int c) {
    if (c == 4)
        return kCardPlaces[4].CenterX + (kCardPlaces[4].CenterX - BoxLeft(4));
    return BoxLeft(c + 1);
}

QFont Font(int pixels, bool bold = false) {
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

// A caption with a ruled line to write on, from x0 to x1 with its baseline at y.
void Field(QPainter& p, const QString& caption, int x0, int x1, int y) {
    p.setFont(Font(34));
    p.drawText(x0, y - 8, caption);
    const int start = x0 + p.fontMetrics().horizontalAdvance(caption) + 12;
    p.setPen(QPen(Qt::black, 4));
    p.drawLine(start, y, x1, y);
}

// The side panel of one hand: its title and the personal-data fields.
void Panel(QPainter& p, const QString& title, const QStringList& fields, int top, int bottom) {
    const QRect r(kFrameLeft + 20, top, kPanelRight - kFrameLeft - 40, bottom - top);
    p.setPen(QPen(Qt::black, 4));
    p.drawRect(r);
    p.fillRect(QRect(r.left() + 2, r.top() + 2, r.width() - 3, 76), QColor(215, 215, 215));
    p.setFont(Font(46, true));
    p.drawText(QRect(r.left(), r.top(), r.width(), 80), Qt::AlignCenter, title);
    p.drawLine(r.left(), r.top() + 80, r.right(), r.top() + 80);
    int y = r.top() + 80 + 110;
    for (const QString& f : fields) {
        Field(p, f, r.left() + 24, r.right() - 24, y);
        y += 110;
    }
}

void DrawCard(QPainter& p) {
    p.fillRect(0, 0, kWidth, kHeight, Qt::white);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);

    // Outer frame, open at the top left corner: the card report writes the reference there.
    p.setPen(QPen(Qt::black, 8));
    const QPoint frame[] = {
        {kFrameLeft, kReferenceBottom}, {kReferenceRight, kReferenceBottom},
        {kReferenceRight, kFrameTop},   {kFrameRight, kFrameTop},
        {kFrameRight, kFrameBottom},    {kFrameLeft, kFrameBottom},
    };
    p.drawPolygon(frame, std::size(frame));

    // Title over the finger boxes; the top left corner stays free for the reference, which
    // the card report writes there.
    const int upperTop = TopRow(kCardPlaces[0].CenterY) - kBoxHalfHeight;
    const int lowerTop = TopRow(kCardPlaces[5].CenterY) - kBoxHalfHeight;
    p.setFont(Font(78, true));
    p.drawText(QRect(kPanelRight, kFrameTop, BoxRight(4) - kPanelRight, upperTop - kFrameTop),
               Qt::AlignCenter, QStringLiteral("FICHA DECADACTILAR"));

    // The ten finger boxes, each with its number and name in the upper left corner.
    for (int n = 0; n < 10; ++n) {
        const int c = n % 5;
        const int top = TopRow(kCardPlaces[n].CenterY) - kBoxHalfHeight;
        const QRect box(BoxLeft(c), top, BoxRight(c) - BoxLeft(c), 2 * kBoxHalfHeight);
        p.setPen(QPen(Qt::black, 6));
        p.drawRect(box);
        p.setFont(Font(36, true));
        p.drawText(box.adjusted(16, 10, -10, -10), Qt::AlignLeft | Qt::AlignTop,
                   QStringLiteral("%1. %2").arg(n + 1).arg(QString::fromUtf8(kFingerNames[n])));
    }

    // Hand panels beside each row.
    Panel(p, QStringLiteral("MANO DERECHA"),
          {QStringLiteral("Apellidos:"), QStringLiteral("Nombre:"),
           QStringLiteral("Fecha de nacimiento:"), QStringLiteral("Nacionalidad:"),
           QStringLiteral("Documento:")},
          upperTop, upperTop + 2 * kBoxHalfHeight);
    Panel(p, QStringLiteral("MANO IZQUIERDA"),
          {QStringLiteral("Sexo:"), QStringLiteral("Estatura:"), QStringLiteral("Domicilio:"),
           QStringLiteral(""), QStringLiteral("Observaciones:")},
          lowerTop, lowerTop + 2 * kBoxHalfHeight);

    // Between the rows: three signature cells with ruled lines.
    const int bandTop = upperTop + 2 * kBoxHalfHeight + 30;
    const int bandBottom = lowerTop - 30;
    const int x0 = kFrameLeft + 20;
    const int x1 = BoxRight(4);
    p.setPen(QPen(Qt::black, 4));
    p.drawRect(QRect(x0, bandTop, x1 - x0, bandBottom - bandTop));
    const QString cells[3] = {QStringLiteral("Firma del interesado"),
                              QStringLiteral("Firma y sello del funcionario"),
                              QStringLiteral("Lugar y fecha")};
    const int cellWidth = (x1 - x0) / 3;
    for (int i = 0; i < 3; ++i) {
        const int left = x0 + i * cellWidth;
        if (i > 0) {
            p.setPen(QPen(Qt::black, 4));
            p.drawLine(left, bandTop, left, bandBottom);
        }
        p.setPen(Qt::black);
        p.setFont(Font(34, true));
        p.drawText(left + 24, bandTop + 50, cells[i]);
        p.setPen(QPen(Qt::black, 4, Qt::DashLine));
        p.drawLine(left + 60, bandBottom - 70, left + cellWidth - 60, bandBottom - 70);
    }

    // Footer below the lower row.
    p.setPen(Qt::black);
    p.setFont(Font(36));
    const int footerTop = lowerTop + 2 * kBoxHalfHeight;
    p.drawText(QRect(x0, footerTop, x1 - x0, kFrameBottom - footerTop), Qt::AlignCenter,
               QStringLiteral("Impresiones dactilares tomadas con escáner a 500 ppp. "
                              "Cada huella en la casilla de su dedo; mano derecha arriba, "
                              "mano izquierda abajo."));
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString output = argc > 1 ? QString::fromLocal8Bit(argv[1]) : kCardTemplateName;

    QImage picture(kWidth, kHeight, QImage::Format_RGB32);
    {
        QPainter p(&picture);
        DrawCard(p);
    }
    const QImage grey = picture.convertToFormat(QImage::Format_Grayscale8);

    // The template's layout: grey colour table, rows bottom-up, padding bytes zero.
    std::unique_ptr<DibBlock> block = DibBlock::CreateGrey(kWidth, kHeight);
    for (int r = 0; r < kHeight; ++r)
        std::copy_n(grey.constScanLine(kHeight - 1 - r), kWidth, block->StoredRow(r));
    // Record the resolution (500 ppi = 19685 pixels a metre) in the info header.
    for (int off : {24, 28}) {
        const uint32_t ppm = 19685;
        for (int i = 0; i < 4; ++i)
            block->Data()[off + i] = static_cast<uint8_t>(ppm >> (8 * i));
    }
    try {
        if (!SaveBmpData(*block, output, block->Size())) {
            std::fprintf(stderr, "fmodelo_gen: could not write %s\n", qPrintable(output));
            return 1;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fmodelo_gen: %s\n", e.what());
        return 1;
    }
    std::printf("%s: %d x %d\n", qPrintable(output), kWidth, kHeight);
    return 0;
}
