// A delivered print on its way into a slot: the bytes are read as a bitmap the way a scanner
// delivery is, mirrored with FlipBitmap, written as the slot file, loaded into a viewer-like
// holder and cropped the way scoring trims it.
#include "BitmapUtil.h"
#include "Errors.h"

#include <QBuffer>
#include <QImage>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

using Holder = TDibHolder;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QTemporaryDir dir;
    if (size < 1)
        return 0;
    const bool flipV = data[0] & 1, flipH = data[0] & 2;
    QImage source;
    if (!source.loadFromData(data + 1, static_cast<int>(size - 1), "BMP"))
        return 0;
    QImage dest(1, 1, QImage::Format_Indexed8);
    dest.setColorTable(source.colorTable());
    const bool flipped = FlipBitmap(flipV, flipH, source, dest);
    // Refused exactly when not 8 bits a pixel or beyond the slot files' size limit.
    const bool usable = (source.format() == QImage::Format_Indexed8 ||
                         source.format() == QImage::Format_Grayscale8) &&
                        source.width() <= kMaxDibSide && source.height() <= kMaxDibSide;
    if (flipped != usable)
        std::abort();
    if (!flipped)
        return 0;
    if (dest.size() != source.size())
        std::abort();
    // The corner pixel lands where the flags say.
    const int x = flipH ? source.width() - 1 : 0, y = flipV ? source.height() - 1 : 0;
    if (dest.constScanLine(y)[x] != source.constScanLine(0)[0])
        std::abort();

    const QString slot = dir.filePath(QStringLiteral("dedo1.bmp"));
    if (dest.colorCount() < 256)
        dest.setColorCount(256); // keep the slot file an 8-bit bitmap
    if (!dest.save(slot, "BMP"))
        return 0;
    Holder holder;
    holder.FImage = LoadBmpData(slot);
    if (!holder.FImage)
        return 0;
    const int w = holder.FImage->Width(), h = holder.FImage->Height();
    TrimToMultipleOf4(holder);
    const int trimmed = w - w % 4;
    if (holder.FImage->Width() != (trimmed > 0 ? trimmed : w) || holder.FImage->Height() != h)
        std::abort();
    if (size > 4)
        CropImage(holder, data[1] % 8, data[2] % 8, data[3], data[4]);
    return 0;
}
