#pragma once

namespace nfiq::detail {
extern const float kW1[22][11];
extern const float kB1[22];
extern const float kW2[5][22];
extern const float kB2[5];
} // namespace nfiq::detail
