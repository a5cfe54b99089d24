// The scanner simulators driven from outside: the real Yemario program runs offscreen on
// the simulated scanners and the scannersim tool plays the person at the scanner through
// the control sockets. A private runtime folder keeps other programs' sockets out of sight.
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const QString kBin = QStringLiteral(STATION_BIN_DIR);

class ScannerSim : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        runtime = dir.filePath("runtime");
        ASSERT_TRUE(QDir().mkpath(runtime));
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        work = dir.filePath("program");
        ASSERT_TRUE(QDir().mkpath(work));
        ASSERT_TRUE(QFile::copy(kBin + "/Yemario", work + "/Yemario"));
        for (const char* lib :
             {"libIBScanUltimate.so", "libScanMan.so", "libGBNFIQ.so", "libWSQPACK.so"})
            QFile::link(kBin + "/" + lib, work + "/" + lib);
        env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("XDG_RUNTIME_DIR", runtime);
        env.insert("SCANMAN_DROP_DIR", "-");
        env.insert("IBSCAN_SIM_LOG", work + "/ibscan.log");
        env.remove("SCANMAN_SCENARIO");
    }

    void TearDown() override {
        if (program.state() != QProcess::NotRunning) {
            program.kill();
            program.waitForFinished(10000);
        }
    }

    // Starts Yemario with a scenario (finger only through the control channel) and the
    // scanner type of its settings: 0 IB scanner, 1 IB and ScanMan.
    void Start(const QString& extraScenario = {}, int scannerType = 0) {
        QFile scn(work + "/scenario.ini");
        ASSERT_TRUE(scn.open(QIODevice::WriteOnly));
        scn.write(("[sim]\nclock = realtime\n[scanner.1]\nmodel = WATSON\nopen_ms = 100\n"
                   "[capture]\nfinger_ms = -1\n" +
                   extraScenario)
                      .toUtf8());
        scn.close();
        QFile ini(work + "/TrazelIB.INI");
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write(QStringLiteral("[Config]\nScannerType=%1\n").arg(scannerType).toLatin1());
        ini.close();
        env.insert("IBSCAN_SIM_SCENARIO", work + "/scenario.ini");
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(work);
        program.start(work + "/Yemario", {"Pulgar Derecho"});
        ASSERT_TRUE(program.waitForStarted());
    }

    // Runs the tool; returns its exit status, its output in *out.
    int Tool(const QStringList& args, QString* out = nullptr) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(work);
        p.start(kBin + "/scannersim", args);
        if (!p.waitForFinished(120000))
            return -1;
        if (out)
            *out = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
        return p.exitCode();
    }

    int Ended() {
        EXPECT_TRUE(program.waitForFinished(120000)) << "Yemario did not end";
        return program.exitCode();
    }

    QString Log() const {
        QFile f(work + "/ibscan.log");
        f.open(QIODevice::ReadOnly);
        return QString::fromUtf8(f.readAll());
    }

    bool LogShows(const QString& text) {
        return QTest::qWaitFor([&] { return Log().contains(text); }, 60000);
    }

    QTemporaryDir dir;
    QString runtime, work;
    QProcessEnvironment env;
    QProcess program;
};

} // namespace

