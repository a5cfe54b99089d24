#include "fingergen.h"
#include "nfiq_core.h"
#include "print_measures.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <string>
#include <vector>

using fgtest::Image;

namespace {

constexpr int kW = 400, kH = 500;

Image render(unsigned seed, int finger, const fg_defects* d = nullptr, int w = kW, int h = kH) {
    Image img{w, h, std::vector<unsigned char>(static_cast<size_t>(w) * h)};
    EXPECT_EQ(fg_render(seed, finger, w, h, d, img.px.data()), FG_OK);
    return img;
}

Image centre(const Image& img, int n = 128) {
    return fgtest::crop(img, img.width / 2, img.height / 2, n);
}

// Share of pixels in the middle of two prints where one has ridge and the other valley.
double ridgeMismatch(const Image& a, const Image& b) {
    const Image ma = fgtest::crop(a, a.width / 2, a.height / 2, 200);
    const Image mb = fgtest::crop(b, b.width / 2, b.height / 2, 200);
    size_t differ = 0;
    for (size_t i = 0; i < ma.px.size(); ++i)
        differ += (ma.px[i] < 128) != (mb.px[i] < 128);
    return static_cast<double>(differ) / static_cast<double>(ma.px.size());
}

// Reads an uncompressed 8-bit BMP (grey palette assumed), top row first.
bool readBmp8(const std::string& path, Image& img) {
    std::ifstream f(path, std::ios::binary);
    std::vector<unsigned char> b((std::istreambuf_iterator<char>(f)), {});
    if (b.size() < 54 || b[0] != 'B' || b[1] != 'M')
        return false;
    auto u32 = [&](size_t o) { return b[o] | b[o + 1] << 8 | b[o + 2] << 16 | b[o + 3] << 24; };
    const int w = static_cast<int>(u32(18));
    const int hs = static_cast<int>(u32(22));
    const int h = std::abs(hs);
    if ((b[28] | b[29] << 8) != 8 || u32(30) != 0 || w <= 0 || h <= 0)
        return false;
    const size_t off = u32(10), stride = (static_cast<size_t>(w) + 3) & ~size_t{3};
    if (off + stride * h > b.size())
        return false;
    img = Image{w, h, std::vector<unsigned char>(static_cast<size_t>(w) * h)};
    for (int y = 0; y < h; ++y) {
        const int src = hs > 0 ? h - 1 - y : y;
        std::copy_n(&b[off + stride * src], w, &img.px[static_cast<size_t>(y) * w]);
    }
    return true;
}

TEST(FingergenTest, SameFingerRendersIdentically) {
    const Image first = render(7, 3);
    render(8, 4); // nothing carries over between calls
    const Image again = render(7, 3);
    EXPECT_EQ(first.px, again.px);
}

TEST(FingergenTest, OtherFingersAndPeopleLookDifferent) {
    const Image base = render(1, 2);
    const std::array<std::pair<unsigned, int>, 4> others{{{1, 3}, {1, 7}, {2, 2}, {1000003, 2}}};
    for (auto [seed, finger] : others) {
        // Unrelated ridge patterns disagree on about half the pixels.
        EXPECT_GT(ridgeMismatch(base, render(seed, finger)), 0.35)
            << "seed " << seed << " finger " << finger;
    }
}

TEST(FingergenTest, RejectsBadArgumentsWithoutTouchingTheBuffer) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        const char* what;
        int finger, w, h;
        fg_defects d;
        bool nullPixels;
        int expected;
    };
    const Case cases[] = {
        {"null pixels", 1, 64, 64, {}, true, FG_ERR_NULL},
        {"finger 0", 0, 64, 64, {}, false, FG_ERR_FINGER},
        {"finger 11", 11, 64, 64, {}, false, FG_ERR_FINGER},
        {"finger -1", -1, 64, 64, {}, false, FG_ERR_FINGER},
        {"narrow", 1, FG_MIN_SIDE - 1, 64, {}, false, FG_ERR_SIZE},
        {"short", 1, 64, FG_MIN_SIDE - 1, {}, false, FG_ERR_SIZE},
        {"wide", 1, FG_MAX_SIDE + 1, 64, {}, false, FG_ERR_SIZE},
        {"tall", 1, 64, FG_MAX_SIDE + 1, {}, false, FG_ERR_SIZE},
        {"negative size", 1, -64, -64, {}, false, FG_ERR_SIZE},
        {"contrast > 1", 1, 64, 64, {1.5f, 0, 0, 0, 0}, false, FG_ERR_DEFECT},
        {"noise < 0", 1, 64, 64, {0, -0.1f, 0, 0, 0}, false, FG_ERR_DEFECT},
        {"dryness NaN", 1, 64, 64, {0, 0, nan, 0, 0}, false, FG_ERR_DEFECT},
        {"smudge inf", 1, 64, 64, {0, 0, 0, INFINITY, 0}, false, FG_ERR_DEFECT},
        {"partial > 1", 1, 64, 64, {0, 0, 0, 0, 1.01f}, false, FG_ERR_DEFECT},
    };
    for (const Case& c : cases) {
        std::vector<unsigned char> buf(64 * 64, 0x5a);
        EXPECT_EQ(fg_render(1, c.finger, c.w, c.h, &c.d, c.nullPixels ? nullptr : buf.data()),
                  c.expected)
            << c.what;
        EXPECT_EQ(buf, std::vector<unsigned char>(64 * 64, 0x5a)) << c.what;
        EXPECT_STRNE(fg_strerror(c.expected), fg_strerror(12345)) << c.what;
    }
    EXPECT_EQ(fg_pattern_class(1, 0), FG_ERR_FINGER);
    EXPECT_EQ(fg_pattern_class(1, 11), FG_ERR_FINGER);
}

