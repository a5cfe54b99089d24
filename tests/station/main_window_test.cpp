#include "Clock.h"
#include "TestSupport.h"
#include "UConfigTrazel.h"
#include "UTrazel.h"

#include <QFile>
#include <QFontMetrics>
#include <QMenuBar>
#include <QTest>

namespace {

class RecordingTrazel : public TFTrazel {
  public:
    using TFTrazel::TFTrazel;
    std::vector<int> requests;
    int viewerOpenings = 0;
    void RequestCapture(int slot) override { requests.push_back(slot); }
    void dedoDblClick() override { ++viewerOpenings; }
};

struct FakeClock {
    uint32_t now = 50000;
    FakeClock() {
        platform::SetTickSourceForTesting([this] { return now; });
    }
    ~FakeClock() { platform::SetTickSourceForTesting({}); }
};

// A settings dialog on a private settings file with the given scanner type.
class Settings {
  public:
    explicit Settings(int scannerType) : dlg(nullptr, dir.filePath("TrazelIB.INI")) {
        dlg.cbScannerType->setCurrentIndex(scannerType);
        FConfigTrazel = &dlg;
    }
    ~Settings() { FConfigTrazel = nullptr; }

  private:
    QTemporaryDir dir;

  public:
    TFConfigTrazel dlg;
};

int RedFrames(const TFTrazel& w) {
    int n = 0;
    for (int i = 1; i <= 10; ++i)
        if (w.SlotFrame(i)->PenColor() == QColor(Qt::red))
            ++n;
    return n;
}

} // namespace

TEST(MainWindow, LayoutCaptionAndTexts) {
    ScopedWorkingDir wd;
    Settings settings(0);
    RecordingTrazel w{QStringList()};
    EXPECT_EQ(w.windowTitle(), "Trazel Integrated Biometrics - Versión 1.07");
    for (int n = 1; n <= 10; ++n) {
        ASSERT_NE(w.SlotViewer(n), nullptr);
        EXPECT_EQ(w.SlotViewer(n)->size(), QSize(100, 100));
        EXPECT_EQ(w.SlotFrame(n)->size(), QSize(105, 105));
        EXPECT_EQ(w.SlotViewer(n)->ImageWidth(), 0);
    }
    EXPECT_EQ(w.SlotViewer(7)->pos(), QPoint(120, 120));
    EXPECT_EQ(w.SlotFrame(7)->pos(), QPoint(117, 117));
    EXPECT_EQ(w.SlotViewer(11), nullptr);
    EXPECT_EQ(w.CurrentSlot(), 1);
    EXPECT_EQ(RedFrames(w), 1);
    EXPECT_EQ(w.SlotFrame(1)->PenColor(), QColor(Qt::red));
    EXPECT_EQ(w.Label1->text(), "Ref:");
    EXPECT_EQ(w.btPrint->text(), "&Imprimir");
    EXPECT_EQ(w.btClear->text(), "&Limpiar");
    EXPECT_EQ(w.btGrabar->text(), "&Grabar");
    EXPECT_EQ(w.btSalir->text(), "&Salir");
    EXPECT_EQ(w.menuArchivo->title(), "&Archivo");
    EXPECT_EQ(w.menuAmputaciones->title(), "A&mputaciones");
    EXPECT_EQ(w.miConfig->text(), "&Configuración");
    EXPECT_FALSE(w.Cargarimagenesdeprueba1->isVisible());
    EXPECT_EQ(w.amp_d[4]->text(), "Meñique Derecho");
    EXPECT_EQ(w.amp_d[9]->objectName(), "amp_d9");
    EXPECT_EQ(TFTrazel::FingerDisplayName(10), "Meñique Izquierdo");
    EXPECT_EQ(TFTrazel::FingerDisplayName(0), "Desconocido");
    EXPECT_EQ(TFTrazel::FingerDisplayName(11), "Desconocido");
}

