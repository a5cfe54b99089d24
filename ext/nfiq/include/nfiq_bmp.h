// 8-bit grey BMP files for the NFIQ tools and tests, read by the tools' shared reader
// (greyio.h): 40-byte or larger info header, uncompressed, rows bottom-up or top-down, a
// grey colour table through which the pixels are mapped. Colour tables, other depths and
// truncated files are refused.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace nfiq {

struct GreyImage {
    int width = 0, height = 0;
    std::vector<uint8_t> pixels; // grey levels, top row first, rows exactly width bytes
};

// Decodes a BMP held in memory or read from a file. Returns false with a reason in *error
// for a file the reader refuses or cannot read.
bool decode_bmp(const uint8_t* data, size_t size, GreyImage& out, std::string* error);
bool read_bmp(const std::string& path, GreyImage& out, std::string* error);

} // namespace nfiq
