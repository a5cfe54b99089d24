// Reader, writer and ten-print builder of an2k.h.
#include "an2k.h"

#include "wsq.h"

#include <algorithm>
#include <cstdio>
#include <set>

namespace an2k {

const Field* Record::find(int number) const {
    for (const Field& f : fields)
        if (f.number == number)
            return &f;
    return nullptr;
}

namespace {

std::string RecordName(size_t position, int type) {
    return "record " + std::to_string(position) + " (Type-" + std::to_string(type) + ")";
}

std::string FieldName(int type, int number) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "field %d.%03d", type, number);
    return buf;
}

Result Fail(int code, std::string message) {
    return Result{code, std::move(message)};
}

// Parses an unsigned decimal of 1..max_digits digits; false on anything else.
bool ParseUnsigned(const std::string& s, size_t max_digits, uint64_t& value) {
    if (s.empty() || s.size() > max_digits)
        return false;
    value = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + uint64_t(c - '0');
    }
    return true;
}

// ---- Reader ------------------------------------------------------------------------------

class Reader {
  public:
    Reader(const uint8_t* data, size_t size, const Limits& limits)
        : data_(data), size_(size), limits_(limits) {}

    Result Run(Transaction& out) {
        out.records.clear();
        if (size_ == 0)
            return Fail(kEFormat, "empty file: no Type-1 record");
        if (size_ > limits_.max_file)
            return Fail(kELimit, "file of " + std::to_string(size_) + " bytes, more than " +
                                     std::to_string(limits_.max_file) + " allowed");
        Record type1;
        size_t pos = 0;
        if (Result r = ReadTagged(pos, 1, 1, type1); !r)
            return r;
        if (type1.fields.size() < 2 || type1.fields[1].number != 2)
            return Fail(kEFormat, "record 1 (Type-1): field 1.002 (VER) is not the second field");
        const Field* cnt = type1.find(3);
        if (!cnt)
            return Fail(kEFormat, "record 1 (Type-1): field 1.003 (CNT) missing");
        const auto subfields = split(cnt->value);
        uint64_t frc = 0, crc = 0;
        if (subfields[0].size() != 2 || !ParseUnsigned(subfields[0][0], 9, frc) || frc != 1 ||
            !ParseUnsigned(subfields[0][1], 9, crc))
            return Fail(kEFormat, "record 1 (Type-1), field 1.003 (CNT): first subfield is not "
                                  "\"1<US>count\"");
        if (crc != subfields.size() - 1)
            return Fail(kEFormat, "record 1 (Type-1), field 1.003 (CNT): count " +
                                      std::to_string(crc) + " but " +
                                      std::to_string(subfields.size() - 1) + " records listed");
        if (crc > limits_.max_records)
            return Fail(kELimit, "record 1 (Type-1), field 1.003 (CNT): " + std::to_string(crc) +
                                     " records, more than " + std::to_string(limits_.max_records) +
                                     " allowed");
        out.records.push_back(std::move(type1));
        for (size_t i = 1; i < subfields.size(); ++i) {
            const auto& s = subfields[i];
            uint64_t type = 0, idc = 0;
            if (s.size() != 2 || !ParseUnsigned(s[0], 2, type) || !ParseUnsigned(s[1], 2, idc) ||
                type < 2)
                return Fail(kEFormat, "record 1 (Type-1), field 1.003 (CNT): subfield " +
                                          std::to_string(i + 1) + " is not \"record type<US>IDC\"");
            const size_t position = i + 1;
            if (pos >= size_)
                return Fail(kEFormat, RecordName(position, int(type)) +
                                          ": listed in CNT but the file ends before it");
            Record rec;
            Result r;
            if (type == 4)
                r = ReadType4(pos, position, rec);
            else if (type == 2 || type >= 9)
                r = ReadTagged(pos, position, int(type), rec);
            else
                r = Fail(kEFormat,
                         RecordName(position, int(type)) + ": binary record type not supported");
            if (!r)
                return r;
            // IDC as listed in CNT.
            const Field* f = rec.find(2);
            uint64_t own = 0;
            if (!f || !ParseUnsigned(f->value, 2, own))
                return Fail(kEFormat, RecordName(position, int(type)) + ", " +
                                          FieldName(int(type), 2) + " (IDC): missing or not 0..99");
            if (own != idc)
                return Fail(kEFormat, RecordName(position, int(type)) + ", " +
                                          FieldName(int(type), 2) + " (IDC): " + f->value +
                                          " but CNT lists " + s[1]);
            out.records.push_back(std::move(rec));
        }
        if (pos != size_)
            return Fail(kEFormat, std::to_string(size_ - pos) + " bytes after the last record (" +
                                      RecordName(out.records.size(), out.records.back().type) +
                                      ")");
        return {};
    }