TEST(MainWindow, KeyRules) {
    struct Case {
        int from;
        int key;
        Qt::KeyboardModifiers mods;
        int scannerType;
        int to;
        std::vector<int> requests;
    } cases[] = {
        {10, Qt::Key_Space, Qt::NoModifier, 0, 1, {1}},
        {3, Qt::Key_Space, Qt::ControlModifier, 0, 4, {4}},
        {3, Qt::Key_Tab, Qt::NoModifier, 1, 4, {4}},
        {10, Qt::Key_Tab, Qt::NoModifier, 0, 1, {1}},
        {1, Qt::Key_Backtab, Qt::ShiftModifier, 0, 10, {}},
        {5, Qt::Key_Backtab, Qt::ShiftModifier, 0, 4, {}},
        {3, Qt::Key_Tab, Qt::ControlModifier, 0, 3, {}},
        {3, Qt::Key_Tab, Qt::AltModifier, 0, 3, {}},
        {3, Qt::Key_Backtab, Qt::ShiftModifier | Qt::ControlModifier, 0, 3, {}},
        {3, Qt::Key_Return, Qt::NoModifier, 0, 3, {3}},
        {3, Qt::Key_Enter, Qt::ShiftModifier | Qt::KeypadModifier, 1, 3, {3}},
        {3, Qt::Key_Return, Qt::NoModifier, 2, 3, {}},
        {3, Qt::Key_Return, Qt::NoModifier, -1, 3, {}},
        {3, Qt::Key_Space, Qt::NoModifier, 2, 4, {}},
        {3, Qt::Key_A, Qt::NoModifier, 0, 3, {}},
    };
    ScopedWorkingDir wd;
    for (const Case& c : cases) {
        Settings settings(c.scannerType);
        RecordingTrazel w{QStringList()};
        w.show();
        w.SelectSlot(c.from);
        QTest::keyRelease(w.SlotViewer(c.from), static_cast<Qt::Key>(c.key), c.mods);
        EXPECT_EQ(w.CurrentSlot(), c.to) << "key " << c.key << " from " << c.from;
        EXPECT_EQ(w.requests, c.requests) << "key " << c.key << " from " << c.from;
        EXPECT_EQ(RedFrames(w), 1);
        EXPECT_EQ(w.SlotFrame(c.to)->PenColor(), QColor(Qt::red));
        EXPECT_EQ(w.CurrentImage(), w.SlotViewer(c.to));
        EXPECT_EQ(w.focusWidget(), w.SlotViewer(c.to));
    }
}

TEST(MainWindow, KeysTypedIntoTheReferenceDoNotMoveTheSelection) {
    ScopedWorkingDir wd;
    Settings settings(0);
    RecordingTrazel w{QStringList()};
    w.show();
    w.edRef->setFocus();
    QTest::keyClick(w.edRef, Qt::Key_Space);
    EXPECT_EQ(w.CurrentSlot(), 1);
    EXPECT_TRUE(w.requests.empty());
}

TEST(MainWindow, TwoReleasesWithin500msOpenTheViewer) {
    ScopedWorkingDir wd;
    Settings settings(0);
    FakeClock clock;
    RecordingTrazel w{QStringList()};
    w.show();
    auto release = [&](int slot, uint32_t after) {
        clock.now += after;
        QTest::mouseRelease(w.SlotViewer(slot)->viewport(), Qt::LeftButton, {}, QPoint(50, 50));
    };
    release(3, 1000);
    EXPECT_EQ(w.CurrentSlot(), 3);
    EXPECT_EQ(w.viewerOpenings, 0);
    release(3, 500); // 500 ms: a double-click
    EXPECT_EQ(w.viewerOpenings, 1);
    release(5, 501); // 501 ms: a click
    EXPECT_EQ(w.viewerOpenings, 1);
    EXPECT_EQ(w.CurrentSlot(), 5);
    release(8, 501);
    release(2, 100); // quick second release on another slot opens the current one's viewer
    EXPECT_EQ(w.viewerOpenings, 2);
    EXPECT_EQ(w.CurrentSlot(), 8);
    EXPECT_TRUE(w.requests.empty());
}

TEST(MainWindow, ReferenceFromFirstArgument) {
    ScopedWorkingDir wd;
    Settings settings(0);
    RecordingTrazel with{QStringList{"EXP-2024/17", "ignored"}};
    EXPECT_EQ(with.edRef->text(), "EXP-2024/17");
    EXPECT_FALSE(with.edRef->isEnabled());
    RecordingTrazel without{QStringList()};
    EXPECT_EQ(without.edRef->text(), "");
    EXPECT_TRUE(without.edRef->isEnabled());
}

