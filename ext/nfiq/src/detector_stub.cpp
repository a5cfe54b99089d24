// Stand-in for the detector stages whose source files are not in the tree yet: no ridge
// image and no minutiae. CMake compiles this file with NFIQ_STUB_<STAGE> set for each
// missing stage only.
#include "lfs.h"

namespace lfs {

#ifdef NFIQ_STUB_BINARIZE
std::vector<uint8_t> binarize(const PaddedImage& img, const Maps&, const Params&) {
    return std::vector<uint8_t>(static_cast<size_t>(img.iw()) * img.ih(), 0);
}
#endif

#ifdef NFIQ_STUB_DETECT
std::vector<Minutia> detect_minutiae(std::vector<uint8_t>&, int, int, const Maps&, const Params&) {
    return {};
}
#endif

#ifdef NFIQ_STUB_REMOVE
void remove_false_minutiae(std::vector<Minutia>&, std::vector<uint8_t>&, int, int, const Maps&,
                           const Params&) {}
#endif

} // namespace lfs
