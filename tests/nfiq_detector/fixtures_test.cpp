// The whole detector on the fixture prints against NIST's minutiae (.xyt files: x, y with a
// top-left origin, theta counter-clockwise from the x axis in 2-degree units, quality).
//
// Prints, per print, NIST's count, ours, and how many of NIST's minutiae we find within
// 4 pixels (one-to-one). Set NFIQ_DETECTOR_VERBOSE=1 to list the unmatched minutiae.
#include "detector.h"
#include "nfiq_bmp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Xyt {
    int x, y, theta, q;
};

std::vector<Xyt> read_xyt(const fs::path& p) {
    std::vector<Xyt> out;
    std::ifstream in(p);
    for (Xyt m; in >> m.x >> m.y >> m.theta >> m.q;) {
        out.push_back(m);
    }
    return out;
}

std::vector<lfs::Minutia> detect(const nfiq::GreyImage& img) {
    const lfs::Params& p = lfs::kParamsV2;
    const lfs::PaddedImage padded = lfs::pad_image(img.pixels.data(), img.width, img.height, p);
    const lfs::Maps maps = lfs::make_maps(padded, p);
    std::vector<uint8_t> bin = lfs::binarize(padded, maps, p);
    auto found = lfs::detect_minutiae(bin, img.width, img.height, maps, p);
    lfs::remove_false_minutiae(found, bin, img.width, img.height, maps, p);
    return found;
}

// The xyt angle of an internal direction. Internal directions point up the image at 0 and
// turn clockwise; the fixture files give the same direction counter-clockwise from the
// x axis in units of 2 degrees (0..179), truncated.
int xyt_theta(int direction) {
    return ((8 - direction) % 32 + 32) % 32 * 45 / 8;
}

// Difference of two xyt angles in degrees.
int angle_diff(int a, int b) {
    const int d = std::abs(a - b) % 180;
    return 2 * std::min(d, 180 - d);
}

TEST(DetectorFixtures, MinutiaeAgreeWithNist) {
    const fs::path shared = STATION_SHARED_DIR;
    const fs::path tsv = shared / "fixtures/nbis/reference.tsv";
    if (!fs::exists(tsv)) {
        GTEST_SKIP() << "fixture prints not found beside the repository (" << tsv << ")";
    }
    const bool verbose = std::getenv("NFIQ_DETECTOR_VERBOSE") != nullptr;
    std::ifstream list(tsv);
    std::string line;
    std::getline(list, line);
    int prints = 0, nist_total = 0, ours_total = 0, matched_total = 0, count_exact = 0;
    int theta_close = 0;
    while (std::getline(list, line)) {
        const std::string name = line.substr(0, line.find('\t'));
        const std::string base = name.substr(0, name.size() - 4);
        const fs::path xyt_path = shared / "fixtures/nbis" / (base + ".xyt");
        nfiq::GreyImage img;
        std::string err;
        if (!fs::exists(xyt_path) ||
            !nfiq::read_bmp((shared / "fixtures/fingerprints" / name).string(), img, &err)) {
            continue;
        }
        const auto theirs = read_xyt(xyt_path);
        if (theirs.empty()) {
            continue; // NIST refused the print or found nothing
        }
        const auto ours = detect(img);
        std::vector<char> used(ours.size(), 0);
        int matched = 0;
        std::string missing;
        for (const Xyt& t : theirs) {
            int best = -1, best_d = 1 << 30;
            for (size_t i = 0; i < ours.size(); ++i) {
                const int dx = ours[i].x - t.x, dy = ours[i].y - t.y;
                const int d = dx * dx + dy * dy;
                if (!used[i] && std::abs(dx) <= 4 && std::abs(dy) <= 4 && d < best_d) {
                    best = static_cast<int>(i);
                    best_d = d;
                }
            }
            if (best >= 0) {
                used[static_cast<size_t>(best)] = 1;
                ++matched;
                theta_close +=
                    angle_diff(xyt_theta(ours[static_cast<size_t>(best)].direction), t.theta) <= 23;
            } else {
                missing += " (" + std::to_string(t.x) + "," + std::to_string(t.y) + "," +
                           std::to_string(t.theta) + ")";
            }
        }
        std::printf("%-40s nist %3zu ours %3zu matched %3d\n", base.c_str(), theirs.size(),
                    ours.size(), matched);
        if (verbose) {
            std::printf("  missing:%s\n  extra:", missing.c_str());
            for (size_t i = 0; i < ours.size(); ++i) {
                if (!used[i]) {
                    std::printf(" (%d,%d,%d %s)", ours[i].x, ours[i].y,
                                xyt_theta(ours[i].direction),
                                ours[i].type == lfs::kRidgeEnding ? "end" : "bif");
                }
            }
            std::printf("\n");
        }
        ++prints;
        nist_total += static_cast<int>(theirs.size());
        ours_total += static_cast<int>(ours.size());
        matched_total += matched;
        count_exact += ours.size() == theirs.size();
    }
    if (prints == 0) {
        GTEST_SKIP() << "no fixture print with NIST minutiae";
    }
    std::printf("prints %d, NIST %d, ours %d, matched %d (%.1f %%), exact counts %d, "
                "direction within 23 degrees %d\n",
                prints, nist_total, ours_total, matched_total, 100.0 * matched_total / nist_total,
                count_exact, theta_close);
    // Floors reached by the current detector (see the README of this folder).
    EXPECT_GE(matched_total * 100, 95 * nist_total);
    EXPECT_GE(ours_total * 100, 95 * nist_total);
    EXPECT_LE(ours_total * 100, 105 * nist_total);
    EXPECT_GE(theta_close * 100, 90 * matched_total);
}

} // namespace
