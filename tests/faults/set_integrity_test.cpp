// The saved set is exactly what the operator saw: operator actions through the real windows
// (mouse clicks on the slots and buttons, keys to the focused widget) while captures wait on
// the simulated scanners. A print lands in the slot it was asked for, on screen and on disk;
// no action loses or invents a print; the capture window always names the finger it will
// store; every slot shows its score; and nothing is dropped or damaged without a word.
#include "FaultHarness.h"

#include "BusyCursor.h"
#include "Clock.h"
#include "Report.h"
#include "UConfigTrazel.h"
#include "dibcard.h"

#include <QApplication>
#include <QTemporaryFile>

#include <unistd.h>

using namespace faults;

namespace {

// Two WATSON scanners whose captures wait for the test, each with its own prints.
const char* const kTwoWatsons = "[sim]\nclock = manual\n"
                                "[scanner.1]\nmodel = WATSON\nserial = S1\n"
                                "[scanner.2]\nmodel = WATSON\nserial = S2\n";

// What the process writes to its standard error stream while it lives.
class StderrCapture {
  public:
    StderrCapture() {
        std::fflush(stderr);
        FSaved = dup(STDERR_FILENO);
        FFile.open();
        dup2(FFile.handle(), STDERR_FILENO);
    }
    ~StderrCapture() { Restore(); }
    QStringList Lines() {
        Restore();
        QFile f(FFile.fileName());
        f.open(QIODevice::ReadOnly);
        // Only the station's drop lines: the platform may add warnings of its own.
        return QString::fromUtf8(f.readAll())
            .split('\n', Qt::SkipEmptyParts)
            .filter(QStringLiteral("descartada"));
    }

  private:
    void Restore() {
        if (FSaved < 0)
            return;
        std::fflush(stderr);
        dup2(FSaved, STDERR_FILENO);
        ::close(FSaved);
        FSaved = -1;
    }
    QTemporaryFile FFile;
    int FSaved = -1;
};

class SetIntegrity : public Station {
  protected:
    SetIntegrity() {
        platform::SetTickSourceForTesting([this] { return FNow; });
    }
    ~SetIntegrity() override { platform::SetTickSourceForTesting({}); }

    // The operator brings the main window to the front (the window manager activates it).
    void ActivateMain() {
        w->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(w));
    }
    // A mouse click on a slot, well apart from the previous one (not a double-click).
    void ClickSlot(int n) {
        ActivateMain();
        FNow += 1000;
        QTest::mouseClick(w->SlotViewer(n)->viewport(), Qt::LeftButton, {}, QPoint(40, 40));
        Settle();
    }
    void Click(QAbstractButton* button) {
        QTest::mouseClick(button, Qt::LeftButton);
        Settle();
    }
    // A key pressed and released on whatever widget has the keyboard focus.
    void Press(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QWidget* focus = QApplication::focusWidget();
        ASSERT_NE(focus, nullptr);
        QTest::keyClick(focus, key, mods);
        Settle();
    }
    // A finger on the scanner, the capture completed and the close after saving done.
    void Finger(int scannerId = 1) {
        const int quality[] = {1};
        ASSERT_EQ(IBSIM_PlaceFinger(scannerId, quality, 1), IBSU_STATUS_OK);
        Settle();
        ASSERT_EQ(IBSIM_CompleteCapture(scannerId), IBSU_STATUS_OK);
        Settle();
        QTest::qWait(80); // the close after saving is due by now
        Settle();
    }
    QStringList SlotFilesOnDisk() const {
        QStringList names = Names(SetFiles());
        names.removeAll("fmodelo.bemepe");
        return names;
    }
    void WriteNinePrints() {
        for (int n = 1; n <= 9; ++n)
            WriteSlotPrint(File(QStringLiteral("dedo%1.bmp").arg(n)), 120, 150, n);
    }

    uint32_t FNow = 100000;
};

} // namespace

