// The finger-scan module against the simulated library: start-up results, acceptance,
// delivery on the GUI thread, the storm bound, errors in handlers, module end and the drop
// folder.
#include "Helpers.h"

#include <ScanManSim.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

namespace {

class FingerScanModule : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "test_fingerscan_module";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance())
            new QCoreApplication(argc, argv);
    }

    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        old_ = QDir::currentPath();
        QDir::setCurrent(dir_.path());
        QDir().mkdir("drop");
        setenv("SCANMAN_DROP_DIR", (dir_.path() + "/drop").toLocal8Bit().constData(), 1);
        unsetenv("SCANMAN_SCENARIO");
        unsetenv("SCANMAN_BACKEND");
    }

    void TearDown() override {
        if (started_)
            UFingerScanEnd();
        AcceptScans = false;
        SetFingerScanErrorHook({});
        QDir::setCurrent(old_);
    }

    void Scenario(const char* text) {
        QFile f(dir_.path() + "/scenario.txt");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
        f.close();
        setenv("SCANMAN_SCENARIO", f.fileName().toLocal8Bit().constData(), 1);
    }

    QString Start() {
        const QString error = UFingerScanStart();
        started_ = error.isEmpty();
        return error;
    }

    // Lets the library and the event loop run until done() holds. The deadline only
    // guards against a hang; it is not a performance limit.
    static bool WaitFor(const std::function<bool()>& done) {
        QDeadlineTimer guard(60000);
        while (!done()) {
            if (guard.hasExpired())
                return false;
            SMSimWaitIdle();
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return true;
    }

    static void Settle() {
        SMSimWaitIdle();
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents();
    }

    QTemporaryDir dir_;
    QString old_;
    bool started_ = false;
};

} // namespace

TEST_F(FingerScanModule, FailedStartGivesTheErrorTextAndLeavesNothingRunning) {
    const struct {
        const char* scenario;
        const char* message;
    } cases[] = {
        {"fail-initialize -1\n", "ScanMan error:\r\tCode = -1\r\tDescription = Failed"},
        {"fail-initialize -7\n", "ScanMan error:\r\tCode = -7\r\tDescription = -7"},
        {"fail-parameter 10 -2\n", "ScanMan error:\r\tCode = -2\r\tDescription = Out of memory"},
        {"fail-parameter 12 -10\n",
         "ScanMan error:\r\tCode = -10\r\tDescription = Invalid parameter"},
        {"parameter-type 10 int\n", "ScanMan parameter is of wrong type"},
        {"parameter-type 11 string\n", "ScanMan parameter is of wrong type"},
    };
    for (const auto& c : cases) {
        Scenario(c.scenario);
        EXPECT_EQ(Start().toStdString(), c.message) << c.scenario;
        EXPECT_FALSE(started_);
        EXPECT_EQ(FingerScan, nullptr);
        EXPECT_EQ(SMGetScannerCount(), SM_E_NOT_INITIALIZED) << "library left initialized";
    }
}

TEST_F(FingerScanModule, StartsWithoutScannersOrWithUnusableOnes) {
    for (const char* scenario :
         {"", "count -1\nscanner A\n", "scanner A noid\nscanner B nostart\n"}) {
        Scenario(scenario);
        ASSERT_EQ(Start(), QString()) << scenario;
        ASSERT_NE(FingerScan, nullptr);
        const auto px = Ramp(8, 8);
        EXPECT_EQ(SMSimDeliver(nullptr, 8, 8, px.data(), 500), SM_E_NOT_CAPTURING) << scenario;
        UFingerScanEnd();
        started_ = false;
    }
}

