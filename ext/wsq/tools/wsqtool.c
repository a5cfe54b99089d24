/* wsqtool: encode, decode and inspect WSQ files.
 *   wsqtool encode [-r RATE] IN.bmp OUT.wsq
 *   wsqtool decode IN.wsq OUT.bmp
 *   wsqtool info FILE.wsq
 * Output files appear only when complete. Exit status 0 on success, 1 on failure, 2 for a
 * wrong command line; -h or --help prints the usage on stdout and exits 0. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "greyio.h"
#include "wsq.h"

#define DEFAULT_PPI 500

static const char usage_text[] =
    "usage: wsqtool encode [-r RATE] IN.bmp OUT.wsq   RATE in bits per pixel, (0, 8],\n"
    "                                                 default 0.75 (2.25 for about 5:1)\n"
    "       wsqtool decode IN.wsq OUT.bmp\n"
    "       wsqtool info FILE.wsq\n"
    "IN.bmp: 8-bit grey BMP. Exit status 0, 1 on failure, 2 on a wrong command line.\n";

static int usage(const char* why) {
    if (why)
        fprintf(stderr, "wsqtool: %s\n", why);
    fputs(usage_text, stderr);
    return 2;
}

static int fail(const char* what, const char* why) {
    fprintf(stderr, "wsqtool: %s: %s\n", what, why);
    return 1;
}

static int encode(const char* in, const char* out, double rate) {
    greyio_image bmp;
    int rc = greyio_bmp_load(in, &bmp);
    if (rc)
        return fail(in, greyio_strerror(rc));
    uint8_t* wsq;
    size_t n;
    rc = wsq_encode(bmp.pixels, bmp.width, bmp.height, bmp.width,
                    bmp.ppi > 0 ? bmp.ppi : DEFAULT_PPI, rate, NULL, &wsq, &n);
    free(bmp.pixels);
    if (rc)
        return fail(in, wsq_strerror(rc));
    rc = greyio_write_file_atomic(out, wsq, n);
    wsq_free(wsq);
    return rc ? fail(out, greyio_strerror(rc)) : 0;
}

static int decode(const char* in, const char* out) {
    uint8_t* data;
    size_t len;
    int rc = greyio_read_file(in, &data, &len);
    if (rc)
        return fail(in, greyio_strerror(rc));
    wsq_image img;
    rc = wsq_decode(data, len, NULL, &img);
    free(data);
    if (rc)
        return fail(in, wsq_strerror(rc));
    rc = greyio_bmp_save(out, img.pixels, img.width, img.height, img.ppi);
    wsq_free(img.pixels);
    return rc ? fail(out, greyio_strerror(rc)) : 0;
}

static int info(const char* in) {
    uint8_t* data;
    size_t len;
    int rc = greyio_read_file(in, &data, &len);
    if (rc)
        return fail(in, greyio_strerror(rc));
    wsq_info inf;
    rc = wsq_read_info(data, len, &inf);
    free(data);
    if (rc)
        return fail(in, wsq_strerror(rc));
    printf("size: %u x %u\n", inf.width, inf.height);
    if (inf.ppi > 0)
        printf("ppi: %d\n", inf.ppi);
    else
        printf("ppi: unknown\n");
    if (inf.bitrate > 0)
        printf("bit rate: %.2f requested, %.3f achieved (bits per pixel)\n", inf.bitrate, inf.bpp);
    else
        printf("bit rate: %.3f achieved (bits per pixel)\n", inf.bpp);
    printf("file: %zu bytes, %.1f:1\n", len, (double)inf.width * inf.height / (double)len);
    printf("encoder: %d, software: %d\n", inf.encoder, inf.software);
    printf("comment:\n%s\n", inf.comment);
    return 0;
}

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "--help") == 0) {
            fputs(usage_text, stdout);
            return 0;
        }
    }
    if (argc < 2)
        return usage(NULL);
    const char* cmd = argv[1];
    if (strcmp(cmd, "encode") == 0) {
        double rate = WSQ_BITRATE_DEFAULT;
        int i = 2;
        if (argc > i && strcmp(argv[i], "-r") == 0) {
            if (argc <= i + 1)
                return usage("-r needs a bit rate");
            char* end;
            rate = strtod(argv[i + 1], &end);
            if (end == argv[i + 1] || *end || !(rate > 0.0 && rate <= 8.0))
                return usage("the bit rate must be a number in (0, 8]");
            i += 2;
        }
        if (argc != i + 2)
            return usage("encode takes one BMP and one WSQ name");
        return encode(argv[i], argv[i + 1], rate);
    }
    if (strcmp(cmd, "decode") == 0)
        return argc == 4 ? decode(argv[2], argv[3])
                         : usage("decode takes one WSQ and one BMP name");
    if (strcmp(cmd, "info") == 0)
        return argc == 3 ? info(argv[2]) : usage("info takes one WSQ name");
    return usage("unknown command");
}
