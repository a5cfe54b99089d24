// Minimal reader for the 8-bit grey BMP files the station writes: 14-byte file header,
// 40-byte info header, 256-entry palette, uncompressed rows padded to 4 bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace nfiq {

struct GreyImage {
    int width = 0, height = 0;
    std::vector<uint8_t> pixels; // top-down, rows exactly width bytes (palette index)
};

// Decodes a BMP held in memory. Returns false with a reason in *error for anything that is
// not an uncompressed 8-bit image of the layout above, or that is truncated.
bool decode_bmp(const uint8_t* data, size_t size, GreyImage& out, std::string* error);
bool read_bmp(const std::string& path, GreyImage& out, std::string* error);

} // namespace nfiq
