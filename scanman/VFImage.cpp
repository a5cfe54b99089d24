#include "VFImage.h"

#include <cstring>
#include <stdexcept>

int32_t DibGet32(const QByteArray& block, int offset) {
    const auto* p = reinterpret_cast<const unsigned char*>(block.constData()) + offset;
    return static_cast<int32_t>(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                                uint32_t(p[3]) << 24);
}

void DibPut32(QByteArray& block, int offset, int32_t value) {
    const auto v = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        block[offset + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

void DibPut16(QByteArray& block, int offset, int16_t value) {
    const auto v = static_cast<uint16_t>(value);
    block[offset] = static_cast<char>(v & 0xFF);
    block[offset + 1] = static_cast<char>(v >> 8);
}

void DibPutHeader(QByteArray& block, int32_t width, int32_t height, int32_t imageSize,
                  int32_t xPelsPerMeter, int32_t yPelsPerMeter, int32_t coloursUsed) {
    DibPut32(block, 0, DibHeaderSize);
    DibPut32(block, 4, width);
    DibPut32(block, 8, height);
    DibPut16(block, 12, 1); // planes
    DibPut16(block, 14, 8); // bits per pixel
    DibPut32(block, 16, 0); // no compression
    DibPut32(block, 20, imageSize);
    DibPut32(block, 24, xPelsPerMeter);
    DibPut32(block, 28, yPelsPerMeter);
    DibPut32(block, 32, coloursUsed);
    DibPut32(block, 36, 0); // important colours
}

void TVFImage::SetSize(int32_t width, int32_t height) {
    if (width <= 0 || height <= 0)
        width = height = 0;
    const int64_t size = int64_t(width) * height;
    if (size > INT32_MAX)
        throw std::length_error("image too large");
    if (size != Size) {
        if (size == 0) {
            std::vector<unsigned char>().swap(FPixels);
        } else {
            FPixels.resize(size_t(size));
        }
        Size = static_cast<int32_t>(size);
    }
    Width = width;
    Height = height;
}

void TVFImage::SetImage(int32_t width, int32_t height, const unsigned char* pixels) {
    SetSize(width, height);
    if (Size != 0 && pixels)
        std::memcpy(FPixels.data(), pixels, size_t(Size));
}

void TVFImage::Clear() {
    if (IsEmpty())
        return;
    Width = Height = Size = 0;
    std::vector<unsigned char>().swap(FPixels);
}

QByteArray TVFImage::ToDIB() const {
    if (IsEmpty())
        return {};
    const int32_t stride = RoundUp4(Width);
    QByteArray block(DibPixelOffset + qsizetype(stride) * Height, '\0');
    DibPutHeader(block, Width, Height, stride * Height, 0, 0, 0);
    char* data = block.data();
    for (int i = 0; i < 256; ++i) {
        data[DibHeaderSize + 4 * i] = static_cast<char>(i);
        data[DibHeaderSize + 4 * i + 1] = static_cast<char>(i);
        data[DibHeaderSize + 4 * i + 2] = static_cast<char>(i);
    }
    for (int32_t y = 0; y < Height; ++y)
        std::memcpy(data + DibPixelOffset + qsizetype(stride) * (Height - 1 - y),
                    FPixels.data() + qsizetype(Width) * y, size_t(Width));
    return block;
}
