// ANSI/NIST-ITL 1-2011 transactions in the traditional encoding: a reader for files of tagged
// records (Type-1, Type-2, Type-9 and up, among them Type-14) and binary Type-4 records, a
// writer for tagged records, and the ten-print transaction the station exports (Type-1,
// Type-2, one Type-14 per finger with the whole WSQ file in field 14.999).
//
// Functions return a Result: code kOk (0) or a negative k* code, and one line of text that
// names the record (position in the file and type) and the field of a failure. The reader
// bounds everything it reads by Limits and by the data itself; it never reads past the
// buffer and never trusts a length it has not checked against the bytes that follow.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace an2k {

// Information separators of the traditional encoding.
constexpr uint8_t kFS = 0x1C; // ends a record
constexpr uint8_t kGS = 0x1D; // between fields
constexpr uint8_t kRS = 0x1E; // between subfields
constexpr uint8_t kUS = 0x1F; // between items

enum Code {
    kOk = 0,
    kEInvalid = -1, // a value the writer cannot encode (bad text byte, bad field number ...)
    kEFormat = -2,  // damaged or unsupported file structure
    kELimit = -3,   // a size beyond Limits
};

struct Result {
    int code = kOk;
    std::string message; // empty when code is kOk
    explicit operator bool() const { return code == kOk; }
};

// One field. A text value keeps its subfields and items joined by RS and US as in the file;
// split() takes them apart. A binary value (field 999 of a tagged record, 4.009 of a Type-4
// record) holds the raw bytes.
struct Field {
    int number = 0;
    std::string value;
    bool binary = false;
};

struct Record {
    int type = 0;
    std::vector<Field> fields; // in file order, LEN first
    const Field* find(int number) const;
};

struct Transaction {
    std::vector<Record> records; // Type-1 first, then the others in file (= CNT) order
};

struct Limits {
    size_t max_file = size_t(1) << 30; // bytes of a whole transaction
    size_t max_records = 1000;         // records after the Type-1 (CNT allows 999)
    size_t max_fields = 1000;          // fields in one record
};

// Reads a whole transaction. The file must start with the Type-1 record, hold exactly the
// records its CNT field lists, with the types listed there, each record's IDC equal to the
// one listed, and nothing after the last record. Every LEN must match the bytes of its record
// (a tagged record ends with FS exactly at LEN; field 999 runs up to that FS, so separator
// bytes inside image data are no problem). Field tags are "T.N:" with the record's type T and
// 1 to 9 digits of N (1..999), each number once a record; 999 must be the last field.
// Type-4 is the only binary record type read; Types 3 and 5 to 8 are refused.
Result read(const uint8_t* data, size_t size, Transaction& out, const Limits& limits = Limits());

// Encodes a transaction of tagged records. Each record's LEN is computed (a given xx.001 is
// replaced) and written first; the Type-1's CNT is built from the record list and written
// right after VER (a given 1.003 is replaced). Other fields keep their order. Every record
// after the Type-1 needs its IDC in field 2 (0..99). Text values may hold bytes 0x20..0x7E
// and the RS/US separators between subfields and items; only field 999 may be binary, as
// the last field of its record.
Result write(const Transaction& t, std::vector<uint8_t>& out);

// Subfields (split on RS) of a text value, each as its items (split on US). An empty value
// is one subfield with one empty item.
std::vector<std::vector<std::string>> split(const std::string& value);

// One line a information item, "R.F.S.I [T.NNN]=value" with 1-based positions of record,
// field, subfield and item and the type and field number in brackets; binary data is shown
// as "<N bytes, ALGORITHM>" with the record's compression (CGA, or Type-4 GCA by name), and
// bytes outside 0x20..0x7E in text as \xNN.
std::string dump(const Transaction& t);

// ---- The station's ten-print transaction -------------------------------------------------

// Impression types (IMP) written for a ten-print.
constexpr int kImpLivePlain = 0;
constexpr int kImpLiveRolled = 1;

struct Finger {
    std::vector<uint8_t> wsq; // the whole WSQ file; ignored for an amputated finger
    int nfiq = 0;             // NFIQ 1.0 score 1..5; 254 = not computed, 255 = failed
    bool amputated = false;
};

struct Tenprint {
    std::string tot = "CAR"; // type of transaction (set by the receiving agency)
    std::string dat;         // YYYYMMDD, date of the transaction
    std::string gmt;         // YYYYMMDDHHMMSSZ, or empty to leave 1.014 out
    std::string dai;         // destination agency
    std::string ori;         // originating agency, also written as each Type-14's SRC
    std::string tcn;         // transaction control number
    std::string fcd;         // YYYYMMDD, capture date of the prints
    int imp = kImpLivePlain;
    std::array<Finger, 10> fingers; // finger positions 1..10
};

// Builds the transaction: Type-1 (VER 0502, NSR/NTR 00.00 as for image records of Type-14
// only), Type-2 with LEN and IDC 00, and for finger n a Type-14 with IDC and FGP n. An image
// record carries IMP, SRC, FCD, HLL/VLL (read from the WSQ frame), SLC 1, THPS/TVPS (the
// WSQ's PPI, 500 when it does not say), CGA WSQ20, BPX 8, FGP, NQM "n<US>score" and the WSQ
// in 14.999; an amputated finger's record carries IMP, SRC, FCD, FGP and AMP "n<US>XX" and no
// image. Text values must be non-empty printable ASCII without separators.
Result build_tenprint(const Tenprint& in, Transaction& out);

} // namespace an2k
