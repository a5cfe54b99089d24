// WSQ encoder and decoder: stream structure, NIST's published worked example, the
// transform, Huffman tables, round trips and the decoder's handling of bad input.
#include <gtest/gtest.h>

#include <QCryptographicHash>

#include <algorithm>
#include <functional>
#include <random>

#include "wsq_internal.h"
#include "wsq_test_util.h"

using namespace wsqtest;

namespace {

// The worked example of NIST's WSQ documentation: p = ((x^2 + y^2) >> 5) & 255, 301 x 277.
Image worked_example() {
    Image im{301, 277, Bytes(301 * 277)};
    for (uint32_t y = 0; y < im.height; ++y)
        for (uint32_t x = 0; x < im.width; ++x)
            im.px[y * im.width + x] = uint8_t(((x * x + y * y) >> 5) & 255);
    return im;
}

std::vector<int> dht_bits(const Bytes& b, const Segment& s) {
    return std::vector<int>(b.begin() + s.payload + 1, b.begin() + s.payload + 17);
}

unsigned be16(const Bytes& b, size_t i) {
    return unsigned(b[i]) << 8 | b[i + 1];
}

} // namespace

TEST(WsqEncoder, WorkedExampleMatchesNistFigures) {
    struct Case {
        double rate;
        size_t bytes;
        double q0; // published to two decimals
        std::vector<int> bits0, bits1;
        const char* sha256; // of NIST's file
    };
    const Case cases[] = {
        {0.75,
         7348,
         73.69,
         {0, 0, 2, 5, 5, 9, 8, 10, 14, 4, 14, 3, 0, 0, 0, 0},
         {0, 2, 0, 2, 5, 3, 12, 4, 16, 19, 17, 11, 13, 0, 0, 0},
         "46cbb4303d8d7a1180edfa836f68e3b9afde5f5b1d869b7c7eb5f3180fd08409"},
        {2.25,
         18431,
         17.49,
         {0, 0, 2, 3, 5, 6, 17, 23, 24, 25, 30, 15, 0, 0, 0, 0},
         {0, 1, 1, 5, 4, 5, 5, 10, 9, 6, 7, 9, 14, 6, 3, 0},
         "47625f16d0fce1f4cca36d68464ad8d0af9f378e56d4a9e4ea9e5f7be0afe608"},
    };
    const Image im = worked_example();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rate);
        const Bytes b = encode(im, c.rate, 500);
        EXPECT_EQ(b.size(), c.bytes);
        // The whole file is NIST's, to the byte (a double-precision quantiser would
        // differ in the last digit of some stored bin widths, e.g. Q35 106.89 for 106.88).
        const QByteArray file(reinterpret_cast<const char*>(b.data()), qsizetype(b.size()));
        EXPECT_EQ(QCryptographicHash::hash(file, QCryptographicHash::Sha256).toHex().toStdString(),
                  c.sha256);
        auto segs = segments(b);
        const Segment* sof = find(segs, WSQ_SOF);
        ASSERT_NE(sof, nullptr);
        const size_t p = sof->payload;
        EXPECT_EQ(be16(b, p + 2), 277u);
        EXPECT_EQ(be16(b, p + 4), 301u);
        EXPECT_EQ(b[p + 6], 2); // M = 125.72
        EXPECT_EQ(be16(b, p + 7), 12572u);
        EXPECT_EQ(b[p + 9], 4); // R = 1.0100
        EXPECT_EQ(be16(b, p + 10), 10100u);
        const Segment* dqt = find(segs, WSQ_DQT);
        ASSERT_NE(dqt, nullptr);
        const double q0 = be16(b, dqt->payload + 4) / std::pow(10.0, b[dqt->payload + 3]);
        EXPECT_NEAR(q0, c.q0, 0.006);
        const Segment* t0 = find(segs, WSQ_DHT, 0);
        const Segment* t1 = find(segs, WSQ_DHT, 1);
        ASSERT_TRUE(t0 && t1);
        EXPECT_EQ(dht_bits(b, *t0), c.bits0);
        EXPECT_EQ(dht_bits(b, *t1), c.bits1);
    }
    // At 0.75 the first coded byte is 0xFF and must be followed by a stuffed zero.
    const Bytes b = encode(im, 0.75, 500);
    const auto segs = segments(b);
    const Segment* sob = find(segs, WSQ_SOB);
    ASSERT_NE(sob, nullptr);
    EXPECT_EQ(b[sob->payload + 1], 0xFF);
    EXPECT_EQ(b[sob->payload + 2], 0x00);
    EXPECT_EQ(b[sob->payload + 3], 0xCF);
}

