// Scores images of fuzzer-chosen size and content through the library's C entry point.
// Input: width (2 bytes), height (2 bytes), fill mode (1 byte), then pixel bytes that are
// repeated to fill the image. Sizes run up to 160 × 160 so runs stay quick; zero and the
// smallest sizes are included.
#include "GBNFIQ.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5)
        return 0;
    const int w = (data[0] | (data[1] << 8)) % 161;
    const int h = (data[2] | (data[3] << 8)) % 161;
    const uint8_t mode = data[4];
    data += 5;
    size -= 5;
    std::vector<unsigned char> px(static_cast<size_t>(w) * h);
    for (size_t i = 0; i < px.size(); ++i) {
        switch (mode % 4) {
        case 0:
            px[i] = size ? data[i % size] : 0;
            break; // fuzzer bytes, tiled
        case 1:
            px[i] = 255;
            break; // all white
        case 2:
            px[i] = 0;
            break; // all black
        default:   // stripes of fuzzer-set period
            px[i] = ((i % w) / (2 + mode / 4 % 8)) % 2 ? 40 : 200;
            break;
        }
    }
    int score = -1;
    const int status = GBNFIQ_GetImageQuality(w ? px.data() : nullptr, w, h, &score, 0);
    const bool ok =
        (status == GBNFIQ_OK && score >= 1 && score <= 5) ||
        ((status == GBNFIQ_EMPTY_IMAGE || status == GBNFIQ_TOO_FEW_MINUTIAE) && score == 5) ||
        (status == GBNFIQ_INVALID_ARGUMENT && score == 0);
    if (!ok)
        std::abort();
    return 0;
}
