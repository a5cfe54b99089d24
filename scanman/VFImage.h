// TVFImage: the buffer that holds one delivered image (8-bit grey, top row first, rows not
// padded) and turns it into a DIB block.
#pragma once

#include <QByteArray>

#include <cstdint>
#include <vector>

// A DIB block is a BMP file without its 14-byte file header: the 40-byte information
// header, 256 colour entries of 4 bytes, then the rows bottom row first, each padded to a
// multiple of 4 bytes. It is held in a QByteArray; an empty array stands for none.
constexpr int DibHeaderSize = 40;
constexpr int DibPaletteSize = 1024;
constexpr int DibPixelOffset = DibHeaderSize + DibPaletteSize; // 1064

inline int32_t RoundUp4(int32_t n) {
    return (n + 3) & ~3;
}

class TVFImage {
  public:
    TVFImage() = default;
    ~TVFImage() { Clear(); }
    TVFImage(const TVFImage&) = delete;
    TVFImage& operator=(const TVFImage&) = delete;

    int32_t Width = 0;
    int32_t Height = 0;
    int32_t Size = 0;

    const unsigned char* Pixels() const { return FPixels.empty() ? nullptr : FPixels.data(); }

    // Zero or negative sides make both 0. The buffer is only resized when the pixel count
    // changes. Throws std::length_error when width x height does not fit in 32 bits.
    void SetSize(int32_t width, int32_t height);
    // SetSize, then copies Size bytes from pixels.
    void SetImage(int32_t width, int32_t height, const unsigned char* pixels);
    void Clear();
    bool IsEmpty() const { return FPixels.empty(); }
    // A new DIB block of the image (grey palette, top row stored last); empty when the
    // image is empty.
    QByteArray ToDIB() const;

  private:
    std::vector<unsigned char> FPixels;
};

// Reads and writes little-endian header fields of a DIB block or a bitmap file.
int32_t DibGet32(const QByteArray& block, int offset);
void DibPut32(QByteArray& block, int offset, int32_t value);
void DibPut16(QByteArray& block, int offset, int16_t value);
// Writes the 40-byte information header of an 8-bit uncompressed block.
void DibPutHeader(QByteArray& block, int32_t width, int32_t height, int32_t imageSize,
                  int32_t xPelsPerMeter, int32_t yPelsPerMeter, int32_t coloursUsed);