// A capture asked for slot 3 completes after the operator has moved the selection away: the
// print is slot 3's, on disk and on screen, and the selection comes back to it.
TEST_F(SetIntegrity, APrintLandsInTheSlotItWasRequestedFor) {
    const struct {
        const char* action;
        std::function<void()> moveAway;
        int selectedMeanwhile;
    } cases[] = {
        {"click on slot 1", [this] { ClickSlot(1); }, 1},
        {"Shift+Tab", [this] { Press(Qt::Key_Backtab, Qt::ShiftModifier); }, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.action);
        Start(kScannerIBFlat); // automatic advance off; slot 1 is requested at start
        ClickSlot(3);
        Press(Qt::Key_Return);
        ASSERT_TRUE(CaptureShown());
        ASSERT_EQ(Capture()->OutputFile(), "dedo3.bmp");
        ActivateMain();
        c.moveAway();
        ASSERT_EQ(w->CurrentSlot(), c.selectedMeanwhile);

        Finger();
        EXPECT_FALSE(CaptureShown());
        EXPECT_EQ(SlotFilesOnDisk(), QStringList{"dedo3.bmp"});
        EXPECT_EQ(w->CurrentSlot(), 3);
        EXPECT_GT(w->SlotViewer(3)->ImageWidth(), 0);
        EXPECT_EQ(w->QualityStatus(3), 0);
        EXPECT_TRUE(w->ScoreBadge(3)->isVisible());
        EXPECT_EQ(w->SlotViewer(c.selectedMeanwhile)->ImageWidth(), 0);
        EXPECT_EQ(w->QualityStatus(c.selectedMeanwhile), -2);
        EXPECT_TRUE(Line().startsWith("NFIQ Medio Derecho: ")) << Line().toStdString();
        TearDown();
    }
}

// Every request brings the capture window to the front, active, naming the finger its print
// will be stored as: after the operator worked in the main window, and when a ScanMan print
// moves the selection on while an IB capture waits.
TEST_F(SetIntegrity, TheCaptureWindowNamesTheFingerItWillStore) {
    Start(kScannerIBFlat);
    ASSERT_TRUE(CaptureShown());
    EXPECT_EQ(Capture()->windowTitle(), "Capturando el Pulgar Derecho");
    ActivateMain();
    EXPECT_NE(QApplication::activeWindow(), Capture());

    Press(Qt::Key_Space); // next finger
    ASSERT_EQ(w->CurrentSlot(), 2);
    EXPECT_EQ(QApplication::activeWindow(), Capture());
    EXPECT_EQ(Capture()->windowTitle(), "Capturando el Indice Derecho");
    const QString prompt = "Por favor coloque el Indice Derecho en el scanner...";
    EXPECT_EQ(Capture()->m_txtStatusMessage->text(), prompt);
    EXPECT_EQ(Capture()->Guidance(), prompt);
    Finger();
    EXPECT_EQ(SlotFilesOnDisk(), QStringList{"dedo2.bmp"});
    TearDown();

    // Automatic advance on: a ScanMan print fills slot 1 while the IB capture of slot 1
    // waits; the request moves to slot 2 and so do the window's texts.
    Start(kScannerIBFlat, {}, true);
    ASSERT_TRUE(CaptureShown());
    Deliver(Picture(200, 250, 1), 200, 250);
    ASSERT_EQ(w->CurrentSlot(), 2);
    ASSERT_TRUE(CaptureShown());
    EXPECT_EQ(Capture()->windowTitle(), "Capturando el Indice Derecho");
    EXPECT_EQ(Capture()->m_txtStatusMessage->text(), prompt);
    EXPECT_EQ(QApplication::activeWindow(), Capture());
    Finger();
    EXPECT_EQ(SlotFilesOnDisk(), (QStringList{"dedo1.bmp", "dedo2.bmp"}));
    EXPECT_EQ(QImage(File("dedo1.bmp")).size(), QSize(200, 250)) << "the ScanMan print stays";
    EXPECT_EQ(w->QualityStatus(2), 0);
}

