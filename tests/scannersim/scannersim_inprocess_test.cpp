// The scanner simulator's control channel and trainer panel in-process, and a scripted
// failure seen in the capture window. Kept apart from the tests that start programs: in a
// process that has started others, ThreadSanitizer loses track of the simulator's lock.
#include "IntegratedBiometrics.h"
#include "ScannerSimPanel.h"
#include "TestSupport.h"

#include <IBScanSim.h>
#include <SimChannel.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

TEST(ScannerSimScenario, ScriptedBeginFailureShowsInTheCaptureWindow) {
    ScopedWorkingDir wd;
    int line = 0;
    ASSERT_EQ(IBSIM_Reset("[sim]\nclock = manual\n[scanner.1]\nmodel = WATSON\n"
                          "begin_result = -3\n",
                          &line),
              IBSU_STATUS_OK)
        << line;
    auto w = std::make_unique<TFIntegratedBiometrics>();
    w->SetFingerName("Pulgar Derecho");
    w->SetOutputFile(wd.File("dedo1.bmp"));
    for (int i = 0; i < 6; ++i) { // the scanner list fills through posted events
        IBSIM_WaitIdle();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
    w->m_cboCaptureSeq->setCurrentIndex(1);
    w->show();
    const auto settled = [&] {
        IBSIM_WaitIdle();
        QCoreApplication::processEvents();
        return !w->Opening() &&
               w->m_txtStatusMessage->text() == "Failed to execute IBSU_BeginCaptureImage()";
    };
    EXPECT_TRUE(QTest::qWaitFor(settled, 20000)) << w->m_txtStatusMessage->text().toStdString();
    int active = 1, handle = -1;
    IBSIM_GetScannerHandle(1, &handle);
    IBSU_IsCaptureActive(handle, &active);
    EXPECT_EQ(active, 0);
    w.reset();
    IBSIM_Reset("", nullptr);
}

TEST(ScannerSimChannel, CommandsSayWhatIsWrong) {
    ASSERT_EQ(IBSIM_Reset("[sim]\nclock = manual\n[scanner.1]\nmodel = WATSON\n", nullptr),
              IBSU_STATUS_OK);
    const std::string path =
        simchannel::folder(false) + "/ibscan-" + std::to_string(getpid()) + ".sock";
    struct Case {
        const char* command;
        const char* answer; // start of the answer's first line
    } cases[] = {
        {"help", "ok"},
        {"place good fair", "ok"},
        {"lift", "ok"},
        {"place wobbly", "error: bad quality 'wobbly'; expected good, fair, poor"},
        {"platen sideways", "error: platen takes dirty or clean"},
        {"count lots", "error: count takes ok, many, few or none"},
        {"key", "error: unknown command or wrong arguments: 'key'"},
        {"jump", "error: unknown command or wrong arguments: 'jump'; commands:"},
        {"@x place", "error: '@x' names no scanner"},
        {"@7 lift", "error: lift: device not found (-201)"},
        {"unplug 1 2", "error: unplug takes one scanner id"},
        {"unplug 1", "ok"},
        {"unplug 1", "error: unplug: device lost (-204)"},
        {"place", "error: no scanner is attached"},
        {"plug 1", "ok"},
        {"plug 1", "error: plug: device in use"},
    };
    std::vector<std::string> lines;
    for (const auto& c : cases)
        lines.push_back(c.command);
    std::vector<std::string> answers;
    std::string error;
    ASSERT_TRUE(simchannel::request(path, lines, answers, error)) << error;
    ASSERT_EQ(answers.size(), lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(answers[i].rfind(cases[i].answer, 0), 0u)
            << cases[i].command << " -> " << answers[i];
    // The scanner plugged in again is scanner 1 as the scenario described it.
    ASSERT_TRUE(simchannel::request(path, {"status"}, answers, error)) << error;
    EXPECT_NE(answers[0].find("scanner 1 model=\"WATSON\" serial=\"SIM1001\" attached=1"),
              std::string::npos)
        << answers[0];
    IBSIM_Reset("", nullptr);
}

TEST(ScannerSimPanelTest, ButtonsActAndTheFaceShowsLedsAndPrompt) {
    ASSERT_EQ(IBSIM_Reset("[sim]\nclock = manual\n[scanner.1]\nmodel = KOJAK\n", nullptr),
              IBSU_STATUS_OK);
    int h = -1;
    ASSERT_EQ(IBSU_OpenDevice(0, &h), IBSU_STATUS_OK);
    ASSERT_EQ(IBSU_BeginCaptureImage(h, IBSU_FLAT_FOUR_FINGERS, 500, 0), IBSU_STATUS_OK);
    const uint32_t mask = IBSU_LED_F_BLINK_RED | IBSU_LED_F_RIGHT_INDEX_RED;
    ASSERT_EQ(IBSU_SetLEDs(h, mask), IBSU_STATUS_OK);
    int overlay = 0;
    ASSERT_EQ(IBSU_AddOverlayText(h, &overlay, "Arial", 10, 1, "Ponga los cuatro dedos", 10, 10, 0),
              IBSU_STATUS_OK);

    ScannerSimPanel panel(getpid());
    panel.Poll();
    EXPECT_EQ(panel.Leds(), mask);
    EXPECT_EQ(panel.Prompt(), "Ponga los cuatro dedos");
    EXPECT_TRUE(panel.State().startsWith("\"KOJAK\" \"SIM1001\" — conectado, capturando"))
        << panel.State().toStdString();

    auto click = [&](const char* name) {
        auto* b = panel.findChild<QPushButton*>(name);
        ASSERT_NE(b, nullptr) << name;
        b->click();
        IBSIM_WaitIdle();
    };
    auto status = [&] {
        std::vector<std::string> answers;
        std::string error;
        simchannel::request(simchannel::folder(false) + "/ibscan-" + std::to_string(getpid()) +
                                ".sock",
                            {"status"}, answers, error);
        return answers.empty() ? error : answers[0];
    };
    // A poor finger on each of the four places of the running capture.
    click("placePoor");
    EXPECT_NE(status().find("finger=1 platen=clean count_state=0 qualities=3,3,3,3"),
              std::string::npos)
        << status();
    EXPECT_TRUE(panel.State().endsWith(", dedo puesto")) << panel.State().toStdString();
    click("lift");
    EXPECT_NE(status().find("finger=0"), std::string::npos) << status();
    click("dirty");
    EXPECT_NE(status().find("platen=dirty"), std::string::npos) << status();
    click("clean");
    click("unplug");
    EXPECT_NE(status().find("attached=0"), std::string::npos) << status();
    EXPECT_EQ(panel.Leds(), 0u) << "an unplugged scanner shows no light";
    click("plug");
    EXPECT_NE(status().find("attached=1"), std::string::npos) << status();
    click("plug"); // already plugged in: said on the panel
    auto* said = panel.findChild<QLabel*>("status");
    ASSERT_NE(said, nullptr);
    EXPECT_TRUE(said->text().startsWith("error: plug: device in use"))
        << said->text().toStdString();
    IBSIM_Reset("", nullptr);
}
