// The capture window driven through the scanner simulator on the offscreen platform.
#include "Beeper.h"
#include "IntegratedBiometrics.h"
#include "TestSupport.h"

#include <IBScanSim.h>

#include <QFile>
#include <QImage>
#include <QScreen>
#include <QTest>

#include <memory>
#include <string>

namespace {

// A manual clock: nothing happens on the scanner until the test places a finger. Scanner 1
// is a WATSON whose captures wait for the test.
const std::string kOneWatson = "[sim]\nclock = manual\n"
                               "[scanner.1]\nmodel = WATSON\nserial = S1\n";

QString OverlayText(int scannerId, int overlay, uint32_t* colour = nullptr) {
    char text[2048] = {};
    uint32_t c = 0;
    IBSIM_GetOverlayText(scannerId, overlay, text, sizeof text, nullptr, nullptr, nullptr, nullptr,
                         nullptr, &c);
    if (colour)
        *colour = c;
    return QString::fromUtf8(text);
}

uint32_t Leds(int scannerId, int* setCount = nullptr) {
    uint32_t mask = 0;
    int n = 0;
    IBSIM_GetLEDs(scannerId, &mask, &n);
    if (setCount)
        *setCount = n;
    return mask;
}

class CaptureWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        FPreviousSink = platform::SetBeepSinkForTesting([this](const platform::BeepPattern& p) {
            for (int k = 0; k <= 3; ++k)
                if (CaptureBeepPattern(k) == p)
                    beeps.push_back(k);
        });
    }

    void TearDown() override {
        w.reset();
        IBSIM_SetNfiqLibrary(nullptr);
        platform::SetBeepSinkForTesting(FPreviousSink);
    }

    void Load(const std::string& scenario) {
        int line = 0;
        ASSERT_EQ(IBSIM_Reset(scenario.c_str(), &line), IBSU_STATUS_OK) << "line " << line;
    }

    // The window as both programs create it, with its status line recorded and the
    // request's events counted in order.
    void Create() {
        w = std::make_unique<TFIntegratedBiometrics>();
        QObject::connect(w->m_txtStatusMessage, &QLineEdit::textChanged,
                         [this](const QString& t) { statuses << t; });
        w->SetFingerName("Pulgar Derecho");
        w->SetOutputFile(wd.File("dedo1.bmp"));
        w->OnCaptureClosed = [this] { events << "closed"; };
        w->OnCaptureDone = [this] { events << "done"; };
        Settle();
    }

    // Runs every SDK event and posted message, the opening thread included.
    void Settle() {
        ASSERT_TRUE(QTest::qWaitFor([this] { return !w || !w->Opening(); }, 20000));
        for (int i = 0; i < 6; ++i) {
            IBSIM_WaitIdle();
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents();
        }
    }

    // Waits for something that takes the window's timers (the 50 ms close after a save).
    bool WaitFor(const std::function<bool()>& done) {
        return QTest::qWaitFor(
            [&] {
                IBSIM_WaitIdle();
                return done();
            },
            20000);
    }

    // Shows the window for a flat capture of the right thumb and settles: the scanner is
    // opened and the step begins.
    void StartFlat(int sequence = 1) {
        w->m_cboCaptureSeq->setCurrentIndex(sequence);
        w->show();
        Settle();
    }

    void Finger(std::vector<int> qualities = {1}) {
        ASSERT_EQ(IBSIM_PlaceFinger(1, qualities.data(), static_cast<int>(qualities.size())),
                  IBSU_STATUS_OK);
        Settle();
    }

    void Complete() {
        ASSERT_EQ(IBSIM_CompleteCapture(1), IBSU_STATUS_OK);
        Settle();
    }

    QColor Indicator(int place) const {
        return w->ScannerPicture().pixelColor(25 + 22 * place, 65);
    }

    ScopedWorkingDir wd;
    std::unique_ptr<TFIntegratedBiometrics> w;
    QStringList statuses;
    QStringList events;
    std::vector<int> beeps;

  private:
    platform::BeepSink FPreviousSink;
};

const QString kPrompt = "Por favor coloque el Pulgar Derecho en el scanner...";
const QColor kGrey(78, 78, 78), kGreen(0, 128, 0), kOrange(255, 165, 0), kRed(255, 0, 0);

} // namespace

