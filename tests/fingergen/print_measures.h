// Measurements on 8-bit grey prints, used to check the generator's output.
#pragma once

#include <cstddef>
#include <vector>

namespace fgtest {

struct Image {
    int width = 0, height = 0;
    std::vector<unsigned char> px;
    unsigned char at(int x, int y) const { return px[static_cast<std::size_t>(y) * width + x]; }
};

// The square window of side n centred at (cx, cy).
Image crop(const Image& img, int cx, int cy, int n);

// Dominant ridge period in pixels of a square power-of-two window: the peak of the
// radially summed power spectrum, refined between neighbouring radii.
double ridgePeriod(const Image& win);

// Share of the spectrum's AC power that lies between periods of 6 and 14 pixels.
double ridgeBandShare(const Image& win);

// Pixel noise: median absolute difference between a pixel and the mean of its four
// neighbours. Ridge edges are a minority of pixels, so they barely move the median.
double noiseLevel(const Image& win);

// Grey value below which the given fraction of pixels lies.
int percentile(const Image& win, double fraction);

// Number of 8-connected dark regions (pixels below `threshold`) of at least 4 pixels.
int darkComponents(const Image& win, int threshold);

// Fraction of pixels darker than `threshold`.
double darkShare(const Image& win, int threshold);

// Ridge endings and bifurcations on the one-pixel skeleton of the dark pixels.
struct Minutiae {
    int endings = 0, bifurcations = 0;
};
Minutiae countMinutiae(const Image& win, int threshold);

} // namespace fgtest
