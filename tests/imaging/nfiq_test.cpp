#include "FakeViewer.h"
#include "GBNFIQ.h"
#include "HttpStub.h"
#include "NFIQUtil.h"
#include "Errors.h"
#include "Paths.h"
#include "TestSupport.h"

#include <QFile>
#include <QLibrary>

namespace {

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The scratch folder stands for the program folder, where the library is fetched to and
// loaded from.
struct ScopedProgramFolder {
    explicit ScopedProgramFolder(const QString& folder) {
        platform::SetProgramFolderForTesting(folder);
    }
    ~ScopedProgramFolder() { platform::SetProgramFolderForTesting(QString()); }
};

QStringList Files(const ScopedWorkingDir& wd) {
    return QDir(wd.Path()).entryList(QDir::Files | QDir::Hidden);
}

} // namespace

TEST(NfiqTexts, LabelsStatusesAndQualityText) {
    const std::pair<int, const char*> labels[] = {{0, "Error"}, {1, "Excelente"}, {2, "Muy buena"},
                                                  {3, "Buena"}, {4, "Regular"},   {5, "Mala"},
                                                  {6, ""},      {-1, ""},         {9, ""}};
    for (auto [score, label] : labels)
        EXPECT_EQ(QualityLabel(score), QString::fromUtf8(label)) << score;

    const std::pair<int, const char*> statuses[] = {{-3, "Falta memoria para procesar la imagen"},
                                                    {-2, "Falta cargar la imagen"},
                                                    {-1, "Falta GBNFIQ.DLL"},
                                                    {0, ""},
                                                    {1, "Imagen vacía"},
                                                    {2, "Faltan minucias"},
                                                    {3, ""},
                                                    {-4, ""}};
    for (auto [status, text] : statuses)
        EXPECT_EQ(QualityStatusText(status), QString::fromUtf8(text)) << status;

    const std::tuple<int, int, const char*> texts[] = {{0, 2, "2 (Muy buena)"},
                                                       {-1, 0, "0 (Error Falta GBNFIQ.DLL)"},
                                                       {1, 0, "0 (Error Imagen vacía)"},
                                                       {-2, 0, "0 (Error Falta cargar la imagen)"},
                                                       {2, 5, "5 (Mala Faltan minucias)"},
                                                       {0, 9, "9 ()"},
                                                       {7, -3, "-3 ()"}};
    for (auto [status, score, text] : texts)
        EXPECT_EQ(QualityText(status, score), QString::fromUtf8(text)) << status << "," << score;
}

TEST(NfiqTexts, DownloadAddressKeepsSchemeAndPath) {
    qunsetenv("STATION_NFIQ_HOST");
    const QString built = NfiqDownloadAddress();
    EXPECT_TRUE(built.startsWith("http://")) << built.toStdString();
    EXPECT_TRUE(built.endsWith("/GBNFIQ.dll")) << built.toStdString();
    qputenv("STATION_NFIQ_HOST", "127.0.0.1:8080");
    EXPECT_EQ(NfiqDownloadAddress(), "http://127.0.0.1:8080/GBNFIQ.dll");
    qunsetenv("STATION_NFIQ_HOST");
}

