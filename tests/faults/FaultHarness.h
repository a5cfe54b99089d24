#pragma once
// The ten-print station as the program runs it, for fault scenarios: the modules started as at
// program start (ScanMan simulator, the libraries, the error report of deliveries), the windows
// created by the program's own start-up, a scratch program folder that is also the working
// folder, and helpers to snapshot the files of the set and to drive the simulated scanners.
#include "../flows/StationHarness.h"
#include "IBScanSim.h"
#include "IntegratedBiometrics.h"
#include "Modules.h"
#include "Paths.h"
#include "ScanManSim.h"
#include "SlotBitmap.h"
#include "TestSupport.h"
#include "TrazelStartup.h"
#include "UConfigTrazel.h"
#include "UFingerScan.h"
#include "UTrazel.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <sys/resource.h>

#include <csignal>
#include <functional>
#include <map>
#include <vector>

// Readable failure output for file names and contents.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QByteArray& b, std::ostream* os) {
    *os << b.size() << " bytes, sha1 "
        << QCryptographicHash::hash(b, QCryptographicHash::Sha1).toHex().left(12).toStdString();
}

namespace faults {

// One IB scanner whose captures wait for the test: a finger must be placed and the capture
// completed by hand.
inline const char* const kOneWatson = "[sim]\nclock = manual\n"
                                      "[scanner.1]\nmodel = WATSON\nserial = S1\n";

// Name -> contents of every regular file in a folder (symbolic links left out: they are the
// program folder's fixed parts).
using FileSet = std::map<QString, QByteArray>;

inline FileSet FilesIn(const QString& folder) {
    FileSet files;
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    for (const QFileInfo& info : entries) {
        if (info.isSymLink())
            continue;
        QFile f(info.absoluteFilePath());
        files[info.fileName()] = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("?");
    }
    return files;
}

inline QStringList Names(const FileSet& files) {
    QStringList names;
    for (const auto& [name, contents] : files)
        names << name;
    return names;
}

// Resident memory of this process in kB.
inline long ResidentKb() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return 0;
}

inline QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline void WriteFile(const QString& path, const QByteArray& contents) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(f.write(contents), contents.size());
}

// A grey picture whose pixels depend on the seed: dark top-left quarter, gradient elsewhere.
inline std::vector<unsigned char> Picture(int w, int h, int seed = 0) {
    std::vector<unsigned char> px(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            px[static_cast<size_t>(y) * w + x] =
                (x < w / 2 && y < h / 2) ? static_cast<unsigned char>(10 + seed % 20)
                                         : static_cast<unsigned char>(100 + (x + y + seed) % 100);
    return px;
}

// Writes a print as the station writes slot files.
inline void WriteSlotPrint(const QString& file, int w, int h, int seed) {
    QImage img(w, h, QImage::Format_Indexed8);
    QList<QRgb> grey;
    for (int i = 0; i < 256; ++i)
        grey << qRgb(i, i, i);
    img.setColorTable(grey);
    const std::vector<unsigned char> px = Picture(w, h, seed);
    for (int y = 0; y < h; ++y)
        std::memcpy(img.scanLine(y), px.data() + static_cast<size_t>(y) * w, w);
    SaveSlotBitmap(img, file);
}

// Runs the event loop and the scanner simulators until done() holds. There is no time limit:
// a station that never gets there hangs the test, which the test runner reports.
inline void Until(const std::function<bool()>& done) {
    for (;;) {
        IBSIM_WaitIdle();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        if (done())
            return;
        QTest::qWait(5);
    }
}

// Lets every posted message, simulator event and short timer run.
inline void Settle() {
    Until([] { return !FIntegratedBiometrics || !FIntegratedBiometrics->Opening(); });
    for (int i = 0; i < 6; ++i) {
        IBSIM_WaitIdle();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
    QTest::qWait(20);
    IBSIM_WaitIdle();
    QCoreApplication::processEvents();
}

// Delivers a picture from the simulated ScanMan scanner and lets the GUI thread take it.
inline void Deliver(const std::vector<unsigned char>& pixels, int w, int h, int ppi = 500) {
    DeliverScan(pixels, w, h, ppi);
}

// Limits the size of any file this process and its children write, with SIGXFSZ ignored so
// that the write fails (EFBIG) as on a full disk instead of ending the process.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &FOld);
        FOldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = FOld;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &FOld);
        std::signal(SIGXFSZ, FOldHandler);
    }

  private:
    rlimit FOld{};
    void (*FOldHandler)(int) = nullptr;
};

