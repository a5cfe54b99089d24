#pragma once
// The picture of the scanner face on which the capture window paints its four finger-quality
// indicators: a 115 x 124 drawing of a single-finger scanner with a dark platen. The
// indicators (rounded bars at x 15 + 22 i .. 35 + 22 i, y 30 .. 100) lie on the platen.
#include <QImage>

inline constexpr int kScannerPictureWidth = 115;
inline constexpr int kScannerPictureHeight = 124;

QImage MakeScannerPicture();