// "&Limpiar" while a capture waits: the capture window closes first, and a print that comes
// after the clear, or was written just before it and not yet handed over, is not in the new
// set. The next capture works as usual.
TEST_F(SetIntegrity, ClearingDuringAPendingCaptureLeavesNoPrint) {
    for (bool savedBeforeClear : {false, true}) {
        SCOPED_TRACE(savedBeforeClear ? "print written just before" : "finger after the clear");
        Start(kScannerIBFlat);
        ASSERT_TRUE(CaptureShown());
        ActivateMain();
        const int quality[] = {1};
        ASSERT_EQ(IBSIM_PlaceFinger(1, quality, 1), IBSU_STATUS_OK);
        Settle();
        if (savedBeforeClear) {
            // The result is written; its hand-over (50 ms later) has not come yet.
            ASSERT_EQ(IBSIM_CompleteCapture(1), IBSU_STATUS_OK);
            ASSERT_EQ(IBSIM_WaitIdle(), IBSU_STATUS_OK);
            ASSERT_TRUE(QFile::exists(File("dedo1.bmp")));
        }
        QTest::mouseClick(w->btClear, Qt::LeftButton);
        EXPECT_FALSE(CaptureShown());
        if (!savedBeforeClear)
            IBSIM_CompleteCapture(1);
        Settle();
        QTest::qWait(80);
        Settle();
        EXPECT_EQ(SlotFilesOnDisk(), QStringList());
        EXPECT_EQ(Line(), "OK");
        EXPECT_EQ(w->SlotViewer(1)->ImageWidth(), 0);
        EXPECT_FALSE(w->ScoreBadge(1)->isVisible());

        ASSERT_EQ(IBSIM_LiftFinger(1), IBSU_STATUS_OK);
        Press(Qt::Key_Return);
        ASSERT_TRUE(CaptureShown());
        Finger();
        EXPECT_EQ(SlotFilesOnDisk(), QStringList{"dedo1.bmp"});
        EXPECT_TRUE(Line().startsWith("NFIQ Pulgar Derecho: ")) << Line().toStdString();
        TearDown();
    }
}

// "&Salir", answer Yes, with a converter that fails: the program stays, the save's error is in
// the message line and every print is on disk; once the converter works, Yes saves and ends.
TEST_F(SetIntegrity, LeavingWithAFailingSaveKeepsTheProgramAndTheSet) {
    Start(kScannerUareU, {"REF-5"});
    WriteNinePrints();
    ClickSlot(10);
    Deliver(Picture(200, 250, 10), 200, 250);
    ASSERT_TRUE(w->Modified());
    QFile::remove(File("BMP2WSQ"));
    const FileSet before = SetFiles();
    ASSERT_EQ(before.size(), 10u);

    {
        MessageRecorder yes(QMessageBox::Yes);
        Click(w->btSalir);
        ASSERT_EQ(yes.Requests.size(), 1u);
        EXPECT_EQ(yes.Requests[0].caption, "Advertencia");
    }
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(Line(), "Error: convirtiendo el Pulgar Derecho! . Mensaje:ERROR: No se pudo generar "
                      "dedo1.wsq");
    EXPECT_EQ(SetFiles(), before);

    QFile::link(QStringLiteral(STATION_BIN_DIR "/BMP2WSQ"), File("BMP2WSQ"));
    {
        MessageRecorder yes(QMessageBox::Yes);
        Click(w->btSalir);
    }
    EXPECT_FALSE(w->isVisible());
    EXPECT_TRUE(Line().startsWith("REF-5 grabada exitosamente! - Total: ")) << Line().toStdString();
    EXPECT_EQ(SetFiles().size(), 20u);
}

// After the last finger the focus is on "&Grabar", visibly, and Return, keypad Enter and Space
// each press it: the set is saved and the program ends.
TEST_F(SetIntegrity, TheFocusedGrabarShowsItsFocusAndKeysPressIt) {
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers mods;
    } keys[] = {{Qt::Key_Return, Qt::NoModifier},
                {Qt::Key_Enter, Qt::KeypadModifier},
                {Qt::Key_Space, Qt::NoModifier}};
    for (const auto& k : keys) {
        SCOPED_TRACE(k.key);
        Start(kScannerUareU, {"REF-8"}, true);
        WriteNinePrints();
        ClickSlot(10);
        const QImage unfocused = w->btGrabar->grab().toImage();
        Deliver(Picture(200, 250, 10), 200, 250);
        ASSERT_EQ(QApplication::focusWidget(), w->btGrabar);
        EXPECT_NE(w->btGrabar->grab().toImage(), unfocused) << "no focus mark";

        Press(k.key, k.mods);
        EXPECT_FALSE(w->isVisible());
        EXPECT_TRUE(Line().startsWith("REF-8 grabada exitosamente! - Total: "))
            << Line().toStdString();
        EXPECT_EQ(SetFiles().size(), 20u);
        TearDown();
    }
}

