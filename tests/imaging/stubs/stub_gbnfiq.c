/* A stand-in NFIQ library for the tests. It keeps a copy of the last image it was given, so
 * that a test can check exactly what the station handed over, and answers with the status and
 * score set through StubNfiq_SetAnswer. Built without the version entry point when
 * STUB_NO_VERSION is defined, and without the quality entry point when STUB_NO_QUALITY is. */
#include <stdlib.h>
#include <string.h>

#define EXPORT __attribute__((visibility("default")))

static unsigned char* last_pixels;
static int last_width, last_height, last_reserved, calls;
static int answer_status, answer_score = 3;

__attribute__((destructor)) static void release_last(void) {
    free(last_pixels);
    last_pixels = NULL;
}

EXPORT void StubNfiq_SetAnswer(int status, int score) {
    answer_status = status;
    answer_score = score;
}

EXPORT int StubNfiq_Last(const unsigned char** pixels, int* width, int* height, int* reserved) {
    *pixels = last_pixels;
    *width = last_width;
    *height = last_height;
    *reserved = last_reserved;
    return calls;
}

#ifndef STUB_NO_QUALITY
EXPORT int GBNFIQ_GetImageQuality(const unsigned char* pixels, int width, int height, int* score,
                                  int reserved) {
    free(last_pixels);
    last_pixels = malloc((size_t)width * (size_t)height);
    if (last_pixels)
        memcpy(last_pixels, pixels, (size_t)width * (size_t)height);
    last_width = width;
    last_height = height;
    last_reserved = reserved;
    ++calls;
    *score = answer_score;
    return answer_status;
}
#endif

#ifndef STUB_NO_VERSION
EXPORT int GBNFIQ_GetVersion(int* major, int* minor, int* build, int* reserved) {
    *major = 9;
    *minor = *build = *reserved = 0;
    return 0;
}
#endif
