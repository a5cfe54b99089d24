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

TEST(Progreso, RangeOneToTen) {
    TFProgreso p;
    EXPECT_EQ(p.progressBar->minimum(), 1);
    EXPECT_EQ(p.progressBar->maximum(), 10);
    EXPECT_EQ(p.progressBar->value(), 1);
    EXPECT_TRUE(p.windowFlags() & Qt::WindowStaysOnTopHint);
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
