#include "FakeViewer.h"
#include "GBNFIQ.h"
#include "NFIQUtil.h"
#include "Errors.h"
#include "Paths.h"
#include "TestSupport.h"

#include <QFile>
#include <QTemporaryDir>

// With the library in place when the program starts, scoring goes straight to it.
TEST(NfiqPresent, FirstScoringCallsTheLibraryWithoutFetching) {
    ScopedWorkingDir wd;
    QTemporaryDir program;
    platform::SetProgramFolderForTesting(program.path());
    const QString library = program.filePath("libGBNFIQ.so");
    // Any fetch would go to a host that does not exist, and show a message.
    qputenv("STATION_NFIQ_HOST", "127.0.0.1:1");
    MessageRecorder messages;

    // A library in the working folder (the caller's folder of Yemario) is never loaded.
    ASSERT_TRUE(QFile::copy(STUB_GBNFIQ, "libGBNFIQ.so"));
    LoadNfiqLibrary();
    EXPECT_TRUE(NfiqLibraryFile().isEmpty()) << NfiqLibraryFile().toStdString();
    ASSERT_TRUE(QFile::remove("libGBNFIQ.so"));

    // A library cut short (a fetch the program did not live to finish) is not mapped, which
    // would kill the program with SIGBUS, but removed, so that it can be fetched again.
    {
        QFile whole(STUB_GBNFIQ);
        ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
        const QByteArray bytes = whole.readAll();
        for (const qsizetype kept : {bytes.size() / 2, bytes.size() - 1, qsizetype(64)}) {
            QFile cut(library);
            ASSERT_TRUE(cut.open(QIODevice::WriteOnly));
            cut.write(bytes.left(kept));
            cut.close();
            LoadNfiqLibrary();
            EXPECT_TRUE(NfiqLibraryFile().isEmpty()) << kept;
            EXPECT_FALSE(QFile::exists(library)) << kept;
        }
    }

    // A library without the version entry point stops the start-up.
    ASSERT_TRUE(QFile::copy(STUB_GBNFIQ_NOVERSION, library));
    try {
        LoadNfiqLibrary();
        ADD_FAILURE() << "missing entry point not reported";
    } catch (const platform::StationError& e) {
        EXPECT_EQ(e.Text(), "Assertion failure (GBNFIQ, line 173)");
    }
    ASSERT_TRUE(QFile::remove(library));

    ASSERT_TRUE(QFile::copy(STUB_GBNFIQ, library));
    LoadNfiqLibrary();
    ASSERT_TRUE(NfiqLibraryLoaded());
    FakeViewer v;
    v.FImage = PatternBlock(100, 40);
    int32_t score = -9;
    EXPECT_EQ(ScoreFingerImage(v, score), 0);
    EXPECT_EQ(score, 3);
    EXPECT_TRUE(messages.Requests.empty());
    EXPECT_EQ(v.Image()->Width(), 100);
    EXPECT_EQ(NfiqLibraryFile(), library);
    qunsetenv("STATION_NFIQ_HOST");
    platform::SetProgramFolderForTesting(QString());
}
