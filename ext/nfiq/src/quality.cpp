// Quality map and minutia reliability.
#include "internal.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace lfs {

std::vector<int> quality_map(const Maps& m) {
    constexpr int kDelta = 2; // neighbourhood radius and border width, in blocks
    std::vector<int> q(static_cast<size_t>(m.mw) * m.mh, 0);
    auto bad = [&](int i) { return m.low_contrast[i] || m.direction[i] == kInvalidDir; };
    auto weak = [&](int i) { return m.low_flow[i] || m.high_curve[i]; };
    for (int by = 0; by < m.mh; ++by) {
        for (int bx = 0; bx < m.mw; ++bx) {
            const int i = by * m.mw + bx;
            if (bad(i))
                continue; // level 0
            if (bx < kDelta || by < kDelta || bx > m.mw - 1 - kDelta || by > m.mh - 1 - kDelta) {
                q[i] = 1;
                continue;
            }
            int level = weak(i) ? 3 : 4;
            bool any_bad = false, any_weak = false;
            for (int y = by - kDelta; y <= by + kDelta; ++y) {
                for (int x = bx - kDelta; x <= bx + kDelta; ++x) {
                    const int n = y * m.mw + x;
                    any_bad = any_bad || bad(n);
                    any_weak = any_weak || weak(n);
                }
            }
            if (any_bad)
                level -= 2;
            else if (any_weak)
                level -= 1;
            q[i] = level;
        }
    }
    return q;
}

void assign_reliability(std::vector<Minutia>& minutiae, const std::vector<int>& qmap, const Maps& m,
                        const uint8_t* px, int w, int h, int ppi) {
    constexpr double kIdealStdev = 64.0, kIdealMean = 127.0;
    const double ppmm = ppi / 25.4;
    const int r = sround((11.0 / 19.69) * ppmm);
    for (Minutia& mn : minutiae) {
        double mean = 0.0, stdev = 0.0;
        if (mn.x >= r && mn.x <= w - r - 1 && mn.y >= r && mn.y <= h - r - 1) {
            long long sum = 0, sum2 = 0;
            for (int y = mn.y - r; y <= mn.y + r; ++y) {
                const uint8_t* row = px + static_cast<size_t>(y) * w;
                for (int x = mn.x - r; x <= mn.x + r; ++x) {
                    sum += row[x];
                    sum2 += row[x] * row[x];
                }
            }
            const double n = (2.0 * r + 1) * (2.0 * r + 1);
            mean = sum / n;
            stdev = std::sqrt(std::max(0.0, sum2 / n - mean * mean));
        }
        const double gs = std::min(stdev / kIdealStdev, 1.0);
        const double gm = 1.0 - std::fabs(mean - kIdealMean) / kIdealMean;
        const double g = std::min(gs, gm);
        const int x = std::clamp(mn.x, 0, w - 1), y = std::clamp(mn.y, 0, h - 1);
        switch (qmap[m.block_at(x, y)]) {
        case 4:
            mn.reliability = 0.50 + 0.49 * g;
            break;
        case 3:
            mn.reliability = 0.25 + 0.24 * g;
            break;
        case 2:
            mn.reliability = 0.10 + 0.14 * g;
            break;
        case 1:
            mn.reliability = 0.05 + 0.04 * g;
            break;
        default:
            mn.reliability = 0.01;
            break;
        }
    }
}

} // namespace lfs
