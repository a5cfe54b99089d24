#include "BitmapUtil.h"

#include "Errors.h"

#include <algorithm>
#include <cstring>

bool FlipBitmap(bool flipVertical, bool flipHorizontal, const QImage& source, QImage& dest) {
    if (source.isNull() || (source.format() != QImage::Format_Indexed8 &&
                            source.format() != QImage::Format_Grayscale8))
        return false;
    const int w = source.width();
    const int h = source.height();
    // Beyond this size the slot routines refuse the file anyway; do not store it.
    if (w > kMaxDibSide || h > kMaxDibSide)
        return false;
    QImage result(w, h, QImage::Format_Indexed8);
    if (result.isNull())
        return false;
    result.setColorTable(dest.colorTable());
    for (int r = 0; r < h; ++r) {
        const uchar* from = source.constScanLine(r);
        uchar* to = result.scanLine(flipVertical ? h - 1 - r : r);
        if (flipHorizontal)
            std::reverse_copy(from, from + w, to);
        else
            std::memcpy(to, from, static_cast<size_t>(w));
    }
    result.setDotsPerMeterX(source.dotsPerMeterX());
    result.setDotsPerMeterY(source.dotsPerMeterY());
    dest = std::move(result);
    return true;
}

void CropImage(TDibViewer& viewer, int left, int top, int right, int bottom) {
    if (!viewer.Image())
        throw platform::StationError(QStringLiteral("Input image is empty"));
    if (auto copy = viewer.CopyRect(left, top, right, bottom))
        viewer.SetImage(std::move(copy));
    viewer.Relayout();
}

void TrimToMultipleOf4(TDibViewer& viewer) {
    const DibBlock* image = viewer.Image();
    if (!image)
        throw platform::StationError(QStringLiteral("Input image is empty"));
    const int w = image->Width();
    CropImage(viewer, 0, 0, w - w % 4, image->Height());
}
