/* GBNFIQ: NIST NFIQ 1.0 fingerprint image quality as a shared library with C linkage. */
#ifndef GBNFIQ_H
#define GBNFIQ_H

#ifdef __cplusplus
extern "C" {
#endif

/* Status values of GBNFIQ_GetImageQuality. */
#define GBNFIQ_OK 0               /* *score is the NFIQ value 1 (best) .. 5 (worst) */
#define GBNFIQ_EMPTY_IMAGE 1      /* no usable foreground; *score = 5 */
#define GBNFIQ_TOO_FEW_MINUTIAE 2 /* 5 or fewer minutiae; *score = 5 */
#define GBNFIQ_INVALID_ARGUMENT 3 /* see below; *score = 0 when score is not NULL */
#define GBNFIQ_OUT_OF_MEMORY 4    /* working memory not available; *score = 0 */

/* Scores an 8-bit grey image of width × height pixels, rows from top to bottom, each row
 * exactly width bytes, assumed 500 ppi. The library does not keep pixels after the call.
 *
 * GBNFIQ_INVALID_ARGUMENT is returned, and nothing is read, when pixels or score is NULL,
 * width or height is not positive or larger than 4096, or reserved is not 0 (reserved for
 * future options). Images with a side below 32 pixels hold no analysable block and give
 * GBNFIQ_EMPTY_IMAGE. Safe to call from several threads at once. */
int GBNFIQ_GetImageQuality(const unsigned char* pixels, int width, int height, int* score,
                           int reserved);

/* Writes the library version: *major, *minor, *build; *reserved receives the NFIQ
 * algorithm generation (1 for NFIQ 1.0). Any NULL pointer is skipped. Returns 0. */
int GBNFIQ_GetVersion(int* major, int* minor, int* build, int* reserved);

#ifdef __cplusplus
}
#endif

#endif
