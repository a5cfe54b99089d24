// Feeds arbitrary bytes to the WSQ decoder and header reader. The pixel limit (256 x 256)
// keeps each run fast; a successful decode must describe a buffer of the stated size.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "wsq.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    wsq_info info;
    wsq_read_info(data, size, &info);

    wsq_decode_limits limits{};
    limits.max_pixels = 1u << 16;
    wsq_image img;
    if (wsq_decode(data, size, &limits, &img) == WSQ_OK) {
        if (!img.pixels || img.width == 0 || img.height == 0 ||
            uint64_t(img.width) * img.height > limits.max_pixels)
            std::abort();
        // Touch every pixel so that a short buffer shows under the address sanitizer.
        volatile uint8_t sink = 0;
        for (size_t i = 0; i < size_t(img.width) * img.height; ++i)
            sink = sink ^ img.pixels[i];
        wsq_free(img.pixels);
    }
    return 0;
}
