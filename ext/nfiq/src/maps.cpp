// Block maps of the detector: ridge-flow direction by a directional DFT, low contrast, low
// flow, the direction clean-up and high curvature, following NIST's LFS version 2.
#include "lfs.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace lfs {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kMinPowerSum = 10.0;
constexpr int kImg6BitLimit = 64;

// Rotated sampling grids: for each direction, windowsize × windowsize pixel offsets stored
// row by row (one row of the grid runs along the candidate ridge direction). The offsets
// index a small copy of the window and the margin its rotated grids reach beyond it, so
// that all reads of one window stay within a few cache lines.
struct RotGrids {
    int size = 0;
    int margin = 0; // pixels the grids reach beyond the window on any side
    int stride = 0; // row length of the window copy: size + 2 · margin
    std::vector<std::vector<uint16_t>> offsets; // [direction][j * size + i]
    std::vector<std::vector<int>> xs, ys;       // the same points relative to the window
    // quarter[d]: the grid of direction d + n/2 (a quarter turn on) samples the same pixels
    // as the grid of d, its row j being column size-1-j of d's grid. True for nearly every
    // d; rounding ties at exact half pixels can break it, so it is checked point by point.
    std::vector<bool> quarter;
};

RotGrids make_dft_grids(const Params& p) {
    RotGrids g;
    const int n = g.size = p.windowsize;
    const double c = (n - 1) / 2.0;
    auto& xs = g.xs;
    auto& ys = g.ys;
    xs.resize(p.num_directions);
    ys.resize(p.num_directions);
    for (int d = 0; d < p.num_directions; ++d) {
        const double theta = p.start_dir_angle + d * (kPi / p.num_directions);
        const double cs = std::cos(theta), sn = std::sin(theta);
        for (int j = 0; j < n; ++j) {
            for (int i = 0; i < n; ++i) {
                const double fx = c + (i - c) * cs - (j - c) * sn;
                const double fy = c + (i - c) * sn + (j - c) * cs;
                xs[d].push_back(sround(trunc_prec(fx)));
                ys[d].push_back(sround(trunc_prec(fy)));
                g.margin = std::max({g.margin, -xs[d].back(), -ys[d].back(), xs[d].back() - (n - 1),
                                     ys[d].back() - (n - 1)});
            }
        }
    }
    g.stride = n + 2 * g.margin;
    g.offsets.resize(p.num_directions);
    for (int d = 0; d < p.num_directions; ++d)
        for (size_t k = 0; k < xs[d].size(); ++k)
            g.offsets[d].push_back(
                static_cast<uint16_t>((ys[d][k] + g.margin) * g.stride + xs[d][k] + g.margin));
    const int half = p.num_directions / 2;
    g.quarter.assign(p.num_directions, false);
    for (int d = 0; d < half; ++d) {
        bool same = true;
        for (int j = 0; j < n && same; ++j)
            for (int i = 0; i < n && same; ++i)
                same = g.offsets[d + half][j * n + i] == g.offsets[d][i * n + (n - 1 - j)];
        g.quarter[d] = same;
    }
    return g;
}

// Origin of each block, and of its analysis window, along one axis (unpadded coordinates).
struct Axis {
    std::vector<int> block, window;
};

Axis block_axis(int len, const Params& p) {
    Axis a;
    const int n = (len + p.blocksize - 1) / p.blocksize;
    const int max_win = std::max(0, len - p.windowsize - 1);
    for (int b = 0; b < n; ++b) {
        const int origin = b == n - 1 ? std::max(0, len - p.blocksize) : b * p.blocksize;
        a.block.push_back(origin);
        a.window.push_back(std::clamp(origin - p.windowoffset, 0, max_win));
    }
    return a;
}

using Histogram = std::array<int, kImg6BitLimit>;

// Adds the 6-bit values of a w × h rectangle to hist. Four partial histograms keep runs of
// equal pixels from chaining their increments.
void add_histogram(const uint8_t* px, int stride, int w, int h, Histogram& hist) {
    int part[4][kImg6BitLimit] = {};
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = px + static_cast<size_t>(y) * stride;
        for (int x = 0; x < w; ++x)
            ++part[x & 3][row[x] & (kImg6BitLimit - 1)];
    }
    for (int v = 0; v < kImg6BitLimit; ++v)
        hist[v] += part[0][v] + part[1][v] + part[2][v] + part[3][v];
}

