#include "Errors.h"
#include "Paths.h"
#include "TestSupport.h"
#include "WSQPACK.h"
#include "WsqConvert.h"
#include "dibutils.h"

#include <QCoreApplication>
#include <QFile>
#include <QPainter>
#include <QTimer>
#include <QWidget>

namespace {

// A converter stand-in: it records its working folder and arguments in calls.txt and then
// copies the source to the target, unless a file "fail" (exit 1, nothing written) or "silent"
// (exit 0, nothing written) lies beside it. With a file "wait" it first waits until a file
// "go" appears, so a test can see what happens while it runs.
const char* const kStubConverter = R"(#!/bin/sh
printf '%s\n' "$PWD" "$#" "$1" "$2" > calls.txt
if [ -f wait ]; then
    n=0
    while [ ! -f go ] && [ $n -lt 2000 ]; do sleep 0.05; n=$((n + 1)); done
fi
[ -f fail ] && exit 1
[ -f silent ] && exit 0
cp "$1" "$2"
)";

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(bytes);
}

QStringList Lines(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
}

// A program folder whose path holds blanks, with a slot bitmap and an old WSQ file in it.
struct ProgramDir {
    ScopedWorkingDir wd;
    QDir dir;
    ProgramDir() : dir(wd.File("Program Files/Estación 1")) {
        QDir().mkpath(dir.path());
        auto block = DibBlock::CreateGrey(64, 48);
        for (int r = 0; r < 48; ++r)
            for (int x = 0; x < 64; ++x)
                block->StoredRow(r)[x] =
                    static_cast<uint8_t>(128 + 100 * ((x / 4 + r / 3) % 2) - 50);
        SaveBmpData(*block, dir.filePath("dedo1.bmp"), block->Size());
        WriteFile(dir.filePath("dedo1.wsq"), "old");
    }
    QString Path(const char* name) const { return dir.filePath(QLatin1String(name)); }
    void InstallStub() const {
        WriteFile(Path("BMP2WSQ"), kStubConverter);
        QFile::setPermissions(Path("BMP2WSQ"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
};

} // namespace

TEST(ConvertToWsq, StubConverterOutcomes) {
    struct Case {
        const char* what;
        const char* marker; // file that steers the stub, or nullptr
        bool installed, ok;
    } cases[] = {
        {"converter writes the file", nullptr, true, true},
        {"converter fails", "fail", true, false},
        {"converter ends without writing", "silent", true, false},
        {"converter missing", nullptr, false, false},
    };
    for (const Case& c : cases) {
        ProgramDir p;
        if (c.installed)
            p.InstallStub();
        if (c.marker)
            WriteFile(p.Path(c.marker), "");
        QString error = "untouched";
        EXPECT_EQ(ConvertToWsq("dedo1.bmp", "dedo1.wsq", error, p.dir.path()), c.ok) << c.what;
        if (c.ok) {
            EXPECT_EQ(error, "untouched");
            QFile a(p.Path("dedo1.bmp")), b(p.Path("dedo1.wsq"));
            ASSERT_TRUE(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
            EXPECT_EQ(a.readAll(), b.readAll()) << "the run produced the file, not the old one";
        } else {
            EXPECT_EQ(error, "ERROR: No se pudo generar dedo1.wsq") << c.what;
            // The earlier WSQ file was deleted before the run, so it cannot pass for a result.
            EXPECT_FALSE(QFile::exists(p.Path("dedo1.wsq"))) << c.what;
        }
        if (c.installed) {
            // Run in the program folder (blanks and all) with the two bare names as arguments.
            EXPECT_EQ(Lines(p.Path("calls.txt")),
                      (QStringList{p.dir.path(), "2", "dedo1.bmp", "dedo1.wsq"}))
                << c.what;
        }
    }
}

TEST(ConvertToWsq, SourceNameIsTrimmedAndAMissingSourceRunsNothing) {
    ProgramDir p;
    p.InstallStub();
    QString error;
    EXPECT_TRUE(ConvertToWsq(" \tdedo1.bmp \r\n", "dedo1.wsq", error, p.dir.path()));
    EXPECT_EQ(Lines(p.Path("calls.txt")).value(2), "dedo1.bmp");

    QFile::remove(p.Path("calls.txt"));
    WriteFile(p.Path("dedo2.wsq"), "old");
    for (const char* missing : {"dedo2.bmp", "", "  "}) {
        EXPECT_FALSE(ConvertToWsq(missing, "dedo2.wsq", error, p.dir.path()));
        EXPECT_EQ(error, "ERROR: No existe archivo origen");
    }
    EXPECT_FALSE(QFile::exists(p.Path("calls.txt"))) << "the converter must not run";
    EXPECT_TRUE(QFile::exists(p.Path("dedo2.wsq"))) << "nothing is deleted without a source";
}

TEST(ConvertToWsq, WindowsRepaintWhileTheConverterRuns) {
    ProgramDir p;
    p.InstallStub();
    WriteFile(p.Path("wait"), "");

    // The widget releases the converter from its paint event: the conversion can only end
    // if paint events are handled during the wait.
    struct Painted : QWidget {
        QString go;
        int paints = 0;
        void paintEvent(QPaintEvent*) override {
            QPainter(this).fillRect(rect(), Qt::white);
            ++paints;
            if (!go.isEmpty())
                QFile(go).open(QIODevice::WriteOnly);
        }
    } widget;
    widget.resize(50, 50);
    widget.show();
    QCoreApplication::processEvents();
    widget.go = p.Path("go");
    widget.paints = 0;
    QTimer::singleShot(0, &widget, [&] { widget.update(); });

    QString error;
    EXPECT_TRUE(ConvertToWsq("dedo1.bmp", "dedo1.wsq", error, p.dir.path())) << error.toStdString();
    EXPECT_GE(widget.paints, 1);
}

TEST(ConvertToWsq, RealConverter) {
    const QString converter = QStringLiteral(STATION_BIN_DIR "/") + kWsqConverterName;
    if (!QFile::exists(converter))
        GTEST_SKIP() << "BMP2WSQ is not part of this build";
    ProgramDir p;
    ASSERT_TRUE(QFile::copy(converter, p.Path("BMP2WSQ")));
    QString error;
    ASSERT_TRUE(ConvertToWsq("dedo1.bmp", "dedo1.wsq", error, p.dir.path())) << error.toStdString();
    QFile wsq(p.Path("dedo1.wsq"));
    ASSERT_TRUE(wsq.open(QIODevice::ReadOnly));
    EXPECT_TRUE(wsq.read(2) == QByteArray("\xff\xa0", 2))
        << "a WSQ file starts with its SOI marker";

    // A source the converter cannot read: it writes nothing and the old file is gone.
    WriteFile(p.Path("dedo2.bmp"), "not a bitmap");
    WriteFile(p.Path("dedo2.wsq"), "old");
    EXPECT_FALSE(ConvertToWsq("dedo2.bmp", "dedo2.wsq", error, p.dir.path()));
    EXPECT_EQ(error, "ERROR: No se pudo generar dedo2.wsq");
    EXPECT_FALSE(QFile::exists(p.Path("dedo2.wsq")));
}

// The binding lives as long as the process, so its states are visited in order here.
TEST(WsqLibraryBinding, AbsentThenMissingEntryPointThenLoaded) {
    ScopedWorkingDir wd; // stands for the program folder, where libraries are loaded from
    platform::SetProgramFolderForTesting(wd.Path());
    struct Restore {
        ~Restore() { platform::SetProgramFolderForTesting(QString()); }
    } restore;
    LoadWsqLibrary(); // nothing to find: silent
    EXPECT_FALSE(WsqLibraryLoaded());

    ASSERT_TRUE(QFile::copy(STUB_WSQPACK_NOFREE, "libWSQPACK.so"));
    try {
        LoadWsqLibrary();
        ADD_FAILURE() << "a library without WSQPACK_Free must stop the start-up";
    } catch (const platform::StationError& e) {
        EXPECT_EQ(e.Text(), "Assertion failure (WSQPACK, line 140)");
    }
    EXPECT_FALSE(WsqLibraryLoaded());
    EXPECT_EQ(WsqpackCompress(), nullptr);

    const QString real = QStringLiteral(STATION_BIN_DIR "/libWSQPACK.so");
    if (!QFile::exists(real))
        GTEST_SKIP() << "libWSQPACK.so is not part of this build";
    QFile::remove("libWSQPACK.so");
    ASSERT_TRUE(QFile::copy(real, "libWSQPACK.so"));
    LoadWsqLibrary();
    ASSERT_TRUE(WsqLibraryLoaded());
    ASSERT_NE(WsqpackCompress(), nullptr);
    ASSERT_NE(WsqpackFree(), nullptr);
}
