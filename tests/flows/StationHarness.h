#pragma once
// A scratch program folder for scenario tests: the working directory is a temporary folder
// that holds what build/bin holds for the programs (the converter, the NFIQ library, the
// amputation picture), the simulators start from their defaults, and the windows are created
// as the programs create them.
#include "IBScanSim.h"
#include "Paths.h"
#include "ScanManSim.h"
#include "TestSupport.h"
#include "UConfigTrazel.h"
#include "UFingerScan.h"

#include <QFile>
#include <QTest>

#include <vector>

class ScratchProgramFolder {
  public:
    ScratchProgramFolder() {
        for (const char* name : {"BMP2WSQ", "libGBNFIQ.so", "Amputado.BMP"})
            QFile::link(QStringLiteral(STATION_BIN_DIR "/") + name, wd.File(name));
        platform::SetProgramFolderForTesting(wd.Path());
    }
    ~ScratchProgramFolder() { platform::SetProgramFolderForTesting(QString()); }
    ScopedWorkingDir wd;
};

// The finger-scan component on the ScanMan simulator, without its drop folder.
class ScanManModule {
  public:
    ScanManModule() {
        qputenv("SCANMAN_BACKEND", "sim");
        qputenv("SCANMAN_DROP_DIR", "-");
        qunsetenv("SCANMAN_SCENARIO");
        error = UFingerScanStart();
    }
    ~ScanManModule() { UFingerScanEnd(); }
    QString error;
};

// Delivers an 8-bit picture from the simulated ScanMan scanner and lets the GUI thread take it.
inline void DeliverScan(const std::vector<unsigned char>& pixels, int w, int h, int ppi = 500) {
    ASSERT_EQ(SMSimDeliver(nullptr, w, h, pixels.data(), ppi), 0);
    SMSimWaitIdle();
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        QTest::qWait(10);
    }
}

// A test picture whose orientation shows: dark top-left quarter, light elsewhere, a gradient.
inline std::vector<unsigned char> MarkedPicture(int w, int h) {
    std::vector<unsigned char> px(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            px[static_cast<size_t>(y) * w + x] =
                (x < w / 2 && y < h / 2) ? 10 : static_cast<unsigned char>(100 + (x + y) % 100);
    return px;
}

// Pixel (x, y) of an 8-bit BMP file, top-down coordinates.
inline int BmpPixel(const QString& file, int x, int y) {
    const QImage img(file);
    return img.isNull() ? -1 : qGray(img.pixel(x, y));
}
