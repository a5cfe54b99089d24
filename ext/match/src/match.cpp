// Minutiae matcher: templates from the NFIQ detector's minutiae, alignment seeded by
// minutiae whose neighbourhoods agree, a rigid fit refined on the pairs found, and a score
// from the pairs relative to the minutiae of the common area.
#include "fpmatch.h"
#include "nfiq_core.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {
constexpr double kPi = 3.14159265358979323846;
constexpr int kNeighbours = 7;           // neighbours in a minutia's local structure
constexpr float kNeighbourMax = 130;     // farther minutiae are no neighbours (pixels)
constexpr float kMinReliability = 0.05f; // detector reliabilities run 0.01 .. 0.99
constexpr double kOverlapFloor = 12;     // fewest minutiae a common area is taken to hold
constexpr size_t kSeedMinutiae = 20;     // alignments are sought among the most reliable minutiae
constexpr size_t kSeeds = 12;            // alignments tried, best local similarities first
constexpr int kBlock = 8;                // the detector's map block size

struct Minutia {
    float x, y;
    float a; // direction, radians, atan2 in image coordinates (y down)
    float rel;
};

// Angles in a neighbourhood are kept in 1/65536 of a full turn, so that the difference of
// two is one 16-bit subtraction.
using Angle16 = uint16_t;
constexpr float kAngleUnits = 65536.0f / static_cast<float>(2 * kPi);

Angle16 to_angle16(float radians) {
    const long u = std::lround(radians * kAngleUnits);
    return static_cast<Angle16>(static_cast<unsigned long>(u) & 0xffffu);
}

int angle16_diff(Angle16 a, Angle16 b) {
    return std::abs(static_cast<int>(static_cast<int16_t>(static_cast<uint16_t>(a - b))));
}

struct Neighbour {
    float d;     // distance; the neighbours of a minutia are listed nearest first
    Angle16 phi; // direction of the line to the neighbour, relative to the minutia's
    Angle16 psi; // the neighbour's direction relative to the minutia's
};

float wrap(float a) { // to (-pi, pi]
    constexpr float pi = static_cast<float>(kPi), two_pi = static_cast<float>(2 * kPi);
    while (a > pi)
        a -= two_pi;
    while (a <= -pi)
        a += two_pi;
    return a;
}

float dist(float dx, float dy) {
    return std::sqrt(dx * dx + dy * dy);
}

float adiff(float a, float b) {
    return std::fabs(wrap(a - b));
}

} // namespace

struct fpmatch_template {
    int width = 0, height = 0;
    int map_w = 0, map_h = 0;
    std::vector<uint8_t> fg;    // 1 where the block is foreground, map_w × map_h
    std::vector<uint8_t> inner; // per minutia: no background block next to its own
    uint64_t key = 0;           // a hash of the minutiae, to order two templates
    std::vector<Minutia> m;
    std::vector<Neighbour> nb; // kNeighbours a minutia, the first nbn[i] of them present
    std::vector<uint8_t> nbn;

    bool foreground(float x, float y) const {
        if (x < 0 || y < 0 || x >= width || y >= height || map_w == 0)
            return false;
        const int bx = std::min(static_cast<int>(x) / kBlock, map_w - 1);
        const int by = std::min(static_cast<int>(y) / kBlock, map_h - 1);
        return fg[static_cast<size_t>(by) * map_w + bx] != 0;
    }
};

namespace {

void build_neighbours(fpmatch_template& t) {
    const size_t n = t.m.size();
    t.nb.assign(n * kNeighbours, Neighbour{0, 0, 0});
    t.nbn.assign(n, 0);
    std::vector<std::pair<float, size_t>> near;
    near.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        near.clear();
        for (size_t j = 0; j < n; ++j) {
            if (j == i)
                continue;
            const float d = dist(t.m[j].x - t.m[i].x, t.m[j].y - t.m[i].y);
            if (d > 0 && d <= kNeighbourMax)
                near.emplace_back(d, j);
        }
        const size_t k = std::min<size_t>(kNeighbours, near.size());
        t.nbn[i] = static_cast<uint8_t>(k);
        std::partial_sort(near.begin(), near.begin() + static_cast<ptrdiff_t>(k), near.end());
        for (size_t q = 0; q < k; ++q) {
            const Minutia& a = t.m[i];
            const Minutia& b = t.m[near[q].second];
            Neighbour& e = t.nb[i * kNeighbours + q];
            e.d = near[q].first;
            e.phi = to_angle16(std::atan2(b.y - a.y, b.x - a.x) - a.a);
            e.psi = to_angle16(b.a - a.a);
        }
    }
}

