// The finger-scan component's conversion on the calling thread: bitmap layout, rescaling,
// resolution lookup, error texts, and what is dropped.
#include "Helpers.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(FingerScanFile, Image400x500At500IsWrittenUprightWithFullHeader) {
    TFingerScan scan;
    Capture cap;
    cap.Attach(scan);
    const auto px = Ramp(400, 500);
    ASSERT_TRUE(scan.Deliver("SIM-0", 400, 500, px.data(), 500));
    ASSERT_EQ(cap.after, 1);
    const QByteArray& f = cap.file;
    ASSERT_EQ(f.size(), 1078 + 400 * 500);
    EXPECT_EQ(f.left(2), QByteArray("BM"));
    EXPECT_EQ(Le32(f, 2), uint32_t(f.size()));
    EXPECT_EQ(Le32(f, 6), 0u);
    EXPECT_EQ(Le32(f, 10), 1078u);
    EXPECT_EQ(Le32(f, 14), 40u);
    EXPECT_EQ(Le32(f, 18), 400u);
    EXPECT_EQ(Le32(f, 22), 500u);
    EXPECT_EQ(Le16(f, 26), 1);
    EXPECT_EQ(Le16(f, 28), 8);
    EXPECT_EQ(Le32(f, 30), 0u);
    EXPECT_EQ(Le32(f, 34), 400u * 500u);
    EXPECT_EQ(Le32(f, 38), 0u);
    EXPECT_EQ(Le32(f, 42), 0u);
    EXPECT_EQ(Le32(f, 46), 256u);
    EXPECT_EQ(Le32(f, 50), 0u);
    for (int i = 0; i < 256; ++i)
        for (int k = 0; k < 4; ++k)
            ASSERT_EQ(uint8_t(f[54 + 4 * i + k]), i) << "entry " << i;
    // The first stored row is the last row of the library's buffer.
    for (int x = 0; x < 400; ++x)
        ASSERT_EQ(uint8_t(f[1078 + x]), px[size_t(499) * 400 + x]);
    for (int y : {0, 1, 250, 499})
        for (int x : {0, 1, 200, 399})
            EXPECT_EQ(FilePixel(f, x, y), px[size_t(y) * 400 + x]) << x << "," << y;
    EXPECT_EQ(scan.Resolution, 500);
}

TEST(FingerScanFile, RescaledSizes) {
    struct Case {
        int w, h, ppi, w4, h2;
    } cases[] = {
        {400, 500, 1000, 200, 250}, // halved
        {401, 500, 500, 404, 500},  // width rounded up to 4
        {400, 500, 250, 800, 1000}, // doubled
        {5, 5, 1000, 4, 2},         // R(2.5) = 2, halves to even
        {7, 7, 1000, 4, 4},         // R(3.5) = 4
    };
    for (const Case& c : cases) {
        TFingerScan scan;
        Capture cap;
        cap.Attach(scan);
        const auto px = Ramp(c.w, c.h);
        ASSERT_TRUE(scan.Deliver("s", c.w, c.h, px.data(), c.ppi));
        EXPECT_EQ(int(Le32(cap.file, 18)), c.w4) << c.w << "x" << c.h << "@" << c.ppi;
        EXPECT_EQ(int(Le32(cap.file, 22)), c.h2) << c.w << "x" << c.h << "@" << c.ppi;
        EXPECT_EQ(cap.file.size(), 1078 + c.w4 * c.h2);
    }
}

TEST(FingerScanFile, HalvingTakesEveryOtherPixelAndPaddingRepeatsTheLastColumn) {
    TFingerScan scan;
    Capture cap;
    cap.Attach(scan);
    const auto px = Ramp(401, 3);
    ASSERT_TRUE(scan.Deliver("s", 401, 3, px.data(), 500));
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 401; ++x)
            ASSERT_EQ(FilePixel(cap.file, x, y), px[size_t(y) * 401 + x]);
        for (int x = 401; x < 404; ++x)
            EXPECT_EQ(FilePixel(cap.file, x, y), px[size_t(y) * 401 + 400]);
    }
    // Halving: stored row y comes from stored row R(2y), column x from column R(2x).
    const auto big = Ramp(400, 500);
    ASSERT_TRUE(scan.Deliver("s", 400, 500, big.data(), 1000));
    for (int y2 : {0, 1, 124, 249}) { // stored rows, bottom first
        const int srcStored = 2 * y2; // in the source, stored from the bottom too
        const int srcTop = 499 - srcStored;
        const int top = 249 - y2;
        for (int x : {0, 1, 99, 199})
            EXPECT_EQ(FilePixel(cap.file, x, top), big[size_t(srcTop) * 400 + 2 * x]);
    }
}

TEST(FingerScanResolution, LookupInScannerConfig) {
    struct Case {
        QStringList lines;
        int expected;
    } cases[] = {
        {{}, 500},
        {{"SIM-0=1000"}, 1000},
        {{"sim-0=1000"}, 1000}, // letter case ignored
        {{"SIM-0 =1000"}, 500}, // no trimming of the identifier
        {{"SIM-0= 1000"}, 500}, // nor of the value: not an integer
        {{"SIM-0=10x"}, 500},   // not an integer
        {{"SIM-0"}, 500},       // a line without "=" never matches
        {{"SIM-01=700", "SIM-0=1000"}, 1000},
        {{"SIM-0=abc", "SIM-0=1000"}, 500}, // the first match decides
        {{"SIM-0=1000=2"}, 500},            // split at the first "="
        {{"=1000"}, 500},
        {{"SIM-0=-500"}, -500},
        {{"SIM-0=99999999999"}, 500}, // beyond 32 bits
    };
    for (const Case& c : cases) {
        TFingerScan scan;
        scan.ScannerResolutions = c.lines;
        EXPECT_EQ(scan.ResolutionFor("SIM-0", 500), c.expected) << c.lines.join("|").toStdString();
    }
}

