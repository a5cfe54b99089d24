#include "BitmapUtil.h"
#include "Errors.h"
#include "FakeViewer.h"

#include <gtest/gtest.h>

namespace {

QImage Indexed(int w, int h) {
    QImage img(w, h, QImage::Format_Indexed8);
    img.setColorCount(256);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.scanLine(y)[x] = static_cast<uchar>(1 + x + 10 * y);
    return img;
}

} // namespace

TEST(FlipBitmap, FourDirectionsOnOddAndTinyImages) {
    struct Case {
        bool vertical, horizontal;
    } cases[] = {{false, false}, {true, false}, {false, true}, {true, true}};
    for (auto [w, h] : {std::pair{5, 3}, {1, 1}, {3, 1}, {1, 4}}) {
        const QImage src = Indexed(w, h);
        for (const Case& c : cases) {
            QImage dest;
            ASSERT_TRUE(FlipBitmap(c.vertical, c.horizontal, src, dest));
            ASSERT_EQ(dest.size(), src.size());
            ASSERT_EQ(dest.format(), QImage::Format_Indexed8);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const int sx = c.horizontal ? w - 1 - x : x;
                    const int sy = c.vertical ? h - 1 - y : y;
                    ASSERT_EQ(dest.constScanLine(y)[x], src.constScanLine(sy)[sx])
                        << w << "x" << h << " v" << c.vertical << " h" << c.horizontal << " at "
                        << x << "," << y;
                }
        }
    }
}

TEST(FlipBitmap, PaletteIsLeftToTheCaller) {
    QImage src = Indexed(4, 2);
    src.setColor(1, qRgb(255, 0, 0)); // the source's own palette must not leak into dest
    QImage dest(1, 1, QImage::Format_Indexed8);
    QList<QRgb> callers;
    for (int i = 0; i < 256; ++i)
        callers << qRgb(i, i, 255 - i);
    dest.setColorTable(callers);
    ASSERT_TRUE(FlipBitmap(true, true, src, dest));
    EXPECT_EQ(dest.colorTable(), callers);

    // A dest without a palette stays without one.
    QImage bare;
    ASSERT_TRUE(FlipBitmap(false, false, src, bare));
    EXPECT_TRUE(bare.colorTable().isEmpty());
}

TEST(FlipBitmap, RefusesWhatIsNotEightBitsAndLeavesDest) {
    QImage dest = Indexed(2, 2);
    const QImage before = dest;
    EXPECT_FALSE(FlipBitmap(false, false, QImage(), dest));
    EXPECT_FALSE(FlipBitmap(true, false, QImage(3, 3, QImage::Format_RGB32), dest));
    // Taller than any slot file may be: refused rather than stored.
    EXPECT_FALSE(
        FlipBitmap(false, false, QImage(1, kMaxDibSide + 1, QImage::Format_Indexed8), dest));
    EXPECT_EQ(dest, before);
    // Grayscale8 is 8 bits a pixel as well.
    QImage grey(3, 2, QImage::Format_Grayscale8);
    grey.fill(9);
    EXPECT_TRUE(FlipBitmap(false, true, grey, dest));
    EXPECT_EQ(dest.size(), QSize(3, 2));
}

TEST(CropImage, TrimsToMultipleOf4KeepingHeightAndPixels) {
    for (int w : {643, 640, 5, 4}) {
        FakeViewer v;
        v.FImage = PatternBlock(w, 7);
        TrimToMultipleOf4(v);
        const int expected = w - w % 4;
        ASSERT_EQ(v.Image()->Width(), expected) << w;
        EXPECT_EQ(v.Image()->Height(), 7);
        EXPECT_EQ(v.CopyCalls, 1) << "the crop runs even when the width is already right";
        EXPECT_EQ(v.RelayoutCalls, 1);
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < expected; ++x)
                ASSERT_EQ(v.At(x, y), (x + 7 * y) & 0xff) << w << " at " << x << "," << y;
    }
}

TEST(CropImage, RectangleIsTakenFromTheTopLeft) {
    FakeViewer v;
    v.FImage = PatternBlock(10, 8);
    CropImage(v, 2, 1, 6, 4);
    ASSERT_EQ(v.Image()->Width(), 4);
    ASSERT_EQ(v.Image()->Height(), 3);
    EXPECT_EQ(v.At(0, 0), 2 + 7 * 1);
    EXPECT_EQ(v.At(3, 2), 5 + 7 * 3);
}

TEST(CropImage, FailedCopyKeepsTheImage) {
    // A width below 4 trims to nothing: the copy fails and the viewer keeps its image.
    FakeViewer v;
    v.FImage = PatternBlock(3, 2);
    const DibBlock* before = v.Image();
    TrimToMultipleOf4(v);
    EXPECT_EQ(v.Image(), before);
    CropImage(v, 0, 0, 9, 9);
    EXPECT_EQ(v.Image(), before);
}

TEST(CropImage, EmptyViewerRaises) {
    FakeViewer v;
    for (auto op : {+[](FakeViewer& f) { TrimToMultipleOf4(f); },
                    +[](FakeViewer& f) { CropImage(f, 0, 0, 4, 4); }}) {
        try {
            op(v);
            ADD_FAILURE() << "no error raised";
        } catch (const platform::StationError& e) {
            EXPECT_EQ(e.Text(), "Input image is empty");
        }
    }
    EXPECT_EQ(v.CopyCalls, 0);
}