TEST(FingergenTest, RendersAtExtremeAndOddSizes) {
    // Whole buffer written (no sentinel left at the end), nothing outside it (checked by
    // sanitizer builds), and the finger still centred in small or lopsided images.
    const std::array<std::pair<int, int>, 4> sizes{
        {{FG_MIN_SIDE, FG_MIN_SIDE}, {33, 1001}, {FG_MAX_SIDE, FG_MIN_SIDE}, {301, 255}}};
    for (auto [w, h] : sizes) {
        std::vector<unsigned char> buf(static_cast<size_t>(w) * h + 1, 0x5a);
        buf.back() = 0xa5;
        ASSERT_EQ(fg_render(5, 6, w, h, nullptr, buf.data()), FG_OK) << w << "x" << h;
        EXPECT_EQ(buf.back(), 0xa5);
    }
    const fg_defects all{1, 1, 1, 1, 1};
    std::vector<unsigned char> buf(FG_MIN_SIDE * FG_MIN_SIDE);
    EXPECT_EQ(fg_render(5, 6, FG_MIN_SIDE, FG_MIN_SIDE, &all, buf.data()), FG_OK);
}

TEST(FingergenTest, PatternClassesFollowPublishedFrequencies) {
    // Large ten-print studies: about 65% loops, 30% whorls, 5% arches and tented arches;
    // loops open towards the little finger far more often than towards the thumb.
    std::array<int, 5> count{};
    int rightHandRightLoops = 0, rightHandLoops = 0, leftHandLeftLoops = 0, leftHandLoops = 0;
    const int people = 3000;
    for (unsigned seed = 0; seed < people; ++seed)
        for (int finger = 1; finger <= 10; ++finger) {
            const int c = fg_pattern_class(seed, finger);
            ASSERT_GE(c, FG_ARCH);
            ASSERT_LE(c, FG_WHORL);
            ++count[c];
            const bool loop = c == FG_LEFT_LOOP || c == FG_RIGHT_LOOP;
            if (finger <= 5 && loop) {
                ++rightHandLoops;
                rightHandRightLoops += c == FG_RIGHT_LOOP;
            } else if (loop) {
                ++leftHandLoops;
                leftHandLeftLoops += c == FG_LEFT_LOOP;
            }
        }
    const double n = people * 10.0;
    EXPECT_NEAR((count[FG_LEFT_LOOP] + count[FG_RIGHT_LOOP]) / n, 0.65, 0.05);
    EXPECT_NEAR(count[FG_WHORL] / n, 0.29, 0.04);
    EXPECT_NEAR((count[FG_ARCH] + count[FG_TENTED_ARCH]) / n, 0.07, 0.03);
    EXPECT_GT(count[FG_ARCH], 0);
    EXPECT_GT(count[FG_TENTED_ARCH], 0);
    EXPECT_GT(rightHandRightLoops, 0.8 * rightHandLoops);
    EXPECT_GT(leftHandLeftLoops, 0.8 * leftHandLoops);
}

