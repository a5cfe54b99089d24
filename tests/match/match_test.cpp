// The fingerprint matcher: accuracy on the public sample pairs against NIST's reference
// matcher, invariance to how a finger lies on the platen, pictures that are no print, the
// library's argument checks and matchtool's commands.
#include "RunProgram.h"
#include "fpmatch.h"
#include "greyio.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const fs::path kFixtures = fs::path(STATION_SHARED_DIR) / "fixtures" / "match";
const fs::path kTool = fs::path(STATION_BIN_DIR) / "matchtool";

struct Image {
    int w = 0, h = 0;
    std::vector<uint8_t> px;
};

Image load(const fs::path& p) {
    greyio_image g;
    Image im;
    if (greyio_bmp_load(p.c_str(), &g) != GREYIO_OK)
        return im;
    im.w = static_cast<int>(g.width);
    im.h = static_cast<int>(g.height);
    im.px.assign(g.pixels, g.pixels + static_cast<size_t>(im.w) * im.h);
    std::free(g.pixels);
    return im;
}

struct Deleter {
    void operator()(fpmatch_template* t) const { fpmatch_free(t); }
};
using Template = std::unique_ptr<fpmatch_template, Deleter>;

Template extract(const Image& im) {
    fpmatch_template* t = nullptr;
    EXPECT_EQ(fpmatch_extract(im.px.data(), im.w, im.h, 0, &t), FPMATCH_OK);
    return Template(t);
}

int score(const Image& a, const Image& b) {
    const Template ta = extract(a), tb = extract(b);
    int s = -1;
    EXPECT_EQ(fpmatch_compare(ta.get(), tb.get(), &s), FPMATCH_OK);
    return s;
}

// The image turned by `degrees` about its centre and moved by (dx, dy), on a canvas grown
// by `grow` pixels each side; uncovered pixels are white.
Image transform(const Image& in, double degrees, int dx, int dy, int grow) {
    Image out;
    out.w = in.w + 2 * grow;
    out.h = in.h + 2 * grow;
    out.px.assign(static_cast<size_t>(out.w) * out.h, 255);
    const double r = degrees * M_PI / 180, c = std::cos(r), s = std::sin(r);
    const double icx = in.w / 2.0, icy = in.h / 2.0, ocx = out.w / 2.0 + dx, ocy = out.h / 2.0 + dy;
    for (int y = 0; y < out.h; ++y)
        for (int x = 0; x < out.w; ++x) {
            // Inverse mapping, bilinear.
            const double u = c * (x - ocx) + s * (y - ocy) + icx;
            const double v = -s * (x - ocx) + c * (y - ocy) + icy;
            const int x0 = static_cast<int>(std::floor(u)), y0 = static_cast<int>(std::floor(v));
            if (x0 < 0 || y0 < 0 || x0 + 1 >= in.w || y0 + 1 >= in.h)
                continue;
            const double fx = u - x0, fy = v - y0;
            auto at = [&](int xx, int yy) { return in.px[static_cast<size_t>(yy) * in.w + xx]; };
            const double g = (1 - fy) * ((1 - fx) * at(x0, y0) + fx * at(x0 + 1, y0)) +
                             fy * ((1 - fx) * at(x0, y0 + 1) + fx * at(x0 + 1, y0 + 1));
            out.px[static_cast<size_t>(y) * out.w + x] = static_cast<uint8_t>(std::lround(g));
        }
    return out;
}

// The print with one half (left or top) turned white, cut through the middle of its ridges
// (the centre of its dark pixels), not of the image: prints seldom fill their image.
Image cut_half(const Image& in, char side) {
    Image out = in;
    double sx = 0, sy = 0, n = 0;
    for (int y = 0; y < in.h; ++y)
        for (int x = 0; x < in.w; ++x)
            if (in.px[static_cast<size_t>(y) * in.w + x] < 128)
                sx += x, sy += y, n += 1;
    const int cx = static_cast<int>(sx / n), cy = static_cast<int>(sy / n);
    for (int y = 0; y < in.h; ++y)
        for (int x = 0; x < in.w; ++x) {
            const bool gone = (side == 'l' && x < cx) || (side == 't' && y < cy);
            if (gone)
                out.px[static_cast<size_t>(y) * in.w + x] = 255;
        }
    return out;
}

