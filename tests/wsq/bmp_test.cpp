// The 8-bit BMP reader and writer used by the WSQ tools.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "wsq_test_util.h"

using namespace wsqtest;

namespace {

Bytes write_bmp(const Image& im, int ppi = 0) {
    uint8_t* out = nullptr;
    size_t n = 0;
    EXPECT_EQ(wsq_bmp_write(im.px.data(), im.width, im.height, ppi, &out, &n), WSQ_OK);
    Bytes b(out, out + n);
    wsq_free(out);
    return b;
}

void set32(Bytes& b, size_t i, uint32_t v) {
    for (int k = 0; k < 4; ++k)
        b[i + k] = uint8_t(v >> (8 * k));
}

Image gradient(uint32_t w, uint32_t h) {
    Image im{w, h, Bytes(size_t(w) * h)};
    for (size_t i = 0; i < im.px.size(); ++i)
        im.px[i] = uint8_t(i * 7 + i / w);
    return im;
}

} // namespace

TEST(WsqBmp, WritesTheClassicLayoutAndReadsItBack) {
    for (uint32_t w : {1u, 2u, 3u, 4u, 5u, 301u}) {
        const Image im = gradient(w, 7);
        const Bytes b = write_bmp(im, 500);
        const size_t row = (w + 3) & ~3u;
        ASSERT_EQ(b.size(), 1078 + row * 7);
        EXPECT_EQ(b[10] | b[11] << 8, 1078);
        EXPECT_EQ(b[28], 8); // bits per pixel
        // Bottom row first: the last image row is stored at offset 1078.
        EXPECT_EQ(0, std::memcmp(&b[1078], &im.px[6 * w], w));
        wsq_bmp r;
        ASSERT_EQ(wsq_bmp_read(b.data(), b.size(), &r), WSQ_OK);
        EXPECT_EQ(r.width, w);
        EXPECT_EQ(r.height, 7u);
        EXPECT_EQ(r.ppi, 500);
        EXPECT_EQ(Bytes(r.pixels, r.pixels + im.px.size()), im.px);
        wsq_free(r.pixels);
    }
}

TEST(WsqBmp, ReadsTopDownRowsAndMapsThePalette) {
    const Image im = gradient(6, 4);
    Bytes b = write_bmp(im);
    // Store the rows top first (negative height) and invert the grey palette.
    set32(b, 22, uint32_t(-4));
    for (uint32_t y = 0; y < 4; ++y)
        std::memcpy(&b[1078 + 8 * y], &im.px[6 * y], 6);
    for (int i = 0; i < 256; ++i)
        std::memset(&b[54 + 4 * i], 255 - i, 3);
    wsq_bmp r;
    ASSERT_EQ(wsq_bmp_read(b.data(), b.size(), &r), WSQ_OK);
    for (size_t i = 0; i < im.px.size(); ++i)
        EXPECT_EQ(r.pixels[i], 255 - im.px[i]) << i;
    wsq_free(r.pixels);
}

TEST(WsqBmp, RefusesWhatItCannotRead) {
    struct Case {
        const char* name;
        std::function<void(Bytes&)> edit;
        int rc;
    };
    const Case cases[] = {
        {"not BM", [](Bytes& b) { b[0] = 'X'; }, WSQ_EBMP},
        {"shorter than the headers", [](Bytes& b) { b.resize(50); }, WSQ_EBMP},
        {"24 bits per pixel", [](Bytes& b) { b[28] = 24; }, WSQ_EBMPFORMAT},
        {"run-length compressed", [](Bytes& b) { set32(b, 30, 1); }, WSQ_EBMPFORMAT},
        {"colour palette", [](Bytes& b) { b[54 + 4 * 9] = 0; }, WSQ_EBMPFORMAT},
        {"palette of 300 entries", [](Bytes& b) { set32(b, 46, 300); }, WSQ_EBMPFORMAT},
        {"negative width", [](Bytes& b) { set32(b, 18, uint32_t(-10)); }, WSQ_EBMPSIZE},
        {"zero height", [](Bytes& b) { set32(b, 22, 0); }, WSQ_EBMPSIZE},
        {"most negative height", [](Bytes& b) { set32(b, 22, 0x80000000u); }, WSQ_EBMPSIZE},
        {"huge width", [](Bytes& b) { set32(b, 18, 2000000000); }, WSQ_EBMPSIZE},
        {"pixel data cut short", [](Bytes& b) { b.resize(b.size() - 1); }, WSQ_EBMP},
        {"taller than the data", [](Bytes& b) { set32(b, 22, 60000); }, WSQ_EBMP},
        {"pixels inside the header", [](Bytes& b) { set32(b, 10, 20); }, WSQ_EBMP},
        {"pixel offset past the end", [](Bytes& b) { set32(b, 10, 0xFFFFFFF0u); }, WSQ_EBMP},
        {"header size past the end", [](Bytes& b) { set32(b, 14, 0xFFFFFFF0u); }, WSQ_EBMP},
    };
    for (const auto& c : cases) {
        Bytes b = write_bmp(gradient(30, 20));
        c.edit(b);
        wsq_bmp r;
        EXPECT_EQ(wsq_bmp_read(b.data(), b.size(), &r), c.rc) << c.name;
        EXPECT_EQ(r.pixels, nullptr) << c.name;
    }
}
