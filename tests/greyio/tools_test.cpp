// The command-line tools as an integrator meets them: every tool accepts and refuses the
// same BMP files (one reader), and all share the conventions of --help and exit statuses.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>

#include "RunProgram.h"
#include "greyio.h"

namespace fs = std::filesystem;
using testrun::run;

namespace {

using Bytes = std::vector<uint8_t>;
const fs::path kBin = STATION_BIN_DIR;

void write_file(const fs::path& p, const Bytes& b) {
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

Bytes read_file(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void set32(Bytes& b, size_t i, uint32_t v) {
    for (int k = 0; k < 4; ++k)
        b[i + k] = uint8_t(v >> (8 * k));
}

// A print-like pattern large enough for both WSQ and NFIQ: rings of ridges.
constexpr uint32_t kSide = 160;
Bytes print_bmp() {
    Bytes px(kSide * kSide);
    for (uint32_t y = 0; y < kSide; ++y)
        for (uint32_t x = 0; x < kSide; ++x) {
            const double r = std::hypot(x - 80.0, y - 70.0);
            px[y * kSide + x] = uint8_t(128 + 100 * std::sin(r * 0.7));
        }
    uint8_t* out = nullptr;
    size_t n = 0;
    EXPECT_EQ(greyio_bmp_encode(px.data(), kSide, kSide, 500, &out, &n), GREYIO_OK);
    Bytes b(out, out + n);
    std::free(out);
    return b;
}

// What each tool makes of one BMP: exit statuses and, when accepted, the WSQ bytes and
// the NFIQ line (without the file name).
struct Verdicts {
    int bmp2wsq, encode, nfiq;
    Bytes wsq;
    std::string score;
};

Verdicts judge(const Bytes& bmp) {
    testrun::ScratchDir d;
    write_file(d.path / "in.bmp", bmp);
    Verdicts v;
    v.bmp2wsq = run(kBin / "BMP2WSQ", {"in.bmp", "a.wsq"}, d.path).status;
    v.encode = run(kBin / "wsqtool", {"encode", "in.bmp", "b.wsq"}, d.path).status;
    const auto n = run(kBin / "nfiqtool", {"in.bmp"}, d.path);
    v.nfiq = n.status;
    v.score = n.out.substr(n.out.find('\t') == std::string::npos ? 0 : n.out.find('\t'));
    if (v.bmp2wsq == 0)
        v.wsq = read_file(d.path / "a.wsq");
    if (v.encode == 0)
        EXPECT_EQ(read_file(d.path / "b.wsq"), v.wsq) << "BMP2WSQ and wsqtool encode differ";
    return v;
}

} // namespace

TEST(ToolsReadBmp, EveryToolAcceptsAndRefusesTheSameFiles) {
    const Bytes plain = print_bmp();
    const Verdicts ref = judge(plain);
    ASSERT_EQ(ref.bmp2wsq, 0);
    ASSERT_EQ(ref.nfiq, 0);
    struct Case {
        const char* name;
        std::function<void(Bytes&)> edit;
        bool accepted; // accepted files must give the same WSQ and score as the plain one
    };
    const size_t row = kSide; // 160 is a multiple of 4: no row padding
    const Case cases[] = {
        {"rows stored top first",
         [&](Bytes& b) {
             set32(b, 22, uint32_t(-int32_t(kSide)));
             Bytes flipped(b.begin() + 1078, b.end());
             for (uint32_t y = 0; y < kSide; ++y)
                 std::memcpy(&b[1078 + y * row], &flipped[(kSide - 1 - y) * row], row);
         },
         true},
        {"inverted grey palette",
         [](Bytes& b) {
             for (int i = 0; i < 256; ++i)
                 std::memset(&b[54 + 4 * i], 255 - i, 3);
             for (size_t i = 1078; i < b.size(); ++i)
                 b[i] = uint8_t(255 - b[i]);
         },
         true},
        {"colour palette", [](Bytes& b) { b[54 + 4 * 200] ^= 0x40; }, false},
        {"24 bits a pixel", [](Bytes& b) { b[28] = 24; }, false},
        {"compressed", [](Bytes& b) { set32(b, 30, 1); }, false},
        {"cut short", [](Bytes& b) { b.resize(b.size() / 2); }, false},
        {"not a BMP", [](Bytes& b) { b[0] = 'P'; }, false},
    };
    for (const auto& c : cases) {
        Bytes b = plain;
        c.edit(b);
        const Verdicts v = judge(b);
        const int expect = c.accepted ? 0 : 1;
        EXPECT_EQ(v.bmp2wsq, expect) << c.name;
        EXPECT_EQ(v.encode, expect) << c.name;
        EXPECT_EQ(v.nfiq, expect) << c.name;
        if (c.accepted) {
            EXPECT_EQ(v.wsq, ref.wsq) << c.name;
            EXPECT_EQ(v.score, ref.score) << c.name;
        }
    }
}

TEST(ToolsCommandLine, HelpOnStdoutAndUsageErrorsExitTwo) {
    struct Case {
        const char* tool;
        std::vector<std::string> args;
        int status; // 0: usage on stdout, nothing on stderr; 2: usage error on stderr
    };
    const Case cases[] = {
        {"BMP2WSQ", {"-h"}, 0},
        {"BMP2WSQ", {"--help"}, 0},
        {"wsqtool", {"--help"}, 0},
        {"wsqtool", {"encode", "-h"}, 0},
        {"nfiqtool", {"-h"}, 0},
        {"nfiqtool", {"-v", "--help"}, 0},
        {"BMP2WSQ", {}, 2},
        {"BMP2WSQ", {"in.bmp"}, 2},
        {"wsqtool", {}, 2},
        {"wsqtool", {"frobnicate"}, 2},
        {"wsqtool", {"encode", "-r", "9", "in.bmp", "out.wsq"}, 2},
        {"wsqtool", {"encode", "-r", "", "in.bmp", "out.wsq"}, 2},
        {"wsqtool", {"encode", "-r"}, 2},
        {"wsqtool", {"decode", "in.wsq"}, 2},
        {"nfiqtool", {}, 2},
        {"nfiqtool", {"-q", "in.bmp"}, 2},
    };
    testrun::ScratchDir d;
    for (const auto& c : cases) {
        std::string what = c.tool;
        for (const auto& a : c.args)
            what += " " + a;
        const auto r = run(kBin / c.tool, c.args, d.path);
        EXPECT_EQ(r.status, c.status) << what;
        const std::string& usage = c.status == 0 ? r.out : r.err;
        EXPECT_NE(usage.find("usage: "), std::string::npos) << what;
        EXPECT_EQ(c.status == 0 ? r.err : r.out, "") << what;
    }
    EXPECT_TRUE(fs::is_empty(d.path)) << "no tool wrote a file";
}
