/* A WSQPACK stand-in that lacks WSQPACK_Free, for the start-up binding's missing-entry test. */
#include <stddef.h>

#define EXPORT __attribute__((visibility("default")))

EXPORT int WSQPACK_Compress(const unsigned char* p, int w, int h, int ppi, double rate,
                            unsigned char** out, size_t* len) {
    (void)p, (void)w, (void)h, (void)ppi, (void)rate;
    *out = NULL;
    *len = 0;
    return 1;
}

EXPORT int WSQPACK_Uncompress(const unsigned char* d, size_t n, unsigned char** p, int* w, int* h,
                              int* ppi) {
    (void)d, (void)n, (void)p, (void)w, (void)h, (void)ppi;
    return 1;
}
