// The transaction library: the ten-print it builds against the reference transactions, the
// reader on public sample files and their NIST text dumps, and damaged files.
#include "an2k.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const fs::path kShared = STATION_SHARED_DIR;
const fs::path kAnsi = kShared / "fixtures" / "ansi-nist";
const fs::path kNbis = kShared / "fixtures" / "nbis";

#define REQUIRE_FIXTURES()                                                                         \
    do {                                                                                           \
        if (!fs::exists(kAnsi / "tenprint_2011.an2"))                                              \
            GTEST_SKIP() << "reference transactions not found beside the repository (" << kAnsi    \
                         << ")";                                                                   \
    } while (0)

std::vector<uint8_t> ReadBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// The prints and NFIQ values the reference ten-print transactions were made from.
const char* const kPrints[10] = {"fvc2000_db1_101_1", "fvc2000_db1_102_4", "fvc2000_db2_101_1",
                                 "fvc2000_db2_102_8", "fvc2000_db3_101_1", "fvc2002_db1_101_1",
                                 "fvc2002_db1_102_5", "fvc2004_db1_101_1", "fvc2004_db1_102_1",
                                 "fvc2002_db1_103_4"};
const int kNfiq[10] = {2, 1, 2, 1, 3, 2, 2, 2, 1, 2};

// The reference set with the reference transaction's header values.
an2k::Tenprint ReferenceSet(const std::string& tcn) {
    an2k::Tenprint t;
    t.dat = "20240315";
    t.gmt = "20240315101500Z";
    t.dai = "DEST00001";
    t.ori = "ORIG00001";
    t.tcn = tcn;
    t.fcd = "20240315";
    for (int i = 0; i < 10; ++i) {
        t.fingers[size_t(i)].wsq = ReadBytes(kNbis / (std::string(kPrints[i]) + ".wsq"));
        t.fingers[size_t(i)].nfiq = kNfiq[i];
    }
    return t;
}

an2k::Transaction Read(const std::vector<uint8_t>& bytes) {
    an2k::Transaction t;
    const an2k::Result r = an2k::read(bytes.data(), bytes.size(), t);
    EXPECT_TRUE(r) << r.message;
    return t;
}

// Lines of a text dump without the trailing unit separator NIST's dumper writes.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\x1F')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

} // namespace

// Built from the same prints and header values, both reference transactions (whole set, and
// finger 9 amputated) come out byte for byte: LENs, CNT, field order, tags and the image and
// amputated record layouts all agree with what NIST's reader accepted.
TEST(An2kTenprint, ReproducesTheReferenceTransactions) {
    REQUIRE_FIXTURES();
    for (const bool amputated : {false, true}) {
        SCOPED_TRACE(amputated ? "finger 9 amputated" : "whole set");
        an2k::Tenprint set = ReferenceSet(amputated ? "TCN20240315000002" : "TCN20240315000001");
        if (amputated) {
            set.fingers[8].amputated = true;
            set.fingers[8].wsq.clear();
        }
        an2k::Transaction t;
        ASSERT_TRUE(an2k::build_tenprint(set, t));
        std::vector<uint8_t> bytes;
        const an2k::Result r = an2k::write(t, bytes);
        ASSERT_TRUE(r) << r.message;
        const auto expected =
            ReadBytes(kAnsi / (amputated ? "tenprint_2011_amputated.an2" : "tenprint_2011.an2"));
        EXPECT_EQ(bytes.size(), expected.size());
        EXPECT_TRUE(bytes == expected);
    }
}

