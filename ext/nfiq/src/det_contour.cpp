// Contour tracing and digital geometry for the minutia detector.
#include "detector.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <map>
#include <numbers>

namespace lfs::det {

namespace {

// The 8 neighbours, starting north and going clockwise on screen (y grows downwards).
constexpr int kNbrDx[8] = {0, 1, 1, 1, 0, -1, -1, -1};
constexpr int kNbrDy[8] = {-1, -1, 0, 1, 1, 1, 0, -1};

int neighbour_index(int dx, int dy) {
    for (int i = 0; i < 8; ++i) {
        if (kNbrDx[i] == dx && kNbrDy[i] == dy) {
            return i;
        }
    }
    return -1;
}

} // namespace

bool next_contour_pixel(const Bin& b, const ContourPt& cur, bool clockwise, ContourPt& next) {
    const int start = neighbour_index(cur.ex - cur.x, cur.ey - cur.y);
    if (start < 0 || !b.inside(cur.x, cur.y)) {
        return false;
    }
    const uint8_t feature = b.at(cur.x, cur.y);
    int prev_x = cur.ex, prev_y = cur.ey;
    for (int k = 1; k < 8; ++k) {
        const int i = clockwise ? (start + k) % 8 : (start + 8 - k) % 8;
        const int nx = cur.x + kNbrDx[i], ny = cur.y + kNbrDy[i];
        if (!b.inside(nx, ny)) {
            return false;
        }
        if (b.at(nx, ny) == feature) {
            // A diagonal neighbour whose two flanking neighbours both have the other value
            // touches the current pixel only at a corner: the feature is followed through
            // edge-connected pixels only, so such a corner is passed over.
            if (i % 2 == 1) {
                const int j = clockwise ? (i + 1) % 8 : (i + 7) % 8;
                const int jx = cur.x + kNbrDx[j], jy = cur.y + kNbrDy[j];
                if (b.inside(jx, jy) && b.at(jx, jy) != feature) {
                    prev_x = nx;
                    prev_y = ny;
                    continue;
                }
            }
            next = {nx, ny, prev_x, prev_y};
            return true;
        }
        prev_x = nx;
        prev_y = ny;
    }
    return false;
}

Trace trace_contour(const Bin& b, int max_len, int loop_x, int loop_y, const ContourPt& start,
                    bool clockwise, Contour& out) {
    out.clear();
    ContourPt cur = start;
    for (int i = 0; i < max_len; ++i) {
        ContourPt nxt;
        if (!next_contour_pixel(b, cur, clockwise, nxt)) {
            return Trace::Fail;
        }
        if (nxt.x == loop_x && nxt.y == loop_y) {
            return Trace::Loop;
        }
        out.push_back(nxt);
        cur = nxt;
    }
    return Trace::Ok;
}

Trace centered_contour(const Bin& b, int half, const ContourPt& start, Contour& out) {
    out.clear();
    Contour ccw, cw;
    Trace r = trace_contour(b, half, start.x, start.y, start, false, ccw);
    if (r == Trace::Fail) {
        return r;
    }
    if (r == Trace::Loop) {
        out.push_back(start);
        out.insert(out.end(), ccw.begin(), ccw.end());
        return r;
    }
    const ContourPt& last = ccw.back();
    r = trace_contour(b, half, last.x, last.y, start, true, cw);
    if (r == Trace::Fail) {
        return r;
    }
    out.assign(cw.rbegin(), cw.rend());
    out.push_back(start);
    out.insert(out.end(), ccw.begin(), ccw.end());
    return r;
}

Search search_contour(const Bin& b, int tx, int ty, int max_len, const ContourPt& start,
                      bool clockwise) {
    ContourPt cur = start;
    for (int i = 0; i < max_len; ++i) {
        ContourPt nxt;
        if (!next_contour_pixel(b, cur, clockwise, nxt)) {
            return Search::Fail;
        }
        if (nxt.x == tx && nxt.y == ty) {
            return Search::Found;
        }
        cur = nxt;
    }
    return Search::NotFound;
}

bool loop_is_clockwise(const Contour& c, bool if_degenerate) {
    if (c.size() < 3) {
        return if_degenerate;
    }
    long area2 = 0;
    for (size_t i = 0; i < c.size(); ++i) {
        const ContourPt& p = c[i];
        const ContourPt& q = c[(i + 1) % c.size()];
        area2 += static_cast<long>(p.x) * q.y - static_cast<long>(q.x) * p.y;
    }
    if (area2 == 0) {
        return if_degenerate;
    }
    // With y growing downwards a positive shoelace sum is a clockwise turn on screen.
    return area2 > 0;
}

void fill_loop(Bin& b, const Contour& c) {
    if (c.empty() || !b.inside(c[0].x, c[0].y)) {
        return;
    }
    const uint8_t edge = static_cast<uint8_t>(1 - b.at(c[0].x, c[0].y));
    std::map<int, std::pair<int, int>> rows;
    for (const ContourPt& p : c) {
        auto [it, fresh] = rows.try_emplace(p.y, p.x, p.x);
        if (!fresh) {
            it->second.first = std::min(it->second.first, p.x);
            it->second.second = std::max(it->second.second, p.x);
        }
    }
    for (const auto& [y, span] : rows) {
        for (int x = span.first; x <= span.second; ++x) {
            if (b.inside(x, y)) {
                b.set(x, y, edge);
            }
        }
    }
}

int line_to_direction(int fx, int fy, int tx, int ty, int full_ndirs) {
    const double dx = tx - fx, dy = ty - fy;
    if (dx == 0 && dy == 0) {
        return 0;
    }
    // Angle measured clockwise on screen from "up".
    double theta = std::atan2(dx, -dy);
    if (theta < 0) {
        theta += 2.0 * std::numbers::pi;
    }
    const int d = sround(trunc_prec(theta * full_ndirs / (2.0 * std::numbers::pi)));
    return ((d % full_ndirs) + full_ndirs) % full_ndirs;
}

int dir_distance(int a, int b, int n) {
    int d = std::abs(a - b) % n;
    return std::min(d, n - d);
}

void dir_step(int dir, double steps, int full_ndirs, int& dx, int& dy) {
    const double theta = dir * 2.0 * std::numbers::pi / full_ndirs;
    dx = sround(trunc_prec(std::sin(theta) * steps));
    dy = sround(trunc_prec(-std::cos(theta) * steps));
}

std::vector<std::pair<int, int>> line_points(int x1, int y1, int x2, int y2) {
    const int dx = x2 - x1, dy = y2 - y1;
    const int n = std::max(std::abs(dx), std::abs(dy));
    std::vector<std::pair<int, int>> pts;
    pts.reserve(static_cast<size_t>(n) + 1);
    if (n == 0) {
        pts.emplace_back(x1, y1);
        return pts;
    }
    for (int i = 0; i <= n; ++i) {
        const double t = static_cast<double>(i) / n;
        pts.emplace_back(x1 + sround(trunc_prec(t * dx)), y1 + sround(trunc_prec(t * dy)));
    }
    return pts;
}

int line_transitions(const Bin& b, int x1, int y1, int x2, int y2) {
    int changes = 0;
    int prev = -1;
    for (auto [x, y] : line_points(x1, y1, x2, y2)) {
        if (!b.inside(x, y)) {
            return INT_MAX;
        }
        const int v = b.at(x, y);
        if (prev >= 0 && v != prev) {
            ++changes;
        }
        prev = v;
    }
    return changes;
}

} // namespace lfs::det
