#pragma once
// The ten-print card picture: the ten finger bitmaps of a set stamped onto the card template.
#include "dibutils.h"

#include <QString>

#include <array>

// Name of the card template in the working directory (an 8-bit BMP despite its extension).
inline const QString kCardTemplateName = QStringLiteral("fmodelo.bemepe");

// Where the centre of each finger's print lands on the template: a column counted from the
// left edge and a stored row counted from the bottom edge. Slot n is at index n − 1: the right
// hand (slots 1–5) on the upper row, the left hand (6–10) below, thumb to little finger from
// left to right.
struct CardPlace {
    int CenterX;
    int CenterY;
};
inline constexpr std::array<CardPlace, 10> kCardPlaces = {{
    {1095, 1510},
    {1745, 1510},
    {2345, 1510},
    {2945, 1510},
    {3530, 1510},
    {1095, 460},
    {1745, 460},
    {2345, 460},
    {2945, 460},
    {3530, 460},
}};

// What the operator reads when the card file cannot be written whole.
inline const QString kCardNotWritten =
    QStringLiteral("Error: no se pudo escribir la ficha completa en el disco");

// Loads the template and the ten prints prefix + "1.bmp" … prefix + "10.bmp" (all relative to
// the working directory), multiplies each print onto the template at its place and writes the
// result, with the template's header and colour table, to outputFile.
// Raises std::runtime_error when the template or a print cannot be loaded (nothing is
// written then), and platform::StationError with kCardNotWritten when the output file cannot
// be created or written whole (the file is removed then).
void ComposeCard(const QString& outputFile, const QString& prefix);
