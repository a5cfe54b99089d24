// False-minutia removal (NIST's LFS version 2), in NIST's order: islands and lakes, holes,
// minutiae pointing to invalid blocks, minutiae near invalid blocks, side minutiae, hooks,
// overlaps, malformations and pores.
#include "detector.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <numbers>

namespace lfs {

namespace {

using det::Bin;
using det::Contour;
using det::ContourPt;
using det::Trace;

double distance(int x1, int y1, int x2, int y2) {
    const double dx = x2 - x1, dy = y2 - y1;
    return std::sqrt(dx * dx + dy * dy);
}

ContourPt at_minutia(const Minutia& m) {
    return {m.x, m.y, m.ex, m.ey};
}

class Remover {
  public:
    Remover(std::vector<Minutia>& list, std::vector<uint8_t>& bin, int w, int h, const Maps& maps,
            const Params& p)
        : list_(list), b_{bin.data(), w, h}, maps_(maps), p_(p), full_(2 * p.num_directions),
          opposed_(3 * full_ / 8 - 1) {}

    void run(const det::StepObserver& seen) {
        auto step = [&](const char* name, void (Remover::*f)()) {
            (this->*f)();
            if (seen) {
                seen(name, list_);
            }
        };
        step("sort", &Remover::sort);
        step("islands_and_lakes", &Remover::islands_and_lakes);
        step("holes", &Remover::holes);
        step("pointing_to_invalid_block", &Remover::pointing_to_invalid_block);
        step("near_invalid_block", &Remover::near_invalid_block);
        step("side_minutiae", &Remover::side_minutiae);
        step("hooks", &Remover::hooks);
        step("overlaps", &Remover::overlaps);
        step("malformations", &Remover::malformations);
        step("pores", &Remover::pores);
    }

  private:
    std::vector<Minutia>& list_;
    Bin b_;
    const Maps& maps_;
    const Params& p_;
    const int full_;
    const int opposed_; // direction differences above this are "opposed" (> 123.75°)

    int dir_of_block(int x, int y) const {
        return maps_.direction[static_cast<size_t>(det::block_floor(maps_, x, y, p_.blocksize))];
    }
    bool feature_intact(const Minutia& m) const {
        return b_.inside(m.x, m.y) && b_.at(m.x, m.y) == m.type;
    }

    void sort() {
        const long w = b_.w;
        std::stable_sort(list_.begin(), list_.end(), [w](const Minutia& a, const Minutia& b) {
            return a.y * w + a.x < b.y * w + b.x;
        });
    }

    void drop_flagged(const std::vector<char>& flag) {
        size_t k = 0;
        for (size_t i = 0; i < list_.size(); ++i) {
            if (!flag[i]) {
                list_[k++] = list_[i];
            }
        }
        list_.resize(k);
    }

    template <class Keep> void remove_if_not(Keep keep) {
        size_t k = 0;
        for (size_t i = 0; i < list_.size(); ++i) {
            if (keep(list_[i])) {
                list_[k++] = list_[i];
            }
        }
        list_.resize(k);
    }

    // Visits pairs (first, second) in sorted order with second after first and at most
    // `limit` rows below it; `test` flags the minutiae it condemns (its result is only
    // informative). Flags take effect after the pass: a first minutia flagged while paired
    // still meets the remaining seconds, which matches NIST's results better than dropping
    // out of the inner loop. A flagged minutia is not visited again; a second whose feature
    // pixel was changed (by a loop fill) is flagged, a first in that state is skipped.
    template <class Test> void pair_pass(int limit, Test test) {
        const size_t n = list_.size();
        std::vector<char> flag(n, 0);
        for (size_t f = 0; f < n; ++f) {
            if (flag[f] || !feature_intact(list_[f])) {
                continue;
            }
            for (size_t s = f + 1; s < n; ++s) {
                if (list_[s].y - list_[f].y > limit) {
                    break;
                }
                if (flag[s]) {
                    continue;
                }
                if (!feature_intact(list_[s])) {
                    flag[s] = 1;
                    continue;
                }
                test(list_[f], list_[s], flag[f], flag[s]);
            }
        }
        drop_flagged(flag);
    }

    bool close_and_opposed(const Minutia& a, const Minutia& b, int limit) const {
        return distance(a.x, a.y, b.x, b.y) <= limit &&
               det::dir_distance(a.direction, b.direction, full_) > opposed_;
    }

