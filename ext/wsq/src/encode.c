/* WSQ encoder: normalise, transform, quantise for a target bit rate, run-length and
 * Huffman code the three blocks, and write the stream with its NISTCOM comment. */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "wsq_internal.h"

/* Largest quantisation index written. The stream could carry 65535, but decoders that
 * keep indices in signed 16-bit integers (NIST's among them) would wrap above 32767. */
#define MAX_INDEX 32767

typedef struct outbuf {
    uint8_t* p;
    size_t n, cap;
    int err;
} outbuf;

static int reserve(outbuf* o, size_t more) {
    if (o->err)
        return 0;
    if (o->n + more <= o->cap)
        return 1;
    size_t cap = o->cap ? o->cap : 4096;
    while (cap < o->n + more)
        cap *= 2;
    uint8_t* p = realloc(o->p, cap);
    if (!p) {
        o->err = WSQ_ENOMEM;
        return 0;
    }
    o->p = p;
    o->cap = cap;
    return 1;
}

static void put8(outbuf* o, unsigned v) {
    if (reserve(o, 1))
        o->p[o->n++] = (uint8_t)v;
}

static void put16(outbuf* o, unsigned v) {
    put8(o, v >> 8);
    put8(o, v);
}

static void put_bytes(outbuf* o, const void* src, size_t n) {
    if (reserve(o, n)) {
        memcpy(o->p + o->n, src, n);
        o->n += n;
    }
}

/* Stored filter halves of the 9/7 pair as NIST's reference writes them, so that decoders
 * comparing transform tables see the customary bytes. */
static const uint8_t dtt_97[] = {
    0x09, 0x07, /* taps of low-pass and high-pass */
    0x00, 0x09, 0x32, 0xD3, 0x25, 0xCD, 0x00, 0x0A, 0xE0, 0xF3, 0x19, 0x9A, 0x01, 0x0A,
    0x41, 0xEF, 0xF1, 0x9A, 0x01, 0x0B, 0x8E, 0x27, 0x64, 0xCD, 0x00, 0x0B, 0xE1, 0x79,
    0xA3, 0x33, 0x00, 0x09, 0x2E, 0xFF, 0x56, 0x00, 0x01, 0x0A, 0xF9, 0x33, 0xD3, 0x33,
    0x01, 0x0B, 0xF2, 0x87, 0x21, 0x9A, 0x00, 0x0A, 0x26, 0x77, 0xDA, 0x33,
};

/* The numbers written into the stream (bin widths, mean and scale) and the quantisation
 * follow the reference encoder's single-precision arithmetic operation by operation: the
 * same sums in the same order, float where it keeps floats and double where it widens.
 * That makes the files byte-identical to its output, not just equivalent. */

/* Sample variance over a rectangle of the plane, summed in single precision in raster
 * order. A rectangle of a single coefficient (the lowest subbands of the smallest images)
 * has no sample variance; its energy about zero stands in, so that a lone nonzero
 * coefficient is still transmitted. */
static float variance(const float* plane, size_t stride, uint32_t x, uint32_t y, uint32_t w,
                      uint32_t h) {
    size_t n = (size_t)w * h;
    if (n == 0)
        return 0.0f;
    float s = 0.0f, s2 = 0.0f;
    for (uint32_t r = 0; r < h; ++r) {
        const float* p = plane + (size_t)(y + r) * stride + x;
        for (uint32_t c = 0; c < w; ++c) {
            s += p[c];
            s2 += p[c] * p[c];
        }
    }
    if (n == 1)
        return s2;
    float mean_sq = (s * s) / (float)n;
    return (float)((double)(s2 - mean_sq) / ((double)n - 1.0));
}

/* Largest magnitude in a subband. */
static float peak(const float* plane, size_t stride, const wsq_rect* b) {
    float m = 0.0f;
    for (uint32_t r = 0; r < b->h; ++r) {
        const float* p = plane + (size_t)(b->y + r) * stride + b->x;
        for (uint32_t c = 0; c < b->w; ++c) {
            float a = p[c] < 0 ? -p[c] : p[c];
            m = a > m ? a : m;
        }
    }
    return m;
}

