/* WSQ decoder: parses the marker segments, decodes the Huffman-coded blocks into the
 * subbands, dequantises and runs the inverse transform. Every length, count and table is
 * checked before use; nothing is read outside the input buffer. */
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "wsq_internal.h"

#define DEFAULT_MAX_PIXELS (64ull * 1024 * 1024)

typedef struct band_cursor {
    uint32_t x, y, w, h;
} band_cursor;

typedef struct decoder {
    const uint8_t* data;
    size_t len, pos;
    int headers_only;

    int have_dtt, have_dqt, have_sof, started;
    wsq_filters filters;
    double c, q[WSQ_SUBBANDS], z[WSQ_SUBBANDS];
    uint32_t width, height;
    double mean, scale;
    int encoder, software;
    wsq_huff_dec huff[WSQ_HUFF_TABLES];

    int ppi, have_nistcom;
    double bitrate;
    char comment[4096];
    size_t comment_len;

    wsq_geometry geo;
    float* plane;
    size_t work_bytes; /* of the allocation that holds the plane */
    band_cursor bands[WSQ_CODED_SUBBANDS];
    int band_of[WSQ_CODED_SUBBANDS];
    int nbands, cur_band;
    uint32_t cur_x, cur_y;
    uint64_t remaining; /* coefficients still to be filled */
    uint8_t* unstuffed;
} decoder;

static int get16(decoder* d, unsigned* v) {
    if (d->len - d->pos < 2 || d->pos > d->len)
        return WSQ_ETRUNC;
    *v = (unsigned)d->data[d->pos] << 8 | d->data[d->pos + 1];
    d->pos += 2;
    return WSQ_OK;
}

