#include "Clock.h"
#include "Panel.h"
#include "Resizer.h"
#include "TestSupport.h"
#include "UCrono.h"
#include "UInfoWnd.h"
#include "UProgreso.h"
#include "USplash.h"
#include "UVerDedo.h"

#include <QFile>
#include <QKeyEvent>
#include <QApplication>
#include <QImage>
#include <QScreen>
#include <QScrollBar>

namespace {
struct FakeClock {
    uint32_t now = 1000;
    FakeClock() {
        platform::SetTickSourceForTesting([this] { return now; });
    }
    ~FakeClock() { platform::SetTickSourceForTesting({}); }
};
} // namespace

TEST(Crono, ElapsedIsNeverNegative) {
    FakeClock clock;
    TCrono c;
    EXPECT_EQ(c.Elapsed(), 0);
    c.Start();
    clock.now += 1500;
    EXPECT_EQ(c.Elapsed(), 0); // not stopped yet
    c.Stop();
    EXPECT_EQ(c.Elapsed(), 1500);
    // Across the 32-bit signed boundary the stop time reads as smaller: 0, not negative.
    clock.now = 0x7fffff00u;
    c.Start();
    clock.now = 0x80000010u;
    c.Stop();
    EXPECT_EQ(c.Elapsed(), 0);
}

TEST(Resizer, ScalesChildrenAndNestedPanels) {
    QWidget window;
    window.resize(564, 260);
    QWidget* slot = new QWidget(&window);
    slot->setGeometry(8, 8, 100, 100);
    TPanel* panel = new TPanel(&window);
    panel->setGeometry(0, 224, 564, 36);
    QWidget* button = new QWidget(panel);
    button->setGeometry(304, 8, 59, 25);
    TResizer r;
    r.Resize(&window); // records
    ASSERT_TRUE(r.Recorded());
    window.resize(1128, 520);
    r.Resize(&window);
    EXPECT_EQ(slot->geometry(), QRect(16, 16, 200, 200));
    EXPECT_EQ(panel->geometry(), QRect(0, 448, 1128, 72));
    EXPECT_EQ(button->geometry(), QRect(608, 16, 118, 50));
}

TEST(Resizer, RoundsHalvesToEven) {
    QWidget window;
    window.resize(10, 10);
    QWidget* child = new QWidget(&window);
    child->setGeometry(5, 0, 1, 1);
    TResizer r;
    r.Resize(&window);
    struct Case {
        int width, left;
    } cases[] = {{3, 2}, {5, 2}, {7, 4}, {9, 4}, {11, 6}}; // 1.5→2, 2.5→2, 3.5→4, 4.5→4, 5.5→6
    for (const Case& c : cases) {
        window.resize(c.width, 10);
        r.Resize(&window);
        EXPECT_EQ(child->x(), c.left) << "width " << c.width;
    }
}

TEST(Resizer, EmptyContainerDoesNotStopTheResize) {
    QWidget window;
    window.resize(100, 100);
    TPanel* empty = new TPanel(&window);
    empty->setGeometry(0, 0, 0, 0);
    QWidget* inner = new QWidget(empty);
    inner->setGeometry(1, 2, 3, 4);
    QWidget* other = new QWidget(&window);
    other->setGeometry(10, 10, 10, 10);
    TResizer r;
    r.Resize(&window);
    window.resize(200, 200);
    r.Resize(&window);
    EXPECT_EQ(other->geometry(), QRect(20, 20, 20, 20));
    EXPECT_EQ(inner->geometry(), QRect(1, 2, 3, 4));

    QWidget zero;
    zero.resize(0, 0);
    new QWidget(&zero);
    TResizer z;
    z.Resize(&zero);
    EXPECT_FALSE(z.Recorded()); // the next resize records again
}

TEST(InfoWnd, StepsReadAsLines) {
    TInfoWnd w;
    w.ShowInfo("Imprimiendo ficha");
    w.AddStep("Componiendo imagen");
    w.StepOk();
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(w.Text->toPlainText(), "Imprimiendo ficha\n   Componiendo imagen...Ok.");
    w.ShowInfo("Otra");
    EXPECT_EQ(w.Text->toPlainText(), "Otra");
    w.HideInfo();
    EXPECT_FALSE(w.isVisible());
}

