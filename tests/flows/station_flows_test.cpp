// The ten-print station's flows, on the real windows against the simulated scanners.
#include "BusyCursor.h"
#include "Clock.h"
#include "GBNFIQ.h"
#include "IntegratedBiometrics.h"
#include "SlotBitmap.h"
#include "StationHarness.h"
#include "UTrazel.h"
#include "UVerDedo.h"
#include "an2k.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

namespace {

class TestTrazel : public TFTrazel {
  public:
    using TFTrazel::TFTrazel;
    void SetQuality(int n, int status, int score) {
        FQualityStatus[n] = status;
        FQualityScore[n] = score;
    }
};

// Records each showing of the capture window: the finger asked for and the window's top.
class CaptureWatch : public QObject {
  public:
    struct Shown {
        QString finger;
        int top;
    };
    std::vector<Shown> shown;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Show)
            shown.push_back({FIntegratedBiometrics->FingerName(),
                             FIntegratedBiometrics->frameGeometry().top()});
        return false;
    }
};

// Writes a plausible print as the bitmap file of a slot.
void WritePrint(const QString& file, unsigned seed) {
    QImage img(300, 400, QImage::Format_Indexed8);
    QList<QRgb> grey;
    for (int i = 0; i < 256; ++i)
        grey << qRgb(i, i, i);
    img.setColorTable(grey);
    std::vector<uint8_t> px(300 * 400);
    ibsim_render_print(seed, 300, 400, px.data());
    for (int y = 0; y < 400; ++y)
        std::memcpy(img.scanLine(y), px.data() + y * 300, 300);
    SaveSlotBitmap(img, file);
}

class StationFlows : public ::testing::Test {
  protected:
    void Create(int scannerType, bool autoAdvance = true, const QStringList& args = {}) {
        ASSERT_TRUE(scanman.error.isEmpty()) << scanman.error.toStdString();
        LoadNfiqLibrary();
        ASSERT_EQ(IBSIM_Reset(nullptr, nullptr), IBSU_STATUS_OK);
        ASSERT_EQ(IBSIM_SetClock(IBSIM_CLOCK_IMMEDIATE), IBSU_STATUS_OK);
        w = new TestTrazel(args);
        FTrazel = w;
        FConfigTrazel = new TFConfigTrazel(nullptr, folder.wd.File("TrazelIB.INI"));
        FConfigTrazel->cbScannerType->setCurrentIndex(scannerType);
        FConfigTrazel->cbAutoAvance->setChecked(autoAdvance);
        FVerDedo = new TFVerDedo;
        FIntegratedBiometrics = new TFIntegratedBiometrics;
        FIntegratedBiometrics->installEventFilter(&watch);
        w->show();
    }
    void TearDown() override {
        delete FIntegratedBiometrics;
        FIntegratedBiometrics = nullptr;
        delete w;
        FTrazel = nullptr;
        delete FConfigTrazel;
        FConfigTrazel = nullptr;
        delete FVerDedo;
        FVerDedo = nullptr;
    }
    // Runs the simulators and the event loop until done() holds. The limit only stops a hung
    // run: ten captures under ThreadSanitizer on a loaded machine take over a minute.
    bool WaitFor(const std::function<bool()>& done, int ms = 300000) {
        return QTest::qWaitFor(
            [&] {
                IBSIM_WaitIdle();
                return done();
            },
            ms);
    }
    bool CaptureWindowHidden() { return !FIntegratedBiometrics->isVisible(); }
    QString Line() const { return w->lblMsg->Message(); }

    ScratchProgramFolder folder;
    ScanManModule scanman;
    CaptureWatch watch;
    TestTrazel* w = nullptr;
};

} // namespace

