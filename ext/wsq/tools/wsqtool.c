/* wsqtool: encode, decode and inspect WSQ files.
 *   wsqtool encode [-r RATE] IN.bmp OUT.wsq
 *   wsqtool decode IN.wsq OUT.bmp
 *   wsqtool info FILE.wsq
 * Output files appear only when complete. Exit status 0 on success, 1 on failure,
 * 2 for a wrong command line. */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "fileio.h"
#include "wsq.h"

#define DEFAULT_PPI 500

static int usage(void) {
    fprintf(stderr, "usage: wsqtool encode [-r RATE] IN.bmp OUT.wsq\n"
                    "       wsqtool decode IN.wsq OUT.bmp\n"
                    "       wsqtool info FILE.wsq\n");
    return 2;
}

static int fail(const char* what, const char* why) {
    fprintf(stderr, "wsqtool: %s: %s\n", what, why);
    return 1;
}

static int encode(const char* in, const char* out, double rate) {
    uint8_t* data;
    size_t len;
    int e = read_whole_file(in, &data, &len);
    if (e)
        return fail(in, strerror(e));
    wsq_bmp bmp;
    int rc = wsq_bmp_read(data, len, &bmp);
    free(data);
    if (rc)
        return fail(in, wsq_strerror(rc));
    uint8_t* wsq;
    size_t n;
    rc = wsq_encode(bmp.pixels, bmp.width, bmp.height, bmp.width,
                    bmp.ppi > 0 ? bmp.ppi : DEFAULT_PPI, rate, NULL, &wsq, &n);
    wsq_free(bmp.pixels);
    if (rc)
        return fail(in, wsq_strerror(rc));
    e = write_file_atomic(out, wsq, n);
    wsq_free(wsq);
    return e ? fail(out, strerror(e)) : 0;
}

static int decode(const char* in, const char* out) {
    uint8_t* data;
    size_t len;
    int e = read_whole_file(in, &data, &len);
    if (e)
        return fail(in, strerror(e));
    wsq_image img;
    int rc = wsq_decode(data, len, NULL, &img);
    free(data);
    if (rc)
        return fail(in, wsq_strerror(rc));
    uint8_t* bmp;
    size_t n;
    rc = wsq_bmp_write(img.pixels, img.width, img.height, img.ppi, &bmp, &n);
    wsq_free(img.pixels);
    if (rc)
        return fail(out, wsq_strerror(rc));
    e = write_file_atomic(out, bmp, n);
    wsq_free(bmp);
    return e ? fail(out, strerror(e)) : 0;
}

static int info(const char* in) {
    uint8_t* data;
    size_t len;
    int e = read_whole_file(in, &data, &len);
    if (e)
        return fail(in, strerror(e));
    wsq_info inf;
    int rc = wsq_read_info(data, len, &inf);
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
    if (argc < 2)
        return usage();
    const char* cmd = argv[1];
    if (strcmp(cmd, "encode") == 0) {
        double rate = WSQ_BITRATE_DEFAULT;
        int i = 2;
        if (argc > i && strcmp(argv[i], "-r") == 0) {
            if (argc <= i + 1)
                return usage();
            char* end;
            rate = strtod(argv[i + 1], &end);
            if (*end || !(rate > 0.0 && rate <= 8.0))
                return fail(argv[i + 1], "bit rate must be a number in (0, 8]");
            i += 2;
        }
        if (argc != i + 2)
            return usage();
        return encode(argv[i], argv[i + 1], rate);
    }
    if (strcmp(cmd, "decode") == 0 && argc == 4)
        return decode(argv[2], argv[3]);
    if (strcmp(cmd, "info") == 0 && argc == 3)
        return info(argv[2]);
    return usage();
}