TEST_F(CaptureWindow, ControlsTextsAndDefaults) {
    Load("[sim]\nclock = manual\n");
    Create();
    EXPECT_EQ(w->windowTitle(), "Captura Integrated Biometrics");
    EXPECT_EQ(w->size(), QSize(782, 457));
    EXPECT_EQ(w->GroupBox1->title(), "Scanners");
    EXPECT_EQ(w->GroupBox2->title(), "Modalidad de Captura");
    EXPECT_EQ(w->GroupBox3->title(), "Calidad");
    const struct {
        QCheckBox* box;
        const char* text;
        bool ticked;
    } checks[] = {
        {w->m_chkAutoContrast, "Optimización de contraste automática", true},
        {w->m_chkAutoCapture, "Captura automática de impresiones", true},
        {w->m_chkIgnoreFingerCount, "Alerta de cantidad invalida en auto-captura", false},
        {w->m_chkSaveImages, "Guardar", true},
        {w->m_chkUseClearPlaten, "Detectar superficie limpia", true},
        {w->m_chkDrawSegmentImage, "Dibujar rectangulo", true},
        {w->m_chkNFIQScore, "NFIQ", true},
        {w->m_chkInvalidArea, "Area invalida", false},
        {w->m_chkDetectSmear, "Detectar smear", true},
    };
    for (const auto& c : checks) {
        EXPECT_EQ(c.box->text(), QString::fromUtf8(c.text));
        EXPECT_EQ(c.box->isChecked(), c.ticked) << c.text;
    }
    EXPECT_EQ(w->m_btnCaptureStop->text(), "Detener");
    EXPECT_EQ(w->m_btnCaptureStart->text(), "Iniciar");
    EXPECT_FALSE(w->m_btnCaptureStart->isEnabled());
    EXPECT_FALSE(w->m_btnCaptureStop->isEnabled());
    EXPECT_EQ(w->m_staticContrast->text(), "Contraste");
    EXPECT_EQ(w->m_sliderContrast->minimum(), 0);
    EXPECT_EQ(w->m_sliderContrast->maximum(), 34);
    EXPECT_EQ(w->m_sliderContrast->tickInterval(), 5);
    EXPECT_FALSE(w->m_sliderContrast->isEnabled()); // automatic contrast is ticked
    EXPECT_FALSE(w->m_txtContrast->isEnabled());
    EXPECT_EQ(w->m_txtContrast->text(), "0");
    EXPECT_EQ(w->m_cboSmearLevel->count(), 3);
    EXPECT_EQ(w->m_cboSmearLevel->currentText(), "MEDIUM");
    EXPECT_EQ(w->m_txtStatusMessage->text(), "Listo");
    EXPECT_TRUE(w->m_txtNFIQScore->isReadOnly());
    EXPECT_EQ(w->m_picScanner->size(), QSize(115, 124));
    EXPECT_EQ(w->m_FrameImage->geometry(), QRect(296, 8, 473, 417));
    EXPECT_EQ(w->m_txtStatusMessage->geometry(), QRect(8, 432, 761, 21));
    EXPECT_EQ(w->m_cboUsbDevices->count(), 1);
    EXPECT_EQ(w->m_cboUsbDevices->itemText(0), "- Por favor seleccione -");
    EXPECT_EQ(w->m_cboCaptureSeq->count(), 1);
    EXPECT_EQ(w->m_cboCaptureSeq->itemText(0), "- Please select -");

    // No scanner: manual contrast changes nothing without an open scanner, and the slider
    // goes back to what its box shows; a show sets the title but starts nothing.
    w->m_chkAutoContrast->setChecked(false);
    EXPECT_TRUE(w->m_sliderContrast->isEnabled());
    w->m_sliderContrast->setFocus();
    QTest::keyClick(w->m_sliderContrast, Qt::Key_PageUp);
    EXPECT_EQ(w->m_txtContrast->text(), "0");
    EXPECT_EQ(w->m_sliderContrast->value(), 0);
    w->show();
    Settle();
    EXPECT_EQ(w->windowTitle(), "Capturando el Pulgar Derecho");
    EXPECT_EQ(w->DeviceHandle(), -1);
    EXPECT_EQ(w->m_txtStatusMessage->text(), "Listo");
}

