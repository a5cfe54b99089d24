#include "Ini.h"
#include "TestSupport.h"
#include "UConfigTrazel.h"

#include <QFile>
#include <QFileInfo>
#include <QTest>

namespace {
QString IniText(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()) : QString();
}
void WriteIni(const QString& path, const QByteArray& text) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
}
} // namespace

class ConfigDialog : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    QString path = dir.filePath("TrazelIB.INI");
};

TEST_F(ConfigDialog, DefaultsWithoutFileAndAceptarWritesThem) {
    TFConfigTrazel dlg(nullptr, path);
    EXPECT_EQ(dlg.windowTitle(), "Configuración de Trazel");
    EXPECT_EQ(dlg.cbScannerType->currentText(), "Integrated Biometrics (plano)");
    EXPECT_FALSE(dlg.cbFlipHor->isChecked());
    EXPECT_FALSE(dlg.cbFlipVer->isChecked());
    EXPECT_TRUE(dlg.cbAutoAvance->isChecked());
    EXPECT_TRUE(dlg.cbDuplicateCheck->isChecked());
    EXPECT_FALSE(dlg.cbGrabarAN2->isChecked());
    EXPECT_EQ(dlg.edORI->text(), "ORIG00001");
    EXPECT_EQ(dlg.edDAI->text(), "DEST00001");
    EXPECT_FALSE(QFile::exists(path)); // reading creates nothing
    dlg.show();
    QTest::mouseClick(dlg.btOK, Qt::LeftButton);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(IniText(path),
              "[Config]\r\nScannerType=0\r\nflip_hor=0\r\nflip_ver=0\r\nAutoAvance=1\r\n"
              "DuplicateCheck=1\r\nGrabarAN2=0\r\nAN2_ORI=ORIG00001\r\nAN2_DAI=DEST00001\r\n");
}

TEST_F(ConfigDialog, ReadsStoredValues) {
    struct Case {
        QByteArray text;
        int type;
        bool hor, ver, avance;
    } cases[] = {
        {"[Config]\nAutoAvance=0\nflip_ver=5\n", 0, false, true, false},
        {"[config]\nSCANNERTYPE=2\nFLIP_HOR=1\n", 2, true, false, true},
        {"[Config]\nScannerType=3\n", -1, false, false, true}, // names no item
        {"[Config]\nScannerType=-1\n", -1, false, false, true},
        {"\x01\xff garbage [[ ==\n[Config]\nScannerType=x1\nflip_hor=yes\n", 0, false, false, true},
    };
    for (const Case& c : cases) {
        WriteIni(path, c.text);
        TFConfigTrazel dlg(nullptr, path);
        EXPECT_EQ(dlg.cbScannerType->currentIndex(), c.type) << c.text.constData();
        EXPECT_EQ(dlg.cbFlipHor->isChecked(), c.hor) << c.text.constData();
        EXPECT_EQ(dlg.cbFlipVer->isChecked(), c.ver) << c.text.constData();
        EXPECT_EQ(dlg.cbAutoAvance->isChecked(), c.avance) << c.text.constData();
    }
}

// The dialog says which scanner type is in force, and why when the file's value was not taken.
TEST_F(ConfigDialog, ShowsTheScannerTypeInForce) {
    const struct {
        const char* stored;
        int index;
        const char* shown;
    } cases[] = {
        {"2 ; lector U.are.U", 2, "En uso: DigitalPersona U.are.U 4000B/4500"},
        {"dos", 0, "ScannerType=\"dos\" no es un número; en uso: Integrated Biometrics (plano)"},
        {"7", -1, "ScannerType=7 no es una modalidad; en uso: ninguna modalidad"},
    };
    for (const auto& c : cases) {
        WriteIni(path, QByteArray("[Config]\r\nScannerType=") + c.stored + "\r\n");
        TFConfigTrazel dlg(nullptr, path);
        dlg.show();
        EXPECT_EQ(dlg.cbScannerType->currentIndex(), c.index) << c.stored;
        EXPECT_EQ(dlg.lblScannerInUse->text().toStdString(), c.shown);
        dlg.cbScannerType->setFocus();
        QTest::keyClick(dlg.cbScannerType, Qt::Key_End); // the operator's choice is in force
        EXPECT_EQ(dlg.lblScannerInUse->text(), "En uso: DigitalPersona U.are.U 4000B/4500");
        dlg.close();
    }
}

TEST_F(ConfigDialog, CancelarRestoresAndWindowButtonKeepsEditsUntilReopened) {
    TFConfigTrazel dlg(nullptr, path);
    dlg.show();
    dlg.cbFlipHor->setChecked(true);
    QTest::mouseClick(dlg.btCancel, Qt::LeftButton);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_FALSE(dlg.cbFlipHor->isChecked());
    EXPECT_FALSE(QFile::exists(path));

    dlg.show();
    dlg.cbFlipHor->setChecked(true);
    dlg.close();                             // the window's own close button
    EXPECT_TRUE(dlg.cbFlipHor->isChecked()); // still in effect for the readers
    EXPECT_FALSE(QFile::exists(path));
    dlg.show(); // each opening starts from the file
    EXPECT_FALSE(dlg.cbFlipHor->isChecked());
}

TEST_F(ConfigDialog, UnwritableFileReportsAndStaysOpen) {
    // A folder in the file's place cannot be written, whatever the rights of the test.
    ASSERT_TRUE(QDir(dir.path()).mkdir("TrazelIB.INI"));
    MessageRecorder boxes;
    TFConfigTrazel dlg(nullptr, path);
    dlg.show();
    dlg.cbScannerType->setCurrentIndex(2);
    QTest::mouseClick(dlg.btOK, Qt::LeftButton);
    ASSERT_EQ(boxes.Requests.size(), 1u);
    EXPECT_EQ(boxes.Requests[0].text, "Unable to write to " + QFileInfo(path).absoluteFilePath());
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.cbScannerType->currentIndex(), 2);
}

TEST(ScannerType, OnlyIntegratedBiometricsTypesUseTheCaptureWindow) {
    EXPECT_TRUE(IsIntegratedBiometrics(0));
    EXPECT_TRUE(IsIntegratedBiometrics(1));
    EXPECT_FALSE(IsIntegratedBiometrics(2));
    EXPECT_FALSE(IsIntegratedBiometrics(-1));
}
