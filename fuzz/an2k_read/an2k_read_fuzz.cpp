// Arbitrary bytes as an ANSI/NIST-ITL transaction. The reader must refuse or accept without
// reading outside the input; an accepted transaction must dump, and one of tagged records
// only must survive writing and reading again with every field as it was.
#include "an2k.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

// Fields other than those the writer computes itself (LEN, and CNT in the Type-1).
std::vector<const an2k::Field*> Kept(const an2k::Record& r) {
    std::vector<const an2k::Field*> kept;
    for (const auto& f : r.fields)
        if (f.number != 1 && !(r.type == 1 && f.number == 3))
            kept.push_back(&f);
    return kept;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    an2k::Limits limits;
    limits.max_file = 1 << 20;
    an2k::Transaction t;
    const an2k::Result r = an2k::read(data, size, t, limits);
    if (!r) {
        if (r.message.empty() || !t.records.empty())
            std::abort();
        return 0;
    }
    if (an2k::dump(t).empty())
        std::abort();
    std::vector<uint8_t> bytes;
    if (!an2k::write(t, bytes))
        return 0; // a Type-4 record, or text the writer does not produce
    an2k::Transaction again;
    if (!an2k::read(bytes.data(), bytes.size(), again, limits) ||
        again.records.size() != t.records.size())
        std::abort();
    for (size_t i = 0; i < t.records.size(); ++i) {
        // The writer puts VER and CNT first in the Type-1; compare the Type-1 as a set.
        auto a = Kept(t.records[i]), b = Kept(again.records[i]);
        if (a.size() != b.size() || t.records[i].type != again.records[i].type)
            std::abort();
        for (const an2k::Field* f : a) {
            const an2k::Field* g = again.records[i].find(f->number);
            if (!g || g->value != f->value || g->binary != f->binary)
                std::abort();
        }
    }
    return 0;
}
