// Binding of the NFIQ quality library (libGBNFIQ.so), loaded on first use.
#pragma once

#include <cstdint>

namespace ibsim {

// Scores an 8-bit image with contiguous rows. Returns IBSU_STATUS_OK with *score in 1..5,
// IBSU_ERR_NFIQ_UNAVAILABLE when the library or its entry point is missing, or
// IBSU_ERR_NFIQ_FAILED when it refuses the image or answers out of range.
int nfiqScore(const uint8_t* pixels, int width, int height, int* score);

// Sets a full path to load instead of the usual search (null: usual search) and unloads
// the library loaded before.
void nfiqSetLibraryPath(const char* path);

} // namespace ibsim
