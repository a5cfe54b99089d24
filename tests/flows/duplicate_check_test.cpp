// The duplicate-finger check on the real windows, on the ScanMan road: the same print
// dropped into two slots is named in the message line and marked on both slots, "&Grabar"
// asks before saving, and re-capturing one of the slots with another finger ends the
// warning; ten different fingers raise none.
#include "DuplicateCheck.h"
#include "GBNFIQ.h"
#include "SlotBadge.h"
#include "StationHarness.h"
#include "UTrazel.h"
#include "UVerDedo.h"

#include <QTest>

namespace {

// A synthetic print of the simulated person's finger: seed / 10 is the person, seed % 10 the
// finger, as the simulated scanners draw them.
std::vector<unsigned char> Print(unsigned seed) {
    std::vector<unsigned char> px(400 * 500);
    ibsim_render_print(seed, 400, 500, px.data());
    return px;
}

class DuplicateCheckFlows : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(scanman.error.isEmpty()) << scanman.error.toStdString();
        LoadNfiqLibrary();
        w = new TFTrazel({});
        FTrazel = w;
        FConfigTrazel = new TFConfigTrazel(nullptr, folder.wd.File("TrazelIB.INI"));
        FConfigTrazel->cbScannerType->setCurrentIndex(kScannerUareU);
        FConfigTrazel->cbAutoAvance->setChecked(true);
        FVerDedo = new TFVerDedo;
        w->show();
    }
    void TearDown() override {
        delete w;
        FTrazel = nullptr;
        delete FConfigTrazel;
        FConfigTrazel = nullptr;
        delete FVerDedo;
        FVerDedo = nullptr;
    }
    // Delivers a print to the selected slot and waits until the check has taken it.
    void Capture(unsigned seed) {
        DeliverScan(Print(seed), 400, 500);
        ASSERT_TRUE(QTest::qWaitFor([&] { return w->DuplicateCheck()->Pending() == 0; }, 60000));
        QCoreApplication::processEvents();
    }
    QString Mark(int n) const {
        auto* mark = w->SlotViewer(n)->findChild<TSlotBadge*>(QStringLiteral("repetido%1").arg(n));
        return mark && mark->isVisible() ? mark->Text() : QString();
    }
    QString Line() const { return w->lblMsg->text(); }

    ScratchProgramFolder folder;
    ScanManModule scanman;
    TFTrazel* w = nullptr;
};

TEST_F(DuplicateCheckFlows, SamePrintInTwoSlotsWarnsAsksBeforeSavingAndClearsOnRecapture) {
    ASSERT_TRUE(FConfigTrazel->cbDuplicateCheck->isChecked()); // on by default
    Capture(13);
    EXPECT_TRUE(w->DuplicateCheck()->Pairs().empty());
    Capture(13); // the thumb's print again, for the index
    ASSERT_EQ(w->DuplicateCheck()->Pairs().size(), 1u);
    EXPECT_EQ(Line(), "Atención: el Indice Derecho parece el mismo dedo que el Pulgar Derecho");
    EXPECT_EQ(Mark(1), "¿Repetido?");
    EXPECT_EQ(Mark(2), "¿Repetido?");
    EXPECT_EQ(Mark(3), "");

    {
        MessageRecorder boxes(QMessageBox::No);
        QTest::mouseClick(w->btGrabar, Qt::LeftButton);
        ASSERT_EQ(boxes.Requests.size(), 1u);
        EXPECT_TRUE(boxes.Requests[0].text.startsWith(
            "Atención: el Indice Derecho parece el mismo dedo que el Pulgar Derecho"))
            << boxes.Requests[0].text.toStdString();
    }
    EXPECT_TRUE(w->isVisible()); // No: back to the set, nothing converted
    EXPECT_FALSE(QFile::exists("dedo1.wsq"));
    EXPECT_TRUE(QFile::exists("dedo1.bmp"));
    EXPECT_TRUE(QFile::exists("dedo2.bmp"));

    w->SelectSlot(2);
    Capture(14); // the right finger this time
    EXPECT_TRUE(w->DuplicateCheck()->Pairs().empty());
    EXPECT_EQ(Mark(1), "");
    EXPECT_EQ(Mark(2), "");
    EXPECT_FALSE(Line().startsWith("Atención")) << Line().toStdString();
}

TEST_F(DuplicateCheckFlows, TenDifferentFingersRaiseNoWarning) {
    for (unsigned seed = 20; seed < 30; ++seed)
        Capture(seed);
    EXPECT_TRUE(w->DuplicateCheck()->Pairs().empty());
    for (int n = 1; n <= 10; ++n)
        EXPECT_EQ(Mark(n), "") << n;
    MessageRecorder boxes(QMessageBox::No);
    EXPECT_TRUE(w->DuplicateCheck()->ConfirmSave());
    EXPECT_TRUE(boxes.Requests.empty());
}

TEST_F(DuplicateCheckFlows, SettingOffChecksNothing) {
    FConfigTrazel->cbDuplicateCheck->setChecked(false);
    Capture(13);
    Capture(13);
    EXPECT_TRUE(w->DuplicateCheck()->Pairs().empty());
    EXPECT_EQ(Mark(2), "");
    FConfigTrazel->SaveSettings();
    FConfigTrazel->cbDuplicateCheck->setChecked(true);
    FConfigTrazel->LoadSettings();
    EXPECT_FALSE(FConfigTrazel->cbDuplicateCheck->isChecked()); // kept in TrazelIB.INI
}

} // namespace
