/* BMP2WSQ SOURCE.bmp TARGET.wsq
 *
 * Converts an 8-bit grey BMP into a WSQ file at 0.75 bits per pixel. The names are taken
 * relative to the working directory. The target appears only when it is complete; on any
 * failure no target is left (a stale one from an earlier run is removed), one line goes
 * to stderr and the exit status is 1 (2 for a wrong command line). */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "fileio.h"
#include "wsq.h"

#define DEFAULT_PPI 500

static int fail(const char* target, const char* source, const char* what, const char* why) {
    if (!same_file(target, source))
        unlink(target);
    fprintf(stderr, "BMP2WSQ: %s: %s\n", what, why);
    return 1;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: BMP2WSQ SOURCE.bmp TARGET.wsq\n");
        return 2;
    }
    const char* source = argv[1];
    const char* target = argv[2];
    if (same_file(source, target))
        return fail(target, source, target, "target is the source file");

    uint8_t* data;
    size_t len;
    int e = read_whole_file(source, &data, &len);
    if (e)
        return fail(target, source, source, strerror(e));
    wsq_bmp bmp;
    int rc = wsq_bmp_read(data, len, &bmp);
    free(data);
    if (rc)
        return fail(target, source, source, wsq_strerror(rc));

    uint8_t* wsq;
    size_t wsq_len;
    rc = wsq_encode(bmp.pixels, bmp.width, bmp.height, bmp.width,
                    bmp.ppi > 0 ? bmp.ppi : DEFAULT_PPI, WSQ_BITRATE_DEFAULT, NULL, &wsq, &wsq_len);
    wsq_free(bmp.pixels);
    if (rc)
        return fail(target, source, source, wsq_strerror(rc));
    e = write_file_atomic(target, wsq, wsq_len);
    wsq_free(wsq);
    if (e)
        return fail(target, source, target, strerror(e));
    return 0;
}
