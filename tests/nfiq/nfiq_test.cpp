// NFIQ core and GBNFIQ library: network test vectors, status rules, agreement with NIST.
#include "GBNFIQ.h"
#include "nfiq_bmp.h"
#include "nfiq_core.h"
#include "detector.h"
#include "internal.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/wait.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// NIST's results for two synthetic prints: the feature vector goes in, NIST's network
// outputs and class come out.
TEST(NfiqNetwork, ReproducesNistOutputs) {
    struct Case {
        nfiq::Features f;
        int score;
        float confidence;
        std::array<float, 5> outputs; // empty when not published
    };
    const Case cases[] = {
        {{1418, 18, 0, 0, 0, 0, 0, 0.033850f, 0.203103f, 0.060649f, 0.702398f},
         2,
         0.861988f,
         {0.051001f, 0.861988f, 0.314679f, 0.024084f, 0.267925f}},
        {{1418, 20, 1, 1, 1, 1, 1, 0.033145f, 0.204513f, 0.098025f, 0.664316f}, 2, 0.748746f, {}},
    };
    for (const Case& c : cases) {
        const nfiq::NetOutput out = nfiq::classify(c.f);
        EXPECT_EQ(out.score, c.score);
        EXPECT_NEAR(out.confidence, c.confidence, 5e-6);
        if (c.outputs[0] != 0.0f)
            for (int k = 0; k < 5; ++k)
                EXPECT_NEAR(out.outputs[k], c.outputs[k], 2e-6) << "output " << k;
    }
}

TEST(NfiqNetwork, ZNormalisationUsesNistStatistics) {
    const nfiq::Features z =
        nfiq::znormalize({1418, 18, 0, 0, 0, 0, 0, 0.033850f, 0.203103f, 0.060649f, 0.702398f});
    const float expected[11] = {-0.9617f, -1.5003f, -1.5973f, -1.5563f, -1.2402f, -0.8444f,
                                -0.5248f, -1.5616f, -0.0368f, -2.1932f, 1.6409f};
    for (int i = 0; i < 11; ++i)
        EXPECT_NEAR(z[i], expected[i], 1e-4) << "feature " << i + 1;
}

// NIST's two synthetic prints: concentric rings in an ellipse on white; image B shifts the
// ring phase in two quadrants to create ridge discontinuities.
std::vector<uint8_t> synthetic_print(bool shifted) {
    const int w = 320, h = 400;
    std::vector<uint8_t> px(w * h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const long dx = x - 160, dy = y - 220;
            uint8_t v = 255;
            if (dx * dx * 190 * 190 + dy * dy * 140 * 140 <= 140L * 140 * 190 * 190) {
                long d = static_cast<long>(std::sqrt(static_cast<double>(dx * dx + dy * dy)));
                while (d * d > dx * dx + dy * dy)
                    --d;
                while ((d + 1) * (d + 1) <= dx * dx + dy * dy)
                    ++d;
                int s = 0;
                if (shifted && dx > 0 && dy > 0)
                    s = 5;
                else if (shifted && dx < -20 && dy < -30)
                    s = 3;
                const long t = (d + s) % 10;
                v = static_cast<uint8_t>(30 + 40 * std::labs(t - 5));
            }
            px[y * w + x] = v;
        }
    }
    return px;
}

std::array<float, 5> quality_features(const nfiq::Result& r) {
    int u[5] = {};
    for (int q : r.quality_map)
        ++u[q];
    const int fg = static_cast<int>(r.quality_map.size()) - u[0];
    return {static_cast<float>(fg), static_cast<float>(u[1]) / fg, static_cast<float>(u[2]) / fg,
            static_cast<float>(u[3]) / fg, static_cast<float>(u[4]) / fg};
}