// What the writer wrote reads back as built: every field, every WSQ byte, and an amputated
// record without image fields.
TEST(An2kTenprint, ReadsBackEveryFieldAndImageByte) {
    REQUIRE_FIXTURES();
    an2k::Tenprint set = ReferenceSet("TCN1");
    set.imp = an2k::kImpLiveRolled;
    set.fingers[6].amputated = true;
    an2k::Transaction built;
    ASSERT_TRUE(an2k::build_tenprint(set, built));
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(an2k::write(built, bytes));
    const an2k::Transaction back = Read(bytes);
    ASSERT_EQ(back.records.size(), 12u);
    for (size_t r = 0; r < back.records.size(); ++r) {
        SCOPED_TRACE("record " + std::to_string(r + 1));
        const an2k::Record& got = back.records[r];
        const an2k::Record& want = built.records[r];
        ASSERT_EQ(got.type, want.type);
        // The writer adds LEN (and CNT in the Type-1); everything else is as built.
        std::vector<const an2k::Field*> rest;
        for (const auto& f : got.fields)
            if (f.number != 1 && !(got.type == 1 && f.number == 3))
                rest.push_back(&f);
        ASSERT_EQ(rest.size(), want.fields.size());
        for (size_t f = 0; f < rest.size(); ++f) {
            EXPECT_EQ(rest[f]->number, want.fields[f].number);
            EXPECT_EQ(rest[f]->binary, want.fields[f].binary);
            EXPECT_TRUE(rest[f]->value == want.fields[f].value) << "field " << rest[f]->number;
        }
    }
    const an2k::Record& seven = back.records[8];
    EXPECT_EQ(seven.find(13)->value, "7");
    EXPECT_EQ(seven.find(18)->value, "7\x1FXX");
    EXPECT_EQ(seven.find(999), nullptr);
    EXPECT_EQ(seven.find(6), nullptr);
    EXPECT_EQ(back.records[2].find(3)->value, "1");
    const auto& image = back.records[2].find(999)->value;
    EXPECT_TRUE(std::vector<uint8_t>(image.begin(), image.end()) == set.fingers[0].wsq);
}

TEST(An2kTenprint, RefusesValuesItCannotEncode) {
    an2k::Tenprint base;
    base.dat = base.fcd = "20240315";
    base.dai = "DEST00001";
    base.ori = "ORIG00001";
    base.tcn = "T1";
    for (auto& f : base.fingers)
        f.amputated = true;
    an2k::Transaction t;
    ASSERT_TRUE(an2k::build_tenprint(base, t));
    const struct {
        const char* name;
        void (*change)(an2k::Tenprint&);
    } cases[] = {
        {"separator in ORI",
         [](an2k::Tenprint& s) {
             s.ori = "ORIG\x1F"
                     "1";
         }},
        {"non-ASCII TCN", [](an2k::Tenprint& s) { s.tcn = "Mu\xC3\xB1oz"; }},
        {"empty DAI", [](an2k::Tenprint& s) { s.dai.clear(); }},
        {"bad date", [](an2k::Tenprint& s) { s.dat = "20241301"; }},
        {"bad GMT", [](an2k::Tenprint& s) { s.gmt = "20240315101500"; }},
        {"finger without WSQ", [](an2k::Tenprint& s) { s.fingers[2].amputated = false; }},
    };
    for (const auto& c : cases) {
        an2k::Tenprint s = base;
        c.change(s);
        const an2k::Result r = an2k::build_tenprint(s, t);
        EXPECT_EQ(r.code, an2k::kEInvalid) << c.name;
        EXPECT_FALSE(r.message.empty()) << c.name;
    }
}

// Every file of the fixtures parses, and the dump agrees with NIST's dump of it on every item:
// same positions, tags and values; images (NIST writes them to files) by position and tag.
TEST(An2kReader, DumpAgreesWithNistDumps) {
    REQUIRE_FIXTURES();
    for (const char* name : {"valid1.1", "valid1.8", "tenprint_2011", "tenprint_2011_amputated",
                             "tenprint_type4_legacy"}) {
        SCOPED_TRACE(name);
        const an2k::Transaction t = Read(ReadBytes(kAnsi / (std::string(name) + ".an2")));
        std::ifstream in(kAnsi / (std::string(name) + ".txt"), std::ios::binary);
        const auto nist = Lines(std::string(std::istreambuf_iterator<char>(in), {}));
        const auto ours = Lines(an2k::dump(t));
        ASSERT_EQ(ours.size(), nist.size());
        for (size_t i = 0; i < nist.size(); ++i) {
            const size_t eq = nist[i].find('=');
            ASSERT_NE(eq, std::string::npos);
            if (nist[i].compare(eq + 1, 4, "fld_") == 0) {
                EXPECT_EQ(ours[i].substr(0, eq + 1), nist[i].substr(0, eq + 1));
                EXPECT_NE(ours[i].find(" bytes, "), std::string::npos) << ours[i];
            } else {
                EXPECT_EQ(ours[i], nist[i]);
            }
        }
    }
}