static uint32_t be32(const uint8_t* p) {
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

static double pow10i(unsigned e) {
    return pow(10.0, (double)e);
}

/* Reads a segment length and returns the payload extent; *p points at the payload. */
static int segment(decoder* d, const uint8_t** p, size_t* n) {
    unsigned l;
    int rc = get16(d, &l);
    if (rc)
        return rc;
    if (l < 2)
        return WSQ_ESEGMENT;
    if (d->len - d->pos < l - 2)
        return WSQ_ETRUNC;
    *p = d->data + d->pos;
    *n = l - 2;
    d->pos += l - 2;
    return WSQ_OK;
}

static int read_dtt(decoder* d) {
    const uint8_t* p;
    size_t n;
    int rc = segment(d, &p, &n);
    if (rc)
        return rc;
    if (n < 2)
        return WSQ_ESEGMENT;
    unsigned l0 = p[0], l1 = p[1];
    if (l0 == 0 || l1 == 0 || l0 > WSQ_MAX_FILTER_TAPS || l1 > WSQ_MAX_FILTER_TAPS)
        return WSQ_ESEGMENT;
    if ((l0 & 1) == 0 || (l1 & 1) == 0)
        return WSQ_EUNSUPPORTED; /* even-length filter pairs */
    unsigned n0 = (l0 + 1) / 2, n1 = (l1 + 1) / 2;
    if (n != 2 + 6 * (size_t)(n0 + n1))
        return WSQ_ESEGMENT;
    wsq_filters f;
    memset(&f, 0, sizeof f);
    f.nlo = (int)n0;
    f.nhi = (int)n1;
    const uint8_t* c = p + 2;
    for (unsigned i = 0; i < n0 + n1; ++i, c += 6) {
        if (c[0] > 1)
            return WSQ_ESEGMENT;
        double v = be32(c + 2) / pow10i(c[1]);
        float fv = (float)(c[0] ? -v : v);
        if (i < n0)
            f.lo[i] = fv;
        else
            f.hi[i - n0] = fv;
    }
    d->filters = f;
    d->have_dtt = 1;
    return WSQ_OK;
}

static double scaled16(const uint8_t* p) {
    return (double)((unsigned)p[1] << 8 | p[2]) / pow10i(p[0]);
}

static int read_dqt(decoder* d) {
    const uint8_t* p;
    size_t n;
    int rc = segment(d, &p, &n);
    if (rc)
        return rc;
    if (n != 3 + 6 * WSQ_SUBBANDS)
        return WSQ_ESEGMENT;
    d->c = scaled16(p);
    for (int k = 0; k < WSQ_SUBBANDS; ++k) {
        d->q[k] = scaled16(p + 3 + 6 * k);
        d->z[k] = scaled16(p + 6 + 6 * k);
    }
    d->have_dqt = 1;
    return WSQ_OK;
}

static int read_dht(decoder* d) {
    const uint8_t* p;
    size_t n;
    int rc = segment(d, &p, &n);
    if (rc)
        return rc;
    if (n == 0)
        return WSQ_ESEGMENT;
    while (n > 0) {
        if (n < 17)
            return WSQ_ESEGMENT;
        unsigned id = p[0];
        if (id >= WSQ_HUFF_TABLES)
            return WSQ_ESEGMENT;
        wsq_huff_dec* t = &d->huff[id];
        t->defined = 0;
        size_t total = 0;
        t->bits[0] = 0;
        for (int l = 1; l <= 16; ++l) {
            t->bits[l] = p[l];
            total += p[l];
        }
        if (total > 256)
            return WSQ_EHUFFTABLE;
        if (n < 17 + total)
            return WSQ_ESEGMENT;
        memcpy(t->values, p + 17, total);
        rc = wsq_huff_dec_build(t);
        if (rc)
            return rc;
        p += 17 + total;
        n -= 17 + total;
    }
    return WSQ_OK;
}

static void parse_nistcom(decoder* d, const uint8_t* p, size_t n) {
    /* "name value" pairs, one per line; only the first NISTCOM counts. */
    d->have_nistcom = 1;
    size_t i = 0;
    while (i < n) {
        size_t e = i;
        while (e < n && p[e] != '\n')
            ++e;
        char line[128];
        size_t ln = e - i < sizeof line - 1 ? e - i : sizeof line - 1;
        memcpy(line, p + i, ln);
        line[ln] = 0;
        char* sep = line;
        while (*sep && *sep != ' ' && *sep != '\t')
            ++sep;
        if (*sep) {
            *sep++ = 0;
            if (strcmp(line, "PPI") == 0) {
                char* end;
                long v = strtol(sep, &end, 10);
                d->ppi = (v > 0 && v < 100000) ? (int)v : -1;
            } else if (strcmp(line, "WSQ_BITRATE") == 0) {
                double v = strtod(sep, NULL);
                d->bitrate = (v > 0 && v < 100) ? v : 0.0;
            }
        }
        i = e + 1;
    }
}

static int read_com(decoder* d) {
    const uint8_t* p;
    size_t n;
    int rc = segment(d, &p, &n);
    if (rc)
        return rc;
    if (!d->started && !d->have_nistcom && n >= 8 && memcmp(p, "NIST_COM", 8) == 0)
        parse_nistcom(d, p, n);
    /* Keep the text for wsq_read_info, joined by blank lines, cut at the buffer's end. */
    size_t room = sizeof d->comment - 1 - d->comment_len;
    if (d->comment_len && room >= 2) {
        memcpy(d->comment + d->comment_len, "\n\n", 2);
        d->comment_len += 2;
        room -= 2;
    }
    size_t k = n < room ? n : room;
    memcpy(d->comment + d->comment_len, p, k);
    d->comment_len += k;
    d->comment[d->comment_len] = 0;
    return WSQ_OK;
}

static int read_sof(decoder* d, const wsq_decode_limits* lim) {
    const uint8_t* p;
    size_t n;
    int rc = segment(d, &p, &n);
    if (rc)
        return rc;
    if (n != 15)
        return WSQ_ESEGMENT;
    d->height = (uint32_t)p[2] << 8 | p[3];
    d->width = (uint32_t)p[4] << 8 | p[5];
    d->mean = scaled16(p + 6);
    d->scale = scaled16(p + 9);
    d->encoder = p[12];
    d->software = p[13] << 8 | p[14];
    if (d->width == 0 || d->height == 0)
        return WSQ_ESEGMENT;
    uint64_t maxpix = lim && lim->max_pixels ? lim->max_pixels : DEFAULT_MAX_PIXELS;
    if ((uint64_t)d->width * d->height > maxpix)
        return WSQ_ELIMIT;
    rc = wsq_build_geometry(d->width, d->height, &d->geo);
    if (rc)
        return rc;
    d->have_sof = 1;
    return WSQ_OK;
}

/* Called at the first block: fixes which subbands are transmitted. */
static int start_coefficients(decoder* d) {
    if (!d->have_dtt || !d->have_dqt || !d->have_sof)
        return WSQ_ENOTABLE;
    /* The plane (zeroed: subbands not transmitted stay zero), then the inverse
     * transform's scratch, in one allocation. */
    d->work_bytes = 2 * (size_t)d->width * d->height * sizeof(float);
    d->plane = wsq_big_alloc(d->work_bytes);
    if (!d->plane)
        return WSQ_ENOMEM;
    d->nbands = 0;
    d->remaining = 0;
    for (int k = 0; k < WSQ_CODED_SUBBANDS; ++k) {
        const wsq_rect* r = &d->geo.band[k];
        if (d->q[k] == 0.0 || r->w == 0 || r->h == 0)
            continue;
        d->band_of[d->nbands] = k;
        d->bands[d->nbands++] = (band_cursor){r->x, r->y, r->w, r->h};
        d->remaining += (uint64_t)r->w * r->h;
    }
    d->cur_band = 0;
    d->cur_x = d->cur_y = 0;
    d->started = 1;
    return WSQ_OK;
}

static int put_value(decoder* d, float v) {
    if (d->remaining == 0)
        return WSQ_ECOUNT;
    const band_cursor* b = &d->bands[d->cur_band];
    d->plane[(size_t)(b->y + d->cur_y) * d->width + b->x + d->cur_x] = v;
    --d->remaining;
    if (++d->cur_x == b->w) {
        d->cur_x = 0;
        if (++d->cur_y == b->h) {
            d->cur_y = 0;
            ++d->cur_band;
        }
    }
    return WSQ_OK;
}

static int skip_zeros(decoder* d, uint32_t n) {
    if (n > d->remaining)
        return WSQ_ECOUNT;
    d->remaining -= n;
    while (n > 0) {
        const band_cursor* b = &d->bands[d->cur_band];
        uint32_t left = b->w - d->cur_x;
        if (n < left) {
            d->cur_x += n;
            return WSQ_OK;
        }
        n -= left;
        d->cur_x = 0;
        if (++d->cur_y == b->h) {
            d->cur_y = 0;
            ++d->cur_band;
        }
        /* Skip whole rows and bands in one step where possible. */
        while (n > 0 && d->cur_band < d->nbands) {
            const band_cursor* c = &d->bands[d->cur_band];
            uint64_t rest = (uint64_t)(c->h - d->cur_y) * c->w;
            if (n >= rest) {
                n -= (uint32_t)rest;
                d->cur_y = 0;
                ++d->cur_band;
            } else {
                uint32_t rows = n / c->w;
                d->cur_y += rows;
                n -= rows * c->w;
                break;
            }
        }
    }
    return WSQ_OK;
}

static inline uint32_t peek32(const uint8_t* buf, uint64_t pos) {
    const uint8_t* p = buf + (pos >> 3);
    uint64_t v = (uint64_t)p[0] << 56 | (uint64_t)p[1] << 48 | (uint64_t)p[2] << 40 |
                 (uint64_t)p[3] << 32 | (uint64_t)p[4] << 24 | (uint64_t)p[5] << 16 |
                 (uint64_t)p[6] << 8 | p[7];
    return (uint32_t)((v << (pos & 7)) >> 32);
}

/* Decodes one block's entropy-coded data, which runs up to the next marker. */
static int decode_block(decoder* d, const wsq_huff_dec* t) {
    /* Remove the stuffed zero bytes into a private copy with 0xFF slack at its end. */
    size_t start = d->pos, end = start;
    while (end < d->len) {
        if (d->data[end] == 0xFF) {
            if (end + 1 >= d->len)
                return WSQ_ETRUNC;
            if (d->data[end + 1] != 0x00)
                break;
            end += 2;
        } else {
            ++end;
        }
    }
    if (end >= d->len)
        return WSQ_ETRUNC;
    uint8_t* buf = realloc(d->unstuffed, end - start + 8);
    if (!buf)
        return WSQ_ENOMEM;
    d->unstuffed = buf;
    size_t n = 0;
    for (size_t i = start; i < end; ++i) {
        buf[n++] = d->data[i];
        if (d->data[i] == 0xFF)
            ++i;
    }
    memset(buf + n, 0xFF, 8);
    d->pos = end;

    const uint64_t total = (uint64_t)n * 8;
    uint64_t pos = 0;
    while (pos < total) {
        uint64_t left = total - pos;
        uint32_t look = peek32(buf, pos);
        if (left < 8 && (look >> (32 - left)) == (1u << left) - 1)
            break; /* the block's padding */
        unsigned len, sym;
        uint16_t f = t->fast[look >> 22];
        if (f) {
            len = f >> 8;
            sym = f & 0xFF;
        } else {
            len = 11;
            int32_t code = (int32_t)(look >> 21);
            while (len <= 16 && code > t->maxcode[len]) {
                ++len;
                code = (int32_t)(look >> (32 - len));
            }
            if (len > 16)
                return WSQ_EHUFFCODE;
            sym = t->values[t->valoffset[len] + code];
        }
        if (len > left)
            return left < 8 ? WSQ_ECOUNT : WSQ_EHUFFCODE;
        pos += len;
        int rc;
        if (sym >= 107 && sym != 180 && sym <= 254) {
            rc = put_value(d, (float)((int)sym - 180));
        } else if (sym >= 1 && sym <= 100) {
            rc = skip_zeros(d, sym);
        } else if (sym >= 101 && sym <= 106) {
            unsigned nb = (sym == 101 || sym == 102 || sym == 105) ? 8 : 16;
            if (total - pos < nb)
                return WSQ_ETRUNC;
            uint32_t extra = peek32(buf, pos) >> (32 - nb);
            pos += nb;
            if (sym <= 104)
                rc = put_value(d, (float)((sym & 1) ? (int32_t)extra : -(int32_t)extra));
            else
                rc = skip_zeros(d, extra);
        } else {
            return WSQ_EHUFFCODE; /* symbol without meaning */
        }
        if (rc)
            return rc;
    }
    return WSQ_OK;
}

static int parse(decoder* d, const wsq_decode_limits* lim) {
    unsigned m;
    int rc = get16(d, &m);
    if (rc || m != WSQ_SOI)
        return WSQ_ENOTWSQ;
    for (;;) {
        rc = get16(d, &m);
        if (rc)
            return rc;
        switch (m) {
        case WSQ_DTT:
        case WSQ_DQT:
            if (d->started)
                return WSQ_EUNSUPPORTED; /* tables that change between blocks */
            rc = m == WSQ_DTT ? read_dtt(d) : read_dqt(d);
            break;
        case WSQ_DHT:
            rc = read_dht(d);
            break;
        case WSQ_COM:
            rc = read_com(d);
            break;
        case WSQ_SOF:
            rc = d->have_sof ? WSQ_EMARKER : read_sof(d, lim);
            break;
        case WSQ_SOB: {
            if (!d->have_sof)
                return WSQ_EMARKER;
            if (d->headers_only)
                return WSQ_OK;
            const uint8_t* p;
            size_t n;
            rc = segment(d, &p, &n);
            if (rc)
                return rc;
            if (n != 1)
                return WSQ_ESEGMENT;
            if (p[0] >= WSQ_HUFF_TABLES || !d->huff[p[0]].defined)
                return WSQ_ENOTABLE;
            if (!d->started && (rc = start_coefficients(d)) != WSQ_OK)
                return rc;
            rc = decode_block(d, &d->huff[p[0]]);
            break;
        }
        case WSQ_EOI:
            if (!d->started)
                return d->have_sof ? WSQ_ECOUNT : WSQ_EMARKER;
            return d->remaining == 0 ? WSQ_OK : WSQ_ECOUNT;
        case WSQ_DRT:
            return WSQ_EUNSUPPORTED; /* restart intervals */
        default:
            return WSQ_EMARKER;
        }
        if (rc)
            return rc;
    }
}

static decoder* decoder_new(const uint8_t* data, size_t len) {
    decoder* d = calloc(1, sizeof *d);
    if (!d)
        return NULL;
    d->data = data;
    d->len = len;
    d->ppi = -1;
    return d;
}

static void decoder_free(decoder* d) {
    wsq_big_free(d->plane, d->work_bytes);
    free(d->unstuffed);
    free(d);
}

static void dequantise(decoder* d) {
    for (int i = 0; i < d->nbands; ++i) {
        const band_cursor* b = &d->bands[i];
        int k = d->band_of[i];
        float q = (float)d->q[k], hz = (float)(d->z[k] / 2), c = (float)d->c;
        float pos_off = hz - q * c, neg_off = q * c - hz;
        for (uint32_t y = 0; y < b->h; ++y) {
            float* p = d->plane + (size_t)(b->y + y) * d->width + b->x;
            for (uint32_t x = 0; x < b->w; ++x) {
                float v = p[x];
                p[x] = v > 0 ? q * v + pos_off : (v < 0 ? q * v + neg_off : 0.0f);
            }
        }
    }
}

int wsq_decode(const uint8_t* data, size_t len, const wsq_decode_limits* limits, wsq_image* img) {
    if (!img)
        return WSQ_EINVAL;
    memset(img, 0, sizeof *img);
    img->ppi = -1;
    if (!data && len)
        return WSQ_EINVAL;
    decoder* d = decoder_new(data, len);
    if (!d)
        return WSQ_ENOMEM;
    int rc = parse(d, limits);
    size_t npix = (size_t)d->width * d->height;
    uint8_t* out = NULL;
    if (rc == WSQ_OK) {
        out = malloc(npix);
        if (!out)
            rc = WSQ_ENOMEM;
    }
    if (rc == WSQ_OK) {
        dequantise(d);
        rc = wsq_inverse(d->plane, d->plane + npix, &d->geo, &d->filters);
    }
    if (rc == WSQ_OK) {
        float r = (float)d->scale, m = (float)d->mean + 0.5f;
        for (size_t i = 0; i < npix; ++i) {
            float v = d->plane[i] * r + m;
            out[i] = v >= 255.0f ? 255 : (v >= 0.0f ? (uint8_t)v : 0); /* NaN gives 0 */
        }
        img->pixels = out;
        img->width = d->width;
        img->height = d->height;
        img->ppi = d->ppi;
    } else {
        free(out);
    }
    decoder_free(d);
    return rc;
}

int wsq_read_info(const uint8_t* data, size_t len, wsq_info* info) {
    if (!info || (!data && len))
        return WSQ_EINVAL;
    memset(info, 0, sizeof *info);
    info->ppi = -1;
    decoder* d = decoder_new(data, len);
    if (!d)
        return WSQ_ENOMEM;
    d->headers_only = 1;
    int rc = parse(d, NULL);
    if (rc == WSQ_OK) {
        info->width = d->width;
        info->height = d->height;
        info->ppi = d->ppi;
        info->bitrate = d->bitrate;
        info->bpp = (double)len * 8.0 / ((double)d->width * d->height);
        info->encoder = d->encoder;
        info->software = d->software;
        memcpy(info->comment, d->comment, d->comment_len + 1);
    }
    decoder_free(d);
    return rc;
}