  private:
    // Reads "T.N:" at p (within [p, end)); fills type and number and moves p past the colon.
    bool ReadTag(size_t& p, size_t end, uint64_t& type, uint64_t& number) {
        size_t q = p;
        auto digits = [&](uint64_t& v, size_t max) {
            size_t n = 0;
            v = 0;
            while (q < end && data_[q] >= '0' && data_[q] <= '9' && n < max) {
                v = v * 10 + uint64_t(data_[q] - '0');
                ++q;
                ++n;
            }
            return n > 0;
        };
        if (!digits(type, 9) || q >= end || data_[q] != '.')
            return false;
        ++q;
        if (!digits(number, 9) || q >= end || data_[q] != ':')
            return false;
        p = q + 1;
        return true;
    }

    Result ReadTagged(size_t& pos, size_t position, int type, Record& rec) {
        const std::string where = RecordName(position, type);
        rec.type = type;
        rec.fields.clear();
        // LEN comes first: its tag, then digits up to the first separator.
        size_t p = pos;
        uint64_t t = 0, n = 0;
        if (!ReadTag(p, size_, t, n))
            return Fail(kEFormat, where + ": does not start with a field tag");
        if (t != uint64_t(type))
            return Fail(kEFormat, where + ": starts with a tag of Type-" + std::to_string(t) +
                                      " (CNT lists Type-" + std::to_string(type) + ")");
        if (n != 1)
            return Fail(kEFormat,
                        where + ": first field is " + FieldName(type, int(n)) + ", not LEN");
        size_t q = p;
        while (q < size_ && q - p <= 10 && data_[q] >= '0' && data_[q] <= '9')
            ++q;
        uint64_t len = 0;
        const std::string digits(reinterpret_cast<const char*>(data_ + p), q - p);
        if (!ParseUnsigned(digits, 10, len) || q >= size_ || (data_[q] != kGS && data_[q] != kFS))
            return Fail(kEFormat, where + ", " + FieldName(type, 1) +
                                      " (LEN): not a number ended by a separator");
        if (len < q + 1 - pos)
            return Fail(kEFormat, where + ", " + FieldName(type, 1) + " (LEN): " + digits +
                                      " is shorter than the LEN field itself");
        if (len > size_ - pos)
            return Fail(kEFormat, where + ", " + FieldName(type, 1) + " (LEN): " + digits +
                                      " bytes but only " + std::to_string(size_ - pos) +
                                      " left in the file");
        const size_t end = pos + size_t(len) - 1; // the FS that ends the record
        if (data_[end] != kFS)
            return Fail(kEFormat, where + ", " + FieldName(type, 1) + " (LEN): " + digits +
                                      " does not end at a FS separator");
        std::set<int> seen;
        size_t f = pos;
        while (true) {
            if (rec.fields.size() >= limits_.max_fields)
                return Fail(kELimit, where + ": more than " + std::to_string(limits_.max_fields) +
                                         " fields");
            size_t v = f;
            if (!ReadTag(v, end, t, n))
                return Fail(
                    kEFormat,
                    where + ": no field tag at byte " + std::to_string(f - pos) + " of the record" +
                        (rec.fields.empty()
                             ? std::string()
                             : " (after " + FieldName(type, rec.fields.back().number) + ")"));
            if (n < 1 || n > 999)
                return Fail(kEFormat,
                            where + ": field number " + std::to_string(n) + " out of 1..999");
            const std::string fname = where + ", " + FieldName(type, int(n));
            if (t != uint64_t(type))
                return Fail(kEFormat, fname + ": tag names Type-" + std::to_string(t));
            if (!seen.insert(int(n)).second)
                return Fail(kEFormat, fname + ": appears twice");
            if (rec.fields.empty() != (n == 1))
                return Fail(kEFormat, fname + ": LEN is not the first field");
            Field field;
            field.number = int(n);
            size_t stop;
            if (n == 999) {
                stop = end; // binary: everything up to the record's FS
                field.binary = true;
            } else {
                stop = v;
                while (stop < end && data_[stop] != kGS && data_[stop] != kFS)
                    ++stop;
                if (stop < end && data_[stop] == kFS)
                    return Fail(kEFormat, fname + ": FS before the end of the record given by "
                                                  "LEN");
            }
            field.value.assign(reinterpret_cast<const char*>(data_ + v), stop - v);
            rec.fields.push_back(std::move(field));
            if (stop == end)
                break;
            f = stop + 1; // past the GS
        }
        pos = end + 1;
        return {};
    }

