// Yemario on its real windows against the simulated scanners, in-process through RunYemario,
// and once as the real program.
#include "IntegratedBiometrics.h"
#include "StationHarness.h"
#include "UYemario.h"

#include <QProcess>
#include <QTimer>

namespace {

class Yemario : public ::testing::Test {
  protected:
    void SetUp() override {
        qputenv("SCANMAN_BACKEND", "sim");
        qputenv("SCANMAN_DROP_DIR", "-");
        qunsetenv("SCANMAN_SCENARIO");
        ASSERT_EQ(IBSIM_Reset(nullptr, nullptr), IBSU_STATUS_OK);
        ASSERT_EQ(IBSIM_SetClock(IBSIM_CLOCK_IMMEDIATE), IBSU_STATUS_OK);
    }
    void Settings(int scannerType, bool flips = false) {
        QFile ini(folder.wd.File("TrazelIB.INI"));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write(QStringLiteral("[Config]\nScannerType=%1\nflip_hor=%2\nflip_ver=%2\n")
                      .arg(scannerType)
                      .arg(flips ? 1 : 0)
                      .toLatin1());
    }
    // Runs the program; `during` runs once its windows exist (before the start timer).
    int Run(const QStringList& args, std::function<void()> during = {}) {
        // The splash lets timers run before the windows exist: wait for them.
        std::function<void()> attach = [&] {
            if (!FYemario || !FIntegratedBiometrics) {
                if (!finished)
                    QTimer::singleShot(0, attach);
                return;
            }
            FIntegratedBiometrics->installEventFilter(&watch);
            caption = FYemario->windowTitle();
            if (during)
                during();
        };
        finished = false;
        caption.clear();
        QTimer::singleShot(0, attach);
        const int rc = RunYemario(args);
        finished = true;
        QCoreApplication::processEvents();
        return rc;
    }

    struct Watch : QObject {
        QString finger, caption;
        int sequence = -1;
        bool centred = false;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Show) {
                finger = FIntegratedBiometrics->FingerName();
                sequence = FIntegratedBiometrics->m_cboCaptureSeq->currentIndex();
                caption = FYemario->windowTitle();
                const QRect screen = FIntegratedBiometrics->screen()->availableGeometry();
                centred = std::abs(FIntegratedBiometrics->frameGeometry().center().y() -
                                   screen.center().y()) <= 1;
            }
            return false;
        }
    } watch;
    ScratchProgramFolder folder;
    QString caption;
    bool finished = true;
};

} // namespace

TEST_F(Yemario, IbCaptureWritesHuellaAndEnds) {
    Settings(0);
    EXPECT_EQ(Run({"Pulgar Derecho"}), 0);
    EXPECT_EQ(watch.caption, "Yemario v1.07 - Pulgar Derecho");
    EXPECT_EQ(watch.finger, "dedo Pulgar Derecho");
    EXPECT_EQ(watch.sequence, 1);
    EXPECT_TRUE(watch.centred);
    const QImage print("huella.bmp");
    ASSERT_FALSE(print.isNull());
    EXPECT_EQ(print.format(), QImage::Format_Indexed8);
}

TEST_F(Yemario, CaptionAndFingerNameFollowTheArguments) {
    Settings(1);
    EXPECT_EQ(Run({}), 0);
    EXPECT_EQ(watch.caption, "Yemario v1.07");
    EXPECT_EQ(watch.finger, "dedo ");
    EXPECT_EQ(watch.sequence, 2);
    EXPECT_EQ(Run({"Indice", "sobra"}), 0);
    EXPECT_EQ(watch.caption, "Yemario v1.07");
    EXPECT_EQ(watch.finger, "dedo Indice");
}

