#include "print_measures.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

namespace fgtest {

namespace {

using cd = std::complex<double>;

void fft(std::vector<cd>& a) {
    const size_t n = a.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(a[i], a[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        const double ang = -2.0 * std::numbers::pi / static_cast<double>(len);
        const cd wl(std::cos(ang), std::sin(ang));
        for (size_t i = 0; i < n; i += len) {
            cd w(1);
            for (size_t k = 0; k < len / 2; ++k) {
                const cd u = a[i + k], v = a[i + k + len / 2] * w;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
                w *= wl;
            }
        }
    }
}

// Radially summed power spectrum of a Hann-windowed, mean-free square window; index r
// holds the power at radius r (cycles per window).
std::vector<double> radialPower(const Image& win) {
    const int n = win.width;
    double mean = 0;
    for (unsigned char v : win.px)
        mean += v;
    mean /= static_cast<double>(win.px.size());
    std::vector<cd> g(static_cast<size_t>(n) * n);
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            const double hx = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * x / (n - 1));
            const double hy = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * y / (n - 1));
            g[static_cast<size_t>(y) * n + x] = (win.at(x, y) - mean) * hx * hy;
        }
    std::vector<cd> line(n);
    for (int y = 0; y < n; ++y) {
        std::copy_n(&g[static_cast<size_t>(y) * n], n, line.begin());
        fft(line);
        std::copy_n(line.begin(), n, &g[static_cast<size_t>(y) * n]);
    }
    for (int x = 0; x < n; ++x) {
        for (int y = 0; y < n; ++y)
            line[y] = g[static_cast<size_t>(y) * n + x];
        fft(line);
        for (int y = 0; y < n; ++y)
            g[static_cast<size_t>(y) * n + x] = line[y];
    }
    std::vector<double> radial(n, 0.0);
    for (int v = 0; v < n; ++v)
        for (int u = 0; u < n; ++u) {
            const int fu = u <= n / 2 ? u : u - n, fv = v <= n / 2 ? v : v - n;
            const int r = static_cast<int>(std::lround(std::hypot(fu, fv)));
            if (r < n)
                radial[r] += std::norm(g[static_cast<size_t>(v) * n + u]);
        }
    return radial;
}

} // namespace

Image crop(const Image& img, int cx, int cy, int n) {
    Image out{n, n, std::vector<unsigned char>(static_cast<size_t>(n) * n)};
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x)
            out.px[static_cast<size_t>(y) * n + x] = img.at(cx - n / 2 + x, cy - n / 2 + y);
    return out;
}

double ridgePeriod(const Image& win) {
    const std::vector<double> p = radialPower(win);
    const int n = win.width;
    // Only radii for periods between 4 and 20 pixels are considered.
    const int lo = n / 20, hi = n / 4;
    int best = lo;
    for (int r = lo; r <= hi; ++r)
        if (p[r] > p[best])
            best = r;
    const double a = p[best - 1], b = p[best], c = p[best + 1];
    const double denom = a - 2 * b + c;
    const double shift = denom != 0 ? 0.5 * (a - c) / denom : 0.0;
    return n / (best + shift);
}

double ridgeBandShare(const Image& win) {
    const std::vector<double> p = radialPower(win);
    const int n = win.width;
    double band = 0, total = 0;
    for (int r = 1; r < n; ++r) {
        total += p[r];
        const double period = static_cast<double>(n) / r;
        if (period >= 6 && period <= 14)
            band += p[r];
    }
    return total > 0 ? band / total : 0;
}

double noiseLevel(const Image& win) {
    std::vector<double> d;
    for (int y = 1; y < win.height - 1; ++y)
        for (int x = 1; x < win.width - 1; ++x)
            d.push_back(std::abs(win.at(x, y) - 0.25 * (win.at(x - 1, y) + win.at(x + 1, y) +
                                                        win.at(x, y - 1) + win.at(x, y + 1))));
    std::nth_element(d.begin(), d.begin() + static_cast<std::ptrdiff_t>(d.size() / 2), d.end());
    return d[d.size() / 2];
}

