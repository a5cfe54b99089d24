// Growing and rendering a print.
//
// 1. Ridges are grown at half resolution (period about 4.5 samples) from seeded noise by
//    repeatedly applying, at each sample, a band-pass filter tuned to the local ridge
//    orientation and period and saturating the result. The pattern settles into ridges
//    that follow the orientation field; where the field forces ridges to appear or vanish
//    they end or fork, which gives true minutiae.
// 2. The ridge field is brought to full resolution by bicubic interpolation and turned into
//    ink: the threshold follows the pressure (thick ridges where the finger presses hard,
//    thin, broken ones where it barely touches), with fine noise for ragged ridge edges.
// 3. Outline, background grain and the requested defects are applied.
#include "fingergen.h"
#include "model.h"
#include "noise.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

namespace fingergen {

namespace {

constexpr float kPi = 3.14159265358979f;
constexpr int kRadius = 4; // filter radius at half resolution
constexpr int kTaps = 2 * kRadius + 1;
constexpr int kOrientations = 32;
constexpr float kPeriodLo = 3.4f; // half-resolution periods covered by the bank
constexpr float kPeriodStep = 0.2f;
constexpr int kPeriods = 14;
constexpr int kIterations = 14;

float smoothstep(float e0, float e1, float x) {
    float t = std::clamp((x - e0) / (e1 - e0), 0.0f, 1.0f);
    return t * t * (3.0f - 2.0f * t);
}

// Oriented band-pass kernels: a Gabor function (cosine across the ridges under a Gaussian
// envelope), made zero-mean and scaled so that a matching sinusoid of amplitude 1 comes out
// with amplitude 1.
class FilterBank {
  public:
    FilterBank() : k_(static_cast<size_t>(kOrientations) * kPeriods * kTaps * kTaps) {
        for (int o = 0; o < kOrientations; ++o) {
            const float th = kPi * static_cast<float>(o) / kOrientations;
            const float c = std::cos(th), s = std::sin(th);
            for (int p = 0; p < kPeriods; ++p) {
                const float period = kPeriodLo + kPeriodStep * static_cast<float>(p);
                const float sa = std::min(0.5f * period, 2.4f);  // across the ridges
                const float sl = std::min(0.65f * period, 2.8f); // along the ridges
                float* k = kernel(o, p);
                float env[kTaps * kTaps];
                float sumEnv = 0, sumK = 0;
                for (int j = -kRadius; j <= kRadius; ++j)
                    for (int i = -kRadius; i <= kRadius; ++i) {
                        // along = projection on the ridge direction, across = on its normal
                        const float along = i * c + j * s;
                        const float across = -i * s + j * c;
                        const float e = std::exp(
                            -0.5f * (across * across / (sa * sa) + along * along / (sl * sl)));
                        const int idx = (j + kRadius) * kTaps + (i + kRadius);
                        env[idx] = e;
                        k[idx] = e * std::cos(2.0f * kPi * across / period);
                        sumEnv += e;
                        sumK += k[idx];
                    }
                float gain = 0;
                for (int j = -kRadius; j <= kRadius; ++j)
                    for (int i = -kRadius; i <= kRadius; ++i) {
                        const int idx = (j + kRadius) * kTaps + (i + kRadius);
                        k[idx] -= env[idx] * sumK / sumEnv;
                        const float across = -i * s + j * c;
                        gain += k[idx] * std::cos(2.0f * kPi * across / period);
                    }
                for (int t = 0; t < kTaps * kTaps; ++t)
                    k[t] /= gain;
            }
        }
    }
    float* kernel(int o, int p) {
        return &k_[(static_cast<size_t>(o) * kPeriods + p) * kTaps * kTaps];
    }
    const float* kernel(int index) const { return &k_[static_cast<size_t>(index) * kTaps * kTaps]; }
    static int index(float theta, float period) {
        float t = theta / kPi;
        t -= std::floor(t);
        int o = static_cast<int>(t * kOrientations + 0.5f) % kOrientations;
        int p = static_cast<int>(std::lround((period - kPeriodLo) / kPeriodStep));
        p = std::clamp(p, 0, kPeriods - 1);
        return o * kPeriods + p;
    }