fs::path scratch(const std::string& name) {
    const fs::path d = fs::temp_directory_path() / ("match_test_" + name);
    fs::remove_all(d);
    fs::create_directories(d);
    return d;
}

#define NEED_FIXTURES()                                                                            \
    if (!fs::exists(kFixtures / "reference.tsv"))                                                  \
    GTEST_SKIP() << "no matcher fixtures in " << kFixtures << " (../shared absent)"

// ---- accuracy on the sample pairs ----

// Threshold for a false-match rate f over the impostor scores, computed the way the
// fixtures' README does: k = floor(f·N) impostors may reach it.
int threshold_at(std::vector<int> impostors, double fmr) {
    std::sort(impostors.rbegin(), impostors.rend());
    const size_t k = static_cast<size_t>(std::floor(fmr * static_cast<double>(impostors.size())));
    return impostors[k] + 1;
}

double share_at_least(const std::vector<int>& scores, int t) {
    return 100.0 *
           static_cast<double>(
               std::count_if(scores.begin(), scores.end(), [t](int s) { return s >= t; })) /
           static_cast<double>(scores.size());
}

TEST(MatchAccuracy, SamplePairsAgainstReferenceMatcher) {
    NEED_FIXTURES();
    struct Row {
        std::string a, b;
        bool genuine;
        int reference;
    };
    std::vector<Row> rows;
    std::ifstream in(kFixtures / "reference.tsv");
    std::string line;
    std::getline(in, line); // header
    while (std::getline(in, line)) {
        std::istringstream f(line);
        Row r;
        int g = 0;
        f >> r.a >> r.b >> g >> r.reference;
        r.genuine = g == 1;
        rows.push_back(r);
    }
    ASSERT_EQ(rows.size(), 2340u);

    // Scored by matchtool pairs in one process, as a user would.
    const fs::path dir = scratch("accuracy");
    {
        std::ofstream list(dir / "pairs.txt");
        for (const Row& r : rows)
            list << (kFixtures / "prints" / r.a).string() << '\t'
                 << (kFixtures / "prints" / r.b).string() << '\n';
    }
    const auto run =
        testrun::run("/bin/sh", {"-c", "\"$0\" pairs < pairs.txt", kTool.string()}, dir);
    ASSERT_EQ(run.status, 0) << run.err;
    std::map<std::pair<std::string, std::string>, int> ours;
    std::istringstream out(run.out);
    while (std::getline(out, line)) {
        const size_t t1 = line.find('\t'), t2 = line.rfind('\t');
        ours[{fs::path(line.substr(0, t1)).filename().string(),
              fs::path(line.substr(t1 + 1, t2 - t1 - 1)).filename().string()}] =
            std::stoi(line.substr(t2 + 1));
    }
    ASSERT_EQ(ours.size(), rows.size());

    std::vector<int> gen, imp, rgen, rimp;
    for (const Row& r : rows) {
        (r.genuine ? gen : imp).push_back(ours.at({r.a, r.b}));
        (r.genuine ? rgen : rimp).push_back(r.reference);
    }
    std::printf("true-match rate       ours (threshold)   reference (threshold)\n");
    for (double fmr : {0.01, 0.001, 0.0}) {
        const int t = threshold_at(imp, fmr), rt = threshold_at(rimp, fmr);
        std::printf("at FMR %5.1f %%         %5.1f %% (%d)        %5.1f %% (%d)\n", fmr * 100,
                    share_at_least(gen, t), t, share_at_least(rgen, rt), rt);
    }
    const int t = FPMATCH_SAME_FINGER;
    const double fmr = share_at_least(imp, t);
    const double tmr = share_at_least(gen, t);
    const double reference = share_at_least(rgen, threshold_at(rimp, 0.001));
    std::printf("station threshold %d: FMR %.2f %%, TMR %.1f %% (reference at FMR 0.1 %%: "
                "%.1f %%)\n",
                t, fmr, tmr, reference);
    EXPECT_LE(fmr, 0.1);
    EXPECT_GE(tmr, reference);
}

// ---- how the finger lies on the platen ----