TEST_F(FingerScanModule, DeliversOnTheGuiThreadOnlyWhileAccepting) {
    Scenario("scanner A noid\nscanner B nostart\nscanner C resolution=1000\n");
    ASSERT_EQ(Start(), QString());
    Capture cap;
    cap.Attach(*FingerScan);
    const auto px = Ramp(400, 500);
    ASSERT_EQ(SMSimDeliver("C", 400, 500, px.data(), 1000), 0);
    Settle();
    EXPECT_EQ(cap.after, 0);
    EXPECT_EQ(FingerScanCounters().received, 0u);

    AcceptScans = true;
    ASSERT_EQ(SMSimDeliver("C", 400, 500, px.data(), 1000), 0);
    ASSERT_TRUE(WaitFor([&] { return cap.after == 1; }));
    EXPECT_EQ(cap.thread, QCoreApplication::instance()->thread());
    EXPECT_EQ(Le32(cap.file, 18), 200u);
    EXPECT_EQ(Le32(cap.file, 22), 250u);

    AcceptScans = false; // cleared again by the window: dropped again
    ASSERT_EQ(SMSimDeliver("C", 400, 500, px.data(), 1000), 0);
    Settle();
    EXPECT_EQ(cap.after, 1);
}

TEST_F(FingerScanModule, ScannerConfigFileOverridesTheReportedResolution) {
    QFile cfg("ScannerConfig.CFG");
    ASSERT_TRUE(cfg.open(QIODevice::WriteOnly));
    cfg.write("other=250\r\nsim-0=1000\r\n");
    cfg.close();
    ASSERT_EQ(Start(), QString());
    EXPECT_EQ(FingerScan->ScannerResolutions, QStringList({"other=250", "sim-0=1000"}));
    Capture cap;
    cap.Attach(*FingerScan);
    AcceptScans = true;
    const auto px = Ramp(400, 500);
    ASSERT_EQ(SMSimDeliver("SIM-0", 400, 500, px.data(), 500), 0);
    ASSERT_TRUE(WaitFor([&] { return cap.after == 1; }));
    EXPECT_EQ(FingerScan->Resolution, 1000);
    EXPECT_EQ(Le32(cap.file, 18), 200u);
    EXPECT_EQ(Le32(cap.file, 22), 250u);
}

TEST_F(FingerScanModule, StormIsBoundedAndEveryImageIsAccountedFor) {
    ASSERT_EQ(Start(), QString());
    Capture cap;
    cap.Attach(*FingerScan);
    AcceptScans = true;
    constexpr int kImages = 1000;
    std::atomic<bool> done{false};
    std::thread pusher([&] {
        const auto px = Ramp(64, 64);
        for (int i = 0; i < kImages; ++i)
            SMSimDeliver("SIM-0", 64, 64, px.data(), 500);
        done = true;
    });
    // The GUI thread keeps turning its loop while the storm runs.
    int turns = 0;
    while (!done) {
        QCoreApplication::processEvents();
        ++turns;
    }
    pusher.join();
    Settle();
    const TFingerScanCounters n = FingerScanCounters();
    EXPECT_EQ(n.received, uint64_t(kImages));
    EXPECT_EQ(n.delivered + n.dropped, uint64_t(kImages));
    EXPECT_GE(n.delivered, 1u);
    EXPECT_EQ(uint64_t(cap.after), n.delivered);
    EXPECT_EQ(SMSimDeliveredCount(), kImages);
    EXPECT_GT(turns, 0);
}

TEST_F(FingerScanModule, HandlerErrorsGoToTheHookAndTheNextDeliveryWorks) {
    ASSERT_EQ(Start(), QString());
    std::vector<std::string> errors;
    SetFingerScanErrorHook([&](std::exception_ptr e) {
        try {
            std::rethrow_exception(e);
        } catch (const std::exception& x) {
            errors.emplace_back(x.what());
        }
    });
    AcceptScans = true;
    const auto px = Ramp(8, 8);
    // No handlers attached yet.
    ASSERT_EQ(SMSimDeliver(nullptr, 8, 8, px.data(), 500), 0);
    ASSERT_TRUE(WaitFor([&] { return errors.size() == 1; }));
    EXPECT_EQ(errors[0], "BeforeScan not Attached");

    Capture cap;
    cap.Attach(*FingerScan);
    auto after = FingerScan->AfterScan;
    bool fail = true;
    FingerScan->AfterScan = [&](TScanStream& s) {
        if (fail) {
            fail = false;
            throw std::runtime_error("handler failed");
        }
        after(s);
    };
    ASSERT_EQ(SMSimDeliver(nullptr, 8, 8, px.data(), 500), 0);
    ASSERT_TRUE(WaitFor([&] { return errors.size() == 2; }));
    EXPECT_EQ(errors[1], "handler failed");
    ASSERT_EQ(SMSimDeliver(nullptr, 8, 8, px.data(), 500), 0);
    ASSERT_TRUE(WaitFor([&] { return cap.after == 1; }));
}