TEST_F(CaptureWindow, OneScannerIsSelectedOpenedAndCaptured) {
    Load(kOneWatson);
    IBSIM_SetNfiqLibrary(FAKE_NFIQ_TWO);
    Create();
    EXPECT_EQ(w->m_cboUsbDevices->count(), 2);
    EXPECT_EQ(w->m_cboUsbDevices->currentIndex(), 1);
    EXPECT_EQ(w->m_cboUsbDevices->itemText(1), "WATSON_v1.0.0 (S1)");
    EXPECT_EQ(w->m_cboCaptureSeq->count(), 3);
    EXPECT_EQ(w->LastDeviceIndex(), -1); // a selection by the refresh is not a change

    StartFlat();
    int handle = -1;
    IBSIM_GetScannerHandle(1, &handle);
    ASSERT_NE(handle, -1);
    EXPECT_EQ(w->DeviceHandle(), handle);
    EXPECT_TRUE(statuses.contains("Iniciando el scanner... 100%"));
    EXPECT_EQ(w->windowTitle(), "Capturando el Pulgar Derecho");
    EXPECT_EQ(w->StepIndex(), 0);
    EXPECT_EQ(w->m_txtStatusMessage->text(), kPrompt);
    uint32_t colour = 0;
    EXPECT_EQ(OverlayText(1, w->TextOverlay(), &colour), kPrompt);
    EXPECT_EQ(colour, IBSU_RGB(0, 0, 255));
    EXPECT_EQ(OverlayText(1, 0), kPrompt); // the client window's own text
    EXPECT_EQ(Leds(1), 0x20000000u);
    int type = 0, resolution = 0, options = 0;
    IBSIM_GetLastCapture(1, &type, &resolution, &options);
    EXPECT_EQ(type, 2);
    EXPECT_EQ(resolution, 500);
    EXPECT_EQ(options, 1 | 2);
    EXPECT_EQ(w->m_btnCaptureStart->text(), "Capturando...");
    EXPECT_TRUE(w->m_btnCaptureStop->isEnabled());
    EXPECT_FALSE(w->m_cboUsbDevices->isEnabled());
    EXPECT_FALSE(w->m_chkUseClearPlaten->isEnabled()); // the scanner is open

    Finger({0, 1, 0, 0});
    EXPECT_EQ(w->FingerQuality(1), 1);
    EXPECT_EQ(Indicator(0), kGrey);
    EXPECT_EQ(Indicator(1), kGreen);
    Complete();
    ASSERT_TRUE(WaitFor([&] { return events.size() == 2; }));
    EXPECT_EQ(events, (QStringList{"closed", "done"}));
    EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(beeps, std::vector<int>{1});
    EXPECT_EQ(w->m_txtNFIQScore->text(), "0-2-0-0");
    EXPECT_TRUE(statuses.contains("Guardando la imagen..."));
    EXPECT_TRUE(statuses.contains("Obteniendo puntaje NFIQ..."));
    EXPECT_TRUE(statuses.contains("-- Dedo plano -- captura exitosa"));
    EXPECT_EQ(w->m_txtStatusMessage->text(), "Secuencia de captura abortada");
    EXPECT_EQ(w->StepIndex(), -1);
    EXPECT_EQ(Leds(1), 0u);
    int coords[8] = {}, width = 0;
    uint32_t lineColour = 0;
    IBSIM_GetOverlayQuadrangle(1, w->SegmentOverlay(0), coords, &width, &lineColour);
    EXPECT_EQ(width, 1);
    EXPECT_EQ(lineColour, IBSU_RGB(0, 128, 0));
    for (int k = 0; k < 8; k += 2) {
        EXPECT_GE(coords[k], 0);
        EXPECT_LE(coords[k], w->m_FrameImage->width());
    }
    IBSIM_GetOverlayQuadrangle(1, w->SegmentOverlay(1), coords, &width, &lineColour);
    EXPECT_EQ(width, 0);
    QImage saved(wd.File("dedo1.bmp"));
    EXPECT_EQ(saved.format(), QImage::Format_Indexed8);
    EXPECT_FALSE(saved.isNull());

    // A second request starts at once with the scanner still open.
    events.clear();
    w->RequestCapture(
        1, wd.File("dedo2.bmp"), "Indice Derecho", TFIntegratedBiometrics::kCentred,
        [this] { events << "done2"; }, [this] { events << "closed2"; });
    Settle();
    const QPoint screenMiddle = w->screen()->availableGeometry().center();
    EXPECT_LE((w->frameGeometry().center() - screenMiddle).manhattanLength(), 2);
    EXPECT_EQ(w->windowTitle(), "Capturando el Indice Derecho");
    EXPECT_EQ(w->StepIndex(), 0);
    EXPECT_EQ(w->m_txtStatusMessage->text(),
              "Por favor coloque el Indice Derecho en el scanner...");
    Finger();
    Complete();
    ASSERT_TRUE(WaitFor([&] { return events.size() == 2; }));
    EXPECT_EQ(events, (QStringList{"closed2", "done2"}));
    EXPECT_TRUE(QFile::exists(wd.File("dedo2.bmp")));
}