TEST(WsqEncoder, StreamLayoutAndNistComment) {
    const Image im = ridges(120, 90);
    const Bytes b = encode(im, 0.75, 500, "operator note");
    auto segs = segments(b);
    std::vector<unsigned> order;
    for (const auto& s : segs)
        order.push_back(s.marker);
    const std::vector<unsigned> expected = {WSQ_SOI, WSQ_COM, WSQ_COM, WSQ_DTT, WSQ_DQT, WSQ_SOF,
                                            WSQ_DHT, WSQ_SOB, WSQ_DHT, WSQ_SOB, WSQ_SOB, WSQ_EOI};
    EXPECT_EQ(order, expected);
    ASSERT_EQ(b.size(), segs.back().offset + 2) << "EOI must end the file";

    const Segment& com = segs[1];
    std::string text(b.begin() + com.payload, b.begin() + com.payload + com.size);
    EXPECT_EQ(text, "NIST_COM 9\nPIX_WIDTH 120\nPIX_HEIGHT 90\nPIX_DEPTH 8\nPPI 500\nLOSSY 1\n"
                    "COLORSPACE GRAY\nCOMPRESSION WSQ\nWSQ_BITRATE 0.750000");
    EXPECT_EQ(std::string(b.begin() + segs[2].payload, b.begin() + segs[2].payload + segs[2].size),
              "operator note");

    // The customary 9/7 filter table, byte for byte as NIST writes it (first coefficient).
    const Segment& dtt = segs[3];
    EXPECT_EQ(dtt.size, 56u);
    const Bytes h00 = {0x09, 0x07, 0x00, 0x09, 0x32, 0xD3, 0x25, 0xCD};
    EXPECT_TRUE(std::equal(h00.begin(), h00.end(), b.begin() + dtt.payload));

    wsq_info info;
    ASSERT_EQ(wsq_read_info(b.data(), b.size(), &info), WSQ_OK);
    EXPECT_EQ(info.width, 120u);
    EXPECT_EQ(info.height, 90u);
    EXPECT_EQ(info.ppi, 500);
    EXPECT_DOUBLE_EQ(info.bitrate, 0.75);
    EXPECT_NE(std::string(info.comment).find("operator note"), std::string::npos);

    // Unknown resolution is recorded as -1 and read back as -1.
    const Bytes u = encode(im, 0.75, 0);
    EXPECT_NE(std::string(u.begin(), u.end()).find("\nPPI -1\n"), std::string::npos);
    EXPECT_EQ(decode(u).ppi, -1);
    EXPECT_EQ(decode(b).ppi, 500);
}

TEST(WsqEncoder, LowVarianceFallbackDropsQuietSubbands) {
    // Constant grey with a small textured patch in a corner: the lowest bands carry little
    // energy, every subband is measured over its whole area, and these stay silent.
    Image im{400, 380, Bytes(400 * 380, 200)};
    for (uint32_t y = 350; y < 380; ++y)
        for (uint32_t x = 0; x < 30; ++x)
            im.px[y * 400 + x] = uint8_t(((x * x + y * y) >> 4) & 255);
    const Bytes b = encode(im);
    const auto segs = segments(b);
    const Segment* dqt = find(segs, WSQ_DQT);
    ASSERT_NE(dqt, nullptr);
    const std::vector<int> silent = {16, 21, 28, 31, 32, 34, 39, 52, 53, 54, 55};
    for (int k = 0; k < 60; ++k) {
        bool zero = be16(b, dqt->payload + 3 + 6 * k + 1) == 0;
        bool expect = std::find(silent.begin(), silent.end(), k) != silent.end();
        EXPECT_EQ(zero, expect) << "subband " << k;
    }
    const Decoded d = decode(b);
    ASSERT_EQ(d.rc, WSQ_OK);
    EXPECT_GT(psnr(im.px, d.im.px), 30.0);
}

