// Padded 6-bit working copy of the image.
#include "lfs.h"

#include <algorithm>
#include <cmath>

namespace lfs {

// Margin needed so that the rotated DFT windows and the rotated binarisation grids of
// edge pixels stay inside the padded image.
static int padding(const Params& p) {
    // A rotated window reaches (√2 − 1)/2 of its size beyond its square, plus the window
    // offset around the block.
    const double diag = std::sqrt(2.0) * p.windowsize;
    const int dft_pad = sround(trunc_prec((diag - p.windowsize) / 2.0)) + p.windowoffset;
    const double grid_diag = std::sqrt(
        static_cast<double>(p.dirbin_grid_w * p.dirbin_grid_w + p.dirbin_grid_h * p.dirbin_grid_h));
    const int dirbin_pad = sround(trunc_prec((grid_diag - 1.0) / 2.0));
    return std::max(dft_pad, dirbin_pad);
}

PaddedImage pad_image(const uint8_t* px, int w, int h, const Params& p) {
    PaddedImage img;
    img.pad = padding(p);
    img.w = w + 2 * img.pad;
    img.h = h + 2 * img.pad;
    img.px.assign(static_cast<size_t>(img.w) * img.h, static_cast<uint8_t>(p.pad_value >> 2));
    for (int y = 0; y < h; ++y) {
        const uint8_t* src = px + static_cast<size_t>(y) * w;
        uint8_t* dst = img.px.data() + static_cast<size_t>(y + img.pad) * img.w + img.pad;
        for (int x = 0; x < w; ++x)
            dst[x] = static_cast<uint8_t>(src[x] >> 2);
    }
    return img;
}

} // namespace lfs