TEST(NfiqSynthetic, QualityMapMatchesNist) {
    struct Case {
        bool shifted;
        std::array<float, 5> expected; // foreground, zone 1..4 fractions
    };
    const Case cases[] = {{false, {1418, 0.033850f, 0.203103f, 0.060649f, 0.702398f}},
                          {true, {1418, 0.033145f, 0.204513f, 0.098025f, 0.664316f}}};
    for (const Case& c : cases) {
        const std::vector<uint8_t> px = synthetic_print(c.shifted);
        const nfiq::Result r = nfiq::assess(px.data(), 320, 400);
        ASSERT_EQ(r.map_w * r.map_h, 2000);
        const auto f = quality_features(r);
        EXPECT_EQ(f[0], c.expected[0]) << "shifted " << c.shifted;
        for (int i = 1; i < 5; ++i)
            EXPECT_NEAR(f[i], c.expected[i], 1e-6) << "zone " << i << " shifted " << c.shifted;
    }
}

TEST(NfiqSynthetic, ScoresLikeNist) {
    struct Case {
        bool shifted;
        nfiq::Features features;
        float confidence;
    };
    const Case cases[] = {
        {false, {1418, 18, 0, 0, 0, 0, 0, 0.033850f, 0.203103f, 0.060649f, 0.702398f}, 0.861988f},
        {true, {1418, 20, 1, 1, 1, 1, 1, 0.033145f, 0.204513f, 0.098025f, 0.664316f}, 0.748746f}};
    for (const Case& c : cases) {
        const std::vector<uint8_t> px = synthetic_print(c.shifted);
        const nfiq::Result r = nfiq::assess(px.data(), 320, 400);
        EXPECT_EQ(r.status, nfiq::kOk);
        EXPECT_EQ(r.score, 2);
        for (int i = 0; i < nfiq::kFeatures; ++i)
            EXPECT_NEAR(r.features[i], c.features[i], 1e-6) << "f" << i + 1;
        EXPECT_NEAR(r.confidence, c.confidence, 1e-5);
    }
}

// ---- NIST's reference figures for the fixture prints ----

struct Reference {
    std::string file;
    std::string nfiq; // "1".."5" or "refused" (NIST's tool rejects images below 256 pixels)
    std::string confidence;
    std::vector<std::string> features; // f1..f11, "-" when NIST stopped early
};

std::filesystem::path shared_dir() {
    return STATION_SHARED_DIR;
}

std::vector<Reference> load_reference() {
    std::vector<Reference> refs;
    std::ifstream in(shared_dir() / "fixtures/nbis/reference.tsv");
    std::string line;
    std::getline(in, line); // header
    while (std::getline(in, line)) {
        std::istringstream row(line);
        std::vector<std::string> col;
        for (std::string c; std::getline(row, c, '\t');)
            col.push_back(c);
        if (col.size() < 16)
            continue;
        refs.push_back({col[0], col[3], col[4], {col.begin() + 5, col.begin() + 16}});
    }
    return refs;
}

class NfiqReference : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!std::filesystem::exists(shared_dir() / "fixtures/nbis/reference.tsv"))
            GTEST_SKIP() << "NIST reference figures not found beside the repository ("
                         << shared_dir() << "); skipping the agreement tests";
        refs_ = load_reference();
        ASSERT_FALSE(refs_.empty());
    }

    nfiq::Result score(const Reference& ref) {
        nfiq::GreyImage img;
        std::string error;
        const auto path = shared_dir() / "fixtures/fingerprints" / ref.file;
        EXPECT_TRUE(nfiq::read_bmp(path.string(), img, &error)) << ref.file << ": " << error;
        return nfiq::assess(img.pixels.data(), img.width, img.height);
    }

    std::vector<Reference> refs_;
};

