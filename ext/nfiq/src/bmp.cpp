// 8-bit BMP reader.
#include "nfiq_bmp.h"
#include "nfiq_core.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace nfiq {
namespace {

uint32_t u32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t u16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

bool fail(std::string* error, const char* why) {
    if (error)
        *error = why;
    return false;
}

} // namespace

bool decode_bmp(const uint8_t* data, size_t size, GreyImage& out, std::string* error) {
    constexpr size_t kHeaders = 14 + 40, kPalette = 256 * 4;
    if (!data || size < kHeaders + kPalette)
        return fail(error, "file too short for an 8-bit BMP");
    if (data[0] != 'B' || data[1] != 'M')
        return fail(error, "not a BMP file");
    const uint32_t offset = u32(data + 10);
    const uint32_t info_size = u32(data + 14);
    const int32_t w = static_cast<int32_t>(u32(data + 18));
    const int32_t h = static_cast<int32_t>(u32(data + 22));
    const uint16_t planes = u16(data + 26), bits = u16(data + 28);
    const uint32_t compression = u32(data + 30);
    const uint32_t colours = u32(data + 46);
    if (info_size != 40)
        return fail(error, "unsupported BMP info header");
    if (planes != 1 || bits != 8 || compression != 0)
        return fail(error, "not an uncompressed 8-bit BMP");
    if (colours != 0 && colours != 256)
        return fail(error, "palette is not 256 entries");
    if (w <= 0 || h <= 0)
        return fail(error, "not a bottom-up BMP with positive size");
    if (w > kMaxSide || h > kMaxSide)
        return fail(error, "image too large");
    if (offset < kHeaders + kPalette || offset > size)
        return fail(error, "bad pixel offset");
    const size_t stride = (static_cast<size_t>(w) + 3) & ~size_t{3};
    if ((size - offset) / stride < static_cast<size_t>(h))
        return fail(error, "truncated pixel data");
    out.width = w;
    out.height = h;
    out.pixels.resize(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y) {
        const uint8_t* src = data + offset + static_cast<size_t>(h - 1 - y) * stride;
        std::copy(src, src + w, out.pixels.begin() + static_cast<size_t>(y) * w);
    }
    return true;
}

bool read_bmp(const std::string& path, GreyImage& out, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return fail(error, "cannot open file");
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    return decode_bmp(bytes.data(), bytes.size(), out, error);
}

} // namespace nfiq