TEST(WsqCodec, RoundTripsAcrossSizesAndRates) {
    struct Case {
        uint32_t w, h;
    };
    const Case sizes[] = {{WSQ_MIN_DIMENSION, WSQ_MIN_DIMENSION},
                          {17, 300},
                          {301, 18},
                          {64, 64},
                          {255, 257},
                          {500, 500}};
    for (const auto& s : sizes) {
        const Image im = ridges(s.w, s.h);
        double prev = 0;
        for (double rate : {0.75, 2.25}) {
            SCOPED_TRACE(testing::Message() << s.w << "x" << s.h << " at " << rate);
            int rc;
            const Bytes b = encode(im, rate, 500, nullptr, &rc);
            ASSERT_EQ(rc, WSQ_OK) << wsq_strerror(rc);
            const Decoded d = decode(b);
            ASSERT_EQ(d.rc, WSQ_OK) << wsq_strerror(d.rc);
            EXPECT_EQ(d.im.width, s.w);
            EXPECT_EQ(d.im.height, s.h);
            const double q = psnr(im.px, d.im.px);
            EXPECT_GT(q, 24.0);
            EXPECT_GT(q, prev) << "a higher rate must not lose quality";
            prev = q;
        }
    }
}

TEST(WsqCodec, SmoothImagesKeepTheirQualityAtEveryRate) {
    // Few subbands carry energy here. Taken literally, the rate formula then asks for bins
    // so narrow that the indices overflow 16 bits, or (with fewer subbands still) for a
    // proportionality constant beyond floating-point range that zeroes every bin width.
    for (double period : {20.0, 80.0}) {
        Image im{300, 300, Bytes(300 * 300)};
        for (uint32_t y = 0; y < 300; ++y)
            for (uint32_t x = 0; x < 300; ++x)
                im.px[y * 300 + x] =
                    uint8_t(128 + 100 * std::sin(x / period) * std::cos(y / (1.3 * period)));
        for (double rate : {0.75, 2.25}) {
            const Decoded d = decode(encode(im, rate));
            ASSERT_EQ(d.rc, WSQ_OK);
            EXPECT_GT(psnr(im.px, d.im.px), 45.0) << "period " << period << " at " << rate;
        }
    }
}

TEST(WsqEncoder, HonoursTheRowStride) {
    // The same picture in padded rows must give the same file.
    const Image im = ridges(61, 47);
    const size_t stride = 64;
    Bytes padded(stride * im.height, 0xAB);
    for (uint32_t y = 0; y < im.height; ++y)
        std::copy_n(&im.px[y * im.width], im.width, &padded[y * stride]);
    uint8_t* out = nullptr;
    size_t n = 0;
    ASSERT_EQ(wsq_encode(padded.data(), im.width, im.height, stride, 500, 0.75, nullptr, &out, &n),
              WSQ_OK);
    EXPECT_EQ(Bytes(out, out + n), encode(im));
    wsq_free(out);
}

TEST(WsqCodec, ConstantImagesSurviveExactly) {
    for (int v : {0, 200, 255}) {
        Image im{40, 33, Bytes(40 * 33, uint8_t(v))};
        const Decoded d = decode(encode(im));
        ASSERT_EQ(d.rc, WSQ_OK) << v;
        EXPECT_EQ(d.im.px, im.px) << v;
    }
}

