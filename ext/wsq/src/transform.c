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

/* One line of analysis: e holds the extended input, out receives n values. */
static void analyse_line(const float* e, long n, int inv, const wsq_filters* f, float* out) {
    long nl = (n + 1) / 2, nh = n / 2;
    float* lo = out + (inv ? nh : 0);
    float* hi = out + (inv ? 0 : nl);
    if (f->nlo == 5 && f->nhi == 4) {
        /* The 9/7 pair with its taps in registers; same summation order as below. */
        const float l0 = f->lo[0], l1 = f->lo[1], l2 = f->lo[2], l3 = f->lo[3], l4 = f->lo[4];
        const float h0 = f->hi[0], h1 = f->hi[1], h2 = f->hi[2], h3 = f->hi[3];
        for (long i = 0; i < nl; ++i) {
            const float* c = e + 2 * i;
            float s = l0 * c[0];
            s += l1 * (c[-1] + c[1]);
            s += l2 * (c[-2] + c[2]);
            s += l3 * (c[-3] + c[3]);
            s += l4 * (c[-4] + c[4]);
            lo[i] = s;
        }
        for (long i = 0; i < nh; ++i) {
            const float* c = e + 2 * i + 1;
            float s = h0 * c[0];
            s += h1 * (c[-1] + c[1]);
            s += h2 * (c[-2] + c[2]);
            s += h3 * (c[-3] + c[3]);
            hi[i] = s;
        }
        return;
    }
    for (long i = 0; i < nl; ++i) {
        const float* c = e + 2 * i;
        float s = f->lo[0] * c[0];
        for (int k = 1; k < f->nlo; ++k)
            s += f->lo[k] * (c[-k] + c[k]);
        lo[i] = s;
    }
    for (long i = 0; i < nh; ++i) {
        const float* c = e + 2 * i + 1;
        float s = f->hi[0] * c[0];
        for (int k = 1; k < f->nhi; ++k)
            s += f->hi[k] * (c[-k] + c[k]);
        hi[i] = s;
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
        for (long i = 0; i < n; ++i) {
            const float* wi = w[i & 1];
            const float* c = y + i;
            float s = 0.0f;
            s += wi[0] * c[4];
            s += wi[1] * c[3];
            s += wi[2] * c[2];
            s += wi[3] * c[1];
            s += wi[4] * c[0];
            s += wi[5] * c[-1];
            s += wi[6] * c[-2];
            s += wi[7] * c[-3];
            s += wi[8] * c[-4];
            out[i] = s;
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

typedef struct work {
    float* line; /* extended line, pad on both sides */
    float* tmp;  /* region copy for the column pass */
    const float** rows;
} work;

static void forward_rows(float* plane, size_t stride, const wsq_node* nd, const wsq_filters* f,
                         int pad, work* wk) {
    float* e = wk->line + pad;
    for (uint32_t y = 0; y < nd->r.h; ++y) {
        float* row = plane + (size_t)(nd->r.y + y) * stride + nd->r.x;
        memcpy(e, row, nd->r.w * sizeof(float));
        extend(e, nd->r.w, pad);
        analyse_line(e, nd->r.w, nd->inv_x, f, row);
    }
}

/* Column analysis computed a whole row at a time so that memory runs contiguously. */
static void forward_cols(float* plane, size_t stride, const wsq_node* nd, const wsq_filters* f,
                         work* wk) {
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
            float* out = wk->tmp + (size_t)(first + i) * w;
            const float* s0 = base + (size_t)c * stride;
            if (nt == 4 || nt == 5) {
                /* One pass over the rows involved, taps unrolled; the summation order is
                 * that of the general loop below. */
                const float* a[5];
                const float* b[5];
                for (int k = 1; k < nt; ++k) {
                    a[k] = base + (size_t)reflect(c - k, h) * stride;
                    b[k] = base + (size_t)reflect(c + k, h) * stride;
                }
                const float t0 = taps[0], t1 = taps[1], t2 = taps[2], t3 = taps[3];
                const float *a1 = a[1], *a2 = a[2], *a3 = a[3], *b1 = b[1], *b2 = b[2], *b3 = b[3];
                if (nt == 4) {
                    for (long x = 0; x < w; ++x) {
                        float v = t0 * s0[x];
                        v += t1 * (a1[x] + b1[x]);
                        v += t2 * (a2[x] + b2[x]);
                        v += t3 * (a3[x] + b3[x]);
                        out[x] = v;
                    }
                } else {
                    const float t4 = taps[4];
                    const float *a4 = a[4], *b4 = b[4];
                    for (long x = 0; x < w; ++x) {
                        float v = t0 * s0[x];
                        v += t1 * (a1[x] + b1[x]);
                        v += t2 * (a2[x] + b2[x]);
                        v += t3 * (a3[x] + b3[x]);
                        v += t4 * (a4[x] + b4[x]);
                        out[x] = v;
                    }
                }
                continue;
            }
            for (long x = 0; x < w; ++x)
                out[x] = taps[0] * s0[x];
            for (int k = 1; k < nt; ++k) {
                const float* a = base + (size_t)reflect(c - k, h) * stride;
                const float* b = base + (size_t)reflect(c + k, h) * stride;
                float t = taps[k];
                for (long x = 0; x < w; ++x)
                    out[x] += t * (a[x] + b[x]);
            }
        }
    }
    for (long r = 0; r < h; ++r)
        memcpy(base + (size_t)r * stride, wk->tmp + (size_t)r * w, w * sizeof(float));
}

static void inverse_rows(float* plane, size_t stride, const wsq_node* nd,
                         const float wts[2][2 * 16 + 1], int pad, work* wk) {
    long n = nd->r.w, nl = (n + 1) / 2, nh = n / 2;
    float* e = wk->line + pad;
    for (uint32_t y = 0; y < nd->r.h; ++y) {
        float* row = plane + (size_t)(nd->r.y + y) * stride + nd->r.x;
        const float* lo = row + (nd->inv_x ? nh : 0);
        const float* hi = row + (nd->inv_x ? 0 : nl);
        for (long i = 0; i < nl; ++i)
            e[2 * i] = lo[i];
        for (long i = 0; i < nh; ++i)
            e[2 * i + 1] = hi[i];
        extend(e, n, pad);
        synthesise_line(e, n, wts, pad, row);
    }
}

static void inverse_cols(float* plane, size_t stride, const wsq_node* nd,
                         const float wts[2][2 * 16 + 1], int pad, work* wk) {
    long h = nd->r.h, w = nd->r.w, nl = (h + 1) / 2;
    long nh = h / 2;
    float* base = plane + (size_t)nd->r.y * stride + nd->r.x;
    for (long r = 0; r < h; ++r)
        memcpy(wk->tmp + (size_t)r * w, base + (size_t)r * stride, w * sizeof(float));
    /* Row of interleaved position m (after reflection). */
    const float** rows = wk->rows + pad;
    for (long m = -pad; m < h + pad; ++m) {
        long p = reflect(m, h);
        long src = (p & 1) == 0 ? (nd->inv_y ? nh : 0) + p / 2 : (nd->inv_y ? 0 : nl) + p / 2;
        rows[m] = wk->tmp + (size_t)src * w;
    }
    for (long r = 0; r < h; ++r) {
        float* out = base + (size_t)r * stride;
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
                out[x] = v;
            }
            continue;
        }
        memset(out, 0, w * sizeof(float));
        for (int d = -pad; d <= pad; ++d) {
            float t = wi[d + pad];
            if (t == 0.0f)
                continue;
            const float* s = rows[r - d];
            for (long x = 0; x < w; ++x)
                out[x] += t * s[x];
        }
    }
}