// A window is low contrast when the spread between its lower and upper 10th percentile
// grey levels is below the limit.
bool low_contrast(const Histogram& hist, const Params& p) {
    const int n = p.windowsize * p.windowsize;
    const int t = sround(trunc_prec(p.percentile_min_max / 100.0 * (n - 1)));
    int lo = 0, hi = kImg6BitLimit - 1, acc = 0;
    for (int v = 0; v < kImg6BitLimit; ++v) {
        acc += hist[v];
        if (acc >= t) {
            lo = v;
            break;
        }
    }
    acc = 0;
    for (int v = kImg6BitLimit - 1; v >= 0; --v) {
        acc += hist[v];
        if (acc >= t) {
            hi = v;
            break;
        }
    }
    return hi - lo < p.min_contrast_delta;
}

struct DftTables {
    int waves = 0, size = 0;
    std::vector<double> cos, sin; // [j][wave], four waves
};

DftTables make_dft_tables(const Params& p) {
    DftTables t;
    t.waves = p.num_dft_waves;
    t.size = p.windowsize;
    t.cos.resize(static_cast<size_t>(t.waves) * t.size);
    t.sin.resize(t.cos.size());
    for (int k = 0; k < t.waves; ++k) {
        const double freq = 2.0 * kPi * (k + 1) / t.size; // coefficients 1, 2, 3, 4
        for (int j = 0; j < t.size; ++j) {
            t.cos[j * 4 + k] = std::cos(freq * j);
            t.sin[j * 4 + k] = std::sin(freq * j);
        }
    }
    return t;
}

using RowSums = std::array<std::array<int, 24>, 16>; // [direction][grid row]

// Sums of the rotated grid rows of every direction for one window. win is the window copy
// the grid offsets index (window plus margin). Where a quarter turn maps the grid onto
// itself, one pass over the pixels gives both directions (rows and columns).
void grid_row_sums(const uint8_t* win, const RotGrids& g, int nd, RowSums& rows) {
    const int n = g.size, half = nd / 2;
    int vals[24 * 24];
    for (int d = 0; d < nd; ++d) {
        if (d >= half && g.quarter[d - half])
            continue; // filled in with its partner below
        const uint16_t* off = g.offsets[d].data();
        for (int k = 0; k < n * n; ++k)
            vals[k] = win[off[k]];
        for (int j = 0; j < n; ++j) {
            int sum = 0;
            for (int i = 0; i < n; ++i)
                sum += vals[j * n + i];
            rows[d][j] = sum;
        }
        if (d < half && g.quarter[d]) {
            int cols[24] = {};
            for (int j = 0; j < n; ++j)
                for (int i = 0; i < n; ++i)
                    cols[i] += vals[j * n + i];
            for (int j = 0; j < n; ++j)
                rows[d + half][j] = cols[n - 1 - j];
        }
    }
}

using Powers = std::array<std::array<double, 16>, 4>; // [wave][direction]