TEST_F(FingerScanModule, ModuleEndDiscardsWaitingDeliveries) {
    ASSERT_EQ(Start(), QString());
    int calls = 0;
    FingerScan->BeforeScan = [&](TScanStream&) { ++calls; };
    AcceptScans = true;
    const auto px = Ramp(8, 8);
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(SMSimDeliver(nullptr, 8, 8, px.data(), 500), 0);
    SMSimWaitIdle(); // the callbacks ran; the GUI thread has not taken anything yet
    EXPECT_EQ(FingerScanCounters().received, 3u);
    UFingerScanEnd();
    started_ = false;
    EXPECT_EQ(FingerScan, nullptr);
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
    EXPECT_EQ(calls, 0);
}

TEST_F(FingerScanModule, DropFolderDeliversCompleteBitmapsOnly) {
    ASSERT_EQ(Start(), QString());
    Capture cap;
    cap.Attach(*FingerScan);
    AcceptScans = true;
    const QString drop = dir_.path() + "/drop/";

    const auto px = Ramp(30, 20);
    TVFImage img;
    img.SetImage(30, 20, px.data());
    auto writeBmp = [&](const QString& path) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        WriteBitmapFile(img.ToDIB(), f);
    };
    // Temporaries and other names are left alone.
    writeBmp(drop + "scan.bmp.part");
    writeBmp(drop + ".hidden.bmp");
    // A file renamed into place.
    writeBmp(dir_.path() + "/staging.bmp");
    ASSERT_TRUE(QFile::rename(dir_.path() + "/staging.bmp", drop + "one.bmp"));
    ASSERT_TRUE(WaitFor([&] { return cap.after == 1; }));
    EXPECT_FALSE(QFile::exists(drop + "one.bmp"));
    ASSERT_EQ(Le32(cap.file, 18), 32u);
    for (int y : {0, 7, 19})
        for (int x : {0, 13, 29})
            EXPECT_EQ(FilePixel(cap.file, x, y), px[size_t(y) * 30 + x]);
    // A file written in place and closed; a file that is not a bitmap is removed unread.
    QFile junk(drop + "junk.BMP");
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not a bitmap");
    junk.close();
    writeBmp(drop + "two.BMP");
    ASSERT_TRUE(WaitFor([&] { return cap.after == 2; }));
    ASSERT_TRUE(WaitFor([&] { return !QFile::exists(drop + "junk.BMP"); }));
    // A 24-bit file (stored bottom-up by Qt) arrives as grey.
    QImage colour(30, 20, QImage::Format_RGB888);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x) {
            const int v = px[size_t(y) * 30 + x];
            colour.setPixel(x, y, qRgb(v, v, v));
        }
    ASSERT_TRUE(colour.save(dir_.path() + "/colour.bmp", "BMP"));
    ASSERT_TRUE(QFile::rename(dir_.path() + "/colour.bmp", drop + "colour.bmp"));
    ASSERT_TRUE(WaitFor([&] { return cap.after == 3; }));
    for (int y : {0, 7, 19})
        for (int x : {0, 13, 29})
            EXPECT_EQ(FilePixel(cap.file, x, y), px[size_t(y) * 30 + x]);
    Settle();
    EXPECT_EQ(cap.after, 3);
    EXPECT_TRUE(QFile::exists(drop + "scan.bmp.part"));
    EXPECT_TRUE(QFile::exists(drop + ".hidden.bmp"));
}