TEST(FingerScanDrops, UnusableImagesRunNoHandler) {
    const auto px = Ramp(20, 20);
    struct Case {
        const char* what;
        int w, h, ppi;
        QStringList config;
    } cases[] = {
        {"zero resolution", 16, 16, 0, {}},
        {"negative resolution", 16, 16, -500, {}},
        {"negative resolution from the file", 16, 16, 500, {"s=-1"}},
        {"zero width", 0, 16, 500, {}},
        {"negative height", 16, -3, 500, {}},
        {"scaled to nothing", 16, 16, 2000000000, {}},
        {"20000 x 20000", 20000, 20000, 500, {}},
        {"blown up beyond the limit", 20, 20, 1, {}},
        {"blown up beyond the pixel limit", 20, 20, 2, {}}, // 5000 x 5000
    };
    for (const Case& c : cases) {
        TFingerScan scan;
        scan.ScannerResolutions = c.config;
        Capture cap;
        cap.Attach(scan);
        EXPECT_FALSE(scan.Deliver("s", c.w, c.h, px.data(), c.ppi)) << c.what;
        EXPECT_EQ(cap.after, 0) << c.what;
    }
}

TEST(FingerScanDrops, MissingHandlersRaiseTheirTexts) {
    const auto px = Ramp(8, 8);
    TFingerScan scan;
    try {
        scan.Deliver("s", 8, 8, px.data(), 500);
        FAIL() << "no error";
    } catch (const EFingerScan& e) {
        EXPECT_STREQ(e.what(), "BeforeScan not Attached");
    }
    Capture cap;
    cap.Attach(scan);
    scan.AfterScan = nullptr;
    try {
        scan.Deliver("s", 8, 8, px.data(), 500);
        FAIL() << "no error";
    } catch (const EFingerScan& e) {
        EXPECT_STREQ(e.what(), "AfterScan not Attached");
    }
}

TEST(ScanManBinding, ErrorTextsAndCheckMessage) {
    const std::pair<int, const char*> texts[] = {
        {-1, "Failed"},
        {-2, "Out of memory"},
        {-3, "Not initialized"},
        {-4, "Argument null"},
        {-5, "Invalid argument"},
        {-10, "Invalid parameter"},
        {-11, "Parameter is read only"},
        {-100, "Not capturing"},
        {-101, "Already capturing"},
        {-6, "-6"},
        {-2147483647 - 1, "-2147483648"},
        {0, ""},
        {7, ""},
    };
    for (const auto& [code, text] : texts)
        EXPECT_EQ(ScanManErrorText(code).toStdString(), text) << code;
    EXPECT_NO_THROW(CheckScanMan(0));
    EXPECT_NO_THROW(CheckScanMan(12));
    try {
        CheckScanMan(-101);
        FAIL() << "no error";
    } catch (const EScanMan& e) {
        EXPECT_STREQ(e.what(), "ScanMan error:\r\tCode = -101\r\tDescription = Already capturing");
        EXPECT_EQ(e.code(), -101);
    }
}

TEST(VFImage, SizeBufferAndDib) {
    TVFImage img;
    EXPECT_TRUE(img.IsEmpty());
    EXPECT_TRUE(img.ToDIB().isEmpty());
    img.SetSize(-3, 5);
    EXPECT_EQ(img.Width, 0);
    EXPECT_EQ(img.Height, 0);
    EXPECT_TRUE(img.IsEmpty());
    const auto px = Ramp(3, 2);
    img.SetImage(3, 2, px.data());
    const unsigned char* buffer = img.Pixels();
    img.SetImage(2, 3, px.data()); // same pixel count: the buffer is reused
    EXPECT_EQ(img.Pixels(), buffer);
    EXPECT_EQ(img.Size, 6);
    const QByteArray dib = img.ToDIB();
    ASSERT_EQ(dib.size(), 1064 + 4 * 3);
    EXPECT_EQ(Le32(dib, 4), 2u);
    EXPECT_EQ(Le32(dib, 8), 3u);
    EXPECT_EQ(Le32(dib, 32), 0u); // colours used
    EXPECT_EQ(uint8_t(dib[40 + 4 * 200 + 3]), 0);
    // Top row stored last, padding bytes zero.
    EXPECT_EQ(uint8_t(dib[1064 + 8]), px[0]);
    EXPECT_EQ(uint8_t(dib[1064 + 9]), px[1]);
    EXPECT_EQ(uint8_t(dib[1064 + 10]), 0);
    img.Clear();
    EXPECT_TRUE(img.IsEmpty());
    EXPECT_EQ(img.Size, 0);
    EXPECT_THROW(img.SetSize(100000, 100000), std::length_error);
}

TEST(ScaleDIB, RefusesIncompleteBlocksAndBadFactors) {
    TVFImage img;
    const auto px = Ramp(10, 10);
    img.SetImage(10, 10, px.data());
    const QByteArray dib = img.ToDIB();
    EXPECT_FALSE(ScaleDIB(dib, 1.0).isEmpty());
    EXPECT_TRUE(ScaleDIB(dib.left(dib.size() - 1), 1.0).isEmpty());
    EXPECT_TRUE(ScaleDIB(dib.left(30), 1.0).isEmpty());
    for (double f : {0.0, -1.0, double(NAN), double(INFINITY)})
        EXPECT_TRUE(ScaleDIB(dib, f).isEmpty()) << f;
}