class Station : public ::testing::Test {
  protected:
    Station() {
        for (const char* v : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"})
            qunsetenv(v);
    }

    // The program folder and working folder of the station: the scratch folder unless a test
    // chose another one (UseFolder) before Start.
    QString Folder() const { return FFolder.isEmpty() ? scratch.Path() : FFolder; }
    QString File(const QString& name) const { return QDir(Folder()).filePath(name); }
    void UseFolder(const QString& folder) { FFolder = folder; }

    // The program's start with these settings and arguments, the IB simulator loaded with
    // ibScenario first. Links what build/bin holds for the program into the folder.
    void Start(int scannerType, const QStringList& args = {}, bool autoAdvance = false,
               const char* ibScenario = kOneWatson,
               std::vector<const char*> programFiles = {"BMP2WSQ", "libGBNFIQ.so"}) {
        QDir::setCurrent(Folder());
        platform::SetProgramFolderForTesting(Folder());
        for (const char* name : programFiles)
            QFile::link(QStringLiteral(STATION_BIN_DIR "/") + name, File(name));
        WriteFile(File("TrazelIB.INI"), QStringLiteral("[Config]\nScannerType=%1\nAutoAvance=%2\n")
                                            .arg(scannerType)
                                            .arg(autoAdvance ? 1 : 0)
                                            .toUtf8());
        int line = 0;
        ASSERT_EQ(IBSIM_Reset(ibScenario, &line), IBSU_STATUS_OK) << "line " << line;
        if (afterReset)
            afterReset();
        messages.Requests.clear();
        qputenv("SCANMAN_BACKEND", "sim");
        qputenv("SCANMAN_DROP_DIR", "-");
        qunsetenv("SCANMAN_SCENARIO");
        const QString failure = StartModules();
        ASSERT_TRUE(failure.isEmpty()) << failure.toStdString();
        FModules = true;
        CreateTrazelWindows(args);
        FWindows = true;
        w = FTrazel;
        QObject::connect(FIntegratedBiometrics->m_txtStatusMessage, &QLineEdit::textChanged,
                         [this](const QString& t) { statuses << t; });
        Until([] { return !FTrazel->TimerStart->isActive(); }); // the start timer has run
        Settle();
    }

    // Ends the program as it ends; a test may call it to start the station again.
    void TearDown() override {
        if (FWindows)
            DestroyTrazelWindows();
        if (FModules)
            EndModules();
        FWindows = FModules = false;
        w = nullptr;
        statuses.clear();
        platform::SetProgramFolderForTesting(QString());
        QDir::setCurrent(scratch.Path());
    }

    QString Line() const { return w->lblMsg->Message(); }
    TFIntegratedBiometrics* Capture() const { return FIntegratedBiometrics; }
    bool CaptureShown() const { return FIntegratedBiometrics->isVisible(); }

    // The set's files as they lie in the folder, without the settings file.
    FileSet SetFiles() const {
        FileSet files = FilesIn(Folder());
        files.erase(QStringLiteral("TrazelIB.INI"));
        files.erase(QStringLiteral(".filler")); // what fills a small disk
        return files;
    }

    // A finger on the simulated scanner, the capture completed, and the capture window gone.
    void CaptureFinger(int scannerId = 1) {
        const int quality[] = {1};
        ASSERT_EQ(IBSIM_PlaceFinger(scannerId, quality, 1), IBSU_STATUS_OK);
        Settle();
        ASSERT_EQ(IBSIM_CompleteCapture(scannerId), IBSU_STATUS_OK);
        Until([this] { return !CaptureShown(); });
        Settle();
    }

    ScopedWorkingDir scratch;
    MessageRecorder messages;
    std::function<void()> afterReset; // runs once the IB simulator is reset by Start
    TFTrazel* w = nullptr;
    QStringList statuses; // every text of the capture window's status line, in order

  private:
    QString FFolder;
    bool FModules = false;
    bool FWindows = false;
};

} // namespace faults
