/* The WSQ wavelet-packet transform: region geometry and the separable 2-D analysis and
 * synthesis with odd-length symmetric filters and whole-sample symmetric extension. */
#include <stdlib.h>
#include <string.h>

#include "wsq_internal.h"

/* Analysis filters of the WSQ standard: low-pass 9 taps, high-pass 7 taps (right halves). */
const wsq_filters wsq_filters_97 = {
    .lo = {0.85269867900940344f, 0.37740285561265380f, -0.11062440441842342f, -0.02384946501938000f,
           0.03782845550699546f},
    .hi = {0.78848561640566439f, -0.41809227322221221f, -0.04068941760955844f,
           0.06453888262893845f},
    .nlo = 5,
    .nhi = 4,
};

const uint8_t wsq_block_first_band[4] = {0, 19, 52, 60};

enum { TL, TR, BL, BR };

static void quadrant(const wsq_node* n, int q, wsq_rect* out) {
    uint32_t lw = n->inv_x ? n->r.w / 2 : (n->r.w + 1) / 2;
    uint32_t th = n->inv_y ? n->r.h / 2 : (n->r.h + 1) / 2;
    out->x = n->r.x + ((q == TR || q == BR) ? lw : 0);
    out->y = n->r.y + ((q == BL || q == BR) ? th : 0);
    out->w = (q == TR || q == BR) ? n->r.w - lw : lw;
    out->h = (q == BL || q == BR) ? n->r.h - th : th;
}

int wsq_build_geometry(uint32_t width, uint32_t height, wsq_geometry* g) {
    /* Parent and quadrant of nodes 1..19. */
    static const uint8_t parent[WSQ_NODES] = {0, 0, 0, 0, 1, 1,  4,  4,  4,  4,
                                              5, 5, 5, 5, 1, 14, 14, 14, 14, 15};
    static const uint8_t quad[WSQ_NODES] = {0,  TL, TR, BL, TR, BL, TL, TR, BL, BR,
                                            TL, TR, BL, BR, TL, TL, TR, BL, BR, TL};
    /* Subbands as (node, quadrant); node 0's BR quadrant holds the discarded 60..63. */
    static const uint8_t band_node[WSQ_CODED_SUBBANDS] = {
        19, 19, 19, 19, 15, 15, 15, 16, 16, 16, 16, 17, 17, 17, 17, 18, 18, 18, 18, 6,
        6,  6,  6,  7,  7,  7,  7,  8,  8,  8,  8,  9,  9,  9,  9,  10, 10, 10, 10, 11,
        11, 11, 11, 12, 12, 12, 12, 13, 13, 13, 13, 1,  2,  2,  2,  2,  3,  3,  3,  3};
    static const uint8_t band_quad[WSQ_CODED_SUBBANDS] = {
        TL, TR, BL, BR, TR, BL, BR, TL, TR, BL, BR, TL, TR, BL, BR, TL, TR, BL, BR, TL,
        TR, BL, BR, TL, TR, BL, BR, TL, TR, BL, BR, TL, TR, BL, BR, TL, TR, BL, BR, TL,
        TR, BL, BR, TL, TR, BL, BR, TL, TR, BL, BR, BR, TL, TR, BL, BR, TL, TR, BL, BR};

    memset(g, 0, sizeof *g);
    g->node[0].r = (wsq_rect){0, 0, width, height};
    for (int i = 1; i < WSQ_NODES; ++i) {
        quadrant(&g->node[parent[i]], quad[i], &g->node[i].r);
        g->node[i].inv_x = (quad[i] == TR || quad[i] == BR);
        g->node[i].inv_y = (quad[i] == BL || quad[i] == BR);
    }
    for (int i = 0; i < WSQ_NODES; ++i) {
        if (g->node[i].r.w < 2 || g->node[i].r.h < 2)
            return WSQ_ETOOSMALL;
    }
    for (int k = 0; k < WSQ_CODED_SUBBANDS; ++k)
        quadrant(&g->node[band_node[k]], band_quad[k], &g->band[k]);
    quadrant(&g->node[0], BR, &g->band[60]);
    return WSQ_OK;
}

