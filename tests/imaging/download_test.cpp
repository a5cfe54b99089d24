#include "Download.h"
#include "HttpStub.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QTimer>

namespace {

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString Url(const HttpStub& server) {
    return QStringLiteral("http://%1/GBNFIQ.dll").arg(server.Host());
}

} // namespace

class Download : public ::testing::Test {
  protected:
    void SetUp() override {
        // The system proxy settings come from these; the local server must be reached directly.
        for (const char* v : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"})
            qunsetenv(v);
    }
};

TEST_F(Download, CompleteAnswerIsWrittenAndAgentNamed) {
    ScopedWorkingDir wd;
    HttpStub server;
    const QByteArray body = QByteArray(5000, 'a') + QByteArray(3000, '\0') + "end";
    server.Answer(200, body, "application/octet-stream");
    ASSERT_TRUE(platform::DownloadFile(Url(server), "got.bin"));
    EXPECT_EQ(ReadAll("got.bin"), body);
    ASSERT_EQ(server.Requests.size(), 1);
    EXPECT_TRUE(server.Requests[0].startsWith("GET /GBNFIQ.dll HTTP/1.1\r\n"));
    EXPECT_TRUE(server.Requests[0].contains("User-Agent: imaging_download_test\r\n"))
        << server.Requests[0].constData();
}

TEST_F(Download, FailuresLeaveNothingAndKeepAnEarlierFile) {
    const QByteArray body(2048, 'x');
    const QByteArray wrongSha =
        QCryptographicHash::hash("other", QCryptographicHash::Sha256).toHex();
    struct Case {
        const char* what;
        std::function<void(HttpStub&)> serve;
        QByteArray sha;
    } cases[] = {
        {"404", [](HttpStub& s) { s.Answer(404, "<html>not here</html>"); }, {}},
        {"500", [](HttpStub& s) { s.Answer(500, "oops"); }, {}},
        {"cut short", [&](HttpStub& s) { s.AnswerCutShort(body, 700); }, {}},
        {"wrong checksum", [&](HttpStub& s) { s.Answer(200, body); }, wrongSha},
    };
    for (const Case& c : cases) {
        ScopedWorkingDir wd;
        HttpStub server;
        c.serve(server);
        platform::DownloadOptions options;
        options.expectedSha256 = c.sha;
        EXPECT_FALSE(platform::DownloadFile(Url(server), "lib.so", options)) << c.what;
        EXPECT_EQ(QDir(wd.Path()).entryList(QDir::Files | QDir::Hidden), QStringList()) << c.what;

        // An earlier file of that name is left as it was.
        QFile earlier("lib.so");
        ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
        earlier.write("earlier");
        earlier.close();
        EXPECT_FALSE(platform::DownloadFile(Url(server), "lib.so", options)) << c.what;
        EXPECT_EQ(ReadAll("lib.so"), "earlier") << c.what;
        EXPECT_EQ(QDir(wd.Path()).entryList(QDir::Files | QDir::Hidden), QStringList{"lib.so"});
    }
}

TEST_F(Download, ChecksumAndContentCheckDecideBeforeTheFileAppears) {
    ScopedWorkingDir wd;
    HttpStub server;
    const QByteArray body("\x7f"
                          "ELF and the rest");
    server.Answer(200, body);
    platform::DownloadOptions options;
    options.expectedSha256 =
        QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex().toUpper();
    QByteArray seenBody;
    options.accept = [&](const QByteArray& whole) {
        seenBody = whole;
        return true;
    };
    ASSERT_TRUE(platform::DownloadFile(Url(server), "ok.so", options));
    EXPECT_EQ(seenBody, body);
    EXPECT_EQ(ReadAll("ok.so"), body);

    options.accept = [](const QByteArray&) { return false; };
    EXPECT_FALSE(platform::DownloadFile(Url(server), "refused.so", options));
    EXPECT_FALSE(QFile::exists("refused.so"));
}

TEST_F(Download, UnreachableServerOrBadTarget) {
    ScopedWorkingDir wd;
    quint16 closedPort;
    {
        HttpStub gone;
        closedPort = gone.Port();
    }
    EXPECT_FALSE(platform::DownloadFile(
        QStringLiteral("http://127.0.0.1:%1/GBNFIQ.dll").arg(closedPort), "lib.so"));
    EXPECT_FALSE(platform::DownloadFile("not an address", "lib.so"));
    HttpStub server;
    server.Answer(200, "body");
    EXPECT_FALSE(platform::DownloadFile(Url(server), "no/such/folder/lib.so"));
    EXPECT_EQ(QDir(wd.Path()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

// The program quits while the body is still arriving: the quit ends every event loop, the
// fetch's too. What has arrived so far must not pass for the file.
TEST_F(Download, QuitDuringTheFetchAbandonsIt) {
    ScopedWorkingDir wd;
    HttpStub server;
    const QByteArray body = "\x7f"
                            "ELF" +
                            QByteArray(100000, 'x');
    server.AnswerAndHold(body, 5000);
    QTimer::singleShot(300, [] { QCoreApplication::exit(0); });
    EXPECT_EQ(platform::Download(Url(server), "lib.so"), platform::DownloadResult::Abandoned);
    EXPECT_EQ(QDir(wd.Path()).entryList(QDir::Files | QDir::Hidden), QStringList());

    // The quit leaves the thread refusing nested event loops until the application's own loop
    // has run; run it once so that the tests after this one start afresh.
    QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
}
