// Stages of the core that sit after the detector: quality map and minutia reliability.
#pragma once

#include "lfs.h"

namespace lfs {

// NIST's integrated quality map, levels 0..4 per block.
std::vector<int> quality_map(const Maps&);

// Final reliability of every minutia from the quality level at its pixel and the grey-level
// statistics of the 8-bit image around it (radius from ppi).
void assign_reliability(std::vector<Minutia>&, const std::vector<int>& qmap, const Maps&,
                        const uint8_t* px, int w, int h, int ppi);

} // namespace lfs
