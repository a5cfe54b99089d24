#include "CaptureSequences.h"

#include <gtest/gtest.h>

TEST(CaptureSequences, OfferedPerModel) {
    const QStringList two{"Dedo plano", "Dedo rodado"};
    const QStringList seven{"Dedo plano",
                            "Dedo rodado",
                            "2 flat fingers",
                            "4 flat fingers",
                            "10 single flat fingers",
                            "10 single rolled fingers",
                            "10 flat fingers with 4-finger scanner"};
    const struct {
        const char* model;
        QStringList expected;
    } cases[] = {
        {"WATSON", two},
        {"WATSON MINI", two},
        {"SHERLOCK_ROIC", two},
        {"SHERLOCK", two},
        {"COLUMBO", {"Dedo plano"}},
        {"CURVE", {"Dedo plano"}},
        {"HOLMES", seven},
        {"KOJAK", seven},
        {"watson", {}}, // exact, case included
        {"", {}},
        {"MYSTERY", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SequencesForModel(c.model), c.expected) << c.model;
}

TEST(CaptureSequences, StepsAndPrompts) {
    auto flat = StepsForSequence("Dedo plano", "Pulgar Derecho");
    ASSERT_EQ(flat.size(), 1u);
    EXPECT_EQ(flat[0], (CaptureInfo{"Por favor coloque el Pulgar Derecho en el scanner...", 2,
                                    "SFF_Unknown"}));
    auto rolled = StepsForSequence("Dedo rodado", "dedo X");
    ASSERT_EQ(rolled.size(), 1u);
    EXPECT_EQ(rolled[0].ImageType, 1);
    EXPECT_EQ(rolled[0].FingerPosition, "SRF_Unknown");

    auto ten = StepsForSequence("10 single rolled fingers", "ignored");
    ASSERT_EQ(ten.size(), 10u);
    EXPECT_EQ(ten[4].Prompt, "Por favor coloque el meñique derecho en el scanner!");
    EXPECT_EQ(ten[4].FingerPosition, "SRF_Right_Little");
    EXPECT_EQ(ten[9].ImageType, 1);
    EXPECT_EQ(StepsForSequence("10 single flat fingers", "")[5].FingerPosition, "SFF_Left_Thumb");

    auto four = StepsForSequence("10 flat fingers with 4-finger scanner", "");
    ASSERT_EQ(four.size(), 3u);
    EXPECT_EQ(four[2], (CaptureInfo{"Please put 2-thumbs on the sensor!", 3, "TFF_2_Thumbs"}));
    EXPECT_EQ(StepsForSequence("4 flat fingers", "")[0].ImageType, 4);
    EXPECT_TRUE(StepsForSequence(kSequencePlaceholder, "x").empty());
    EXPECT_TRUE(StepsForSequence("", "x").empty());
}

TEST(CaptureSequences, LedMasks) {
    const struct {
        const char* position;
        int imageType, kind;
        bool blink;
        uint32_t mask;
    } cases[] = {
        {"SFF_Unknown", 2, kLedRed, true, 0x20000000},   // single flat: blink bit only
        {"SRF_Unknown", 1, kLedRed, true, 0x20000010},   // rolled adds the roll bit
        {"SRF_Unknown", 1, kLedGreen, false, 0x10},      // after a good rolled result
        {"SFF_Unknown", 2, kLedBoth, true, 0x30000000},  //
        {"TFF_Unknown", 3, kLedGreen, true, 0x10000000}, //
        {"SFF_Right_Thumb", 2, kLedBoth, false, 0xC0040},
        {"SRF_Left_Thumb", 1, kLedGreen, false, 0x10050},
        {"TFF_2_Thumbs", 3, kLedRed, true, 0x200A0040},
        {"SFF_Left_Index", 2, kLedRed, false, 0x800020},
        {"SFF_Left_Ring", 2, kLedBoth, false, 0xC000020},
        {"4FF_Left_4_Fingers", 4, kLedRed, false, 0xAA00020},
        {"SFF_Right_Middle", 2, kLedRed, false, 0x40000080}, // red is 0x40000000, not 0x8000
        {"SRF_Right_Middle", 1, kLedBoth, true, 0x70004090},
        {"4FF_Right_4_Fingers", 4, kLedRed, false, 0x40002A80},
        {"4FF_Right_4_Fingers", 4, kLedBoth, false, 0x40007F80},
        {"SFF_Right_Little", 2, kLedGreen, false, 0x480},
        {"SFF_Right_Ring", 2, kLedRed, false, 0x280},
        {"SFF_Right_Index", 2, kLedGreen, false, 0x1080},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LedMask({"", c.imageType, c.position}, c.kind, c.blink), c.mask)
            << c.position << " kind " << c.kind;
}