TEST(MatchInvariance, TurnedAndMovedPrintsStillMatch) {
    NEED_FIXTURES();
    // Two impressions of one finger per sensor; the second is turned or moved.
    const std::pair<const char*, const char*> fingers[] = {
        {"fvc2002_db1_101_1.bmp", "fvc2002_db1_101_2.bmp"},
        {"fvc2004_db1_103_1.bmp", "fvc2004_db1_103_2.bmp"},
    };
    struct Case {
        const char* name;
        double degrees;
        int dx, dy, grow;
    };
    const Case cases[] = {
        {"turned 20 degrees", 20, 0, 0, 60},
        {"turned -20 degrees", -20, 0, 0, 60},
        {"moved", 0, 70, -50, 80},
    };
    for (const auto& [a, b] : fingers) {
        const Image ia = load(kFixtures / "prints" / a), ib = load(kFixtures / "prints" / b);
        ASSERT_GT(ia.w, 0);
        ASSERT_GT(ib.w, 0);
        const int plain = score(ia, ib);
        ASSERT_GE(plain, FPMATCH_SAME_FINGER) << a << " " << b;
        for (const Case& c : cases) {
            const Image changed = transform(ib, c.degrees, c.dx, c.dy, c.grow);
            const int s = score(ia, changed);
            EXPECT_GE(s, FPMATCH_SAME_FINGER)
                << a << " against " << b << " " << c.name << " (unchanged " << plain << ")";
        }
    }
}

// A print dropped into two slots, once whole and once with half of it cut away (the finger
// partly off the platen), is still the same finger.
TEST(MatchInvariance, HalfOfTheSamePrintStillMatches) {
    NEED_FIXTURES();
    for (const char* name :
         {"fvc2000_db2_102_3.bmp", "fvc2002_db1_101_2.bmp", "fvc2004_db1_103_2.bmp"}) {
        const Image whole = load(kFixtures / "prints" / name);
        ASSERT_GT(whole.w, 0);
        for (char side : {'l', 't'})
            EXPECT_GE(score(whole, cut_half(whole, side)), FPMATCH_SAME_FINGER)
                << name << (side == 'l' ? " left" : " top") << " half cut away";
    }
}

// ---- pictures that are no print ----

TEST(MatchNoPrint, BlankTinyNoiseAndAmputationPicturesMatchNothing) {
    Image blank{400, 500, std::vector<uint8_t>(400 * 500, 255)};
    Image black{400, 500, std::vector<uint8_t>(400 * 500, 0)};
    Image tiny{3, 2, std::vector<uint8_t>(6, 128)};
    // Sensor noise: many spurious minutiae, of which only the most reliable are kept.
    Image noise{400, 500, std::vector<uint8_t>(400 * 500)};
    uint32_t state = 12345;
    for (uint8_t& p : noise.px) {
        state = state * 1664525u + 1013904223u;
        p = static_cast<uint8_t>(state >> 24);
    }
    EXPECT_LE(fpmatch_minutiae(extract(noise).get()), FPMATCH_MAX_MINUTIAE);
    Image amputation = load(fs::path(STATION_SOURCE_DIR) / "assets" / "Amputado.BMP");
    ASSERT_GT(amputation.w, 0);
    for (const Image* im : {&blank, &black, &tiny}) {
        const Template t = extract(*im);
        ASSERT_TRUE(t);
        EXPECT_EQ(fpmatch_minutiae(t.get()), 0);
        EXPECT_EQ(score(*im, *im), 0);
    }
    if (!fs::exists(kFixtures / "prints"))
        return;
    const Image print = load(kFixtures / "prints" / "fvc2002_db1_101_1.bmp");
    for (const Image* im : {&blank, &black, &tiny, &noise, &amputation})
        EXPECT_LT(score(print, *im), FPMATCH_SAME_FINGER);
}

TEST(MatchApi, RefusesBadArguments) {
    const uint8_t px[64 * 64] = {};
    fpmatch_template* t = reinterpret_cast<fpmatch_template*>(1);
    EXPECT_EQ(fpmatch_extract(nullptr, 64, 64, 0, &t), FPMATCH_EINVAL);
    EXPECT_EQ(t, nullptr);
    EXPECT_EQ(fpmatch_extract(px, 64, 64, 0, nullptr), FPMATCH_EINVAL);
    EXPECT_EQ(fpmatch_extract(px, 64, 64, 1, &t), FPMATCH_EINVAL);
    for (auto [w, h] : {std::pair{0, 64}, {64, -1}, {FPMATCH_MAX_SIDE + 1, 64}})
        EXPECT_EQ(fpmatch_extract(px, w, h, 0, &t), FPMATCH_ESIZE) << w << "x" << h;
    int s = 7;
    EXPECT_EQ(fpmatch_compare(nullptr, nullptr, &s), FPMATCH_EINVAL);
    EXPECT_EQ(s, 0);
    ASSERT_EQ(fpmatch_extract(px, 64, 64, 0, &t), FPMATCH_OK);
    EXPECT_EQ(fpmatch_compare(t, t, nullptr), FPMATCH_EINVAL);
    EXPECT_EQ(fpmatch_minutiae(nullptr), -1);
    fpmatch_free(t);
    fpmatch_free(nullptr);
    EXPECT_STRNE(fpmatch_strerror(12345), "");
}

