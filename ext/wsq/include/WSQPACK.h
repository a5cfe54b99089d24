/* WSQPACK: in-process WSQ compression as a shared library (libWSQPACK.so).
 *
 * The station loads the library by name and resolves these three entry points, which
 * have C linkage and plain names. Results are 0 on success or a negative code of the
 * WSQ codec (see wsq.h for their meaning); buffers returned through the out-parameters
 * are owned by the caller and released with WSQPACK_Free.
 */
#ifndef WSQPACK_H
#define WSQPACK_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Compresses an 8-bit grey image: `pixels` holds width * height bytes, top row first,
 * no row padding. ppi <= 0 records an unknown resolution; bitrate is in bits per pixel
 * (0.75 gives about 15:1, 2.25 about 5:1; 0 or less selects 0.75). On success *out is
 * a new buffer of *out_len bytes holding the WSQ file. */
int WSQPACK_Compress(const unsigned char* pixels, int width, int height, int ppi, double bitrate,
                     unsigned char** out, size_t* out_len);

/* Decompresses a WSQ file of `len` bytes. On success *pixels is a new buffer of
 * *width * *height bytes, top row first; *ppi is the recorded resolution or -1. */
int WSQPACK_Uncompress(const unsigned char* data, size_t len, unsigned char** pixels, int* width,
                       int* height, int* ppi);

/* Releases a buffer returned by WSQPACK_Compress or WSQPACK_Uncompress; NULL is ignored. */
void WSQPACK_Free(void* buffer);

/* Function pointer types for callers that resolve the entry points at run time. */
typedef int (*WSQPACK_Compress_fn)(const unsigned char*, int, int, int, double, unsigned char**,
                                   size_t*);
typedef int (*WSQPACK_Uncompress_fn)(const unsigned char*, size_t, unsigned char**, int*, int*,
                                     int*);
typedef void (*WSQPACK_Free_fn)(void*);

#ifdef __cplusplus
}
#endif

#endif