static float central_variance(const float* plane, size_t stride, const wsq_rect* b) {
    uint32_t x0 = b->x + b->w / 8, w = 3 * b->w / 4;
    uint32_t y0 = b->y + 9 * b->h / 32, h = 7 * b->h / 16;
    if ((size_t)w * h < 2)
        return variance(plane, stride, b->x, b->y, b->w, b->h);
    return variance(plane, stride, x0, y0, w, h);
}

/* Reciprocal of the decimation factor of subband k: its share of the image area. */
static float area_share(int k) {
    return k < 4 ? 1.0f / 1024.0f : (k < 51 ? 1.0f / 256.0f : 1.0f / 16.0f);
}

/* The proportionality constant q as the reference computes it. Returns 0 when the
 * single-precision product or the constant leaves the range of float (a handful of
 * subbands at a high rate), which the caller then answers in the log domain. */
static float q_single(const float* sigma, const float* qp, const int* in_k, float rate) {
    float s = 0.0f, p = 1.0f;
    for (int k = 0; k < WSQ_CODED_SUBBANDS; ++k) {
        if (in_k[k])
            s += area_share(k);
    }
    for (int k = 0; k < WSQ_CODED_SUBBANDS; ++k) {
        if (in_k[k])
            p = (float)((double)p * pow((double)(sigma[k] / qp[k]), (double)area_share(k)));
    }
    float q = (float)((pow(2.0, (double)(rate / s) - 1.0) / 2.5) / pow((double)p, 1.0 / s));
    return isfinite(q) && q > 0.0f && isfinite(p) && p > 0.0f ? q : 0.0f;
}

/* Bounded log-domain fallback of q_single, for inputs where single precision overflows. */
static float q_log(const float* sigma, const float* qp, const int* in_k, float rate) {
    double s = 0.0, logp = 0.0;
    for (int k = 0; k < WSQ_CODED_SUBBANDS; ++k) {
        if (in_k[k]) {
            s += area_share(k);
            logp += log((double)sigma[k] / qp[k]) * area_share(k);
        }
    }
    double logq = (rate / s - 1.0) * log(2.0) - log(2.5) - logp / s;
    /* Keeps every width Q'/q inside float range and above zero. */
    logq = logq < 80.0 ? (logq > -80.0 ? logq : -80.0) : 80.0;
    return (float)exp(logq);
}

/* Bin widths from the subband variances and the target rate (WSQ standard, encoder
 * parameters): provisional widths, then the proportionality constant q found by
 * dropping subbands that would get no bits. Subbands below the variance threshold are
 * not coded (width 0). */
static void bin_widths(const float var[WSQ_CODED_SUBBANDS], float rate,
                       float q_out[WSQ_CODED_SUBBANDS]) {
    static const float weight[8] = {1.32f, 1.08f, 1.42f, 1.08f, 1.32f, 1.42f, 1.08f, 1.08f};
    float qp[WSQ_CODED_SUBBANDS], sigma[WSQ_CODED_SUBBANDS];
    int in_k0[WSQ_CODED_SUBBANDS], in_k[WSQ_CODED_SUBBANDS];
    int any = 0;
    for (int k = 0; k < WSQ_CODED_SUBBANDS; ++k) {
        q_out[k] = 0.0f;
        in_k0[k] = in_k[k] = (double)var[k] >= 1.01; /* the threshold is a double */
        any |= in_k[k];
        qp[k] = 0.0f;
        sigma[k] = 0.0f;
        if (!in_k[k])
            continue;
        if (k < 4)
            qp[k] = 1.0f;
        else
            qp[k] = (float)(10.0 / ((k >= 52 ? weight[k - 52] : 1.0f) * (float)log(var[k])));
        sigma[k] = (float)sqrt(var[k]);
    }
    if (!any)
        return;
    float q = 1.0f;
    for (;;) {
        q = q_single(sigma, qp, in_k, rate);
        if (q == 0.0f)
            q = q_log(sigma, qp, in_k, rate);
        int removed = 0, left = 0;
        for (int k = 0; k < WSQ_CODED_SUBBANDS; ++k) {
            if (in_k[k] && (double)(qp[k] / q) >= 5.0 * (double)sigma[k]) {
                in_k[k] = 0;
                removed = 1;
            }
            left += in_k[k];
        }
        if (!removed || left == 0)
            break;
    }
    for (int k = 0; k < WSQ_CODED_SUBBANDS; ++k) {
        if (in_k0[k])
            q_out[k] = qp[k] / q;
    }
}