  private:
    std::vector<float> k_;
};

const FilterBank& bank() {
    static const FilterBank b; // built once, read-only afterwards (thread-safe static init)
    return b;
}

// Ridge field (positive on ridges) on a half-resolution grid: sample (i, j) sits at full
// resolution pixel (2i, 2j).
// Only samples inside `box` (half-resolution i0, j0, i1, j1, end exclusive) are grown; the
// rest stay 0, which renders as no ridge.
struct Box {
    int i0, j0, i1, j1;
};

std::vector<float> growRidges(uint64_t key, const Fields& fields, int hw, int hh, Box box, float cx,
                              float cy) {
    const FilterBank& fb = bank();
    const int pw = hw + 2 * kRadius;
    const int ph = hh + 2 * kRadius;
    std::vector<float> a(static_cast<size_t>(pw) * ph, 0.0f);
    std::vector<float> b(a.size(), 0.0f);
    std::vector<uint16_t> kidx(static_cast<size_t>(hw) * hh);

    // Seed noise anchored to the finger centre so a finger grows the same ridges whatever
    // the image size (apart from the effects of the image border).
    const int ci = static_cast<int>(std::lround(cx / 2.0f));
    const int cj = static_cast<int>(std::lround(cy / 2.0f));
    const uint64_t nkey = hash3(key, 0x67726f77, 0);
    for (int j = box.j0; j < box.j1; ++j)
        for (int i = box.i0; i < box.i1; ++i) {
            const float x = 2.0f * i - cx, y = 2.0f * j - cy;
            kidx[static_cast<size_t>(j) * hw + i] = static_cast<uint16_t>(
                FilterBank::index(fields.orientation(x, y), 0.5f * fields.period(x, y)));
            a[static_cast<size_t>(j + kRadius) * pw + i + kRadius] =
                signedUnit(hash3(nkey, i - ci, j - cj));
        }

    const float gain = 1.6f;
    for (int it = 0; it < kIterations; ++it) {
        for (int j = box.j0; j < box.j1; ++j) {
            float* out = &b[static_cast<size_t>(j + kRadius) * pw + kRadius];
            const uint16_t* ki = &kidx[static_cast<size_t>(j) * hw];
            for (int i = box.i0; i < box.i1; ++i) {
                const float* k = fb.kernel(ki[i]);
                const float* src = &a[static_cast<size_t>(j) * pw + i];
                float acc = 0.0f;
                for (int r = 0; r < kTaps; ++r) {
                    const float* row = src + static_cast<size_t>(r) * pw;
                    const float* kr = k + r * kTaps;
                    for (int t = 0; t < kTaps; ++t)
                        acc += kr[t] * row[t];
                }
                out[i] = std::clamp(acc * gain, -1.0f, 1.0f);
            }
        }
        std::swap(a, b);
    }

    std::vector<float> out(static_cast<size_t>(hw) * hh);
    for (int j = 0; j < hh; ++j)
        std::memcpy(&out[static_cast<size_t>(j) * hw],
                    &a[static_cast<size_t>(j + kRadius) * pw + kRadius], sizeof(float) * hw);
    return out;
}

// Catmull-Rom weights for fractional offset t.
void cubicWeights(float t, float w[4]) {
    const float t2 = t * t, t3 = t2 * t;
    w[0] = 0.5f * (-t3 + 2.0f * t2 - t);
    w[1] = 0.5f * (3.0f * t3 - 5.0f * t2 + 2.0f);
    w[2] = 0.5f * (-3.0f * t3 + 4.0f * t2 + t);
    w[3] = 0.5f * (t3 - t2);
}

// Doubles the half-resolution field to width x height.
std::vector<float> upsample(const std::vector<float>& src, int hw, int hh, int width, int height) {
    std::vector<float> rows(static_cast<size_t>(hh) * width);
    for (int x = 0; x < width; ++x) {
        const float fx = 0.5f * static_cast<float>(x);
        const int i = static_cast<int>(fx);
        float w[4];
        cubicWeights(fx - static_cast<float>(i), w);
        int ix[4];
        for (int k = 0; k < 4; ++k)
            ix[k] = std::clamp(i - 1 + k, 0, hw - 1);
        for (int j = 0; j < hh; ++j) {
            const float* s = &src[static_cast<size_t>(j) * hw];
            rows[static_cast<size_t>(j) * width + x] =
                w[0] * s[ix[0]] + w[1] * s[ix[1]] + w[2] * s[ix[2]] + w[3] * s[ix[3]];
        }
    }
    std::vector<float> out(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        const float fy = 0.5f * static_cast<float>(y);
        const int j = static_cast<int>(fy);
        float w[4];
        cubicWeights(fy - static_cast<float>(j), w);
        const float* r[4];
        for (int k = 0; k < 4; ++k)
            r[k] = &rows[static_cast<size_t>(std::clamp(j - 1 + k, 0, hh - 1)) * width];
        float* o = &out[static_cast<size_t>(y) * width];
        for (int x = 0; x < width; ++x)
            o[x] = w[0] * r[0][x] + w[1] * r[1][x] + w[2] * r[2][x] + w[3] * r[3][x];
    }
    return out;
}

struct Defects {
    float lowContrast = 0, noise = 0, dryness = 0, smudge = 0, partial = 0;
};

bool validStrength(float v) {
    return std::isfinite(v) && v >= 0.0f && v <= 1.0f;
}

void render(unsigned seed, int finger, int width, int height, const Defects& d,
            unsigned char* pixels) {
    const FingerModel m = makeModel(seed, finger);
    const uint64_t key = fingerKey(seed, finger);
    Rng rng(hash3(key, 0x706c6163, 0)); // placement on the platen

    // Fit the finger on the platen: it may be cut by the image border, but a small image
    // still shows a reasonable part of the contact area.
    const float fitW = std::min(1.0f, 0.47f * static_cast<float>(width) / m.halfWidth);
    const float fitH = std::min(1.0f, 0.49f * static_cast<float>(height) /
                                          (0.5f * (m.topHeight + m.bottomHeight)));
    const float ax = m.halfWidth * fitW;
    const float top = m.topHeight * fitH;
    const float bottom = m.bottomHeight * fitH;
    const float cx = 0.5f * static_cast<float>(width) + rng.normal(0.0f, 0.03f * ax);
    const float cy = 0.5f * static_cast<float>(height) + 0.5f * (top - bottom) * 0.6f +
                     rng.normal(0.0f, 0.03f * top);

    const Fields fields(m, key, width, height, cx, cy);
    const int hw = width / 2 + 3;
    const int hh = height / 2 + 3;
    // Grow only around the finger: past 1.15 times its outline nothing is inked.
    const Box box{std::clamp(static_cast<int>((cx - 1.15f * ax) / 2.0f) - 2, 0, hw),
                  std::clamp(static_cast<int>((cy - 1.15f * top) / 2.0f) - 2, 0, hh),
                  std::clamp(static_cast<int>((cx + 1.15f * ax) / 2.0f) + 3, 0, hw),
                  std::clamp(static_cast<int>((cy + 1.15f * bottom) / 2.0f) + 3, 0, hh)};
    const std::vector<float> half = growRidges(key, fields, hw, hh, box, cx, cy);
    const std::vector<float> ridge = upsample(half, hw, hh, width, height);

    const LatticeNoise edgeNoise(hash3(key, 0x65646765, 0), 40.0f, cx, cy, width, height);
    const LatticeNoise pressNoise(hash3(key, 0x70726573, 0), 55.0f, cx, cy, width, height);
    const LatticeNoise fine(hash3(key, 0x66696e65, 0), 2.5f, cx, cy, width, height);
    const LatticeNoise breaks(hash3(key, 0x62726b, 0), 5.0f, cx, cy, width, height);
    const LatticeNoise blotch(hash3(key, 0x626c6f74, 0), 28.0f, cx, cy, width, height);
    const LatticeNoise shade(hash3(key, 0x73686164, 0), 90.0f, cx, cy, width, height);
    const uint64_t grainKey = hash3(key, 0x6772616e, 0);

    // Partial contact: a soft straight cut across the finger at a per-finger angle.
    const float cutAngle = rng.uniform(0.0f, 2.0f * kPi);
    const float nx = std::cos(cutAngle), ny = std::sin(cutAngle);
    const float reach = std::sqrt(ax * ax * nx * nx + top * top * ny * ny);
    const float cutAt = reach * (1.0f - 1.5f * d.partial);

    const float bg = m.background + (200.0f - m.background) * 0.5f * d.lowContrast;
    const float ridgeGrey = m.ridgeLevel + (bg - 35.0f - m.ridgeLevel) * 0.85f * d.lowContrast;
    const float grain = 2.0f + 45.0f * d.noise;
    const uint64_t poreKey = hash3(key, 0x706f7265, 0);
    constexpr int kPoreCell = 7;

    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const float px = static_cast<float>(x) - cx, py = static_cast<float>(y) - cy;
            const size_t at = static_cast<size_t>(y) * width + x;
            // Outline: an elliptical tip above, a flatter, squarer contact edge below.
            const float ux = std::fabs(px) / ax;
            float rho;
            if (py < 0) {
                const float uy = -py / top;
                rho = std::sqrt(ux * ux + uy * uy);
            } else {
                // Exponent 2.5: between an ellipse and a rounded rectangle.
                const float uy = py / bottom;
                rho = std::pow(ux * ux * std::sqrt(ux) + uy * uy * std::sqrt(uy), 0.4f);
            }
            rho *= 1.0f + 0.06f * edgeNoise.at(x, y);
            float contact = 1.0f - smoothstep(0.86f, 1.03f, rho);
            if (d.partial > 0)
                contact *= 1.0f - smoothstep(cutAt - 25.0f, cutAt,
                                             px * nx + py * ny + 18.0f * edgeNoise.at(y, x));

            float g = bg + 4.0f * shade.at(x, y);
            if (contact > 0.0f) {
                // Pressure falls off towards the rim, where ridges thin out and break up.
                const float r = std::min(rho, 1.0f);
                float press = m.pressure * (1.0f - 0.6f * r * r * r) + 0.28f * pressNoise.at(x, y) -
                              0.6f * (1.0f - contact);
                press = std::clamp(press, 0.0f, 1.0f);

                float v =
                    ridge[at] + (0.3f + 0.4f * d.dryness) * fine.at(x, y) + 0.2f * breaks.at(x, y);
                float t = 0.72f - 0.95f * press + 0.5f * d.dryness;
                // Ridges are not perfectly continuous even on a good print; dryness breaks
                // them much more often.
                v -= (0.3f + 1.4f * d.dryness) * std::max(0.0f, breaks.at(x, y) - 0.2f);
                if (d.smudge > 0)
                    t -= d.smudge * (0.6f + 1.4f * std::max(0.0f, blotch.at(x, y)));
                // Sweat pores: small light dots on the ridges.
                const int pcx = x / kPoreCell, pcy = y / kPoreCell;
                const uint64_t ph = hash3(poreKey, pcx, pcy);
                if (unit(ph) < 0.35f) {
                    const float qx = static_cast<float>(pcx * kPoreCell) + 1.5f +
                                     unit(mix64(ph)) * (kPoreCell - 3);
                    const float qy = static_cast<float>(pcy * kPoreCell) + 1.5f +
                                     unit(mix64(ph + 1)) * (kPoreCell - 3);
                    const float dq = (x - qx) * (x - qx) + (y - qy) * (y - qy);
                    if (dq < 2.2f)
                        v -= 0.9f * (1.0f - dq / 2.2f);
                }
                const float ink =
                    smoothstep(t - 0.28f, t + 0.28f, v) * std::min(1.0f, 3.0f * contact);
                const float depth = (bg - ridgeGrey) * (0.8f + 0.2f * press);
                g -= depth * ink;
            }
            const uint64_t h = hash3(grainKey, x, y);
            g += grain * (unit(h) + unit(mix64(h)) - 1.0f) * 1.7f;
            if (d.noise > 0 && unit(mix64(h ^ 0x5bd1e995)) < 0.04f * d.noise)
                g = unit(mix64(h + 7)) < 0.5f ? g - 120.0f : g + 120.0f;
            pixels[at] = static_cast<unsigned char>(std::clamp(std::lround(g), 0L, 255L));
        }
    }
}

} // namespace
} // namespace fingergen