    // Two minutiae of one type facing each other on one small closed contour: an island
    // (short ridge) or a lake (small enclosed valley). The loop is filled in.
    void islands_and_lakes() {
        const int limit = p_.max_rmtest_dist;
        pair_pass(limit, [&](const Minutia& a, const Minutia& b, char& fa, char& fb) {
            if (a.type != b.type || !close_and_opposed(a, b, limit)) {
                return false;
            }
            Contour one, two;
            const Trace r1 =
                det::trace_contour(b_, p_.max_half_loop, b.x, b.y, at_minutia(a), true, one);
            if (r1 == Trace::Fail) {
                fa = 1;
                return true;
            }
            if (r1 != Trace::Loop) {
                return false;
            }
            const Trace r2 =
                det::trace_contour(b_, p_.max_half_loop, b.x, b.y, at_minutia(a), false, two);
            if (r2 == Trace::Fail) {
                fa = 1;
                return true;
            }
            if (r2 != Trace::Loop) {
                return false;
            }
            Contour loop;
            loop.push_back(at_minutia(a));
            loop.insert(loop.end(), one.begin(), one.end());
            loop.push_back(at_minutia(b));
            loop.insert(loop.end(), two.rbegin(), two.rend());
            det::fill_loop(b_, loop);
            fa = fb = 1;
            return true;
        });
    }

    // Bifurcations on a small closed valley contour (a hole in a ridge).
    void holes() {
        remove_if_not([&](const Minutia& m) {
            if (m.type != kBifurcation) {
                return true;
            }
            Contour c;
            return det::trace_contour(b_, p_.small_loop_len, m.x, m.y, at_minutia(m), true, c) ==
                   Trace::Ok;
        });
    }

    // Minutiae whose outward side (opposite to the direction) lies in a block without ridge
    // direction.
    void pointing_to_invalid_block() {
        remove_if_not([&](const Minutia& m) {
            int dx, dy;
            det::dir_step(m.direction, p_.trans_dir_pix, full_, dx, dy);
            const int nx = std::clamp(m.x - dx, 0, b_.w - 1);
            const int ny = std::clamp(m.y - dy, 0, b_.h - 1);
            return dir_of_block(nx, ny) != kInvalidDir;
        });
    }

    int valid_neighbours(int bx, int by) const {
        int n = 0;
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
                const int x = bx + dx, y = by + dy;
                if ((dx || dy) && x >= 0 && y >= 0 && x < maps_.mw && y < maps_.mh &&
                    maps_.direction[static_cast<size_t>(y * maps_.mw + x)] != kInvalidDir) {
                    ++n;
                }
            }
        }
        return n;
    }

    // Minutiae in the margin of their block next to a block outside the map, or next to an
    // invalid block that is not almost surrounded by valid ones.
    void near_invalid_block() {
        const int bs = p_.blocksize;
        const int lo = p_.inv_block_margin, hi = bs - p_.inv_block_margin - 1;
        remove_if_not([&](const Minutia& m) {
            const int bx = m.x / bs, by = m.y / bs;
            const int px = m.x % bs, py = m.y % bs;
            const int sx = px < lo ? -1 : (px > hi ? 1 : 0);
            const int sy = py < lo ? -1 : (py > hi ? 1 : 0);
            const int offs[3][2] = {{sx, 0}, {sx, sy}, {0, sy}};
            for (const auto& o : offs) {
                if (o[0] == 0 && o[1] == 0) {
                    continue;
                }
                if ((o[0] && !sx) || (o[1] && !sy)) {
                    continue;
                }
                const int nx = bx + o[0], ny = by + o[1];
                if (nx < 0 || ny < 0 || nx >= maps_.mw || ny >= maps_.mh) {
                    return false;
                }
                if (maps_.direction[static_cast<size_t>(ny * maps_.mw + nx)] == kInvalidDir &&
                    valid_neighbours(nx, ny) < p_.rm_valid_nbr_min) {
                    return false;
                }
            }
            return true;
        });
    }

