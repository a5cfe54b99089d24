// The tools' one 8-bit grey BMP reader and writer.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <functional>
#include <vector>

#include "greyio.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Image {
    uint32_t width = 0, height = 0;
    Bytes px;
};

Bytes write_bmp(const Image& im, int ppi = 0) {
    uint8_t* out = nullptr;
    size_t n = 0;
    EXPECT_EQ(greyio_bmp_encode(im.px.data(), im.width, im.height, ppi, &out, &n), GREYIO_OK);
    Bytes b(out, out + n);
    std::free(out);
    return b;
}

// Decodes and returns the pixels, or an empty vector with the code in *rc.
Bytes read_bmp(const Bytes& b, int* rc, greyio_image* info = nullptr) {
    greyio_image r;
    *rc = greyio_bmp_decode(b.data(), b.size(), &r);
    if (*rc != GREYIO_OK) {
        EXPECT_EQ(r.pixels, nullptr);
        return {};
    }
    Bytes px(r.pixels, r.pixels + size_t(r.width) * r.height);
    std::free(r.pixels);
    if (info)
        *info = r;
    return px;
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

TEST(GreyioBmp, WritesTheClassicLayoutAndReadsItBack) {
    for (uint32_t w : {1u, 2u, 3u, 4u, 5u, 301u}) {
        const Image im = gradient(w, 7);
        const Bytes b = write_bmp(im, 500);
        const size_t row = (w + 3) & ~3u;
        ASSERT_EQ(b.size(), 1078 + row * 7);
        EXPECT_EQ(b[10] | b[11] << 8, 1078);
        EXPECT_EQ(b[28], 8); // bits per pixel
        // Bottom row first: the last image row is stored at offset 1078.
        EXPECT_EQ(0, std::memcmp(&b[1078], &im.px[6 * w], w));
        int rc;
        greyio_image info;
        EXPECT_EQ(read_bmp(b, &rc, &info), im.px);
        EXPECT_EQ(info.width, w);
        EXPECT_EQ(info.height, 7u);
        EXPECT_EQ(info.ppi, 500);
        // Saving writes the same bytes straight from the rows.
        const auto file = std::filesystem::temp_directory_path() / "greyio-save.bmp";
        ASSERT_EQ(greyio_bmp_save(file.c_str(), im.px.data(), w, 7, 500), GREYIO_OK);
        std::ifstream in(file, std::ios::binary);
        EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(in), {}), b) << w;
        std::filesystem::remove(file);
    }
}

// Layouts other writers produce, each read to the grey levels it stands for.
TEST(GreyioBmp, ReadsOtherLayoutsToTheirGreyLevels) {
    const Image im = gradient(6, 5); // rows padded to 8 bytes, a middle row
    const Bytes plain = write_bmp(im);
    Image low = im; // levels 0..15, for a 16-entry palette
    for (auto& p : low.px)
        p %= 16;
    struct Case {
        const char* name;
        std::function<Bytes()> make;
        const Bytes& expect;
    };
    const Case cases[] = {
        {"rows stored top first (negative height)",
         [&] {
             Bytes b = plain;
             set32(b, 22, uint32_t(-5));
             for (uint32_t y = 0; y < 5; ++y)
                 std::memcpy(&b[1078 + 8 * y], &im.px[6 * y], 6);
             return b;
         },
         im.px},
        {"inverted grey palette",
         [&] {
             Bytes b = plain;
             for (int i = 0; i < 256; ++i)
                 std::memset(&b[54 + 4 * i], 255 - i, 3);
             for (size_t i = 1078; i < b.size(); ++i)
                 b[i] = uint8_t(255 - b[i]);
             return b;
         },
         im.px},
        {"V5 info header (124 bytes)",
         [&] {
             Bytes b(plain.begin(), plain.begin() + 54);
             b.resize(14 + 124);
             set32(b, 14, 124);
             set32(b, 10, 14 + 124 + 1024);
             b.insert(b.end(), plain.begin() + 54, plain.end());
             return b;
         },
         im.px},
        {"16-entry palette",
         [&] {
             const Bytes full = write_bmp(low);
             Bytes b(full.begin(), full.begin() + 54 + 16 * 4);
             set32(b, 46, 16);
             set32(b, 10, 54 + 16 * 4);
             b.insert(b.end(), full.begin() + 1078, full.end());
             return b;
         },
         low.px},
    };
    const auto file = std::filesystem::temp_directory_path() / "greyio-layout.bmp";
    for (const auto& c : cases) {
        const Bytes bmp = c.make();
        int rc;
        EXPECT_EQ(read_bmp(bmp, &rc), c.expect) << c.name;
        EXPECT_EQ(rc, GREYIO_OK) << c.name;
        // Loading a file unpacks it in its own buffer: the same pixels.
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(bmp.data()), std::streamsize(bmp.size()));
        greyio_image img;
        ASSERT_EQ(greyio_bmp_load(file.c_str(), &img), GREYIO_OK) << c.name;
        EXPECT_EQ(Bytes(img.pixels, img.pixels + c.expect.size()), c.expect) << c.name;
        std::free(img.pixels);
    }
    std::filesystem::remove(file);
}

