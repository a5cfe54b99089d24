// A stand-in quality library for the capture tests: the entry point the SDK looks for,
// answering with a fixed score (FAKE_NFIQ_SCORE) or refusing every image (FAKE_NFIQ_FAIL).
extern "C" __attribute__((visibility("default"))) int
GBNFIQ_GetImageQuality(const unsigned char*, int, int, int* score, int) {
#ifdef FAKE_NFIQ_FAIL
    *score = 0;
    return 1;
#else
    *score = FAKE_NFIQ_SCORE;
    return 0;
#endif
}
