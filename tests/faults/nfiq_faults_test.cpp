// The NFIQ library is missing beside the station and its fetch from the internal web server
// fails in the ways a network fails. Prints still land in their slots, the operator reads the
// download error and the quality line says the library is missing, no fetched or partial file
// is left, and once the server answers with the library the next print is scored.
#include "FaultHarness.h"
#include "GBNFIQ.h"
#include "HttpStub.h"
#include "NFIQUtil.h"

#include <QTimer>

using namespace faults;

namespace {

class NfiqFetchFaults : public Station {};

} // namespace

TEST_F(NfiqFetchFaults, FailedFetchesKeepTheSetAndTheStationScoresOnceFetched) {
    HttpStub server;
    qputenv("STATION_NFIQ_HOST", server.Host().toUtf8());
    // No library in the program folder: the start finds nothing, silently.
    Start(kScannerUareU, {}, /*autoAdvance=*/true, kOneWatson, {"BMP2WSQ"});
    ASSERT_FALSE(NfiqLibraryLoaded());
    ASSERT_TRUE(messages.Requests.empty());

    const QByteArray library = ReadFile(QStringLiteral(STATION_BIN_DIR "/libGBNFIQ.so"));
    ASSERT_TRUE(library.startsWith("\x7f"
                                   "ELF"));
    quint16 closedPort = 0;
    {
        HttpStub gone;
        closedPort = gone.Port();
    }
    const struct {
        const char* what;
        std::function<void()> serve;
        QString host;
    } cases[] = {
        {"404", [&] { server.Answer(404, "<html>Not Found</html>"); }, server.Host()},
        {"garbage with status 200", [&] { server.Answer(200, "<html>Proxy login</html>"); },
         server.Host()},
        {"body cut short", [&] { server.AnswerCutShort(library, library.size() / 3); },
         server.Host()},
        {"connection refused", [] {}, QStringLiteral("127.0.0.1:%1").arg(closedPort)},
    };
    int slot = 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.serve();
        qputenv("STATION_NFIQ_HOST", c.host.toUtf8());
        const FileSet before = SetFiles();
        messages.Requests.clear();
        ASSERT_EQ(w->CurrentSlot(), slot);

        Deliver(Picture(200, 250, slot), 200, 250);
        ASSERT_EQ(messages.Requests.size(), 1u);
        EXPECT_EQ(messages.Requests[0].text,
                  QStringLiteral("Error bajando desde \"http://%1/GBNFIQ.dll\"").arg(c.host));
        EXPECT_EQ(w->QualityStatus(slot), kNfiqNoLibrary);
        // The print is in its slot; the selection moved on to the next one.
        EXPECT_GT(w->SlotViewer(slot)->ImageWidth(), 0);
        EXPECT_EQ(w->CurrentSlot(), slot + 1);
        w->SelectSlot(slot);
        EXPECT_EQ(Line(), QStringLiteral("NFIQ %1: 0 (Error Falta GBNFIQ.DLL) - Promedio: 9 ()")
                              .arg(TFTrazel::FingerDisplayName(slot)));
        w->SelectSlot(slot + 1);

        FileSet expected = before;
        expected[QStringLiteral("dedo%1.bmp").arg(slot)] =
            ReadFile(File(QStringLiteral("dedo%1.bmp").arg(slot)));
        EXPECT_EQ(SetFiles(), expected)
            << "no fetched or partial file, earlier prints as they were";
        EXPECT_FALSE(NfiqLibraryLoaded());
        ++slot;
    }

    // The program quits while the library is still arriving (the window manager closed it, the
    // session ended): the fetch is dropped without a message and no part of it stays behind to
    // be loaded at the next start.
    {
        qputenv("STATION_NFIQ_HOST", server.Host().toUtf8());
        server.AnswerAndHold(library, library.size() / 3);
        const FileSet before = SetFiles();
        messages.Requests.clear();
        QTimer::singleShot(300, [] { QCoreApplication::exit(0); });
        Deliver(Picture(200, 250, slot), 200, 250);
        EXPECT_TRUE(messages.Requests.empty());
        EXPECT_FALSE(NfiqLibraryLoaded());
        EXPECT_FALSE(QFile::exists(File("libGBNFIQ.so")));
        FileSet expected = before;
        expected[QStringLiteral("dedo%1.bmp").arg(slot)] =
            ReadFile(File(QStringLiteral("dedo%1.bmp").arg(slot)));
        EXPECT_EQ(SetFiles(), expected);
        // The quit leaves the thread refusing nested event loops until the application's own
        // loop has run once; the scenario goes on as the next start would.
        QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
        QCoreApplication::exec();
        w->SelectSlot(++slot);
    }

    if (!NfiqLibrarySha256().isEmpty())
        GTEST_SKIP() << "a library checksum is configured; the build's library is not served";

    // The server answers with the library: it is fetched, loaded, and the print is scored.
    qputenv("STATION_NFIQ_HOST", server.Host().toUtf8());
    server.Answer(200, library, "application/octet-stream");
    messages.Requests.clear();
    Deliver(Picture(200, 250, 9), 200, 250);
    EXPECT_TRUE(messages.Requests.empty());
    EXPECT_TRUE(NfiqLibraryLoaded());
    EXPECT_GE(w->QualityStatus(slot), 0);
    EXPECT_EQ(ReadFile(File("libGBNFIQ.so")), library);
    qunsetenv("STATION_NFIQ_HOST");
}