/* Bin width Q and zero-bin width Z of each subband; 0 for subbands not coded. */
typedef struct bins {
    float q[WSQ_CODED_SUBBANDS], z[WSQ_CODED_SUBBANDS];
} bins;

/* Sets a subband's bin width and its zero-bin width (1.2 times as wide). Widths the stream
 * cannot carry are narrowed to the largest it can. */
static void set_bin(bins* bw, int k, float q) {
    if (!(q * 1.2 < 65535.0))
        q = (float)(65534.0 / 1.2);
    bw->q[k] = q;
    bw->z[k] = (float)(1.2 * q);
}

/* Symbol stream of one block: symbol | extra-bit count << 8 | extra bits << 16. */
typedef struct symbols {
    uint32_t* s;
    size_t n;
} symbols;

static void emit_run(symbols* out, uint32_t run) {
    if (run == 0)
        return;
    if (run <= 100)
        out->s[out->n++] = run;
    else if (run <= 255)
        out->s[out->n++] = 105 | 8u << 8 | run << 16;
    else
        out->s[out->n++] = 106 | 16u << 8 | run << 16;
}

/* Emits the zeros counted so far, as runs of at most 65535. */
static void flush_run(symbols* out, uint32_t* run) {
    while (*run >= 65535) {
        emit_run(out, 65535);
        *run -= 65535;
    }
    emit_run(out, *run);
    *run = 0;
}

/* Quantises a coefficient known to lie outside the zero bin and emits its index after the
 * pending zero run. The index magnitude is trunc((|a| - Z/2) / Q) + 1, checked before the
 * conversion so that an out-of-range value is never cast. Returns 0, or 1 when the index
 * would pass MAX_INDEX and the subband is not one to clip. */
static int emit_index(symbols* out, uint32_t* run, float a, float q, float half_z, int clip) {
    flush_run(out, run);
    const float t = ((a > 0 ? a : -a) - half_z) / q;
    long v;
    if (t < MAX_INDEX) {
        v = (long)t + 1;
    } else {
        if (!clip)
            return 1;
        v = MAX_INDEX;
    }
    if (a < 0)
        v = -v;
    if (v >= -73 && v <= 74)
        out->s[out->n++] = (uint32_t)(v + 180);
    else if (v > 0)
        out->s[out->n++] = (v <= 255 ? 101 | 8u << 8 : 103 | 16u << 8) | (uint32_t)v << 16;
    else
        out->s[out->n++] = (v >= -255 ? 102 | 8u << 8 : 104 | 16u << 8) | (uint32_t)(-v) << 16;
    return 0;
}

/* Quantises and run-length codes one row of a subband. Most coefficients fall in the zero
 * bin; sixteen at a time are tested against it, and only those outside are visited. */