TEST_F(StationFlows, WholeSetOnTheIbRoadWithAutomaticAdvance) {
    Create(kScannerIBFlat);
    w->TimerStartTimer();
    ASSERT_TRUE(WaitFor([&] { return w->focusWidget() == w->btGrabar && CaptureWindowHidden(); }));
    QTest::qWait(300); // no eleventh capture follows
    ASSERT_EQ(watch.shown.size(), 10u);
    const int bottomTop = QGuiApplication::primaryScreen()->geometry().height() -
                          FIntegratedBiometrics->OuterHeight() - 50;
    for (int n = 1; n <= 10; ++n) {
        EXPECT_TRUE(QFile::exists(TFTrazel::SlotFile(n))) << n;
        EXPECT_GT(w->SlotViewer(n)->ImageWidth(), 0) << n;
        EXPECT_EQ(w->QualityStatus(n), 0) << n;
        EXPECT_EQ(watch.shown[n - 1].finger, TFTrazel::FingerDisplayName(n));
        // Within the frame's few pixels, which the platform settles only once shown.
        EXPECT_NEAR(watch.shown[n - 1].top, n <= 5 ? bottomTop : 0, 4) << n;
    }
    EXPECT_EQ(w->CurrentSlot(), 10);
    EXPECT_TRUE(Line().startsWith("NFIQ Meñique Izquierdo: ")) << Line().toStdString();
    EXPECT_TRUE(w->Modified());

    // Return on the focused "&Grabar" saves the set and ends the program.
    QTest::keyClick(w->focusWidget(), Qt::Key_Return);
    EXPECT_FALSE(w->isVisible());
    EXPECT_TRUE(Line().contains(" grabada exitosamente! - Total: ")) << Line().toStdString();
    for (int n = 1; n <= 10; ++n)
        EXPECT_TRUE(QFile::exists(QStringLiteral("dedo%1.wsq").arg(n))) << n;
}

TEST_F(StationFlows, WithoutAutomaticAdvanceSpaceMovesOnAndEnterCapturesAgain) {
    Create(kScannerIBFlat, false);
    w->TimerStartTimer();
    ASSERT_TRUE(WaitFor([&] { return QFile::exists("dedo1.bmp") && CaptureWindowHidden(); }));
    QTest::qWait(100);
    EXPECT_EQ(w->CurrentSlot(), 1);
    EXPECT_EQ(watch.shown.size(), 1u);

    QTest::keyRelease(w->SlotViewer(1), Qt::Key_Return);
    ASSERT_TRUE(WaitFor([&] { return watch.shown.size() == 2 && CaptureWindowHidden(); }));
    EXPECT_EQ(watch.shown[1].finger, "Pulgar Derecho");
    EXPECT_EQ(w->CurrentSlot(), 1);

    QTest::keyRelease(w->SlotViewer(1), Qt::Key_Space);
    ASSERT_TRUE(WaitFor([&] { return QFile::exists("dedo2.bmp") && CaptureWindowHidden(); }));
    EXPECT_EQ(watch.shown.size(), 3u);
    EXPECT_EQ(watch.shown[2].finger, "Indice Derecho");
    EXPECT_EQ(w->CurrentSlot(), 2);
}

TEST_F(StationFlows, ClosingTheCaptureWindowKeepsTheSlot) {
    Create(kScannerIBFlat);
    ASSERT_EQ(IBSIM_SetClock(IBSIM_CLOCK_MANUAL), IBSU_STATUS_OK); // no capture completes
    w->TimerStartTimer();
    ASSERT_TRUE(WaitFor([&] { return FIntegratedBiometrics->isVisible(); }));
    FIntegratedBiometrics->close();
    QTest::qWait(100);
    EXPECT_EQ(w->CurrentSlot(), 1);
    EXPECT_FALSE(QFile::exists("dedo1.bmp"));
}

TEST_F(StationFlows, ScanManDeliveriesLandInTheSelectedSlotMirroredAsConfigured) {
    Create(kScannerUareU);
    FConfigTrazel->cbFlipHor->setChecked(true);
    FConfigTrazel->cbFlipVer->setChecked(true);
    DeliverScan(MarkedPicture(400, 500), 400, 500);
    ASSERT_TRUE(QFile::exists("dedo1.bmp"));
    const QImage stored("dedo1.bmp");
    EXPECT_EQ(stored.size(), QSize(400, 500));
    EXPECT_EQ(stored.format(), QImage::Format_Indexed8);
    EXPECT_EQ(BmpPixel("dedo1.bmp", 399, 499), 10); // half a turn: dark corner bottom right
    EXPECT_NE(BmpPixel("dedo1.bmp", 0, 0), 10);
    EXPECT_EQ(w->CurrentSlot(), 2); // advanced, but the ScanMan road requests nothing
    EXPECT_TRUE(watch.shown.empty());

    FConfigTrazel->cbFlipHor->setChecked(false);
    FConfigTrazel->cbFlipVer->setChecked(false);
    DeliverScan(MarkedPicture(800, 1000), 800, 1000, 1000); // rescaled to 500 ppi
    ASSERT_TRUE(QFile::exists("dedo2.bmp"));
    EXPECT_EQ(QImage("dedo2.bmp").size(), QSize(400, 500));
    EXPECT_EQ(BmpPixel("dedo2.bmp", 0, 0), 10);

    {
        platform::BusyCursor busy; // as while "&Grabar" runs
        DeliverScan(MarkedPicture(400, 500), 400, 500);
    }
    EXPECT_FALSE(QFile::exists("dedo3.bmp"));
    EXPECT_EQ(w->CurrentSlot(), 3);
}

