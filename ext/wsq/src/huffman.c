/* Huffman tables: optimal length-limited code construction for the encoder (the
 * procedure of the JPEG standard, Annex K.2) and canonical decode tables. */
#include <math.h>
#include <string.h>

#include "wsq_internal.h"

#define NSYM 257 /* 256 byte values plus one reserved symbol */
#define MAXLEN 300

/* Heap order of the code-size procedure: a before b when a is less frequent, or equally
 * frequent and the larger symbol. */
static int before(const uint64_t* freq, int a, int b) {
    return freq[a] < freq[b] || (freq[a] == freq[b] && a > b);
}

static int heap_pop(int* heap, int* n, const uint64_t* freq) {
    int top = heap[0], last = heap[--*n], k = 0;
    for (;;) {
        int c = 2 * k + 1;
        if (c >= *n)
            break;
        if (c + 1 < *n && before(freq, heap[c + 1], heap[c]))
            ++c;
        if (!before(freq, heap[c], last))
            break;
        heap[k] = heap[c];
        k = c;
    }
    heap[k] = last;
    return top;
}

int wsq_huff_make_table(const uint32_t freq_in[256], uint8_t bits[17], uint8_t values[256]) {
    uint64_t freq[NSYM];
    int codesize[NSYM];
    int others[NSYM];
    int used = 0;
    for (int i = 0; i < 256; ++i) {
        freq[i] = freq_in[i];
        used += freq_in[i] != 0;
    }
    memset(bits, 0, 17);
    if (used == 0)
        return 0;
    freq[256] = 1; /* keeps the all-ones code word unused */
    for (int i = 0; i < NSYM; ++i) {
        codesize[i] = 0;
        others[i] = -1;
    }
    /* Entries still in play as a binary min-heap: least frequency first and, among equal
     * frequencies, the larger symbol first (the tie rule of the procedure). */
    int heap[NSYM], nheap = 0;
    for (int i = 0; i < NSYM; ++i) {
        if (!freq[i])
            continue;
        int k = nheap++;
        for (; k > 0 && before(freq, i, heap[(k - 1) / 2]); k = (k - 1) / 2)
            heap[k] = heap[(k - 1) / 2];
        heap[k] = i;
    }
    while (nheap > 1) {
        /* The two least frequent entries: c1 takes c2's frequency and c2 leaves. */
        int c1 = heap_pop(heap, &nheap, freq);
        int c2 = heap_pop(heap, &nheap, freq);
        freq[c1] += freq[c2];
        freq[c2] = 0;
        int k = nheap++;
        for (; k > 0 && before(freq, c1, heap[(k - 1) / 2]); k = (k - 1) / 2)
            heap[k] = heap[(k - 1) / 2];
        heap[k] = c1;
        codesize[c1]++;
        while (others[c1] >= 0) {
            c1 = others[c1];
            codesize[c1]++;
        }
        others[c1] = c2;
        codesize[c2]++;
        while (others[c2] >= 0) {
            c2 = others[c2];
            codesize[c2]++;
        }
    }
    int count[MAXLEN + 1];
    memset(count, 0, sizeof count);
    for (int i = 0; i < NSYM; ++i) {
        if (codesize[i])
            count[codesize[i]]++;
    }
    /* Limit code lengths to 16 bits: move pairs of long codes up the tree. */
    for (int i = MAXLEN; i > 16; --i) {
        while (count[i] > 0) {
            int j = i - 2;
            while (count[j] == 0)
                --j;
            count[i] -= 2;
            count[i - 1]++;
            count[j + 1] += 2;
            count[j]--;
        }
    }
    /* Drop the reserved symbol's code: the longest one. */
    int i = 16;
    while (i > 0 && count[i] == 0)
        --i;
    count[i]--;
    for (int l = 1; l <= 16; ++l)
        bits[l] = (uint8_t)count[l];
    int n = 0;
    for (int l = 1; l <= MAXLEN && n < used; ++l) {
        for (int s = 0; s < 256; ++s) {
            if (codesize[s] == l)
                values[n++] = (uint8_t)s;
        }
    }
    return n;
}

int wsq_huff_dec_build(wsq_huff_dec* t) {
    int total = 0;
    for (int l = 1; l <= 16; ++l)
        total += t->bits[l];
    if (total > 256)
        return WSQ_EHUFFTABLE;
    t->nvalues = total;
    memset(t->fast, 0, sizeof t->fast);
    int32_t code = 0;
    int k = 0;
    for (int l = 1; l <= 16; ++l) {
        t->valoffset[l] = k - code;
        for (int j = 0; j < t->bits[l]; ++j, ++k, ++code) {
            if (code >= (1 << l))
                return WSQ_EHUFFTABLE; /* more codes than this length can hold */
            if (l <= 10) {
                int shift = 10 - l;
                int first = code << shift;
                for (int f = 0; f < (1 << shift); ++f)
                    t->fast[first + f] = (uint16_t)(l << 8 | t->values[k]);
            }
        }
        t->maxcode[l] = t->bits[l] ? code - 1 : -1;
        code <<= 1;
    }
    t->maxcode[17] = INT32_MAX;
    t->defined = 1;
    return WSQ_OK;
}

/* Scaled 16-bit value as the reference encoder writes it: the value is multiplied by ten,
 * in single precision, until it reaches the limit; the exponent is one less than the
 * number of multiplications and the mantissa the rounded tenth of the last product. */
int wsq_scale16(float v, uint8_t* e, uint16_t* m) {
    *e = 0;
    *m = 0;
    if (!(v >= 0.0f) || !(v < 65535.0f))
        return WSQ_ERANGE;
    if (v == 0.0f)
        return WSQ_OK;
    int count = 0;
    float t = v;
    while (t < 65535.0f) {
        t *= 10.0f;
        if (++count > 256)
            return WSQ_ERANGE;
    }
    double r = floor((double)t / 10.0 + 0.5);
    *e = (uint8_t)(count - 1);
    *m = (uint16_t)(r < 65535.0 ? r : 65535.0);
    return WSQ_OK;
}