static int work_alloc(work* wk, const wsq_geometry* g, int pad) {
    size_t w = g->node[0].r.w, h = g->node[0].r.h;
    size_t n = (w > h ? w : h) + 2 * (size_t)pad + 2;
    wk->line = malloc(n * sizeof(float));
    wk->tmp = malloc(w * h * sizeof(float));
    wk->rows = malloc(n * sizeof(float*));
    if (!wk->line || !wk->tmp || !wk->rows) {
        free(wk->line);
        free(wk->tmp);
        free(wk->rows);
        return WSQ_ENOMEM;
    }
    return WSQ_OK;
}

static void work_free(work* wk) {
    free(wk->line);
    free(wk->tmp);
    free(wk->rows);
}

int wsq_forward(float* plane, const wsq_geometry* g, const wsq_filters* f) {
    int pad = filter_pad(f);
    work wk;
    if (work_alloc(&wk, g, pad) != WSQ_OK)
        return WSQ_ENOMEM;
    size_t stride = g->node[0].r.w;
    for (int i = 0; i < WSQ_NODES; ++i) {
        forward_rows(plane, stride, &g->node[i], f, pad, &wk);
        forward_cols(plane, stride, &g->node[i], f, &wk);
    }
    work_free(&wk);
    return WSQ_OK;
}

int wsq_inverse(float* plane, const wsq_geometry* g, const wsq_filters* f) {
    int pad = filter_pad(f);
    float wts[2][2 * 16 + 1];
    synthesis_weights(f, pad, wts);
    work wk;
    if (work_alloc(&wk, g, pad) != WSQ_OK)
        return WSQ_ENOMEM;
    size_t stride = g->node[0].r.w;
    for (int i = WSQ_NODES - 1; i >= 0; --i) {
        inverse_cols(plane, stride, &g->node[i], wts, pad, &wk);
        inverse_rows(plane, stride, &g->node[i], wts, pad, &wk);
    }
    work_free(&wk);
    return WSQ_OK;
}
