// Directional binarisation of the padded 6-bit image (NIST's LFS version 2).
//
// Each pixel of a block with a valid ridge direction is compared with its neighbourhood
// along that direction: a 7-wide × 9-high grid, rotated so that its rows run along the
// ridge, is centred on the pixel. The pixel is ridge (1) when the centre row is darker than
// the average row, valley (0) otherwise. Pixels of blocks without a direction are valley.
// One-pixel holes are then filled along rows and columns.
#include "detector.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace lfs {

namespace {

// Pixel offsets (relative to the centre, in the padded image) of the rotated grid for each
// block direction; rows of the grid follow the ridge direction.
std::vector<std::vector<long>> rotated_grids(const Params& p, int padded_w) {
    const int gw = p.dirbin_grid_w, gh = p.dirbin_grid_h;
    const double cx = (gw - 1) / 2.0, cy = (gh - 1) / 2.0;
    std::vector<std::vector<long>> grids(static_cast<size_t>(p.num_directions));
    for (int d = 0; d < p.num_directions; ++d) {
        const double theta = p.start_dir_angle + d * std::numbers::pi / p.num_directions;
        const double cs = std::cos(theta), sn = std::sin(theta);
        auto& g = grids[static_cast<size_t>(d)];
        g.reserve(static_cast<size_t>(gw) * gh);
        for (int j = 0; j < gh; ++j) {
            const double fy = j - cy;
            for (int i = 0; i < gw; ++i) {
                const double fx = i - cx;
                const int rx = sround(trunc_prec(fx * cs - fy * sn));
                const int ry = sround(trunc_prec(fx * sn + fy * cs));
                g.push_back(static_cast<long>(ry) * padded_w + rx);
            }
        }
    }
    return grids;
}

// Ridge (1) or valley (0) for n consecutive pixels of one image row that share one grid
// (direction); c points to the first pixel in the padded image, out to its binary pixel.
void binarize_scalar(const uint8_t* c, const long* g, int gw, int gh, int n, uint8_t* out) {
    const int centre_row = (gh - 1) / 2;
    for (int k = 0; k < n; ++k, ++c) {
        long total = 0, centre = 0;
        for (int j = 0; j < gh; ++j) {
            long row = 0;
            for (int i = 0; i < gw; ++i)
                row += c[g[j * gw + i]];
            total += row;
            if (j == centre_row)
                centre = row;
        }
        out[k] = centre * gh < total ? 1 : 0;
    }
}

#ifdef __SSE2__
// The same for 16 pixels at once: each grid point is one 16-byte load shared by all of
// them. Sums stay below 2^15 (checked by the caller), so 16-bit lanes hold them.
void binarize16(const uint8_t* c, const long* g, int gw, int gh, uint8_t* out) {
    const int centre_row = (gh - 1) / 2;
    const __m128i zero = _mm_setzero_si128();
    __m128i tlo = zero, thi = zero, clo = zero, chi = zero;
    for (int j = 0; j < gh; ++j) {
        __m128i rlo = zero, rhi = zero;
        for (int i = 0; i < gw; ++i) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + g[j * gw + i]));
            rlo = _mm_add_epi16(rlo, _mm_unpacklo_epi8(v, zero));
            rhi = _mm_add_epi16(rhi, _mm_unpackhi_epi8(v, zero));
        }
        tlo = _mm_add_epi16(tlo, rlo);
        thi = _mm_add_epi16(thi, rhi);
        if (j == centre_row) {
            clo = rlo;
            chi = rhi;
        }
    }
    const __m128i k = _mm_set1_epi16(static_cast<short>(gh));
    const __m128i lo = _mm_cmplt_epi16(_mm_mullo_epi16(clo, k), tlo);
    const __m128i hi = _mm_cmplt_epi16(_mm_mullo_epi16(chi, k), thi);
    const __m128i bits = _mm_and_si128(_mm_packs_epi16(lo, hi), _mm_set1_epi8(1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bits);
}

// 8 pixels (one block row).
void binarize8(const uint8_t* c, const long* g, int gw, int gh, uint8_t* out) {
    const int centre_row = (gh - 1) / 2;
    const __m128i zero = _mm_setzero_si128();
    __m128i total = zero, centre = zero;
    for (int j = 0; j < gh; ++j) {
        __m128i row = zero;
        for (int i = 0; i < gw; ++i) {
            const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(c + g[j * gw + i]));
            row = _mm_add_epi16(row, _mm_unpacklo_epi8(v, zero));
        }
        total = _mm_add_epi16(total, row);
        if (j == centre_row)
            centre = row;
    }
    const __m128i k = _mm_set1_epi16(static_cast<short>(gh));
    const __m128i ridge = _mm_cmplt_epi16(_mm_mullo_epi16(centre, k), total);
    const __m128i bits = _mm_and_si128(_mm_packs_epi16(ridge, zero), _mm_set1_epi8(1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), bits);
}
#endif

} // namespace

namespace {

// Whether the pixels of a line fill one-pixel holes: bit i of the result is set when pixel
// i (of the 16 at p) differs from both neighbours while they agree. p[-1] and p[16] must
// be readable.
#ifdef __SSE2__
inline unsigned hole_mask16(const uint8_t* p) {
    const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p - 1));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
    const __m128i lr = _mm_cmpeq_epi8(l, r);
    const __m128i lc = _mm_cmpeq_epi8(l, c);
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_andnot_si128(lc, lr)));
}
#endif

