/* WSQ grey-scale fingerprint image codec.
 *
 * All functions return WSQ_OK (0) on success or a negative WSQ_E* code; wsq_strerror()
 * turns a code into one line of English text. Buffers handed out by the library are
 * allocated with malloc() and released by the caller with wsq_free() (or free()).
 * The library keeps no global mutable state: every call may run on any thread.
 */
#ifndef WSQ_H
#define WSQ_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum wsq_error {
    WSQ_OK = 0,
    WSQ_EINVAL = -1,        /* invalid argument */
    WSQ_ENOMEM = -2,        /* out of memory */
    WSQ_ETRUNC = -3,        /* data ends early */
    WSQ_ENOTWSQ = -4,       /* no start-of-image marker: not a WSQ stream */
    WSQ_EMARKER = -5,       /* unexpected or unknown marker */
    WSQ_ESEGMENT = -6,      /* malformed segment (length or field out of range) */
    WSQ_ETOOSMALL = -7,     /* image too small for the 64-subband transform */
    WSQ_ELIMIT = -8,        /* image larger than the configured limit */
    WSQ_ENOTABLE = -9,      /* a block needs a table that was not defined */
    WSQ_EHUFFTABLE = -10,   /* Huffman table does not describe a valid prefix code */
    WSQ_EHUFFCODE = -11,    /* entropy-coded data holds an undefined code */
    WSQ_ECOUNT = -12,       /* coefficient count does not match the image geometry */
    WSQ_EUNSUPPORTED = -13, /* valid WSQ feature this codec does not implement */
    WSQ_ERANGE = -14,       /* value cannot be represented in the stream */
};

/* One line of text for a result code; never NULL. */
const char* wsq_strerror(int code);

/* Default bit rates (bits per pixel): about 15:1 and 5:1 compression. */
#define WSQ_BITRATE_DEFAULT 0.75
#define WSQ_BITRATE_HIGH 2.25

/* Largest width or height the stream can carry. */
#define WSQ_MAX_DIMENSION 65535u

/* Smallest image the transform accepts, in each direction. Every one of the transform's
 * regions must keep at least two samples per line; that holds from this size on. */
#define WSQ_MIN_DIMENSION 17u

/* Encodes an 8-bit grey image (rows top first, `stride` bytes apart, stride >= width).
 * ppi <= 0 records "unknown" (-1). bitrate is the target in bits per pixel, in (0, 8].
 * comment, when not NULL, is written as an extra comment segment (at most 65533 bytes).
 * On success *out receives a malloc'd buffer of *out_len bytes. */
int wsq_encode(const uint8_t* pixels, uint32_t width, uint32_t height, size_t stride, int ppi,
               double bitrate, const char* comment, uint8_t** out, size_t* out_len);

/* Decoder limits against hostile input. Zero in a field means "use the default". */
typedef struct wsq_decode_limits {
    uint64_t max_pixels; /* default 64 megapixels */
} wsq_decode_limits;

typedef struct wsq_image {
    uint8_t* pixels; /* width * height bytes, rows top first, malloc'd */
    uint32_t width;
    uint32_t height;
    int ppi; /* from the NISTCOM comment, -1 when absent */
} wsq_image;

/* Decodes a WSQ stream. limits may be NULL. On failure img->pixels is NULL. */
int wsq_decode(const uint8_t* data, size_t len, const wsq_decode_limits* limits, wsq_image* img);

/* Header facts read without decoding the coefficients. */
typedef struct wsq_info {
    uint32_t width;
    uint32_t height;
    int ppi;            /* -1 when unknown */
    double bitrate;     /* nominal rate from the NISTCOM comment, or 0 when absent */
    double bpp;         /* achieved rate: file bits per pixel */
    int encoder;        /* encoder number from the frame header */
    int software;       /* software implementation number from the frame header */
    char comment[4096]; /* the comment segments, joined by a blank line, NUL terminated */
} wsq_info;

int wsq_read_info(const uint8_t* data, size_t len, wsq_info* info);

void wsq_free(void* p);

#ifdef __cplusplus
}
#endif

#endif
