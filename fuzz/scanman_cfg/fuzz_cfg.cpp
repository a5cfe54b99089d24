// "ScannerConfig.CFG" text: split into lines, look scanners up, and deliver a small image
// at whatever resolution the text gives.
#include "UFingerScan.h"

#include <QBuffer>

#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray text(reinterpret_cast<const char*>(data), qsizetype(size));
    TFingerScan scan;
    scan.ScannerResolutions = ParseScannerConfig(text);
    QStringList ids = {"SIM-0", "", "virtual_image:0"};
    for (const QString& line : scan.ScannerResolutions)
        ids.append(line.section(u'=', 0, 0));
    scan.BeforeScan = [](TScanStream& s) {
        auto b = std::make_unique<QBuffer>();
        b->open(QIODevice::ReadWrite);
        s = std::move(b);
    };
    scan.AfterScan = [](TScanStream& s) {
        const QByteArray file = static_cast<QBuffer*>(s.get())->data();
        const int32_t w = DibGet32(file, 18), h = DibGet32(file, 22);
        if (w <= 0 || h <= 0 || w % 4 != 0 || file.size() != 1078 + qsizetype(w) * h)
            std::abort();
    };
    const std::vector<unsigned char> pixels(8 * 6, 128);
    for (const QString& id : ids.mid(0, 8)) {
        const int32_t r = scan.ResolutionFor(id, 500);
        if (r <= 0 && scan.Deliver(id, 8, 6, pixels.data(), 500))
            std::abort(); // a resolution that is not positive must be dropped
        scan.Deliver(id, 8, 6, pixels.data(), 500);
    }
    return 0;
}