// Pixels of a holes mask that are filled: scanning left to right, a filled pixel makes
// the scan pass over the next one, so in a run of adjacent candidates every other one is
// filled, starting with the first. `carry` tells whether the pixel before bit 0 was filled
// and receives the same for the last bit.
inline unsigned resolve_runs(unsigned cand, int bits, bool& carry) {
    if ((cand & ((cand << 1) | (carry ? 1u : 0u))) == 0) {
        carry = (cand >> (bits - 1)) & 1u;
        return cand;
    }
    unsigned filled = 0;
    bool prev = carry;
    for (int i = 0; i < bits; ++i) {
        const bool f = ((cand >> i) & 1u) && !prev;
        filled |= static_cast<unsigned>(f) << i;
        prev = f;
    }
    carry = prev;
    return filled;
}

// One pass of hole filling along a row.
void fill_row_holes(uint8_t* row, int w) {
    int x = 1;
    bool carry = false;
#ifdef __SSE2__
    for (; x + 16 < w; x += 16) {
        const unsigned filled = resolve_runs(hole_mask16(row + x), 16, carry);
        if (filled == 0)
            continue;
        for (unsigned f = filled; f; f &= f - 1) {
            const int at = x + __builtin_ctz(f);
            row[at] = row[at - 1];
        }
    }
#endif
    for (; x < w - 1; ++x) {
        const bool cand = row[x - 1] == row[x + 1] && row[x] != row[x - 1];
        const bool f = cand && !carry;
        if (f)
            row[x] = row[x - 1];
        carry = f;
    }
}

// One pass down every column, all columns side by side: a row's candidates are tested on
// the image as the previous rows left it, and a pixel below a filled one is passed over.
void fill_column_holes(uint8_t* bin, int w, int h) {
    if (h < 3)
        return;
    std::vector<uint8_t> prev_filled(static_cast<size_t>(w), 0);
    const size_t s = static_cast<size_t>(w);
    for (int y = 1; y < h - 1; ++y) {
        uint8_t* up = bin + (y - 1) * s;
        uint8_t* cur = bin + y * s;
        const uint8_t* down = bin + (y + 1) * s;
        uint8_t* pf = prev_filled.data();
        int x = 0;
#ifdef __SSE2__
        const __m128i one = _mm_set1_epi8(1);
        for (; x + 16 <= w; x += 16) {
            const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(up + x));
            const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cur + x));
            const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(down + x));
            const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pf + x));
            // 1 where up == down, up != cur and the pixel above was not filled.
            const __m128i cand = _mm_andnot_si128(_mm_cmpeq_epi8(u, c), _mm_cmpeq_epi8(u, d));
            const __m128i f = _mm_andnot_si128(_mm_cmpeq_epi8(p, one), cand);
            const __m128i next = _mm_or_si128(_mm_and_si128(f, u), _mm_andnot_si128(f, c));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(cur + x), next);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(pf + x), _mm_and_si128(f, one));
        }
#endif
        for (; x < w; ++x) {
            const bool f = up[x] == down[x] && cur[x] != up[x] && !pf[x];
            if (f)
                cur[x] = up[x];
            pf[x] = f;
        }
    }
}

} // namespace

void det::fill_holes(std::vector<uint8_t>& bin, int w, int h) {
    if (w <= 0 || h <= 0)
        return;
    for (int y = 0; y < h; ++y)
        fill_row_holes(bin.data() + static_cast<size_t>(y) * w, w);
    fill_column_holes(bin.data(), w, h);
}

std::vector<uint8_t> binarize(const PaddedImage& img, const Maps& maps, const Params& p) {
    const int iw = img.iw(), ih = img.ih();
    std::vector<uint8_t> bin(static_cast<size_t>(iw > 0 ? iw : 0) * (ih > 0 ? ih : 0), 0);
    if (iw <= 0 || ih <= 0 || maps.mw <= 0 || maps.mh <= 0 ||
        maps.direction.size() != static_cast<size_t>(maps.mw) * maps.mh) {
        return bin;
    }
    const auto grids = rotated_grids(p, img.w);
    const int gw = p.dirbin_grid_w, gh = p.dirbin_grid_h, bs = p.blocksize;
#ifdef __SSE2__
    // Pixels are 6-bit: the 16-bit lanes hold every sum when the grid is small enough.
    const bool wide = static_cast<long>(gw) * gh * 63 < 32768;
#endif
    // A block's pixels share its direction: along a block row, consecutive blocks of one
    // direction form a run whose pixels are classified side by side. Blocks are the
    // integer division of the pixel position (the last ones may be partial).
    for (int y = 0; y < ih; ++y) {
        const int by = std::min(y / bs, maps.mh - 1);
        const int* dirs = maps.direction.data() + static_cast<size_t>(by) * maps.mw;
        const uint8_t* src = img.px.data() + static_cast<size_t>(y + img.pad) * img.w + img.pad;
        uint8_t* out = bin.data() + static_cast<size_t>(y) * iw;
        int x = 0;
        while (x < iw) {
            const int d = dirs[std::min(x / bs, maps.mw - 1)];
            int end = x;
            while (end < iw && dirs[std::min(end / bs, maps.mw - 1)] == d)
                end = std::min(iw, (end / bs + 1) * bs);
            if (d >= 0 && d < p.num_directions) {
                const long* g = grids[static_cast<size_t>(d)].data();
#ifdef __SSE2__
                if (wide) {
                    for (; x + 16 <= end; x += 16)
                        binarize16(src + x, g, gw, gh, out + x);
                    for (; x + 8 <= end; x += 8)
                        binarize8(src + x, g, gw, gh, out + x);
                }
#endif
                binarize_scalar(src + x, g, gw, gh, end - x, out + x);
            }
            x = end;
        }
    }
    for (int i = 0; i < p.num_fill_holes; ++i) {
        det::fill_holes(bin, iw, ih);
    }
    return bin;
}

} // namespace lfs