// DFT power of every wave and direction from the grid row sums. The four waves accumulate
// side by side; each sum still runs over j in order, as products added one at a time
// (never fused), so every variant gives the same bits as one wave at a time.
void dft_powers_plain(const RowSums& rows, const DftTables& t, int nd, Powers& power) {
    for (int d = 0; d < nd; ++d) {
        double cs[4] = {}, sn[4] = {};
        for (int j = 0; j < t.size; ++j) {
            for (int k = 0; k < 4; ++k) {
                const double v = rows[d][j];
                cs[k] += v * t.cos[j * 4 + k];
                sn[k] += v * t.sin[j * 4 + k];
            }
        }
        for (int k = 0; k < 4; ++k)
            power[k][d] = cs[k] * cs[k] + sn[k] * sn[k];
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
#define NFIQ_HAVE_AVX_VARIANT 1
// The same with the four waves in one 256-bit register, for processors that have AVX.
__attribute__((target("avx"))) void dft_powers_avx(const RowSums& rows, const DftTables& t, int nd,
                                                   Powers& power) {
    // Four directions side by side: their sums are independent, so the additions of one
    // overlap those of the others instead of waiting on each other.
    int d = 0;
    for (; d + 4 <= nd; d += 4) {
        __m256d cs[4], sn[4];
        for (int q = 0; q < 4; ++q)
            cs[q] = sn[q] = _mm256_setzero_pd();
        for (int j = 0; j < t.size; ++j) {
            const __m256d c = _mm256_loadu_pd(&t.cos[j * 4]);
            const __m256d s = _mm256_loadu_pd(&t.sin[j * 4]);
            for (int q = 0; q < 4; ++q) {
                const __m256d v = _mm256_set1_pd(rows[d + q][j]);
                cs[q] = _mm256_add_pd(cs[q], _mm256_mul_pd(v, c));
                sn[q] = _mm256_add_pd(sn[q], _mm256_mul_pd(v, s));
            }
        }
        for (int q = 0; q < 4; ++q) {
            alignas(32) double out[4];
            _mm256_store_pd(
                out, _mm256_add_pd(_mm256_mul_pd(cs[q], cs[q]), _mm256_mul_pd(sn[q], sn[q])));
            for (int k = 0; k < 4; ++k)
                power[k][d + q] = out[k];
        }
    }
    for (; d < nd; ++d) {
        __m256d cs = _mm256_setzero_pd(), sn = _mm256_setzero_pd();
        for (int j = 0; j < t.size; ++j) {
            const __m256d v = _mm256_set1_pd(rows[d][j]);
            cs = _mm256_add_pd(cs, _mm256_mul_pd(v, _mm256_loadu_pd(&t.cos[j * 4])));
            sn = _mm256_add_pd(sn, _mm256_mul_pd(v, _mm256_loadu_pd(&t.sin[j * 4])));
        }
        alignas(32) double out[4];
        _mm256_store_pd(out, _mm256_add_pd(_mm256_mul_pd(cs, cs), _mm256_mul_pd(sn, sn)));
        for (int k = 0; k < 4; ++k)
            power[k][d] = out[k];
    }
}
#endif

using DftPowersFn = void (*)(const RowSums&, const DftTables&, int, Powers&);

DftPowersFn pick_dft_powers() {
#ifdef NFIQ_HAVE_AVX_VARIANT
    if (__builtin_cpu_supports("avx"))
        return dft_powers_avx;
#endif
    return dft_powers_plain;
}

// Direction of one window from its grid row sums, or kInvalidDir when neither the primary
// nor the fork test accepts one.
int dft_direction(const RowSums& rows, const DftTables& t, const Params& p, DftPowersFn powers) {
    const int nd = p.num_directions;
    Powers power{};
    powers(rows, t, nd, power);
    // Waves 1..3 (frequencies 2, 3, 4) compete; wave 0 is the low-frequency check.
    struct Wave {
        int k, dir;
        double powmax, pownorm;
    };
    std::array<Wave, 3> w{};
    for (int k = 1; k < t.waves; ++k) {
        Wave& v = w[k - 1];
        v.k = k;
        v.dir = 0;
        v.powmax = power[k][0];
        double sum = power[k][0];
        for (int d = 1; d < nd; ++d) {
            sum += power[k][d];
            if (power[k][d] > v.powmax) {
                v.powmax = power[k][d];
                v.dir = d;
            }
        }
        sum = std::max(sum, kMinPowerSum);
        v.pownorm = v.powmax / (sum / nd);
    }
    std::stable_sort(w.begin(), w.end(), [](const Wave& a, const Wave& b) {
        return a.powmax * a.pownorm > b.powmax * b.pownorm;
    });
    for (const Wave& v : w) {
        if (v.powmax > p.powmax_min && v.pownorm > p.pownorm_min && power[0][v.dir] <= p.powmax_max)
            return v.dir;
    }
    const Wave& v = w[0];
    if (v.powmax > p.powmax_min && v.pownorm >= p.fork_pct_pownorm * p.pownorm_min &&
        power[0][v.dir] <= p.powmax_max) {
        const int l = (v.dir - p.fork_interval + nd) % nd;
        const int r = (v.dir + p.fork_interval) % nd;
        const double thresh = p.fork_pct_powmax * v.powmax;
        const bool lo = power[v.k][l] > thresh, hi = power[v.k][r] > thresh;
        if (lo != hi)
            return v.dir;
    }
    return kInvalidDir;
}

// Grid row sums for a run of windows whose origins lie on the block lattice of one block
// row, computed side by side. With the padded image split into blocksize planes by x modulo
// blocksize, the pixel one grid point reads in consecutive lattice windows lies in
// consecutive bytes of one plane row, so each grid point costs one short vector add.
class LatticeRowSums {
  public:
    static constexpr int kRun = 16;

    LatticeRowSums(const PaddedImage& img, const RotGrids& g, int nd, int bs)
        : n_(g.size), nd_(nd), pad_(img.pad), h_(img.h), wq_((img.w + bs - 1) / bs + kRun),
          planes_(static_cast<size_t>(bs) * h_ * wq_, 0), base_(nd) {
        for (int r = 0; r < bs; ++r) {
            for (int y = 0; y < img.h; ++y) {
                const uint8_t* src = img.px.data() + static_cast<size_t>(y) * img.w;
                uint8_t* dst = planes_.data() + (static_cast<size_t>(r) * h_ + y) * wq_;
                for (int x = r, q = 0; x < img.w; x += bs, ++q)
                    dst[q] = src[x] & (kImg6BitLimit - 1); // 6-bit, as the sums rely on
            }
        }
        for (int d = 0; d < nd; ++d) {
            for (int k = 0; k < n_ * n_; ++k) {
                const int a = pad_ + g.xs[d][k]; // >= 0: the margin fits in the padding
                base_[d].push_back((static_cast<ptrdiff_t>(a % bs) * h_ + pad_ + g.ys[d][k]) * wq_ +
                                   a / bs);
            }
        }
    }

    // rows[kk] for the lattice windows k0 + kk, kk < kRun, of the block row whose windows
    // start at unpadded y = wy. Lattice window k starts at unpadded x = k · blocksize.
    void compute(int wy, int k0, RowSums* rows) const {
        const uint8_t* origin = planes_.data() + static_cast<ptrdiff_t>(wy) * wq_ + k0;
        for (int d = 0; d < nd_; ++d) {
            const ptrdiff_t* base = base_[d].data();
            for (int j = 0; j < n_; ++j) {
                uint16_t acc[kRun]; // at most 24 · 63: fits
#ifdef __SSE2__
                __m128i lo = _mm_setzero_si128(), hi = _mm_setzero_si128();
                const __m128i zero = _mm_setzero_si128();
                auto load = [&](int i) {
                    return _mm_loadu_si128(
                        reinterpret_cast<const __m128i*>(origin + base[j * n_ + i]));
                };
                // Pixels are 6-bit, so four of them add up within a byte: bytes are summed
                // in fours and widened once per four.
                int i = 0;
                for (; i + 4 <= n_; i += 4) {
                    const __m128i v = _mm_add_epi8(_mm_add_epi8(load(i), load(i + 1)),
                                                   _mm_add_epi8(load(i + 2), load(i + 3)));
                    lo = _mm_add_epi16(lo, _mm_unpacklo_epi8(v, zero));
                    hi = _mm_add_epi16(hi, _mm_unpackhi_epi8(v, zero));
                }
                for (; i < n_; ++i) {
                    const __m128i v = load(i);
                    lo = _mm_add_epi16(lo, _mm_unpacklo_epi8(v, zero));
                    hi = _mm_add_epi16(hi, _mm_unpackhi_epi8(v, zero));
                }
                _mm_storeu_si128(reinterpret_cast<__m128i*>(acc), lo);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(acc + 8), hi);
#else
                std::fill_n(acc, kRun, uint16_t{0});
                for (int i = 0; i < n_; ++i) {
                    const uint8_t* src = origin + base[j * n_ + i];
                    for (int kk = 0; kk < kRun; ++kk)
                        acc[kk] = static_cast<uint16_t>(acc[kk] + src[kk]);
                }
#endif
                for (int kk = 0; kk < kRun; ++kk)
                    rows[kk][d][j] = acc[kk];
            }
        }
    }

  private:
    int n_, nd_, pad_, h_, wq_;
    std::vector<uint8_t> planes_;              // [x mod bs][y][x / bs], kRun spare columns
    std::vector<std::vector<ptrdiff_t>> base_; // [direction][grid point] plane offsets
};

// Closing of a TRUE/FALSE block map: dilate twice, erode twice (4-neighbourhood).
void close_map(std::vector<int>& m, int mw, int mh) {
    auto pass = [&](bool dilate) {
        std::vector<int> out = m;
        for (int y = 0; y < mh; ++y) {
            for (int x = 0; x < mw; ++x) {
                const int i = y * mw + x;
                // Outside the map counts as FALSE for dilation and TRUE for erosion.
                const int outside = dilate ? 0 : 1;
                const int n[4] = {x > 0 ? m[i - 1] : outside, x < mw - 1 ? m[i + 1] : outside,
                                  y > 0 ? m[i - mw] : outside, y < mh - 1 ? m[i + mw] : outside};
                if (dilate && !m[i])
                    out[i] = n[0] || n[1] || n[2] || n[3];
                if (!dilate && m[i])
                    out[i] = n[0] && n[1] && n[2] && n[3];
            }
        }
        m.swap(out);
    };
    pass(true);
    pass(true);
    pass(false);
    pass(false);
}

// Unit vectors of the doubled direction angles, rounded like NIST's tables.
struct DirVectors {
    std::vector<double> cos, sin;
    explicit DirVectors(int nd) : cos(nd), sin(nd) {
        for (int d = 0; d < nd; ++d) {
            const double theta = d * (2.0 * kPi / nd);
            cos[d] = trunc_prec(std::cos(theta));
            sin[d] = trunc_prec(std::sin(theta));
        }
    }
};

struct Average {
    int dir = kInvalidDir;
    double strength = 0.0;
    int nvalid = 0;
};

class Cleaner {
  public:
    Cleaner(Maps& m, const Params& p) : m_(m), p_(p), vec_(p.num_directions) {}

    Average average(int bx, int by) const {
        Average a;
        double cs = 0.0, sn = 0.0;
        for (int y = by - 1; y <= by + 1; ++y) {
            for (int x = bx - 1; x <= bx + 1; ++x) {
                if ((x == bx && y == by) || x < 0 || y < 0 || x >= m_.mw || y >= m_.mh)
                    continue;
                const int d = m_.direction[y * m_.mw + x];
                if (d == kInvalidDir)
                    continue;
                cs += vec_.cos[d];
                sn += vec_.sin[d];
                ++a.nvalid;
            }
        }
        if (a.nvalid == 0)
            return a;
        cs /= a.nvalid;
        sn /= a.nvalid;
        a.strength = trunc_prec(cs * cs + sn * sn);
        if (a.strength < p_.dir_strength_min)
            return a;
        double theta = std::atan2(sn, cs);
        if (theta < 0.0)
            theta += 2.0 * kPi;
        const double pi_factor = 2.0 * kPi / p_.num_directions;
        a.dir = sround(trunc_prec(theta / pi_factor)) % p_.num_directions;
        return a;
    }

    int circ_dist(int a, int b) const {
        const int d = std::abs(a - b);
        return std::min(d, p_.num_directions - d);
    }

    // Returns true if the block was removed.
    bool test_inconsistent(int x, int y) {
        int& d = m_.direction[y * m_.mw + x];
        if (d == kInvalidDir)
            return false;
        const Average a = average(x, y);
        if (a.nvalid < p_.rmv_valid_nbr_min) {
            d = kInvalidDir;
            return true;
        }
        if (a.strength >= p_.dir_strength_min && a.dir != kInvalidDir &&
            circ_dist(d, a.dir) > p_.dir_distance_max) {
            d = kInvalidDir;
            return true;
        }
        return false;
    }

    // Rings around the centre block, in NIST's visiting order.
    int remove_pass() {
        const int mw = m_.mw, mh = m_.mh;
        const int cx = mw / 2, cy = mh / 2;
        int removed = test_inconsistent(cx, cy);
        for (int n = 1;; ++n) {
            const int l = cx - n, t = cy - n, r = cx + n, b = cy + n;
            if (!(l >= 0 || t >= 0 || r < mw || b < mh))
                break;
            if (t >= 0)
                for (int x = std::max(l, 0); x <= std::min(r - 1, mw - 1); ++x)
                    removed += test_inconsistent(x, t);
            if (r < mw)
                for (int y = std::max(t, 0); y <= std::min(b - 1, mh - 1); ++y)
                    removed += test_inconsistent(r, y);
            if (b < mh)
                for (int x = std::min(r, mw - 1); x >= std::max(l - 1, 0); --x)
                    removed += test_inconsistent(x, b);
            if (l >= 0)
                for (int y = std::min(b, mh - 1); y >= std::max(t - 1, 0); --y)
                    removed += test_inconsistent(l, y);
        }
        return removed;
    }

    void remove_inconsistent() {
        while (remove_pass() > 0) {
        }
    }

    void smooth() {
        for (int y = 0; y < m_.mh; ++y) {
            for (int x = 0; x < m_.mw; ++x) {
                const int i = y * m_.mw + x;
                if (m_.low_contrast[i])
                    continue;
                const Average a = average(x, y);
                if (a.dir == kInvalidDir || a.strength < p_.dir_strength_min)
                    continue;
                int& d = m_.direction[i];
                if (d != kInvalidDir ? a.nvalid >= p_.rmv_valid_nbr_min
                                     : a.nvalid >= p_.smth_valid_nbr_min)
                    d = a.dir;
            }
        }
    }

    void interpolate() {
        const int mw = m_.mw, mh = m_.mh;
        std::vector<int> out = m_.direction;
        static constexpr int kSteps[4][2] = {{0, -1}, {1, 0}, {0, 1}, {-1, 0}};
        for (int y = 0; y < mh; ++y) {
            for (int x = 0; x < mw; ++x) {
                const int i = y * mw + x;
                if (m_.low_contrast[i] || m_.direction[i] != kInvalidDir)
                    continue;
                int dirs[4], dists[4], found = 0;
                for (const auto& s : kSteps) {
                    for (int k = 1;; ++k) {
                        const int nx = x + s[0] * k, ny = y + s[1] * k;
                        if (nx < 0 || ny < 0 || nx >= mw || ny >= mh)
                            break;
                        const int n = ny * mw + nx;
                        if (m_.low_contrast[n])
                            break;
                        if (m_.direction[n] != kInvalidDir) {
                            dirs[found] = m_.direction[n];
                            dists[found] = k;
                            ++found;
                            break;
                        }
                    }
                }
                if (found < p_.min_interpolate_nbrs)
                    continue;
                int total = 0;
                for (int k = 0; k < found; ++k)
                    total += dists[k];
                int denom = 0;
                for (int k = 0; k < found; ++k)
                    denom += total - dists[k];
                double avg = 0.0;
                for (int k = 0; k < found; ++k)
                    avg += dirs[k] * (static_cast<double>(total - dists[k]) / denom);
                out[i] = sround(trunc_prec(avg)) % p_.num_directions;
            }
        }
        m_.direction.swap(out);
    }

    void clear_border() {
        for (int x = 0; x < m_.mw; ++x) {
            m_.direction[x] = kInvalidDir;
            m_.direction[(m_.mh - 1) * m_.mw + x] = kInvalidDir;
        }
        for (int y = 0; y < m_.mh; ++y) {
            m_.direction[y * m_.mw] = kInvalidDir;
            m_.direction[y * m_.mw + m_.mw - 1] = kInvalidDir;
        }
    }

  private:
    Maps& m_;
    const Params& p_;
    DirVectors vec_;
};

void high_curvature(Maps& m, const Params& p) {
    const int mw = m.mw, mh = m.mh, nd = p.num_directions;
    // Ring of the 8 neighbours, clockwise from north-west.
    static constexpr int kRing[8][2] = {{-1, -1}, {0, -1}, {1, -1}, {1, 0},
                                        {1, 1},   {0, 1},  {-1, 1}, {-1, 0}};
    m.high_curve.assign(static_cast<size_t>(mw) * mh, 0);
    for (int y = 0; y < mh; ++y) {
        for (int x = 0; x < mw; ++x) {
            int nbr[8], nvalid = 0;
            for (int k = 0; k < 8; ++k) {
                const int nx = x + kRing[k][0], ny = y + kRing[k][1];
                nbr[k] = (nx < 0 || ny < 0 || nx >= mw || ny >= mh) ? kInvalidDir
                                                                    : m.direction[ny * mw + nx];
                nvalid += nbr[k] != kInvalidDir;
            }
            if (nvalid == 0)
                continue;
            const int d = m.direction[y * mw + x];
            if (d == kInvalidDir) {
                if (nvalid < p.vort_valid_nbr_min)
                    continue;
                int vort = 0;
                for (int k = 0; k < 8; ++k) {
                    const int a = nbr[k], b = nbr[(k + 1) % 8];
                    if (a == kInvalidDir || b == kInvalidDir || a == b)
                        continue;
                    vort += ((b - a + nd) % nd) <= nd / 2 ? 1 : -1;
                }
                m.high_curve[y * mw + x] = vort >= p.highcurv_vorticity_min;
            } else {
                int curv = 0;
                for (int k = 0; k < 8; ++k) {
                    if (nbr[k] == kInvalidDir)
                        continue;
                    const int diff = std::abs(d - nbr[k]);
                    curv = std::max(curv, std::min(diff, nd - diff));
                }
                m.high_curve[y * mw + x] = curv >= p.highcurv_curvature_min;
            }
        }
    }
}

} // namespace

