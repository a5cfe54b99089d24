// C++ interface of the NFIQ 1.0 core: NIST's fingerprint image quality (1 best … 5 worst)
// computed from the minutiae detector's quality map and minutia reliabilities, the fixed
// z-normalisation and NIST's trained 11-22-5 network.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace nfiq {

// Status codes (the same values the GBNFIQ library returns).
inline constexpr int kOk = 0;          // scored by the network
inline constexpr int kEmptyImage = 1;  // no foreground block (score 5)
inline constexpr int kFewMinutiae = 2; // at most 5 minutiae (score 5)
inline constexpr int kInvalidArgument = 3;

// Accepted image sizes. Smaller images cannot hold a single analysis window plus its
// border and are reported as empty; larger ones are refused as invalid.
inline constexpr int kMinSide = 32;
inline constexpr int kMaxSide = 4096;

inline constexpr int kFeatures = 11;
using Features = std::array<float, kFeatures>;

struct Minutia {
    int x = 0, y = 0;       // top-left origin
    int direction = 0;      // 0..31, 11.25° units, 0 = vertical, clockwise
    int type = 0;           // 0 bifurcation, 1 ridge ending
    double reliability = 0; // final reliability 0.01 .. 0.99
};

struct Result {
    int status = kInvalidArgument;
    int score = 0;        // 1..5 (0 only with kInvalidArgument)
    float confidence = 0; // activation of the winning output, 1.0 for statuses 1 and 2
    Features features{};  // f1..f11, also filled in with statuses 1 and 2 (zero without foreground)
    std::vector<Minutia> minutiae;
    int map_w = 0, map_h = 0;
    std::vector<int> quality_map; // levels 0..4, map_w × map_h, row-major
};

// Scores a top-down 8-bit grey image, rows exactly width bytes. ppi only sets the radius
// of the reliability window; NFIQ is meant for 500 ppi.
Result assess(const uint8_t* pixels, int width, int height, int ppi = 500);

struct NetOutput {
    int score = 0;        // 1 + index of the largest output, first one on a tie
    float confidence = 0; // that output
    std::array<float, 5> outputs{};
};

// Z-normalisation with NIST's fixed statistics.
Features znormalize(const Features& f);
// Z-normalises the raw feature vector and evaluates the network.
NetOutput classify(const Features& raw);

} // namespace nfiq