TEST_F(StationFlows, QualityLineAndAverage) {
    Create(kScannerUareU);
    EXPECT_EQ(Line(), "NFIQ Pulgar Derecho: 0 (Error Falta cargar la imagen) - Promedio: 9 ()");
    w->SetQuality(1, 0, 1);
    w->SetQuality(2, 0, 2);
    w->SetQuality(3, 0, 4);
    w->SetQuality(4, 2, 5); // scored with a complaint: not in the average
    w->SetQuality(5, -1, 0);
    EXPECT_EQ(w->AverageQuality(), 2); // 7 div 3
    w->SelectSlot(4);
    EXPECT_EQ(Line(), "NFIQ Anular Derecho: 5 (Mala Faltan minucias) - Promedio: 2 (Muy buena)");
    w->SelectSlot(5);
    EXPECT_EQ(Line(), "NFIQ Meñique Derecho: 0 (Error Falta GBNFIQ.DLL) - Promedio: 2 (Muy buena)");
    w->ResetQuality();
    EXPECT_EQ(w->AverageQuality(), 9);
}

TEST_F(StationFlows, SavingAWholeSetWritesTwentyFilesAndEnds) {
    uint32_t now = 1000;
    platform::SetTickSourceForTesting([&] { return now; });
    Create(kScannerUareU, true, {"EXP-7"});
    for (int n = 1; n <= 10; ++n)
        WritePrint(TFTrazel::SlotFile(n), n);
    now += 59999;
    w->btGrabarClick();
    platform::SetTickSourceForTesting({});
    for (int n = 1; n <= 10; ++n) {
        EXPECT_TRUE(QFile::exists(QStringLiteral("dedo%1.wsq").arg(n))) << n;
        EXPECT_TRUE(QFile::exists(TFTrazel::SlotFile(n))) << n;
    }
    EXPECT_EQ(Line(), "EXP-7 grabada exitosamente! - Total: 59 seg.");
    EXPECT_FALSE(w->isVisible());
    EXPECT_FALSE(platform::IsBusy());
    // The transaction setting is off by default: nothing but the slot files.
    EXPECT_TRUE(QDir().entryList({"*.an2"}, QDir::Files).isEmpty());
}

