// Minutia detection on the binary image (NIST's LFS version 2).
//
// Pairs of adjacent rows are scanned left to right (then pairs of adjacent columns top to
// bottom) for ten 3-step pixel-pair patterns that mark where a ridge or a valley starts or
// stops between the two lines. Each candidate gets a direction from its block (or, in
// high-curvature blocks, from the shape of its contour) and is merged into the list,
// discarding duplicates found by both scans.
#include "detector.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <cstdlib>
#include <numbers>

namespace lfs {

namespace {

using det::Bin;
using det::Contour;
using det::ContourPt;

enum Scan { kHorizontal = 0, kVertical = 1 };

constexpr int kLoopId = 10;
constexpr double kHighReliability = 0.99;
constexpr double kMediumReliability = 0.50;

struct Pattern {
    int type;
    int appearing;
    uint8_t first[2], second[2], third[2];
};

// (line 1, line 2) pixel pairs of each pattern; 1 = ridge.
constexpr Pattern kPatterns[10] = {
    {kRidgeEnding, 1, {0, 0}, {0, 1}, {0, 0}}, {kRidgeEnding, 0, {0, 0}, {1, 0}, {0, 0}},
    {kBifurcation, 0, {1, 1}, {0, 1}, {1, 1}}, {kBifurcation, 1, {1, 1}, {1, 0}, {1, 1}},
    {kBifurcation, 0, {1, 0}, {0, 1}, {1, 1}}, {kBifurcation, 0, {1, 1}, {0, 1}, {1, 0}},
    {kBifurcation, 1, {1, 1}, {1, 0}, {0, 1}}, {kBifurcation, 1, {0, 1}, {1, 0}, {1, 1}},
    {kBifurcation, 0, {1, 0}, {0, 1}, {1, 0}}, {kBifurcation, 1, {0, 1}, {1, 0}, {0, 1}},
};

// Pattern id of each (1st, 2nd, 3rd) pair, each pair coded as 2 · line 1 + line 2, or -1;
// the first pattern in the list wins.
constexpr std::array<int8_t, 64> make_pattern_table() {
    std::array<int8_t, 64> t{};
    for (auto& v : t) {
        v = -1;
    }
    for (int id = 9; id >= 0; --id) {
        const Pattern& pt = kPatterns[id];
        auto code = [](const uint8_t* pair) { return (pair[0] << 1) | pair[1]; };
        t[static_cast<size_t>((code(pt.first) << 4) | (code(pt.second) << 2) | code(pt.third))] =
            static_cast<int8_t>(id);
    }
    return t;
}
constexpr std::array<int8_t, 64> kPatternOf = make_pattern_table();

// Preferred scan for a block direction: horizontal for near-vertical ridges.
int preferred_scan(int d, int ndirs) {
    const int qtr = ndirs / 4;
    return (d <= qtr || d > 3 * qtr) ? kHorizontal : kVertical;
}

// Direction of a minutia from its block direction d (0..ndirs-1): the block gives the line,
// the pattern tells on which side of the minutia its feature lies.
int low_curvature_direction(int scan, int appearing, int d, int ndirs) {
    bool flip;
    if (d <= ndirs / 2) {
        flip = (scan == kHorizontal) ? appearing : !appearing;
    } else {
        flip = !appearing;
    }
    return flip ? d + ndirs : d;
}

// Indices of listed minutiae by square cells of the image, to find those near a point
// without visiting the whole list.
class CellGrid {
  public:
    CellGrid(int w, int h, int cell)
        : cell_(cell), cw_((w + cell - 1) / cell), ch_((h + cell - 1) / cell),
          cells_(static_cast<size_t>(cw_) * ch_) {}

    void insert(int x, int y, int id) { cells_[index(x, y)].push_back(id); }
    void erase(int x, int y, int id) { std::erase(cells_[index(x, y)], id); }