// Changing the scanner while the open one answers its close with busy: either the close
// succeeds on a later try and the new scanner captures, or the list goes back to the open
// scanner and says why. The scanner that captures is always the one the list shows.
TEST_F(SetIntegrity, AScannerChangeNeverCapturesFromAScannerTheListDoesNotShow) {
    const struct {
        int busyCloses;
        int expectedScanner;
    } cases[] = {{3, 2}, {1000, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.busyCloses);
        afterReset = [] {
            IBSIM_SetImageSource(1, nullptr, 11);
            IBSIM_SetImageSource(2, nullptr, 22);
        };
        Start(kScannerIBFlat, {}, false, kTwoWatsons);
        ASSERT_TRUE(CaptureShown());
        QComboBox* list = Capture()->m_cboUsbDevices;
        ASSERT_EQ(list->currentIndex(), 0) << "two scanners: the operator chooses";
        Capture()->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(Capture()));
        list->setFocus();
        Press(Qt::Key_Down); // the first scanner
        Capture()->m_cboCaptureSeq->setFocus();
        Press(Qt::Key_Down); // "Dedo plano"
        Click(Capture()->m_btnCaptureStart);
        ASSERT_NE(Capture()->DeviceHandle(), -1);
        Click(Capture()->m_btnCaptureStop);

        ASSERT_EQ(IBSIM_ForceCloseBusy(1, c.busyCloses), IBSU_STATUS_OK);
        list->setFocus();
        Press(Qt::Key_Down); // the second scanner
        const QString shown = list->currentText();
        EXPECT_TRUE(shown.endsWith(QStringLiteral("(S%1)").arg(c.expectedScanner)))
            << shown.toStdString();
        if (c.expectedScanner == 1)
            EXPECT_EQ(Capture()->m_txtStatusMessage->text(),
                      "El scanner abierto está ocupado y no se pudo cerrar; sigue seleccionado");

        Click(Capture()->m_btnCaptureStart);
        ASSERT_EQ(Capture()->StepIndex(), 0);
        int handle = -1;
        ASSERT_EQ(IBSIM_GetScannerHandle(c.expectedScanner, &handle), IBSU_STATUS_OK);
        EXPECT_EQ(Capture()->DeviceHandle(), handle);
        Finger(c.expectedScanner);
        EXPECT_EQ(SlotFilesOnDisk(), QStringList{"dedo1.bmp"});
        TearDown();
    }
}

