// The NFIQ 1.0 pipeline: detector maps and minutiae, quality map, reliabilities, the
// feature vector and the network.
#include "internal.h"
#include "nfiq_core.h"

namespace nfiq {

Result assess(const uint8_t* pixels, int width, int height, int ppi) {
    Result res;
    if (!pixels || width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide || ppi <= 0 ||
        ppi > 10000)
        return res; // kInvalidArgument, score 0
    res.score = 5;
    res.confidence = 1.0f;
    if (width < kMinSide || height < kMinSide) {
        res.status = kEmptyImage;
        return res;
    }

    const lfs::Params& p = lfs::kParamsV2;
    const lfs::PaddedImage img = lfs::pad_image(pixels, width, height, p);
    const lfs::Maps maps = lfs::make_maps(img, p);
    std::vector<uint8_t> bin = lfs::binarize(img, maps, p);
    std::vector<lfs::Minutia> found = lfs::detect_minutiae(bin, width, height, maps, p);
    lfs::remove_false_minutiae(found, bin, width, height, maps, p);

    res.map_w = maps.mw;
    res.map_h = maps.mh;
    res.quality_map = lfs::quality_map(maps);
    lfs::assign_reliability(found, res.quality_map, maps, pixels, width, height, ppi);
    res.minutiae.reserve(found.size());
    for (const lfs::Minutia& m : found)
        res.minutiae.push_back({m.x, m.y, m.direction, m.type, m.reliability});

    // The features are filled in whenever there is foreground, also when a status below
    // ends the scoring, so that callers can see why.
    int levels[5] = {};
    for (int q : res.quality_map)
        ++levels[q];
    const int foreground = static_cast<int>(res.quality_map.size()) - levels[0];
    Features& f = res.features;
    if (foreground > 0) {
        f[0] = static_cast<float>(foreground);
        f[1] = static_cast<float>(res.minutiae.size());
        static constexpr double kThresholds[5] = {0.5, 0.6, 0.7, 0.8, 0.9};
        for (int t = 0; t < 5; ++t) {
            int count = 0;
            for (const Minutia& m : res.minutiae)
                count += m.reliability > kThresholds[t];
            f[2 + t] = static_cast<float>(count);
        }
        for (int q = 1; q <= 4; ++q)
            f[6 + q] = static_cast<float>(levels[q]) / static_cast<float>(foreground);
    }

    // NIST tests the minutiae count before the foreground.
    if (res.minutiae.size() <= 5) {
        res.status = kFewMinutiae;
        return res;
    }
    if (foreground == 0) {
        res.status = kEmptyImage;
        return res;
    }
    const NetOutput net = classify(f);
    res.status = kOk;
    res.score = net.score;
    res.confidence = net.confidence;
    return res;
}

} // namespace nfiq