// How well the neighbourhoods of minutia i of a and k of b agree, 0 .. 1.
float local_similarity(const fpmatch_template& a, size_t i, const fpmatch_template& b, size_t k) {
    constexpr float kPhiTol = 0.35f * kAngleUnits, kPsiTol = 0.55f * kAngleUnits;
    const Neighbour* na = &a.nb[i * kNeighbours];
    const Neighbour* nb = &b.nb[k * kNeighbours];
    const int ca = a.nbn[i], cb = b.nbn[k];
    float sum = 0;
    bool used[kNeighbours] = {};
    for (int u = 0; u < ca; ++u) {
        float best = 0;
        int bestv = -1;
        const float td = 6 + 0.1f * na[u].d;
        for (int v = 0; v < cb; ++v) {
            const float dd = std::fabs(na[u].d - nb[v].d);
            if (dd >= td) {
                if (nb[v].d > na[u].d)
                    break; // the rest lie farther still
                continue;
            }
            const int dp = angle16_diff(na[u].phi, nb[v].phi);
            if (dp >= kPhiTol || used[v])
                continue;
            const int ds = angle16_diff(na[u].psi, nb[v].psi);
            if (ds >= kPsiTol)
                continue;
            const float s =
                1 -
                (dd / td + static_cast<float>(dp) / kPhiTol + static_cast<float>(ds) / kPsiTol) / 3;
            if (s > best) {
                best = s;
                bestv = v;
            }
        }
        if (bestv >= 0) {
            used[bestv] = true;
            sum += best;
        }
    }
    const int c = std::max(std::min(ca, cb), 3);
    return sum / static_cast<float>(c);
}

struct Transform {
    float c = 1, s = 0, tx = 0, ty = 0, rot = 0; // p_a = R(rot) p_b + t
    void apply(float x, float y, float& ox, float& oy) const {
        ox = c * x - s * y + tx;
        oy = s * x + c * y + ty;
    }
};

Transform from_pair(const Minutia& ma, const Minutia& mb) {
    Transform t;
    t.rot = wrap(ma.a - mb.a);
    t.c = std::cos(t.rot);
    t.s = std::sin(t.rot);
    t.tx = ma.x - (t.c * mb.x - t.s * mb.y);
    t.ty = ma.y - (t.s * mb.x + t.c * mb.y);
    return t;
}

struct Pair {
    int i, k;
};

// One-to-one pairs of minutiae that lie within the tolerances after the transform, the
// closest first. The distance tolerance grows away from (cx, cy), where the alignment is
// anchored, since a finger pressed twice stretches differently across its surface.
void pair_minutiae(const fpmatch_template& a, const fpmatch_template& b, const Transform& t,
                   float cx, float cy, float base, float grow, float angle_tol,
                   std::vector<float>& bx, std::vector<float>& by, std::vector<Pair>& out) {
    const size_t nb = b.m.size(), na = a.m.size();
    bx.resize(nb);
    by.resize(nb);
    for (size_t k = 0; k < nb; ++k)
        t.apply(b.m[k].x, b.m[k].y, bx[k], by[k]);
    struct Cand {
        float d;
        int i, k;
    };
    std::vector<Cand> cands;
    cands.reserve(na * 2);
    for (size_t i = 0; i < na; ++i) {
        const Minutia& ma = a.m[i];
        const float tol = base + grow * dist(ma.x - cx, ma.y - cy);
        for (size_t k = 0; k < nb; ++k) {
            const float dx = bx[k] - ma.x, dy = by[k] - ma.y;
            if (std::fabs(dx) > tol || std::fabs(dy) > tol)
                continue;
            const float d = dist(dx, dy);
            if (d > tol)
                continue;
            if (adiff(ma.a, b.m[k].a + t.rot) > angle_tol)
                continue;
            cands.push_back({d / tol, static_cast<int>(i), static_cast<int>(k)});
        }
    }
    std::sort(cands.begin(), cands.end(), [](const Cand& p, const Cand& q) { return p.d < q.d; });
    std::vector<uint8_t> ua(na), ub(nb);
    out.clear();
    for (const Cand& c : cands) {
        if (ua[c.i] || ub[c.k])
            continue;
        ua[c.i] = ub[c.k] = 1;
        out.push_back({c.i, c.k});
    }
}