// With the transaction setting turned on in the settings dialog, "&Grabar" also writes
// "<reference>.an2": one Type-14 a finger with the WSQ just written and the score the slot
// showed, the amputated slot without image; the agencies as configured.
TEST_F(StationFlows, SavingWithTheTransactionSettingWritesTheAn2File) {
    Create(kScannerUareU, true, {"EXP-7"});
    FConfigTrazel->show();
    ASSERT_FALSE(FConfigTrazel->cbGrabarAN2->isChecked());
    QTest::mouseClick(FConfigTrazel->cbGrabarAN2, Qt::LeftButton);
    FConfigTrazel->edORI->clear();
    QTest::keyClicks(FConfigTrazel->edORI, "AGENCIA01");
    FConfigTrazel->edDAI->clear();
    QTest::keyClicks(FConfigTrazel->edDAI, "DESTINO01");
    QTest::mouseClick(FConfigTrazel->btOK, Qt::LeftButton);
    ASSERT_FALSE(FConfigTrazel->isVisible());
    for (int n = 1; n <= 10; ++n) {
        if (n == 7) {
            w->AmputarClick(w->amp_d[6]);
            continue;
        }
        WritePrint(TFTrazel::SlotFile(n), n);
        w->SelectSlot(n);
        w->LoadSlotImage();
        ASSERT_EQ(w->QualityStatus(n), 0) << n;
    }
    QTest::mouseClick(w->btGrabar, Qt::LeftButton);
    ASSERT_FALSE(w->isVisible()) << Line().toStdString();

    QFile file("EXP-7.an2");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    an2k::Transaction t;
    const an2k::Result r =
        an2k::read(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()), t);
    ASSERT_TRUE(r) << r.message;
    ASSERT_EQ(t.records.size(), 12u);
    EXPECT_EQ(t.records[0].find(7)->value, "DESTINO01");
    EXPECT_EQ(t.records[0].find(8)->value, "AGENCIA01");
    EXPECT_EQ(t.records[0].find(9)->value.rfind("EXP-7-", 0), 0u);
    for (int n = 1; n <= 10; ++n) {
        SCOPED_TRACE(n);
        const an2k::Record& rec = t.records[size_t(n + 1)];
        EXPECT_EQ(rec.find(13)->value, std::to_string(n));
        EXPECT_EQ(rec.find(3)->value, "0"); // live-scan plain
        EXPECT_EQ(rec.find(4)->value, "AGENCIA01");
        if (n == 7) {
            EXPECT_EQ(rec.find(18)->value, "7\x1FXX");
            EXPECT_EQ(rec.find(999), nullptr);
            continue;
        }
        QFile wsq(QStringLiteral("dedo%1.wsq").arg(n));
        ASSERT_TRUE(wsq.open(QIODevice::ReadOnly));
        EXPECT_TRUE(rec.find(999)->value == wsq.readAll().toStdString());
        EXPECT_EQ(rec.find(22)->value,
                  std::to_string(n) + "\x1F" + std::to_string(w->QualityScore(n)));
    }
}

// A transaction that cannot be written stops the save like a failed conversion: the window
// stays open with the reason, and no file of that name is left.
TEST_F(StationFlows, AFailedTransactionKeepsTheStationOpen) {
    Create(kScannerUareU, true, {"EXP-8"});
    FConfigTrazel->cbGrabarAN2->setChecked(true);
    FConfigTrazel->edORI->setText(QString()); // an agency is mandatory
    QFile stale("EXP-8.an2");
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.write("old");
    stale.close();
    for (int n = 1; n <= 10; ++n)
        WritePrint(TFTrazel::SlotFile(n), n);
    w->btGrabarClick();
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(Line().startsWith("Error: grabando EXP-8.an2! . Mensaje:ORI "))
        << Line().toStdString();
    EXPECT_FALSE(QFile::exists("EXP-8.an2"));
    EXPECT_FALSE(platform::IsBusy());
}

TEST_F(StationFlows, SavingStopsAtTheFirstMissingOrFailingSlot) {
    Create(kScannerUareU);
    for (int n : {1, 2, 3, 5, 6})
        WritePrint(TFTrazel::SlotFile(n), n);
    w->btGrabarClick();
    for (int n = 1; n <= 10; ++n)
        EXPECT_EQ(QFile::exists(QStringLiteral("dedo%1.wsq").arg(n)), n <= 3) << n;
    EXPECT_EQ(w->CurrentSlot(), 4);
    EXPECT_EQ(Line(), "Error: falta el Anular Derecho!");
    EXPECT_TRUE(w->isVisible());
    EXPECT_FALSE(platform::IsBusy());

    // A slot the converter cannot read: the WSQ file of an earlier attempt is gone too.
    QFile bad("dedo2.bmp");
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("not a bitmap");
    bad.close();
    w->btGrabarClick();
    EXPECT_FALSE(QFile::exists("dedo2.wsq"));
    EXPECT_EQ(w->CurrentSlot(), 2);
    EXPECT_EQ(Line(), "Error: convirtiendo el Indice Derecho! . Mensaje:ERROR: No se pudo generar "
                      "dedo2.wsq");

    QFile::remove("BMP2WSQ");
    w->btGrabarClick();
    EXPECT_EQ(Line(), "Error: convirtiendo el Pulgar Derecho! . Mensaje:ERROR: No se pudo generar "
                      "dedo1.wsq");
    EXPECT_FALSE(QFile::exists("dedo1.wsq"));
}

