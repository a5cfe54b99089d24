// The print handler of the main window and the card report on its page.
#include "CardTestSupport.h"
#include "Paths.h"
#include "TestSupport.h"
#include "UInfoWnd.h"
#include "UTrazel.h"
#include "dibcard.h"
#include "urpficha.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QRegularExpression>
#include <QTimer>

#include "Errors.h"

#include <set>

namespace {

// Replaces the preview window while alive; each preview runs the given check.
class PreviewSpy {
  public:
    explicit PreviewSpy(std::function<void(TrpFicha&)> check = {}) {
        FPrevious = report::Report::SetPreviewHook([this, check](report::Report& r) {
            ++Calls;
            auto* card = dynamic_cast<TrpFicha*>(&r);
            ASSERT_NE(card, nullptr);
            if (check)
                check(*card);
        });
    }
    ~PreviewSpy() { report::Report::SetPreviewHook(FPrevious); }
    int Calls = 0;

  private:
    report::Report::PreviewHook FPrevious;
};

std::vector<TInfoWnd*> InfoWindows() {
    std::vector<TInfoWnd*> found;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* info = qobject_cast<TInfoWnd*>(w))
            found.push_back(info);
    return found;
}

std::set<QString> CardFilesInProgramFolder() {
    const QStringList names =
        QDir(platform::ProgramFolder()).entryList({QStringLiteral("ficha-*")}, QDir::Files);
    return {names.begin(), names.end()};
}

// A white template of the smallest size the placement table needs, and ten small prints.
void WriteSet(const std::set<int>& missingSlots = {}, bool withTemplate = true) {
    if (withTemplate)
        WriteBmp(*FilledBlock(3600, 1600, 255), kCardTemplateName);
    for (int n = 1; n <= 10; ++n)
        if (!missingSlots.count(n))
            WriteBmp(*FilledBlock(60, 40, static_cast<uint8_t>(10 * n)),
                     QStringLiteral("dedo%1.bmp").arg(n));
}

} // namespace