// Least-squares rotation and translation taking b's paired minutiae onto a's.
Transform fit(const fpmatch_template& a, const fpmatch_template& b, const std::vector<Pair>& p) {
    double ax = 0, ay = 0, bx = 0, by = 0;
    for (const Pair& q : p) {
        ax += a.m[q.i].x;
        ay += a.m[q.i].y;
        bx += b.m[q.k].x;
        by += b.m[q.k].y;
    }
    const double n = static_cast<double>(p.size());
    ax /= n, ay /= n, bx /= n, by /= n;
    double sxx = 0, sxy = 0;
    for (const Pair& q : p) {
        const double px = b.m[q.k].x - bx, py = b.m[q.k].y - by;
        const double qx = a.m[q.i].x - ax, qy = a.m[q.i].y - ay;
        sxx += px * qx + py * qy;
        sxy += px * qy - py * qx;
    }
    Transform t;
    t.rot = static_cast<float>(std::atan2(sxy, sxx));
    t.c = std::cos(t.rot);
    t.s = std::sin(t.rot);
    t.tx = static_cast<float>(ax - (t.c * bx - t.s * by));
    t.ty = static_cast<float>(ay - (t.s * bx + t.c * by));
    return t;
}

int score_alignment(const fpmatch_template& a, const fpmatch_template& b, const Transform& t,
                    double pairs) {
    // Minutiae each print could show in the other: those that fall on the other's
    // foreground. Minutiae at the edge of their own print (where a print cut short by the
    // platen ends its ridges) are not expected to show in the other.
    const float ic = t.c, is = -t.s;
    int oa = 0, ob = 0;
    for (size_t q = 0; q < a.m.size(); ++q) {
        const Minutia& m = a.m[q];
        const float x = m.x - t.tx, y = m.y - t.ty;
        oa += a.inner[q] && b.foreground(ic * x - is * y, is * x + ic * y);
    }
    for (size_t q = 0; q < b.m.size(); ++q) {
        const Minutia& m = b.m[q];
        float x, y;
        t.apply(m.x, m.y, x, y);
        ob += b.inner[q] && a.foreground(x, y);
    }
    const double n = pairs;
    const double da = std::max<double>(oa, kOverlapFloor), db = std::max<double>(ob, kOverlapFloor);
    const double s = 100.0 * n / std::sqrt(da * db);
    return static_cast<int>(std::lround(std::min(s, static_cast<double>(FPMATCH_MAX_SCORE))));
}

int compare(const fpmatch_template& a, const fpmatch_template& b) {
    const size_t na = a.m.size(), nb = b.m.size();
    if (na < FPMATCH_MIN_MINUTIAE || nb < FPMATCH_MIN_MINUTIAE)
        return 0;
    struct Seed {
        float s;
        int i, k;
    };
    std::vector<Seed> seeds;
    seeds.reserve(na * nb / 4);
    const size_t sa = std::min<size_t>(na, kSeedMinutiae), sb = std::min<size_t>(nb, kSeedMinutiae);
    for (size_t i = 0; i < sa; ++i)
        for (size_t k = 0; k < sb; ++k) {
            const float s = local_similarity(a, i, b, k);
            if (s > 0.25f)
                seeds.push_back({s, static_cast<int>(i), static_cast<int>(k)});
        }
    const size_t keep = std::min(kSeeds, seeds.size());
    std::partial_sort(seeds.begin(), seeds.begin() + static_cast<ptrdiff_t>(keep), seeds.end(),
                      [](const Seed& p, const Seed& q) { return p.s > q.s; });
    int best = 0;
    std::vector<float> bx, by;
    std::vector<Pair> pairs;
    for (size_t q = 0; q < keep; ++q) {
        const Minutia& ma = a.m[seeds[q].i];
        Transform t = from_pair(ma, b.m[seeds[q].k]);
        pair_minutiae(a, b, t, ma.x, ma.y, 12, 0.08f, 0.6f, bx, by, pairs);
        if (pairs.size() < 3)
            continue;
        for (int it = 0; it < 2; ++it) {
            t = fit(a, b, pairs);
            pair_minutiae(a, b, t, ma.x, ma.y, 10, 0.06f, 0.45f, bx, by, pairs);
            if (pairs.size() < 3)
                break;
        }
        if (pairs.size() < 3)
            continue;
        // A pair counts more when the two minutiae's neighbourhoods agree too: chance
        // pairs between different fingers rarely bring their neighbours along.
        double n = 0;
        for (const Pair& pr : pairs)
            n += 0.3 + 0.7 * std::min(1.0f, local_similarity(a, pr.i, b, pr.k));
        best = std::max(best, score_alignment(a, b, t, n));
    }
    return best;
}

} // namespace

