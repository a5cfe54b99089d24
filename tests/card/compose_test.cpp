// Composition of the card picture and the name of the card file.
#include "CardFile.h"
#include "CardTestSupport.h"
#include "TestSupport.h"
#include "dibcard.h"

#include <QDir>
#include <QFileInfo>

#include <stdexcept>

namespace {

// Slot n's print: 4 × 3 pixels of 20 n + 5, with a black pixel in its bottom left corner so
// the print's orientation shows on the card.
std::unique_ptr<DibBlock> SlotPrint(int n) {
    auto print = FilledBlock(4, 3, static_cast<uint8_t>(20 * n + 5));
    print->StoredRow(0)[0] = 0;
    return print;
}

uint8_t Multiply(int s, int t) {
    return static_cast<uint8_t>((2 * s * t + 255) / 510); // nearest integer to s·t/255
}

} // namespace

// A template that ends one column after slot 5's centre and one row after the upper row's
// centre: the 4 × 3 prints there lose their last column and their top row, which must not wrap
// into the next row or the padding byte. Everything else must be the multiply of the print
// onto the template, with the print's stored row 0 at the bottom.
TEST(ComposeCard, StampsEachPrintAtItsPlaceByMultiplication) {
    ScopedWorkingDir wd;
    constexpr int kW = 3531, kH = 1511, kGrey = 200;
    auto tmpl = FilledBlock(kW, kH, kGrey);
    tmpl->Data()[24] = 0x34; // biXPelsPerMeter, and a colour table that is not grey: both kept
    tmpl->Data()[kBmpInfoHeaderSize + 0] = 7;
    tmpl->Data()[kBmpInfoHeaderSize + 4 * 255 + 2] = 9;
    WriteBmp(*tmpl, kCardTemplateName);
    for (int n = 1; n <= 10; ++n)
        WriteBmp(*SlotPrint(n), QStringLiteral("dedo%1.bmp").arg(n));

    ComposeCard(QStringLiteral("card.bmp"), QStringLiteral("dedo"));

    DibBlock expected = *tmpl;
    for (int n = 1; n <= 10; ++n) {
        const auto print = SlotPrint(n);
        for (int j = 0; j < 3; ++j)
            for (int i = 0; i < 4; ++i) {
                const int x = kCardPlaces[n - 1].CenterX + i - 2;
                const int y = kCardPlaces[n - 1].CenterY + j - 1;
                if (x < kW && y < kH)
                    expected.StoredRow(y)[x] = Multiply(print->StoredRow(j)[i], kGrey);
            }
    }
    // Spot checks that the oracle itself is oriented as the card must be.
    EXPECT_EQ(expected.StoredRow(1509)[1093], 0); // slot 1's black corner, bottom left
    EXPECT_EQ(expected.StoredRow(459)[3529], Multiply(205, kGrey)); // slot 10 in the lower row
    EXPECT_EQ(expected.StoredRow(1510)[3530], Multiply(105, kGrey));

    const QByteArray out = ReadAll(QStringLiteral("card.bmp"));
    ASSERT_EQ(out.size(), kBmpFileHeaderSize + expected.Size());
    EXPECT_EQ(out.left(2), "BM");
    const QByteArray expectedBytes(reinterpret_cast<const char*>(expected.Data()), expected.Size());
    // Compare header and colour table first for a readable failure, then every pixel byte.
    EXPECT_EQ(out.mid(kBmpFileHeaderSize, kDibPixelOffset), expectedBytes.left(kDibPixelOffset));
    EXPECT_TRUE(out.mid(kBmpFileHeaderSize) == expectedBytes);
}

// The template or any print that cannot be loaded stops the card before anything is written.
TEST(ComposeCard, FailsWithoutWritingWhenAFileIsMissingOrShort) {
    struct Case {
        const char* what;
        QString file;
        bool truncate; // false: remove the file
    };
    const Case cases[] = {
        {"no template", kCardTemplateName, false},
        {"short template", kCardTemplateName, true},
        {"no print 7", QStringLiteral("dedo7.bmp"), false},
        {"short print 3", QStringLiteral("dedo3.bmp"), true},
        {"no print 10", QStringLiteral("dedo10.bmp"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedWorkingDir wd;
        WriteBmp(*FilledBlock(3600, 1600, 255), kCardTemplateName);
        for (int n = 1; n <= 10; ++n)
            WriteBmp(*SlotPrint(n), QStringLiteral("dedo%1.bmp").arg(n));
        if (c.truncate)
            QFile::resize(c.file, QFileInfo(c.file).size() - 1);
        else
            QFile::remove(c.file);
        EXPECT_THROW(ComposeCard(QStringLiteral("card.bmp"), QStringLiteral("dedo")),
                     std::runtime_error);
        EXPECT_FALSE(QFile::exists(QStringLiteral("card.bmp")));
    }
}

// Whatever the reference holds, the card file is a new file directly in the folder it is
// asked for, under a name that carries the reference without path separators.
TEST(CardFile, EveryReferenceGivesANewFileInTheFolder) {
    struct Case {
        QString reference;
        QString stem;
    };
    const Case cases[] = {
        {QString(), QString()},
        {QStringLiteral("R-2026/17"), QStringLiteral("R-2026_17")},
        {QStringLiteral("../../x"), QStringLiteral(".._.._x")},
        {QStringLiteral("..\\..\\x"), QStringLiteral(".._.._x")},
        {QStringLiteral("/etc/passwd"), QStringLiteral("_etc_passwd")},
        {QStringLiteral("a:b*c?d\"e<f>g|h"), QStringLiteral("a_b_c_d_e_f_g_h")},
        {QStringLiteral("line\nbreak\ttab"), QStringLiteral("line_break_tab")},
        {QStringLiteral("Ñandú García"), QStringLiteral("Ñandú García")},
        {QStringLiteral("dedo3"), QStringLiteral("dedo3")},
        {QString(300, QChar(u'é')), QString(64, QChar(u'é'))},
    };
    QTemporaryDir dir;
    const QString folder = QFileInfo(dir.path()).canonicalFilePath();
    // A slot file named like the reference must survive.
    QFile slot(QDir(folder).filePath(QStringLiteral("dedo3.bmp")));
    ASSERT_TRUE(slot.open(QIODevice::WriteOnly));
    slot.write("print");
    slot.close();

    for (const Case& c : cases) {
        SCOPED_TRACE(c.reference.toStdString());
        EXPECT_EQ(CardFileStem(c.reference), c.stem);
        const QString first = CreateCardFile(folder, c.reference);
        const QString second = CreateCardFile(folder, c.reference);
        EXPECT_NE(first, second);
        for (const QString& f : {first, second}) {
            const QFileInfo info(f);
            EXPECT_EQ(info.canonicalPath(), folder);
            EXPECT_TRUE(info.exists());
            EXPECT_EQ(info.size(), 0);
            EXPECT_TRUE(info.fileName().startsWith(QStringLiteral("ficha-") + c.stem + '-'));
            EXPECT_TRUE(info.fileName().endsWith(QStringLiteral(".bmp")));
            EXPECT_LE(info.fileName().toUtf8().size(), 255);
        }
    }
    EXPECT_EQ(ReadAll(slot.fileName()), "print");
}

TEST(CardFile, AFolderThatCannotTakeFilesRaises) {
    QTemporaryDir dir;
    EXPECT_ANY_THROW(CreateCardFile(dir.filePath(QStringLiteral("missing")), QStringLiteral("R")));
}