static int code_row(const float* p, uint32_t w, float q, float half_z, int clip, uint32_t* run,
                    symbols* out) {
    uint32_t x = 0;
#if defined(__SSE2__)
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    const __m128 hz = _mm_set1_ps(half_z);
    for (; x + 16 <= w; x += 16) {
        unsigned bits = 0;
        for (int j = 0; j < 4; ++j) {
            __m128 m = _mm_and_ps(_mm_loadu_ps(p + x + 4 * j), magnitude);
            bits |= (unsigned)_mm_movemask_ps(_mm_cmpgt_ps(m, hz)) << (4 * j);
        }
        uint32_t next = x; /* first coefficient not yet counted */
        while (bits) {
            uint32_t at = x + (uint32_t)__builtin_ctz(bits);
            bits &= bits - 1;
            *run += at - next;
            if (emit_index(out, run, p[at], q, half_z, clip))
                return 1;
            next = at + 1;
        }
        *run += x + 16 - next;
    }
#endif
    for (; x < w; ++x) {
        const float a = p[x];
        if ((a > 0 ? a : -a) <= half_z)
            ++*run;
        else if (emit_index(out, run, a, q, half_z, clip))
            return 1;
    }
    return 0;
}

/* Quantises and run-length codes one block. Returns -1, or the subband whose index would
 * pass MAX_INDEX (the caller widens its bins and codes the block again); subbands marked
 * in `clip` have their indices clipped instead. */
static int code_block(const float* plane, size_t stride, const wsq_geometry* g, int b,
                      const bins* bw, const uint8_t* clip, symbols* out, uint32_t freq[256]) {
    uint32_t run = 0;
    for (int k = wsq_block_first_band[b]; k < wsq_block_first_band[b + 1]; ++k) {
        if (bw->q[k] <= 0.0f)
            continue;
        const wsq_rect* r = &g->band[k];
        for (uint32_t y = 0; y < r->h; ++y) {
            const float* p = plane + (size_t)(r->y + y) * stride + r->x;
            if (code_row(p, r->w, bw->q[k], bw->z[k] * 0.5f, clip[k], &run, out))
                return k;
        }
    }
    flush_run(out, &run);
    for (size_t i = 0; i < out->n; ++i)
        freq[out->s[i] & 0xFF]++;
    return -1;
}

typedef struct huff_enc {
    uint8_t bits[17];
    uint8_t values[256];
    int nvalues;
    uint16_t code[256];
    uint8_t size[256];
} huff_enc;

static void huff_enc_build(huff_enc* t, const uint32_t freq[256]) {
    t->nvalues = wsq_huff_make_table(freq, t->bits, t->values);
    memset(t->size, 0, sizeof t->size);
    unsigned code = 0;
    int k = 0;
    for (int l = 1; l <= 16; ++l) {
        for (int j = 0; j < t->bits[l]; ++j, ++k) {
            t->code[t->values[k]] = (uint16_t)code++;
            t->size[t->values[k]] = (uint8_t)l;
        }
        code <<= 1;
    }
}

static void write_dht(outbuf* o, int id, const huff_enc* t) {
    put16(o, WSQ_DHT);
    put16(o, 2 + 17 + t->nvalues);
    put8(o, id);
    put_bytes(o, t->bits + 1, 16);
    put_bytes(o, t->values, t->nvalues);
}

/* Packs the block's symbols MSB first with 0xFF stuffing and 1-bit padding. */
static void write_entropy(outbuf* o, const symbols* sy, const huff_enc* t) {
    uint64_t acc = 0;
    int nbits = 0;
    /* Worst case per symbol: 16 + 16 bits, each byte possibly stuffed. */
    if (!reserve(o, sy->n * 8 + 16))
        return;
    uint8_t* p = o->p + o->n;
    for (size_t i = 0; i < sy->n; ++i) {
        uint32_t w = sy->s[i];
        unsigned s = w & 0xFF, ne = (w >> 8) & 0xFF;
        acc = acc << t->size[s] | t->code[s];
        nbits += t->size[s];
        if (ne) {
            acc = acc << ne | (w >> 16);
            nbits += ne;
        }
        while (nbits >= 8) {
            uint8_t byte = (uint8_t)(acc >> (nbits - 8));
            *p++ = byte;
            if (byte == 0xFF)
                *p++ = 0x00;
            nbits -= 8;
        }
    }
    if (nbits > 0) {
        uint8_t byte = (uint8_t)((acc << (8 - nbits)) | ((1u << (8 - nbits)) - 1));
        *p++ = byte;
        if (byte == 0xFF)
            *p++ = 0x00;
    }
    o->n = (size_t)(p - o->p);
}

