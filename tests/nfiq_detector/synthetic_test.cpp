// The detector stages on small synthetic images whose minutiae are known.
#include "detector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr int kW = 48, kH = 48;
const lfs::Params& P = lfs::kParamsV2;

// Maps of a 48 × 48 image whose blocks all carry block direction `dir`.
lfs::Maps uniform_maps(int dir) {
    lfs::Maps m;
    m.iw = kW;
    m.ih = kH;
    m.mw = kW / 8;
    m.mh = kH / 8;
    const size_t n = static_cast<size_t>(m.mw) * m.mh;
    m.direction.assign(n, dir);
    m.low_contrast.assign(n, 0);
    m.low_flow.assign(n, 0);
    m.high_curve.assign(n, 0);
    return m;
}

using Image = std::vector<uint8_t>;

Image blank(uint8_t v) {
    return Image(static_cast<size_t>(kW) * kH, v);
}

void rect(Image& img, int x0, int y0, int x1, int y1, uint8_t v) {
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            img[static_cast<size_t>(y) * kW + x] = v;
        }
    }
}

Image invert(Image img) {
    for (auto& p : img) {
        p = static_cast<uint8_t>(1 - p);
    }
    return img;
}

struct Expected {
    int type, x, y, direction;
};

std::vector<lfs::Minutia> run_detector(Image& bin, const lfs::Maps& maps) {
    auto found = lfs::detect_minutiae(bin, kW, kH, maps, P);
    lfs::remove_false_minutiae(found, bin, kW, kH, maps, P);
    return found;
}

// A vertical ridge, 3 pixels wide, from row 20 down to the bottom edge.
Image ridge_from_row_20() {
    Image img = blank(0);
    rect(img, 22, 20, 24, kH - 1, 1);
    return img;
}

// A horizontal ridge from column 20 to the right edge.
Image ridge_from_column_20() {
    Image img = blank(0);
    rect(img, 20, 22, kW - 1, 24, 1);
    return img;
}

// A 3 × 16 ridge segment inside the valley: an island.
Image island() {
    Image img = blank(0);
    rect(img, 22, 16, 24, 31, 1);
    return img;
}

// A vertical ridge broken by a 3-pixel gap: two endings facing each other.
Image broken_ridge() {
    Image img = blank(0);
    rect(img, 22, 2, 24, 20, 1);
    rect(img, 22, 24, 24, kH - 3, 1);
    return img;
}

struct Case {
    std::string name;
    Image (*make)();
    int block_dir;
    std::vector<Expected> expected;
};

