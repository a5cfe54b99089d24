// Arbitrary bytes as a BMP file: the block size, the loader and the multiply stamp (the loaded
// block laid onto a small target and a small stamp laid onto the loaded block) must neither
// read nor write outside their blocks.
#include "dibutils.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("input.bmp"));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        f.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    const int64_t expected = BmpDataSize(path);
    std::unique_ptr<DibBlock> block = LoadBmpData(path);
    if (!block)
        return 0;
    // A block comes back only for a whole file, and its size follows the header.
    if (expected == 0 || block->Size() != expected ||
        static_cast<int64_t>(size) < kBmpFileHeaderSize + expected)
        std::abort();

    // Centres from the input, so clipping on every side is exercised.
    const int32_t cx = size > 20 ? static_cast<int8_t>(data[size - 1]) : 0;
    const int32_t cy = size > 20 ? static_cast<int8_t>(data[size - 2]) : 0;
    auto small = DibBlock::CreateGrey(7, 5);
    StampMultiply(*block, *small, cx, cy);
    StampMultiply(*small, *block, block->Width() / 2 + cx, block->Height() / 2 + cy);
    return 0;
}