// The binding lives as long as the process and never unloads once loaded, so the road from
// "no library" to "fetched and scoring" is walked in order in one test.
TEST(NfiqFetch, FromMissingLibraryToScoring) {
    for (const char* v : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"})
        qunsetenv(v);
    ScopedWorkingDir wd;
    const ScopedProgramFolder program(wd.Path());
    HttpStub server;
    qputenv("STATION_NFIQ_HOST", server.Host().toUtf8());
    const QString address = QStringLiteral("http://%1/GBNFIQ.dll").arg(server.Host());
    const QString expectedMessage = QStringLiteral("Error bajando desde \"%1\"").arg(address);
    const bool checksumConfigured = !NfiqLibrarySha256().isEmpty();

    LoadNfiqLibrary(); // start-up: nothing to find, silently
    ASSERT_FALSE(NfiqLibraryLoaded());

    // An empty viewer: -2, nothing loaded or fetched, score untouched.
    {
        MessageRecorder messages;
        FakeViewer empty;
        int32_t score = 42;
        EXPECT_EQ(ScoreFingerImage(empty, score), kNfiqNoImage);
        EXPECT_EQ(score, 42);
        EXPECT_TRUE(server.Requests.isEmpty());
        EXPECT_TRUE(messages.Requests.empty());
        empty.FImage = DibBlock::CreateGrey(1, 1);
        empty.FImage->Data()[4] = 0; // width 0 counts as empty as well
        EXPECT_EQ(ScoreFingerImage(empty, score), kNfiqNoImage);
        EXPECT_TRUE(server.Requests.isEmpty());
    }

    // Failed fetches: the message box names the address, -1, score kept, no file left, and
    // the viewer's image is not trimmed.
    const QByteArray good = ReadAll(STUB_GBNFIQ);
    ASSERT_TRUE(good.startsWith("\x7f"
                                "ELF"));
    struct Failure {
        const char* what;
        std::function<void()> serve;
    } failures[] = {
        {"404", [&] { server.Answer(404, "<html>Not Found</html>"); }},
        {"error page with status 200", [&] { server.Answer(200, "<html>Proxy login</html>"); }},
        {"body cut short", [&] { server.AnswerCutShort(good, good.size() / 2); }},
    };
    for (const Failure& f : failures) {
        f.serve();
        MessageRecorder messages;
        FakeViewer v;
        v.FImage = PatternBlock(643, 20);
        int32_t score = 7;
        const int before = server.Requests.size();
        EXPECT_EQ(ScoreFingerImage(v, score), kNfiqNoLibrary) << f.what;
        EXPECT_EQ(server.Requests.size(), before + 1) << f.what;
        EXPECT_EQ(score, 7);
        EXPECT_EQ(v.Image()->Width(), 643) << "no trim without the library";
        ASSERT_EQ(messages.Requests.size(), 1u) << f.what;
        EXPECT_EQ(messages.Requests[0].text, expectedMessage);
        EXPECT_EQ(Files(wd), QStringList()) << f.what;
    }

    // The server cannot be reached at all.
    {
        quint16 closed;
        {
            HttpStub gone;
            closed = gone.Port();
        }
        qputenv("STATION_NFIQ_HOST", QByteArray("127.0.0.1:") + QByteArray::number(closed));
        MessageRecorder messages;
        FakeViewer v;
        v.FImage = PatternBlock(8, 8);
        int32_t score = 7;
        EXPECT_EQ(ScoreFingerImage(v, score), kNfiqNoLibrary);
        EXPECT_EQ(score, 7);
        ASSERT_EQ(messages.Requests.size(), 1u);
        EXPECT_EQ(
            messages.Requests[0].text,
            QStringLiteral("Error bajando desde \"http://127.0.0.1:%1/GBNFIQ.dll\"").arg(closed));
        EXPECT_EQ(Files(wd), QStringList());
        qputenv("STATION_NFIQ_HOST", server.Host().toUtf8());
    }

    if (checksumConfigured) {
        // The stand-in cannot match the configured checksum: refused like any bad body.
        server.Answer(200, good, "application/octet-stream");
        MessageRecorder messages;
        EXPECT_FALSE(EnsureNfiqLibrary());
        EXPECT_EQ(messages.Requests.size(), 1u);
        EXPECT_EQ(Files(wd), QStringList());
        qunsetenv("STATION_NFIQ_HOST");
        GTEST_SKIP() << "a library checksum is configured; the stand-in library cannot be fetched";
    }

    // A library that lacks an entry point: the binding's assertion, and the file is removed.
    {
        server.Answer(200, ReadAll(STUB_GBNFIQ_NOQUALITY), "application/octet-stream");
        MessageRecorder messages;
        try {
            EnsureNfiqLibrary();
            ADD_FAILURE() << "missing entry point not reported";
        } catch (const platform::StationError& e) {
            EXPECT_EQ(e.Text(), "Assertion failure (GBNFIQ, line 177)");
        }
        EXPECT_TRUE(messages.Requests.empty());
        EXPECT_EQ(Files(wd), QStringList());
        ASSERT_FALSE(NfiqLibraryLoaded());
    }

    // The real thing: fetched into the program folder, loaded, and the image scored.
    server.Answer(200, good, "application/octet-stream");
    MessageRecorder messages;
    FakeViewer v;
    v.FImage = PatternBlock(643, 5);
    int32_t score = 0;
    EXPECT_EQ(ScoreFingerImage(v, score), 0);
    EXPECT_TRUE(messages.Requests.empty());
    EXPECT_EQ(score, 3);
    EXPECT_EQ(Files(wd), QStringList{"libGBNFIQ.so"});
    EXPECT_EQ(ReadAll("libGBNFIQ.so"), good);
    ASSERT_TRUE(NfiqLibraryLoaded());
    EXPECT_EQ(v.Image()->Width(), 640) << "the slot keeps showing the trimmed image";

    QLibrary stub(NfiqLibraryFile());
    ASSERT_TRUE(stub.load());
    using LastFn = int (*)(const unsigned char**, int*, int*, int*);
    using AnswerFn = void (*)(int, int);
    auto last = reinterpret_cast<LastFn>(stub.resolve("StubNfiq_Last"));
    auto answer = reinterpret_cast<AnswerFn>(stub.resolve("StubNfiq_SetAnswer"));
    ASSERT_TRUE(last && answer);
    const unsigned char* pixels;
    int w, h, reserved;
    ASSERT_EQ(last(&pixels, &w, &h, &reserved), 1);
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 5);
    EXPECT_EQ(reserved, 0);
    // Top row of the picture first, each row exactly 640 bytes.
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            ASSERT_EQ(pixels[y * w + x], (x + 7 * y) & 0xff) << x << "," << y;

    // Once loaded there is no further fetch; library statuses and scores pass through.
    const int requests = server.Requests.size();
    answer(2, 5);
    v.FImage = PatternBlock(32, 32);
    EXPECT_EQ(ScoreFingerImage(v, score), 2);
    EXPECT_EQ(score, 5);
    EXPECT_EQ(server.Requests.size(), requests);
    EXPECT_TRUE(messages.Requests.empty());
    qunsetenv("STATION_NFIQ_HOST");
}