    // A minutia should sit at the tip of its feature: along the minutia direction its
    // centred contour has a single minimum (or min-max-min). Moves it to the tip, or
    // removes it when the contour has another shape.
    void side_minutiae() {
        remove_if_not([&](Minutia& m) {
            Contour c;
            if (det::centered_contour(b_, p_.side_half_contour, at_minutia(m), c) != Trace::Ok) {
                return false;
            }
            const double theta = m.direction * 2.0 * std::numbers::pi / full_;
            const double sn = std::sin(theta), cs = std::cos(theta);
            std::vector<int> v(c.size());
            for (size_t j = 0; j < c.size(); ++j) {
                v[j] = sround(trunc_prec(c[j].x * sn - c[j].y * cs));
            }
            // Turning points of the profile. A turn on a flat run a..b is placed at
            // (a + b - 1) / 2, which for a sharp turn (a == b) is the point just before it:
            // that is where NIST's detector puts it. Flat runs inside a rising or falling
            // stretch are no turning points.
            struct Turn {
                size_t at;
                int value;
            };
            std::vector<Turn> minima;
            std::vector<bool> turns;
            int prev = 0;
            size_t run_start = 0;
            for (size_t j = 1; j < v.size(); ++j) {
                const int s = v[j] > v[j - 1] ? 1 : (v[j] < v[j - 1] ? -1 : 0);
                if (s == 0) {
                    continue;
                }
                if (prev != 0 && s != prev) {
                    const size_t a = run_start, b = j - 1;
                    turns.push_back(prev < 0);
                    if (prev < 0) {
                        minima.push_back({(a + b - 1) / 2, v[a]});
                    }
                }
                prev = s;
                run_start = j;
            }
            size_t to;
            if (turns.size() == 1 && turns[0]) {
                to = minima[0].at;
            } else if (turns.size() == 3 && turns[0] && !turns[1] && turns[2]) {
                to = minima[1].value <= minima[0].value ? minima[1].at : minima[0].at;
            } else {
                return false;
            }
            m.x = c[to].x;
            m.y = c[to].y;
            m.ex = c[to].ex;
            m.ey = c[to].ey;
            return dir_of_block(m.x, m.y) != kInvalidDir;
        });
    }

    // An ending and a bifurcation facing each other and joined by a short edge: a spur.
    void hooks() {
        const int limit = p_.max_rmtest_dist;
        pair_pass(limit, [&](const Minutia& a, const Minutia& b, char& fa, char& fb) {
            if (a.type == b.type || !close_and_opposed(a, b, limit)) {
                return false;
            }
            const ContourPt from{a.ex, a.ey, a.x, a.y};
            for (bool cw : {true, false}) {
                const det::Search r = det::search_contour(b_, b.x, b.y, p_.max_hook_len, from, cw);
                if (r == det::Search::Found) {
                    fa = fb = 1;
                    return true;
                }
                if (r == det::Search::Fail) {
                    fa = 1;
                    return true;
                }
            }
            return false;
        });
    }

    // Two close minutiae of one type facing each other across a short free gap: a broken
    // ridge or valley.
    void overlaps() {
        const int limit = p_.max_overlap_dist;
        pair_pass(limit, [&](const Minutia& a, const Minutia& b, char& fa, char& fb) {
            if (a.type != b.type || !close_and_opposed(a, b, limit)) {
                return false;
            }
            const int join = det::line_to_direction(a.x, a.y, b.x, b.y, full_);
            const int back = (a.direction + full_ / 2) % full_;
            const bool aligned = det::dir_distance(back, join, full_) <= full_ / 4;
            if (!aligned && distance(a.x, a.y, b.x, b.y) > p_.max_overlap_join_dist) {
                return false;
            }
            if (det::line_transitions(b_, a.x, a.y, b.x, b.y) > p_.maxtrans) {
                return false;
            }
            fa = fb = 1;
            return true;
        });
    }

    // The two edges of a true ending/bifurcation stay roughly parallel; malformed features
    // spread out or cannot be traced.
    void malformations() {
        const int s1 = p_.malformation_steps_1, s2 = p_.malformation_steps_2;
        remove_if_not([&](const Minutia& m) {
            Contour ccw, cw;
            if (det::trace_contour(b_, s2, m.x, m.y, at_minutia(m), false, ccw) != Trace::Ok ||
                det::trace_contour(b_, s2, m.x, m.y, at_minutia(m), true, cw) != Trace::Ok ||
                static_cast<int>(ccw.size()) < s2 || static_cast<int>(cw.size()) < s2) {
                return false;
            }
            const ContourPt &a1 = ccw[static_cast<size_t>(s1 - 1)],
                            &a2 = cw[static_cast<size_t>(s1 - 1)];
            const ContourPt &b1 = ccw[static_cast<size_t>(s2 - 1)],
                            &b2 = cw[static_cast<size_t>(s2 - 1)];
            const double a = distance(a1.x, a1.y, a2.x, a2.y);
            const double b = distance(b1.x, b1.y, b2.x, b2.y);
            if (a == 0.0 || b == 0.0) {
                return false;
            }
            const size_t blk = static_cast<size_t>(det::block_floor(maps_, m.x, m.y, p_.blocksize));
            if (maps_.low_flow[blk] && b > p_.max_malformation_dist) {
                return false;
            }
            if (trunc_prec(b / a) > p_.min_malformation_ratio) {
                for (auto [x, y] : det::line_points(b1.x, b1.y, b2.x, b2.y)) {
                    if (b_.inside(x, y) && b_.at(x, y) != m.type) {
                        return false;
                    }
                }
            }
            return true;
        });
    }

