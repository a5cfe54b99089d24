// The simulated finger: pattern class, singular points, outline and the smooth fields
// (orientation, ridge period, pressure) that the renderer samples.
#pragma once

#include "noise.h"

#include <cstdint>
#include <vector>

namespace fingergen {

struct Point {
    float x, y; // pixels relative to the finger centre, y pointing down
};

struct FingerModel {
    int patternClass = 0;
    std::vector<Point> cores;
    std::vector<Point> deltas;
    float rotation = 0.0f;    // radians, added to the whole orientation field
    float archHeight = 0.0f;  // arches: height of the ridge hump in pixels
    float archWidth = 0.0f;   // arches: horizontal spread of the hump
    float archCentreY = 0.0f; // arches: height of the strongest hump
    float meanPeriod = 9.0f;  // ridge period in pixels at 500 ppi
    float halfWidth = 0.0f;   // outline: half width of the contact area
    float topHeight = 0.0f;   // outline: centre to fingertip
    float bottomHeight = 0.0f;
    float pressure = 0.8f;    // overall pressure 0..1
    float ridgeLevel = 30.0f; // grey of a firmly pressed ridge
    float background = 245.0f;
};

// Key of the simulated finger, the root of all its randomness.
uint64_t fingerKey(unsigned seed, int finger);

// Pattern class for (seed, finger) with per-finger frequencies close to those published for
// large ten-print collections (loops most common, then whorls, arches rare).
int choosePatternClass(unsigned seed, int finger);

FingerModel makeModel(unsigned seed, int finger);

// Smooth fields evaluated at positions relative to the finger centre.
class Fields {
  public:
    Fields(const FingerModel& m, uint64_t key, int width, int height, float cx, float cy);
    // Ridge orientation (radians, image coordinates, modulo pi) at full-resolution pixel
    // coordinates relative to the finger centre.
    float orientation(float x, float y) const;
    float period(float x, float y) const;

  private:
    const FingerModel& m_;
    LatticeNoise orientNoise_;
    LatticeNoise periodNoise_;
    float cx_, cy_;
};

} // namespace fingergen
