#pragma once
// 8-bit bitmaps kept whole in one block (a DibBlock): the BMP file without its 14-byte file
// header — the 40-byte info header, a 256-entry colour table and the pixel rows, bottom row
// first, each padded to a multiple of 4 bytes. Pixels start at offset 1064 of the block
// (1078 in the file).
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

constexpr int kBmpFileHeaderSize = 14;
constexpr int kBmpInfoHeaderSize = 40;
constexpr int kDibPaletteSize = 1024;
constexpr int kDibPixelOffset = kBmpInfoHeaderSize + kDibPaletteSize; // 1064
constexpr int kBmpPixelOffset = kBmpFileHeaderSize + kDibPixelOffset; // 1078

// Largest picture the loaders accept; beyond it a header is treated as damaged.
constexpr int64_t kMaxDibSide = 16384;

// A DibBlock owns its bytes; whoever holds the unique_ptr owns the block.
class DibBlock {
  public:
    explicit DibBlock(std::vector<uint8_t> bytes) : FBytes(std::move(bytes)) {}

    // A new zero-filled block of the given picture size with a grey colour table.
    static std::unique_ptr<DibBlock> CreateGrey(int width, int height);

    int32_t Width() const;  // biWidth
    int32_t Height() const; // biHeight
    int32_t Stride() const; // RoundUp4(biWidth)
    uint8_t* Data() { return FBytes.data(); }
    const uint8_t* Data() const { return FBytes.data(); }
    int64_t Size() const { return static_cast<int64_t>(FBytes.size()); }
    uint8_t* Pixels() { return FBytes.data() + kDibPixelOffset; }
    const uint8_t* Pixels() const { return FBytes.data() + kDibPixelOffset; }
    // Stored row r (0 = bottom row of the picture).
    uint8_t* StoredRow(int r) { return Pixels() + static_cast<int64_t>(r) * Stride(); }
    const uint8_t* StoredRow(int r) const { return Pixels() + static_cast<int64_t>(r) * Stride(); }

  private:
    std::vector<uint8_t> FBytes;
};

int32_t RoundUp4(int32_t n);

// Size of the DibBlock for a picture of the given header size: RoundUp4(width) × height + 1064,
// computed in 64 bits. 0 when the size is not positive or beyond kMaxDibSide on either side.
int64_t DibSizeFor(int32_t width, int32_t height);

// Size in bytes of the DibBlock for a BMP file; 0 when the file is missing, too short for its
// headers, or its header gives a non-positive or oversized picture.
int64_t BmpDataSize(const QString& fileName);

// Reads a BMP file into a new block; none when the file is missing, short or damaged.
std::unique_ptr<DibBlock> LoadBmpData(const QString& fileName);

// A new block holding the rectangle (left, top)–(right, bottom) of a block's picture, in
// top-down coordinates with right and bottom exclusive, copied without resampling, with the
// source's colour table; none when the rectangle is empty or does not lie inside the picture.
std::unique_ptr<DibBlock> CopyDibRect(const DibBlock& source, int left, int top, int right,
                                      int bottom);

// Writes the block as a BMP file (file header with bfSize = dataSize + 14 and bfOffBits = 1078,
// then dataSize bytes of the block). True when all dataSize bytes were written. Raises a
// platform::StationError when the file cannot be created.
bool SaveBmpData(const DibBlock& block, const QString& fileName, int64_t dataSize);

// Lays Stamp onto Target by multiplication: each covered target pixel t becomes the integer
// nearest to s × t / 255, so white stamp pixels leave the target as it was and black ones
// blacken it. The stamp's centre pixel (width div 2, height div 2) lands on column centerX and
// stored row centerY of the target (stored rows count from the bottom edge); the stamp keeps
// its orientation and whatever falls outside the target is clipped. Only Target's pixel bytes
// change. Blocks whose size does not cover their header's picture are left alone.
void StampMultiply(const DibBlock& stamp, DibBlock& target, int32_t centerX, int32_t centerY);
