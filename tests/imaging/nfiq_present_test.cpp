#include "FakeViewer.h"
#include "GBNFIQ.h"
#include "NFIQUtil.h"
#include "Errors.h"
#include "TestSupport.h"

#include <QFile>

// With the library in place when the program starts, scoring goes straight to it.
TEST(NfiqPresent, FirstScoringCallsTheLibraryWithoutFetching) {
    ScopedWorkingDir wd;
    // Any fetch would go to a host that does not exist, and show a message.
    qputenv("STATION_NFIQ_HOST", "127.0.0.1:1");
    MessageRecorder messages;

    // A library without the version entry point stops the start-up.
    ASSERT_TRUE(QFile::copy(STUB_GBNFIQ_NOVERSION, "libGBNFIQ.so"));
    try {
        LoadNfiqLibrary();
        ADD_FAILURE() << "missing entry point not reported";
    } catch (const platform::StationError& e) {
        EXPECT_EQ(e.Text(), "Assertion failure (GBNFIQ, line 173)");
    }
    ASSERT_TRUE(QFile::remove("libGBNFIQ.so"));

    ASSERT_TRUE(QFile::copy(STUB_GBNFIQ, "libGBNFIQ.so"));
    LoadNfiqLibrary();
    ASSERT_TRUE(NfiqLibraryLoaded());
    FakeViewer v;
    v.FImage = PatternBlock(100, 40);
    int32_t score = -9;
    EXPECT_EQ(ScoreFingerImage(v, score), 0);
    EXPECT_EQ(score, 3);
    EXPECT_TRUE(messages.Requests.empty());
    EXPECT_EQ(v.Image()->Width(), 100);
    qunsetenv("STATION_NFIQ_HOST");
}
