// One delivery from raw bytes: width and height (16-bit each, signed), resolution (32-bit,
// signed), then pixels (zero-padded to width x height). The bitmap handed to AfterScan must
// have a consistent header and size. The same bytes are also given to ScaleDIB as a DIB
// block, which must refuse or read only inside it.
#include "UFingerScan.h"

#include <QBuffer>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {
int32_t Get(const uint8_t* d, size_t n, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v |= uint32_t(at + size_t(i) < n ? d[at + size_t(i)] : 0) << (8 * i);
    return bytes == 2 ? int32_t(int16_t(v)) : int32_t(v);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int32_t w = Get(data, size, 0, 2), h = Get(data, size, 2, 2);
    const int32_t resolution = Get(data, size, 4, 4);
    TFingerScan scan;
    int after = 0;
    scan.BeforeScan = [](TScanStream& s) {
        auto b = std::make_unique<QBuffer>();
        b->open(QIODevice::ReadWrite);
        s = std::move(b);
    };
    scan.AfterScan = [&](TScanStream& s) {
        ++after;
        const QByteArray file = static_cast<QBuffer*>(s.get())->data();
        const int32_t fw = DibGet32(file, 18), fh = DibGet32(file, 22);
        if (fw <= 0 || fh <= 0 || fw % 4 != 0 || fw > FingerScanMaxSide || fh > FingerScanMaxSide ||
            file.size() != 1078 + qsizetype(fw) * fh || DibGet32(file, 2) != file.size())
            std::abort();
    };
    std::vector<unsigned char> pixels;
    if (w > 0 && h > 0 && int64_t(w) * h <= 4 * 1024 * 1024) {
        pixels.assign(size_t(w) * size_t(h), 0);
        if (size > 8)
            std::memcpy(pixels.data(), data + 8, std::min(pixels.size(), size - 8));
    } else {
        pixels.assign(16, 0);
        if (w > 0 && h > 0)
            return 0; // too large to allocate here; the size limits are tested elsewhere
    }
    const bool ran = scan.Deliver("SIM-0", w, h, pixels.data(), resolution);
    if (ran != (after == 1))
        std::abort();

    const QByteArray block(reinterpret_cast<const char*>(data), qsizetype(size));
    const double factor = resolution / 500.0;
    const QByteArray scaled = ScaleDIB(block, factor);
    if (!scaled.isEmpty() &&
        scaled.size() != DibPixelOffset + qsizetype(DibGet32(scaled, 4)) * DibGet32(scaled, 8))
        std::abort();
    return 0;
}