TEST(GreyioBmp, RefusesWhatItCannotRead) {
    struct Case {
        const char* name;
        std::function<void(Bytes&)> edit;
        int rc;
    };
    const Case cases[] = {
        {"not BM", [](Bytes& b) { b[0] = 'X'; }, GREYIO_ENOTBMP},
        {"shorter than the headers", [](Bytes& b) { b.resize(50); }, GREYIO_ENOTBMP},
        {"empty", [](Bytes& b) { b.clear(); }, GREYIO_ENOTBMP},
        {"24 bits per pixel", [](Bytes& b) { b[28] = 24; }, GREYIO_EFORMAT},
        {"run-length compressed", [](Bytes& b) { set32(b, 30, 1); }, GREYIO_EFORMAT},
        {"colour palette", [](Bytes& b) { b[54 + 4 * 9] = 0; }, GREYIO_EFORMAT},
        {"palette of 300 entries", [](Bytes& b) { set32(b, 46, 300); }, GREYIO_EFORMAT},
        {"core header (12 bytes)", [](Bytes& b) { set32(b, 14, 12); }, GREYIO_ENOTBMP},
        {"negative width", [](Bytes& b) { set32(b, 18, uint32_t(-10)); }, GREYIO_ESIZE},
        {"zero height", [](Bytes& b) { set32(b, 22, 0); }, GREYIO_ESIZE},
        {"most negative height", [](Bytes& b) { set32(b, 22, 0x80000000u); }, GREYIO_ESIZE},
        {"huge width", [](Bytes& b) { set32(b, 18, 2000000000); }, GREYIO_ESIZE},
        {"pixel data cut short", [](Bytes& b) { b.resize(b.size() - 1); }, GREYIO_ENOTBMP},
        {"taller than the data", [](Bytes& b) { set32(b, 22, 60000); }, GREYIO_ENOTBMP},
        {"pixels inside the header", [](Bytes& b) { set32(b, 10, 20); }, GREYIO_ENOTBMP},
        {"pixel offset past the end", [](Bytes& b) { set32(b, 10, 0xFFFFFFF0u); }, GREYIO_ENOTBMP},
        {"header size past the end", [](Bytes& b) { set32(b, 14, 0xFFFFFFF0u); }, GREYIO_ENOTBMP},
    };
    for (const auto& c : cases) {
        Bytes b = write_bmp(gradient(30, 20));
        c.edit(b);
        int rc;
        read_bmp(b, &rc);
        EXPECT_EQ(rc, c.rc) << c.name;
    }
}

// File errors come back as errno values, which greyio_strerror words like strerror.
TEST(GreyioFiles, LoadReportsFileErrorsAsErrno) {
    greyio_image img;
    EXPECT_EQ(greyio_bmp_load("no-such-folder/x.bmp", &img), ENOENT);
    EXPECT_EQ(img.pixels, nullptr);
    EXPECT_STREQ(greyio_strerror(ENOENT), std::strerror(ENOENT));
    EXPECT_STREQ(greyio_strerror(GREYIO_EFORMAT), "BMP is not an 8-bit uncompressed grey image");
}
