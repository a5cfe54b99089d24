// The command-line programs BMP2WSQ and wsqtool, run as processes in a scratch folder,
// and libWSQPACK.so loaded by name the way the station loads it.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <functional>
#include <set>

#include "RunProgram.h"
#include "WSQPACK.h"
#include "greyio.h"
#include "wsq_test_util.h"

using namespace wsqtest;
namespace fs = std::filesystem;

namespace {

const fs::path kBin = STATION_BIN_DIR;

using testrun::Outcome;
using testrun::run;

struct ScratchDir : testrun::ScratchDir {
    std::set<std::string> names() const {
        std::set<std::string> s;
        for (auto& e : fs::directory_iterator(path))
            s.insert(e.path().filename().string());
        return s;
    }
};

Bytes bmp_of(const Image& im, int ppi = 0) {
    uint8_t* out = nullptr;
    size_t n = 0;
    EXPECT_EQ(greyio_bmp_encode(im.px.data(), im.width, im.height, ppi, &out, &n), GREYIO_OK);
    Bytes b(out, out + n);
    free(out);
    return b;
}

} // namespace

TEST(Bmp2Wsq, ConvertsAPrintInTheWorkingFolder) {
    ScratchDir d;
    const Image im = ridges(120, 140);
    write_file(d.path / "dedo1.bmp", bmp_of(im));
    const Outcome r = run(kBin / "BMP2WSQ", {"dedo1.bmp", "dedo1.wsq"}, d.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(d.names(), (std::set<std::string>{"dedo1.bmp", "dedo1.wsq"}));
    const Decoded dec = decode(read_file(d.path / "dedo1.wsq"));
    ASSERT_EQ(dec.rc, WSQ_OK);
    EXPECT_EQ(dec.im.width, 120u);
    EXPECT_EQ(dec.ppi, 500) << "an unset BMP resolution is taken as 500 ppi";
    EXPECT_GT(psnr(im.px, dec.im.px), 28.0);
}

TEST(Bmp2Wsq, FailuresLeaveNoTargetAndNoTemporary) {
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> setup;
        std::vector<std::string> args;
        std::set<std::string> left; // what must remain in the folder
        int status = 1;
    };
    auto grey = [](uint32_t w, uint32_t h) {
        return [w, h](const fs::path& dir) { write_file(dir / "in.bmp", bmp_of(ridges(w, h))); };
    };
    const Case cases[] = {
        {"missing source", [](const fs::path&) {}, {"in.bmp", "out.wsq"}, {}},
        {"24-bit source",
         [&](const fs::path& dir) {
             Bytes b = bmp_of(ridges(64, 64));
             b[28] = 24;
             write_file(dir / "in.bmp", b);
         },
         {"in.bmp", "out.wsq"},
         {"in.bmp"}},
        {"not a bitmap",
         [](const fs::path& dir) {
             write_file(dir / "in.bmp", Bytes{'h', 'i', '\n'});
         },
         {"in.bmp", "out.wsq"},
         {"in.bmp"}},
        {"image too small for the transform", grey(16, 16), {"in.bmp", "out.wsq"}, {"in.bmp"}},
        {"stale target from an earlier run",
         [](const fs::path& dir) {
             write_file(dir / "out.wsq", Bytes{1, 2, 3});
         },
         {"in.bmp", "out.wsq"},
         {}},
        {"target folder missing", grey(64, 64), {"in.bmp", "no/out.wsq"}, {"in.bmp"}},
        {"target is the source", grey(64, 64), {"in.bmp", "./in.bmp"}, {"in.bmp"}},
        {"one name only", grey(64, 64), {"in.bmp"}, {"in.bmp"}, 2},
    };
    for (const auto& c : cases) {
        ScratchDir d;
        c.setup(d.path);
        const Outcome r = run(kBin / "BMP2WSQ", c.args, d.path);
        EXPECT_EQ(r.status, c.status) << c.name;
        EXPECT_EQ(d.names(), c.left) << c.name;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.name << ": " << r.err;
        if (c.status == 1)
            EXPECT_EQ(r.err.rfind("BMP2WSQ: ", 0), 0u) << c.name << ": " << r.err;
    }
    // A source that was refused does not disturb a good earlier file under another name.
    ScratchDir d;
    write_file(d.path / "good.wsq", Bytes{9});
    run(kBin / "BMP2WSQ", {"missing.bmp", "out.wsq"}, d.path);
    EXPECT_EQ(d.names(), (std::set<std::string>{"good.wsq"}));
}