    Result ReadType4(size_t& pos, size_t position, Record& rec) {
        const std::string where = RecordName(position, 4);
        rec.type = 4;
        rec.fields.clear();
        const size_t left = size_ - pos;
        if (left < 18)
            return Fail(kEFormat, where + ": only " + std::to_string(left) +
                                      " bytes left for its 18-byte header");
        const uint8_t* h = data_ + pos;
        const uint32_t len =
            uint32_t(h[0]) << 24 | uint32_t(h[1]) << 16 | uint32_t(h[2]) << 8 | h[3];
        if (len < 18)
            return Fail(kEFormat, where + ", field 4.001 (LEN): " + std::to_string(len) +
                                      " is shorter than the header");
        if (len > left)
            return Fail(kEFormat, where + ", field 4.001 (LEN): " + std::to_string(len) +
                                      " bytes but only " + std::to_string(left) +
                                      " left in the file");
        auto add = [&](int number, std::string value) {
            rec.fields.push_back(Field{number, std::move(value), false});
        };
        add(1, std::to_string(len));
        add(2, std::to_string(h[4]));
        add(3, std::to_string(h[5]));
        std::string fgp;
        for (int i = 0; i < 6; ++i) {
            if (i)
                fgp += char(kUS);
            fgp += std::to_string(h[6 + i]);
        }
        add(4, fgp);
        add(5, std::to_string(h[12]));
        add(6, std::to_string(uint32_t(h[13]) << 8 | h[14]));
        add(7, std::to_string(uint32_t(h[15]) << 8 | h[16]));
        add(8, std::to_string(h[17]));
        rec.fields.push_back(
            Field{9, std::string(reinterpret_cast<const char*>(h + 18), len - 18), true});
        pos += len;
        return {};
    }

    const uint8_t* data_;
    size_t size_;
    Limits limits_;
};

// ---- Writer ------------------------------------------------------------------------------

bool TextOk(const std::string& s) {
    for (unsigned char c : s)
        if ((c < 0x20 || c > 0x7E) && c != kRS && c != kUS)
            return false;
    return true;
}

size_t Digits(size_t n) {
    size_t d = 1;
    while (n >= 10) {
        n /= 10;
        ++d;
    }
    return d;
}

std::string Tag(int type, int number) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%d.%03d:", type, number);
    return buf;
}

// Appends a tagged record: LEN, then the fields, GS between, FS at the end.
void AppendRecord(int type, const std::vector<const Field*>& fields, std::vector<uint8_t>& out) {
    std::string body;
    for (const Field* f : fields) {
        body += char(kGS);
        body += Tag(type, f->number);
        body += f->value;
    }
    body += char(kFS);
    const std::string prefix = Tag(type, 1);
    size_t d = 1, n = 0;
    while (true) {
        n = prefix.size() + d + body.size();
        if (Digits(n) == d)
            break;
        d = Digits(n);
    }
    const std::string head = prefix + std::to_string(n);
    out.insert(out.end(), head.begin(), head.end());
    out.insert(out.end(), body.begin(), body.end());
}

} // namespace

Result read(const uint8_t* data, size_t size, Transaction& out, const Limits& limits) {
    Reader reader(data, size, limits);
    Result r = reader.Run(out);
    if (!r)
        out.records.clear();
    return r;
}

std::vector<std::vector<std::string>> split(const std::string& value) {
    std::vector<std::vector<std::string>> subs(1, std::vector<std::string>(1));
    for (char c : value) {
        if (uint8_t(c) == kRS)
            subs.emplace_back(1);
        else if (uint8_t(c) == kUS)
            subs.back().emplace_back();
        else
            subs.back().back() += c;
    }
    return subs;
}