// The quality map alone fixes the foreground count and the four zone fractions.
TEST_F(NfiqReference, QualityMapFeaturesEqualNist) {
    int checked = 0;
    for (const Reference& ref : refs_) {
        if (ref.features[0] == "-")
            continue;
        const nfiq::Result r = score(ref);
        const auto q = quality_features(r);
        EXPECT_EQ(q[0], std::stof(ref.features[0])) << ref.file;
        for (int i = 1; i < 5; ++i)
            EXPECT_NEAR(q[i], std::stof(ref.features[6 + i]), 1e-6) << ref.file << " zone " << i;
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

// The quality map fixes which blocks have a direction but not its value. NIST's minutiae
// outside high-curvature blocks take their direction from their block (or its opposite);
// the .xyt angle is in 2-degree units of 270° − 11.25° × direction. So our direction map
// must explain nearly every such minutia (a few are moved into a neighbour block by the
// removal steps).
TEST_F(NfiqReference, DirectionMapExplainsNistMinutiaAngles) {
    int consistent = 0, total = 0;
    for (const Reference& ref : refs_) {
        const std::string base = ref.file.substr(0, ref.file.size() - 4);
        std::ifstream xyt(shared_dir() / "fixtures/nbis" / (base + ".xyt"));
        if (!xyt)
            continue;
        nfiq::GreyImage img;
        ASSERT_TRUE(nfiq::read_bmp((shared_dir() / "fixtures/fingerprints" / ref.file).string(),
                                   img, nullptr));
        const lfs::PaddedImage pim =
            lfs::pad_image(img.pixels.data(), img.width, img.height, lfs::kParamsV2);
        const lfs::Maps maps = lfs::make_maps(pim, lfs::kParamsV2);
        for (int x, y, t, q; xyt >> x >> y >> t >> q;) {
            const int b = maps.block_at(x, y);
            if (maps.high_curve[b])
                continue;
            ++total;
            const int d = maps.direction[b];
            if (d < 0)
                continue;
            double diff = std::fmod(2.0 * t - (270.0 - 11.25 * d) + 3600.0, 180.0);
            diff = std::min(diff, 180.0 - diff);
            consistent += diff <= 2.0;
        }
    }
    ASSERT_GT(total, 0);
    std::printf("NIST minutia angles explained by our direction map: %d of %d\n", consistent,
                total);
    EXPECT_GE(consistent, 0.9 * total);
}

// Every print NIST scored gets NIST's score, and NIST's feature vector where NIST gave one
// (f1 and the four fractions to NIST's six decimals, the counts exactly).
TEST_F(NfiqReference, ScoresAndFeaturesEqualNist) {
    int scored = 0, agree = 0;
    for (const Reference& ref : refs_) {
        if (ref.nfiq == "refused")
            continue;
        const nfiq::Result r = score(ref);
        ++scored;
        const bool same = std::to_string(r.score) == ref.nfiq;
        agree += same;
        EXPECT_TRUE(same) << ref.file << ": NIST " << ref.nfiq << " (" << ref.confidence
                          << "), ours " << r.score << " (" << r.confidence << ")";
        if (ref.features[0] == "-")
            continue;
        EXPECT_NEAR(r.confidence, std::stof(ref.confidence), 0.005f) << ref.file;
        for (int i = 0; i < nfiq::kFeatures; ++i)
            EXPECT_NEAR(r.features[i], std::stof(ref.features[i]), 1e-5f)
                << ref.file << " f" << i + 1;
    }
    ASSERT_GT(scored, 0);
    std::printf("NFIQ equal to NIST on %d of %d prints\n", agree, scored);
}

// ---- Detector stages ----

// One pass of hole filling, pixel by pixel: the plain statement of the rule.
void fill_holes_reference(std::vector<uint8_t>& b, int w, int h) {
    for (int y = 0; y < h; ++y)
        for (int x = 1; x < w - 1; ++x) {
            uint8_t* r = &b[static_cast<size_t>(y) * w];
            if (r[x - 1] == r[x + 1] && r[x] != r[x - 1]) {
                r[x] = r[x - 1];
                ++x; // the next pixel is passed over
            }
        }
    for (int x = 0; x < w; ++x)
        for (int y = 1; y < h - 1; ++y) {
            auto at = [&](int yy) -> uint8_t& { return b[static_cast<size_t>(yy) * w + x]; };
            if (at(y - 1) == at(y + 1) && at(y) != at(y - 1)) {
                at(y) = at(y - 1);
                ++y;
            }
        }
}

// The fast pass handles many pixels at once; runs of alternating pixels (where filling one
// pixel spares the next) and the ends of rows are where it could go wrong.
TEST(NfiqDetector, HoleFillingEqualsPixelByPixelPass) {
    struct Case {
        const char* what;
        int w, h;
        uint8_t (*pixel)(int x, int y, unsigned noise);
    };
    const Case cases[] = {
        {"noise", 67, 41, [](int, int, unsigned n) -> uint8_t { return n & 1; }},
        {"columns of period 2", 45, 20, [](int x, int, unsigned) -> uint8_t { return x & 1; }},
        {"rows of period 2", 33, 37, [](int, int y, unsigned) -> uint8_t { return y & 1; }},
        {"checkerboard", 40, 40, [](int x, int y, unsigned) -> uint8_t { return (x + y) & 1; }},
        {"sparse holes", 100, 30,
         [](int, int, unsigned n) -> uint8_t { return (n % 13) == 0 ? 1 : 0; }},
        {"narrow", 2, 9, [](int, int, unsigned n) -> uint8_t { return n & 1; }},
        {"one row", 50, 1, [](int, int, unsigned n) -> uint8_t { return n & 1; }},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> img(static_cast<size_t>(c.w) * c.h);
        unsigned seed = 12345;
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x) {
                seed = seed * 1103515245u + 12345u;
                img[static_cast<size_t>(y) * c.w + x] = c.pixel(x, y, seed >> 16);
            }
        std::vector<uint8_t> expected = img;
        for (int pass = 0; pass < 3; ++pass) {
            fill_holes_reference(expected, c.w, c.h);
            lfs::det::fill_holes(img, c.w, c.h);
            EXPECT_TRUE(img == expected) << c.what << ", pass " << pass + 1;
        }
    }
}

// ---- Status rules of the library ----

TEST(GbnfiqLibrary, RejectsInvalidArguments) {
    std::vector<uint8_t> px(64 * 64, 128);
    struct Case {
        const char* what;
        const unsigned char* pixels;
        int w, h;
        int reserved;
    };
    const Case cases[] = {
        {"null pixels", nullptr, 64, 64, 0},       {"zero width", px.data(), 0, 64, 0},
        {"negative height", px.data(), 64, -5, 0}, {"huge width", px.data(), 100000, 1, 0},
        {"huge height", px.data(), 1, 1 << 30, 0}, {"reserved set", px.data(), 64, 64, 1},
    };
    for (const Case& c : cases) {
        int score = 77;
        EXPECT_EQ(GBNFIQ_GetImageQuality(c.pixels, c.w, c.h, &score, c.reserved),
                  GBNFIQ_INVALID_ARGUMENT)
            << c.what;
        EXPECT_EQ(score, 0) << c.what;
    }
    EXPECT_EQ(GBNFIQ_GetImageQuality(px.data(), 64, 64, nullptr, 0), GBNFIQ_INVALID_ARGUMENT);
}

TEST(GbnfiqLibrary, ImagesWithoutRidgesScoreFive) {
    struct Case {
        const char* what;
        int w, h;
        uint8_t value;
        int status;
    };
    // Below 32 pixels no analysis window fits: the image is empty. A uniform image of any
    // size has no minutiae, which NIST tests before the foreground.
    const Case cases[] = {
        {"1 x 1", 1, 1, 0, GBNFIQ_EMPTY_IMAGE},
        {"31 x 400", 31, 400, 128, GBNFIQ_EMPTY_IMAGE},
        {"400 x 20", 400, 20, 128, GBNFIQ_EMPTY_IMAGE},
        {"all white", 300, 300, 255, GBNFIQ_TOO_FEW_MINUTIAE},
        {"all black", 300, 300, 0, GBNFIQ_TOO_FEW_MINUTIAE},
        {"smallest analysed", 32, 32, 128, GBNFIQ_TOO_FEW_MINUTIAE},
    };
    for (const Case& c : cases) {
        // Exactly w × h bytes, so that a read past the end shows under a sanitizer.
        std::vector<unsigned char> px(static_cast<size_t>(c.w) * c.h, c.value);
        int score = 0;
        EXPECT_EQ(GBNFIQ_GetImageQuality(px.data(), c.w, c.h, &score, 0), c.status) << c.what;
        EXPECT_EQ(score, 5) << c.what;
    }
}

TEST(GbnfiqLibrary, GivesTheCoreScore) {
    const std::vector<uint8_t> px = synthetic_print(false);
    int score = 0;
    const int status = GBNFIQ_GetImageQuality(px.data(), 320, 400, &score, 0);
    const nfiq::Result r = nfiq::assess(px.data(), 320, 400);
    EXPECT_EQ(status, r.status);
    EXPECT_EQ(score, r.score);
}

// The library keeps no state between calls: concurrent calls give the single-call result.
TEST(GbnfiqLibrary, ConcurrentCallsAgree) {
    const std::vector<uint8_t> a = synthetic_print(false), b = synthetic_print(true);
    int expected[2] = {0, 0};
    GBNFIQ_GetImageQuality(a.data(), 320, 400, &expected[0], 0);
    GBNFIQ_GetImageQuality(b.data(), 320, 400, &expected[1], 0);
    std::vector<std::thread> threads;
    std::atomic<int> mismatches{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            const auto& px = t % 2 ? b : a;
            for (int k = 0; k < 3; ++k) {
                int score = 0;
                GBNFIQ_GetImageQuality(px.data(), 320, 400, &score, 0);
                mismatches += score != expected[t % 2];
            }
        });
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(mismatches.load(), 0);
}