TEST_F(CaptureWindow, TwoScannersWaitForTheOperatorsChoice) {
    Load("[sim]\nclock = manual\n[scanner.1]\nmodel = WATSON\nserial = S1\n"
         "[scanner.2]\nmodel = COLUMBO\nserial = S2\nfirmware = 2.1\n"
         "[scanner.3]\nmodel =\nserial = S3\n");
    Create();
    ASSERT_EQ(w->m_cboUsbDevices->count(), 4);
    EXPECT_EQ(w->m_cboUsbDevices->itemText(2), "COLUMBO_v2.1 (S2)");
    EXPECT_EQ(w->m_cboUsbDevices->itemText(3), "Scanner desconocido");
    EXPECT_EQ(w->m_cboUsbDevices->currentIndex(), 0);
    EXPECT_EQ(w->m_cboCaptureSeq->count(), 1);
    w->m_cboCaptureSeq->setCurrentIndex(1); // not there: nothing is selected
    w->show();
    Settle();
    EXPECT_EQ(w->DeviceHandle(), -1); // "Iniciar" does nothing with the placeholder
    EXPECT_FALSE(w->Opening());

    const auto choose = [&](int position) {
        w->m_cboUsbDevices->setCurrentIndex(position);
        emit w->m_cboUsbDevices->activated(position);
        Settle();
    };
    choose(1);
    EXPECT_EQ(w->LastDeviceIndex(), 1);
    EXPECT_EQ(w->m_cboCaptureSeq->count(), 3);
    EXPECT_EQ(w->DeviceHandle(), -1); // chosen, not opened
    w->m_cboCaptureSeq->setCurrentIndex(2);
    choose(2); // COLUMBO has no "Dedo rodado": back to the placeholder
    EXPECT_EQ(w->m_cboCaptureSeq->count(), 2);
    EXPECT_EQ(w->m_cboCaptureSeq->currentIndex(), 0);
    w->m_cboCaptureSeq->setCurrentIndex(1);
    choose(1); // WATSON offers "Dedo plano" too: kept
    EXPECT_EQ(w->m_cboCaptureSeq->currentText(), "Dedo plano");

    w->m_btnCaptureStartClick();
    Settle();
    int handle = -1;
    IBSIM_GetScannerHandle(1, &handle);
    EXPECT_EQ(w->DeviceHandle(), handle);
    EXPECT_EQ(w->StepIndex(), 0);

    // Choosing again the position chosen last does nothing: the capture goes on.
    choose(1);
    EXPECT_EQ(w->StepIndex(), 0);
    EXPECT_EQ(w->DeviceHandle(), handle);

    // A refresh while capturing keeps the selection and leaves the buttons alone.
    IBSIM_DetachScanner(3);
    Settle();
    EXPECT_EQ(w->m_cboUsbDevices->count(), 3);
    EXPECT_EQ(w->m_cboUsbDevices->currentIndex(), 1);
    EXPECT_TRUE(w->m_btnCaptureStop->isEnabled());

    // Choosing another scanner stops and closes the open one, and opens nothing.
    w->m_btnCaptureStopClick();
    choose(2);
    EXPECT_EQ(w->DeviceHandle(), -1);
    IBSIM_GetScannerHandle(1, &handle);
    EXPECT_EQ(handle, -1);
    IBSIM_GetScannerHandle(2, &handle);
    EXPECT_EQ(handle, -1);

    // A refresh after a scanner before the chosen one went away still selects it by text.
    IBSIM_DetachScanner(1);
    Settle();
    EXPECT_EQ(w->m_cboUsbDevices->currentText(), "COLUMBO_v2.1 (S2)");
}

TEST_F(CaptureWindow, SequencesPerModel) {
    const struct {
        const char* model;
        int sequences;
    } cases[] = {{"WATSON", 2}, {"COLUMBO", 1}, {"CURVE", 1}, {"KOJAK", 7}, {"ODDBALL", 0}};
    for (const auto& c : cases) {
        Load(std::string("[sim]\nclock = manual\n[scanner.1]\nmodel = ") + c.model + "\n");
        Create();
        EXPECT_EQ(w->m_cboCaptureSeq->count(), c.sequences + 1) << c.model;
        QStringList items;
        for (int i = 1; i < w->m_cboCaptureSeq->count(); ++i)
            items << w->m_cboCaptureSeq->itemText(i);
        EXPECT_EQ(items, SequencesForModel(c.model)) << c.model;
        w.reset();
    }
}

TEST_F(CaptureWindow, RolledCaptureBeepsAndLights) {
    Load(kOneWatson);
    Create();
    w->m_chkSaveImages->setChecked(false); // stays open, so the LEDs after the result show
    StartFlat(2);
    EXPECT_EQ(Leds(1), 0x20000010u);
    Finger();
    EXPECT_EQ(w->Guidance(), "Cuando termine retire el dedo del scanner");
    EXPECT_EQ(beeps, std::vector<int>{2});
    Complete();
    EXPECT_EQ(beeps, (std::vector<int>{2, 2, 1}));
    EXPECT_EQ(Leds(1), 0x10u);
    EXPECT_EQ(w->m_txtStatusMessage->text(), "-- Dedo rodado -- captura exitosa");
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(events.isEmpty());
    EXPECT_FALSE(QFile::exists(wd.File("dedo1.bmp")));
    EXPECT_EQ(w->StepIndex(), 0); // stays on the step until "Detener"
}

TEST_F(CaptureWindow, ManualCaptureShowsTheLiteralSuffix) {
    Load(kOneWatson);
    Create();
    w->m_chkAutoCapture->setChecked(false);
    StartFlat();
    const QString suffix = "\\r\\nPress button \"Take Result Image\" when image is good!";
    EXPECT_EQ(OverlayText(1, w->TextOverlay()), kPrompt + suffix);
    EXPECT_EQ(w->m_txtStatusMessage->text(), kPrompt);
    int type = 0, resolution = 0, options = 0;
    IBSIM_GetLastCapture(1, &type, &resolution, &options);
    EXPECT_EQ(options, 1);
    Finger();
    w->m_btnCaptureStart->click(); // takes the image by hand
    ASSERT_TRUE(WaitFor([&] { return events.size() == 2; }));
    EXPECT_TRUE(QFile::exists(wd.File("dedo1.bmp")));
}

