#include "FakeViewer.h"
#include "GBNFIQ.h"
#include "NFIQUtil.h"
#include "Paths.h"
#include "TestSupport.h"

#include <QFile>
#include <QImage>

#include <cstring>

// The station's scoring against the project's real NFIQ library: for every fixture print,
// ScoreFingerImage must give what a direct library call gives on the print's leftmost
// multiple-of-4 columns, top row first (prepared here independently, through QImage).
TEST(NfiqReal, ScoringMatchesADirectCallOnEveryFixturePrint) {
    REQUIRE_SHARED();
    const QString real = QStringLiteral(STATION_BIN_DIR "/libGBNFIQ.so");
    if (!QFile::exists(real))
        GTEST_SKIP() << "libGBNFIQ.so is not part of this build";
    ScopedWorkingDir wd; // stands for the program folder, where libraries are loaded from
    platform::SetProgramFolderForTesting(wd.Path());
    struct Restore {
        ~Restore() { platform::SetProgramFolderForTesting(QString()); }
    } restore;
    ASSERT_TRUE(QFile::copy(real, "libGBNFIQ.so"));
    LoadNfiqLibrary();
    ASSERT_TRUE(NfiqLibraryLoaded());
    const GbnfiqGetImageQualityFn direct = NfiqGetImageQuality();

    const QDir prints(SharedDir() + "/fixtures/fingerprints");
    const QStringList files = prints.entryList({"*.bmp"}, QDir::Files, QDir::Name);
    ASSERT_FALSE(files.isEmpty());
    int oddWidths = 0;
    for (const QString& name : files) {
        const QString path = prints.filePath(name);
        FakeViewer v;
        v.FImage = LoadBmpData(path);
        ASSERT_TRUE(v.FImage) << name.toStdString();
        int32_t score = -7;
        const int32_t status = ScoreFingerImage(v, score);

        QImage img(path);
        ASSERT_FALSE(img.isNull());
        img = img.convertToFormat(QImage::Format_Grayscale8);
        const int w = img.width() - img.width() % 4, h = img.height();
        oddWidths += w != img.width();
        QByteArray buffer(w * h, 0);
        for (int y = 0; y < h; ++y)
            std::memcpy(buffer.data() + y * w, img.constScanLine(y), w);
        int expectedScore = -7;
        const int expectedStatus = direct(
            reinterpret_cast<const unsigned char*>(buffer.constData()), w, h, &expectedScore, 0);
        EXPECT_EQ(status, expectedStatus) << name.toStdString();
        EXPECT_EQ(score, expectedScore) << name.toStdString();
        EXPECT_EQ(v.Image()->Width(), w);
    }
    EXPECT_GT(oddWidths, 0) << "the fixtures should include prints of odd widths";
}
