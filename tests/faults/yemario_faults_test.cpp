// A full disk in the single-finger program, on both roads: its caller learns the outcome from
// the presence of "huella.bmp", so a print that cannot be written must leave no such file (and
// no partial one), the program must say so and stay open, and a next try must still end it
// with the print in place.
#include "FaultHarness.h"
#include "UYemario.h"

#include <QTimer>

using namespace faults;

namespace {

class YemarioFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        QDir::setCurrent(wd.Path());
        platform::SetProgramFolderForTesting(wd.Path());
        qputenv("SCANMAN_BACKEND", "sim");
        qputenv("SCANMAN_DROP_DIR", "-");
        qunsetenv("SCANMAN_SCENARIO");
        ASSERT_EQ(IBSIM_Reset(kOneWatson, nullptr), IBSU_STATUS_OK);
    }
    void TearDown() override { platform::SetProgramFolderForTesting(QString()); }

    void Settings(int scannerType) {
        WriteFile(wd.File("TrazelIB.INI"),
                  QStringLiteral("[Config]\nScannerType=%1\n").arg(scannerType).toLatin1());
    }

    // Runs the program; `during` runs once its windows exist and may drive it to its end.
    int Run(std::function<void()> during) {
        std::function<void()> attach = [&] {
            if (!FYemario || !FIntegratedBiometrics) {
                QTimer::singleShot(0, attach);
                return;
            }
            during();
        };
        QTimer::singleShot(0, attach);
        return RunYemario({"Pulgar Derecho"});
    }

    // What lies in the folder besides the settings file.
    QStringList Files() const {
        QStringList names = Names(FilesIn(wd.Path()));
        names.removeAll("TrazelIB.INI");
        return names;
    }

    ScopedWorkingDir wd;
    MessageRecorder messages;
};

} // namespace

TEST_F(YemarioFaults, ScanManPrintOnAFullDisk) {
    Settings(kScannerUareU);
    QStringList filesAfterFailure;
    bool openAfterFailure = false;
    const int rc = Run([&] {
        const std::vector<unsigned char> px = Picture(200, 250, 4);
        {
            FileSizeLimit full(256);
            Deliver(px, 200, 250);
        }
        filesAfterFailure = Files();
        openAfterFailure = FYemario->isVisible();
        Deliver(px, 200, 250);
    });
    EXPECT_EQ(rc, 0);
    ASSERT_EQ(messages.Requests.size(), 1u);
    EXPECT_EQ(messages.Requests[0].text, "No se pudo escribir el archivo huella.bmp");
    EXPECT_EQ(filesAfterFailure, QStringList());
    EXPECT_TRUE(openAfterFailure);
    EXPECT_EQ(Files(), QStringList{"huella.bmp"});
    EXPECT_EQ(QImage("huella.bmp").size(), QSize(200, 250));
}

TEST_F(YemarioFaults, IbCaptureOnAFullDisk) {
    Settings(kScannerIBFlat);
    QStringList filesAfterFailure;
    QString status;
    QString guidance;
    bool captureOpen = false;
    const int rc = Run([&] {
        TFIntegratedBiometrics* capture = FIntegratedBiometrics;
        Until([&] { return capture->isVisible() && capture->StepIndex() == 0; });
        const int quality[] = {1};
        {
            FileSizeLimit full(256);
            IBSIM_PlaceFinger(1, quality, 1);
            Settle();
            IBSIM_CompleteCapture(1);
            Settle();
            QTest::qWait(100); // a close after a save would be due by now
            Settle();
        }
        filesAfterFailure = Files();
        status = capture->m_txtStatusMessage->text();
        guidance = capture->Guidance();
        captureOpen = capture->isVisible();

        IBSIM_LiftFinger(1);
        capture->m_btnCaptureStop->click();
        capture->m_btnCaptureStart->click();
        Settle();
        IBSIM_PlaceFinger(1, quality, 1);
        Settle();
        IBSIM_CompleteCapture(1);
        Settle();
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(filesAfterFailure, QStringList());
    EXPECT_EQ(status, "No se pudo escribir el archivo huella.bmp");
    EXPECT_EQ(guidance, "No se pudo escribir el archivo huella.bmp") << "never \"captura exitosa\"";
    EXPECT_TRUE(captureOpen);
    EXPECT_TRUE(messages.Requests.empty());
    EXPECT_EQ(Files(), QStringList{"huella.bmp"});
    EXPECT_FALSE(QImage("huella.bmp").isNull());
}