/* Whole-sample symmetric reflection of index i into 0..n-1 (n >= 2). */
static inline long reflect(long i, long n) {
    long p = 2 * (n - 1);
    i %= p;
    if (i < 0)
        i += p;
    return i < n ? i : p - i;
}

/* Pads a line held at e[0..n-1] with `pad` reflected samples on each side. */
static void extend(float* e, long n, int pad) {
    for (int k = 1; k <= pad; ++k) {
        e[-k] = e[reflect(-k, n)];
        e[n - 1 + k] = e[reflect(n - 1 + k, n)];
    }
}

static int filter_pad(const wsq_filters* f) {
    return (f->nlo > f->nhi ? f->nlo : f->nhi) - 1;
}

/* One line of analysis: e holds the extended input, out receives n values. Each output is
 * summed in single precision from its leftmost tap to its rightmost, the order of the
 * reference encoder, so that coefficients (and the bin widths derived from them) agree
 * with it to the bit. */
static void analyse_line(const float* e, long n, int inv, const wsq_filters* f, float* out) {
    long nl = (n + 1) / 2, nh = n / 2;
    float* lo = out + (inv ? nh : 0);
    float* hi = out + (inv ? 0 : nl);
    for (int band = 0; band < 2; ++band) {
        const float* taps = band == 0 ? f->lo : f->hi;
        const int nt = band == 0 ? f->nlo : f->nhi;
        float* dst = band == 0 ? lo : hi;
        for (long i = 0; i < (band == 0 ? nl : nh); ++i) {
            const float* c = e + 2 * i + band;
            float s = taps[nt - 1] * c[-(nt - 1)];
            for (int k = nt - 2; k >= 0; --k)
                s += taps[k] * c[-k];
            for (int k = 1; k < nt; ++k)
                s += taps[k] * c[k];
            dst[i] = s;
        }
    }
}

/* Synthesis weights: x[n] = sum_d w[parity(n)][d + pad] * y[n - d], y interleaved
 * (low-pass values at even positions, high-pass at odd). */
static void synthesis_weights(const wsq_filters* f, int pad, float w[2][2 * 16 + 1]) {
    memset(w, 0, sizeof(float) * 2 * (2 * 16 + 1));
    for (int d = -pad; d <= pad; ++d) {
        int a = d < 0 ? -d : d;
        float h = a < f->nhi ? f->hi[a] : 0.0f;
        float l = a < f->nlo ? f->lo[a] : 0.0f;
        if ((a & 1) == 0) {
            w[0][d + pad] = h; /* even n, even d: low-pass sample */
            w[1][d + pad] = l; /* odd n, even d: high-pass sample */
        } else {
            w[0][d + pad] = -l; /* even n, odd d: high-pass sample */
            w[1][d + pad] = -h; /* odd n, odd d: low-pass sample */
        }
    }
}

static void synthesise_line(const float* y, long n, const float w[2][2 * 16 + 1], int pad,
                            float* out) {
    if (pad == 4) {
        /* Even and odd outputs apart, each with fixed weights, so that the loops vectorise. */
        for (int parity = 0; parity < 2; ++parity) {
            const float* wi = w[parity];
            const float w0 = wi[0], w1 = wi[1], w2 = wi[2], w3 = wi[3], w4 = wi[4];
            const float w5 = wi[5], w6 = wi[6], w7 = wi[7], w8 = wi[8];
            for (long i = parity; i < n; i += 2) {
                const float* c = y + i;
                float s = 0.0f;
                s += w0 * c[4];
                s += w1 * c[3];
                s += w2 * c[2];
                s += w3 * c[1];
                s += w4 * c[0];
                s += w5 * c[-1];
                s += w6 * c[-2];
                s += w7 * c[-3];
                s += w8 * c[-4];
                out[i] = s;
            }
        }
        return;
    }
    for (long i = 0; i < n; ++i) {
        const float* wi = w[i & 1];
        const float* c = y + i;
        float s = 0.0f;
        for (int d = -pad; d <= pad; ++d)
            s += wi[d + pad] * c[-d];
        out[i] = s;
    }
}