TEST_F(StationFlows, AmputationPutsThePictureInTheSlot) {
    Create(kScannerUareU);
    MessageRecorder boxes;
    w->AmputarClick(w->amp_d[7]); // "Medio Izquierdo"
    EXPECT_TRUE(boxes.Requests.empty());
    EXPECT_EQ(w->CurrentSlot(), 8);
    QFile copy("dedo8.bmp"), picture(QStringLiteral(STATION_BIN_DIR "/Amputado.BMP"));
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly) && picture.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.readAll(), picture.readAll());
    EXPECT_GT(w->SlotViewer(8)->ImageWidth(), 0);
    EXPECT_TRUE(Line().startsWith("NFIQ Medio Izquierdo: ")) << Line().toStdString();
    EXPECT_TRUE(w->Modified());

    QFile::remove("Amputado.BMP");
    w->SelectSlot(3);
    w->AmputarClick(w->amp_d[1]);
    ASSERT_EQ(boxes.Requests.size(), 1u);
    EXPECT_EQ(boxes.Requests[0].caption, "Error");
    EXPECT_EQ(boxes.Requests[0].text, "Falta el archivo \"Amputado.BMP\"");
    EXPECT_EQ(w->CurrentSlot(), 3);
    EXPECT_FALSE(QFile::exists("dedo2.bmp"));
}

TEST_F(StationFlows, ClearingThenLeavingStillWarnsAndNoLeavesNothing) {
    Create(kScannerUareU);
    w->AmputarClick(w->amp_d[0]);
    w->AmputarClick(w->amp_d[4]);
    w->btClearClick();
    EXPECT_EQ(Line(), "OK");
    EXPECT_EQ(w->CurrentSlot(), 1);
    for (int n = 1; n <= 10; ++n) {
        EXPECT_FALSE(QFile::exists(TFTrazel::SlotFile(n)));
        EXPECT_EQ(w->SlotViewer(n)->ImageWidth(), 0);
    }
    WritePrint("dedo6.bmp", 6); // a print that arrived after clearing
    MessageRecorder boxes(QMessageBox::No);
    w->btSalirClick();
    ASSERT_EQ(boxes.Requests.size(), 1u);
    EXPECT_EQ(boxes.Requests[0].caption, "Advertencia");
    EXPECT_EQ(boxes.Requests[0].text, "La impresiones han sido modificadas. ¿Desea guardarlas?");
    EXPECT_FALSE(QFile::exists("dedo6.bmp"));
    EXPECT_FALSE(w->isVisible());
}

TEST_F(StationFlows, LeavingWithYesSavesAndMenuSalirKeepsFiles) {
    Create(kScannerUareU);
    w->AmputarClick(w->amp_d[0]);
    w->btClearClick();
    {
        MessageRecorder boxes(QMessageBox::Yes);
        w->btSalirClick();
        EXPECT_EQ(boxes.Requests.size(), 1u);
    }
    // The save failed: the station stays open with its error.
    EXPECT_EQ(Line(), "Error: falta el Pulgar Derecho!");
    EXPECT_TRUE(w->isVisible());

    WritePrint("dedo1.bmp", 1);
    w->miSalirClick();
    EXPECT_FALSE(w->isVisible());
    EXPECT_TRUE(QFile::exists("dedo1.bmp"));
}

TEST_F(StationFlows, LeavingBeforeAnyPrintAsksNothing) {
    Create(kScannerUareU);
    MessageRecorder boxes;
    w->btSalirClick();
    EXPECT_TRUE(boxes.Requests.empty());
    EXPECT_FALSE(w->isVisible());
}

TEST_F(StationFlows, DoubleClickShowsThePrintWithItsScore) {
    Create(kScannerUareU);
    w->dedoDblClick(); // empty slot: nothing
    EXPECT_FALSE(FVerDedo->isVisible());
    w->AmputarClick(w->amp_d[7]);
    QString title;
    QSize size;
    QTimer::singleShot(50, [&] {
        title = FVerDedo->windowTitle();
        size = FVerDedo->size();
        FVerDedo->close();
    });
    w->dedoDblClick();
    EXPECT_TRUE(title.startsWith("Medio Izquierdo - NFIQ: ")) << title.toStdString();
    EXPECT_EQ(size, QSize(330, 410)); // the 320 × 400 picture with its margin
    EXPECT_EQ(w->CurrentSlot(), 8);
}