// The first missing slot is named and nothing else happens: no template check, no window.
TEST(PrintClick, AMissingSlotIsNamedBeforeTheTemplateIsLookedFor) {
    struct Case {
        std::set<int> missing;
        const char* name;
    };
    const Case cases[] = {
        {{4}, "Anular Derecho"},
        {{5, 9}, "Meñique Derecho"},
        {{10}, "Meñique Izquierdo"},
        {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, "Pulgar Derecho"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedWorkingDir wd;
        TFTrazel w{QStringList()};
        WriteSet(c.missing, /*withTemplate=*/false);
        MessageRecorder messages;
        PreviewSpy preview;
        w.btPrintClick();
        ASSERT_EQ(messages.Requests.size(), 1u);
        EXPECT_EQ(messages.Requests[0].text,
                  QStringLiteral("Error: falta el dedo ") + QString::fromUtf8(c.name));
        EXPECT_EQ(preview.Calls, 0);
        EXPECT_TRUE(InfoWindows().empty());
    }
}

TEST(PrintClick, AMissingTemplateIsNamed) {
    ScopedWorkingDir wd;
    TFTrazel w{QStringList()};
    WriteSet({}, /*withTemplate=*/false);
    MessageRecorder messages;
    PreviewSpy preview;
    const auto before = CardFilesInProgramFolder();
    w.btPrintClick();
    ASSERT_EQ(messages.Requests.size(), 1u);
    EXPECT_EQ(messages.Requests[0].text,
              QStringLiteral("Error: no existe la ficha completa \"fmodelo.bemepe\""));
    EXPECT_EQ(preview.Calls, 0);
    EXPECT_TRUE(InfoWindows().empty());
    EXPECT_EQ(CardFilesInProgramFolder(), before);
}

// The preview shows the composed card from a file in the program folder, whatever the
// reference; closing it deletes the file, and a second card is the same as the first.
TEST(PrintClick, PreviewsTheComposedCardAndLeavesNoCardFile) {
    const QString references[] = {QString(), QStringLiteral("R-2026/17"), QStringLiteral("../../x"),
                                  QStringLiteral("dedo1")};
    for (const QString& reference : references) {
        SCOPED_TRACE(reference.toStdString());
        ScopedWorkingDir wd;
        TFTrazel w{QStringList{reference}};
        WriteSet();
        ComposeCard(QStringLiteral("expected.bmp"), QStringLiteral("dedo"));
        const QByteArray expected = ReadAll(QStringLiteral("expected.bmp"));
        const QByteArray slot1 = ReadAll(QStringLiteral("dedo1.bmp"));
        const auto before = CardFilesInProgramFolder();

        MessageRecorder messages;
        std::vector<QByteArray> shown;
        PreviewSpy preview([&](TrpFicha& card) {
            const QFileInfo file(card.ImageFile());
            EXPECT_EQ(file.canonicalPath(),
                      QFileInfo(platform::ProgramFolder()).canonicalFilePath());
            EXPECT_EQ(card.Reference(), reference);
            shown.push_back(ReadAll(card.ImageFile()));
            for (TInfoWnd* info : InfoWindows()) {
                EXPECT_FALSE(info->isVisible());
                EXPECT_EQ(info->Text->toPlainText().toStdString(),
                          // The step texts end in "..." of their own, and AddStep adds three more.
                          "Generación de la ficha completa\n"
                          "   Por favor, espera mientras se genera la imágen......Ok.\n"
                          "   Guardando......Ok.");
            }
            // Preparing the page loads the picture and writes the reference.
            EXPECT_TRUE(card.PrintToPdf(wd.File(QStringLiteral("card.pdf"))));
            EXPECT_EQ(card.QRImage1->Image.size(), QSize(3600, 1600));
            EXPECT_EQ(card.QRLabel1->Caption, reference);
        });
        w.btPrintClick();
        w.btPrintClick();

        EXPECT_TRUE(messages.Requests.empty());
        ASSERT_EQ(preview.Calls, 2);
        ASSERT_EQ(shown.size(), 2u);
        EXPECT_TRUE(shown[0] == expected);
        EXPECT_TRUE(shown[1] == expected);
        EXPECT_EQ(CardFilesInProgramFolder(), before);
        EXPECT_TRUE(InfoWindows().empty());
        EXPECT_TRUE(ReadAll(QStringLiteral("dedo1.bmp")) == slot1);
    }
}

// A print that does not load ends the card silently and leaves nothing behind.
TEST(PrintClick, APrintThatDoesNotLoadEndsSilently) {
    ScopedWorkingDir wd;
    TFTrazel w{QStringList{QStringLiteral("R1")}};
    WriteSet();
    QFile::resize(QStringLiteral("dedo6.bmp"), 100);
    MessageRecorder messages;
    PreviewSpy preview;
    const auto before = CardFilesInProgramFolder();
    w.btPrintClick();
    EXPECT_TRUE(messages.Requests.empty());
    EXPECT_EQ(preview.Calls, 0);
    EXPECT_TRUE(InfoWindows().empty());
    EXPECT_EQ(CardFilesInProgramFolder(), before);
}

TEST(CardReport, SetImageFileRefusesAMissingFile) {
    ScopedWorkingDir wd;
    TrpFicha card;
    try {
        card.SetImageFile(QStringLiteral("nada.bmp"));
        FAIL() << "no error raised";
    } catch (const platform::StationError& e) {
        EXPECT_EQ(e.Text(), QStringLiteral("Imágen: \"nada.bmp\" inexistente."));
    }
    EXPECT_TRUE(card.ImageFile().isEmpty());
}

// The page as a PDF: one A4 landscape page, the picture stretched into its box 37.0 mm and
// 5.7 mm from the margins' corner (10 mm), 200.2 × 100.1 mm, inside a dotted frame, with the
// reference in black over its top left corner.
TEST(CardReport, PdfPageHasThePictureInItsBox) {
    if (!HaveTool(QStringLiteral("pdftoppm")) || !HaveTool(QStringLiteral("pdfinfo")))
        GTEST_SKIP() << "pdftoppm and pdfinfo (poppler-utils) are not installed";
    ScopedWorkingDir wd;
    WriteBmp(*FilledBlock(400, 200, 128), QStringLiteral("card.bmp"));
    TrpFicha card;
    card.SetImageFile(QStringLiteral("card.bmp"));
    card.SetReference(QStringLiteral("REF 2026-17"));
    ASSERT_TRUE(card.PrintToPdf(wd.File(QStringLiteral("card.pdf"))));

    const QString info = RunTool(QStringLiteral("pdfinfo"), {wd.File(QStringLiteral("card.pdf"))});
    EXPECT_TRUE(info.contains(QRegularExpression(QStringLiteral("Pages:\\s+1\\n"))))
        << qPrintable(info);
    const QRegularExpressionMatch size =
        QRegularExpression(QStringLiteral("Page size:\\s+([0-9.]+) x ([0-9.]+) pts")).match(info);
    ASSERT_TRUE(size.hasMatch()) << qPrintable(info);
    EXPECT_NEAR(size.captured(1).toDouble(), 297 / 25.4 * 72, 0.5);
    EXPECT_NEAR(size.captured(2).toDouble(), 210 / 25.4 * 72, 0.5);

    constexpr int kDpi = 200;
    RunTool(QStringLiteral("pdftoppm"),
            {QStringLiteral("-r"), QString::number(kDpi), QStringLiteral("-gray"),
             QStringLiteral("-singlefile"), wd.File(QStringLiteral("card.pdf")),
             wd.File(QStringLiteral("page"))});
    const QImage page(wd.File(QStringLiteral("page.pgm")));
    ASSERT_FALSE(page.isNull());
    auto px = [](double mm) { return mm * kDpi / 25.4; };
    auto grey = [&](int x, int y) { return qGray(page.pixel(x, y)); };
    auto isPicture = [&](int x, int y) { return std::abs(grey(x, y) - 128) < 20; };

    // Edges of the grey picture along the middle of the box.
    const int midY = qRound(px(10 + 5.7 + 50)), midX = qRound(px(10 + 37.0 + 100));
    int left = -1, right = -1, top = -1, bottom = -1;
    for (int x = 0; x < page.width(); ++x)
        if (isPicture(x, midY)) {
            if (left < 0)
                left = x;
            right = x;
        }
    for (int y = 0; y < page.height(); ++y)
        if (isPicture(midX, y)) {
            if (top < 0)
                top = y;
            bottom = y;
        }
    EXPECT_NEAR(left, px(47.0), 2);
    EXPECT_NEAR(right + 1, px(47.0 + 200.2), 2);
    EXPECT_NEAR(top, px(15.7), 2);
    EXPECT_NEAR(bottom + 1, px(15.7 + 100.1), 2);

    // The reference: black text in its corner of the picture, nowhere else on it.
    auto darkIn = [&](double x0, double y0, double x1, double y1) {
        int n = 0;
        for (int y = qRound(px(y0)); y < qRound(px(y1)); ++y)
            for (int x = qRound(px(x0)); x < qRound(px(x1)); ++x)
                n += grey(x, y) < 60;
        return n;
    };
    EXPECT_GT(darkIn(47.9, 16.2, 70, 20.6), 50);
    EXPECT_EQ(darkIn(100, 40, 200, 100), 0);

    // The frame's upper side is dotted: dark and light stretches along it.
    const int frameY = qRound(px(10 + 5.3 - 0.2));
    int dark = 0, light = 0;
    for (int x = qRound(px(60)); x < qRound(px(220)); ++x)
        (grey(x, frameY) < 100 ? dark : light)++;
    EXPECT_GT(dark, 0.2 * (dark + light));
    EXPECT_GT(light, 0.2 * (dark + light));
}

// Without a hook the real preview window opens, modal, showing the page; closing it returns
// from the handler, which then deletes the card file.
TEST(PrintClick, TheRealPreviewWindowShowsThePageUntilClosed) {
    ScopedWorkingDir wd;
    TFTrazel w{QStringList{QStringLiteral("EXP-2024/0001")}};
    WriteSet();
    MessageRecorder messages;
    const auto before = CardFilesInProgramFolder();
    bool seen = false;
    // The info window runs events too: wait for the preview to be the modal window, at the
    // zoom it opens with.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* preview = qobject_cast<QPrintPreviewDialog*>(QApplication::activeModalWidget());
        auto* view = preview ? preview->findChild<QPrintPreviewWidget*>() : nullptr;
        if (!view || view->zoomMode() != QPrintPreviewWidget::CustomZoom)
            return;
        poll.stop();
        seen = true;
        EXPECT_EQ(CardFilesInProgramFolder().size(), before.size() + 1);
        EXPECT_EQ(view->pageCount(), 1);
        EXPECT_EQ(view->zoomFactor(), report::Report::kPreviewZoom);
        // The print dialog names the PDF after the job: no folder may come from the reference.
        EXPECT_EQ(preview->printer()->docName(), "Ficha EXP-2024_0001");
        if (!qEnvironmentVariableIsEmpty("CARD_KEEP_PREVIEW"))
            preview->grab().save(qEnvironmentVariable("CARD_KEEP_PREVIEW"));
        preview->reject();
    });
    poll.start(20);
    w.btPrintClick();
    EXPECT_TRUE(seen);
    EXPECT_TRUE(messages.Requests.empty());
    EXPECT_EQ(CardFilesInProgramFolder(), before);
}