TEST(WsqEncoder, RefusesBadArguments) {
    const Image ok = ridges(64, 64);
    struct Case {
        const char* name;
        uint32_t w, h;
        size_t stride;
        double rate;
        int rc;
    };
    const Case cases[] = {
        {"narrower than the transform", WSQ_MIN_DIMENSION - 1, 64, 64, 0.75, WSQ_ETOOSMALL},
        {"lower than the transform", 64, WSQ_MIN_DIMENSION - 1, 64, 0.75, WSQ_ETOOSMALL},
        {"empty", 0, 0, 64, 0.75, WSQ_ETOOSMALL},
        {"stride below width", 64, 64, 63, 0.75, WSQ_EINVAL},
        {"zero rate", 64, 64, 64, 0.0, WSQ_EINVAL},
        {"rate above 8", 64, 64, 64, 8.5, WSQ_EINVAL},
        {"NaN rate", 64, 64, 64, std::nan(""), WSQ_EINVAL},
        {"width beyond the stream", 70000, 1, 70000, 0.75, WSQ_EINVAL},
    };
    for (const auto& c : cases) {
        uint8_t* out = reinterpret_cast<uint8_t*>(1);
        size_t n = 1;
        EXPECT_EQ(wsq_encode(ok.px.data(), c.w, c.h, c.stride, 500, c.rate, nullptr, &out, &n),
                  c.rc)
            << c.name;
        EXPECT_EQ(out, nullptr) << c.name;
        EXPECT_EQ(n, 0u) << c.name;
    }
}

TEST(WsqTransform, AnalysisThenSynthesisIsIdentity) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> dist(-128.f, 128.f);
    const std::pair<uint32_t, uint32_t> sizes[] = {
        {17, 17}, {18, 19}, {33, 20}, {64, 64}, {301, 277}};
    for (auto [w, h] : sizes) {
        wsq_geometry g;
        ASSERT_EQ(wsq_build_geometry(w, h, &g), WSQ_OK);
        std::vector<float> x(size_t(w) * h);
        for (auto& v : x)
            v = dist(rng);
        std::vector<float> y = x;
        std::vector<float> scratch(y.size());
        ASSERT_EQ(wsq_forward(y.data(), scratch.data(), &g, &wsq_filters_97), WSQ_OK);
        ASSERT_EQ(wsq_inverse(y.data(), scratch.data(), &g, &wsq_filters_97), WSQ_OK);
        float worst = 0;
        for (size_t i = 0; i < x.size(); ++i)
            worst = std::max(worst, std::abs(x[i] - y[i]));
        EXPECT_LT(worst, 2e-3f) << w << "x" << h;
    }
}

TEST(WsqTransform, GeometryOfNistExample) {
    // Subband rectangles for 301 x 277 as published with NIST's worked example.
    wsq_geometry g;
    ASSERT_EQ(wsq_build_geometry(301, 277, &g), WSQ_OK);
    struct Band {
        int k;
        uint32_t x, y, w, h;
    };
    const Band bands[] = {{0, 0, 0, 10, 9},     {3, 10, 9, 9, 9},      {6, 19, 18, 19, 17},
                          {20, 95, 0, 18, 18},  {33, 113, 52, 19, 18}, {45, 0, 121, 19, 18},
                          {51, 76, 70, 75, 69}, {53, 226, 0, 75, 70},  {59, 76, 208, 75, 69}};
    for (const auto& b : bands) {
        const wsq_rect& r = g.band[b.k];
        EXPECT_EQ((std::vector<uint32_t>{r.x, r.y, r.w, r.h}),
                  (std::vector<uint32_t>{b.x, b.y, b.w, b.h}))
            << "subband " << b.k;
    }
}