Result write(const Transaction& t, std::vector<uint8_t>& out) {
    out.clear();
    if (t.records.empty() || t.records[0].type != 1)
        return Fail(kEInvalid, "the first record must be the Type-1 record");
    if (t.records.size() - 1 > 999)
        return Fail(kEInvalid, "more than 999 records after the Type-1");
    std::string cnt = "1" + std::string(1, char(kUS)) + std::to_string(t.records.size() - 1);
    for (size_t i = 0; i < t.records.size(); ++i) {
        const Record& rec = t.records[i];
        const std::string where = RecordName(i + 1, rec.type);
        if (rec.type < 1 || rec.type > 99 || (i > 0 && rec.type != 2 && rec.type < 9))
            return Fail(kEInvalid,
                        where + ": only tagged records (Types 1, 2, 9..99) can be written");
        if (i > 0 && rec.type == 1)
            return Fail(kEInvalid, where + ": a second Type-1 record");
        std::set<int> seen;
        for (size_t k = 0; k < rec.fields.size(); ++k) {
            const Field& f = rec.fields[k];
            const std::string fname = where + ", " + FieldName(rec.type, f.number);
            if (f.number < 1 || f.number > 999)
                return Fail(kEInvalid, where + ": field number " + std::to_string(f.number) +
                                           " out of 1..999");
            if (!seen.insert(f.number).second)
                return Fail(kEInvalid, fname + ": appears twice");
            if (f.number == 999) {
                if (rec.type == 1)
                    return Fail(kEInvalid, fname + ": no image field in a Type-1 record");
                // Last of the fields written (LEN and CNT are placed before it).
                if (k + 1 != rec.fields.size())
                    return Fail(kEInvalid, fname + ": must be the last field");
            } else if (f.binary || !TextOk(f.value)) {
                return Fail(kEInvalid, fname + ": text holds a byte outside 0x20..0x7E");
            }
        }
        if (i > 0) {
            const Field* idc = rec.find(2);
            uint64_t v = 0;
            if (!idc || !ParseUnsigned(idc->value, 2, v))
                return Fail(kEInvalid, where + ": IDC (field 2) missing or not 0..99");
            cnt += char(kRS) + std::to_string(rec.type) + char(kUS) + idc->value;
        } else if (!rec.find(2)) {
            return Fail(kEInvalid, where + ": VER (1.002) missing");
        }
    }
    const Field cnt_field{3, cnt, false};
    for (size_t i = 0; i < t.records.size(); ++i) {
        const Record& rec = t.records[i];
        std::vector<const Field*> fields;
        if (rec.type == 1) {
            fields.push_back(rec.find(2));
            fields.push_back(&cnt_field);
        }
        for (const Field& f : rec.fields)
            if (f.number != 1 && !(rec.type == 1 && (f.number == 2 || f.number == 3)))
                fields.push_back(&f);
        AppendRecord(rec.type, fields, out);
    }
    return {};
}

std::string dump(const Transaction& t) {
    static const char* const kGca[] = {"NONE", "WSQ20", "JPEGB", "JPEGL", "JP2", "JP2L", "PNG"};
    std::string text;
    char buf[96];
    for (size_t r = 0; r < t.records.size(); ++r) {
        const Record& rec = t.records[r];
        std::string algorithm = "unknown";
        if (rec.type == 4) {
            const Field* g = rec.find(8);
            uint64_t v = 0;
            if (g && ParseUnsigned(g->value, 3, v))
                algorithm = v < 7 ? kGca[v] : "GCA " + g->value;
        } else if (const Field* c = rec.find(11); c && rec.type >= 10) {
            algorithm = c->value;
        }
        for (size_t f = 0; f < rec.fields.size(); ++f) {
            const Field& field = rec.fields[f];
            std::snprintf(buf, sizeof buf, "%zu.%zu.", r + 1, f + 1);
            const std::string pos = buf;
            std::snprintf(buf, sizeof buf, " [%d.%03d]=", rec.type, field.number);
            const std::string tag = buf;
            if (field.binary) {
                text += pos + "1.1" + tag + "<" + std::to_string(field.value.size()) + " bytes, ";
                for (unsigned char c : algorithm)
                    if (c >= 0x20 && c <= 0x7E)
                        text += char(c);
                text += ">\n";
                continue;
            }
            const auto subs = split(field.value);
            for (size_t s = 0; s < subs.size(); ++s)
                for (size_t i = 0; i < subs[s].size(); ++i) {
                    text += pos + std::to_string(s + 1) + "." + std::to_string(i + 1) + tag;
                    for (unsigned char c : subs[s][i]) {
                        if (c >= 0x20 && c <= 0x7E && c != '\\') {
                            text += char(c);
                        } else {
                            std::snprintf(buf, sizeof buf, "\\x%02X", c);
                            text += buf;
                        }
                    }
                    text += '\n';
                }
        }
    }
    return text;
}

