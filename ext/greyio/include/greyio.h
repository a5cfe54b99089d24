/* 8-bit grey BMP files for the command-line tools: one reader and one writer, so that every
 * tool accepts and refuses the same files, and the file helpers the tools share (whole-file
 * read, atomic write).
 *
 * Functions return GREYIO_OK (0), a negative GREYIO_E* code, or (the file functions) a
 * positive errno value; greyio_strerror() gives one line of text for any of them. Buffers
 * handed out are malloc'd and released with free(). No global state.
 */
#ifndef GREYIO_H
#define GREYIO_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum greyio_error {
    GREYIO_OK = 0,
    GREYIO_EINVAL = -1,  /* invalid argument */
    GREYIO_ENOMEM = -2,  /* out of memory */
    GREYIO_ENOTBMP = -3, /* not a BMP file, or one cut short */
    GREYIO_EFORMAT = -4, /* not 8 bits a pixel, compressed, or a colour palette */
    GREYIO_ESIZE = -5,   /* zero, negative or over-65535 width or height */
};

/* Text for a GREYIO_E* code or an errno value; never NULL. */
const char* greyio_strerror(int code);

/* Largest width or height read or written. */
#define GREYIO_MAX_SIDE 65535u

typedef struct greyio_image {
    uint8_t* pixels; /* grey levels, rows top first, exactly width bytes each */
    uint32_t width;
    uint32_t height;
    int ppi; /* from the horizontal resolution field, 0 when unset */
} greyio_image;

/* Decodes a BMP held in memory. Accepted: the 40-byte info header or a larger (V4, V5)
 * one, 8 bits a pixel, no compression, rows bottom-up or top-down, a colour table of up to
 * 256 entries that are all grey (red = green = blue). Pixels are mapped through the table,
 * so an inverted grey palette reads correctly; an index past the table reads as black.
 * Everything else, and data that overlaps the headers or ends early, is refused; on
 * failure img->pixels is NULL. */
int greyio_bmp_decode(const uint8_t* data, size_t len, greyio_image* img);

/* Reads and decodes a BMP file: greyio_read_file() then greyio_bmp_decode(). */
int greyio_bmp_load(const char* path, greyio_image* img);

/* Encodes the classic layout: 14-byte file header, 40-byte info header, 256 grey palette
 * entries, pixels at offset 1078, rows bottom-up padded to 4 bytes. ppi <= 0 leaves the
 * resolution unset. */
int greyio_bmp_encode(const uint8_t* pixels, uint32_t width, uint32_t height, int ppi,
                      uint8_t** out, size_t* out_len);

/* Writes the layout of greyio_bmp_encode to `path` the way greyio_write_file_atomic does,
 * straight from the caller's rows (no copy of the image is made). */
int greyio_bmp_save(const char* path, const uint8_t* pixels, uint32_t width, uint32_t height,
                    int ppi);

/* Reads a whole regular file (at most 1 GiB). Returns 0 or an errno value. */
int greyio_read_file(const char* path, uint8_t** data, size_t* len);

/* Writes data under a temporary name in the target's folder, flushes it to disk once and
 * renames it over `path`, so that `path` never holds a partial file. On failure the
 * temporary is removed; termination signals are held back meanwhile. Returns 0 or an
 * errno value. */
int greyio_write_file_atomic(const char* path, const void* data, size_t len);

/* True when both names refer to one existing file. */
int greyio_same_file(const char* a, const char* b);

#ifdef __cplusplus
}
#endif

#endif