TEST_F(CaptureWindow, ResultStatuses) {
    const struct {
        int status;
        int beep;
        bool saved;
        const char* text;
    } cases[] = {
        {0, 1, true, "-- Dedo plano -- captura exitosa"},
        {IBSU_WRN_QUALITY_INVALID_AREA, 1, true,
         "-- Dedo plano -- advertencia de captura (Código = 100)"},
        {IBSU_ERR_CAPTURE_FAILED, 0, false, nullptr},
    };
    for (const auto& c : cases) {
        Load(kOneWatson);
        Create();
        StartFlat();
        IBSIM_ForceResult(1, c.status, -1, -1);
        Finger();
        Complete();
        if (c.saved)
            ASSERT_TRUE(WaitFor([&] { return events.size() == 2; })) << c.status;
        EXPECT_EQ(beeps, std::vector<int>{c.beep}) << c.status;
        EXPECT_EQ(QFile::exists(wd.File("dedo1.bmp")), c.saved) << c.status;
        if (c.text)
            EXPECT_TRUE(statuses.contains(QString::fromUtf8(c.text))) << c.status;
        if (!c.saved) {
            // The window stays on the step and says why, in the status line and in red over
            // the preview: the error beeps are all there is without a sound device.
            EXPECT_TRUE(w->isVisible());
            EXPECT_TRUE(events.isEmpty());
            EXPECT_EQ(w->StepIndex(), 0);
            const QString error = "-- Dedo plano -- error de captura (Código = -304)";
            EXPECT_EQ(w->m_txtStatusMessage->text(),
                      error + ": presione \"Detener\" y luego \"Iniciar\" para repetir");
            uint32_t colour = 0;
            EXPECT_EQ(OverlayText(1, w->TextOverlay(), &colour), error);
            EXPECT_EQ(colour, IBSU_RGB(255, 0, 0));
        }
        w.reset();
        QFile::remove(wd.File("dedo1.bmp"));
        beeps.clear();
        events.clear();
        statuses.clear();
    }
}

TEST_F(CaptureWindow, SegmentsAndNfiqBox) {
    const struct {
        const char* library;
        std::vector<int> qualities;
        int segments;
        const char* box;
        bool outlined;
    } cases[] = {
        {FAKE_NFIQ_TWO, {0, 1, 0, 0}, 1, "0-2-0-0", true},
        {FAKE_NFIQ_FAIL_LIB, {1, 0, 0, 0}, 1, "-1-0-0-0", true},
        // No segments: the whole image is saved, nothing is outlined, and a finger without
        // a segment to score shows -1.
        {FAKE_NFIQ_TWO, {1, 0, 0, 0}, 0, "-1-0-0-0", false},
    };
    for (const auto& c : cases) {
        Load(kOneWatson);
        IBSIM_SetNfiqLibrary(c.library);
        Create();
        StartFlat();
        IBSIM_ForceResult(1, 0, 1, c.segments);
        Finger(c.qualities);
        Complete();
        ASSERT_TRUE(WaitFor([&] { return events.size() == 2; }));
        EXPECT_EQ(w->m_txtNFIQScore->text(), c.box);
        int coords[8] = {}, width = 0;
        uint32_t colour = 0;
        IBSIM_GetOverlayQuadrangle(1, w->SegmentOverlay(0), coords, &width, &colour);
        EXPECT_EQ(width, c.outlined ? 1 : 0) << c.box;
        const QImage saved(wd.File("dedo1.bmp"));
        EXPECT_EQ(saved.width() == 800 && saved.height() == 750, c.segments == 0)
            << saved.width() << "x" << saved.height();
        w.reset();
        events.clear();
    }
}

TEST_F(CaptureWindow, ExcessQualitiesAndSegmentsAreLeftOut) {
    Load("[sim]\nclock = manual\n[scanner.1]\nmodel = KOJAK\n");
    IBSIM_SetNfiqLibrary(FAKE_NFIQ_TWO);
    Create();
    StartFlat(4); // four flat fingers
    ASSERT_EQ(w->StepIndex(), 0);
    IBSIM_ForceResult(1, 0, 6, 6);
    Finger({1, 2, 3, 1, 1, 1});
    EXPECT_EQ(Indicator(2), kRed);
    EXPECT_EQ(w->FingerQuality(3), 1);
    Finger({1, 2, 1, 1, 1, 1}); // good enough for automatic capture
    Complete();
    ASSERT_TRUE(WaitFor([&] { return events.size() == 2; }));
    EXPECT_EQ(w->m_txtNFIQScore->text(), "2-2-2-2");
    for (int i = 0; i < 4; ++i) {
        int coords[8] = {}, width = 0;
        IBSIM_GetOverlayQuadrangle(1, w->SegmentOverlay(i), coords, &width, nullptr);
        EXPECT_EQ(width, 1) << i;
    }
}

TEST_F(CaptureWindow, QualityIndicators) {
    Load(kOneWatson);
    Create();
    StartFlat();
    Finger({1, 2, 3, 0});
    EXPECT_EQ(Indicator(0), kGreen);
    EXPECT_EQ(Indicator(1), kOrange);
    EXPECT_EQ(Indicator(2), kRed);
    EXPECT_EQ(Indicator(3), kGrey);
    // An unknown value in place 0 stops the painting: every place keeps its colour.
    Finger({7, 0, 0, 0});
    EXPECT_EQ(Indicator(0), kGreen);
    EXPECT_EQ(Indicator(1), kOrange);
    // Further places stop only from the unknown one on.
    Finger({0, 9, 0, 0});
    EXPECT_EQ(Indicator(0), kGrey);
    EXPECT_EQ(Indicator(1), kOrange);
}

