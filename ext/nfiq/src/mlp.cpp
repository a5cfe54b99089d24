// Z-normalisation and NIST's 11-22-5 network, evaluated in single precision like NIST's
// classifier: biases first, then the weighted inputs accumulated in input order.
#include "mlp_weights.h"
#include "nfiq_core.h"

#include <cmath>

namespace nfiq {
namespace {

constexpr float kMean[kFeatures] = {2881.918457f, 119.406013f, 42.890446f, 42.011002f,
                                    33.318542f,   18.573952f,  5.602001f,  0.122406f,
                                    0.206616f,    0.223217f,   0.447761f};
constexpr float kStd[kFeatures] = {1.522167e+03f, 6.759113e+01f, 2.685183e+01f, 2.699416e+01f,
                                   2.686451e+01f, 2.199553e+01f, 1.067551e+01f, 5.670758e-02f,
                                   9.548551e-02f, 7.412220e-02f, 1.551811e-01f};

// NIST's "sinusoid" activation, close to the logistic function near 0.
float sinusoid(float s) {
    return static_cast<float>(0.5 * (1.0 + std::sin(0.5 * s)));
}

} // namespace

Features znormalize(const Features& f) {
    Features z{};
    for (int i = 0; i < kFeatures; ++i)
        z[i] = (f[i] - kMean[i]) / kStd[i];
    return z;
}

NetOutput classify(const Features& raw) {
    using namespace detail;
    const Features z = znormalize(raw);
    float hidden[22];
    for (int j = 0; j < 22; ++j) {
        float sum = 0.0f;
        for (int i = 0; i < kFeatures; ++i)
            sum += kW1[j][i] * z[i];
        hidden[j] = sinusoid(kB1[j] + sum);
    }
    NetOutput out;
    for (int k = 0; k < 5; ++k) {
        float sum = 0.0f;
        for (int j = 0; j < 22; ++j)
            sum += kW2[k][j] * hidden[j];
        out.outputs[k] = sinusoid(kB2[k] + sum);
    }
    int best = 0;
    for (int k = 1; k < 5; ++k)
        if (out.outputs[k] > out.outputs[best])
            best = k;
    out.score = best + 1;
    out.confidence = out.outputs[best];
    return out;
}

} // namespace nfiq
