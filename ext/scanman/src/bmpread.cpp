// A small BMP reader for the simulator's drop folder: uncompressed 1/4/8-bit indexed and
// 24/32-bit files, bottom-up or top-down, turned into 8-bit grey rows top row first.
#include "Core.h"

#include <cstring>

namespace scanman {
namespace {
uint32_t U32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t U16(const unsigned char* p) {
    return uint16_t(p[0] | p[1] << 8);
}
unsigned char Luma(unsigned b, unsigned g, unsigned r) {
    return static_cast<unsigned char>((299 * r + 587 * g + 114 * b + 500) / 1000);
}
} // namespace

bool ReadBmpGrey(const std::vector<unsigned char>& f, int& width, int& height,
                 std::vector<unsigned char>& grey) {
    if (f.size() < 54 || f[0] != 'B' || f[1] != 'M')
        return false;
    const uint32_t offBits = U32(&f[10]);
    const uint32_t hdrSize = U32(&f[14]);
    if (hdrSize < 40 || hdrSize > f.size() - 14)
        return false;
    const int32_t w = static_cast<int32_t>(U32(&f[18]));
    const int32_t hRaw = static_cast<int32_t>(U32(&f[22]));
    const unsigned bits = U16(&f[28]);
    const uint32_t compression = U32(&f[30]);
    uint32_t colours = U32(&f[46]);
    if (compression != 0 || w <= 0 || hRaw == 0 || hRaw == INT32_MIN)
        return false;
    const bool topDown = hRaw < 0;
    const int32_t h = topDown ? -hRaw : hRaw;
    if (w > kMaxSide || h > kMaxSide || int64_t(w) * h > kMaxPixels)
        return false;
    unsigned char palette[256];
    if (bits <= 8) {
        if (bits != 1 && bits != 4 && bits != 8)
            return false;
        const uint32_t maxColours = 1u << bits;
        if (colours == 0 || colours > maxColours)
            colours = maxColours;
        const size_t palOff = 14 + size_t(hdrSize);
        std::memset(palette, 0, sizeof palette);
        for (uint32_t i = 0; i < colours; ++i) {
            const size_t p = palOff + 4 * size_t(i);
            if (p + 4 > f.size())
                return false;
            palette[i] = Luma(f[p], f[p + 1], f[p + 2]);
        }
    } else if (bits != 24 && bits != 32) {
        return false;
    }
    const size_t stride = ((size_t(w) * bits + 31) / 32) * 4;
    if (offBits > f.size() || (f.size() - offBits) / stride < size_t(h))
        return false;
    grey.assign(size_t(w) * h, 0);
    for (int32_t y = 0; y < h; ++y) {
        const unsigned char* row = &f[offBits + stride * size_t(topDown ? y : h - 1 - y)];
        unsigned char* out = &grey[size_t(y) * w];
        for (int32_t x = 0; x < w; ++x) {
            switch (bits) {
            case 1:
                out[x] = palette[(row[x / 8] >> (7 - x % 8)) & 1];
                break;
            case 4:
                out[x] = palette[(row[x / 2] >> (x % 2 ? 0 : 4)) & 15];
                break;
            case 8:
                out[x] = palette[row[x]];
                break;
            default: {
                const unsigned char* p = row + size_t(x) * (bits / 8);
                out[x] = Luma(p[0], p[1], p[2]);
            }
            }
        }
    }
    width = w;
    height = h;
    return true;
}

} // namespace scanman
