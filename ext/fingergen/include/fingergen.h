/* fingergen: synthetic fingerprint images for simulated scanners.
 *
 * A print is grown from an orientation field (arch, tented arch, left loop, right loop or
 * whorl, with their cores and deltas) by iterative oriented band-pass filtering, which
 * leaves genuine ridge endings and bifurcations. It is rendered as an 8-bit grey image at
 * about 500 ppi: black ridges on a light background, a rounded finger outline, pressure
 * that varies over the contact area, a little sensor noise and optional defects.
 *
 * Everything is a pure function of (seed, finger): the same simulated person's finger
 * looks the same on every call, and no state is kept between calls. The functions are
 * safe to call from several threads at once.
 */
#ifndef FINGERGEN_H
#define FINGERGEN_H

#ifdef __cplusplus
extern "C" {
#endif

/* Results. */
#define FG_OK 0
#define FG_ERR_NULL (-1)   /* pixels is a null pointer */
#define FG_ERR_FINGER (-2) /* finger outside 1..10 */
#define FG_ERR_SIZE (-3)   /* width or height outside FG_MIN_SIDE..FG_MAX_SIDE */
#define FG_ERR_DEFECT (-4) /* a defect strength is not a number in 0..1 */
#define FG_ERR_NOMEM (-5)  /* working memory could not be allocated */

/* Accepted image sides in pixels. */
#define FG_MIN_SIDE 32
#define FG_MAX_SIDE 4096

/* Pattern classes, as returned by fg_pattern_class(). */
#define FG_ARCH 0
#define FG_TENTED_ARCH 1
#define FG_LEFT_LOOP 2
#define FG_RIGHT_LOOP 3
#define FG_WHORL 4

/* Controlled defects; each strength runs from 0 (absent) to 1 (severe). */
typedef struct fg_defects {
    float low_contrast; /* faint ridges on a greyer background */
    float noise;        /* sensor grain and speckles */
    float dryness;      /* thin, broken ridges */
    float smudge;       /* wet or smeared finger: thick, merged ridges */
    float partial;      /* part of the finger off the platen */
} fg_defects;

/* Renders the print of finger 1..10 (1 right thumb .. 5 right little, 6 left thumb .. 10
 * left little) of the simulated person `seed` into `pixels`: width * height bytes, top row
 * first, no row padding, 0 black .. 255 white. `d` may be null for a clean print.
 * Returns FG_OK or a negative FG_ERR_* code; on error `pixels` is left untouched. */
int fg_render(unsigned seed, int finger, int width, int height, const fg_defects* d,
              unsigned char* pixels);

/* The pattern class (FG_ARCH .. FG_WHORL) fg_render draws for (seed, finger), or
 * FG_ERR_FINGER. */
int fg_pattern_class(unsigned seed, int finger);

/* A short English text for a result code. Never null. */
const char* fg_strerror(int code);

#ifdef __cplusplus
}
#endif

#endif
