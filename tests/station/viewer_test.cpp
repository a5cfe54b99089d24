#include "ImageViewer.h"
#include "TestSupport.h"
#include "dibutils.h"

#include <QFile>
#include <QImage>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

namespace {
QByteArray Bmp8(int w, int h, int32_t headerW, int32_t headerH) {
    auto block = DibBlock::CreateGrey(w, h);
    QByteArray bytes(reinterpret_cast<const char*>(block->Data()), block->Size());
    std::memcpy(bytes.data() + 4, &headerW, 4);
    std::memcpy(bytes.data() + 8, &headerH, 4);
    QByteArray header(14, 0);
    header[0] = 'B';
    header[1] = 'M';
    header[10] = char(1078 & 0xff);
    header[11] = char(1078 >> 8);
    return header + bytes;
}
void Write(const QString& path, const QByteArray& data) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
}
} // namespace

TEST(DibUtils, RoundUp4AndHeaderSizes) {
    struct Case {
        int32_t n, expected;
    } cases[] = {{0, 0}, {1, 4}, {3, 4}, {4, 4}, {5, 8}, {641, 644}};
    for (const Case& c : cases)
        EXPECT_EQ(RoundUp4(c.n), c.expected) << c.n;

    ScopedWorkingDir wd;
    Write("short.bmp", QByteArray(53, 'x'));
    EXPECT_EQ(BmpDataSize("short.bmp"), 0);
    EXPECT_EQ(BmpDataSize("missing.bmp"), 0);
    Write("hdr.bmp", Bmp8(4, 1, 641, 2).left(54));
    EXPECT_EQ(BmpDataSize("hdr.bmp"), 644 * 2 + 1064);
    // Damaged headers: non-positive or absurd sizes read like a short file.
    for (auto [w, h] : {std::pair{-4, 10}, {10, 0}, {0x40000000, 0x40000000}, {100000, 2}}) {
        Write("bad.bmp", Bmp8(4, 1, w, h));
        EXPECT_EQ(BmpDataSize("bad.bmp"), 0) << w << "x" << h;
        EXPECT_EQ(LoadBmpData("bad.bmp"), nullptr);
    }
    Write("trunc.bmp", Bmp8(8, 8, 8, 8).left(1078 + 20));
    EXPECT_EQ(LoadBmpData("trunc.bmp"), nullptr);
}

TEST(Viewer, LoadsEightBitBitmapsAsStored) {
    ScopedWorkingDir wd;
    QImage img(5, 3, QImage::Format_Indexed8);
    QList<QRgb> grey;
    for (int i = 0; i < 256; ++i)
        grey << qRgb(i, i, i);
    img.setColorTable(grey);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            img.setPixel(x, y, uint(y * 50 + x));
    ASSERT_TRUE(img.save("p.bmp"));
    TImageViewer v;
    ASSERT_TRUE(v.LoadFromFile("p.bmp"));
    EXPECT_EQ(v.ImageWidth(), 5);
    EXPECT_EQ(v.ImageHeight(), 3);
    EXPECT_EQ(v.Image()->StoredRow(0)[4], 104); // bottom row first
    EXPECT_EQ(v.Image()->StoredRow(2)[1], 1);
    auto part = v.CopyRect(1, 1, 4, 3);
    ASSERT_NE(part, nullptr);
    EXPECT_EQ(part->Width(), 3);
    EXPECT_EQ(part->Height(), 2);
    EXPECT_EQ(part->StoredRow(1)[0], 51); // top row of the copy is picture row 1
    EXPECT_EQ(v.CopyRect(0, 0, 6, 3), nullptr);

    QImage colour(4, 4, QImage::Format_RGB32);
    colour.fill(qRgb(255, 255, 255));
    ASSERT_TRUE(colour.save("c.bmp"));
    ASSERT_TRUE(v.LoadFromFile("c.bmp")); // other depths are kept as grey
    EXPECT_EQ(v.Image()->StoredRow(0)[0], 255);
}

TEST(Viewer, RejectsWhatIsNotABitmap) {
    ScopedWorkingDir wd;
    Write("text.bmp", "this is not a picture");
    Write("trunc.bmp", Bmp8(64, 64, 64, 64).left(2000));
    TImageViewer v;
    v.SetImage(DibBlock::CreateGrey(2, 2));
    EXPECT_FALSE(v.LoadFromFile("text.bmp"));
    EXPECT_FALSE(v.LoadFromFile("missing.bmp"));
    EXPECT_FALSE(v.LoadFromFile("trunc.bmp"));
    EXPECT_EQ(v.ImageWidth(), 2); // unchanged
    v.Clear();
    EXPECT_EQ(v.ImageWidth(), 0);
    EXPECT_EQ(v.ImageHeight(), 0);
}

TEST(Viewer, ScaleDrawsTruncatedSizeFromTopLeftWithScrollBars) {
    TImageViewer v;
    v.resize(100, 100);
    auto block = DibBlock::CreateGrey(3, 3);
    for (int r = 0; r < 3; ++r)
        std::memset(block->StoredRow(r), r == 2 ? 0 : 255, 3); // top row black
    v.SetImage(std::move(block));
    v.SetScale(0.2);
    EXPECT_EQ(v.Scale(), 1.0);
    v.SetScale(1000); // 30 × 30
    v.show();
    QImage shot = v.grab().toImage();
    EXPECT_EQ(QColor(shot.pixel(0, 0)), QColor(Qt::black));
    EXPECT_EQ(QColor(shot.pixel(29, 9)), QColor(Qt::black));
    EXPECT_EQ(QColor(shot.pixel(29, 10)), QColor(Qt::white));
    EXPECT_EQ(QColor(shot.pixel(30, 0)), QColor(Qt::white)); // background beyond the picture
    v.SetScale(3333.34);                                     // 100.0002 → 100 pixels: still fits
    EXPECT_EQ(v.horizontalScrollBar()->maximum(), 0);
    v.SetScale(5000); // 150 pixels
    EXPECT_GT(v.horizontalScrollBar()->maximum(), 0);
}

TEST(Viewer, ReportsReleasesKeysAndTakesFocusOnClick) {
    TImageViewer v;
    v.show();
    QSignalSpy released(&v, &TImageViewer::mouseReleased);
    QSignalSpy keys(&v, &TImageViewer::keyReleased);
    QTest::mouseClick(v.viewport(), Qt::RightButton);
    EXPECT_EQ(released.count(), 1);
    EXPECT_EQ(released.at(0).at(0).value<Qt::MouseButton>(), Qt::RightButton);
    EXPECT_EQ(v.focusWidget(), &v);
    QTest::keyRelease(&v, Qt::Key_Tab);
    EXPECT_EQ(keys.count(), 1);
}