/* Row analysis of the 9/7 pair with the line split into its even and odd samples, so
 * that each output reads consecutive values (and vectorises): low-pass output i is centred
 * on even sample 2i, high-pass output i on odd sample 2i + 1. The sums run from the
 * leftmost tap to the rightmost, as in analyse_line. */
WSQ_WIDE_SIMD
static void analyse_line_97(const float* e, long n, int inv, const wsq_filters* f, float* even,
                            float* odd, float* out) {
    long nl = (n + 1) / 2, nh = n / 2;
    float* lo = out + (inv ? nh : 0);
    float* hi = out + (inv ? 0 : nl);
    /* even[m] = e[2m] for m in -2..nl+1, odd[m] = e[2m+1] for m in -2..nl. */
    for (long m = -2; m <= nl + 1; ++m)
        even[m] = e[2 * m];
    for (long m = -2; m <= nl; ++m)
        odd[m] = e[2 * m + 1];
    const float l0 = f->lo[0], l1 = f->lo[1], l2 = f->lo[2], l3 = f->lo[3], l4 = f->lo[4];
    const float h0 = f->hi[0], h1 = f->hi[1], h2 = f->hi[2], h3 = f->hi[3];
    for (long i = 0; i < nl; ++i) {
        float s = l4 * even[i - 2];
        s += l3 * odd[i - 2];
        s += l2 * even[i - 1];
        s += l1 * odd[i - 1];
        s += l0 * even[i];
        s += l1 * odd[i];
        s += l2 * even[i + 1];
        s += l3 * odd[i + 1];
        s += l4 * even[i + 2];
        lo[i] = s;
    }
    for (long i = 0; i < nh; ++i) {
        float s = h3 * even[i - 1];
        s += h2 * odd[i - 1];
        s += h1 * even[i];
        s += h0 * odd[i];
        s += h1 * even[i + 1];
        s += h2 * odd[i + 1];
        s += h3 * even[i + 2];
        hi[i] = s;
    }
}

/* Row analysis of a node from the plane into `out` (rows of the node's width). `line`
 * holds a row with LINE_MARGIN samples on either side, `even` and `odd` its halves. */
#define LINE_MARGIN 8
static void forward_rows(const float* plane, size_t stride, const wsq_node* nd,
                         const wsq_filters* f, int pad, float* line, float* even, float* odd,
                         float* out) {
    const int is97 = f->nlo == 5 && f->nhi == 4;
    const int margin = is97 ? 6 : pad; /* the split reads e[-4] .. e[n + 4] */
    float* e = line + LINE_MARGIN;
    for (uint32_t y = 0; y < nd->r.h; ++y) {
        const float* row = plane + (size_t)(nd->r.y + y) * stride + nd->r.x;
        float* dst = out + (size_t)y * nd->r.w;
        memcpy(e, row, nd->r.w * sizeof(float));
        extend(e, nd->r.w, margin);
        if (is97)
            analyse_line_97(e, nd->r.w, nd->inv_x, f, even + 4, odd + 4, dst);
        else
            analyse_line(e, nd->r.w, nd->inv_x, f, dst);
    }
}

/* Column analysis of the row-analysed node held in `in` (rows of the node's width) back
 * into the plane, a whole output row at a time so that memory runs contiguously; each
 * output is summed from its top tap to its bottom one, as analyse_line does. */