// The station loads the library at run time and resolves the entry points by plain name.
TEST(GbnfiqLibrary, ResolvesByPlainNameAtRunTime) {
    void* lib = dlopen(STATION_BIN_DIR "/libGBNFIQ.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    using Quality = int (*)(const unsigned char*, int, int, int*, int);
    using Version = int (*)(int*, int*, int*, int*);
    auto quality = reinterpret_cast<Quality>(dlsym(lib, "GBNFIQ_GetImageQuality"));
    auto version = reinterpret_cast<Version>(dlsym(lib, "GBNFIQ_GetVersion"));
    ASSERT_NE(quality, nullptr);
    ASSERT_NE(version, nullptr);
    const std::vector<unsigned char> white(100 * 100, 255);
    int score = 0, major = 0;
    EXPECT_EQ(quality(white.data(), 100, 100, &score, 0), GBNFIQ_TOO_FEW_MINUTIAE);
    EXPECT_EQ(score, 5);
    EXPECT_EQ(version(&major, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(major, 1);
    dlclose(lib);
}

TEST(GbnfiqLibrary, ReportsVersion) {
    int major = -1, minor = -1, build = -1, generation = -1;
    EXPECT_EQ(GBNFIQ_GetVersion(&major, &minor, &build, &generation), 0);
    EXPECT_EQ(major, 1);
    EXPECT_GE(minor, 0);
    EXPECT_GE(build, 0);
    EXPECT_EQ(generation, 1);
    EXPECT_EQ(GBNFIQ_GetVersion(nullptr, nullptr, nullptr, nullptr), 0);
}

// ---- BMP reader ----

std::vector<uint8_t> make_bmp(int w, int h, const std::vector<uint8_t>& top_down) {
    const int stride = (w + 3) & ~3;
    std::vector<uint8_t> b(1078 + static_cast<size_t>(stride) * h, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    b[0] = 'B';
    b[1] = 'M';
    put32(2, static_cast<uint32_t>(b.size()));
    put32(10, 1078);
    put32(14, 40);
    put32(18, static_cast<uint32_t>(w));
    put32(22, static_cast<uint32_t>(h));
    b[26] = 1;
    b[28] = 8;
    put32(46, 256);
    for (int i = 0; i < 256; ++i)
        b[54 + 4 * i] = b[55 + 4 * i] = b[56 + 4 * i] = static_cast<uint8_t>(i);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            b[1078 + static_cast<size_t>(h - 1 - y) * stride + x] = top_down[y * w + x];
    return b;
}

TEST(NfiqBmp, ReadsBottomUpRowsTopDown) {
    const std::vector<uint8_t> px = {1, 2, 3, 4, 5, 6}; // 3 x 2, rows padded to 4 in the file
    const std::vector<uint8_t> file = make_bmp(3, 2, px);
    nfiq::GreyImage img;
    ASSERT_TRUE(nfiq::decode_bmp(file.data(), file.size(), img, nullptr));
    EXPECT_EQ(img.width, 3);
    EXPECT_EQ(img.height, 2);
    EXPECT_EQ(img.pixels, px);
}

TEST(NfiqBmp, RejectsOtherLayoutsCleanly) {
    const std::vector<uint8_t> good = make_bmp(5, 4, std::vector<uint8_t>(20, 9));
    struct Case {
        const char* what;
        size_t at;
        uint8_t value; // byte patched into a copy of the good file
        size_t keep;   // bytes kept (truncation)
    };
    const Case cases[] = {
        {"wrong magic", 0, 'X', good.size()},
        {"24 bits a pixel", 28, 24, good.size()},
        {"compressed", 30, 1, good.size()},
        {"colour palette", 54 + 4 * 7, 0, good.size()},
        {"pixel offset past the end", 11, 0x7f, good.size()},
        {"truncated pixels", 0, 'B', good.size() - 3},
        {"only the headers", 0, 'B', 60},
        {"empty", 0, 'B', 0},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bad(good.begin(), good.begin() + static_cast<long>(c.keep));
        if (c.at < bad.size())
            bad[c.at] = c.value;
        nfiq::GreyImage img;
        std::string error;
        EXPECT_FALSE(nfiq::decode_bmp(bad.data(), bad.size(), img, &error)) << c.what;
        EXPECT_FALSE(error.empty()) << c.what;
    }
}

// ---- nfiqtool ----

std::string run(const std::string& cmd, int* status) {
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    char buf[512];
    while (p && std::fgets(buf, sizeof buf, p))
        out += buf;
    *status = p ? pclose(p) : -1;
    return out;
}

TEST(NfiqTool, ScoresFilesAndFailsOnUnreadableOnes) {
    const auto dir = std::filesystem::temp_directory_path() / "nfiqtool_test";
    std::filesystem::create_directories(dir);
    const auto good = dir / "rings.bmp";
    const std::vector<uint8_t> file = make_bmp(320, 400, synthetic_print(false));
    std::ofstream(good, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), static_cast<long>(file.size()));
    const std::string tool = std::string(STATION_BIN_DIR) + "/nfiqtool";

    int status = 0;
    const std::string out = run(tool + " -v " + good.string() + " 2>&1", &status);
    EXPECT_EQ(status, 0) << out;
    const nfiq::Result r = nfiq::assess(synthetic_print(false).data(), 320, 400);
    EXPECT_EQ(out.rfind(good.string() + "\t" + std::to_string(r.score) + "\t", 0), 0u) << out;
    EXPECT_NE(out.find("confidence"), std::string::npos) << out;

    const std::string both =
        run(tool + " " + good.string() + " " + (dir / "missing.bmp").string() + " 2>&1", &status);
    EXPECT_NE(status, 0);
    EXPECT_NE(both.find(good.string() + "\t"), std::string::npos) << both;
    EXPECT_NE(both.find("missing.bmp: No such file or directory"), std::string::npos) << both;

    // A readable BMP beyond the scorer's size limit fails with a reason, not a score.
    const auto wide = dir / "wide.bmp";
    const std::vector<uint8_t> wide_file =
        make_bmp(nfiq::kMaxSide + 1, 32, std::vector<uint8_t>((nfiq::kMaxSide + 1) * 32, 128));
    std::ofstream(wide, std::ios::binary)
        .write(reinterpret_cast<const char*>(wide_file.data()),
               static_cast<long>(wide_file.size()));
    const std::string refused = run(tool + " " + wide.string() + " 2>&1", &status);
    EXPECT_EQ(WEXITSTATUS(status), 1) << refused;
    EXPECT_NE(refused.find("wide.bmp: larger than 4096 pixels a side"), std::string::npos)
        << refused;
    std::filesystem::remove_all(dir);
}

} // namespace
