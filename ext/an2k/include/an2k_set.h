// A saved set (dedo1.bmp ... dedo10.bmp and dedo1.wsq ... dedo10.wsq in one folder) as the
// ten-print transaction of an2k.h, shared by the station and the tenprint-an2k tool.
#pragma once

#include "an2k.h"

#include <ctime>
#include <functional>
#include <string>

namespace an2k {

// The NFIQ score of slot n (1..10) for its print: 1..5, 254 (never scored) or 255 (scoring
// failed). Called only for slots that hold a print, not for amputated ones.
using SlotScorer = std::function<int(int slot, const uint8_t* pixels, int width, int height)>;

struct SetOptions {
    std::string ref; // the set's reference; part of the TCN
    std::string ori = "ORIG00001";
    std::string dai = "DEST00001";
    int imp = kImpLivePlain;
    // The amputation picture: a slot whose bitmap has its size and pixels is amputated. Empty:
    // no slot is taken for amputated.
    std::string amputation_picture;
    SlotScorer score;
    std::time_t now = 0; // 0: the current time
};

// Reads the set in folder dir into a Tenprint: each slot's dedoN.bmp (it must exist) tells
// whether the finger is amputated; otherwise dedoN.wsq (it must exist) is the image and the
// scorer gives NQM. DAT and GMT come from `now`; FCD is the local date of the newest bitmap;
// TCN is "<reference or 'ficha'>-<YYYYMMDDHHMMSS>" with bytes outside 0x21..0x7E of the
// reference replaced by '_'. Failures name the slot and the file.
Result load_set(const std::string& dir, const SetOptions& options, Tenprint& out);

// load_set, build_tenprint and write in one: the transaction's bytes.
Result encode_set(const std::string& dir, const SetOptions& options, std::vector<uint8_t>& out);

// "<reference>.an2", or "ficha.an2" for an empty reference; '/', control bytes and a leading
// '.' are replaced by '_' so that the name stays one file in the set's folder.
std::string transaction_file_name(const std::string& ref);

} // namespace an2k