TEST(DetectorSynthetic, FindsTheKnownMinutiae) {
    const std::vector<Case> cases = {
        // The ending points down into its ridge (direction 16), the valley ending (a
        // bifurcation) into its valley. On a flat tip three pixels wide the side-minutia
        // step settles, as NIST's detector does, on the tip pixel that comes first along
        // a counter-clockwise trace of the contour.
        {"ridge ending", ridge_from_row_20, 0, {{lfs::kRidgeEnding, 24, 20, 16}}},
        {"bifurcation",
         [] { return invert(ridge_from_row_20()); },
         0,
         {{lfs::kBifurcation, 24, 20, 16}}},
        // Found by the column scan; points right, into the ridge (direction 8).
        {"ending of a horizontal ridge", ridge_from_column_20, 8, {{lfs::kRidgeEnding, 20, 22, 8}}},
        {"island", island, 0, {}},
        {"lake", [] { return invert(island()); }, 0, {}},
        {"broken ridge", broken_ridge, 0, {}},
        {"empty valley", [] { return blank(0); }, 0, {}},
        {"solid ridge", [] { return blank(1); }, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Image bin = c.make();
        const auto found = run_detector(bin, uniform_maps(c.block_dir));
        ASSERT_EQ(found.size(), c.expected.size());
        for (size_t i = 0; i < found.size(); ++i) {
            EXPECT_EQ(found[i].type, c.expected[i].type);
            EXPECT_EQ(found[i].x, c.expected[i].x);
            EXPECT_EQ(found[i].y, c.expected[i].y);
            EXPECT_EQ(found[i].direction, c.expected[i].direction);
            // The feature pixel carries the type's value, the edge pixel the other one.
            EXPECT_EQ(bin[static_cast<size_t>(found[i].y) * kW + found[i].x], found[i].type);
            EXPECT_NE(bin[static_cast<size_t>(found[i].ey) * kW + found[i].ex], found[i].type);
        }
    }
}

TEST(DetectorSynthetic, IslandRemovalFillsTheIsland) {
    Image bin = island();
    const auto found = run_detector(bin, uniform_maps(0));
    EXPECT_TRUE(found.empty());
    EXPECT_EQ(bin, blank(0));
}

TEST(DetectorSynthetic, NoMinutiaeInBlocksWithoutDirection) {
    Image bin = ridge_from_row_20();
    EXPECT_TRUE(lfs::detect_minutiae(bin, kW, kH, uniform_maps(lfs::kInvalidDir), P).empty());
}

TEST(DetectorSynthetic, MismatchedInputsYieldNothing) {
    Image bin = ridge_from_row_20();
    lfs::Maps maps = uniform_maps(0);
    EXPECT_TRUE(lfs::detect_minutiae(bin, kW - 1, kH, maps, P).empty());
    maps.direction.pop_back();
    EXPECT_TRUE(lfs::detect_minutiae(bin, kW, kH, maps, P).empty());
    std::vector<lfs::Minutia> list(1);
    list[0].x = 1000;
    lfs::remove_false_minutiae(list, bin, kW, kH, uniform_maps(0), P);
    EXPECT_TRUE(list.empty());
}

TEST(DetectorGeometry, DirectionsOfLines) {
    struct {
        int dx, dy, dir;
    } const cases[] = {{0, -5, 0}, {5, -5, 4}, {5, 0, 8}, {0, 5, 16}, {-5, 0, 24}, {-5, -5, 28}};
    for (const auto& c : cases) {
        EXPECT_EQ(lfs::det::line_to_direction(10, 10, 10 + c.dx, 10 + c.dy, 32), c.dir)
            << c.dx << "," << c.dy;
        int sx, sy;
        lfs::det::dir_step(c.dir, 4, 32, sx, sy);
        EXPECT_EQ(lfs::det::line_to_direction(0, 0, sx, sy, 32), c.dir);
    }
    EXPECT_EQ(lfs::det::dir_distance(1, 31, 32), 2);
    EXPECT_EQ(lfs::det::dir_distance(0, 16, 32), 16);
}

TEST(DetectorContour, TracesAroundABlobAndFindsTheLoop) {
    Image img = blank(0);
    rect(img, 10, 10, 12, 12, 1);
    lfs::det::Bin b{img.data(), kW, kH};
    lfs::det::Contour c;
    // Start at the top-left corner pixel with the valley pixel above it.
    const auto r = lfs::det::trace_contour(b, 20, 10, 10, {10, 10, 10, 9}, true, c);
    ASSERT_EQ(r, lfs::det::Trace::Loop);
    EXPECT_EQ(c.size(), 7u);    // the 8 border pixels of a 3 × 3 square, the start excluded
    EXPECT_EQ(c.front().x, 11); // clockwise on screen: first step to the right
    for (const auto& p : c) {
        EXPECT_EQ(img[static_cast<size_t>(p.y) * kW + p.x], 1);
        EXPECT_EQ(img[static_cast<size_t>(p.ey) * kW + p.ex], 0);
        EXPECT_EQ(std::abs(p.x - p.ex) + std::abs(p.y - p.ey), 1);
    }
    c.insert(c.begin(), {10, 10, 10, 9});
    EXPECT_TRUE(lfs::det::loop_is_clockwise(c, false));
    lfs::det::fill_loop(b, c);
    EXPECT_EQ(img, blank(0));
    // A second square touching the first only at a corner is not part of its contour.
    rect(img, 10, 10, 12, 12, 1);
    rect(img, 13, 13, 15, 15, 1);
    EXPECT_EQ(lfs::det::trace_contour(b, 20, 10, 10, {10, 10, 10, 9}, true, c),
              lfs::det::Trace::Loop);
    EXPECT_EQ(c.size(), 7u);
    EXPECT_EQ(lfs::det::trace_contour(b, 20, 10, 10, {10, 10, 10, 9}, false, c),
              lfs::det::Trace::Loop);
    EXPECT_EQ(c.size(), 7u);
    // A trace that would leave the image stops short; one from a pixel whose edge pixel has
    // the same value has nothing to follow.
    Image edge = blank(0);
    rect(edge, 0, 0, 2, 2, 1);
    lfs::det::Bin e{edge.data(), kW, kH};
    EXPECT_EQ(lfs::det::trace_contour(e, 20, 2, 2, {2, 2, 3, 2}, true, c), lfs::det::Trace::Ok);
    EXPECT_LT(c.size(), 20u);
    EXPECT_EQ(lfs::det::trace_contour(e, 20, 2, 2, {2, 2, 1, 2}, true, c), lfs::det::Trace::Ignore);
}

TEST(DetectorBinarize, RidgesFollowDarkLinesAndHolesAreFilled) {
    // Vertical dark stripes 3 pixels wide every 8 pixels on a light background.
    lfs::PaddedImage img;
    img.pad = 13;
    img.w = kW + 26;
    img.h = kH + 26;
    img.px.assign(static_cast<size_t>(img.w) * img.h, 128 >> 2);
    for (int y = 0; y < img.h; ++y) {
        for (int x = 0; x < img.w; ++x) {
            const int ix = x - img.pad;
            const bool dark = ((ix % 8) + 8) % 8 < 3;
            img.px[static_cast<size_t>(y) * img.w + x] = dark ? 10 : 55;
        }
    }
    // A one-pixel light speck inside a stripe must not survive.
    img.px[static_cast<size_t>(img.pad + 20) * img.w + img.pad + 17] = 55;
    const auto bin = lfs::binarize(img, uniform_maps(0), P);
    ASSERT_EQ(bin.size(), static_cast<size_t>(kW) * kH);
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            ASSERT_EQ(bin[static_cast<size_t>(y) * kW + x], x % 8 < 3 ? 1 : 0) << x << "," << y;
        }
    }
    // Blocks without a direction are valley.
    lfs::Maps half = uniform_maps(0);
    for (int bx = 0; bx < half.mw; ++bx) {
        half.direction[static_cast<size_t>(bx)] = lfs::kInvalidDir;
    }
    const auto bin2 = lfs::binarize(img, half, P);
    for (int x = 0; x < kW; ++x) {
        EXPECT_EQ(bin2[static_cast<size_t>(3) * kW + x], 0);
    }
}

