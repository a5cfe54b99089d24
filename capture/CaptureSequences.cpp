#include "CaptureSequences.h"

#include <array>

namespace {

struct FingerRow {
    const char* prompt;
    const char* flat;
    const char* rolled;
};

// The ten fingers in capture order: right thumb to little finger, then the left hand.
const std::array<FingerRow, 10> kTenFingers{{
    {"Por favor coloque el pulgar derecho en el scanner!", "SFF_Right_Thumb", "SRF_Right_Thumb"},
    {"Por favor coloque el indice derecho en el scanner!", "SFF_Right_Index", "SRF_Right_Index"},
    {"Por favor coloque el medio derecho en el scanner!", "SFF_Right_Middle", "SRF_Right_Middle"},
    {"Por favor coloque el anular derecho en el scanner!", "SFF_Right_Ring", "SRF_Right_Ring"},
    {"Por favor coloque el meñique derecho en el scanner!", "SFF_Right_Little", "SRF_Right_Little"},
    {"Por favor coloque el pulgar izquierdo en el scanner!", "SFF_Left_Thumb", "SRF_Left_Thumb"},
    {"Por favor coloque el indice izquierdo en el scanner!", "SFF_Left_Index", "SRF_Left_Index"},
    {"Por favor coloque el medio izquierdo en el scanner!", "SFF_Left_Middle", "SRF_Left_Middle"},
    {"Por favor coloque el anular izquierdo en el scanner!", "SFF_Left_Ring", "SRF_Left_Ring"},
    {"Por favor coloque el meñique izquierdo en el scanner!", "SFF_Left_Little", "SRF_Left_Little"},
}};

struct LedRow {
    const char* names[2]; // flat and rolled spelling (the second may be null)
    uint32_t group;
    uint32_t kinds[3]; // green, red, both
};

// Group and finger bits per finger position. The red bit of the right middle finger is
// 0x40000000 (0x8000 is no LED), also inside the right four-finger masks.
const std::array<LedRow, 14> kLeds{{
    {{"SFF_Right_Thumb", "SRF_Right_Thumb"}, 0x40, {0x40000, 0x80000, 0xC0000}},
    {{"SFF_Left_Thumb", "SRF_Left_Thumb"}, 0x40, {0x10000, 0x20000, 0x30000}},
    {{"TFF_2_Thumbs", nullptr}, 0x40, {0x50000, 0xA0000, 0xF0000}},
    {{"SFF_Left_Index", "SRF_Left_Index"}, 0x20, {0x400000, 0x800000, 0xC00000}},
    {{"SFF_Left_Middle", "SRF_Left_Middle"}, 0x20, {0x100000, 0x200000, 0x300000}},
    {{"SFF_Left_Ring", "SRF_Left_Ring"}, 0x20, {0x4000000, 0x8000000, 0xC000000}},
    {{"SFF_Left_Little", "SRF_Left_Little"}, 0x20, {0x1000000, 0x2000000, 0x3000000}},
    {{"4FF_Left_4_Fingers", nullptr}, 0x20, {0x5500000, 0xAA00000, 0xFF00000}},
    {{"SFF_Right_Index", "SRF_Right_Index"}, 0x80, {0x1000, 0x2000, 0x3000}},
    {{"SFF_Right_Middle", "SRF_Right_Middle"}, 0x80, {0x4000, 0x40000000, 0x40004000}},
    {{"SFF_Right_Ring", "SRF_Right_Ring"}, 0x80, {0x100, 0x200, 0x300}},
    {{"SFF_Right_Little", "SRF_Right_Little"}, 0x80, {0x400, 0x800, 0xC00}},
    {{"4FF_Right_4_Fingers", nullptr}, 0x80, {0x5500, 0x40002A00, 0x40007F00}},
    {{nullptr, nullptr}, 0, {0, 0, 0}},
}};

QString SingleFingerPrompt(const QString& fingerName) {
    return QStringLiteral("Por favor coloque el ") + fingerName +
           QStringLiteral(" en el scanner...");
}

} // namespace

QStringList SequencesForModel(const QString& productName) {
    const QString flat = QStringLiteral("Dedo plano");
    const QString rolled = QStringLiteral("Dedo rodado");
    if (productName == "WATSON" || productName == "WATSON MINI" || productName == "SHERLOCK_ROIC" ||
        productName == "SHERLOCK")
        return {flat, rolled};
    if (productName == "COLUMBO" || productName == "CURVE")
        return {flat};
    if (productName == "HOLMES" || productName == "KOJAK")
        return {flat,
                rolled,
                QStringLiteral("2 flat fingers"),
                QStringLiteral("4 flat fingers"),
                QStringLiteral("10 single flat fingers"),
                QStringLiteral("10 single rolled fingers"),
                QStringLiteral("10 flat fingers with 4-finger scanner")};
    return {};
}

std::vector<CaptureInfo> StepsForSequence(const QString& name, const QString& fingerName) {
    if (name == "Dedo plano")
        return {{SingleFingerPrompt(fingerName), 2, QStringLiteral("SFF_Unknown")}};
    if (name == "Dedo rodado")
        return {{SingleFingerPrompt(fingerName), 1, QStringLiteral("SRF_Unknown")}};
    if (name == "2 flat fingers")
        return {{QStringLiteral("Please put two fingers on the sensor!"), 3,
                 QStringLiteral("TFF_Unknown")}};
    if (name == "4 flat fingers")
        return {{QStringLiteral("Please put 4 fingers on the sensor!"), 4,
                 QStringLiteral("4FF_Unknown")}};
    if (name == "10 single flat fingers" || name == "10 single rolled fingers") {
        const bool rolled = name == "10 single rolled fingers";
        std::vector<CaptureInfo> steps;
        for (const auto& f : kTenFingers)
            steps.push_back({QString::fromUtf8(f.prompt), rolled ? 1 : 2,
                             QString::fromLatin1(rolled ? f.rolled : f.flat)});
        return steps;
    }
    if (name == "10 flat fingers with 4-finger scanner")
        return {{QStringLiteral("Please put right 4-fingers on the sensor!"), 4,
                 QStringLiteral("4FF_Right_4_Fingers")},
                {QStringLiteral("Please put left 4-fingers on the sensor!"), 4,
                 QStringLiteral("4FF_Left_4_Fingers")},
                {QStringLiteral("Please put 2-thumbs on the sensor!"), 3,
                 QStringLiteral("TFF_2_Thumbs")}};
    return {};
}

uint32_t LedMask(const CaptureInfo& step, int colourKind, bool blink) {
    uint32_t mask = 0;
    const bool knownKind = colourKind >= 0 && colourKind <= 2;
    if (blink && knownKind)
        mask |= colourKind == kLedGreen ? 0x10000000u
                : colourKind == kLedRed ? 0x20000000u
                                        : 0x30000000u;
    if (step.ImageType == 1)
        mask |= 0x10;
    for (const auto& row : kLeds) {
        if (!row.names[0])
            break;
        if (step.FingerPosition == QLatin1String(row.names[0]) ||
            (row.names[1] && step.FingerPosition == QLatin1String(row.names[1]))) {
            mask |= row.group;
            if (knownKind)
                mask |= row.kinds[colourKind];
            break;
        }
    }
    return mask;
}
