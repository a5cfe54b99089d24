#pragma once
// Writing a delivered print to its file (a slot's "dedo%d.bmp", or "huella.bmp") as an 8-bit
// BMP in the station's layout: 14-byte file header, 40-byte info header, 256-entry colour
// table, pixels at offset 1078, rows bottom-up padded to 4 bytes with zeros.
// The file is written under a temporary name beside the target and renamed into place when
// complete, so a crash or a full disk never leaves a truncated print under the real name.
#include <QImage>
#include <QString>

// Raises a platform::StationError naming the file when it cannot be written; on failure no
// file of that name and no temporary is left behind. The image must be 8 bits a pixel.
void SaveSlotBitmap(const QImage& indexed8, const QString& fileName);