TEST(FingergenTest, RidgePeriodIsNearNinePixels) {
    double sum = 0;
    int n = 0;
    for (unsigned seed : {1u, 2u, 3u})
        for (int finger : {1, 4, 7, 10}) {
            const double p = fgtest::ridgePeriod(centre(render(seed, finger)));
            EXPECT_GT(p, 7.5) << "seed " << seed << " finger " << finger;
            EXPECT_LT(p, 10.8) << "seed " << seed << " finger " << finger;
            sum += p;
            ++n;
        }
    EXPECT_NEAR(sum / n, 9.0, 0.6);
}

TEST(FingergenTest, RidgePeriodMatchesRealPrints) {
    const std::filesystem::path dir =
        std::filesystem::path(STATION_SHARED_DIR) / "fixtures" / "fingerprints";
    if (!std::filesystem::is_directory(dir))
        GTEST_SKIP() << "real prints not found in " << dir.string() << " (../shared absent)";
    // 500 ppi optical prints of adults, undegraded.
    double lo = 1e9, hi = 0;
    for (const char* name :
         {"fvc2002_db1_101_1.bmp", "fvc2002_db1_102_5.bmp", "fvc2002_db1_103_4.bmp",
          "fvc2000_db3_101_1.bmp", "fvc2004_db1_101_1.bmp", "fvc2004_db1_103_6.bmp"}) {
        Image real;
        ASSERT_TRUE(readBmp8((dir / name).string(), real)) << name;
        const double p = fgtest::ridgePeriod(centre(real));
        lo = std::min(lo, p);
        hi = std::max(hi, p);
    }
    for (int finger : {2, 5, 8}) {
        const double p = fgtest::ridgePeriod(centre(render(11, finger)));
        EXPECT_GT(p, lo - 1.0) << "finger " << finger << ", real prints " << lo << ".." << hi;
        EXPECT_LT(p, hi + 1.0) << "finger " << finger << ", real prints " << lo << ".." << hi;
    }
}

TEST(FingergenTest, PrintsHaveRidgeEndingsAndBifurcations) {
    int endings = 0, bifurcations = 0;
    for (int finger = 1; finger <= 4; ++finger) {
        const Image img = render(21, finger);
        const fgtest::Minutiae m = fgtest::countMinutiae(fgtest::crop(img, 200, 250, 200), 128);
        endings += m.endings;
        bifurcations += m.bifurcations;
    }
    EXPECT_GE(endings, 8);
    EXPECT_GE(bifurcations, 8);
}

TEST(FingergenTest, FingerSitsInTheMiddleOnALightBackground) {
    const Image img = render(4, 9);
    // Corners are background; the middle is covered with ridges of good contrast.
    for (auto [x, y] : {std::pair{2, 2}, {kW - 3, 2}, {2, kH - 3}, {kW - 3, kH - 3}})
        EXPECT_GT(img.at(x, y), 200) << x << "," << y;
    const Image mid = centre(img);
    EXPECT_LT(fgtest::percentile(mid, 0.1), 90);
    EXPECT_GT(fgtest::percentile(mid, 0.9), 190);
    EXPECT_NEAR(fgtest::darkShare(mid, 128), 0.5, 0.2);
}