// Images are taken by LEN, not by looking for separators: the WSQ of finger 1 holds FS, GS,
// RS and US bytes and still comes out whole.
TEST(An2kReader, ImageWithSeparatorBytesIsTakenWhole) {
    REQUIRE_FIXTURES();
    const an2k::Transaction t = Read(ReadBytes(kAnsi / "tenprint_2011.an2"));
    ASSERT_EQ(t.records.size(), 12u);
    const auto& image = t.records[2].find(999)->value;
    EXPECT_NE(image.find('\x1C'), std::string::npos);
    EXPECT_TRUE(std::vector<uint8_t>(image.begin(), image.end()) ==
                ReadBytes(kNbis / "fvc2000_db1_101_1.wsq"));
    EXPECT_NE(an2k::dump(t).find("3.15.1.1 [14.999]=<9030 bytes, WSQ20>"), std::string::npos);
}

namespace {

// A small transaction to damage: Type-1, Type-2 with a user field, Type-14 with 14.999.
std::string Small() {
    an2k::Transaction t;
    t.records.push_back({1,
                         {{2, "0502"},
                          {4, "CAR"},
                          {5, "20240315"},
                          {7, "D"},
                          {8, "O"},
                          {9, "T"},
                          {11, "00.00"},
                          {12, "00.00"}}});
    t.records.push_back({2,
                         {{2, "00"},
                          {3, "a\x1F"
                              "b\x1E"
                              "c"}}});
    t.records.push_back(
        {14, {{2, "01"}, {13, "1"}, {999, std::string("\xFF\xA0\x1C\x1D\xFF\xA1", 6), true}}});
    std::vector<uint8_t> bytes;
    const an2k::Result r = an2k::write(t, bytes);
    EXPECT_TRUE(r) << r.message;
    return std::string(bytes.begin(), bytes.end());
}

} // namespace

