// Helpers shared by the WSQ tests: files, synthetic images, stream parsing, PSNR.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "wsq.h"

namespace wsqtest {

using Bytes = std::vector<uint8_t>;

inline Bytes read_file(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void write_file(const std::filesystem::path& p, const Bytes& b) {
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

struct Image {
    uint32_t width = 0, height = 0;
    Bytes px;
};

// Ridge-like test pattern: concentric rings with a slow brightness ramp, so every
// subband carries energy, as on a fingerprint.
inline Image ridges(uint32_t w, uint32_t h) {
    Image im{w, h, Bytes(size_t(w) * h)};
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            double dx = x - w / 2.0, dy = y - h / 2.0;
            double v = 128 + 90 * std::sin(std::sqrt(dx * dx + dy * dy) * 0.9) + 0.1 * x;
            im.px[size_t(y) * w + x] = uint8_t(std::clamp(v, 0.0, 255.0));
        }
    return im;
}

inline Bytes encode(const Image& im, double rate = WSQ_BITRATE_DEFAULT, int ppi = 500,
                    const char* comment = nullptr, int* rc_out = nullptr) {
    uint8_t* out = nullptr;
    size_t n = 0;
    int rc = wsq_encode(im.px.data(), im.width, im.height, im.width, ppi, rate, comment, &out, &n);
    if (rc_out)
        *rc_out = rc;
    Bytes b(out, out + n);
    wsq_free(out);
    return b;
}

// A decoded image, or the error code.
struct Decoded {
    int rc = 0;
    Image im;
    int ppi = 0;
};

inline Decoded decode(const Bytes& b, uint64_t max_pixels = 0) {
    wsq_decode_limits lim{max_pixels};
    wsq_image img;
    Decoded d;
    d.rc = wsq_decode(b.data(), b.size(), &lim, &img);
    if (d.rc == WSQ_OK) {
        d.im = {img.width, img.height,
                Bytes(img.pixels, img.pixels + size_t(img.width) * img.height)};
        d.ppi = img.ppi;
        wsq_free(img.pixels);
    }
    return d;
}

inline double psnr(const Bytes& a, const Bytes& b) {
    double se = 0;
    for (size_t i = 0; i < a.size(); ++i)
        se += double(int(a[i]) - int(b[i])) * (int(a[i]) - int(b[i]));
    if (se == 0)
        return 99.0;
    return 10 * std::log10(255.0 * 255.0 * a.size() / se);
}

// One marker segment of a WSQ stream: marker code, offset of the marker, payload
// (after the length field) and its size. Entropy-coded data is skipped.
struct Segment {
    unsigned marker;
    size_t offset, payload, size;
};

inline std::vector<Segment> segments(const Bytes& b) {
    std::vector<Segment> out;
    size_t i = 0;
    while (i + 1 < b.size()) {
        unsigned m = unsigned(b[i]) << 8 | b[i + 1];
        if (m == 0xFFA0 || m == 0xFFA1) {
            out.push_back({m, i, i + 2, 0});
            i += 2;
            continue;
        }
        if (i + 3 >= b.size())
            break;
        size_t len = size_t(b[i + 2]) << 8 | b[i + 3];
        out.push_back({m, i, i + 4, len - 2});
        i += 2 + len;
        if (m == 0xFFA3) { // skip the coded data up to the next marker
            while (i + 1 < b.size() && !(b[i] == 0xFF && b[i + 1] != 0))
                i += b[i] == 0xFF ? 2 : 1;
        }
    }
    return out;
}

inline const Segment* find(const std::vector<Segment>& s, unsigned marker, int nth = 0) {
    for (const auto& x : s)
        if (x.marker == marker && nth-- == 0)
            return &x;
    return nullptr;
}

} // namespace wsqtest
