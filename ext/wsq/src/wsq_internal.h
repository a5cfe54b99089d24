/* Internal declarations shared by the WSQ encoder and decoder. */
#ifndef WSQ_INTERNAL_H
#define WSQ_INTERNAL_H

#include <stddef.h>
#include <stdint.h>

#include "wsq.h"

#ifdef __cplusplus
extern "C" {
#endif

enum {
    WSQ_SOI = 0xFFA0,
    WSQ_EOI = 0xFFA1,
    WSQ_SOF = 0xFFA2,
    WSQ_SOB = 0xFFA3,
    WSQ_DTT = 0xFFA4,
    WSQ_DQT = 0xFFA5,
    WSQ_DHT = 0xFFA6,
    WSQ_DRT = 0xFFA7,
    WSQ_COM = 0xFFA8,
};

/* Marks a hot loop to be compiled twice, for AVX2 and for the baseline, the processor
 * choosing at load time. AVX2 without fused multiply-adds rounds exactly as the baseline
 * does, so results do not depend on the processor. Not under ThreadSanitizer: the load-time
 * chooser runs before its runtime is ready and the instrumented chooser crashes. */
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
#define WSQ_WIDE_SIMD __attribute__((target_clones("avx2", "default")))
#else
#define WSQ_WIDE_SIMD
#endif

#define WSQ_NODES 20
#define WSQ_SUBBANDS 64
#define WSQ_CODED_SUBBANDS 60
#define WSQ_HUFF_TABLES 8
#define WSQ_MAX_FILTER_TAPS 31

typedef struct wsq_rect {
    uint32_t x, y, w, h;
} wsq_rect;

typedef struct wsq_node {
    wsq_rect r;
    uint8_t inv_x, inv_y;
} wsq_node;

typedef struct wsq_geometry {
    wsq_node node[WSQ_NODES];
    wsq_rect band[WSQ_SUBBANDS];
} wsq_geometry;

/* Builds the 20 transform regions and 64 subbands of a width x height image. Returns
 * WSQ_ETOOSMALL when some region would have a line shorter than two samples. */
int wsq_build_geometry(uint32_t width, uint32_t height, wsq_geometry* g);

/* First subband of each of the three coding blocks; index 3 is the end. */
extern const uint8_t wsq_block_first_band[4];

/* A symmetric analysis filter pair given by its right halves (centre tap first):
 * lo[0..nlo-1] are taps 0..nlo-1 of the low-pass filter, hi likewise. Both odd length. */
typedef struct wsq_filters {
    float lo[16], hi[16];
    int nlo, nhi; /* half lengths including the centre: (taps + 1) / 2 */
} wsq_filters;

/* Forward and inverse transform of a whole image plane (stride = image width), in place.
 * Both work through `scratch`, width * height floats the caller lends. Returns WSQ_OK or
 * WSQ_ENOMEM. */
int wsq_forward(float* plane, float* scratch, const wsq_geometry* g, const wsq_filters* f);
int wsq_inverse(float* plane, float* scratch, const wsq_geometry* g, const wsq_filters* f);

/* The analysis filters of the WSQ standard (9/7 taps). */
extern const wsq_filters wsq_filters_97;

/* Canonical Huffman table for decoding. */
typedef struct wsq_huff_dec {
    uint8_t defined;
    uint8_t bits[17]; /* bits[l]: number of codes of length l */
    uint8_t values[256];
    int nvalues;
    int32_t maxcode[18]; /* largest code of each length, -1 when none */
    int32_t valoffset[17];
    uint16_t fast[1 << 10]; /* (length << 8 | symbol) for codes up to 10 bits, 0 otherwise */
} wsq_huff_dec;

/* Validates bits/values and fills the decode structure. */
int wsq_huff_dec_build(wsq_huff_dec* t);

/* Optimal code lengths from symbol frequencies (symbols 0..255), limited to 16 bits,
 * with one code reserved so that no code word is all ones. Fills bits[1..16] and
 * values, returns the number of values. */
int wsq_huff_make_table(const uint32_t freq[256], uint8_t bits[17], uint8_t values[256]);

/* Large zeroed working buffers (huge pages where the system grants them); free with the
 * size they were allocated with. */
void* wsq_big_alloc(size_t n);
void wsq_big_free(void* p, size_t n);

/* Scaled 16-bit value: V / 10^E, computed as the reference encoder does. Returns
 * WSQ_ERANGE when it cannot be represented. */
int wsq_scale16(float v, uint8_t* e, uint16_t* m);

#ifdef __cplusplus
}
#endif

#endif
