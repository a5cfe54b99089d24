#include "BusyCursor.h"
#include "Clock.h"
#include "Errors.h"
#include "Ini.h"
#include "Paths.h"
#include "TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QAbstractButton>
#include <QLineEdit>
#include <QMenu>

#include <memory>

using platform::IniFile;

namespace {
void WriteText(const QString& path, const QByteArray& text) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
}
QByteArray ReadText(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace

TEST(Ini, ReadsWithDefaultsAndCaseInsensitiveNames) {
    QTemporaryDir dir;
    const QString path = dir.filePath("s.ini");
    WriteText(path, "[other]\r\nScannerType=7\r\n[CONFIG]\r\nscannertype = 2\r\nFlip_Ver=5\r\n"
                    "AutoAvance=0\r\nbad=abc\r\nhalf=3x\r\nneg=-1\r\nnoted=2 ; lector U.are.U\r\n"
                    "hashed=1# plano\r\nonlynote=; 4\r\nwordnote=abc ; 4\r\n");
    const IniFile ini(path);
    struct Case {
        const char* key;
        int def;
        int expected;
    } cases[] = {
        {"ScannerType", 0, 2},
        {"flip_ver", 0, 5},
        {"AutoAvance", 1, 0},
        {"bad", 9, 9},
        {"half", 9, 9},
        {"neg", 0, -1},
        {"missing", 4, 4},
        // A comment after a number is no part of it; without a number it stays non-numeric.
        {"noted", 0, 2},
        {"hashed", 0, 1},
        {"onlynote", 9, 9},
        {"wordnote", 9, 9},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ini.ReadInteger("Config", c.key, c.def), c.expected) << c.key;
    EXPECT_TRUE(ini.ReadBool("config", "flip_ver", false)); // any non-zero integer is true
    EXPECT_FALSE(ini.ReadBool("config", "AutoAvance", true));
    EXPECT_TRUE(ini.ReadBool("config", "bad", true)); // non-numeric gives the default
    EXPECT_EQ(IniFile(dir.filePath("none.ini")).ReadInteger("Config", "ScannerType", 3), 3);
}

TEST(Ini, WriteCreatesFileAndSectionAndReplacesKeysInPlace) {
    QTemporaryDir dir;
    const QString path = dir.filePath("sub.ini");
    const IniFile ini(path);
    ini.WriteInteger("Config", "ScannerType", 1);
    ini.WriteBool("Config", "flip_hor", true);
    EXPECT_EQ(ReadText(path), "[Config]\r\nScannerType=1\r\nflip_hor=1\r\n");

    WriteText(path, "; kept\r\n[config]\r\nSCANNERTYPE=0\r\n\r\n[Other]\r\nx=1\r\n");
    ini.WriteInteger("Config", "ScannerType", 2);
    ini.WriteInteger("Config", "AutoAvance", 0);
    ini.WriteInteger("New", "k", 5);
    EXPECT_EQ(ReadText(path), "; kept\r\n[config]\r\nScannerType=2\r\nAutoAvance=0\r\n\r\n"
                              "[Other]\r\nx=1\r\n[New]\r\nk=5\r\n");
}

TEST(Ini, WriteFailureNamesTheFullPath) {
    QTemporaryDir dir;
    const QString path = dir.filePath("ro.ini");
    WriteText(path, "[Config]\r\nScannerType=0\r\n");
    QFile::setPermissions(path, QFileDevice::ReadOwner);
    if (QFileInfo(path).isWritable())
        GTEST_SKIP() << "running with rights that ignore file permissions";
    try {
        IniFile(path).WriteInteger("Config", "ScannerType", 1);
        FAIL() << "no error raised";
    } catch (const platform::StationError& e) {
        EXPECT_EQ(e.Text(), "Unable to write to " + QFileInfo(path).absoluteFilePath());
    }
    EXPECT_EQ(ReadText(path), "[Config]\r\nScannerType=0\r\n");
}

TEST(Ini, WriteIntoMissingFolderFails) {
    QTemporaryDir dir;
    const QString path = dir.filePath("no/such/folder/x.ini");
    EXPECT_THROW(IniFile(path).WriteInteger("Config", "k", 1), platform::StationError);
}

TEST(BusyCursor, RestoredOnEveryPath) {
    EXPECT_FALSE(platform::IsBusy());
    try {
        platform::BusyCursor busy;
        EXPECT_TRUE(platform::IsBusy());
        { platform::BusyCursor nested; }
        EXPECT_TRUE(platform::IsBusy());
        throw std::runtime_error("fails inside");
    } catch (const std::runtime_error&) {
    }
    EXPECT_FALSE(platform::IsBusy());
}

TEST(ErrorReport, ShowsTextAndSwallowsAbort) {
    MessageRecorder boxes;
    EXPECT_FALSE(platform::RunReported([] { throw platform::StationError("Algo falló"); }));
    EXPECT_FALSE(platform::RunReported([] { platform::SilentAbort(); }));
    EXPECT_TRUE(platform::RunReported([] {}));
    ASSERT_EQ(boxes.Requests.size(), 1u);
    EXPECT_EQ(boxes.Requests[0].text, "Algo falló");
}

TEST(Ini, FolderInPlaceOfTheFileCannotBeWritten) {
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir("x.ini"));
    const QString path = dir.filePath("x.ini");
    try {
        IniFile(path).WriteInteger("Config", "k", 1);
        FAIL() << "no error raised";
    } catch (const platform::StationError& e) {
        EXPECT_EQ(e.Text(), "Unable to write to " + QFileInfo(path).absoluteFilePath());
    }
}

