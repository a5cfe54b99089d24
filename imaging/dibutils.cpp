#include "dibutils.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace {

int32_t ReadLe32(const uint8_t* p) {
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                static_cast<uint32_t>(p[2]) << 16 |
                                static_cast<uint32_t>(p[3]) << 24);
}

void WriteLe32(uint8_t* p, uint32_t v) {
    p[0] = v & 0xff;
    p[1] = (v >> 8) & 0xff;
    p[2] = (v >> 16) & 0xff;
    p[3] = (v >> 24) & 0xff;
}

// True when the block is large enough for the picture its header describes.
bool CoversPicture(const DibBlock& b) {
    const int64_t need = DibSizeFor(b.Width(), b.Height());
    return need != 0 && b.Size() >= need;
}

} // namespace

int32_t RoundUp4(int32_t n) {
    return static_cast<int32_t>((static_cast<uint32_t>(n) + 3u) & ~3u);
}

int32_t DibBlock::Width() const {
    return ReadLe32(FBytes.data() + 4);
}
int32_t DibBlock::Height() const {
    return ReadLe32(FBytes.data() + 8);
}
int32_t DibBlock::Stride() const {
    return RoundUp4(Width());
}

std::unique_ptr<DibBlock> DibBlock::CreateGrey(int width, int height) {
    const int64_t size = DibSizeFor(width, height);
    if (size == 0)
        return nullptr;
    std::vector<uint8_t> bytes(static_cast<size_t>(size), 0);
    uint8_t* h = bytes.data();
    WriteLe32(h + 0, kBmpInfoHeaderSize);
    WriteLe32(h + 4, static_cast<uint32_t>(width));
    WriteLe32(h + 8, static_cast<uint32_t>(height));
    h[12] = 1; // planes
    h[14] = 8; // bits per pixel
    WriteLe32(h + 20, static_cast<uint32_t>(size - kDibPixelOffset));
    WriteLe32(h + 32, 256);
    for (int i = 0; i < 256; ++i) {
        uint8_t* e = h + kBmpInfoHeaderSize + 4 * i;
        e[0] = e[1] = e[2] = static_cast<uint8_t>(i);
    }
    return std::make_unique<DibBlock>(std::move(bytes));
}

int64_t DibSizeFor(int32_t width, int32_t height) {
    if (width <= 0 || height <= 0 || width > kMaxDibSide || height > kMaxDibSide)
        return 0;
    return static_cast<int64_t>(RoundUp4(width)) * height + kDibPixelOffset;
}

std::unique_ptr<DibBlock> CopyDibRect(const DibBlock& source, int left, int top, int right,
                                      int bottom) {
    const int w = source.Width(), h = source.Height();
    if (left < 0 || top < 0 || right > w || bottom > h || right <= left || bottom <= top)
        return nullptr;
    auto out = DibBlock::CreateGrey(right - left, bottom - top);
    if (!out)
        return nullptr;
    std::memcpy(out->Data() + kBmpInfoHeaderSize, source.Data() + kBmpInfoHeaderSize,
                kDibPaletteSize);
    const int outH = bottom - top;
    for (int y = top; y < bottom; ++y)
        std::memcpy(out->StoredRow(outH - 1 - (y - top)), source.StoredRow(h - 1 - y) + left,
                    static_cast<size_t>(right - left));
    return out;
}

int64_t BmpDataSize(const QString& fileName) {
    QFile f(fileName);
    if (!f.exists() || !f.open(QIODevice::ReadOnly))
        return 0;
    uint8_t headers[kBmpFileHeaderSize + kBmpInfoHeaderSize];
    if (f.read(reinterpret_cast<char*>(headers), sizeof headers) != sizeof headers)
        return 0;
    const uint8_t* info = headers + kBmpFileHeaderSize;
    return DibSizeFor(ReadLe32(info + 4), ReadLe32(info + 8));
}

std::unique_ptr<DibBlock> LoadBmpData(const QString& fileName) {
    const int64_t size = BmpDataSize(fileName);
    if (size == 0)
        return nullptr;
    QFile f(fileName);
    if (!f.open(QIODevice::ReadOnly) || f.size() < kBmpFileHeaderSize + size)
        return nullptr;
    if (!f.seek(kBmpFileHeaderSize))
        return nullptr;
    std::vector<uint8_t> bytes;
    try {
        bytes.assign(static_cast<size_t>(size), 0);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    if (f.read(reinterpret_cast<char*>(bytes.data()), size) != size)
        return nullptr;
    return std::make_unique<DibBlock>(std::move(bytes));
}

bool SaveBmpData(const DibBlock& block, const QString& fileName, int64_t dataSize) {
    QFile f(fileName);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error(QStringLiteral("Cannot create file \"%1\". %2")
                                     .arg(QFileInfo(fileName).absoluteFilePath(), f.errorString())
                                     .toStdString());
    uint8_t header[kBmpFileHeaderSize] = {'B', 'M'};
    WriteLe32(header + 2, static_cast<uint32_t>(dataSize + kBmpFileHeaderSize));
    WriteLe32(header + 10, kBmpPixelOffset);
    f.write(reinterpret_cast<const char*>(header), sizeof header);
    const int64_t n = std::min<int64_t>(dataSize, block.Size());
    const bool ok = n == dataSize && f.write(reinterpret_cast<const char*>(block.Data()), n) == n;
    f.close();
    return ok && f.error() == QFileDevice::NoError;
}

void StampMultiply(const DibBlock& stamp, DibBlock& target, int32_t centerX, int32_t centerY) {
    if (!CoversPicture(stamp) || !CoversPicture(target))
        return;
    const int64_t w = stamp.Width(), h = stamp.Height();
    const int64_t tw = target.Width(), th = target.Height();
    const int64_t halfW = w / 2, halfH = h / 2;
    for (int64_t i = 0; i < w; ++i) {
        const int64_t x = centerX + i - halfW;
        if (x < 0 || x >= tw)
            continue;
        for (int64_t j = 0; j < h; ++j) {
            const int64_t y = centerY + j - halfH;
            if (y < 0 || y >= th)
                continue;
            const double s = stamp.StoredRow(static_cast<int>(j))[i];
            uint8_t& t = target.StoredRow(static_cast<int>(y))[x];
            // s·t/255 never reaches a half, so rounding to nearest is unambiguous.
            const long v = std::lround((s / 255.0) * (t / 255.0) * 255.0);
            t = static_cast<uint8_t>(std::min(v, 255L));
        }
    }
}
