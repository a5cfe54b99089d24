// The whole detector on the fixture prints against NIST's minutiae (.xyt files: x, y with a
// top-left origin, theta counter-clockwise from the x axis in 2-degree units, quality =
// reliability in per cent). Every print must give NIST's lines, in any order (NIST's file
// lists them left to right, the detector top to bottom).
//
// Set NFIQ_DETECTOR_VERBOSE=1 to print both lists of a print that differs.
#include "detector.h"
#include "nfiq_bmp.h"
#include "nfiq_core.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
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

// Our minutiae of a print, written as NIST writes them into an .xyt file.
std::vector<Xyt> our_xyt(const nfiq::GreyImage& img) {
    const nfiq::Result r = nfiq::assess(img.pixels.data(), img.width, img.height);
    std::vector<Xyt> out;
    for (const nfiq::Minutia& m : r.minutiae) {
        // Counter-clockwise from the x axis in whole degrees, then in units of 2 degrees.
        int t = (90 - lfs::sround(m.direction * 11.25)) % 360;
        if (t < 0) {
            t += 360;
        }
        out.push_back({m.x, m.y, t / 2, lfs::sround(m.reliability * 100.0)});
    }
    return out;
}

std::string lines(const std::vector<Xyt>& v) {
    std::string s;
    for (const Xyt& m : v) {
        s += "  " + std::to_string(m.x) + " " + std::to_string(m.y) + " " +
             std::to_string(m.theta) + " " + std::to_string(m.q) + "\n";
    }
    return s;
}

TEST(DetectorFixtures, MinutiaeEqualNistLineForLine) {
    const fs::path shared = STATION_SHARED_DIR;
    const fs::path tsv = shared / "fixtures/nbis/reference.tsv";
    if (!fs::exists(tsv)) {
        GTEST_SKIP() << "fixture prints not found beside the repository (" << tsv << ")";
    }
    const bool verbose = std::getenv("NFIQ_DETECTOR_VERBOSE") != nullptr;
    std::ifstream list(tsv);
    std::string line;
    std::getline(list, line);
    int prints = 0, nist_total = 0, same_total = 0;
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
        auto theirs = read_xyt(xyt_path);
        auto ours = our_xyt(img);
        auto order = [](const Xyt& a, const Xyt& b) {
            return std::tie(a.x, a.y, a.theta, a.q) < std::tie(b.x, b.y, b.theta, b.q);
        };
        std::sort(theirs.begin(), theirs.end(), order);
        std::sort(ours.begin(), ours.end(), order);
        int same = 0;
        for (size_t i = 0; i < std::min(ours.size(), theirs.size()); ++i) {
            const Xyt &a = ours[i], &b = theirs[i];
            same += a.x == b.x && a.y == b.y && a.theta == b.theta && a.q == b.q;
        }
        const bool equal = ours.size() == theirs.size() && same == static_cast<int>(ours.size());
        EXPECT_TRUE(equal) << base << ": NIST " << theirs.size() << " minutiae, ours "
                           << ours.size() << ", " << same << " lines equal"
                           << (verbose ? "\nNIST:\n" + lines(theirs) + "ours:\n" + lines(ours)
                                       : std::string());
        ++prints;
        nist_total += static_cast<int>(theirs.size());
        same_total += same;
    }
    if (prints == 0) {
        GTEST_SKIP() << "no fixture print with NIST minutiae";
    }
    std::printf("prints %d, NIST minutiae %d, equal lines (x, y, theta, quality) %d\n", prints,
                nist_total, same_total);
}

} // namespace
