#pragma once
// Mirroring of delivered finger images, and cropping of the image a finger-slot viewer holds.
#include "DibViewer.h"

#include <QImage>

// Fills dest from source, an 8-bit image (Format_Indexed8 or Format_Grayscale8): turned upside
// down when flipVertical, mirrored left to right when flipHorizontal, both for a half turn,
// else an exact copy. Pixels are copied as bytes (palette indices); the palette is left to the
// caller: dest becomes an Indexed8 image of source's size and keeps the colour table it had
// before the call. False, with dest unchanged, when source is empty, not 8 bits a pixel or
// larger than kMaxDibSide on a side, or the image cannot be allocated.
bool FlipBitmap(bool flipVertical, bool flipHorizontal, const QImage& source, QImage& dest);

// Replaces the viewer's image by the rectangle (left, top)–(right, bottom) of it (top-down
// coordinates, right and bottom exclusive), copied without resampling, and lays the image out
// again at the viewer's zoom. When the copy fails (an empty or outside rectangle) the viewer
// keeps its image. Raises platform::StationError "Input image is empty" when the viewer holds
// no image.
void CropImage(TDibViewer& viewer, int left, int top, int right, int bottom);

// Drops the 0 to 3 rightmost columns that keep the viewer's image width from being a multiple
// of 4, so that its rows carry no filler bytes; the height stays. Only the viewer's image
// changes, never a file. Raises "Input image is empty" like CropImage.
void TrimToMultipleOf4(TDibViewer& viewer);