// Each filled slot shows its score on the slot, coloured by its band, amputated ones too;
// the message line keeps its form; clearing removes the marks.
TEST_F(SetIntegrity, EverySlotShowsItsScore) {
    const struct {
        int status, score;
        bool shown;
        const char* text;
        QColor background;
    } marks[] = {
        {-2, 0, false, "", {}},
        {0, 1, true, "NFIQ 1", QColor(0, 128, 0)},
        {0, 2, true, "NFIQ 2", QColor(0, 128, 0)},
        {0, 3, true, "NFIQ 3", QColor(240, 170, 0)},
        {2, 4, true, "NFIQ 4", QColor(200, 0, 0)},
        {0, 5, true, "NFIQ 5", QColor(200, 0, 0)},
        {-1, 0, true, "NFIQ ?", QColor(110, 110, 110)},
    };
    for (const auto& m : marks) {
        const SlotScoreMark mark = ScoreMark(m.status, m.score);
        EXPECT_EQ(mark.shown, m.shown) << m.status << "/" << m.score;
        if (m.shown) {
            EXPECT_EQ(mark.text, m.text);
            EXPECT_EQ(mark.background, m.background) << m.text;
        }
    }

    Start(kScannerIBFlat, {}, true, kOneWatson, {"BMP2WSQ", "libGBNFIQ.so", "Amputado.BMP"});
    Finger(); // slot 1; the selection moves on and the next line replaces the first
    ASSERT_EQ(w->CurrentSlot(), 2);
    EXPECT_TRUE(Line().startsWith("NFIQ Indice Derecho: 0 (Error Falta cargar la imagen)"));
    const SlotScoreMark first = ScoreMark(w->QualityStatus(1), w->QualityScore(1));
    TSlotBadge* badge = w->ScoreBadge(1);
    EXPECT_TRUE(badge->isVisible());
    EXPECT_EQ(badge->Text(), first.text);
    EXPECT_EQ(badge->Background(), first.background);
    EXPECT_TRUE(first.text.startsWith("NFIQ ") && first.text != "NFIQ ?");
    EXPECT_TRUE(w->SlotViewer(1)->rect().contains(
        badge->geometry().translated(w->SlotViewer(1)->viewport()->pos())))
        << "the mark lies on the slot";
    EXPECT_FALSE(w->ScoreBadge(2)->isVisible());

    w->amp_d[7]->trigger(); // "Medio Izquierdo"
    EXPECT_TRUE(w->ScoreBadge(8)->isVisible());
    EXPECT_EQ(w->ScoreBadge(8)->Text(), ScoreMark(w->QualityStatus(8), w->QualityScore(8)).text);
    EXPECT_TRUE(Line().startsWith("NFIQ Medio Izquierdo: ")) << Line().toStdString();

    ActivateMain();
    Click(w->btClear);
    for (int n = 1; n <= 10; ++n)
        EXPECT_FALSE(w->ScoreBadge(n)->isVisible()) << n;
}

// A ScanMan image dropped for its resolution, and one dropped by the busy rule, each leave one
// line in the log on stderr; the idle station also shows why in its message line.
TEST_F(SetIntegrity, DroppedScanManImagesLeaveALine) {
    Start(kScannerUareU);
    const QString line = Line();
    QStringList lines;
    {
        StderrCapture log;
        Deliver(Picture(200, 250, 1), 200, 250, 0);
        lines = log.Lines();
    }
    EXPECT_EQ(SlotFilesOnDisk(), QStringList());
    ASSERT_EQ(lines.size(), 1) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines[0].contains("Imagen de ScanMan descartada: resolución 0 no válida"))
        << lines[0].toStdString();
    EXPECT_EQ(Line(), lines[0].mid(lines[0].indexOf("Imagen de ScanMan")));

    w->ShowMessageLine(line);
    {
        StderrCapture log;
        {
            platform::BusyCursor busy; // as while "&Grabar" runs
            Deliver(Picture(200, 250, 2), 200, 250);
        }
        lines = log.Lines();
    }
    EXPECT_EQ(SlotFilesOnDisk(), QStringList());
    ASSERT_EQ(lines.size(), 1) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines[0].contains("Imagen de ScanMan descartada: la estación está ocupada"))
        << lines[0].toStdString();
    EXPECT_EQ(Line(), line);
}

// The disk fills while the card is written: the short card is never previewed, its file is
// gone, and the operator is told; with room the card is shown.
TEST_F(SetIntegrity, ACardWrittenShortIsNeverShown) {
    Start(kScannerUareU, {"REF-4"});
    WriteSlotPrint(File("fmodelo.bemepe"), 3600, 1600, 0);
    WriteNinePrints();
    WriteSlotPrint(File("dedo10.bmp"), 120, 150, 10);
    const FileSet before = SetFiles();
    int previews = 0;
    const auto previous = report::Report::SetPreviewHook([&](report::Report&) { ++previews; });
    {
        FileSizeLimit full(1 << 20); // a fifth of the card
        Click(w->btPrint);
    }
    EXPECT_EQ(previews, 0);
    ASSERT_EQ(messages.Requests.size(), 1u);
    EXPECT_EQ(messages.Requests[0].text, kCardNotWritten);
    EXPECT_EQ(SetFiles(), before) << "no card file is left";

    Click(w->btPrint);
    report::Report::SetPreviewHook(previous);
    EXPECT_EQ(previews, 1);
    EXPECT_EQ(messages.Requests.size(), 1u);
}