TEST_F(Yemario, ScanManTypeWaitsForSalirAndLeavesNoOldFile) {
    Settings(2);
    QFile old("huella.bmp");
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("an earlier run's print");
    old.close();
    bool goneAtStart = false, stillOpen = false;
    EXPECT_EQ(Run({"Pulgar"},
                  [&] {
                      goneAtStart = !QFile::exists("huella.bmp");
                      QTimer::singleShot(400, [&] {
                          stillOpen = FYemario->isVisible();
                          FYemario->miSalirClick();
                      });
                  }),
              0);
    EXPECT_TRUE(goneAtStart);
    EXPECT_TRUE(stillOpen);
    EXPECT_TRUE(watch.finger.isEmpty());  // no capture window
    EXPECT_FALSE(QFile::exists("huella.bmp"));
}

TEST_F(Yemario, ScanManImageWinsWhileTheCaptureWindowWaits) {
    Settings(1, true);
    ASSERT_EQ(IBSIM_SetClock(IBSIM_CLOCK_MANUAL), IBSU_STATUS_OK);  // the IB capture never ends
    bool captureOpen = false;
    EXPECT_EQ(Run({"Pulgar"},
                  [&] {
                      QTimer::singleShot(300, [&] {
                          captureOpen = FIntegratedBiometrics->isVisible();
                          const auto px = MarkedPicture(400, 500);
                          SMSimDeliver(nullptr, 400, 500, px.data(), 500);
                      });
                  }),
              0);
    EXPECT_TRUE(captureOpen);
    ASSERT_TRUE(QFile::exists("huella.bmp"));
    EXPECT_EQ(BmpPixel("huella.bmp", 399, 499), 10);  // both flips: half a turn
    EXPECT_NE(BmpPixel("huella.bmp", 0, 0), 10);
}

TEST_F(Yemario, FailingScannerLibraryEndsWithCodeOneBeforeAnyWindow) {
    QFile scenario(folder.wd.File("scanman.scn"));
    ASSERT_TRUE(scenario.open(QIODevice::WriteOnly));
    scenario.write("fail-initialize -1\n");
    scenario.close();
    qputenv("SCANMAN_SCENARIO", folder.wd.File("scanman.scn").toLocal8Bit());
    MessageRecorder boxes;
    EXPECT_EQ(Run({"Pulgar"}), 1);
    qunsetenv("SCANMAN_SCENARIO");
    ASSERT_EQ(boxes.Requests.size(), 1u);
    EXPECT_FALSE(boxes.Requests[0].text.isEmpty());
    EXPECT_TRUE(caption.isEmpty());  // no window was made
    EXPECT_EQ(FYemario, nullptr);
}

TEST(YemarioProgram, DefaultSettingsLeaveAnUprightPrint) {
    // The real program, copied into a scratch program folder with its libraries beside it.
    ScopedWorkingDir wd;
    const QString bin = QStringLiteral(STATION_BIN_DIR);
    ASSERT_TRUE(QFile::copy(bin + "/Yemario", wd.File("Yemario")));
    for (const char* lib : {"libIBScanUltimate.so", "libScanMan.so", "libGBNFIQ.so",
                            "libWSQPACK.so"})
        QFile::link(bin + "/" + lib, wd.File(lib));
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("SCANMAN_DROP_DIR", "-");
    env.remove("SCANMAN_SCENARIO");
    env.remove("IBSCAN_SIM_SCENARIO");
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(wd.Path());
    p.start(wd.File("Yemario"), {"Pulgar Derecho"});
    ASSERT_TRUE(p.waitForFinished(60000)) << "Yemario did not end";
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    const QImage print(wd.File("huella.bmp"));
    ASSERT_FALSE(print.isNull());
    EXPECT_EQ(print.format(), QImage::Format_Indexed8);
    // Upright: the finger's rounded tip is at the top, so the finger is narrower in the top
    // rows than in the middle.
    auto extent = [&](int y) {
        int first = -1, last = -1;
        for (int x = 0; x < print.width(); ++x)
            if (qGray(print.pixel(x, y)) < 200) {
                last = x;
                if (first < 0)
                    first = x;
            }
        return first < 0 ? 0 : last - first;
    };
    EXPECT_LT(extent(print.height() / 20), extent(print.height() / 2) * 3 / 4);
}