// ---- matchtool ----

TEST(Matchtool, SetReportsTheSlotsOfOneFingerAndSkipsAmputations) {
    NEED_FIXTURES();
    const fs::path dir = scratch("set");
    // Ten different fingers: five of one sensor, five of another.
    const char* prints[10] = {"fvc2002_db1_101_1.bmp", "fvc2002_db1_102_1.bmp",
                              "fvc2002_db1_103_1.bmp", "fvc2002_db1_104_1.bmp",
                              "fvc2002_db1_105_1.bmp", "fvc2004_db1_101_1.bmp",
                              "fvc2004_db1_102_1.bmp", "fvc2004_db1_103_1.bmp",
                              "fvc2004_db1_104_1.bmp", "fvc2004_db1_105_1.bmp"};
    auto put = [&](int slot, const fs::path& from) {
        fs::copy_file(from, dir / ("dedo" + std::to_string(slot) + ".bmp"),
                      fs::copy_options::overwrite_existing);
    };
    for (int n = 1; n <= 10; ++n)
        put(n, kFixtures / "prints" / prints[n - 1]);
    auto r = testrun::run(kTool, {"set", dir.string()}, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");

    // Slot 7 holds another impression of slot 3's finger; slots 9 and 10 are amputated.
    put(7, kFixtures / "prints" / "fvc2002_db1_103_2.bmp");
    const fs::path amputation = fs::path(STATION_SOURCE_DIR) / "assets" / "Amputado.BMP";
    fs::copy_file(amputation, dir / "Amputado.BMP");
    put(9, amputation);
    put(10, amputation);
    r = testrun::run(kTool, {"set", dir.string()}, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.out.rfind("3\t7\t", 0), 0u) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;

    // A missing slot is skipped; an unreadable one is an error.
    fs::remove(dir / "dedo1.bmp");
    std::ofstream(dir / "dedo2.bmp") << "not a picture";
    r = testrun::run(kTool, {"set", dir.string()}, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("dedo2.bmp"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.rfind("3\t7\t", 0), 0u) << r.out;
}

TEST(Matchtool, ScoreAndCommandLineErrors) {
    NEED_FIXTURES();
    const fs::path dir = scratch("score");
    const std::string a = (kFixtures / "prints" / "fvc2000_db2_101_1.bmp").string();
    const std::string b = (kFixtures / "prints" / "fvc2000_db2_101_2.bmp").string();
    auto r = testrun::run(kTool, {"score", a, b}, dir);
    EXPECT_EQ(r.status, 0);
    const auto reversed = testrun::run(kTool, {"score", b, a}, dir);
    EXPECT_EQ(r.out, reversed.out); // symmetric
    EXPECT_GT(std::stoi(r.out), 0);

    struct Case {
        std::vector<std::string> args;
        int status;
    };
    const Case cases[] = {
        {{}, 2},
        {{"score", a}, 2},
        {{"frobnicate"}, 2},
        {{"set"}, 2},
        {{"score", a, "missing.bmp"}, 1},
        {{"--help"}, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(testrun::run(kTool, c.args, dir).status, c.status) << c.args.size();

    // pairs: a bad line and an unreadable file are reported, the other lines scored.
    std::ofstream(dir / "list.txt") << a << '\t' << b << "\nno tab here\n"
                                    << a << "\tmissing.bmp\n"
                                    << b << '\t' << a << '\n';
    r = testrun::run("/bin/sh", {"-c", "\"$0\" pairs < list.txt", kTool.string()}, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2) << r.out;
    EXPECT_NE(r.err.find("missing.bmp"), std::string::npos) << r.err;
}

} // namespace
