// C entry points of the GBNFIQ shared library.
#include "GBNFIQ.h"
#include "nfiq_core.h"

#include <new>

#define GBNFIQ_EXPORT __attribute__((visibility("default")))

extern "C" GBNFIQ_EXPORT int GBNFIQ_GetImageQuality(const unsigned char* pixels, int width,
                                                    int height, int* score, int reserved) {
    if (!score)
        return GBNFIQ_INVALID_ARGUMENT;
    *score = 0;
    if (!pixels || reserved != 0)
        return GBNFIQ_INVALID_ARGUMENT;
    try {
        const nfiq::Result r = nfiq::assess(pixels, width, height);
        *score = r.score;
        return r.status;
    } catch (const std::bad_alloc&) {
        return GBNFIQ_OUT_OF_MEMORY;
    }
}

extern "C" GBNFIQ_EXPORT int GBNFIQ_GetVersion(int* major, int* minor, int* build, int* reserved) {
    if (major)
        *major = 1;
    if (minor)
        *minor = 0;
    if (build)
        *build = 1;
    if (reserved)
        *reserved = 1;
    return 0;
}