TEST(WsqTool, EncodeInfoDecode) {
    ScratchDir d;
    const Image im = ridges(200, 150);
    write_file(d.path / "in.bmp", bmp_of(im, 1000));
    Outcome r = run(kBin / "wsqtool", {"encode", "-r", "2.25", "in.bmp", "out.wsq"}, d.path);
    ASSERT_EQ(r.status, 0) << r.err;
    r = run(kBin / "wsqtool", {"info", "out.wsq"}, d.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("size: 200 x 150"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("ppi: 1000"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("2.25 requested"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("WSQ_BITRATE 2.250000"), std::string::npos) << r.out;
    r = run(kBin / "wsqtool", {"decode", "out.wsq", "back.bmp"}, d.path);
    ASSERT_EQ(r.status, 0) << r.err;
    const Bytes back = read_file(d.path / "back.bmp");
    greyio_image b;
    ASSERT_EQ(greyio_bmp_decode(back.data(), back.size(), &b), GREYIO_OK);
    EXPECT_EQ(b.ppi, 1000);
    EXPECT_GT(psnr(im.px, Bytes(b.pixels, b.pixels + im.px.size())), 35.0);
    free(b.pixels);

    struct Bad {
        std::vector<std::string> args;
        int status;
    };
    const Bad bad[] = {{{"encode", "-r", "zero", "in.bmp", "x.wsq"}, 2},
                       {{"encode", "-r", "9", "in.bmp", "x.wsq"}, 2},
                       {{"decode", "in.bmp", "x.bmp"}, 1},
                       {{"info", "in.bmp"}, 1},
                       {{"frobnicate"}, 2},
                       {{}, 2}};
    for (const auto& c : bad) {
        r = run(kBin / "wsqtool", c.args, d.path);
        EXPECT_EQ(r.status, c.status) << (c.args.empty() ? "" : c.args[0]);
    }
    EXPECT_EQ(d.names(), (std::set<std::string>{"in.bmp", "out.wsq", "back.bmp"}));
}

TEST(Wsqpack, RoundTripThroughTheSharedLibrary) {
    void* lib = dlopen((kBin / "libWSQPACK.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    auto compress = reinterpret_cast<WSQPACK_Compress_fn>(dlsym(lib, "WSQPACK_Compress"));
    auto uncompress = reinterpret_cast<WSQPACK_Uncompress_fn>(dlsym(lib, "WSQPACK_Uncompress"));
    auto release = reinterpret_cast<WSQPACK_Free_fn>(dlsym(lib, "WSQPACK_Free"));
    ASSERT_TRUE(compress && uncompress && release);
    EXPECT_EQ(dlsym(lib, "wsq_encode"), nullptr) << "only the three entry points are exported";

    const Image im = ridges(100, 80);
    unsigned char* wsq = nullptr;
    size_t n = 0;
    ASSERT_EQ(compress(im.px.data(), 100, 80, 500, 0.0, &wsq, &n), 0);
    unsigned char* px = nullptr;
    int w = 0, h = 0, ppi = 0;
    ASSERT_EQ(uncompress(wsq, n, &px, &w, &h, &ppi), 0);
    EXPECT_EQ(w, 100);
    EXPECT_EQ(h, 80);
    EXPECT_EQ(ppi, 500);
    EXPECT_GT(psnr(im.px, Bytes(px, px + 8000)), 28.0);
    release(px);
    EXPECT_LT(uncompress(wsq, n / 2, &px, &w, &h, &ppi), 0);
    EXPECT_EQ(px, nullptr);
    release(wsq);
    EXPECT_LT(compress(im.px.data(), -1, 80, 500, 0.75, &wsq, &n), 0);
    EXPECT_EQ(wsq, nullptr);
    release(nullptr);
    dlclose(lib);
}