TEST(FingergenTest, DefectsDegradeThePrintMeasurably) {
    struct Measures {
        int contrast;    // spread between dark and light pixels
        double band;     // spectrum share at ridge frequencies
        double noise;    // pixel noise
        double dark;     // share of ridge pixels
        int pieces;      // separate ridge fragments
        double coverage; // share of the whole image covered by the finger
    };
    auto measure = [](const Image& img) {
        const Image mid = centre(img, 128);
        Measures m{};
        m.contrast = fgtest::percentile(mid, 0.95) - fgtest::percentile(mid, 0.05);
        m.band = fgtest::ridgeBandShare(mid);
        m.noise = fgtest::noiseLevel(mid);
        const int thr = (fgtest::percentile(mid, 0.95) + fgtest::percentile(mid, 0.05)) / 2;
        m.dark = fgtest::darkShare(mid, thr);
        m.pieces = fgtest::darkComponents(mid, thr);
        // Coverage: 16 x 16 blocks whose grey spread shows ridges.
        int blocks = 0, covered = 0;
        for (int by = 0; by + 16 <= img.height; by += 16)
            for (int bx = 0; bx + 16 <= img.width; bx += 16) {
                ++blocks;
                const Image b = fgtest::crop(img, bx + 8, by + 8, 16);
                covered += fgtest::percentile(b, 0.9) - fgtest::percentile(b, 0.1) > 60;
            }
        m.coverage = static_cast<double>(covered) / blocks;
        return m;
    };
    struct Case {
        const char* what;
        fg_defects d;
        std::function<bool(const Measures& clean, const Measures& bad)> worse;
    };
    const Case cases[] = {
        {"low contrast",
         {1, 0, 0, 0, 0},
         [](auto& c, auto& b) { return b.contrast < 0.5 * c.contrast; }},
        {"noise",
         {0, 1, 0, 0, 0},
         [](auto& c, auto& b) { return b.noise > 4 * c.noise && b.band < c.band; }},
        {"dryness",
         {0, 0, 1, 0, 0},
         [](auto& c, auto& b) { return b.pieces > 2 * c.pieces && b.dark < 0.8 * c.dark; }},
        {"smudge",
         {0, 0, 0, 1, 0},
         [](auto& c, auto& b) { return b.dark > 1.2 * c.dark && b.pieces < c.pieces; }},
        {"partial contact",
         {0, 0, 0, 0, 1},
         [](auto& c, auto& b) { return b.coverage < 0.7 * c.coverage; }},
    };
    for (unsigned seed : {3u, 30u}) {
        const int finger = static_cast<int>(seed % 10) + 1;
        const Measures clean = measure(render(seed, finger));
        for (const Case& c : cases) {
            const Measures bad = measure(render(seed, finger, &c.d));
            EXPECT_TRUE(c.worse(clean, bad))
                << c.what << " (seed " << seed << "): contrast " << clean.contrast << " -> "
                << bad.contrast << ", band " << clean.band << " -> " << bad.band << ", noise "
                << clean.noise << " -> " << bad.noise << ", dark " << clean.dark << " -> "
                << bad.dark << ", pieces " << clean.pieces << " -> " << bad.pieces << ", coverage "
                << clean.coverage << " -> " << bad.coverage;
        }
    }
}

// To enable once the NFIQ library is in the tree: link it, score the prints with NIST's
// NFIQ 1.0, and expect defect-free prints to score 1 or 2 and strongly defective ones
// (low contrast plus noise, or severe dryness, smudge or partial contact) 4 or 5.
// Our NFIQ 1.0 grades clean synthetic prints like good real ones and strongly defective ones
// like poor captures.
TEST(FingergenTest, NfiqGradesCleanAndDefectivePrints) {
    const int w = 400, h = 500;
    std::vector<unsigned char> px(static_cast<size_t>(w) * h);
    int cleanGood = 0, defectivePoor = 0, total = 0;
    fg_defects strong{};
    strong.low_contrast = 0.9f;
    strong.noise = 0.9f;
    strong.dryness = 0.9f;
    strong.partial = 0.6f;
    for (unsigned seed = 1; seed <= 3; ++seed) {
        for (int finger = 1; finger <= 10; finger += 3) {
            ++total;
            ASSERT_EQ(fg_render(seed, finger, w, h, nullptr, px.data()), FG_OK);
            const int clean = nfiq::assess(px.data(), w, h).score;
            cleanGood += clean <= 2;
            ASSERT_EQ(fg_render(seed, finger, w, h, &strong, px.data()), FG_OK);
            const int poor = nfiq::assess(px.data(), w, h).score;
            defectivePoor += poor >= 4;
            std::printf("seed %u finger %2d: clean %d, defective %d\n", seed, finger, clean, poor);
        }
    }
    EXPECT_GT(cleanGood * 2, total) << "most clean prints should score 1 or 2";
    EXPECT_GT(defectivePoor * 2, total) << "most strongly defective prints should score 4 or 5";
}

} // namespace