extern "C" {

const char* fpmatch_strerror(int code) {
    switch (code) {
    case FPMATCH_OK:
        return "success";
    case FPMATCH_EINVAL:
        return "invalid argument";
    case FPMATCH_ENOMEM:
        return "out of memory";
    case FPMATCH_ESIZE:
        return "image size out of range";
    default:
        return "unknown error";
    }
}

int fpmatch_extract(const uint8_t* pixels, int width, int height, int reserved,
                    fpmatch_template** out) {
    if (!out)
        return FPMATCH_EINVAL;
    *out = nullptr;
    if (!pixels || reserved != 0)
        return FPMATCH_EINVAL;
    if (width <= 0 || height <= 0 || width > FPMATCH_MAX_SIDE || height > FPMATCH_MAX_SIDE)
        return FPMATCH_ESIZE;
    try {
        auto t = std::make_unique<fpmatch_template>();
        t->width = width;
        t->height = height;
        if (width >= nfiq::kMinSide && height >= nfiq::kMinSide) {
            const nfiq::Result r = nfiq::assess(pixels, width, height);
            t->map_w = r.map_w;
            t->map_h = r.map_h;
            t->fg.resize(r.quality_map.size());
            for (size_t q = 0; q < r.quality_map.size(); ++q)
                t->fg[q] = r.quality_map[q] > 0;
            for (const nfiq::Minutia& m : r.minutiae) {
                if (m.reliability < kMinReliability)
                    continue;
                // Direction 0 points up the image, steps of 11.25° clockwise on screen.
                const double d = m.direction * kPi / 16;
                t->m.push_back({static_cast<float>(m.x), static_cast<float>(m.y),
                                static_cast<float>(std::atan2(-std::cos(d), std::sin(d))),
                                static_cast<float>(m.reliability)});
            }
            // Most reliable first: alignments are sought among the first ones only.
            std::stable_sort(t->m.begin(), t->m.end(),
                             [](const Minutia& p, const Minutia& q) { return p.rel > q.rel; });
            if (t->m.size() > FPMATCH_MAX_MINUTIAE)
                t->m.resize(FPMATCH_MAX_MINUTIAE);
            build_neighbours(*t);
            uint64_t h = 1469598103934665603ull; // FNV-1a over the positions and directions
            for (const Minutia& m : t->m)
                for (float f : {m.x, m.y, m.a}) {
                    uint32_t bits;
                    std::memcpy(&bits, &f, sizeof bits);
                    h = (h ^ bits) * 1099511628211ull;
                }
            t->key = h;
            for (const Minutia& m : t->m) {
                bool in = true;
                for (int dy = -2; dy <= 2; ++dy)
                    for (int dx = -2; dx <= 2; ++dx)
                        in = in && t->foreground(m.x + dx * kBlock, m.y + dy * kBlock);
                t->inner.push_back(in);
            }
        }
        *out = t.release();
        return FPMATCH_OK;
    } catch (const std::bad_alloc&) {
        return FPMATCH_ENOMEM;
    }
}

int fpmatch_minutiae(const fpmatch_template* t) {
    return t ? static_cast<int>(t->m.size()) : -1;
}

int fpmatch_compare(const fpmatch_template* a, const fpmatch_template* b, int* score) {
    if (!score)
        return FPMATCH_EINVAL;
    *score = 0;
    if (!a || !b)
        return FPMATCH_EINVAL;
    try {
        // Symmetric: the two templates are always taken in the same order.
        const bool swap =
            b->m.size() < a->m.size() || (b->m.size() == a->m.size() && b->key < a->key);
        *score = swap ? compare(*b, *a) : compare(*a, *b);
        return FPMATCH_OK;
    } catch (const std::bad_alloc&) {
        return FPMATCH_ENOMEM;
    }
}

void fpmatch_free(fpmatch_template* t) {
    delete t;
}

} // extern "C"
