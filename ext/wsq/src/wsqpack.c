/* The WSQPACK shared library: three C entry points over the WSQ codec. */
#include <stdlib.h>

#include "WSQPACK.h"
#include "wsq.h"

#define EXPORT __attribute__((visibility("default")))

EXPORT int WSQPACK_Compress(const unsigned char* pixels, int width, int height, int ppi,
                            double bitrate, unsigned char** out, size_t* out_len) {
    if (!out || !out_len)
        return WSQ_EINVAL;
    *out = NULL;
    *out_len = 0;
    if (width <= 0 || height <= 0)
        return WSQ_EINVAL;
    if (!(bitrate > 0.0))
        bitrate = WSQ_BITRATE_DEFAULT;
    return wsq_encode(pixels, (uint32_t)width, (uint32_t)height, (size_t)width, ppi, bitrate, NULL,
                      out, out_len);
}

EXPORT int WSQPACK_Uncompress(const unsigned char* data, size_t len, unsigned char** pixels,
                              int* width, int* height, int* ppi) {
    if (!pixels || !width || !height || !ppi)
        return WSQ_EINVAL;
    *pixels = NULL;
    wsq_image img;
    int rc = wsq_decode(data, len, NULL, &img);
    if (rc != WSQ_OK)
        return rc;
    *pixels = img.pixels;
    *width = (int)img.width;
    *height = (int)img.height;
    *ppi = img.ppi;
    return WSQ_OK;
}

EXPORT void WSQPACK_Free(void* buffer) {
    free(buffer);
}