TEST_F(CaptureWindow, PlatenAlertBlinksUntilCleared) {
    Load(kOneWatson + "[capture]\nplaten_dirty = 1\n");
    Create();
    StartFlat();
    ASSERT_TRUE(w->PlatenAlert());
    const QString alert = "Por favor primero quite el dedo de la superficie del scanner!";
    EXPECT_EQ(w->m_txtStatusMessage->text(), alert);
    uint32_t colour = 0;
    EXPECT_EQ(OverlayText(1, w->TextOverlay(), &colour), alert);
    EXPECT_EQ(colour, IBSU_RGB(255, 0, 0));
    QColor seen[2];
    for (auto& s : seen) {
        w->Timer_StatusFingerQualityTimer();
        s = Indicator(0);
        EXPECT_EQ(Indicator(3), s);
    }
    EXPECT_EQ(std::set<QRgb>({seen[0].rgb(), seen[1].rgb()}),
              std::set<QRgb>({kRed.rgb(), kGrey.rgb()}));

    IBSIM_SetPlatenDirty(1, 0);
    Settle();
    EXPECT_FALSE(w->PlatenAlert());
    EXPECT_EQ(w->m_txtStatusMessage->text(), kPrompt);
    EXPECT_EQ(OverlayText(1, w->TextOverlay(), &colour), kPrompt);
    EXPECT_EQ(colour, IBSU_RGB(0, 0, 255));
    Finger({1});
    EXPECT_EQ(Indicator(0), kGreen);
}

TEST_F(CaptureWindow, ScannerLostIsClosedAfterBusyRetries) {
    Load(kOneWatson);
    Create();
    StartFlat();
    ASSERT_EQ(w->StepIndex(), 0);
    IBSIM_ForceCloseBusy(1, 3);
    IBSIM_DetachScanner(1);
    Settle();
    ASSERT_TRUE(WaitFor([&] { return w->DeviceHandle() == -1; }));
    Settle();
    EXPECT_TRUE(statuses.contains("Se perdió la comunicación con el scanner"));
    EXPECT_EQ(w->StepIndex(), -1);
    EXPECT_EQ(beeps, std::vector<int>{3});
    EXPECT_EQ(w->m_cboUsbDevices->count(), 1);
    EXPECT_TRUE(events.isEmpty());
}

TEST_F(CaptureWindow, ScannerPluggedInAgainCanCaptureAtOnce) {
    Load(kOneWatson);
    Create();
    StartFlat();
    Finger({1, 2, 0, 0});
    ASSERT_EQ(Indicator(0), kGreen);
    IBSIM_DetachScanner(1);
    ASSERT_TRUE(WaitFor([&] { return w->DeviceHandle() == -1; }));
    Settle();
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(Indicator(i), kGrey) << i;
    EXPECT_FALSE(w->m_btnCaptureStart->isEnabled());

    int id = 0;
    ASSERT_EQ(IBSIM_AttachScanner("WATSON", "S1", nullptr, &id), IBSU_STATUS_OK);
    Settle();
    EXPECT_EQ(w->m_cboUsbDevices->currentIndex(), 1);
    EXPECT_EQ(w->m_cboCaptureSeq->currentText(), "Dedo plano");
    ASSERT_TRUE(w->m_btnCaptureStart->isEnabled());
    QTest::mouseClick(w->m_btnCaptureStart, Qt::LeftButton);
    Settle();
    EXPECT_EQ(w->StepIndex(), 0);
    EXPECT_EQ(w->m_txtStatusMessage->text(), kPrompt);
}

TEST_F(CaptureWindow, ClosingIsRefusedWhileOpening) {
    Load("[sim]\nclock = realtime\n[scanner.1]\nmodel = WATSON\nopen_ms = 400\n");
    Create();
    w->m_cboCaptureSeq->setCurrentIndex(1);
    w->show();
    ASSERT_TRUE(w->Opening());
    EXPECT_EQ(w->m_btnCaptureStart->text(), "");
    w->close();
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(events.isEmpty());
    Settle();
    ASSERT_EQ(w->StepIndex(), 0);
    w->close();
    EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(events, QStringList{"closed"});
    EXPECT_FALSE(QFile::exists(wd.File("dedo1.bmp")));
    EXPECT_EQ(w->m_txtStatusMessage->text(), "Secuencia de captura abortada");
}

