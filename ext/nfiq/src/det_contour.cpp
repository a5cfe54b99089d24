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
    static constexpr int kIndex[3][3] = {{7, 0, 1}, {6, -1, 2}, {5, 4, 3}};
    if (dx < -1 || dx > 1 || dy < -1 || dy > 1) {
        return -1;
    }
    return kIndex[dy + 1][dx + 1];
}

// The look-round of next_contour_pixel for a pixel whose 8 neighbours all lie inside the
// image: the same rule without bounds tests.
// `off` holds the offsets of the 8 neighbours in the image, in the order of kNbrDx.
inline bool next_inside(const Bin& b, const ptrdiff_t* off, const ContourPt& cur, int i,
                        bool clockwise, ContourPt& next) {
    const uint8_t* c = b.px + static_cast<size_t>(cur.y) * b.w + cur.x;
    const int turn = clockwise ? 1 : 7;
    const uint8_t feature = *c;
    const uint8_t edge = c[off[i]];
    uint8_t prev = edge;
    int prev_i = i;
    for (int k = 0; k < 8; ++k) {
        i = (i + turn) & 7;
        const uint8_t v = c[off[i]];
        if (v == feature && prev == edge) {
            if ((i & 1) == 0 || c[off[(i + turn) & 7]] == feature) {
                next = {cur.x + kNbrDx[i], cur.y + kNbrDy[i], cur.x + kNbrDx[prev_i],
                        cur.y + kNbrDy[prev_i]};
                return true;
            }
            // A diagonal touching only at a corner: resume after the next neighbour.
            i = (i + turn) & 7;
            ++k;
            prev = c[off[i]];
            prev_i = i;
            continue;
        }
        prev = v;
        prev_i = i;
    }
    return false;
}

// The look-round next to the image border, with bounds tests; i is the edge pixel's index.
bool next_at_border(const Bin& b, const ContourPt& cur, int i, bool clockwise, ContourPt& next) {
    const uint8_t feature = b.at(cur.x, cur.y);
    const uint8_t edge = b.at(cur.ex, cur.ey);
    auto step = [clockwise](int k) { return clockwise ? (k + 1) % 8 : (k + 7) % 8; };
    int prev_x = cur.ex, prev_y = cur.ey;
    uint8_t prev = edge;
    for (int k = 0; k < 8; ++k) {
        i = step(i);
        const int nx = cur.x + kNbrDx[i], ny = cur.y + kNbrDy[i];
        if (!b.inside(nx, ny)) {
            return false;
        }
        uint8_t v = b.at(nx, ny);
        if (v == feature && prev == edge) {
            if (i % 2 == 0) {
                next = {nx, ny, prev_x, prev_y};
                return true;
            }
            // A diagonal neighbour: taken when the neighbour after it is feature too,
            // otherwise the look-round resumes after that neighbour.
            const int j = step(i);
            const int jx = cur.x + kNbrDx[j], jy = cur.y + kNbrDy[j];
            if (!b.inside(jx, jy)) {
                return false;
            }
            const uint8_t w = b.at(jx, jy);
            if (w == feature) {
                next = {nx, ny, prev_x, prev_y};
                return true;
            }
            i = j;
            ++k;
            prev_x = jx;
            prev_y = jy;
            prev = w;
            continue;
        }
        prev_x = nx;
        prev_y = ny;
        prev = v;
    }
    return false;
}

struct Offsets {
    ptrdiff_t v[8];
    explicit Offsets(const Bin& b) {
        const ptrdiff_t w = b.w;
        const ptrdiff_t o[8] = {-w, -w + 1, 1, w + 1, w, w - 1, -1, -w - 1};
        std::copy(o, o + 8, v);
    }
};

