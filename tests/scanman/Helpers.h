// Small helpers shared by the finger-scan tests.
#pragma once

#include "UFingerScan.h"

#include <QBuffer>
#include <QByteArray>
#include <QThread>

#include <cstdint>
#include <vector>

// A picture whose every pixel tells its place: value (x + 3y) mod 251.
inline std::vector<unsigned char> Ramp(int w, int h) {
    std::vector<unsigned char> px(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            px[size_t(y) * w + x] = static_cast<unsigned char>((x + 3 * y) % 251);
    return px;
}

inline uint32_t Le32(const QByteArray& b, int at) {
    return static_cast<uint32_t>(DibGet32(b, at));
}
inline uint16_t Le16(const QByteArray& b, int at) {
    return static_cast<uint16_t>(uint8_t(b[at]) | uint8_t(b[at + 1]) << 8);
}

// Pixel (x, y) of a bitmap file, y counted from the top of the picture.
inline uint8_t FilePixel(const QByteArray& file, int x, int y) {
    const int w = int(Le32(file, 18)), h = int(Le32(file, 22));
    const int stride = (w + 3) & ~3;
    return uint8_t(file[1078 + stride * (h - 1 - y) + x]);
}

// Handlers that hand out a QBuffer and keep what AfterScan receives.
struct Capture {
    QByteArray file;
    int after = 0;
    QThread* thread = nullptr; // where AfterScan last ran
    void Attach(TFingerScan& scan) {
        scan.BeforeScan = [](TScanStream& s) {
            auto buffer = std::make_unique<QBuffer>();
            buffer->open(QIODevice::ReadWrite);
            s = std::move(buffer);
        };
        scan.AfterScan = [this](TScanStream& s) {
            file = static_cast<QBuffer*>(s.get())->data();
            thread = QThread::currentThread();
            ++after;
        };
    }
};