TEST_F(CaptureWindow, RequestWhileVisibleKeepsTheRunningStep) {
    Load(kOneWatson);
    Create();
    StartFlat();
    IBSIM_ForceResult(1, IBSU_ERR_CAPTURE_NO_FINGER, -1, -1);
    Finger();
    Complete();
    ASSERT_TRUE(w->isVisible());
    w->RequestCapture(
        1, wd.File("other.bmp"), "Medio Izquierdo", 0, [this] { events << "done2"; },
        [this] { events << "closed2"; });
    Settle();
    // The running step stays, and the window names the new request's finger at once.
    EXPECT_EQ(w->windowTitle(), "Capturando el Medio Izquierdo");
    EXPECT_EQ(w->StepIndex(), 0);
    EXPECT_EQ(w->m_txtStatusMessage->text(),
              "Por favor coloque el Medio Izquierdo en el scanner...");
    EXPECT_EQ(w->Guidance(), "Por favor coloque el Medio Izquierdo en el scanner...");
    // The operator starts again; the good result goes to the new request.
    w->m_btnCaptureStop->click();
    w->m_btnCaptureStart->click();
    Settle();
    EXPECT_EQ(w->m_txtStatusMessage->text(),
              "Por favor coloque el Medio Izquierdo en el scanner...");
    IBSIM_LiftFinger(1);
    Finger();
    Complete();
    ASSERT_TRUE(WaitFor([&] { return events.size() == 2; }));
    EXPECT_EQ(events, (QStringList{"closed2", "done2"}));
    EXPECT_TRUE(QFile::exists(wd.File("other.bmp")));
    EXPECT_FALSE(QFile::exists(wd.File("dedo1.bmp")));
}

TEST_F(CaptureWindow, OpenResults) {
    const struct {
        int result;
        const char* status;
    } cases[] = {
        {IBSU_ERR_DEVICE_ACTIVE, "[Error code = -203] Device initialization failed because in "
                                 "use by another thread/process."},
        {IBSU_ERR_DEVICE_NEEDS_USB20, "[Error code = -209] Device initialization failed because "
                                      "SDK only works with USB 2.0."},
        {IBSU_ERR_DEVICE_IO, "[Error code = -200] Device initialization failed"},
        {IBSU_WRN_OLD_FIRMWARE, nullptr}, // open, waiting for "Iniciar"
    };
    const QString waiting =
        "Scanner abierto con advertencia (Código = 2): presione \"Iniciar\" para capturar";
    for (const auto& c : cases) {
        Load(kOneWatson);
        IBSIM_ForceOpenResult(1, c.result);
        Create();
        StartFlat();
        EXPECT_EQ(w->StepIndex(), -1) << c.result;
        EXPECT_EQ(w->m_btnCaptureStart->text(), "Iniciar");
        if (c.status) {
            EXPECT_EQ(w->m_txtStatusMessage->text(), c.status);
            EXPECT_EQ(w->DeviceHandle(), -1);
        } else {
            EXPECT_NE(w->DeviceHandle(), -1);
            EXPECT_EQ(w->m_txtStatusMessage->text(), waiting);
            EXPECT_TRUE(w->m_btnCaptureStart->isEnabled());
            w->m_btnCaptureStart->click();
            Settle();
            EXPECT_EQ(w->StepIndex(), 0);
        }
        w.reset();
    }
}

TEST_F(CaptureWindow, StepFailures) {
    // The scanner cannot roll: the mode is refused and the sequence ends.
    Load("[sim]\nclock = manual\n[scanner.1]\nmodel = WATSON\ntypes = 2\n");
    Create();
    StartFlat(2);
    EXPECT_EQ(w->m_txtStatusMessage->text(), "El modo de captura (1) no está disponible");
    EXPECT_EQ(w->StepIndex(), -1);
    w.reset();

    // The capture does not begin: the step stays current until "Detener".
    Load(kOneWatson);
    IBSIM_ForceBeginResult(1, IBSU_ERR_DEVICE_IO);
    Create();
    StartFlat();
    EXPECT_EQ(w->m_txtStatusMessage->text(), "Failed to execute IBSU_BeginCaptureImage()");
    EXPECT_EQ(w->StepIndex(), 0);
    EXPECT_TRUE(w->m_btnCaptureStop->isEnabled());
    int before = 0;
    Leds(1, &before);
    w->m_btnCaptureStop->click();
    int after = 0;
    EXPECT_EQ(Leds(1, &after), 0u);
    EXPECT_EQ(after, before + 1);
    EXPECT_EQ(w->StepIndex(), -1);
    EXPECT_EQ(w->m_txtStatusMessage->text(), "Secuencia de captura abortada");
    EXPECT_EQ(w->Guidance(), " ");
    // Stop while idle with the scanner open still turns the LEDs off.
    w->m_btnCaptureStopClick();
    Leds(1, &before);
    EXPECT_EQ(before, after + 1);
}

