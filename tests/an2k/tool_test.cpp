// tenprint-an2k as a process: a saved set written, compared with the reference transaction
// NIST's reader accepted, dumped and extracted again; and its failures.
#include "RunProgram.h"
#include "an2k.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const fs::path kTool = fs::path(STATION_BIN_DIR) / "tenprint-an2k";
const fs::path kShared = STATION_SHARED_DIR;
const fs::path kAnsi = kShared / "fixtures" / "ansi-nist";

const char* const kPrints[10] = {"fvc2000_db1_101_1", "fvc2000_db1_102_4", "fvc2000_db2_101_1",
                                 "fvc2000_db2_102_8", "fvc2000_db3_101_1", "fvc2002_db1_101_1",
                                 "fvc2002_db1_102_5", "fvc2004_db1_101_1", "fvc2004_db1_102_1",
                                 "fvc2002_db1_103_4"};

std::string ReadText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

an2k::Transaction ReadTransaction(const fs::path& p) {
    const std::string bytes = ReadText(p);
    an2k::Transaction t;
    const an2k::Result r =
        an2k::read(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), t);
    EXPECT_TRUE(r) << p << ": " << r.message;
    return t;
}

class ToolTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string t = (fs::temp_directory_path() / "an2k-tool-XXXXXX").string();
        ASSERT_NE(mkdtemp(t.data()), nullptr);
        dir_ = t;
    }
    void TearDown() override { fs::remove_all(dir_); }

    // The reference prints as a saved set, finger 9 amputated as the station marks it (its
    // bitmap a copy of the amputation picture, its WSQ converted from that).
    fs::path ReferenceSet() {
        const fs::path set = dir_ / "set";
        fs::create_directories(set);
        for (int n = 1; n <= 10; ++n) {
            const std::string slot = "dedo" + std::to_string(n);
            const fs::path print = kShared / "fixtures" / "fingerprints" / kPrints[n - 1];
            const fs::path wsq = kShared / "fixtures" / "nbis" / kPrints[n - 1];
            fs::copy_file(n == 9 ? fs::path(STATION_BIN_DIR) / "Amputado.BMP"
                                 : fs::path(print.string() + ".bmp"),
                          set / (slot + ".bmp"));
            fs::copy_file(wsq.string() + ".wsq", set / (slot + ".wsq"));
        }
        return set;
    }

    fs::path dir_;
};

} // namespace

// The transaction written from the set equals the reference transaction (written from the
// same prints and checked with NIST's reader) field by field, NFIQ scores included, except
// the dates and the control number; extract gives the WSQ files back byte for byte.
TEST_F(ToolTest, WritesTheReferenceTransactionFromASavedSet) {
    if (!fs::exists(kAnsi / "tenprint_2011_amputated.an2"))
        GTEST_SKIP() << "reference transactions not found beside the repository (" << kAnsi << ")";
    const fs::path set = ReferenceSet();
    const auto w = testrun::run(kTool,
                                {"write", set.string(), "out.an2", "--ref", "R-17", "--ori",
                                 "ORIG00001", "--dai", "DEST00001"},
                                dir_);
    ASSERT_EQ(w.status, 0) << w.err;
    const an2k::Transaction ours = ReadTransaction(dir_ / "out.an2");
    const an2k::Transaction ref = ReadTransaction(kAnsi / "tenprint_2011_amputated.an2");
    ASSERT_EQ(ours.records.size(), ref.records.size());
    for (size_t r = 0; r < ref.records.size(); ++r) {
        const an2k::Record& a = ours.records[r];
        const an2k::Record& b = ref.records[r];
        ASSERT_EQ(a.type, b.type);
        ASSERT_EQ(a.fields.size(), b.fields.size()) << "record " << r + 1;
        for (size_t f = 0; f < b.fields.size(); ++f) {
            const int n = b.fields[f].number;
            ASSERT_EQ(a.fields[f].number, n) << "record " << r + 1;
            // Dates, control number and the Type-1 length that follows from them.
            const bool varies = (a.type == 1 && (n == 1 || n == 5 || n == 9 || n == 14)) ||
                                (a.type == 14 && n == 5);
            if (varies)
                continue;
            EXPECT_TRUE(a.fields[f].value == b.fields[f].value)
                << "record " << r + 1 << " field " << a.type << "." << n;
        }
    }
    EXPECT_EQ(ours.records[0].find(9)->value.rfind("R-17-", 0), 0u);
    EXPECT_EQ(ours.records[0].find(14)->value.size(), 15u);

    fs::create_directories(dir_ / "x");
    const auto x = testrun::run(kTool, {"extract", "out.an2", "x"}, dir_);
    ASSERT_EQ(x.status, 0) << x.err;
    for (int n = 1; n <= 10; ++n) {
        const std::string name = "dedo" + std::to_string(n) + ".wsq";
        EXPECT_EQ(fs::exists(dir_ / "x" / name), n != 9) << name;
        if (n != 9)
            EXPECT_TRUE(ReadText(dir_ / "x" / name) == ReadText(set / name)) << name;
    }

    const auto d = testrun::run(kTool, {"dump", "out.an2"}, dir_);
    ASSERT_EQ(d.status, 0) << d.err;
    EXPECT_NE(d.out.find("11.7.1.2 [14.018]=XX\n"), std::string::npos);
    EXPECT_NE(d.out.find("3.15.1.1 [14.999]=<9030 bytes, WSQ20>\n"), std::string::npos);
}

TEST_F(ToolTest, FailuresNameTheirCauseAndWriteNothing) {
    fs::create_directories(dir_ / "empty");
    {
        std::ofstream(dir_ / "bad.an2", std::ios::binary) << "1.001:99\x1D"
                                                             "1.002:0502\x1C";
    }
    const struct {
        std::vector<std::string> args;
        int status;
        const char* message;
    } cases[] = {
        {{"write", "empty", "out.an2"}, 1, "slot 1"},
        {{"dump", "bad.an2"}, 1, "record 1 (Type-1), field 1.001"},
        {{"dump", "missing.an2"}, 1, "missing.an2"},
        {{"extract", "bad.an2", "empty"}, 1, "record 1 (Type-1)"},
        {{"write", "empty"}, 2, "usage"},
        {{"write", "empty", "out.an2", "--imp", "7"}, 2, "usage"},
        {{"convert", "a", "b"}, 2, "usage"},
    };
    for (const auto& c : cases) {
        const auto r = testrun::run(kTool, c.args, dir_);
        EXPECT_EQ(r.status, c.status) << c.args[0];
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args[0] << ": " << r.err;
    }
    EXPECT_FALSE(fs::exists(dir_ / "out.an2"));
    EXPECT_TRUE(fs::is_empty(dir_ / "empty"));
}
