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
    const int opposed_;          // direction differences above this are "opposed" (> 123.75°)
    mutable Contour scratch_[3]; // reused contour buffers

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

    // Visits pairs (first, second) in sorted order with second after first, as long as
    // `second.y - first.y` stays within `limit`. `same_type_only`: seconds of the other
    // type are passed over without any test. For each second visited: the pass over
    // seconds ends when the first's feature pixel no longer has its type value (changed by
    // a loop fill); a second in that state is condemned; `test` is called for pairs of
    // uncondemned seconds within `limit` rows and returns false to end the pass over
    // seconds. Condemned minutiae are removed after the whole pass, and a condemned first
    // is not visited.
    template <class Test> void pair_pass(int limit, bool same_type_only, Test test) {
        const size_t n = list_.size();
        std::vector<char> flag(n, 0);
        for (size_t f = 0; f + 1 < n; ++f) {
            if (flag[f]) {
                continue;
            }
            for (size_t s = f + 1; s < n; ++s) {
                const Minutia& a = list_[f];
                const Minutia& b = list_[s];
                if (same_type_only && a.type != b.type) {
                    continue;
                }
                if (!feature_intact(a)) {
                    break;
                }
                if (!feature_intact(b)) {
                    flag[s] = 1;
                }
                if (flag[s]) {
                    continue;
                }
                if (b.y - a.y > limit) {
                    break;
                }
                if (!test(a, b, flag[f], flag[s])) {
                    break;
                }
            }
        }
        drop_flagged(flag);
    }

    // Within `limit` pixels and facing each other (directions more than 123.75° apart).
    bool close_and_opposed(const Minutia& a, const Minutia& b, int limit) const {
        return distance(a.x, a.y, b.x, b.y) <= limit &&
               det::dir_distance(a.direction, b.direction, full_) > opposed_;
    }

    // Two minutiae of one type facing each other on one small closed contour: an island
    // (short ridge) or a lake (small enclosed valley). The loop is filled in. When no
    // contour can be followed from the first, it is condemned.
    void islands_and_lakes() {
        const int limit = p_.max_rmtest_dist;
        pair_pass(limit, true, [&](const Minutia& a, const Minutia& b, char& fa, char& fb) {
            if (!close_and_opposed(a, b, limit)) {
                return true;
            }
            Contour& one = scratch_[0];
            Contour& two = scratch_[1];
            det::Trace r =
                det::trace_contour(b_, p_.max_half_loop, b.x, b.y, at_minutia(a), true, one);
            if (r == Trace::Loop) {
                r = det::trace_contour(b_, p_.max_half_loop, a.x, a.y, at_minutia(b), true, two);
            }
            if (r == Trace::Ignore) {
                fa = 1;
                return false;
            }
            if (r != Trace::Loop) {
                return true;
            }
            Contour& loop = scratch_[2];
            loop.clear();
            loop.push_back(at_minutia(a));
            loop.insert(loop.end(), one.begin(), one.end());
            loop.push_back(at_minutia(b));
            loop.insert(loop.end(), two.begin(), two.end());
            det::fill_loop(b_, loop);
            fa = fb = 1;
            return true;
        });
    }

    // Bifurcations on a small closed valley contour (a hole in a ridge), or without a
    // contour to follow.
    void holes() {
        remove_if_not([&](const Minutia& m) {
            if (m.type != kBifurcation) {
                return true;
            }
            Contour& c = scratch_[0];
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

    // Turning points of a profile: (index, value, minimum?) for each, a turn on a flat run
    // placed at the middle of the run. A flat run at the start of the profile counts as a
    // turn when it is longer than one step.
    struct Turn {
        int at, value;
        bool minimum;
    };
    static std::vector<Turn> turning_points(const std::vector<int>& v) {
        std::vector<Turn> out;
        const int n = static_cast<int>(v.size());
        if (n < 3) {
            return out;
        }
        auto sign = [](int d) { return d > 0 ? 1 : (d < 0 ? -1 : 0); };
        int state = sign(v[1] - v[0]);
        int start = 0;
        for (int i = 1; i < n - 1; ++i) {
            const int s = sign(v[i + 1] - v[i]);
            if (s == 0) {
                continue;
            }
            if (s == state) {
                start = i;
                continue;
            }
            if (state != 0 || i - start > 1) {
                const int loc = (start + i) / 2;
                out.push_back({loc, v[static_cast<size_t>(loc)], s > 0});
            }
            state = s;
            start = i;
        }
        return out;
    }

    // A minutia should sit at the tip of its feature: along the minutia direction its
    // centred contour has a single minimum (or min-max-min). Moves it to the tip (the lower
    // minimum), or removes it when the contour has another shape or the tip lies in a block
    // without direction.
    void side_minutiae() {
        const double pi_factor = std::numbers::pi / p_.num_directions;
        remove_if_not([&](Minutia& m) {
            Contour& c = scratch_[0];
            if (det::centered_contour(b_, p_.side_half_contour, at_minutia(m), c) != Trace::Ok) {
                return false;
            }
            const double theta = m.direction * pi_factor;
            const double sn = std::sin(theta), cs = std::cos(theta);
            std::vector<int> v(c.size());
            for (size_t j = 0; j < c.size(); ++j) {
                v[j] = sround(trunc_prec(c[j].x * sn - c[j].y * cs));
            }
            const std::vector<Turn> t = turning_points(v);
            int to;
            if (t.size() == 1 && t[0].minimum) {
                to = t[0].at;
            } else if (t.size() == 3 && t[0].minimum) {
                to = t[0].value < t[2].value ? t[0].at : t[2].at;
            } else {
                return false;
            }
            const ContourPt& p = c[static_cast<size_t>(to)];
            m.x = p.x;
            m.y = p.y;
            m.ex = p.ex;
            m.ey = p.ey;
            return dir_of_block(m.x, m.y) != kInvalidDir;
        });
    }

    // An ending and a bifurcation facing each other and joined by a short edge: a spur.
    // The edge is followed from the first's edge pixel (as a feature of the other colour)
    // round to the second; when it cannot be followed the first is condemned.
    void hooks() {
        const int limit = p_.max_rmtest_dist;
        pair_pass(limit, false, [&](const Minutia& a, const Minutia& b, char& fa, char& fb) {
            if (!close_and_opposed(a, b, limit) || a.type == b.type) {
                return true;
            }
            const ContourPt from{a.ex, a.ey, a.x, a.y};
            Contour& c = scratch_[0];
            for (bool cw : {true, false}) {
                const Trace r = det::trace_contour(b_, p_.max_hook_len, b.x, b.y, from, cw, c);
                if (r == Trace::Loop) {
                    fa = fb = 1;
                    return true;
                }
                if (r == Trace::Ignore) {
                    fa = 1;
                    return false;
                }
            }
            return true;
        });
    }

    // Two close minutiae of one type facing each other across a short free gap: a broken
    // ridge or valley.
    void overlaps() {
        const int limit = p_.max_overlap_dist;
        pair_pass(limit, false, [&](const Minutia& a, const Minutia& b, char& fa, char& fb) {
            if (!close_and_opposed(a, b, limit) || a.type != b.type) {
                return true;
            }
            const int join = det::line_to_direction(a.x, a.y, b.x, b.y, full_);
            const int back = (a.direction + full_ / 2) % full_;
            const bool aligned = det::dir_distance(back, join, full_) <= full_ / 4;
            if (!aligned && distance(a.x, a.y, b.x, b.y) > p_.max_overlap_join_dist) {
                return true;
            }
            if (det::line_transitions(b_, a.x, a.y, b.x, b.y) > p_.maxtrans) {
                return true;
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
            Contour& ccw = scratch_[0];
            Contour& cw = scratch_[1];
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

    // From (x, y) steps up to max_steps times by (ddx, ddy), rounding each accumulated
    // position, to the first pixel of value `feature`; returns it with the pixel stepped
    // from as edge pixel, moved so that the two are 4-neighbours.
    bool search_in_direction(int x, int y, double ddx, double ddy, int max_steps, uint8_t feature,
                             ContourPt& out) const {
        int px = x, py = y;
        double fx = x, fy = y;
        for (int k = 0; k < max_steps; ++k) {
            fx += ddx;
            fy += ddy;
            const int nx = sround(fx), ny = sround(fy);
            if (!b_.inside(nx, ny)) {
                return false;
            }
            if (b_.at(nx, ny) == feature) {
                out = {nx, ny, px, py};
                four_connect(out);
                return true;
            }
            px = nx;
            py = ny;
        }
        return false;
    }

    // A feature pixel whose edge pixel is a diagonal neighbour: the edge moves beside the
    // feature pixel onto a pixel of the other value, or, with none there, the feature pixel
    // moves next to the edge pixel.
    void four_connect(ContourPt& p) const {
        const int dx = p.ex - p.x, dy = p.ey - p.y;
        if (std::abs(dx) != 1 || std::abs(dy) != 1) {
            return;
        }
        const uint8_t feature = b_.at(p.x, p.y);
        if (b_.at(p.ex - dx, p.ey) != feature) {
            p.ex -= dx;
        } else if (b_.at(p.ex, p.ey - dy) != feature) {
            p.ey -= dy;
        } else {
            p.y += dy;
        }
    }

    // End of a trace of exactly `steps` points, or false when the trace loops, cannot
    // start or stops short.
    bool trace_end(const ContourPt& from, int steps, bool cw, ContourPt& end) const {
        Contour& c = scratch_[0];
        if (det::trace_contour(b_, steps, from.x, from.y, from, cw, c) != Trace::Ok ||
            static_cast<int>(c.size()) < steps || c.empty()) {
            return false;
        }
        end = c.back();
        return true;
    }

    // Minutiae in low-flow or high-curvature blocks caused by a pore (a small notch or hole
    // in a ridge): a little behind the minutia the feature's two sides, found across the
    // minutia direction, are traced forwards and backwards; when the forward ends are not
    // much further apart than the backward ends, the sides run on undisturbed.
    void pores() {
        const double pi_factor = std::numbers::pi / p_.num_directions;
        remove_if_not([&](const Minutia& m) {
            const size_t blk = static_cast<size_t>(det::block_floor(maps_, m.x, m.y, p_.blocksize));
            if (maps_.direction[blk] < 0 || !(maps_.low_flow[blk] || maps_.high_curve[blk])) {
                return true;
            }
            const double theta = m.direction * pi_factor;
            const double sn = std::sin(theta), cs = std::cos(theta);
            const int rx = sround(trunc_prec(m.x - sn * p_.pores_trans_r));
            const int ry = sround(trunc_prec(m.y + cs * p_.pores_trans_r));
            if (!b_.inside(rx, ry)) {
                return false;
            }
            const uint8_t feature = static_cast<uint8_t>(m.type);
            if (b_.at(rx, ry) == feature) {
                return true;
            }
            ContourPt p, q, a, b, c, d;
            if (!search_in_direction(rx, ry, -cs, -sn, p_.pores_perp_steps, feature, p) ||
                !trace_end(p, p_.pores_steps_fwd, false, b) ||
                !trace_end(p, p_.pores_steps_bwd, true, d) ||
                !search_in_direction(rx, ry, cs, sn, p_.pores_perp_steps, feature, q) ||
                !trace_end(q, p_.pores_steps_fwd, true, a) ||
                !trace_end(q, p_.pores_steps_bwd, false, c)) {
                return false;
            }
            auto d2 = [](const ContourPt& u, const ContourPt& v) {
                const double dx = u.x - v.x, dy = u.y - v.y;
                return dx * dx + dy * dy;
            };
            const double ab2 = d2(a, b), cd2 = d2(c, d);
            return !(cd2 > p_.pores_min_dist2 && ab2 / cd2 <= p_.pores_max_ratio);
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
