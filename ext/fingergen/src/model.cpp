#include "model.h"

#include <algorithm>
#include <cmath>

namespace fingergen {

namespace {

constexpr float kPi = 3.14159265358979f;

// Cumulative class weights per finger position (thumb, index, middle, ring, little) in the
// order arch, tented arch, radial loop, ulnar loop, whorl. Ulnar loops open towards the
// little finger: rightwards in a right hand's print, leftwards in a left hand's.
constexpr float kClassWeights[5][5] = {
    {0.04f, 0.02f, 0.03f, 0.51f, 0.40f}, // thumb
    {0.09f, 0.07f, 0.17f, 0.38f, 0.29f}, // index
    {0.05f, 0.03f, 0.03f, 0.69f, 0.20f}, // middle
    {0.02f, 0.01f, 0.01f, 0.50f, 0.46f}, // ring
    {0.02f, 0.01f, 0.01f, 0.84f, 0.12f}, // little
};

} // namespace

uint64_t fingerKey(unsigned seed, int finger) {
    return mix64(mix64(static_cast<uint64_t>(seed) + 0x5eedULL) ^ static_cast<uint64_t>(finger));
}

int choosePatternClass(unsigned seed, int finger) {
    const bool rightHand = finger <= 5;
    const float* w = kClassWeights[(finger - 1) % 5];
    float u = unit(hash3(fingerKey(seed, finger), 0x636c, 0));
    int pick = 4;
    float acc = 0.0f;
    for (int i = 0; i < 5; ++i) {
        acc += w[i];
        if (u < acc) {
            pick = i;
            break;
        }
    }
    switch (pick) {
    case 0:
        return 0; // arch
    case 1:
        return 1; // tented arch
    case 2:
        return rightHand ? 2 : 3; // radial loop
    case 3:
        return rightHand ? 3 : 2; // ulnar loop
    default:
        return 4;
    }
}

FingerModel makeModel(unsigned seed, int finger) {
    FingerModel m;
    const uint64_t key = fingerKey(seed, finger);
    Rng rng(hash3(key, 0x6d6f64, 1));
    m.patternClass = choosePatternClass(seed, finger);
    const bool thumb = (finger - 1) % 5 == 0;
    const bool little = (finger - 1) % 5 == 4;

    m.rotation = rng.normal(0.0f, 0.10f);
    m.meanPeriod = std::clamp(rng.normal(9.3f, 0.4f), 8.3f, 10.4f);
    const float size = thumb ? 1.12f : (little ? 0.88f : 1.0f);
    m.halfWidth = rng.uniform(108.0f, 135.0f) * size;
    m.topHeight = rng.uniform(160.0f, 195.0f) * size;
    m.bottomHeight = rng.uniform(160.0f, 210.0f) * size;
    m.pressure = rng.uniform(0.62f, 0.92f);
    m.ridgeLevel = rng.uniform(0.0f, 35.0f);
    m.background = rng.uniform(236.0f, 252.0f);

    // Singular points, placed a little above the centre of the contact area.
    const float coreY = rng.normal(-25.0f, 15.0f);
    switch (m.patternClass) {
    case 0: // arch: a hump without singular points
        m.archHeight = rng.uniform(55.0f, 100.0f);
        m.archWidth = rng.uniform(80.0f, 115.0f);
        m.archCentreY = coreY + 30.0f;
        break;
    case 1: { // tented arch: a core right above a delta
        float x = rng.normal(0.0f, 12.0f);
        m.cores.push_back({x, coreY});
        m.deltas.push_back({x + rng.normal(0.0f, 6.0f), coreY + rng.uniform(45.0f, 75.0f)});
        break;
    }
    case 2:
    case 3: { // loops: the delta lies on the side the ridges do not open to
        float side = m.patternClass == 2 ? 1.0f : -1.0f; // left loop: delta on the right
        float x = rng.normal(0.0f, 15.0f) - side * 10.0f;
        m.cores.push_back({x, coreY});
        m.deltas.push_back(
            {x + side * rng.uniform(70.0f, 120.0f), coreY + rng.uniform(70.0f, 120.0f)});
        break;
    }
    default: { // whorl: two cores close together and a delta on each side
        float x = rng.normal(0.0f, 12.0f);
        float dx = rng.normal(0.0f, 8.0f);
        float dy = rng.uniform(10.0f, 30.0f);
        m.cores.push_back({x + dx, coreY - dy * 0.5f});
        m.cores.push_back({x - dx, coreY + dy * 0.5f});
        float dyL = rng.uniform(70.0f, 120.0f), dyR = rng.uniform(70.0f, 120.0f);
        m.deltas.push_back({x - rng.uniform(75.0f, 115.0f), coreY + dyL});
        m.deltas.push_back({x + rng.uniform(75.0f, 115.0f), coreY + dyR});
        break;
    }
    }
    return m;
}

Fields::Fields(const FingerModel& m, uint64_t key, int width, int height, float cx, float cy)
    : m_(m), orientNoise_(hash3(key, 0x6f72, 0), 110.0f, cx, cy, width, height),
      periodNoise_(hash3(key, 0x7072, 0), 120.0f, cx, cy, width, height), cx_(cx), cy_(cy) {}

float Fields::orientation(float x, float y) const {
    // Work with y pointing up, then flip the angle back to image coordinates.
    const float X = x, Y = -y;
    float theta = 0.0f;
    if (m_.patternClass == 0) {
        const float s2 = m_.archWidth * m_.archWidth;
        const float dy = Y + m_.archCentreY;
        const float w = std::exp(-dy * dy / (2.0f * 110.0f * 110.0f));
        const float slope = -m_.archHeight * X / s2 * std::exp(-X * X / (2.0f * s2)) * w;
        theta = std::atan(slope);
    } else {
        // Zero-pole model: half the argument around each core, minus half around each delta.
        for (const Point& c : m_.cores)
            theta += 0.5f * std::atan2(Y + c.y, X - c.x);
        for (const Point& d : m_.deltas)
            theta -= 0.5f * std::atan2(Y + d.y, X - d.x);
    }
    theta = -theta + m_.rotation;
    theta += 0.12f * orientNoise_.at(x + cx_, y + cy_);
    return theta;
}

float Fields::period(float x, float y) const {
    float r = std::sqrt(x * x + y * y);
    float p = m_.meanPeriod * (1.0f + 0.06f * periodNoise_.at(x + cx_, y + cy_));
    p += 0.6f * std::min(r / 220.0f, 1.0f) - 0.2f;
    return p;
}

} // namespace fingergen
