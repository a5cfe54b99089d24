// Deterministic randomness: every random quantity is a hash of the print's key, a purpose
// tag and (for fields) lattice coordinates, so nothing depends on call order or on a
// library's distribution algorithms, and images are identical on every platform build.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace fingergen {

inline uint64_t mix64(uint64_t z) {
    z += 0x9e3779b97f4a7c15ULL;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

inline uint64_t hash3(uint64_t key, int64_t a, int64_t b) {
    return mix64(key ^ mix64(static_cast<uint64_t>(a) * 0x632be59bd9b4e019ULL ^
                             mix64(static_cast<uint64_t>(b) + 0x2545f4914f6cdd1dULL)));
}

// Uniform in [0, 1) from the top 24 bits of a hash.
inline float unit(uint64_t h) {
    return static_cast<float>(h >> 40) * (1.0f / 16777216.0f);
}
// Uniform in [-1, 1).
inline float signedUnit(uint64_t h) {
    return unit(h) * 2.0f - 1.0f;
}

// A small sequential generator for drawing a handful of parameters.
class Rng {
  public:
    explicit Rng(uint64_t key) : state_(key) {}
    uint64_t next() { return mix64(state_++ * 0x9e3779b97f4a7c15ULL); }
    float uniform() { return unit(next()); }
    float uniform(float lo, float hi) { return lo + (hi - lo) * uniform(); }
    // Approximately normal (sum of four uniforms), bounded to about +-3.5 sigma.
    float normal(float mean, float sigma) {
        float s = uniform() + uniform() + uniform() + uniform() - 2.0f;
        return mean + sigma * s * 1.7320508f;
    }

  private:
    uint64_t state_;
};

// Smooth value noise on a square lattice of `cell` pixels, anchored at an origin so that a
// field stays put relative to the finger whatever the image size. Values in about [-1, 1].
class LatticeNoise {
  public:
    LatticeNoise(uint64_t key, float cell, float originX, float originY, int width, int height)
        : cell_(cell), ox_(originX), oy_(originY) {
        i0_ = static_cast<int>(std::floor((0.0f - ox_) / cell_)) - 1;
        j0_ = static_cast<int>(std::floor((0.0f - oy_) / cell_)) - 1;
        int i1 = static_cast<int>(std::floor((static_cast<float>(width) - ox_) / cell_)) + 2;
        int j1 = static_cast<int>(std::floor((static_cast<float>(height) - oy_) / cell_)) + 2;
        nx_ = i1 - i0_ + 1;
        ny_ = j1 - j0_ + 1;
        v_.resize(static_cast<size_t>(nx_) * static_cast<size_t>(ny_));
        for (int j = 0; j < ny_; ++j)
            for (int i = 0; i < nx_; ++i)
                v_[static_cast<size_t>(j) * nx_ + i] = signedUnit(hash3(key, i + i0_, j + j0_));
    }

    float at(float x, float y) const {
        float fx = (x - ox_) / cell_ - static_cast<float>(i0_);
        float fy = (y - oy_) / cell_ - static_cast<float>(j0_);
        int i = static_cast<int>(std::floor(fx));
        int j = static_cast<int>(std::floor(fy));
        if (i < 0)
            i = 0, fx = 0;
        if (j < 0)
            j = 0, fy = 0;
        if (i > nx_ - 2)
            i = nx_ - 2, fx = static_cast<float>(nx_ - 1);
        if (j > ny_ - 2)
            j = ny_ - 2, fy = static_cast<float>(ny_ - 1);
        float tx = fx - static_cast<float>(i), ty = fy - static_cast<float>(j);
        tx = tx * tx * (3.0f - 2.0f * tx);
        ty = ty * ty * (3.0f - 2.0f * ty);
        const float* r0 = &v_[static_cast<size_t>(j) * nx_ + i];
        const float* r1 = r0 + nx_;
        float a = r0[0] + (r0[1] - r0[0]) * tx;
        float b = r1[0] + (r1[1] - r1[0]) * tx;
        return a + (b - a) * ty;
    }

  private:
    float cell_, ox_, oy_;
    int i0_ = 0, j0_ = 0, nx_ = 0, ny_ = 0;
    std::vector<float> v_;
};

} // namespace fingergen