TEST(WsqHuffman, TablesAreValidPrefixCodesOfAtMost16Bits) {
    std::vector<std::pair<const char*, std::function<uint32_t(int)>>> freqs = {
        {"one symbol", [](int s) { return s == 42 ? 1000u : 0u; }},
        {"two symbols", [](int s) { return s == 1 || s == 254 ? 5u : 0u; }},
        {"all alike", [](int s) { return s ? 10u : 0u; }},
        // Fibonacci frequencies give an optimal tree far deeper than 16 levels.
        {"fibonacci",
         [](int s) {
             if (s < 1 || s > 40)
                 return 0u;
             uint32_t a = 1, b = 1;
             for (int i = 1; i < s; ++i) {
                 uint32_t t = a + b;
                 a = b;
                 b = t;
             }
             return a;
         }},
    };
    for (auto& [name, f] : freqs) {
        uint32_t freq[256];
        int used = 0;
        for (int s = 0; s < 256; ++s) {
            freq[s] = f(s);
            used += freq[s] != 0;
        }
        wsq_huff_dec t{};
        const int n = wsq_huff_make_table(freq, t.bits, t.values);
        EXPECT_EQ(n, used) << name;
        double kraft = 0;
        for (int l = 1; l <= 16; ++l)
            kraft += t.bits[l] / double(1 << l);
        EXPECT_LT(kraft, 1.0) << name << ": the all-ones code word must stay unused";
        EXPECT_EQ(wsq_huff_dec_build(&t), WSQ_OK) << name;
    }
}

// Decoder robustness: a small valid stream, altered in one way per case.
namespace {

Bytes sample() {
    static const Bytes b = encode(ridges(64, 64));
    return b;
}

void set16(Bytes& b, size_t i, unsigned v) {
    b[i] = uint8_t(v >> 8);
    b[i + 1] = uint8_t(v);
}

} // namespace

TEST(WsqDecoder, RejectsMalformedStreams) {
    using Edit = std::function<void(Bytes&, const std::vector<Segment>&)>;
    struct Case {
        const char* name;
        Edit edit;
        int rc;
        uint64_t max_pixels = 0;
    };
    const Case cases[] = {
        {"no start marker", [](Bytes& b, auto&) { b[1] = 0; }, WSQ_ENOTWSQ},
        {"empty input", [](Bytes& b, auto&) { b.clear(); }, WSQ_ENOTWSQ},
        {"zero width", [](Bytes& b, auto& s) { set16(b, find(s, WSQ_SOF)->payload + 4, 0); },
         WSQ_ESEGMENT},
        {"too small for the transform",
         [](Bytes& b, auto& s) { set16(b, find(s, WSQ_SOF)->payload + 4, 16); }, WSQ_ETOOSMALL},
        {"huge dimensions",
         [](Bytes& b, auto& s) {
             set16(b, find(s, WSQ_SOF)->payload + 2, 65535);
             set16(b, find(s, WSQ_SOF)->payload + 4, 65535);
         },
         WSQ_ELIMIT},
        {"over the caller's limit", [](Bytes&, auto&) {}, WSQ_ELIMIT, 64 * 64 - 1},
        {"over-subscribed Huffman table",
         [](Bytes& b, auto& s) {
             // Three codes of length 1, the total kept by taking them from longer lengths.
             size_t p = find(s, WSQ_DHT)->payload;
             int move = 3 - b[p + 1];
             b[p + 1] = 3;
             for (int l = 16; l >= 2 && move > 0; --l) {
                 int take = std::min<int>(move, b[p + l]);
                 b[p + l] = uint8_t(b[p + l] - take);
                 move -= take;
             }
         },
         WSQ_EHUFFTABLE},
        {"Huffman table id out of range",
         [](Bytes& b, auto& s) { b[find(s, WSQ_DHT)->payload] = 8; }, WSQ_ESEGMENT},
        {"block names an undefined table",
         [](Bytes& b, auto& s) { b[find(s, WSQ_SOB)->payload] = 5; }, WSQ_ENOTABLE},
        {"block names a table id out of range",
         [](Bytes& b, auto& s) { b[find(s, WSQ_SOB)->payload] = 200; }, WSQ_ENOTABLE},
        {"no quantisation table",
         [](Bytes& b, auto& s) { set16(b, find(s, WSQ_DQT)->offset, WSQ_COM); }, WSQ_ENOTABLE},
        {"restart interval", [](Bytes& b, auto& s) { set16(b, find(s, WSQ_COM)->offset, WSQ_DRT); },
         WSQ_EUNSUPPORTED},
        {"even-length filters", [](Bytes& b, auto& s) { b[find(s, WSQ_DTT)->payload] = 8; },
         WSQ_EUNSUPPORTED},
        {"filter table length mismatch",
         [](Bytes& b, auto& s) { b[find(s, WSQ_DTT)->payload + 1] = 9; }, WSQ_ESEGMENT},
        {"unknown marker", [](Bytes& b, auto& s) { set16(b, find(s, WSQ_COM)->offset, 0xFFB5); },
         WSQ_EMARKER},
        {"segment length below 2",
         [](Bytes& b, auto& s) { set16(b, find(s, WSQ_COM)->offset + 2, 1); }, WSQ_ESEGMENT},
        {"segment longer than the file",
         [](Bytes& b, auto& s) { set16(b, find(s, WSQ_COM)->offset + 2, 0xFFFF); }, WSQ_ETRUNC},
        {"second frame header",
         [](Bytes& b, auto& s) {
             const Segment* f = find(s, WSQ_SOF);
             Bytes sof(b.begin() + f->offset, b.begin() + f->payload + f->size);
             b.insert(b.begin() + f->payload + f->size, sof.begin(), sof.end());
         },
         WSQ_EMARKER},
        {"last block missing",
         [](Bytes& b, auto& s) {
             b.resize(find(s, WSQ_SOB, 2)->offset);
             b.insert(b.end(), {0xFF, 0xA1});
         },
         WSQ_ECOUNT},
        {"a block too many",
         [](Bytes& b, auto& s) {
             Bytes last(b.begin() + find(s, WSQ_SOB, 2)->offset, b.end() - 2);
             b.insert(b.end() - 2, last.begin(), last.end());
         },
         WSQ_ECOUNT},
    };
    for (const auto& c : cases) {
        Bytes b = sample();
        c.edit(b, segments(b));
        const Decoded d = decode(b, c.max_pixels);
        EXPECT_EQ(d.rc, c.rc) << c.name << ": " << wsq_strerror(d.rc);
    }
}