Maps make_maps(const PaddedImage& img, const Params& p) {
    Maps m;
    m.iw = img.iw();
    m.ih = img.ih();
    m.mw = (m.iw + p.blocksize - 1) / p.blocksize;
    m.mh = (m.ih + p.blocksize - 1) / p.blocksize;
    const size_t n = static_cast<size_t>(m.mw) * m.mh;
    m.direction.assign(n, kInvalidDir);
    m.low_contrast.assign(n, 0);
    m.low_flow.assign(n, 0);
    m.high_curve.assign(n, 0);
    // The DFT works on fixed-size arrays: at most 16 directions, 24-pixel windows, 4 waves.
    const bool supported = p.num_directions <= 16 && p.num_directions % 2 == 0 &&
                           p.windowsize <= 24 && p.num_dft_waves == 4;
    if (!supported || m.iw < p.windowsize + 1 || m.ih < p.windowsize + 1) {
        m.low_contrast.assign(n, 1);
        return m;
    }

    const RotGrids grids = make_dft_grids(p);
    // The padding is sized so that the rotated grids of every window stay inside it.
    if (grids.margin > img.pad) {
        m.low_contrast.assign(n, 1);
        return m;
    }
    std::vector<uint8_t> local(static_cast<size_t>(grids.stride) * grids.stride);
    const DftTables tables = make_dft_tables(p);
    static const DftPowersFn dft_powers = pick_dft_powers();
    const Axis ax = block_axis(m.iw, p), ay = block_axis(m.ih, p);
    // Windows of one block row mostly start on block boundaries: their histograms are
    // sums of histograms of block-wide strips, and their grid row sums are computed side
    // by side, both once per block row (the row sums only for runs that are needed).
    const int sw = p.blocksize;
    const int per_window = p.windowsize % sw == 0 ? p.windowsize / sw : 0;
    const int nstrips = m.iw / sw;
    std::vector<Histogram> strips(nstrips);
    // Histograms of the whole sw × sw cells of the image; a strip of a block row whose
    // windows start on a cell boundary is the sum of per_window of them.
    const int ncells_y = m.ih / sw;
    std::vector<std::array<uint8_t, kImg6BitLimit>> cells(static_cast<size_t>(nstrips) * ncells_y);
    for (int cy = 0; cy < ncells_y && per_window; ++cy) {
        for (int cx = 0; cx < nstrips; ++cx) {
            // Four partial counts keep runs of equal pixels from chaining their increments.
            uint8_t part[4][kImg6BitLimit] = {};
            for (int y = cy * sw; y < cy * sw + sw; ++y) {
                const uint8_t* src =
                    img.px.data() + static_cast<size_t>(y + img.pad) * img.w + img.pad + cx * sw;
                for (int x = 0; x < sw; ++x)
                    ++part[x & 3][src[x] & (kImg6BitLimit - 1)];
            }
            auto& cell = cells[static_cast<size_t>(cy) * nstrips + cx];
            for (int v = 0; v < kImg6BitLimit; ++v)
                cell[v] = static_cast<uint8_t>(part[0][v] + part[1][v] + part[2][v] + part[3][v]);
        }
    }
    const LatticeRowSums lattice(img, grids, p.num_directions, sw);
    const int nlattice = (m.iw - p.windowsize - 1) / sw + 1; // windows at x = 0, sw, ...
    const int nruns = (nlattice + LatticeRowSums::kRun - 1) / LatticeRowSums::kRun;
    std::vector<RowSums> lattice_sums(static_cast<size_t>(nruns) * LatticeRowSums::kRun);
    std::vector<bool> run_done(nruns);
    RowSums rows;
    for (int by = 0; by < m.mh; ++by) {
        const int wy = ay.window[by];
        const uint8_t* row = img.px.data() + static_cast<size_t>(wy + img.pad) * img.w + img.pad;
        const bool on_cells = wy % sw == 0 && wy / sw + per_window <= ncells_y;
        for (int k = 0; k < nstrips && per_window; ++k) {
            strips[k].fill(0);
            if (on_cells) {
                for (int c = wy / sw; c < wy / sw + per_window; ++c) {
                    const auto& cell = cells[static_cast<size_t>(c) * nstrips + k];
                    for (int v = 0; v < kImg6BitLimit; ++v)
                        strips[k][v] += cell[v];
                }
            } else {
                add_histogram(row + k * sw, img.w, sw, p.windowsize, strips[k]);
            }
        }
        run_done.assign(nruns, false);
        for (int bx = 0; bx < m.mw; ++bx) {
            const int i = by * m.mw + bx;
            const int wx = ax.window[bx];
            const uint8_t* win = row + wx;
            Histogram hist{};
            if (per_window && wx % sw == 0 && wx / sw + per_window <= nstrips) {
                for (int k = wx / sw; k < wx / sw + per_window; ++k)
                    for (int v = 0; v < kImg6BitLimit; ++v)
                        hist[v] += strips[k][v];
            } else {
                add_histogram(win, img.w, p.windowsize, p.windowsize, hist);
            }
            if (low_contrast(hist, p)) {
                m.low_contrast[i] = 1;
                continue;
            }
            const RowSums* sums = &rows;
            if (wx % sw == 0 && wx / sw < nlattice) {
                const int run = wx / sw / LatticeRowSums::kRun;
                const int k0 = run * LatticeRowSums::kRun;
                if (!run_done[run]) {
                    lattice.compute(wy, k0, &lattice_sums[k0]);
                    run_done[run] = true;
                }
                sums = &lattice_sums[wx / sw];
            } else {
                const uint8_t* src =
                    win - static_cast<ptrdiff_t>(grids.margin) * img.w - grids.margin;
                for (int r = 0; r < grids.stride; ++r)
                    std::copy_n(src + static_cast<size_t>(r) * img.w, grids.stride,
                                local.begin() + static_cast<ptrdiff_t>(r) * grids.stride);
                grid_row_sums(local.data(), grids, p.num_directions, rows);
            }
            m.direction[i] = dft_direction(*sums, tables, p, dft_powers);
            if (m.direction[i] == kInvalidDir)
                m.low_flow[i] = 1;
        }
    }
    close_map(m.low_flow, m.mw, m.mh);

    Cleaner c(m, p);
    c.remove_inconsistent();
    c.smooth();
    c.interpolate();
    c.remove_inconsistent();
    c.smooth();
    c.clear_border();
    high_curvature(m, p);
    return m;
}

} // namespace lfs