extern "C" int fg_render(unsigned seed, int finger, int width, int height, const fg_defects* d,
                         unsigned char* pixels) {
    if (!pixels)
        return FG_ERR_NULL;
    if (finger < 1 || finger > 10)
        return FG_ERR_FINGER;
    if (width < FG_MIN_SIDE || width > FG_MAX_SIDE || height < FG_MIN_SIDE || height > FG_MAX_SIDE)
        return FG_ERR_SIZE;
    fingergen::Defects def;
    if (d) {
        if (!fingergen::validStrength(d->low_contrast) || !fingergen::validStrength(d->noise) ||
            !fingergen::validStrength(d->dryness) || !fingergen::validStrength(d->smudge) ||
            !fingergen::validStrength(d->partial))
            return FG_ERR_DEFECT;
        def = {d->low_contrast, d->noise, d->dryness, d->smudge, d->partial};
    }
    try {
        fingergen::render(seed, finger, width, height, def, pixels);
    } catch (const std::bad_alloc&) {
        return FG_ERR_NOMEM;
    }
    return FG_OK;
}

extern "C" int fg_pattern_class(unsigned seed, int finger) {
    if (finger < 1 || finger > 10)
        return FG_ERR_FINGER;
    return fingergen::choosePatternClass(seed, finger);
}

extern "C" const char* fg_strerror(int code) {
    switch (code) {
    case FG_OK:
        return "success";
    case FG_ERR_NULL:
        return "null pixel buffer";
    case FG_ERR_FINGER:
        return "finger must be 1..10";
    case FG_ERR_SIZE:
        return "image side out of range";
    case FG_ERR_DEFECT:
        return "defect strength must be a number in 0..1";
    case FG_ERR_NOMEM:
        return "out of memory";
    default:
        return "unknown error";
    }
}