    // Appends the ids in every cell that meets the rectangle [x0, x1] × [y0, y1].
    void collect(int x0, int y0, int x1, int y1, std::vector<int>& out) const {
        const int cx0 = clampc(x0, cw_), cx1 = clampc(x1, cw_);
        const int cy0 = clampc(y0, ch_), cy1 = clampc(y1, ch_);
        for (int cy = cy0; cy <= cy1; ++cy) {
            for (int cx = cx0; cx <= cx1; ++cx) {
                const auto& c = cells_[static_cast<size_t>(cy) * cw_ + cx];
                out.insert(out.end(), c.begin(), c.end());
            }
        }
    }

  private:
    int cell_, cw_, ch_;
    std::vector<std::vector<int>> cells_;

    int clampc(int v, int n) const { return std::clamp(v < 0 ? 0 : v / cell_, 0, n - 1); }
    size_t index(int x, int y) const {
        return static_cast<size_t>(clampc(y, ch_)) * cw_ + clampc(x, cw_);
    }
};

class Detector {
  public:
    Detector(std::vector<uint8_t>& bin, int w, int h, const Maps& maps, const Params& p)
        : b_{bin.data(), w, h}, maps_(maps), p_(p), full_(2 * p.num_directions), grid_(w, h, 16) {}

    std::vector<Minutia> run() {
        scan_rows();
        scan_columns();
        std::vector<Minutia> list;
        for (size_t i = 0; i < all_.size(); ++i) {
            if (alive_[i]) {
                list.push_back(all_[i]);
            }
        }
        return list;
    }

  private:
    Bin b_;
    const Maps& maps_;
    const Params& p_;
    const int full_;
    // Every minutia ever listed, in the order it was added; a replaced one is no longer
    // alive. The grid finds the listed minutiae near a candidate.
    std::vector<Minutia> all_;
    std::vector<char> alive_;
    CellGrid grid_;
    std::vector<int> near_;
    mutable Contour scratch_[3]; // reused contour buffers

    void scan_rows() {
        for (int cy = 0; cy + 1 < b_.h; ++cy) {
            const uint8_t* top = b_.px + static_cast<size_t>(cy) * b_.w;
            scan_line(top, top + b_.w, 1, b_.w, [&](int id, int a, int c) {
                const Pattern& pt = kPatterns[id];
                const int x = (a + c) >> 1;
                const int y = pt.appearing ? cy + 1 : cy;
                candidate(id, kHorizontal, x, y, x, pt.appearing ? cy : cy + 1);
            });
        }
    }

    void scan_columns() {
        for (int cx = 0; cx + 1 < b_.w; ++cx) {
            scan_line(b_.px + cx, b_.px + cx + 1, b_.w, b_.h, [&](int id, int a, int c) {
                const Pattern& pt = kPatterns[id];
                const int y = (a + c) >> 1;
                const int x = pt.appearing ? cx + 1 : cx;
                candidate(id, kVertical, x, y, pt.appearing ? cx : cx + 1, y);
            });
        }
    }

    // First position at or after `from` (below n) where the two lines differ, or n. The
    // lines are read as they are now: a loop filled by a candidate is seen at once.
    static int next_difference(const uint8_t* l1, const uint8_t* l2, ptrdiff_t step, int from,
                               int n) {
        int c = from;
#ifdef __SSE2__
        if (step == 1) {
            for (; c + 16 <= n; c += 16) {
                const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(l1 + c));
                const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(l2 + c));
                const unsigned same =
                    static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(a, b)));
                if (same != 0xffffu) {
                    return c + __builtin_ctz(~same);
                }
            }
        }
