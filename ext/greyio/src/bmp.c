/* The one 8-bit grey BMP reader and writer of the tools. */
#include <stdlib.h>
#include <string.h>

#include "greyio.h"
#include "internal.h"

static uint32_t le16(const uint8_t* p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8;
}

static uint32_t le32(const uint8_t* p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

static void put_le16(uint8_t* p, uint32_t v) {
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
}

static void put_le32(uint8_t* p, uint32_t v) {
    put_le16(p, v & 0xFFFF);
    put_le16(p + 2, v >> 16);
}

/* What the headers say about a BMP that passed every check. */
typedef struct layout {
    uint32_t width, height;
    size_t off, row; /* first pixel row in the file, bytes a row */
    int bottom_up;
    int identity; /* the grey table maps every index to itself */
    uint8_t grey[256];
    int ppi;
} layout;

static int parse(const uint8_t* data, size_t len, layout* l) {
    if (len < 14 + 40 || data[0] != 'B' || data[1] != 'M')
        return GREYIO_ENOTBMP;
    uint32_t off = le32(data + 10);
    uint32_t hsize = le32(data + 14);
    if (hsize < 40 || hsize > len - 14)
        return GREYIO_ENOTBMP;
    const uint8_t* ih = data + 14;
    int32_t w = (int32_t)le32(ih + 4), h = (int32_t)le32(ih + 8);
    uint32_t planes = le16(ih + 12), depth = le16(ih + 14), compression = le32(ih + 16);
    uint32_t ppm = le32(ih + 24), colours = le32(ih + 32);
    if (planes != 1 || depth != 8 || compression != 0)
        return GREYIO_EFORMAT;
    if (w <= 0 || h == 0 || h == INT32_MIN)
        return GREYIO_ESIZE;
    l->width = (uint32_t)w;
    l->height = (uint32_t)(h < 0 ? -h : h);
    if (l->width > GREYIO_MAX_SIDE || l->height > GREYIO_MAX_SIDE)
        return GREYIO_ESIZE;
    if (colours == 0)
        colours = 256;
    if (colours > 256)
        return GREYIO_EFORMAT;
    size_t table = 14 + (size_t)hsize;
    if (len - table < (size_t)colours * 4)
        return GREYIO_ENOTBMP;
    l->identity = colours == 256;
    for (uint32_t i = 0; i < 256; ++i) {
        if (i >= colours) {
            l->grey[i] = 0;
            continue;
        }
        const uint8_t* e = data + table + 4 * i; /* blue, green, red, reserved */
        if (e[0] != e[1] || e[1] != e[2])
            return GREYIO_EFORMAT;
        l->grey[i] = e[0];
        l->identity &= e[0] == i;
    }
    l->row = ((size_t)l->width + 3) & ~(size_t)3;
    if (off < table + (size_t)colours * 4 || off > len || (len - off) / l->row < l->height)
        return GREYIO_ENOTBMP; /* pixel data overlapping the headers, or cut short */
    l->off = off;
    l->bottom_up = h > 0;
    l->ppi = ppm ? (int)(((uint64_t)ppm * 254u + 5000u) / 10000u) : 0;
    return GREYIO_OK;
}

static void map_grey(const layout* l, uint8_t* px, size_t n) {
    if (!l->identity)
        for (size_t i = 0; i < n; ++i)
            px[i] = l->grey[px[i]];
}

static void fill(greyio_image* img, const layout* l, uint8_t* px) {
    img->pixels = px;
    img->width = l->width;
    img->height = l->height;
    img->ppi = l->ppi;
}

int greyio_bmp_decode(const uint8_t* data, size_t len, greyio_image* img) {
    if (!img)
        return GREYIO_EINVAL;
    memset(img, 0, sizeof *img);
    if (!data && len)
        return GREYIO_EINVAL;
    layout l;
    int rc = parse(data, len, &l);
    if (rc)
        return rc;
    uint8_t* px = malloc((size_t)l.width * l.height);
    if (!px)
        return GREYIO_ENOMEM;
    for (uint32_t y = 0; y < l.height; ++y)
        memcpy(px + (size_t)y * l.width,
               data + l.off + l.row * (l.bottom_up ? l.height - 1 - y : y), l.width);
    map_grey(&l, px, (size_t)l.width * l.height);
    fill(img, &l, px);
    return GREYIO_OK;
}

/* Turns a whole BMP file held in `data` into its pixels, top row first, at the start of
 * the same buffer: rows swapped into top-down order where they lie, then moved down over
 * the headers and row padding (never onto a row not yet moved), then mapped through the
 * grey table. No second image-sized buffer is touched. */
static void unpack_in_place(uint8_t* data, const layout* l) {
    uint8_t* rows = data + l->off;
    if (l->bottom_up) {
        uint8_t tmp[4096];
        for (uint32_t a = 0, b = l->height - 1; a < b; ++a, --b) {
            uint8_t* ra = rows + l->row * a;
            uint8_t* rb = rows + l->row * b;
            for (size_t x = 0; x < l->width; x += sizeof tmp) {
                size_t n = l->width - x < sizeof tmp ? l->width - x : sizeof tmp;
                memcpy(tmp, ra + x, n);
                memcpy(ra + x, rb + x, n);
                memcpy(rb + x, tmp, n);
            }
        }
    }
    for (uint32_t y = 0; y < l->height; ++y)
        memmove(data + (size_t)y * l->width, rows + l->row * y, l->width);
    map_grey(l, data, (size_t)l->width * l->height);
}

int greyio_bmp_load(const char* path, greyio_image* img) {
    if (!img)
        return GREYIO_EINVAL;
    memset(img, 0, sizeof *img);
    uint8_t* data;
    size_t len;
    int rc = greyio_read_file(path, &data, &len);
    if (rc)
        return rc;
    layout l;
    rc = parse(data, len, &l);
    if (rc) {
        free(data);
        return rc;
    }
    unpack_in_place(data, &l);
    fill(img, &l, data);
    return GREYIO_OK;
}

#define HEADERS 1078 /* file header, info header and 256 palette entries */

/* Checks the arguments of a BMP to write and fills its headers. Returns GREYIO_OK, or a
 * code when the image cannot be written. */
static int headers(const uint8_t* pixels, uint32_t width, uint32_t height, int ppi,
                   uint8_t b[HEADERS], size_t* total) {
    if (!pixels || width == 0 || height == 0 || width > GREYIO_MAX_SIDE || height > GREYIO_MAX_SIDE)
        return GREYIO_EINVAL;
    size_t row = ((size_t)width + 3) & ~(size_t)3;
    size_t image = row * height;
    *total = HEADERS + image;
    if (*total > UINT32_MAX)
        return GREYIO_ESIZE;
    memset(b, 0, HEADERS);
    b[0] = 'B';
    b[1] = 'M';
    put_le32(b + 2, (uint32_t)*total);
    put_le32(b + 10, HEADERS);
    uint8_t* ih = b + 14;
    uint32_t ppm = ppi > 0 ? (uint32_t)(ppi * 10000u + 127u) / 254u : 0;
    put_le32(ih, 40);
    put_le32(ih + 4, width);
    put_le32(ih + 8, height);
    put_le16(ih + 12, 1);
    put_le16(ih + 14, 8);
    put_le32(ih + 20, (uint32_t)image);
    put_le32(ih + 24, ppm);
    put_le32(ih + 28, ppm);
    put_le32(ih + 32, 256);
    for (int i = 0; i < 256; ++i)
        memset(b + 54 + 4 * i, i, 3);
    return GREYIO_OK;
}

int greyio_bmp_encode(const uint8_t* pixels, uint32_t width, uint32_t height, int ppi,
                      uint8_t** out, size_t* out_len) {
    if (!out || !out_len)
        return GREYIO_EINVAL;
    *out = NULL;
    *out_len = 0;
    uint8_t head[HEADERS];
    size_t total;
    int rc = headers(pixels, width, height, ppi, head, &total);
    if (rc)
        return rc;
    uint8_t* b = malloc(total);
    if (!b)
        return GREYIO_ENOMEM;
    memcpy(b, head, HEADERS);
    size_t row = ((size_t)width + 3) & ~(size_t)3;
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* dst = b + HEADERS + row * (height - 1 - y);
        memcpy(dst, pixels + (size_t)y * width, width);
        memset(dst + width, 0, row - width);
    }
    *out = b;
    *out_len = total;
    return GREYIO_OK;
}

int greyio_bmp_save(const char* path, const uint8_t* pixels, uint32_t width, uint32_t height,
                    int ppi) {
    uint8_t head[HEADERS];
    size_t total;
    int rc = headers(pixels, width, height, ppi, head, &total);
    if (rc)
        return rc;
    /* The file straight from the caller's rows, bottom row first, each with its padding. */
    static const uint8_t zeros[3];
    const size_t pad = (((size_t)width + 3) & ~(size_t)3) - width;
    struct iovec* iov = malloc((1 + 2 * (size_t)height) * sizeof *iov);
    if (!iov)
        return GREYIO_ENOMEM;
    int n = 0;
    iov[n++] = (struct iovec){head, HEADERS};
    for (uint32_t y = height; y-- > 0;) {
        iov[n++] = (struct iovec){(void*)(pixels + (size_t)y * width), width};
        if (pad)
            iov[n++] = (struct iovec){(void*)zeros, pad};
    }
    rc = greyio_write_atomic_iov(path, iov, n);
    free(iov);
    return rc;
}