TEST(VerDedo, ShowsPrintAtFullSizeAndClosesOnEscape) {
    TFVerDedo v;
    auto block = DibBlock::CreateGrey(500, 500);
    v.imgHuella->SetImage(std::move(block));
    v.show();
    EXPECT_EQ(v.size(), QSize(510, 510));
    EXPECT_EQ(v.imgHuella->size(), QSize(510, 510));
    EXPECT_EQ(v.imgHuella->Scale(), 100.0);
    QKeyEvent other(QEvent::KeyRelease, Qt::Key_A, Qt::NoModifier);
    QApplication::sendEvent(v.imgHuella, &other);
    EXPECT_TRUE(v.isVisible());
    QKeyEvent esc(QEvent::KeyRelease, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(v.imgHuella, &esc);
    EXPECT_FALSE(v.isVisible());
}

// Prints of any size, one after another as the station opens them: each shows whole at full
// size with its margin and no scroll bar, unless the screen is too small for it, and the
// window never leaves the screen.
TEST(VerDedo, EveryPrintShowsWholeWithoutScrollBars) {
    ScopedWorkingDir wd;
    TFVerDedo v;
    const QRect screen = v.screen()->availableGeometry();
    const QString caption = "Indice Derecho - NFIQ: 2 (Muy buena)";
    for (const QSize size : {QSize(230, 300), QSize(400, 500), QSize(800, 750)}) {
        QImage print(size, QImage::Format_Indexed8);
        QList<QRgb> grey;
        for (int i = 0; i < 256; ++i)
            grey << qRgb(i, i, i);
        print.setColorTable(grey);
        print.fill(128);
        const QString file = wd.File(QStringLiteral("p%1.bmp").arg(size.width()));
        ASSERT_TRUE(print.save(file));
        ASSERT_TRUE(v.imgHuella->LoadFromFile(file)); // loaded at the earlier print's size
        v.setWindowTitle(caption);
        v.show();
        QCoreApplication::processEvents();

        const double s = v.imgHuella->Scale();
        const QSize shown(static_cast<int>(size.width() * s / 100),
                          static_cast<int>(size.height() * s / 100));
        const bool fits =
            size.width() + 10 <= screen.width() && size.height() + 10 + 30 <= screen.height();
        EXPECT_EQ(s == 100, fits) << size.width();
        EXPECT_EQ(v.size(), shown + QSize(10, 10)) << size.width();
        EXPECT_EQ(v.minimumSize(), v.maximumSize()) << "fixed border";
        EXPECT_FALSE(v.imgHuella->horizontalScrollBar()->isVisible()) << size.width();
        EXPECT_FALSE(v.imgHuella->verticalScrollBar()->isVisible()) << size.width();
        EXPECT_EQ(v.imgHuella->viewport()->size(), v.size()) << size.width();
        EXPECT_TRUE(screen.contains(v.frameGeometry())) << size.width();
        EXPECT_EQ(v.windowTitle(),
                  fits ? caption : caption + QStringLiteral(" (reducida al %1 %)").arg(int(s)));
        // The narrow window cuts its title: the score is written over the print as well.
        EXPECT_EQ(v.lblCaption->isVisible(), size.width() == 230) << size.width();
        if (v.lblCaption->isVisible()) {
            EXPECT_EQ(v.lblCaption->text(), caption);
            EXPECT_LE(v.lblCaption->geometry().bottom(), v.imgHuella->viewport()->height());
        }
        v.close();
    }
}

TEST(Progreso, RangeOneToTen) {
    TFProgreso p;
    EXPECT_EQ(p.progressBar->minimum(), 1);
    EXPECT_EQ(p.progressBar->maximum(), 10);
    EXPECT_EQ(p.progressBar->value(), 1);
    EXPECT_TRUE(p.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(p.progressBar->isTextVisible()); // no per cent: the bar counts slots
    EXPECT_EQ(p.minimumSize(), p.maximumSize());
}

TEST(Splash, ShowsTheStoredPicture) {
    TFSplash s;
    EXPECT_EQ(s.size(), QSize(480, 300));
    ASSERT_FALSE(s.Image1->pixmap().isNull());
    EXPECT_EQ(s.Image1->pixmap().size(), QSize(480, 300));
    EXPECT_TRUE(DecodeJpeg("not a jpeg").isNull());
    QFile f(":/station/splash.jpg");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    // A truncated picture decodes as far as it goes, without crashing.
    EXPECT_EQ(DecodeJpeg(f.readAll().left(400)).width() % 480, 0);
}