TEST(DetectorBinarize, FillHolesTable) {
    struct {
        std::vector<uint8_t> in, out;
    } const rows[] = {
        {{1, 0, 1, 1}, {1, 1, 1, 1}},
        {{0, 1, 0, 0}, {0, 0, 0, 0}},
        {{1, 0, 1, 0, 1}, {1, 1, 1, 1, 1}},
        {{1, 0, 0, 1}, {1, 0, 0, 1}},
    };
    for (const auto& r : rows) {
        std::vector<uint8_t> v = r.in;
        lfs::det::fill_holes(v, static_cast<int>(v.size()), 1);
        EXPECT_EQ(v, r.out);
    }
}

} // namespace

namespace {

// Random binary images and random maps (directions, low flow and high curvature set
// anywhere, sizes not a multiple of the block size, images at the edge of the size range)
// exercise tracing and loop filling against the image border. Every result must stay on
// the image with a valid direction.
TEST(DetectorRobustness, RandomImagesAndMaps) {
    uint32_t state = 12345;
    auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    const int sizes[][2] = {{1, 1}, {2, 9}, {9, 2}, {8, 8}, {13, 21}, {40, 33}, {64, 57}};
    size_t detected = 0, kept = 0;
    for (const auto& sz : sizes) {
        for (int trial = 0; trial < 20; ++trial) {
            const int w = sz[0], h = sz[1];
            lfs::Maps maps;
            maps.iw = w;
            maps.ih = h;
            maps.mw = (w + 7) / 8;
            maps.mh = (h + 7) / 8;
            const size_t n = static_cast<size_t>(maps.mw) * maps.mh;
            for (size_t i = 0; i < n; ++i) {
                maps.direction.push_back(static_cast<int>(next() % 17) - 1);
                maps.low_contrast.push_back(0);
                maps.low_flow.push_back(static_cast<int>(next() % 2));
                maps.high_curve.push_back(static_cast<int>(next() % 2));
            }
            // Blobs of ridge rather than salt and pepper, so that contours are long enough
            // to reach every removal step.
            std::vector<uint8_t> bin(static_cast<size_t>(w) * h, 0);
            for (int k = 0; k < w * h / 12 + 1; ++k) {
                const int x0 = static_cast<int>(next() % static_cast<uint32_t>(w));
                const int y0 = static_cast<int>(next() % static_cast<uint32_t>(h));
                const int bw = 1 + static_cast<int>(next() % 6),
                          bh = 1 + static_cast<int>(next() % 6);
                const uint8_t v = static_cast<uint8_t>(next() % 2);
                for (int y = y0; y < std::min(h, y0 + bh); ++y) {
                    for (int x = x0; x < std::min(w, x0 + bw); ++x) {
                        bin[static_cast<size_t>(y) * w + x] = v;
                    }
                }
            }
            auto found = lfs::detect_minutiae(bin, w, h, maps, P);
            detected += found.size();
            lfs::remove_false_minutiae(found, bin, w, h, maps, P);
            kept += found.size();
            for (const auto& m : found) {
                ASSERT_TRUE(m.x >= 0 && m.y >= 0 && m.x < w && m.y < h);
                ASSERT_TRUE(m.direction >= 0 && m.direction < 32);
                ASSERT_TRUE(m.type == lfs::kRidgeEnding || m.type == lfs::kBifurcation);
            }
            for (uint8_t v : bin) {
                ASSERT_LE(v, 1);
            }
        }
    }
    // The images must give the removal steps something to work on.
    EXPECT_GT(detected, 100u);
    EXPECT_GT(kept, 0u);
    EXPECT_LT(kept, detected);
}

} // namespace