    // From (x, y), which has the opposite of `feature`, steps up to max_steps pixels along
    // direction `dir` to the first feature pixel; returns it with the pixel before it as edge
    // pixel.
    bool find_side(int x, int y, int dir, int max_steps, uint8_t feature, ContourPt& out) const {
        int px = x, py = y;
        for (int k = 1; k <= max_steps; ++k) {
            int dx, dy;
            det::dir_step(dir, k, full_, dx, dy);
            const int nx = x + dx, ny = y + dy;
            if (!b_.inside(nx, ny)) {
                return false;
            }
            if (b_.at(nx, ny) == feature) {
                const int ex = px, ey = py;
                out = {nx, ny, ex, ey};
                return true;
            }
            px = nx;
            py = ny;
        }
        return false;
    }

    bool trace_end(const ContourPt& from, int steps, bool cw, ContourPt& end) const {
        Contour c;
        if (det::trace_contour(b_, steps, from.x, from.y, from, cw, c) != Trace::Ok || c.empty()) {
            return false;
        }
        end = c.back();
        return true;
    }

    // Minutiae in low-flow or high-curvature blocks caused by a pore (a small notch or hole
    // in a ridge): behind the minutia the ridge edges on both sides run on undisturbed.
    void pores() {
        remove_if_not([&](const Minutia& m) {
            const size_t blk = static_cast<size_t>(det::block_floor(maps_, m.x, m.y, p_.blocksize));
            if (maps_.direction[blk] == kInvalidDir ||
                !(maps_.low_flow[blk] || maps_.high_curve[blk])) {
                return true;
            }
            int dx, dy;
            det::dir_step(m.direction, p_.pores_trans_r, full_, dx, dy);
            const int rx = m.x - dx, ry = m.y - dy;
            if (!b_.inside(rx, ry)) {
                return false;
            }
            const uint8_t feature = static_cast<uint8_t>(m.type);
            if (b_.at(rx, ry) == feature) {
                return true;
            }
            const int right = (m.direction + full_ / 4) % full_;
            const int left = (m.direction + 3 * full_ / 4) % full_;
            ContourPt pr, pl;
            if (!find_side(rx, ry, right, p_.pores_perp_steps, feature, pr) ||
                !find_side(rx, ry, left, p_.pores_perp_steps, feature, pl)) {
                return false;
            }
            // On the right-hand side a clockwise trace runs forwards, on the left-hand side a
            // counter-clockwise one.
            ContourPt a, b, c, d;
            if (!trace_end(pr, p_.pores_steps_fwd, true, a) ||
                !trace_end(pl, p_.pores_steps_fwd, false, b) ||
                !trace_end(pr, p_.pores_steps_bwd, false, c) ||
                !trace_end(pl, p_.pores_steps_bwd, true, d)) {
                return false;
            }
            const double ab2 = std::pow(distance(a.x, a.y, b.x, b.y), 2);
            const double cd2 = std::pow(distance(c.x, c.y, d.x, d.y), 2);
            if (cd2 > p_.pores_min_dist2 && ab2 / cd2 <= p_.pores_max_ratio) {
                return false;
            }
            return true;
        });
    }
};

} // namespace

void remove_false_minutiae(std::vector<Minutia>& list, std::vector<uint8_t>& bin, int bw, int bh,
                           const Maps& maps, const Params& p) {
    det::remove_false_minutiae_observed(list, bin, bw, bh, maps, p, {});
}

void det::remove_false_minutiae_observed(std::vector<Minutia>& list, std::vector<uint8_t>& bin,
                                         int bw, int bh, const Maps& maps, const Params& p,
                                         const StepObserver& seen) {
    if (list.empty()) {
        return;
    }
    if (bw <= 0 || bh <= 0 || bin.size() != static_cast<size_t>(bw) * bh || maps.mw <= 0 ||
        maps.mh <= 0 || maps.direction.size() != static_cast<size_t>(maps.mw) * maps.mh ||
        maps.low_flow.size() != maps.direction.size() ||
        maps.high_curve.size() != maps.direction.size()) {
        list.clear();
        return;
    }
    // Minutiae must lie on the image for every test below.
    std::erase_if(list, [&](const Minutia& m) {
        return m.x < 0 || m.y < 0 || m.x >= bw || m.y >= bh || m.ex < 0 || m.ey < 0 || m.ex >= bw ||
               m.ey >= bh;
    });
    Remover(list, bin, bw, bh, maps, p).run(seen);
}

} // namespace lfs