#endif
        for (; c < n; ++c) {
            if (l1[c * step] != l2[c * step]) {
                break;
            }
        }
        return c;
    }

    // Walks one pair of lines of length n (pixel k of line 1 at l1[k · step]). `found(id,
    // a, c)` gets the position a of the first 2nd pair and c of the 3rd pair.
    template <class Found>
    void scan_line(const uint8_t* l1, const uint8_t* l2, ptrdiff_t step, int n, Found found) {
        auto pair_at = [&](int c) { return (l1[c * step] << 1) | l2[c * step]; };
        int c = 0;
        while (c < n) {
            // Every pattern's 2nd pair has two different pixels, and every pair other than
            // the 2nd one itself can come before it: move to where the lines next differ.
            const int d = next_difference(l1, l2, step, c + 1, n);
            if (d >= n) {
                break;
            }
            const int p1 = pair_at(d - 1), p2 = pair_at(d);
            c = d;
            if (p1 == p2) {
                continue;
            }
            const int a = c;
            int q;
            do {
                ++c;
                if (c >= n) {
                    break;
                }
                q = pair_at(c);
            } while (q == p2);
            if (c >= n) {
                break;
            }
            const int p3 = q;
            const int id = kPatternOf[(p1 << 4) | (p2 << 2) | p3];
            if (id >= 0) {
                found(id, a, c);
            }
            // A 3rd pair of two different pixels can serve as the 2nd pair of the next
            // pattern: resume on the last repeat of the 2nd pair.
            if (p3 == 1 || p3 == 2) {
                --c;
            }
        }
    }

    void candidate(int id, int scan, int x, int y, int ex, int ey) {
        const Pattern& pt = kPatterns[id];
        const int blk = maps_.block_at(x, y);
        const int d = maps_.direction[static_cast<size_t>(blk)];
        if (d < 0) {
            return;
        }
        Minutia m;
        m.type = pt.type;
        m.appearing = pt.appearing;
        m.feature_id = id;
        if (maps_.high_curve[static_cast<size_t>(blk)]) {
            if (!high_curvature(m, x, y, ex, ey)) {
                return;
            }
        } else {
            m.x = x;
            m.y = y;
            m.ex = ex;
            m.ey = ey;
            m.direction = low_curvature_direction(scan, pt.appearing, d, p_.num_directions);
        }
        m.reliability =
            maps_.low_flow[static_cast<size_t>(blk)] ? kMediumReliability : kHighReliability;
        add(m, scan, d);
    }

    // Contour of up to 2·half + 1 points around a high-curvature candidate: `half` points
    // traced clockwise (listed in reverse), the candidate, `half` traced counter-clockwise.
    // Returns Loop when the first trace closes a loop (the loop is then the candidate and
    // the clockwise trace in reverse); Ok with the contour, which is shorter when the second
    // trace came round to the end of the first; Ignore when either half is short.
    det::Trace high_curvature_contour(int half, const ContourPt& start, Contour& out) const {
        out.clear();
        Contour& cw = scratch_[0];
        Contour& ccw = scratch_[1];
        det::Trace r = det::trace_contour(b_, half, start.x, start.y, start, true, cw);
        if (r == det::Trace::Ignore) {
            return r;
        }
        if (r == det::Trace::Loop) {
            out.push_back(start);
            out.insert(out.end(), cw.rbegin(), cw.rend());
            return r;
        }
        if (static_cast<int>(cw.size()) < half) {
            return det::Trace::Ignore;
        }
        const ContourPt& last = cw.back();
        r = det::trace_contour(b_, half, last.x, last.y, start, false, ccw);
        if (r == det::Trace::Ignore ||
            (r != det::Trace::Loop && static_cast<int>(ccw.size()) < half)) {
            return det::Trace::Ignore;
        }
        out.assign(cw.rbegin(), cw.rend());
        out.push_back(start);
        out.insert(out.end(), ccw.begin(), ccw.end());
        return det::Trace::Ok;
    }

    // Angle between the lines from a point to its neighbours `edge` places before and after
    // on a contour, in radians; 0 when those neighbours coincide with the point.
    static double angle_to(const ContourPt& from, const ContourPt& to) {
        const double dy = from.y - to.y, dx = to.x - from.x;
        return (std::fabs(dx) < 0.5 && std::fabs(dy) < 0.5) ? 0.0 : std::atan2(dy, dx);
    }

    // Places a candidate of a high-curvature block at the sharpest point of its contour and
    // points it from there into the feature. Small closed contours are handled as loops.
    bool high_curvature(Minutia& m, int x, int y, int ex, int ey) {
        const int half = p_.high_curve_half_contour;
        const int edge = half >> 1;
        Contour& c = scratch_[2];
        const det::Trace r = high_curvature_contour(half, {x, y, ex, ey}, c);
        if (r == det::Trace::Loop) {
            if (!det::loop_is_clockwise(c, true)) {
                process_loop(c);
            }
            return false;
        }
        const int n = static_cast<int>(c.size());
        if (r != det::Trace::Ok || n == 0 || n < 2 * edge + 1) {
            return false;
        }
        // Sharpest point: smallest angle between the lines to the points `edge` before and
        // after it (angles rounded to 1/16384; the first smallest wins).
        double min_theta = trunc_prec(std::numbers::pi);
        int min_i = -1;
        for (int i = edge; i + edge < n; ++i) {
            const ContourPt& o = c[static_cast<size_t>(i)];
            const double t1 = angle_to(o, c[static_cast<size_t>(i - edge)]);
            const double t2 = angle_to(o, c[static_cast<size_t>(i + edge)]);
            double dt = std::fabs(t2 - t1);
            dt = std::min(dt, 2.0 * std::numbers::pi - dt);
            dt = trunc_prec(dt);
            if (dt < min_theta) {
                min_theta = dt;
                min_i = i;
            }
        }
        if (min_i < 0) {
            min_i = n >> 1; // a perfectly flat contour
        }
        if (min_theta >= p_.max_high_curve_theta) {
            return false;
        }
        const ContourPt& o = c[static_cast<size_t>(min_i)];
        const ContourPt& a = c[static_cast<size_t>(min_i - edge)];
        const ContourPt& z = c[static_cast<size_t>(min_i + edge)];
        const int mx = (a.x + z.x) >> 1, my = (a.y + z.y) >> 1;
        if (b_.at(mx, my) != b_.at(x, y)) {
            return false;
        }
        m.x = o.x;
        m.y = o.y;
        m.ex = o.ex;
        m.ey = o.ey;
        m.direction = det::line_to_direction(o.x, o.y, mx, my, full_);
        return true;
    }

    // A closed contour: an elongated loop yields two minutiae at the ends of its long axis,
    // facing each other; any other loop is a speck and is filled in.
    void process_loop(const Contour& loop) {
        const int n = static_cast<int>(loop.size());
        if (n > p_.min_loop_len) {
            // Squared distances across the loop between points half the loop apart; an odd
            // loop is measured all the way round.
            const int halfway = n >> 1;
            const int limit = n % 2 ? n : halfway;
            auto d2 = [&](int i, int j) {
                const double dx = loop[static_cast<size_t>(i)].x - loop[static_cast<size_t>(j)].x;
                const double dy = loop[static_cast<size_t>(i)].y - loop[static_cast<size_t>(j)].y;
                return dx * dx + dy * dy;
            };
            double min_d2 = d2(0, halfway), max_d2 = min_d2;
            int max_fr = 0, max_to = halfway;
            for (int i = 1, j = (halfway + 1) % n; i < limit; ++i, j = (j + 1) % n) {
                const double v = d2(i, j);
                min_d2 = std::min(min_d2, v);
                if (v > max_d2) {
                    max_d2 = v;
                    max_fr = i;
                    max_to = j;
                }
            }
            if (min_d2 < p_.min_loop_aspect_dist || max_d2 / min_d2 >= p_.min_loop_aspect_ratio) {
                const ContourPt& f = loop[static_cast<size_t>(max_fr)];
                const ContourPt& t = loop[static_cast<size_t>(max_to)];
                const int mx = (f.x + t.x) >> 1, my = (f.y + t.y) >> 1;
                const uint8_t feature = b_.at(loop[0].x, loop[0].y);
                if (b_.at(mx, my) == feature) {
                    const int dir = det::line_to_direction(f.x, f.y, t.x, t.y, full_);
                    add_loop_minutia(f, feature, dir);
                    add_loop_minutia(t, feature, (dir + p_.num_directions) % full_);
                    return;
                }
            }
        }
        det::fill_loop(b_, loop);
    }

    void add_loop_minutia(const ContourPt& at, uint8_t feature, int dir) {
        Minutia m;
        m.x = at.x;
        m.y = at.y;
        m.ex = at.ex;
        m.ey = at.ey;
        m.type = feature;
        // Appearing when the edge pixel lies left of or above the feature pixel.
        m.appearing = (at.ex < at.x || (at.ex == at.x && at.ey < at.y)) ? 1 : 0;
        m.feature_id = kLoopId;
        m.direction = dir;
        m.reliability = maps_.low_flow[static_cast<size_t>(maps_.block_at(at.x, at.y))]
                            ? kMediumReliability
                            : kHighReliability;
        add_unless_listed(m);
    }

    // Adds a minutia of a loop unless a listed one of the same type and similar direction
    // lies within max_minutia_delta pixels at the same place or on the same contour.
    void add_unless_listed(const Minutia& m) {
        const int delta = p_.max_minutia_delta;
        const int qtr = p_.num_directions / 4;
        near_.clear();
        grid_.collect(m.x - (delta - 1), m.y - (delta - 1), m.x + (delta - 1), m.y + (delta - 1),
                      near_);
        for (const int i : near_) {
            const Minutia& o = all_[static_cast<size_t>(i)];
            if (std::abs(m.x - o.x) >= delta || std::abs(m.y - o.y) >= delta || m.type != o.type ||
                det::dir_distance(m.direction, o.direction, full_) > qtr) {
                continue;
            }
            const ContourPt start{o.x, o.y, o.ex, o.ey};
            if ((m.x == o.x && m.y == o.y) ||
                det::search_contour(b_, m.x, m.y, delta, start, true) == det::Search::Found ||
                det::search_contour(b_, m.x, m.y, delta, start, false) == det::Search::Found) {
                return;
            }
        }
        grid_.insert(m.x, m.y, static_cast<int>(all_.size()));
        all_.push_back(m);
        alive_.push_back(1);
    }

    // Adds a candidate unless an equivalent minutia is listed already. A listed minutia of
    // the same type and similar direction within max_minutia_delta pixels on the same
    // contour is a duplicate: the candidate replaces it only if it comes from the scan that
    // suits its block direction. Listed minutiae are visited newest first.
    void add(const Minutia& m, int scan, int d) {
        const int delta = p_.max_minutia_delta;
        const int qtr = p_.num_directions / 4;
        near_.clear();
        grid_.collect(m.x - (delta - 1), m.y - (delta - 1), m.x + (delta - 1), m.y + (delta - 1),
                      near_);
        std::sort(near_.begin(), near_.end(), std::greater<>());
        for (const int i : near_) {
            const Minutia& o = all_[static_cast<size_t>(i)];
            if (std::abs(m.x - o.x) >= delta || std::abs(m.y - o.y) >= delta) {
                continue;
            }
            if (m.type != o.type || det::dir_distance(m.direction, o.direction, full_) > qtr) {
                continue;
            }
            if (m.x == o.x && m.y == o.y) {
                return;
            }
            const ContourPt start{o.x, o.y, o.ex, o.ey};
            if (det::search_contour(b_, m.x, m.y, delta, start, true) == det::Search::Found ||
                det::search_contour(b_, m.x, m.y, delta, start, false) == det::Search::Found) {
                if (d >= 0 && preferred_scan(d, p_.num_directions) == scan) {
                    alive_[static_cast<size_t>(i)] = 0;
                    grid_.erase(o.x, o.y, i);
                } else {
                    return;
                }
            }
        }
        grid_.insert(m.x, m.y, static_cast<int>(all_.size()));
        all_.push_back(m);
        alive_.push_back(1);
    }
};

} // namespace

std::vector<Minutia> detect_minutiae(std::vector<uint8_t>& bin, int bw, int bh, const Maps& maps,
                                     const Params& p) {
    if (bw <= 1 || bh <= 1 || bin.size() != static_cast<size_t>(bw) * bh || maps.iw != bw ||
        maps.ih != bh || maps.direction.size() != static_cast<size_t>(maps.mw) * maps.mh) {
        return {};
    }
    return Detector(bin, bw, bh, maps, p).run();
}

} // namespace lfs
