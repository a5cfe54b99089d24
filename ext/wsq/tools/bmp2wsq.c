/* BMP2WSQ SOURCE.bmp TARGET.wsq
 *
 * Converts an 8-bit grey BMP into a WSQ file at 0.75 bits per pixel. The names are taken
 * relative to the working directory. The target appears only when it is complete; on any
 * failure no target is left (a stale one from an earlier run is removed), one line goes
 * to stderr and the exit status is 1 (2 for a wrong command line; -h or --help prints the
 * usage on stdout and exits 0). */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "greyio.h"
#include "wsq.h"

#define DEFAULT_PPI 500

static const char usage_line[] = "usage: BMP2WSQ SOURCE.bmp TARGET.wsq\n";

static int fail(const char* target, const char* source, const char* what, const char* why) {
    if (!greyio_same_file(target, source))
        unlink(target);
    fprintf(stderr, "BMP2WSQ: %s: %s\n", what, why);
    return 1;
}

int main(int argc, char** argv) {
    if (argc == 2 && (strcmp(argv[1], "-h") == 0 || strcmp(argv[1], "--help") == 0)) {
        fputs(usage_line, stdout);
        fputs("Converts an 8-bit grey BMP to WSQ at 0.75 bits per pixel; exit status 0, 1 on\n"
              "failure (no TARGET is left), 2 on a wrong command line.\n",
              stdout);
        return 0;
    }
    if (argc != 3) {
        fputs(usage_line, stderr);
        return 2;
    }
    const char* source = argv[1];
    const char* target = argv[2];
    if (greyio_same_file(source, target))
        return fail(target, source, target, "target is the source file");

    greyio_image bmp;
    int rc = greyio_bmp_load(source, &bmp);
    if (rc)
        return fail(target, source, source, greyio_strerror(rc));
    uint8_t* wsq;
    size_t wsq_len;
    rc = wsq_encode(bmp.pixels, bmp.width, bmp.height, bmp.width,
                    bmp.ppi > 0 ? bmp.ppi : DEFAULT_PPI, WSQ_BITRATE_DEFAULT, NULL, &wsq, &wsq_len);
    free(bmp.pixels);
    if (rc)
        return fail(target, source, source, wsq_strerror(rc));
    rc = greyio_write_file_atomic(target, wsq, wsq_len);
    wsq_free(wsq);
    if (rc)
        return fail(target, source, target, greyio_strerror(rc));
    return 0;
}
