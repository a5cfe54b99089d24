#include "dibutils.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

std::unique_ptr<DibBlock> Filled(int w, int h, uint8_t value) {
    auto b = DibBlock::CreateGrey(w, h);
    for (int r = 0; r < h; ++r)
        std::memset(b->StoredRow(r), value, w);
    return b;
}

// Columns of stored row r that differ from `background`.
std::vector<int> MarkedColumns(const DibBlock& b, int r, uint8_t background) {
    std::vector<int> cols;
    for (int x = 0; x < b.Width(); ++x)
        if (b.StoredRow(r)[x] != background)
            cols.push_back(x);
    return cols;
}

} // namespace

TEST(StampMultiply, ProductIsRoundedToNearestForEveryPair) {
    // One stamp row holding every grey level, laid on targets of every level in turn.
    auto stamp = DibBlock::CreateGrey(256, 1);
    for (int s = 0; s < 256; ++s)
        stamp->StoredRow(0)[s] = static_cast<uint8_t>(s);
    for (int t = 0; t < 256; ++t) {
        auto target = Filled(256, 1, static_cast<uint8_t>(t));
        StampMultiply(*stamp, *target, 128, 0);
        for (int s = 0; s < 256; ++s) {
            const int expected = (2 * s * t + 255) / 510; // nearest integer to s·t/255
            ASSERT_EQ(target->StoredRow(0)[s], expected) << "s=" << s << " t=" << t;
        }
    }
    // The figures an operator would check by hand.
    struct Case {
        uint8_t s, t, result;
    } cases[] = {{255, 37, 37}, {0, 200, 0}, {128, 255, 128}, {128, 128, 64}, {200, 255, 200}};
    for (const Case& c : cases) {
        auto st = Filled(1, 1, c.s);
        auto tg = Filled(1, 1, c.t);
        StampMultiply(*st, *tg, 0, 0);
        EXPECT_EQ(tg->StoredRow(0)[0], c.result) << int(c.s) << " on " << int(c.t);
    }
}

TEST(StampMultiply, CentreAndClippingOnBothAxes) {
    struct Case {
        int stampW, centre;
        std::vector<int> covered;
    } cases[] = {
        {5, 10, {8, 9, 10, 11, 12}}, // odd width: centre pixel 2
        {4, 10, {8, 9, 10, 11}},     // even width: centre pixel 2, one more on the left
        {5, 0, {0, 1, 2}},           // only columns HalfW .. W-1 of the stamp stay
        {4, 0, {0, 1}},
        {5, 19, {17, 18, 19}}, // clipped at the right edge
        {3, -2, {}},           // wholly outside
        {3, 21, {}},
    };
    for (const Case& c : cases) {
        // Horizontal: a one-row black stamp on a white 20-column target.
        auto target = Filled(20, 3, 255);
        StampMultiply(*Filled(c.stampW, 1, 0), *target, c.centre, 1);
        EXPECT_EQ(MarkedColumns(*target, 1, 255), c.covered) << c.stampW << "@" << c.centre;
        EXPECT_TRUE(MarkedColumns(*target, 0, 255).empty());
        EXPECT_TRUE(MarkedColumns(*target, 2, 255).empty());

        // Vertical: the same with the stamp standing up on a 20-row target.
        auto tall = Filled(3, 20, 255);
        StampMultiply(*Filled(1, c.stampW, 0), *tall, 1, c.centre);
        std::vector<int> rows;
        for (int r = 0; r < 20; ++r)
            if (tall->StoredRow(r)[1] != 255)
                rows.push_back(r);
        EXPECT_EQ(rows, c.covered) << "rows " << c.stampW << "@" << c.centre;
    }
}

TEST(StampMultiply, KeepsOrientationHeaderPaletteAndStamp) {
    // Stamp 3×2 with distinct levels; stored row 0 is its bottom row.
    auto stamp = DibBlock::CreateGrey(3, 2);
    const uint8_t levels[2][3] = {{10, 20, 30}, {40, 50, 60}};
    for (int r = 0; r < 2; ++r)
        std::memcpy(stamp->StoredRow(r), levels[r], 3);
    const std::vector<uint8_t> stampBefore(stamp->Data(), stamp->Data() + stamp->Size());

    auto target = Filled(7, 5, 255);
    target->Data()[40 + 4 * 7] = 0x99; // a colour table entry that must survive
    const std::vector<uint8_t> headBefore(target->Data(), target->Data() + kDibPixelOffset);
    StampMultiply(*stamp, *target, 4, 2); // centre pixel (1, 1) onto (4, 2)

    for (int r = 0; r < 2; ++r)
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(target->StoredRow(1 + r)[3 + i], levels[r][i]) << r << "," << i;
    EXPECT_EQ(MarkedColumns(*target, 0, 255).size(), 0u);
    EXPECT_EQ(MarkedColumns(*target, 3, 255).size(), 0u);
    EXPECT_EQ(std::vector<uint8_t>(target->Data(), target->Data() + kDibPixelOffset), headBefore);
    EXPECT_EQ(std::vector<uint8_t>(stamp->Data(), stamp->Data() + stamp->Size()), stampBefore);
}

TEST(StampMultiply, PaddingBytesAreNeverTouched) {
    // Target rows of width 5 are padded to 8 bytes; a stamp overhanging the right edge must
    // not write into the padding.
    auto target = Filled(5, 2, 255);
    for (int r = 0; r < 2; ++r)
        std::memset(target->StoredRow(r) + 5, 0xAB, 3);
    StampMultiply(*Filled(9, 9, 0), *target, 4, 1);
    for (int r = 0; r < 2; ++r)
        for (int p = 5; p < 8; ++p)
            EXPECT_EQ(target->StoredRow(r)[p], 0xAB);
}

TEST(StampMultiply, BlockShorterThanItsHeaderIsLeftAlone) {
    auto target = Filled(4, 4, 200);
    // A stamp whose header claims 100×100 but holds a 1×1 picture.
    auto liar = DibBlock::CreateGrey(1, 1);
    const int32_t big = 100;
    std::memcpy(liar->Data() + 4, &big, 4);
    std::memcpy(liar->Data() + 8, &big, 4);
    StampMultiply(*liar, *target, 2, 2);
    EXPECT_EQ(MarkedColumns(*target, 2, 200).size(), 0u);
}