TEST_F(CaptureWindow, StartsThatMustNotBuild) {
    // No sequence selected: refused with a word to the operator.
    Load(kOneWatson);
    Create();
    StartFlat(0);
    EXPECT_EQ(w->StepIndex(), -1);
    EXPECT_EQ(w->m_txtStatusMessage->text(), "Por favor seleccione una secuencia de captura");
    int type = -1, resolution = 0, options = 0;
    IBSIM_GetLastCapture(1, &type, &resolution, &options);
    EXPECT_EQ(type, 0);

    // A second start before the first is handled starts one capture, not a finished sequence.
    w->m_cboCaptureSeq->setCurrentIndex(1);
    w->m_btnCaptureStartClick();
    w->m_btnCaptureStartClick();
    Settle();
    EXPECT_EQ(w->StepIndex(), 0);
    int active = 0;
    IBSU_IsCaptureActive(w->DeviceHandle(), &active);
    EXPECT_TRUE(active);

    // A stop before the posted start is handled leaves the window idle.
    w->m_btnCaptureStopClick();
    w->m_btnCaptureStartClick();
    w->close();
    Settle();
    EXPECT_EQ(w->StepIndex(), -1);
    IBSU_IsCaptureActive(w->DeviceHandle(), &active);
    EXPECT_FALSE(active);
}

TEST_F(CaptureWindow, ContrastWithOpenScanner) {
    Load(kOneWatson);
    Create();
    StartFlat();
    w->m_chkAutoContrast->setChecked(false);
    w->m_sliderContrast->setValue(12);
    EXPECT_EQ(w->m_txtContrast->text(), "12");
    int contrast = 0;
    IBSIM_GetContrast(1, &contrast);
    EXPECT_EQ(contrast, 12);
}

// The score box shows the finger last captured, never the one before it.
TEST_F(CaptureWindow, NfiqBoxIsClearedWhenTheNextCaptureBegins) {
    Load(kOneWatson);
    IBSIM_SetNfiqLibrary(FAKE_NFIQ_TWO);
    Create();
    StartFlat();
    IBSIM_ForceResult(1, 0, 1, 1);
    Finger({1, 0, 0, 0});
    Complete();
    ASSERT_TRUE(WaitFor([&] { return events.size() == 2; }));
    ASSERT_EQ(w->m_txtNFIQScore->text(), "2-0-0-0");
    w->SetFingerName("Indice Derecho");
    w->show();
    Settle();
    ASSERT_EQ(w->StepIndex(), 0);
    EXPECT_EQ(w->m_txtNFIQScore->text(), "");
}

TEST_F(CaptureWindow, OperatorCloseDuringStepCallsOnlyClosed) {
    Load(kOneWatson);
    Create();
    StartFlat();
    Finger();
    w->close();
    Settle();
    EXPECT_EQ(events, QStringList{"closed"});
    EXPECT_FALSE(QFile::exists(wd.File("dedo1.bmp")));
    EXPECT_EQ(Leds(1), 0u);
    IBSIM_CompleteCapture(1); // the cancelled capture delivers nothing more
    Settle();
    QTest::qWait(100);
    EXPECT_EQ(events, QStringList{"closed"});
}

TEST_F(CaptureWindow, DefaultScenarioRequestEndToEnd) {
    Load(""); // replaced below by the built-in default
    ASSERT_EQ(IBSIM_Reset(nullptr, nullptr), IBSU_STATUS_OK);
    Create();
    w->RequestCapture(
        1, "dedo1.bmp", "Pulgar Derecho", 40, [this] { events << "done"; },
        [this] { events << "closed"; });
    EXPECT_EQ(w->windowTitle(), "Capturando el Pulgar Derecho");
    EXPECT_EQ(w->frameGeometry().top(), 40);
    ASSERT_TRUE(WaitFor([&] { return events.size() == 2; }));
    EXPECT_EQ(events, (QStringList{"closed", "done"}));
    QFile f(wd.File("dedo1.bmp"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray head = f.read(54);
    ASSERT_EQ(head.size(), 54);
    EXPECT_EQ(head.left(2), "BM");
    const auto le32 = [&](int at) {
        return static_cast<quint32>(static_cast<uchar>(head[at])) |
               static_cast<quint32>(static_cast<uchar>(head[at + 1])) << 8 |
               static_cast<quint32>(static_cast<uchar>(head[at + 2])) << 16 |
               static_cast<quint32>(static_cast<uchar>(head[at + 3])) << 24;
    };
    EXPECT_EQ(le32(10), 1078u);                  // pixel data offset
    EXPECT_EQ(static_cast<uchar>(head[28]), 8u); // bits per pixel
    EXPECT_EQ(QImage(wd.File("dedo1.bmp")).format(), QImage::Format_Indexed8);
}

TEST_F(CaptureWindow, Screenshot) {
    // Mid-capture after a good result (kept open: "Guardar" clear), with the rectangle, the
    // NFIQ box and the indicators showing.
    Load(kOneWatson);
    IBSIM_SetNfiqLibrary(FAKE_NFIQ_TWO);
    Create();
    w->m_chkSaveImages->setChecked(false);
    StartFlat();
    Finger({0, 1, 0, 0});
    Complete();
    QTest::qWait(50); // let the preview take the last picture
    const QImage shot = w->grab().toImage();
    ASSERT_FALSE(shot.isNull());
    EXPECT_EQ(shot.size(), QSize(782, 457));
    const QByteArray target = qgetenv("CAPTURE_SCREENSHOT");
    if (!target.isEmpty())
        EXPECT_TRUE(shot.save(QString::fromLocal8Bit(target)));
}