TEST(An2kReader, SmallTransactionRoundTrips) {
    const std::string s = Small();
    EXPECT_EQ(s.substr(0, 10), "1.001:115\x1D");
    const an2k::Transaction t = Read(std::vector<uint8_t>(s.begin(), s.end()));
    ASSERT_EQ(t.records.size(), 3u);
    EXPECT_EQ(t.records[0].find(3)->value, "1\x1F"
                                           "2\x1E"
                                           "2\x1F"
                                           "00\x1E"
                                           "14\x1F"
                                           "01");
    const auto subs = an2k::split(t.records[1].find(3)->value);
    ASSERT_EQ(subs.size(), 2u);
    EXPECT_EQ(subs[0], (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(subs[1], (std::vector<std::string>{"c"}));
    EXPECT_EQ(t.records[2].find(999)->value, std::string("\xFF\xA0\x1C\x1D\xFF\xA1", 6));
}

// Damaged files: each is refused with a message that names where, and nothing is read
// outside the buffer (the sanitizer builds run this too).
TEST(An2kReader, DamagedFilesAreRefusedWithTheirPlace) {
    const std::string good = Small();
    const size_t t2 = good.find("2.001:");
    const size_t t14 = good.find("14.001:");
    auto replace = [&](const std::string& from, const std::string& to) {
        std::string s = good;
        const size_t at = s.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return s.replace(at, from.size(), to);
    };
    // The same, for an edit inside the Type-1 record, with its LEN kept true.
    auto replace1 = [&](const std::string& from, const std::string& to) {
        std::string s = replace(from, to);
        const int len = 115 + int(to.size()) - int(from.size());
        return s.replace(0, 9, "1.001:" + std::to_string(len));
    };
    const std::string len2 = good.substr(t2 + 6, good.find('\x1D', t2) - t2 - 6);
    const std::string len14 = good.substr(t14 + 7, good.find('\x1D', t14) - t14 - 7);
    const struct {
        const char* name;
        std::string bytes;
        const char* where; // part of the message
    } cases[] = {
        {"empty file", "", "empty file"},
        {"Type-1 LEN one more", replace("1.001:115", "1.001:116"),
         "record 1 (Type-1), field 1.001"},
        {"Type-1 LEN one less", replace("1.001:115", "1.001:114"),
         "record 1 (Type-1), field 1.001"},
        {"Type-2 LEN wrong",
         replace("2.001:" + len2, "2.001:" + std::to_string(std::stoi(len2) - 1)),
         "record 2 (Type-2), field 2.001"},
        {"image LEN beyond the file", replace("14.001:" + len14, "14.001:9" + len14),
         "record 3 (Type-14), field 14.001"},
        {"huge LEN", replace("14.001:" + len14, "14.001:99999999999999999999"),
         "record 3 (Type-14), field 14.001"},
        {"huge field number", replace("2.003:", "2.99999999999:"), "record 2 (Type-2)"},
        {"missing GS between fields",
         replace("\x1D"
                 "1.004:",
                 "1.004:"),
         "record 1 (Type-1)"},
        {"GS instead of FS", replace("c\x1C", "c\x1D"), "record 2 (Type-2), field 2.001"},
        {"CNT count too high",
         replace("1\x1F"
                 "2\x1E",
                 "1\x1F"
                 "3\x1E"),
         "field 1.003"},
        {"CNT count huge",
         replace1("1\x1F"
                  "2\x1E",
                  "1\x1F"
                  "999999999\x1E"),
         "field 1.003"},
        {"CNT lists a wrong type",
         replace("\x1E"
                 "14\x1F",
                 "\x1E"
                 "15\x1F"),
         "record 3 (Type-15)"},
        {"IDC differs from CNT", replace("14.002:01", "14.002:02"),
         "record 3 (Type-14), field 14.002"},
        {"extra bytes after the last record", good + "x", "after the last record"},
        {"file cut in the image", good.substr(0, good.size() - 3),
         "record 3 (Type-14), field 14.001"},
        {"file cut before a record", good.substr(0, t14), "record 3 (Type-14)"},
        {"field tag of another type", replace("2.003:", "3.003:"),
         "record 2 (Type-2), field 2.003: tag names Type-3"},
        {"field twice", replace("2.003:", "2.002:"), "record 2 (Type-2), field 2.002"},
        {"VER not second", replace("1.002:", "1.006:"), "1.002"},
        {"not a transaction", std::string(100, '\0'), "record 1 (Type-1)"},
        {"binary Type-4 header cut",
         replace1("\x1E"
                  "14\x1F",
                  "\x1E"
                  "4\x1F"),
         "record 3 (Type-4)"},
    };
    for (const auto& c : cases) {
        an2k::Transaction t;
        const an2k::Result r =
            an2k::read(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size(), t);
        EXPECT_NE(r.code, an2k::kOk) << c.name;
        EXPECT_NE(r.message.find(c.where), std::string::npos) << c.name << ": " << r.message;
        EXPECT_TRUE(t.records.empty()) << c.name;
    }
}

TEST(An2kReader, LimitsAreEnforced) {
    const std::string s = Small();
    an2k::Transaction t;
    an2k::Limits few;
    few.max_records = 1;
    EXPECT_EQ(an2k::read(reinterpret_cast<const uint8_t*>(s.data()), s.size(), t, few).code,
              an2k::kELimit);
    an2k::Limits small;
    small.max_file = s.size() - 1;
    EXPECT_EQ(an2k::read(reinterpret_cast<const uint8_t*>(s.data()), s.size(), t, small).code,
              an2k::kELimit);
    an2k::Limits fields;
    fields.max_fields = 3;
    EXPECT_EQ(an2k::read(reinterpret_cast<const uint8_t*>(s.data()), s.size(), t, fields).code,
              an2k::kELimit);
}
