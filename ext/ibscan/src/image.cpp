#include "image.h"

#include "IBScanUltimateApi.h"
#include "fingergen.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace ibsim {

namespace {

// Small deterministic generator (splitmix64) so that a seed always gives the same print.
struct Rng {
    uint64_t s;
    explicit Rng(unsigned seed) : s(0x9E3779B97F4A7C15ull * (seed + 1)) {}
    uint64_t next() {
        uint64_t z = (s += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double uniform(double lo, double hi) {
        return lo + (hi - lo) * static_cast<double>(next() >> 11) / 9007199254740992.0;
    }
};

uint32_t hash2(uint32_t x, uint32_t y, uint32_t seed) {
    uint32_t h = x * 0x8DA6B343u ^ y * 0xD8163841u ^ seed * 0xCB1AB31Fu;
    h ^= h >> 13;
    h *= 0x5BD1E995u;
    return h ^ (h >> 15);
}

void put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t get32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

} // namespace

// Concentric wavy ridges in an oval: the fallback for sizes the print generator refuses.
Box renderRingsInto(unsigned seed, int w, int h, uint8_t* pixels, int pitch) {
    for (int y = 0; y < h; ++y)
        std::memset(pixels + static_cast<std::ptrdiff_t>(y) * pitch, 255,
                    static_cast<std::size_t>(w));
    if (w < 8 || h < 8)
        return Box{};
    Rng rng(seed);
    const double ea = std::min(w * 0.30, h * 0.30);           // outline semi-width
    const double eb = std::min(h * 0.42, ea * 1.55);          // outline semi-height
    const double ex = w * 0.5 + rng.uniform(-0.04, 0.04) * w; // outline centre
    const double ey = h * 0.5 + rng.uniform(-0.03, 0.03) * h;
    const double cx = ex + rng.uniform(-0.15, 0.15) * ea; // core of the loop
    const double cy = ey - eb * rng.uniform(0.05, 0.25);
    const double period = rng.uniform(8.6, 9.4);
    // Slow waves displace the rings, so that ridges wander as on a finger.
    const double warpA = rng.uniform(5.0, 10.0), warpB = rng.uniform(5.0, 10.0);
    const double warpF = rng.uniform(0.025, 0.045), warpG = rng.uniform(0.025, 0.045);
    const double warpP = rng.uniform(0.0, 6.28), warpQ = rng.uniform(0.0, 6.28);
    const double twoPi = 6.283185307179586;
    Box box;
    box.x0 = std::max(0, static_cast<int>(std::floor(ex - ea)));
    box.x1 = std::min(w, static_cast<int>(std::ceil(ex + ea)) + 1);
    box.y0 = std::max(0, static_cast<int>(std::floor(ey - eb)));
    box.y1 = std::min(h, static_cast<int>(std::ceil(ey + eb)) + 1);
    for (int y = box.y0; y < box.y1; ++y) {
        uint8_t* row = pixels + static_cast<std::ptrdiff_t>(y) * pitch;
        const double ny = (y - ey) / eb;
        for (int x = box.x0; x < box.x1; ++x) {
            const double nx = (x - ex) / ea;
            const double t = nx * nx + ny * ny;
            if (t >= 1.0)
                continue;
            const double dx = x - cx + warpA * std::sin(warpF * y + warpP);
            const double dy = y - cy + warpB * std::sin(warpG * x + warpQ);
            // Rings squeezed above the core and drawn out below it: a loop-like whorl.
            const double stretch = 1.15 - 0.3 / (1.0 + std::exp(-dy / 60.0));
            const double r = std::sqrt(dx * dx + dy * dy * stretch * stretch);
            const double v = 150.0 - 105.0 * std::cos(twoPi * r / period);
            const double edge = std::min(1.0, (1.0 - t) * 8.0);
            const int noise = static_cast<int>(hash2(x, y, seed) % 17) - 8;
            const double g = 255.0 - edge * (255.0 - v) + noise * edge;
            row[x] = static_cast<uint8_t>(std::clamp(static_cast<int>(g), 0, 255));
        }
    }
    return box;
}

// A synthetic fingerprint from the print generator: the same seed gives the same finger, and
// consecutive seeds walk through the ten fingers of one simulated person before the next.
Box renderPrintInto(unsigned seed, int w, int h, uint8_t* pixels, int pitch) {
    if (w < FG_MIN_SIDE || h < FG_MIN_SIDE || w > FG_MAX_SIDE || h > FG_MAX_SIDE)
        return renderRingsInto(seed, w, h, pixels, pitch);
    std::vector<uint8_t> print(static_cast<std::size_t>(w) * h);
    if (fg_render(seed / 10, static_cast<int>(seed % 10) + 1, w, h, nullptr, print.data()) != 0)
        return renderRingsInto(seed, w, h, pixels, pitch);
    Box box{w, h, 0, 0};
    for (int y = 0; y < h; ++y) {
        const uint8_t* src = print.data() + static_cast<std::size_t>(y) * w;
        std::memcpy(pixels + static_cast<std::ptrdiff_t>(y) * pitch, src,
                    static_cast<std::size_t>(w));
        for (int x = 0; x < w; ++x) {
            if (src[x] < 200) {
                box.x0 = std::min(box.x0, x);
                box.x1 = std::max(box.x1, x + 1);
                box.y0 = std::min(box.y0, y);
                box.y1 = std::max(box.y1, y + 1);
            }
        }
    }
    if (box.x1 <= box.x0)
        return Box{};
    return box;
}

Frame renderFingers(unsigned seed, int w, int h, int fingers, std::vector<Box>& boxes) {
    Frame f;
    f.width = w;
    f.height = h;
    f.pixels.assign(static_cast<std::size_t>(w) * h, 255);
    boxes.clear();
    fingers = std::max(1, fingers);
    const int tile = w / fingers;
    for (int i = 0; i < fingers; ++i) {
        const int x0 = i * tile;
        const int tw = (i == fingers - 1) ? w - x0 : tile;
        Box b = renderPrintInto(seed + static_cast<unsigned>(i), tw, h, f.pixels.data() + x0, w);
        b.x0 += x0;
        b.x1 += x0;
        boxes.push_back(b);
    }
    return f;
}

Frame renderHand(unsigned seed, int w, int h, int fingers, std::vector<Box>& boxes) {
    if (fingers < 2)
        return renderFingers(seed, w, h, fingers, boxes);
    Frame f;
    f.width = w;
    f.height = h;
    f.pixels.assign(static_cast<std::size_t>(w) * h, 255);
    boxes.clear();
    // Fingertips of one hand on one platen: the middle fingers reach higher and are longer,
    // the outer ones sit lower, and white gaps part them. Each finger is an oval cut from its
    // own print, so no tile edge shows.
    static const double kTop4[] = {0.20, 0.08, 0.12, 0.28}, kLen4[] = {0.62, 0.70, 0.68, 0.54};
    static const double kTop2[] = {0.14, 0.10}, kLen2[] = {0.66, 0.70};
    const int slot = w / fingers;
    for (int i = 0; i < fingers; ++i) {
        const double top = fingers == 4 ? kTop4[i] : fingers == 2 ? kTop2[i] : 0.12;
        const double len = fingers == 4 ? kLen4[i] : fingers == 2 ? kLen2[i] : 0.66;
        const int fw = std::max(8, static_cast<int>(slot * 0.74));
        const int fh = std::max(8, std::min(h, static_cast<int>(h * len)));
        const int fx = i * slot + (slot - fw) / 2;
        const int fy = std::min(h - fh, static_cast<int>(h * top));
        std::vector<uint8_t> one(static_cast<std::size_t>(fw) * fh, 255);
        renderPrintInto(seed + static_cast<unsigned>(i), fw, fh, one.data(), fw);
        const double a = fw / 2.0, b = fh / 2.0;
        Box box{w, h, 0, 0};
        for (int y = 0; y < fh; ++y) {
            const double ny = (y + 0.5 - b) / b;
            for (int x = 0; x < fw; ++x) {
                const double nx = (x + 0.5 - a) / a;
                const double t = nx * nx + ny * ny;
                if (t >= 1.0)
                    continue;
                // Fades to white at the oval's rim: the finger's edge, not a cut.
                const double keep = std::min(1.0, (1.0 - t) * 6.0);
                // The faint skin tone around the ridges is left out: on a slap only the
                // ridges touch the platen, and the fingers part on clean white.
                int v = one[static_cast<std::size_t>(y) * fw + x];
                if (v >= 225)
                    v = 255;
                const int g = static_cast<int>(255 - keep * (255 - v));
                uint8_t& dst = f.pixels[static_cast<std::size_t>(fy + y) * w + fx + x];
                dst = static_cast<uint8_t>(std::min<int>(dst, g));
                if (g < 200) {
                    box.x0 = std::min(box.x0, fx + x);
                    box.x1 = std::max(box.x1, fx + x + 1);
                    box.y0 = std::min(box.y0, fy + y);
                    box.y1 = std::max(box.y1, fy + y + 1);
                }
            }
        }
        if (box.x1 <= box.x0)
            box = Box{fx, fy, fx + fw, fy + fh};
        boxes.push_back(box);
    }
    return f;
}

Frame rollOut(const Frame& flat, Box& box) {
    // A rolled print shows the finger from nail edge to nail edge: the flat contact area
    // drawn out sideways about its centre, half as wide again and a bit more.
    constexpr double kStretch = 1.6;
    if (box.x1 <= box.x0)
        return flat;
    Frame r = flat; // the ground around the finger stays as it was
    const double cx = (box.x0 + box.x1) / 2.0;
    const int x0 = std::max(0, static_cast<int>(cx - (cx - box.x0) * kStretch));
    const int x1 = std::min(flat.width, static_cast<int>(cx + (box.x1 - cx) * kStretch) + 1);
    for (int y = 0; y < flat.height; ++y) {
        const uint8_t* src = flat.pixels.data() + static_cast<std::size_t>(y) * flat.width;
        uint8_t* dst = r.pixels.data() + static_cast<std::size_t>(y) * r.width;
        for (int x = x0; x < x1; ++x) {
            const double sx = cx + (x - cx) / kStretch;
            const int i = std::clamp(static_cast<int>(sx), 0, flat.width - 2);
            const double fr = std::clamp(sx - i, 0.0, 1.0);
            dst[x] = static_cast<uint8_t>(src[i] * (1 - fr) + src[i + 1] * fr + 0.5);
        }
    }
    box.x0 = x0;
    box.x1 = x1;
    return r;
}

bool decodeBmp8(const uint8_t* d, std::size_t size, Frame& out, int maxSide) {
    if (size < 54 || d[0] != 'B' || d[1] != 'M')
        return false;
    const uint32_t offBits = get32(d + 10);
    const uint32_t infoSize = get32(d + 14);
    if (infoSize < 40 || infoSize > size - 14)
        return false;
    const int32_t width = static_cast<int32_t>(get32(d + 18));
    const int32_t rawHeight = static_cast<int32_t>(get32(d + 22));
    const uint16_t bits = get16(d + 28);
    const uint32_t compression = get32(d + 30);
    uint32_t colours = get32(d + 46);
    if (bits != 8 || compression != 0 || width <= 0 || rawHeight == 0 || rawHeight == INT32_MIN)
        return false;
    const bool topDown = rawHeight < 0;
    const int32_t height = topDown ? -rawHeight : rawHeight;
    if (width > maxSide || height > maxSide)
        return false;
    if (colours == 0 || colours > 256)
        colours = 256;
    const std::size_t palOff = 14 + static_cast<std::size_t>(infoSize);
    if (palOff + static_cast<std::size_t>(colours) * 4 > size)
        return false;
    uint8_t grey[256];
    for (int i = 0; i < 256; ++i) {
        if (static_cast<uint32_t>(i) < colours) {
            const uint8_t* p = d + palOff + static_cast<std::size_t>(i) * 4;
            grey[i] = static_cast<uint8_t>((p[0] * 29 + p[1] * 150 + p[2] * 77 + 128) >> 8);
        } else {
            grey[i] = 0;
        }
    }
    const std::size_t stride = (static_cast<std::size_t>(width) + 3) & ~std::size_t(3);
    if (offBits > size || (size - offBits) / stride < static_cast<std::size_t>(height))
        return false;
    out.width = width;
    out.height = height;
    out.pixels.resize(static_cast<std::size_t>(width) * height);
    for (int32_t y = 0; y < height; ++y) {
        const int32_t stored = topDown ? y : height - 1 - y;
        const uint8_t* src = d + offBits + stride * static_cast<std::size_t>(stored);
        uint8_t* dst = out.pixels.data() + static_cast<std::size_t>(y) * width;
        for (int32_t x = 0; x < width; ++x)
            dst[x] = grey[src[x]];
    }
    return true;
}

bool readBmp8(const std::string& path, Frame& out, int maxSide) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    in.seekg(0, std::ios::end);
    const auto len = in.tellg();
    if (len <= 0 || len > (std::streamoff(1) << 28))
        return false;
    in.seekg(0);
    std::vector<uint8_t> bytes(static_cast<std::size_t>(len));
    if (!in.read(reinterpret_cast<char*>(bytes.data()), len))
        return false;
    return decodeBmp8(bytes.data(), bytes.size(), out, maxSide);
}

int writeBmp8(const char* path, const uint8_t* pixels, uint32_t width, uint32_t height, int pitch,
              double resX, double resY) {
    if (!path || !*path || !pixels || width == 0 || height == 0 || width > IBSU_MAX_IMAGE_SIDE ||
        height > IBSU_MAX_IMAGE_SIDE)
        return IBSU_ERR_INVALID_PARAM_VALUE;
    const int64_t absPitch = pitch < 0 ? -static_cast<int64_t>(pitch) : pitch;
    if (absPitch < width)
        return IBSU_ERR_INVALID_PARAM_VALUE;
    auto pelsPerMeter = [](double dpi) -> uint32_t {
        if (!(dpi > 0) || dpi > 100000)
            return 0;
        return static_cast<uint32_t>(std::lround(dpi / 0.0254));
    };
    const uint32_t stride = (width + 3u) & ~3u;
    const uint32_t imageSize = stride * height;
    uint8_t head[1078] = {};
    head[0] = 'B';
    head[1] = 'M';
    put32(head + 2, 1078 + imageSize);
    put32(head + 10, 1078);
    put32(head + 14, 40);
    put32(head + 18, width);
    put32(head + 22, height);
    put16(head + 26, 1);
    put16(head + 28, 8);
    put32(head + 30, 0);
    put32(head + 34, imageSize);
    put32(head + 38, pelsPerMeter(resX));
    put32(head + 42, pelsPerMeter(resY));
    put32(head + 46, 256);
    put32(head + 50, 0);
    for (int i = 0; i < 256; ++i) {
        uint8_t* e = head + 54 + 4 * i;
        e[0] = e[1] = e[2] = static_cast<uint8_t>(i);
        e[3] = 0;
    }
    FILE* f = std::fopen(path, "wb");
    if (!f)
        return IBSU_ERR_FILE_OPEN;
    bool ok = std::fwrite(head, 1, sizeof head, f) == sizeof head;
    std::vector<uint8_t> row(stride, 0);
    for (uint32_t s = 0; ok && s < height; ++s) {
        const uint32_t y = height - 1 - s; // bottom row first
        std::memcpy(row.data(), pixels + static_cast<int64_t>(y) * pitch, width);
        ok = std::fwrite(row.data(), 1, stride, f) == stride;
    }
    if (std::fclose(f) != 0)
        ok = false;
    if (!ok) {
        // A truncated bitmap would be read as a print by whoever finds the file.
        std::remove(path);
        return IBSU_ERR_FILE_OPEN;
    }
    return IBSU_STATUS_OK;
}

} // namespace ibsim