TEST(WsqDecoder, AcceptsOtherValidArrangements) {
    const Bytes reference = decode(sample()).im.px;
    {
        // Comments between blocks and after the last one.
        Bytes b = sample();
        const Bytes com = {0xFF, 0xA8, 0x00, 0x05, 'a', 'b', 'c'};
        const auto s = segments(b);
        b.insert(b.end() - 2, com.begin(), com.end());
        b.insert(b.begin() + find(s, WSQ_SOB, 2)->offset, com.begin(), com.end());
        const Decoded d = decode(b);
        ASSERT_EQ(d.rc, WSQ_OK) << wsq_strerror(d.rc);
        EXPECT_EQ(d.im.px, reference);
    }
    {
        // Both Huffman tables in one segment before the first block.
        Bytes b = sample();
        const auto s = segments(b);
        const Segment &t0 = *find(s, WSQ_DHT, 0), &t1 = *find(s, WSQ_DHT, 1);
        const Bytes second(b.begin() + t1.payload, b.begin() + t1.payload + t1.size);
        b.erase(b.begin() + t1.offset, b.begin() + t1.payload + t1.size);
        b.insert(b.begin() + t0.payload + t0.size, second.begin(), second.end());
        const unsigned len = unsigned(t0.size + second.size() + 2);
        b[t0.offset + 2] = uint8_t(len >> 8);
        b[t0.offset + 3] = uint8_t(len);
        const Decoded d = decode(b);
        ASSERT_EQ(d.rc, WSQ_OK) << wsq_strerror(d.rc);
        EXPECT_EQ(d.im.px, reference);
    }
}

TEST(WsqDecoder, EveryTruncationIsAnError) {
    const Bytes full = sample();
    for (size_t n = 0; n < full.size(); ++n) {
        Bytes b(full.begin(), full.begin() + n);
        EXPECT_NE(decode(b).rc, WSQ_OK) << "prefix of " << n << " bytes";
    }
}
