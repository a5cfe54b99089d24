/* fpmatch: a minutiae-based fingerprint matcher for 8-bit grey images at 500 ppi.
 *
 * A template holds the minutiae of one print (found by the NFIQ library's detector), their
 * neighbourhoods and the print's foreground; it is made once and compared many times.
 * Comparing two templates gives a similarity score: 0 for unrelated prints, growing with
 * the number of minutiae that agree after the best rigid alignment of the two prints
 * (translation and rotation), relative to the minutiae both prints could show. Scores are
 * symmetric (a against b equals b against a).
 *
 * Functions return FPMATCH_OK (0) or a negative FPMATCH_E* code; fpmatch_strerror() gives
 * one line of text for it. No global state; templates are read-only once made, so one
 * template may be compared from several threads at once.
 */
#ifndef FPMATCH_H
#define FPMATCH_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum fpmatch_error {
    FPMATCH_OK = 0,
    FPMATCH_EINVAL = -1, /* invalid argument (NULL pointer, reserved not 0) */
    FPMATCH_ENOMEM = -2, /* out of memory */
    FPMATCH_ESIZE = -3,  /* width or height not positive or above FPMATCH_MAX_SIDE */
};

/* Largest width or height accepted. Images with a side below 32 pixels are accepted and
 * give a template without minutiae. */
#define FPMATCH_MAX_SIDE 4096

/* At most this many minutiae (the most reliable ones) are kept in a template. */
#define FPMATCH_MAX_MINUTIAE 120

/* Score from which two prints are taken for the same finger. Chosen on public sample
 * prints so that about one pair of different fingers in a thousand reaches it. */
#define FPMATCH_SAME_FINGER 35

/* Highest score fpmatch_compare gives. */
#define FPMATCH_MAX_SCORE 100

typedef struct fpmatch_template fpmatch_template;

/* Text for an FPMATCH_E* code; never NULL. */
const char* fpmatch_strerror(int code);

/* Makes the template of a top-down 8-bit grey image of width × height pixels, rows exactly
 * width bytes, 500 ppi. On success *out receives a template to release with fpmatch_free;
 * on failure *out is NULL. The pixels are not kept. */
int fpmatch_extract(const uint8_t* pixels, int width, int height, int reserved,
                    fpmatch_template** out);

/* Number of minutiae kept in a template (0 for a blank or tiny print); -1 for NULL. */
int fpmatch_minutiae(const fpmatch_template* t);

/* Similarity of two templates, 0 .. FPMATCH_MAX_SCORE, in *score. Templates with fewer
 * than FPMATCH_MIN_MINUTIAE minutiae score 0 against anything. */
#define FPMATCH_MIN_MINUTIAE 8
int fpmatch_compare(const fpmatch_template* a, const fpmatch_template* b, int* score);

/* Releases a template; NULL is ignored. */
void fpmatch_free(fpmatch_template* t);

#ifdef __cplusplus
}
#endif

#endif