TEST(MainWindow, LeftoverSlotFilesAreDeletedAtCreation) {
    ScopedWorkingDir wd;
    Settings settings(0);
    for (const char* name : {"dedo3.bmp", "dedo3.wsq", "dedo10.bmp", "dedo11.bmp", "huella.bmp"}) {
        QFile f(name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    RecordingTrazel w{QStringList()};
    EXPECT_FALSE(QFile::exists("dedo3.bmp"));
    EXPECT_FALSE(QFile::exists("dedo3.wsq"));
    EXPECT_FALSE(QFile::exists("dedo10.bmp"));
    EXPECT_TRUE(QFile::exists("dedo11.bmp"));
    EXPECT_TRUE(QFile::exists("huella.bmp"));
}

TEST(MainWindow, ResizeScalesTheLayoutAndRefitsPrints) {
    ScopedWorkingDir wd;
    Settings settings(0);
    RecordingTrazel w{QStringList()};
    w.show();
    w.SlotViewer(2)->SetImage(DibBlock::CreateGrey(200, 400));
    w.SlotViewer(4)->SetScale(37);
    const QSize design = w.Client->size();
    ASSERT_EQ(design, QSize(564, 260));
    w.resize(w.width() + 564, w.height() + 260);
    QCoreApplication::processEvents();
    ASSERT_EQ(w.Client->size(), QSize(1128, 520));
    EXPECT_EQ(w.SlotViewer(1)->geometry(), QRect(16, 16, 200, 200));
    EXPECT_EQ(w.SlotViewer(2)->Scale(), 50.0); // 100 × min(200/200, 200/400)
    EXPECT_EQ(w.SlotViewer(4)->Scale(), 37.0); // empty slots keep their scale
    EXPECT_EQ(w.btSalir->geometry(), QRect(992, 16, 114, 50));
}

// The quality line the station can make longest: every word of it must be readable in the
// message line at the design size and maximised; a longer text is cut visibly, whole in the
// tooltip.
TEST(MainWindow, MessageLineShowsItsWholeText) {
    ScopedWorkingDir wd;
    Settings settings(0);
    RecordingTrazel w{QStringList()};
    w.show();
    const QString longest = "NFIQ Meñique Izquierdo: 0 (Error Falta memoria para procesar la "
                            "imagen) - Promedio: 0 (Error)";
    const auto whole = [&](const QString& text) {
        const QRect room = w.lblMsg->contentsRect();
        const QRect need =
            QFontMetrics(w.lblMsg->font())
                .boundingRect(QRect(0, 0, room.width(), 10000), Qt::TextWordWrap, w.lblMsg->text());
        return w.lblMsg->text() == text && need.width() <= room.width() &&
               need.height() <= room.height();
    };
    ASSERT_EQ(w.Client->size(), QSize(564, 260));
    w.ShowMessageLine(longest);
    EXPECT_TRUE(whole(longest)) << w.lblMsg->font().pixelSize();
    EXPECT_GE(w.lblMsg->font().pixelSize(), TMessageLine::kSmallestPixelSize);

    w.resize(w.width() + 564, w.height() + 260);
    QCoreApplication::processEvents();
    EXPECT_TRUE(whole(longest));
    EXPECT_EQ(w.lblMsg->font().pixelSize(), 13); // room enough for the window's own face

    w.resize(w.width() - 564, w.height() - 260);
    QCoreApplication::processEvents();
    const QString tooLong = "Error: convirtiendo el Meñique Izquierdo! . Mensaje:" +
                            QString(" no hay espacio en el dispositivo").repeated(6);
    w.ShowMessageLine(tooLong);
    EXPECT_TRUE(w.lblMsg->text().endsWith(QChar(0x2026)));
    EXPECT_TRUE(whole(w.lblMsg->text()));
    EXPECT_EQ(w.lblMsg->toolTip(), tooLong);
    EXPECT_EQ(w.lblMsg->Message(), tooLong);
}

TEST(MainWindow, StartTimerCapturesFirstSlotOnlyForIntegratedBiometrics) {
    ScopedWorkingDir wd;
    for (int type : {0, 1, 2, -1}) {
        Settings settings(type);
        RecordingTrazel w{QStringList()};
        w.show();
        w.TimerStart->start();
        w.TimerStartTimer();
        EXPECT_FALSE(w.TimerStart->isActive());
        EXPECT_EQ(w.CurrentSlot(), 1);
        EXPECT_EQ(w.requests,
                  IsIntegratedBiometrics(type) ? std::vector<int>{1} : std::vector<int>{})
            << "type " << type;
    }
}
