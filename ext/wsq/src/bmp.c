/* Minimal 8-bit grey BMP reading and writing for the WSQ tools. */
#include <stdlib.h>
#include <string.h>

#include "wsq.h"

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

int wsq_bmp_read(const uint8_t* data, size_t len, wsq_bmp* bmp) {
    if (!bmp || (!data && len))
        return WSQ_EINVAL;
    memset(bmp, 0, sizeof *bmp);
    if (len < 14 + 40 || data[0] != 'B' || data[1] != 'M')
        return WSQ_EBMP;
    uint32_t off = le32(data + 10);
    uint32_t hsize = le32(data + 14);
    if (hsize < 40 || hsize > len - 14)
        return WSQ_EBMP;
    const uint8_t* ih = data + 14;
    int32_t w = (int32_t)le32(ih + 4), h = (int32_t)le32(ih + 8);
    uint32_t planes = le16(ih + 12), depth = le16(ih + 14), compression = le32(ih + 16);
    uint32_t ppm = le32(ih + 24), colours = le32(ih + 32);
    if (planes != 1 || depth != 8 || compression != 0)
        return WSQ_EBMPFORMAT;
    if (w <= 0 || h == 0 || h == INT32_MIN)
        return WSQ_EBMPSIZE;
    uint32_t width = (uint32_t)w, height = (uint32_t)(h < 0 ? -h : h);
    if (width > WSQ_MAX_DIMENSION || height > WSQ_MAX_DIMENSION)
        return WSQ_EBMPSIZE;
    if (colours == 0)
        colours = 256;
    if (colours > 256)
        return WSQ_EBMPFORMAT;
    size_t table = 14 + (size_t)hsize;
    if (len - table < (size_t)colours * 4)
        return WSQ_EBMP;
    uint8_t grey[256];
    for (uint32_t i = 0; i < 256; ++i) {
        if (i >= colours) {
            grey[i] = 0;
            continue;
        }
        const uint8_t* e = data + table + 4 * i; /* blue, green, red, reserved */
        if (e[0] != e[1] || e[1] != e[2])
            return WSQ_EBMPFORMAT;
        grey[i] = e[0];
    }
    size_t row = ((size_t)width + 3) & ~(size_t)3;
    if (off < table + (size_t)colours * 4 || off > len || (len - off) / row < height)
        return WSQ_EBMP; /* pixel data overlapping the headers, or truncated */
    uint8_t* px = malloc((size_t)width * height);
    if (!px)
        return WSQ_ENOMEM;
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* src = data + off + row * (h > 0 ? height - 1 - y : y);
        uint8_t* dst = px + (size_t)y * width;
        for (uint32_t x = 0; x < width; ++x)
            dst[x] = grey[src[x]];
    }
    bmp->pixels = px;
    bmp->width = width;
    bmp->height = height;
    bmp->ppi = ppm ? (int)(((uint64_t)ppm * 254u + 5000u) / 10000u) : 0;
    return WSQ_OK;
}

int wsq_bmp_write(const uint8_t* pixels, uint32_t width, uint32_t height, int ppi, uint8_t** out,
                  size_t* out_len) {
    if (!out || !out_len)
        return WSQ_EINVAL;
    *out = NULL;
    *out_len = 0;
    if (!pixels || width == 0 || height == 0 || width > WSQ_MAX_DIMENSION ||
        height > WSQ_MAX_DIMENSION)
        return WSQ_EINVAL;
    size_t row = ((size_t)width + 3) & ~(size_t)3;
    size_t image = row * height, total = 1078 + image;
    if (total > UINT32_MAX)
        return WSQ_EBMPSIZE;
    uint8_t* b = calloc(1, total);
    if (!b)
        return WSQ_ENOMEM;
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
    for (uint32_t y = 0; y < height; ++y)
        memcpy(b + 1078 + row * (height - 1 - y), pixels + (size_t)y * width, width);
    *out = b;
    *out_len = total;
    return WSQ_OK;
}