int percentile(const Image& win, double fraction) {
    std::vector<unsigned char> v = win.px;
    const size_t k = std::min(v.size() - 1, static_cast<size_t>(fraction * v.size()));
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k), v.end());
    return v[k];
}

double darkShare(const Image& win, int threshold) {
    size_t dark = 0;
    for (unsigned char v : win.px)
        dark += v < threshold;
    return static_cast<double>(dark) / static_cast<double>(win.px.size());
}

int darkComponents(const Image& win, int threshold) {
    const int w = win.width, h = win.height;
    std::vector<int> label(win.px.size(), 0);
    std::vector<int> stack;
    int count = 0;
    for (int start = 0; start < w * h; ++start) {
        if (label[start] || win.px[start] >= threshold)
            continue;
        int size = 0;
        label[start] = 1;
        stack.push_back(start);
        while (!stack.empty()) {
            const int p = stack.back();
            stack.pop_back();
            ++size;
            const int px = p % w, py = p / w;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const int qx = px + dx, qy = py + dy;
                    if (qx < 0 || qy < 0 || qx >= w || qy >= h)
                        continue;
                    const int q = qy * w + qx;
                    if (!label[q] && win.px[q] < threshold) {
                        label[q] = 1;
                        stack.push_back(q);
                    }
                }
        }
        if (size >= 4)
            ++count;
    }
    return count;
}

Minutiae countMinutiae(const Image& win, int threshold) {
    const int w = win.width, h = win.height;
    // 1 = ridge; a one-pixel white frame keeps the thinning inside the window.
    std::vector<unsigned char> s(static_cast<size_t>(w) * h, 0);
    for (int y = 1; y < h - 1; ++y)
        for (int x = 1; x < w - 1; ++x)
            s[static_cast<size_t>(y) * w + x] = win.at(x, y) < threshold;
    auto at = [&](int x, int y) { return static_cast<int>(s[static_cast<size_t>(y) * w + x]); };
    // Zhang-Suen thinning.
    std::vector<size_t> remove;
    for (bool changed = true; changed;) {
        changed = false;
        for (int pass = 0; pass < 2; ++pass) {
            remove.clear();
            for (int y = 1; y < h - 1; ++y)
                for (int x = 1; x < w - 1; ++x) {
                    if (!at(x, y))
                        continue;
                    const int n[8] = {at(x, y - 1),     at(x + 1, y - 1), at(x + 1, y),
                                      at(x + 1, y + 1), at(x, y + 1),     at(x - 1, y + 1),
                                      at(x - 1, y),     at(x - 1, y - 1)};
                    int b = 0, a = 0;
                    for (int k = 0; k < 8; ++k) {
                        b += n[k];
                        a += !n[k] && n[(k + 1) % 8];
                    }
                    if (b < 2 || b > 6 || a != 1)
                        continue;
                    if (pass == 0 && (n[0] * n[2] * n[4] || n[2] * n[4] * n[6]))
                        continue;
                    if (pass == 1 && (n[0] * n[2] * n[6] || n[0] * n[4] * n[6]))
                        continue;
                    remove.push_back(static_cast<size_t>(y) * w + x);
                }
            for (size_t p : remove)
                s[p] = 0;
            changed = changed || !remove.empty();
        }
    }
    // Crossing number away from the window's rim, where cut ridges would look like endings.
    Minutiae m;
    const int margin = 8;
    for (int y = margin; y < h - margin; ++y)
        for (int x = margin; x < w - margin; ++x) {
            if (!at(x, y))
                continue;
            const int n[8] = {at(x, y - 1), at(x + 1, y - 1), at(x + 1, y), at(x + 1, y + 1),
                              at(x, y + 1), at(x - 1, y + 1), at(x - 1, y), at(x - 1, y - 1)};
            int cn = 0;
            for (int k = 0; k < 8; ++k)
                cn += n[k] != n[(k + 1) % 8];
            cn /= 2;
            if (cn == 1)
                ++m.endings;
            else if (cn == 3)
                ++m.bifurcations;
        }
    return m;
}

} // namespace fgtest
