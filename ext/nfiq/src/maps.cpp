// Block maps of the detector.
#include "lfs.h"

namespace lfs {

Maps make_maps(const PaddedImage& img, const Params& p) {
    Maps m;
    m.iw = img.iw();
    m.ih = img.ih();
    m.mw = (m.iw + p.blocksize - 1) / p.blocksize;
    m.mh = (m.ih + p.blocksize - 1) / p.blocksize;
    const size_t n = static_cast<size_t>(m.mw) * m.mh;
    m.direction.assign(n, kInvalidDir);
    m.low_contrast.assign(n, 1);
    m.low_flow.assign(n, 0);
    m.high_curve.assign(n, 0);
    return m;
}

} // namespace lfs
