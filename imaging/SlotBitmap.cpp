#include "SlotBitmap.h"

#include "Errors.h"
#include "dibutils.h"

#include <QSaveFile>

#include <cstring>

void SaveSlotBitmap(const QImage& image, const QString& fileName) {
    const QString failure = QStringLiteral("No se pudo escribir el archivo %1").arg(fileName);
    if (image.format() != QImage::Format_Indexed8)
        throw platform::StationError(failure);
    auto block = DibBlock::CreateGrey(image.width(), image.height());
    if (!block)
        throw platform::StationError(failure);
    const QList<QRgb> table = image.colorTable();
    uint8_t* palette = block->Data() + kBmpInfoHeaderSize;
    for (int i = 0; i < 256 && i < table.size(); ++i) {
        palette[4 * i + 0] = static_cast<uint8_t>(qBlue(table[i]));
        palette[4 * i + 1] = static_cast<uint8_t>(qGreen(table[i]));
        palette[4 * i + 2] = static_cast<uint8_t>(qRed(table[i]));
        palette[4 * i + 3] = 0;
    }
    const int h = image.height();
    for (int y = 0; y < h; ++y)
        std::memcpy(block->StoredRow(h - 1 - y), image.constScanLine(y),
                    static_cast<size_t>(image.width()));

    uint8_t header[kBmpFileHeaderSize] = {'B', 'M'};
    const uint32_t fileSize = static_cast<uint32_t>(block->Size() + kBmpFileHeaderSize);
    std::memcpy(header + 2, &fileSize, 4);
    const uint32_t offset = kBmpPixelOffset;
    std::memcpy(header + 10, &offset, 4);

    QSaveFile out(fileName);
    if (!out.open(QIODevice::WriteOnly) ||
        out.write(reinterpret_cast<const char*>(header), sizeof header) != sizeof header ||
        out.write(reinterpret_cast<const char*>(block->Data()), block->Size()) != block->Size() ||
        !out.commit())
        throw platform::StationError(failure);
}