static int put_scaled16(outbuf* o, float v) {
    uint8_t e;
    uint16_t m;
    int rc = wsq_scale16(v, &e, &m);
    put8(o, e);
    put16(o, m);
    return rc;
}

int wsq_encode(const uint8_t* pixels, uint32_t width, uint32_t height, size_t stride, int ppi,
               double bitrate, const char* comment, uint8_t** out, size_t* out_len) {
    if (!out || !out_len)
        return WSQ_EINVAL;
    *out = NULL;
    *out_len = 0;
    if (!pixels || width > WSQ_MAX_DIMENSION || height > WSQ_MAX_DIMENSION || stride < width ||
        !(bitrate > 0.0 && bitrate <= 8.0))
        return WSQ_EINVAL;
    size_t comment_len = comment ? strlen(comment) : 0;
    if (comment_len > 65533)
        return WSQ_EINVAL;
    wsq_geometry g;
    int rc = wsq_build_geometry(width, height, &g);
    if (rc != WSQ_OK)
        return rc;

    size_t npix = (size_t)width * height;
    uint64_t sum = 0;
    unsigned lo = 255, hi = 0;
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* row = pixels + y * stride;
        uint32_t rs = 0;
        for (uint32_t x = 0; x < width; ++x) {
            unsigned v = row[x];
            rs += v;
            lo = v < lo ? v : lo;
            hi = v > hi ? v : hi;
        }
        sum += rs;
    }
    const float rate = (float)bitrate;
    const float mean = (float)sum / (float)npix;
    const float below = mean - (float)lo, above = (float)hi - mean;
    float scale = (below >= above ? below : above) / 128.0f;
    if (hi == lo)
        scale = 1.0f; /* constant image: every coefficient is zero, nothing is coded */

    /* One allocation: the plane, then a block that serves first as the transform's scratch
     * and then holds the symbols (at most one a coefficient, plus the closing run of each
     * block). */
    const size_t work_bytes = (2 * npix + 3) * sizeof(float);
    float* plane = wsq_big_alloc(work_bytes);
    uint32_t* symbuf = plane ? (uint32_t*)(void*)(plane + npix) : NULL;
    outbuf o = {0};
    if (!plane || !symbuf) {
        rc = WSQ_ENOMEM;
        goto done;
    }
    {
        float lut[256];
        for (int v = 0; v < 256; ++v)
            lut[v] = ((float)v - mean) / scale;
        for (uint32_t y = 0; y < height; ++y) {
            const uint8_t* row = pixels + y * stride;
            float* dst = plane + (size_t)y * width;
            for (uint32_t x = 0; x < width; ++x)
                dst[x] = lut[row[x]];
        }
    }
    rc = wsq_forward(plane, (float*)(void*)symbuf, &g, &wsq_filters_97);
    if (rc != WSQ_OK)
        goto done;

    float var[WSQ_CODED_SUBBANDS];
    float lowsum = 0.0f;
    for (int k = 0; k < 4; ++k) {
        var[k] = central_variance(plane, width, &g.band[k]);
        lowsum += var[k];
    }
    /* Little energy in the lowest bands (print near the platen edge): measure every
     * subband over its whole area instead of its centre. */
    const int whole = lowsum < 20000.0f; /* exact in float */
    for (int k = whole ? 0 : 4; k < WSQ_CODED_SUBBANDS; ++k) {
        const wsq_rect* b = &g.band[k];
        var[k] = whole ? variance(plane, width, b->x, b->y, b->w, b->h)
                       : central_variance(plane, width, b);
    }
    bins bw;
    bin_widths(var, rate, bw.q);
    for (int k = 0; k < WSQ_CODED_SUBBANDS; ++k)
        set_bin(&bw, k, bw.q[k]);

    /* Symbols of the three blocks, stored back to back in one buffer. */
    symbols blk[3];
    uint32_t freq[2][256];
    memset(freq, 0, sizeof freq);
    size_t used = 0;
    uint8_t clip[WSQ_CODED_SUBBANDS] = {0};
    for (int b = 0; b < 3; ++b) {
        blk[b].s = symbuf + used;
        for (;;) {
            blk[b].n = 0;
            int k = code_block(plane, width, &g, b, &bw, clip, &blk[b], freq[b == 0 ? 0 : 1]);
            if (k < 0)
                break;
            /* A bin so narrow that an index would pass MAX_INDEX is widened just enough:
             * the rate formula alone asks for that on very smooth images at high rates,
             * and clipped indices would wreck the picture. */
            float wide = peak(plane, width, &g.band[k]) / (MAX_INDEX - 1);
            if (wide > bw.q[k])
                set_bin(&bw, k, wide);
            clip[k] = 1;
        }
        used += blk[b].n;
    }
    huff_enc tab[2];
    huff_enc_build(&tab[0], freq[0]);
    huff_enc_build(&tab[1], freq[1]);

    put16(&o, WSQ_SOI);
    {
        char text[512];
        int n = snprintf(text, sizeof text,
                         "NIST_COM 9\nPIX_WIDTH %u\nPIX_HEIGHT %u\nPIX_DEPTH 8\nPPI %d\n"
                         "LOSSY 1\nCOLORSPACE GRAY\nCOMPRESSION WSQ\nWSQ_BITRATE %f",
                         width, height, ppi > 0 ? ppi : -1, (double)rate);
        put16(&o, WSQ_COM);
        put16(&o, 2 + n);
        put_bytes(&o, text, (size_t)n);
    }
    if (comment_len) {
        put16(&o, WSQ_COM);
        put16(&o, 2 + comment_len);
        put_bytes(&o, comment, comment_len);
    }
    put16(&o, WSQ_DTT);
    put16(&o, 2 + sizeof dtt_97);
    put_bytes(&o, dtt_97, sizeof dtt_97);

    put16(&o, WSQ_DQT);
    put16(&o, 389);
    put8(&o, 2);
    put16(&o, 44); /* bin centre C = 0.44 */
    for (int k = 0; k < WSQ_SUBBANDS; ++k) {
        const float q = k < WSQ_CODED_SUBBANDS ? bw.q[k] : 0.0f;
        const float z = k < WSQ_CODED_SUBBANDS ? bw.z[k] : 0.0f;
        if (put_scaled16(&o, q) != WSQ_OK || put_scaled16(&o, z) != WSQ_OK) {
            rc = WSQ_ERANGE;
            goto done;
        }
    }

    put16(&o, WSQ_SOF);
    put16(&o, 17);
    put8(&o, 0);   /* black */
    put8(&o, 255); /* white */
    put16(&o, height);
    put16(&o, width);
    if (put_scaled16(&o, mean) != WSQ_OK || put_scaled16(&o, scale) != WSQ_OK) {
        rc = WSQ_ERANGE;
        goto done;
    }
    put8(&o, 2);  /* encoder number */
    put16(&o, 0); /* software implementation number: not certified */

    for (int b = 0; b < 3; ++b) {
        int id = b == 0 ? 0 : 1;
        if (b < 2)
            write_dht(&o, id, &tab[id]);
        put16(&o, WSQ_SOB);
        put16(&o, 3);
        put8(&o, id);
        write_entropy(&o, &blk[b], &tab[id]);
    }
    put16(&o, WSQ_EOI);
    rc = o.err;

done:
    wsq_big_free(plane, work_bytes);
    if (rc == WSQ_OK) {
        *out = o.p;
        *out_len = o.n;
    } else {
        free(o.p);
    }
    return rc;
}