// Where the station writes: beside the program in a build tree; in the user's data folder when
// the program folder is an installed one (marker file), with the shipped pictures linked in.
TEST(DataFolder, ProgramFolderUnlessInstalledThenPerUserWithShippedFilesLinked) {
    QTemporaryDir program, xdg;
    const QByteArray oldXdg = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", xdg.path().toUtf8());
    platform::SetProgramFolderForTesting(program.path());
    for (const char* name : {"Amputado.BMP", "fmodelo.bemepe"})
        WriteText(QDir(program.path()).filePath(QLatin1String(name)), "shipped");

    EXPECT_EQ(platform::DataFolder(), program.path());
    EXPECT_EQ(platform::PrepareDataFolder(), QString());
    EXPECT_EQ(QDir(program.path()).entryList(QDir::Files).size(), 2);

    WriteText(QDir(program.path()).filePath(QLatin1String(platform::kPerUserMarker)), "");
    const QString data = QDir(xdg.path()).filePath(QStringLiteral("TrazelIB"));
    EXPECT_EQ(platform::DataFolder(), data);
    EXPECT_EQ(platform::DataFile(QStringLiteral("TrazelIB.INI")), data + "/TrazelIB.INI");
    // The user's own card template stays; a link left dangling by an older install is renewed.
    QDir().mkpath(data);
    WriteText(data + "/fmodelo.bemepe", "own");
    QFile::link(program.path() + "/gone.BMP", data + "/Amputado.BMP");
    EXPECT_EQ(platform::PrepareDataFolder(), QString());
    EXPECT_EQ(QFileInfo(data + "/Amputado.BMP").symLinkTarget(), program.path() + "/Amputado.BMP");
    EXPECT_EQ(ReadText(data + "/fmodelo.bemepe"), "own");

    // A data folder that cannot be made is named in the message.
    QFile::remove(data + "/Amputado.BMP");
    QFile::remove(data + "/fmodelo.bemepe");
    QDir(data).removeRecursively();
    WriteText(data, "a file where the folder belongs");
    EXPECT_TRUE(platform::PrepareDataFolder().contains(data));

    platform::SetProgramFolderForTesting(QString());
    if (oldXdg.isEmpty())
        qunsetenv("XDG_DATA_HOME");
    else
        qputenv("XDG_DATA_HOME", oldXdg);
}

// Operators read Spanish on every button, also on a desktop set to another language.
TEST(MessageBoxes, SpanishButtonsWhateverTheDesktopLanguage) {
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    const auto box = platform::MakeMessageBox(nullptr, "¿Salir?", "Advertencia",
                                              QMessageBox::Yes | QMessageBox::No | QMessageBox::Ok |
                                                  QMessageBox::Cancel,
                                              QMessageBox::Warning);
    EXPECT_EQ(box->button(QMessageBox::Yes)->text(), "&Sí");
    EXPECT_EQ(box->button(QMessageBox::No)->text(), "&No");
    EXPECT_EQ(box->button(QMessageBox::Ok)->text(), "Aceptar");
    EXPECT_EQ(box->button(QMessageBox::Cancel)->text(), "Cancelar");

    // Qt's own texts (context menus of text fields, print preview, file dialogs).
    if (!platform::InstallSpanishQtTranslations()) {
        QLocale::setDefault(previous);
        GTEST_SKIP() << "Qt's Spanish translations (qt6-translations-l10n) are not installed";
    }
    QLineEdit edit;
    std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
    QStringList texts;
    for (QAction* a : menu->actions())
        texts << a->text().section(QLatin1Char('\t'), 0, 0);
    EXPECT_TRUE(texts.contains("&Deshacer")) << texts.join('|').toStdString();
    EXPECT_NE(QCoreApplication::translate("QPrintPreviewDialog", "Print Preview"), "Print Preview");
    QLocale::setDefault(previous);
}