inline bool step(const Bin& b, const Offsets& off, const ContourPt& cur, bool clockwise,
                 ContourPt& next) {
    const int i = neighbour_index(cur.ex - cur.x, cur.ey - cur.y);
    if (i < 0 || (i & 1) || !b.inside(cur.x, cur.y) || !b.inside(cur.ex, cur.ey)) {
        return false; // the edge pixel must be a 4-neighbour
    }
    if (cur.x > 0 && cur.y > 0 && cur.x < b.w - 1 && cur.y < b.h - 1) {
        return next_inside(b, off.v, cur, i, clockwise, next);
    }
    return next_at_border(b, cur, i, clockwise, next);
}

} // namespace

bool next_contour_pixel(const Bin& b, const ContourPt& cur, bool clockwise, ContourPt& next) {
    return step(b, Offsets(b), cur, clockwise, next);
}

Trace trace_contour(const Bin& b, int max_len, int loop_x, int loop_y, const ContourPt& start,
                    bool clockwise, Contour& out) {
    out.clear();
    if (!b.inside(start.x, start.y) || !b.inside(start.ex, start.ey) ||
        b.at(start.x, start.y) == b.at(start.ex, start.ey)) {
        return Trace::Ignore;
    }
    const Offsets off(b);
    ContourPt cur = start;
    for (int i = 0; i < max_len; ++i) {
        ContourPt nxt;
        if (!step(b, off, cur, clockwise, nxt)) {
            return Trace::Ok; // stops short
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
    // Scratch halves kept per thread: contours are traced for most minutiae.
    thread_local Contour cw, ccw;
    Trace r = trace_contour(b, half, start.x, start.y, start, true, cw);
    if (r != Trace::Ok) {
        return r;
    }
    if (static_cast<int>(cw.size()) < half) {
        return Trace::Ignore;
    }
    const ContourPt& last = cw.back();
    r = trace_contour(b, half, last.x, last.y, start, false, ccw);
    if (r != Trace::Ok) {
        return r;
    }
    if (static_cast<int>(ccw.size()) < half) {
        return Trace::Ignore;
    }
    out.assign(cw.rbegin(), cw.rend());
    out.push_back(start);
    out.insert(out.end(), ccw.begin(), ccw.end());
    return Trace::Ok;
}

Search search_contour(const Bin& b, int tx, int ty, int max_len, const ContourPt& start,
                      bool clockwise) {
    const Offsets off(b);
    ContourPt cur = start;
    for (int i = 0; i < max_len; ++i) {
        ContourPt nxt;
        if (!step(b, off, cur, clockwise, nxt)) {
            return Search::NotFound;
        }
        if (nxt.x == tx && nxt.y == ty) {
            return Search::Found;
        }
        cur = nxt;
    }
    return Search::NotFound;
}

namespace {

// Chain code of the step from one pixel to an 8-neighbour: 0 east, counting up
// counter-clockwise on screen; -1 when the pixels are not neighbours.
int chain_code(int dx, int dy) {
    static constexpr int kCodes[3][3] = {{3, 2, 1}, {4, -1, 0}, {5, 6, 7}};
    if (dx < -1 || dx > 1 || dy < -1 || dy > 1) {
        return -1;
    }
    return kCodes[dy + 1][dx + 1];
}

} // namespace

bool loop_is_clockwise(const Contour& c, bool if_degenerate) {
    const size_t n = c.size();
    if (n <= 3) {
        return if_degenerate;
    }
    std::vector<int> chain(n);
    for (size_t i = 0; i < n; ++i) {
        const ContourPt& p = c[i];
        const ContourPt& q = c[(i + 1) % n];
        chain[i] = chain_code(q.x - p.x, q.y - p.y);
    }
    // Left turns count up, right turns down.
    int sum = 0;
    for (size_t i = 0; i < n; ++i) {
        int d = chain[(i + 1) % n] - chain[i];
        if (d >= 4) {
            d -= 8;
        } else if (d <= -4) {
            d += 8;
        }
        sum += d;
    }
    if (sum == 0) {
        return if_degenerate;
    }
    return sum < 0;
}

void fill_loop(Bin& b, const Contour& c) {
    if (c.empty() || !b.inside(c[0].x, c[0].y)) {
        return;
    }
    for (const ContourPt& p : c) {
        if (!b.inside(p.x, p.y)) {
            return;
        }
    }
    const uint8_t edge = b.at(c[0].x, c[0].y) ? 0 : 1;
    // The distinct contour x positions of each row, in increasing order.
    std::map<int, std::vector<int>> rows;
    for (const ContourPt& p : c) {
        std::vector<int>& xs = rows[p.y];
        if (std::find(xs.begin(), xs.end(), p.x) == xs.end()) {
            xs.push_back(p.x);
        }
    }
    for (auto& [y, xs] : rows) {
        std::sort(xs.begin(), xs.end());
        size_t j = 0;
        int x = xs[0];
        b.set(x, y, edge);
        while (j + 1 < xs.size()) {
            ++x;
            ++j;
            if (b.at(x, y) == edge) {
                x = xs[j]; // a concavity: only the next contour point is filled
                b.set(x, y, edge);
            } else {
                // Fill up to the next contour point. x stays where the run began, so the
                // test above next looks at a pixel of this run (unless it was one pixel
                // long) and passes over the following gap: filling stays conservative.
                for (int f = x; f <= xs[j]; ++f) {
                    b.set(f, y, edge);
                }
            }
        }
    }
}

int line_to_direction(int fx, int fy, int tx, int ty, int full_ndirs) {
    constexpr double kTwoPi = 2.0 * std::numbers::pi;
    const double dx = tx - fx, up = fy - ty;
    // Angle measured clockwise on screen from "up"; none between identical points.
    double theta = (std::fabs(dx) < 0.5 && std::fabs(up) < 0.5) ? 0.0 : std::atan2(dx, up);
    theta = std::fmod(theta + kTwoPi, kTwoPi);
    theta *= static_cast<double>(full_ndirs) / kTwoPi;
    return sround(trunc_prec(theta)) % full_ndirs;
}

int dir_distance(int a, int b, int n) {
    int d = std::abs(a - b) % n;
    return std::min(d, n - d);
}

void dir_step(int dir, double steps, int full_ndirs, int& dx, int& dy) {
    const double theta = dir * (std::numbers::pi / (full_ndirs / 2));
    dx = sround(trunc_prec(std::sin(theta) * steps));
    dy = -sround(trunc_prec(std::cos(theta) * steps));
}

std::vector<std::pair<int, int>> line_points(int x1, int y1, int x2, int y2) {
    const int dx = x2 - x1, dy = y2 - y1;
    const int adx = std::abs(dx), ady = std::abs(dy);
    const int sx = dx >= 0 ? 1 : -1, sy = dy >= 0 ? 1 : -1;
    std::vector<std::pair<int, int>> pts;
    pts.reserve(static_cast<size_t>(std::max(adx, ady)) + 1);
    pts.emplace_back(x1, y1);
    // The longer axis steps one pixel at a time; the other coordinate accumulates its slope
    // (rounded to 1/16384 at each step) and is rounded half up. On a diagonal both step.
    const bool along_x = adx > ady, along_y = ady > adx;
    const double fx = along_y ? static_cast<double>(dx) / std::max(1, ady) : sx;
    const double fy = along_x ? static_cast<double>(dy) / std::max(1, adx) : sy;
    double rx = x1, ry = y1;
    int x = x1, y = y1;
    const size_t limit = static_cast<size_t>(std::max(adx, ady)) + 1;
    while ((x != x2 || y != y2) && pts.size() < limit) {
        rx = trunc_prec(rx + fx);
        ry = trunc_prec(ry + fy);
        x = along_y ? static_cast<int>(rx + 0.5) : x + sx;
        y = along_x ? static_cast<int>(ry + 0.5) : y + sy;
        pts.emplace_back(x, y);
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