WSQ_WIDE_SIMD
static void forward_cols(const float* in, float* plane, size_t stride, const wsq_node* nd,
                         const wsq_filters* f) {
    long h = nd->r.h, w = nd->r.w;
    long nl = (h + 1) / 2, nh = h / 2;
    float* base = plane + (size_t)nd->r.y * stride + nd->r.x;
    for (int band = 0; band < 2; ++band) {
        const float* taps = band == 0 ? f->lo : f->hi;
        int nt = band == 0 ? f->nlo : f->nhi;
        long count = band == 0 ? nl : nh;
        long first = band == 0 ? (nd->inv_y ? nh : 0) : (nd->inv_y ? 0 : nl);
        for (long i = 0; i < count; ++i) {
            long c = 2 * i + band;
            float* out = base + (size_t)(first + i) * stride;
            /* Rows of the taps from top (offset -(nt-1)) to bottom (offset nt-1). */
            const float* r[2 * 16];
            for (int d = -(nt - 1); d < nt; ++d)
                r[d + nt - 1] = in + (size_t)reflect(c + d, h) * w;
            if (nt == 5) {
                const float t0 = taps[0], t1 = taps[1], t2 = taps[2], t3 = taps[3], t4 = taps[4];
                const float *r0 = r[0], *r1 = r[1], *r2 = r[2], *r3 = r[3], *r4 = r[4];
                const float *r5 = r[5], *r6 = r[6], *r7 = r[7], *r8 = r[8];
                for (long x = 0; x < w; ++x) {
                    float v = t4 * r0[x];
                    v += t3 * r1[x];
                    v += t2 * r2[x];
                    v += t1 * r3[x];
                    v += t0 * r4[x];
                    v += t1 * r5[x];
                    v += t2 * r6[x];
                    v += t3 * r7[x];
                    v += t4 * r8[x];
                    out[x] = v;
                }
                continue;
            }
            if (nt == 4) {
                const float t0 = taps[0], t1 = taps[1], t2 = taps[2], t3 = taps[3];
                const float *r0 = r[0], *r1 = r[1], *r2 = r[2], *r3 = r[3], *r4 = r[4];
                const float *r5 = r[5], *r6 = r[6];
                for (long x = 0; x < w; ++x) {
                    float v = t3 * r0[x];
                    v += t2 * r1[x];
                    v += t1 * r2[x];
                    v += t0 * r3[x];
                    v += t1 * r4[x];
                    v += t2 * r5[x];
                    v += t3 * r6[x];
                    out[x] = v;
                }
                continue;
            }
            for (long x = 0; x < w; ++x)
                out[x] = taps[nt - 1] * r[0][x];
            for (int d = -(nt - 2); d < nt; ++d) {
                const float t = taps[d < 0 ? -d : d];
                const float* s = r[d + nt - 1];
                for (long x = 0; x < w; ++x)
                    out[x] += t * s[x];
            }
        }
    }
}

/* Row synthesis of a node from `in` (rows of the node's width) back into the plane. */
WSQ_WIDE_SIMD
static void inverse_rows(const float* in, float* plane, size_t stride, const wsq_node* nd,
                         const float wts[2][2 * 16 + 1], int pad, float* line) {
    long n = nd->r.w, nl = (n + 1) / 2, nh = n / 2;
    float* e = line + pad;
    for (uint32_t y = 0; y < nd->r.h; ++y) {
        const float* src = in + (size_t)y * n;
        const float* lo = src + (nd->inv_x ? nh : 0);
        const float* hi = src + (nd->inv_x ? 0 : nl);
        for (long i = 0; i < nl; ++i)
            e[2 * i] = lo[i];
        for (long i = 0; i < nh; ++i)
            e[2 * i + 1] = hi[i];
        extend(e, n, pad);
        synthesise_line(e, n, wts, pad, plane + (size_t)(nd->r.y + y) * stride + nd->r.x);
    }
}

