// NFIQ core and GBNFIQ library: network test vectors, status rules, agreement with NIST.
#include "GBNFIQ.h"
#include "nfiq_bmp.h"
#include "nfiq_core.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// NIST's results for two synthetic prints: the feature vector goes in, NIST's network
// outputs and class come out.
TEST(NfiqNetwork, ReproducesNistOutputs) {
    struct Case {
        nfiq::Features f;
        int score;
        float confidence;
        std::array<float, 5> outputs; // empty when not published
    };
    const Case cases[] = {
        {{1418, 18, 0, 0, 0, 0, 0, 0.033850f, 0.203103f, 0.060649f, 0.702398f},
         2,
         0.861988f,
         {0.051001f, 0.861988f, 0.314679f, 0.024084f, 0.267925f}},
        {{1418, 20, 1, 1, 1, 1, 1, 0.033145f, 0.204513f, 0.098025f, 0.664316f}, 2, 0.748746f, {}},
    };
    for (const Case& c : cases) {
        const nfiq::NetOutput out = nfiq::classify(c.f);
        EXPECT_EQ(out.score, c.score);
        EXPECT_NEAR(out.confidence, c.confidence, 5e-6);
        if (c.outputs[0] != 0.0f)
            for (int k = 0; k < 5; ++k)
                EXPECT_NEAR(out.outputs[k], c.outputs[k], 2e-6) << "output " << k;
    }
}

TEST(NfiqNetwork, ZNormalisationUsesNistStatistics) {
    const nfiq::Features z =
        nfiq::znormalize({1418, 18, 0, 0, 0, 0, 0, 0.033850f, 0.203103f, 0.060649f, 0.702398f});
    const float expected[11] = {-0.9617f, -1.5003f, -1.5973f, -1.5563f, -1.2402f, -0.8444f,
                                -0.5248f, -1.5616f, -0.0368f, -2.1932f, 1.6409f};
    for (int i = 0; i < 11; ++i)
        EXPECT_NEAR(z[i], expected[i], 1e-4) << "feature " << i + 1;
}

} // namespace
