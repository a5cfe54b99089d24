/* The one 8-bit grey BMP reader and writer of the tools. */
#include <stdlib.h>
#include <string.h>

#include "greyio.h"

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

int greyio_bmp_decode(const uint8_t* data, size_t len, greyio_image* img) {
    if (!img)
        return GREYIO_EINVAL;
    memset(img, 0, sizeof *img);
    if (!data && len)
        return GREYIO_EINVAL;
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
    uint32_t width = (uint32_t)w, height = (uint32_t)(h < 0 ? -h : h);
    if (width > GREYIO_MAX_SIDE || height > GREYIO_MAX_SIDE)
        return GREYIO_ESIZE;
    if (colours == 0)
        colours = 256;
    if (colours > 256)
        return GREYIO_EFORMAT;
    size_t table = 14 + (size_t)hsize;
    if (len - table < (size_t)colours * 4)
        return GREYIO_ENOTBMP;
    uint8_t grey[256];
    int identity = colours == 256;
    for (uint32_t i = 0; i < 256; ++i) {
        if (i >= colours) {
            grey[i] = 0;
            continue;
        }
        const uint8_t* e = data + table + 4 * i; /* blue, green, red, reserved */
        if (e[0] != e[1] || e[1] != e[2])
            return GREYIO_EFORMAT;
        grey[i] = e[0];
        identity &= e[0] == i;
    }
    size_t row = ((size_t)width + 3) & ~(size_t)3;
    if (off < table + (size_t)colours * 4 || off > len || (len - off) / row < height)
        return GREYIO_ENOTBMP; /* pixel data overlapping the headers, or cut short */
    uint8_t* px = malloc((size_t)width * height);
    if (!px)
        return GREYIO_ENOMEM;
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* src = data + off + row * (h > 0 ? height - 1 - y : y);
        uint8_t* dst = px + (size_t)y * width;
        if (identity) {
            memcpy(dst, src, width);
        } else {
            for (uint32_t x = 0; x < width; ++x)
                dst[x] = grey[src[x]];
        }
    }
    img->pixels = px;
    img->width = width;
    img->height = height;
    img->ppi = ppm ? (int)(((uint64_t)ppm * 254u + 5000u) / 10000u) : 0;
    return GREYIO_OK;
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
    rc = greyio_bmp_decode(data, len, img);
    free(data);
    return rc;
}

int greyio_bmp_encode(const uint8_t* pixels, uint32_t width, uint32_t height, int ppi,
                      uint8_t** out, size_t* out_len) {
    if (!out || !out_len)
        return GREYIO_EINVAL;
    *out = NULL;
    *out_len = 0;
    if (!pixels || width == 0 || height == 0 || width > GREYIO_MAX_SIDE || height > GREYIO_MAX_SIDE)
        return GREYIO_EINVAL;
    size_t row = ((size_t)width + 3) & ~(size_t)3;
    size_t image = row * height, total = 1078 + image;
    if (total > UINT32_MAX)
        return GREYIO_ESIZE;
    uint8_t* b = malloc(total);
    if (!b)
        return GREYIO_ENOMEM;
    memset(b, 0, 1078);
    b[0] = 'B';
    b[1] = 'M';
    put_le32(b + 2, (uint32_t)total);
    put_le32(b + 10, 1078);
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
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* dst = b + 1078 + row * (height - 1 - y);
        memcpy(dst, pixels + (size_t)y * width, width);
        memset(dst + width, 0, row - width);
    }
    *out = b;
    *out_len = total;
    return GREYIO_OK;
}