TEST_F(ScannerSim, PlaceCompletesACaptureThatWaitsForTheFinger) {
    // A socket left by a program that crashed: listed by nobody, and cleared away.
    ASSERT_TRUE(QDir().mkpath(runtime + "/scannersim"));
    QFile::setPermissions(runtime + "/scannersim",
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QByteArray stale = (runtime + "/scannersim/ibscan-999999.sock").toLocal8Bit();
    {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, stale.constData(), sizeof addr.sun_path - 1);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ::close(fd);
    }
    Start();
    const QString pid = QString::number(program.processId());
    ASSERT_EQ(Tool({"wait", "capturing", "60"}), 0);
    // Both libraries of the program can be reached, each through a socket of its own that
    // only the user may use.
    QString out;
    ASSERT_EQ(Tool({"list"}, &out), 0);
    EXPECT_TRUE(out.contains(QRegularExpression("^" + pid + "\\tibscan\\tYemario\\t",
                                                QRegularExpression::MultilineOption)))
        << out.toStdString();
    EXPECT_TRUE(out.contains(pid + "\tscanman\t")) << out.toStdString();
    EXPECT_FALSE(out.contains("999999")) << out.toStdString();
    EXPECT_FALSE(QFile::exists(QString::fromLocal8Bit(stale)));
    const QString socket = runtime + "/scannersim/ibscan-" + pid + ".sock";
    struct stat st {};
    ASSERT_EQ(::stat(socket.toLocal8Bit().constData(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat((runtime + "/scannersim").toLocal8Bit().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // The capture waits for the person: nothing is taken until the finger is placed.
    ASSERT_EQ(Tool({"status"}, &out), 0);
    EXPECT_TRUE(out.contains("capturing=1") && out.contains("finger=0")) << out.toStdString();
    EXPECT_TRUE(out.contains("prompt=\"Por favor coloque el dedo Pulgar Derecho en el scanner"))
        << out.toStdString();
    EXPECT_FALSE(QFile::exists(work + "/huella.bmp"));
    EXPECT_EQ(Tool({"place", "wobbly"}, &out), 1) << "a bad quality is refused";
    EXPECT_TRUE(out.contains("bad quality 'wobbly'")) << out.toStdString();
    EXPECT_EQ(Tool({"place", "good"}), 0);
    EXPECT_EQ(Ended(), 0);
    const QImage print(work + "/huella.bmp");
    EXPECT_FALSE(print.isNull());
    EXPECT_FALSE(QFile::exists(socket)) << "the socket goes with the program";
    ASSERT_EQ(Tool({"status"}, &out), 2) << "nothing to talk to any more";

    // The log follows the capture: the LEDs the capture window sets, in order: blinking
    // red while it waits for the finger, red and green blinking while the finger lies, and
    // off once the print is taken and when the window closes.
    const QString log = Log();
    QStringList masks;
    QRegularExpression led("call IBSU_SetLEDs\\(handle=\\d+, activeLEDs=(0x[0-9A-F]{8}) "
                           "\\(([A-Z_+a-z]+)\\)\\) -> 0");
    for (auto it = led.globalMatch(log); it.hasNext();) {
        const auto m = it.next();
        masks << m.captured(1) + " " + m.captured(2);
    }
    EXPECT_EQ(masks, QStringList({"0x20000000 BLINK_RED", "0x20000000 BLINK_RED",
                                  "0x30000000 BLINK_GREEN+BLINK_RED", "0x00000000 none",
                                  "0x00000000 none"}))
        << log.toStdString();
    const auto at = [&](const QString& s) { return log.indexOf(s); };
    EXPECT_LT(at("call IBSU_BeginCaptureImage("), at("control place good -> ok"));
    EXPECT_LT(at("control place good -> ok"), at("event RESULT_IMAGE handle=1 status=0"));
    EXPECT_LT(at("BLINK_GREEN+BLINK_RED"), at("event RESULT_IMAGE"));
}

TEST_F(ScannerSim, UnplugDuringACaptureTakesTheScannerLostPath) {
    Start();
    ASSERT_EQ(Tool({"wait", "capturing", "60"}), 0);
    EXPECT_EQ(Tool({"unplug", "1"}), 0);
    // The capture window closes the lost scanner.
    EXPECT_TRUE(LogShows("call IBSU_CloseDevice(handle=1) -> 0")) << Log().toStdString();
    const QString log = Log();
    EXPECT_LT(log.indexOf("event COMMUNICATION_BREAK handle=1"),
              log.indexOf("call IBSU_CloseDevice(handle=1)"));
    EXPECT_LT(log.indexOf("event COMMUNICATION_BREAK"), log.indexOf("event DEVICE_COUNT count=0"));
    QString out;
    ASSERT_EQ(Tool({"status"}, &out), 0);
    EXPECT_TRUE(out.contains("attached=0 open=0")) << out.toStdString();
    EXPECT_EQ(Tool({"unplug", "1"}, &out), 1) << "already unplugged";
    // Plugged in again, the scanner is announced to the program.
    EXPECT_EQ(Tool({"plug", "1"}), 0);
    EXPECT_TRUE(LogShows("event DEVICE_COUNT count=1"));
    EXPECT_FALSE(QFile::exists(work + "/huella.bmp"));
}

TEST_F(ScannerSim, SeveralProgramsEachHaveTheirOwnSocket) {
    Start();
    // A second Yemario from a folder of its own.
    const QString second = dir.filePath("second");
    ASSERT_TRUE(QDir().mkpath(second));
    for (const QString& f : QDir(work).entryList(QDir::Files | QDir::System))
        if (f != "ibscan.log")
            QFile::copy(work + "/" + f, second + "/" + f);
    QProcess other;
    QProcessEnvironment env2 = env;
    env2.insert("IBSCAN_SIM_LOG", second + "/ibscan.log");
    other.setProcessEnvironment(env2);
    other.setWorkingDirectory(second);
    other.start(second + "/Yemario", {"Pulgar Derecho"});
    ASSERT_TRUE(other.waitForStarted());
    const QString p1 = QString::number(program.processId()),
                  p2 = QString::number(other.processId());
    for (const QString& pid : {p1, p2})
        ASSERT_EQ(Tool({"--pid", pid, "wait", "capturing", "60"}), 0) << pid.toStdString();
    // Without --pid a command is refused, with both candidates named.
    QString out;
    EXPECT_EQ(Tool({"place", "good"}, &out), 2);
    EXPECT_TRUE(out.contains("--pid") && out.contains(p1) && out.contains(p2)) << out.toStdString();
    // With it, only that program's scanner gets the finger.
    EXPECT_EQ(Tool({"--pid", p2, "place", "good"}), 0);
    EXPECT_TRUE(other.waitForFinished(120000));
    EXPECT_TRUE(QFile::exists(second + "/huella.bmp"));
    EXPECT_FALSE(QFile::exists(work + "/huella.bmp"));
    EXPECT_EQ(program.state(), QProcess::Running);
    EXPECT_EQ(Tool({"place", "good"}), 0) << "one program left: no --pid needed";
    EXPECT_EQ(Ended(), 0);
    EXPECT_TRUE(QFile::exists(work + "/huella.bmp"));
}

TEST_F(ScannerSim, DeliverLandsAPrintOnTheScanManRoad) {
    QImage print(400, 500, QImage::Format_Grayscale8);
    print.fill(230);
    for (int y = 0; y < 500; y += 9)
        for (int x = 0; x < 400; ++x)
            print.setPixel(x, y, qRgb(20, 20, 20));
    ASSERT_TRUE(print.save(dir.filePath("print.bmp")));
    env.insert("SCANMAN_SIM_LOG", work + "/scanman.log");
    Start({}, 1);
    ASSERT_EQ(Tool({"wait", "capturing", "60"}), 0);
    // The ScanMan scanner captures from the start; the IB capture keeps waiting.
    QString out;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return Tool({"deliver", dir.filePath("print.bmp"), "500"}, &out) == 0;
        },
        30000))
        << out.toStdString();
    EXPECT_EQ(Ended(), 0);
    const QImage landed(work + "/huella.bmp");
    ASSERT_FALSE(landed.isNull());
    EXPECT_EQ(landed.size(), QSize(400, 500));
    QFile log(work + "/scanman.log");
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(log.readAll());
    EXPECT_TRUE(
        text.contains(QRegularExpression("call SMStartCapturing\\( scannerId=\"SIM-0\".*\\) -> 0")))
        << text.toStdString();
    EXPECT_LT(text.indexOf("control deliver "),
              text.indexOf("event image scanner=\"SIM-0\" size=400x500 ppi=500"));
    EXPECT_TRUE(text.contains("call SMFinalize() -> 0")) << text.toStdString();
    EXPECT_EQ(Tool({"deliver", "nothing.bmp"}, &out), 2) << "no program left";
}