// ---- Ten-print ---------------------------------------------------------------------------

namespace {

bool PlainText(const std::string& s) {
    if (s.empty())
        return false;
    for (unsigned char c : s)
        if (c < 0x20 || c > 0x7E)
            return false;
    return true;
}

bool DateOk(const std::string& s) {
    uint64_t v = 0;
    if (s.size() != 8 || !ParseUnsigned(s, 8, v))
        return false;
    const int month = int(v / 100 % 100), day = int(v % 100);
    return month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

} // namespace

Result build_tenprint(const Tenprint& in, Transaction& out) {
    out.records.clear();
    const struct {
        const char* name;
        const std::string& value;
    } texts[] = {{"TOT", in.tot}, {"DAI", in.dai}, {"ORI", in.ori}, {"TCN", in.tcn}};
    for (const auto& t : texts)
        if (!PlainText(t.value))
            return Fail(kEInvalid,
                        std::string(t.name) + " must be non-empty printable ASCII (0x20..0x7E)");
    if (!DateOk(in.dat))
        return Fail(kEInvalid, "DAT is not a date YYYYMMDD: " + in.dat);
    if (!DateOk(in.fcd))
        return Fail(kEInvalid, "FCD is not a date YYYYMMDD: " + in.fcd);
    uint64_t g = 0;
    if (!in.gmt.empty() &&
        (in.gmt.size() != 15 || in.gmt[14] != 'Z' || !ParseUnsigned(in.gmt.substr(0, 14), 14, g)))
        return Fail(kEInvalid, "GMT is not YYYYMMDDHHMMSSZ: " + in.gmt);
    if (in.imp < 0 || in.imp > 29)
        return Fail(kEInvalid, "IMP " + std::to_string(in.imp) + " out of 0..29");

    const std::string us(1, char(kUS));
    Record t1{1, {}};
    auto add = [](Record& r, int number, std::string value) {
        r.fields.push_back(Field{number, std::move(value), false});
    };
    add(t1, 2, "0502");
    add(t1, 4, in.tot);
    add(t1, 5, in.dat);
    add(t1, 7, in.dai);
    add(t1, 8, in.ori);
    add(t1, 9, in.tcn);
    add(t1, 11, "00.00");
    add(t1, 12, "00.00");
    if (!in.gmt.empty())
        add(t1, 14, in.gmt);
    out.records.push_back(std::move(t1));
    Record t2{2, {}};
    add(t2, 2, "00");
    out.records.push_back(std::move(t2));

    for (int n = 1; n <= 10; ++n) {
        const Finger& finger = in.fingers[size_t(n - 1)];
        char idc[4];
        std::snprintf(idc, sizeof idc, "%02d", n);
        Record rec{14, {}};
        add(rec, 2, idc);
        add(rec, 3, std::to_string(in.imp));
        add(rec, 4, in.ori);
        add(rec, 5, in.fcd);
        if (finger.amputated) {
            add(rec, 13, std::to_string(n));
            add(rec, 18, std::to_string(n) + us + "XX");
        } else {
            const std::string where = "finger " + std::to_string(n);
            wsq_info info;
            const int rc = wsq_read_info(finger.wsq.data(), finger.wsq.size(), &info);
            if (rc != WSQ_OK)
                return Fail(kEInvalid, where + ": not a WSQ file: " + wsq_strerror(rc));
            if (!((finger.nfiq >= 1 && finger.nfiq <= 5) || finger.nfiq == 254 ||
                  finger.nfiq == 255))
                return Fail(kEInvalid, where + ": NFIQ " + std::to_string(finger.nfiq) +
                                           " is not 1..5, 254 or 255");
            const int ppi = info.ppi > 0 && info.ppi <= 99999 ? info.ppi : 500;
            add(rec, 6, std::to_string(info.width));
            add(rec, 7, std::to_string(info.height));
            add(rec, 8, "1");
            add(rec, 9, std::to_string(ppi));
            add(rec, 10, std::to_string(ppi));
            add(rec, 11, "WSQ20");
            add(rec, 12, "8");
            add(rec, 13, std::to_string(n));
            add(rec, 22, std::to_string(n) + us + std::to_string(finger.nfiq));
            rec.fields.push_back(
                Field{999, std::string(finger.wsq.begin(), finger.wsq.end()), true});
        }
        out.records.push_back(std::move(rec));
    }
    return {};
}

} // namespace an2k