/* Column synthesis of a node from the plane into `out` (rows of the node's width). */
WSQ_WIDE_SIMD
static void inverse_cols(const float* plane, size_t stride, const wsq_node* nd,
                         const float wts[2][2 * 16 + 1], int pad, const float** rows_buf,
                         float* out) {
    long h = nd->r.h, w = nd->r.w, nl = (h + 1) / 2;
    long nh = h / 2;
    const float* base = plane + (size_t)nd->r.y * stride + nd->r.x;
    /* Row of interleaved position m (after reflection). */
    const float** rows = rows_buf + pad;
    for (long m = -pad; m < h + pad; ++m) {
        long p = reflect(m, h);
        long src = (p & 1) == 0 ? (nd->inv_y ? nh : 0) + p / 2 : (nd->inv_y ? 0 : nl) + p / 2;
        rows[m] = base + (size_t)src * stride;
    }
    for (long r = 0; r < h; ++r) {
        float* dst = out + (size_t)r * w;
        const float* wi = wts[r & 1];
        if (pad == 4) {
            const float w0 = wi[0], w1 = wi[1], w2 = wi[2], w3 = wi[3], w4 = wi[4];
            const float w5 = wi[5], w6 = wi[6], w7 = wi[7], w8 = wi[8];
            const float *s0 = rows[r + 4], *s1 = rows[r + 3], *s2 = rows[r + 2];
            const float *s3 = rows[r + 1], *s4 = rows[r], *s5 = rows[r - 1];
            const float *s6 = rows[r - 2], *s7 = rows[r - 3], *s8 = rows[r - 4];
            for (long x = 0; x < w; ++x) {
                float v = w0 * s0[x];
                v += w1 * s1[x];
                v += w2 * s2[x];
                v += w3 * s3[x];
                v += w4 * s4[x];
                v += w5 * s5[x];
                v += w6 * s6[x];
                v += w7 * s7[x];
                v += w8 * s8[x];
                dst[x] = v;
            }
            continue;
        }
        memset(dst, 0, w * sizeof(float));
        for (int d = -pad; d <= pad; ++d) {
            float t = wi[d + pad];
            if (t == 0.0f)
                continue;
            const float* s = rows[r - d];
            for (long x = 0; x < w; ++x)
                dst[x] += t * s[x];
        }
    }
}

int wsq_forward(float* plane, float* scratch, const wsq_geometry* g, const wsq_filters* f) {
    int pad = filter_pad(f);
    size_t w = g->node[0].r.w, h = g->node[0].r.h;
    size_t n = (w > h ? w : h) + 2 * LINE_MARGIN;
    float* line = malloc(3 * n * sizeof(float));
    if (!line)
        return WSQ_ENOMEM;
    for (int i = 0; i < WSQ_NODES; ++i) {
        forward_rows(plane, w, &g->node[i], f, pad, line, line + n, line + 2 * n, scratch);
        forward_cols(scratch, plane, w, &g->node[i], f);
    }
    free(line);
    return WSQ_OK;
}

int wsq_inverse(float* plane, float* scratch, const wsq_geometry* g, const wsq_filters* f) {
    int pad = filter_pad(f);
    float wts[2][2 * 16 + 1];
    synthesis_weights(f, pad, wts);
    size_t w = g->node[0].r.w, h = g->node[0].r.h;
    size_t n = (w > h ? w : h) + 2 * (size_t)pad + 2;
    float* line = malloc(n * sizeof(float));
    const float** rows = malloc(n * sizeof(float*));
    if (!line || !rows) {
        free(line);
        free(rows);
        return WSQ_ENOMEM;
    }
    for (int i = WSQ_NODES - 1; i >= 0; --i) {
        inverse_cols(plane, w, &g->node[i], wts, pad, rows, scratch);
        inverse_rows(scratch, plane, w, &g->node[i], wts, pad, line);
    }
    free(line);
    free(rows);
    return WSQ_OK;
}
