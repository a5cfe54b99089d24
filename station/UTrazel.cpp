#include "DuplicateCheck.h"
#include "UTrazel.h"

#include "BusyCursor.h"
#include "Errors.h"
#include "Screen.h"
#include "UConfigTrazel.h"
#include "USplash.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QKeyEvent>
#include <QMenuBar>
#include <QPainter>

TFTrazel* FTrazel = nullptr;

namespace {

struct SlotPlace {
    int viewerLeft, viewerTop, frameLeft, frameTop;
};

constexpr SlotPlace kSlotPlaces[10] = {
    {8, 8, 5, 5},         {120, 8, 118, 5},     {232, 8, 229, 5},     {344, 8, 341, 5},
    {456, 8, 453, 5},     {8, 120, 5, 117},     {120, 120, 117, 117}, {232, 120, 229, 117},
    {344, 120, 341, 117}, {456, 120, 453, 117},
};

constexpr int kClientWidth = 564;
constexpr int kClientHeight = 260;
constexpr int kDoubleClickMs = 500;

// The slot number of a viewer, from the characters after "dedo" in its name (0 when they are
// not a number).
int SlotOfViewer(const QObject* sender) {
    if (!sender)
        return 0;
    const QString name = sender->objectName();
    if (!name.startsWith(QStringLiteral("dedo")))
        return 0;
    bool ok = false;
    const int n = name.mid(4).toInt(&ok);
    return ok ? n : 0;
}

} // namespace

QColor ButtonFace() {
    return QApplication::palette().color(QPalette::Button);
}

TShape::TShape(QWidget* parent) : QWidget(parent), FPen(ButtonFace()) {}

void TShape::SetPenColor(const QColor& c) {
    FPen = c;
    update();
}

void TShape::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), ButtonFace());
    QPen pen(FPen);
    pen.setWidth(2);
    pen.setJoinStyle(Qt::MiterJoin);
    p.setPen(pen);
    p.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
}

int VirtualKey(int qtKey, Qt::KeyboardModifiers& modifiers) {
    modifiers &= Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
    switch (qtKey) {
    case Qt::Key_Tab:
        return VK_TAB;
    case Qt::Key_Backtab: // Shift+Tab arrives as its own key
        modifiers |= Qt::ShiftModifier;
        return VK_TAB;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return VK_RETURN;
    case Qt::Key_Space:
        return VK_SPACE;
    case Qt::Key_Escape:
        return VK_ESCAPE;
    default:
        return qtKey;
    }
}

QString TFTrazel::FingerDisplayName(int n) {
    static const QString names[10] = {
        QStringLiteral("Pulgar Derecho"),   QStringLiteral("Indice Derecho"),
        QStringLiteral("Medio Derecho"),    QStringLiteral("Anular Derecho"),
        QStringLiteral("Meñique Derecho"),  QStringLiteral("Pulgar Izquierdo"),
        QStringLiteral("Indice Izquierdo"), QStringLiteral("Medio Izquierdo"),
        QStringLiteral("Anular Izquierdo"), QStringLiteral("Meñique Izquierdo"),
    };
    if (n >= 1 && n <= 10)
        return names[n - 1];
    return QStringLiteral("Desconocido");
}

TFTrazel::TFTrazel(const QStringList& args, QWidget* parent) : QMainWindow(parent) {
    setObjectName("FTrazel");
    setWindowTitle(QStringLiteral("Trazel Integrated Biometrics - Versión 1.07"));
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(13);
    setFont(f);
    BuildMenu();
    BuildLayout();
    TimerStart = new QTimer(this);
    TimerStart->setObjectName("TimerStart");
    TimerStart->setInterval(50);
    connect(TimerStart, &QTimer::timeout, this,
            [this] { platform::RunReported([this] { TimerStartTimer(); }); });
    FormCreate(args);
}

TFTrazel::~TFTrazel() {
    delete FClickCrono;
    delete FSetCrono;
}

void TFTrazel::BuildMenu() {
    menuArchivo = menuBar()->addMenu(QStringLiteral("&Archivo"));
    miConfig = menuArchivo->addAction(QStringLiteral("&Configuración"));
    miConfig->setObjectName("miConfig");
    Cargarimagenesdeprueba1 = menuArchivo->addAction(QStringLiteral("Cargar imagenes de prueba"));
    Cargarimagenesdeprueba1->setObjectName("Cargarimagenesdeprueba1");
    Cargarimagenesdeprueba1->setVisible(false);
    Imprimirficha1 = menuArchivo->addAction(QStringLiteral("&Imprimir ficha"));
    Imprimirficha1->setObjectName("Imprimirficha1");
    miSalir = menuArchivo->addAction(QStringLiteral("&Salir"));
    miSalir->setObjectName("miSalir");
    menuAmputaciones = menuBar()->addMenu(QStringLiteral("A&mputaciones"));
    for (int i = 0; i < 10; ++i) {
        amp_d[i] = menuAmputaciones->addAction(FingerDisplayName(i + 1));
        amp_d[i]->setObjectName(QStringLiteral("amp_d%1").arg(i));
        QAction* item = amp_d[i];
        connect(item, &QAction::triggered, this,
                [this, item] { platform::RunReported([this, item] { AmputarClick(item); }); });
    }
    auto wire = [this](QAction* a, void (TFTrazel::*handler)()) {
        connect(a, &QAction::triggered, this, [this, handler] {
            platform::RunReported([this, handler] { (this->*handler)(); });
        });
    };
    wire(miConfig, &TFTrazel::miConfigClick);
    wire(Cargarimagenesdeprueba1, &TFTrazel::Cargarimagenesdeprueba1Click);
    wire(Imprimirficha1, &TFTrazel::btPrintClick);
    wire(miSalir, &TFTrazel::miSalirClick);
}

void TFTrazel::BuildLayout() {
    Client = new QWidget(this);
    Client->setObjectName("Client");
    Client->setAutoFillBackground(true);
    Client->resize(kClientWidth, kClientHeight);
    setCentralWidget(Client);

    for (int i = 0; i < 10; ++i) {
        rect[i] = new TShape(Client);
        rect[i]->setObjectName(QStringLiteral("rect%1").arg(i + 1));
        rect[i]->setGeometry(kSlotPlaces[i].frameLeft, kSlotPlaces[i].frameTop, 105, 105);
    }
    rect[0]->SetPenColor(Qt::red);
    for (int i = 0; i < 10; ++i) {
        dedo[i] = new TImageViewer(Client);
        dedo[i]->setObjectName(QStringLiteral("dedo%1").arg(i + 1));
        dedo[i]->setGeometry(kSlotPlaces[i].viewerLeft, kSlotPlaces[i].viewerTop, 100, 100);
        dedo[i]->SetScale(100);
        scoreBadge[i] = new TSlotBadge(dedo[i], Qt::BottomRightCorner);
        TImageViewer* v = dedo[i];
        connect(v, &TImageViewer::mouseReleased, this, [this, v](Qt::MouseButton) {
            platform::RunReported([this, v] { dedoMouseUp(v); });
        });
        connect(v, &TImageViewer::keyReleased, this, [this](int key, Qt::KeyboardModifiers m) {
            platform::RunReported([this, key, m] {
                Qt::KeyboardModifiers mods = m;
                int vk = VirtualKey(key, mods);
                FormKeyUp(vk, mods);
            });
        });
    }
    for (int i = 1; i < 10; ++i)
        setTabOrder(dedo[i - 1], dedo[i]);

    Panel = new TPanel(Client);
    Panel->setObjectName("Panel");
    Panel->setGeometry(0, kClientHeight - 36, kClientWidth, 36);
    panMsg = new TPanel(Panel);
    panMsg->setObjectName("panMsg");
    panMsg->setGeometry(0, 0, 169, 36);
    lblMsg = new TMessageLine(panMsg);
    lblMsg->setObjectName("lblMsg");
    lblMsg->setGeometry(0, 0, 169, 36);
    Label1 = new QLabel(QStringLiteral("Ref:"), Panel);
    Label1->setObjectName("Label1");
    Label1->move(176, 8);
    Label1->adjustSize();
    edRef = new QLineEdit(Panel);
    edRef->setObjectName("edRef");
    edRef->setGeometry(208, 8, 89, 24);
    auto button = [this](const QString& caption, const char* name, int left, int width,
                         void (TFTrazel::*handler)()) {
        auto* b = new QPushButton(caption, Panel);
        b->setObjectName(name);
        b->setGeometry(left, 8, width, 25);
        // Pressed by Return and Enter as well as Space while it has the focus, as operators
        // expect of any button.
        b->setAutoDefault(true);
        connect(b, &QPushButton::clicked, this, [this, handler] {
            platform::RunReported([this, handler] { (this->*handler)(); });
        });
        return b;
    };
    btPrint = button(QStringLiteral("&Imprimir"), "btPrint", 304, 59, &TFTrazel::btPrintClick);
    btClear = button(QStringLiteral("&Limpiar"), "btClear", 368, 57, &TFTrazel::btClearClick);
    btGrabar = button(QStringLiteral("&Grabar"), "btGrabar", 432, 58, &TFTrazel::btGrabarClick);
    btSalir = button(QStringLiteral("&Salir"), "btSalir", 496, 57, &TFTrazel::btSalirClick);
    setTabOrder(dedo[9], edRef);
    setTabOrder(edRef, btPrint);
    setTabOrder(btPrint, btClear);
    setTabOrder(btClear, btGrabar);
    setTabOrder(btGrabar, btSalir);

    // The client area keeps its design size until the window is shown; the first resize
    // records the design proportions.
    const int menuHeight = menuBar()->sizeHint().height();
    resize(kClientWidth, kClientHeight + menuHeight);
    setMinimumSize(kClientWidth, kClientHeight + menuHeight);
    Client->installEventFilter(this);
    Resizer.StoreLayout(Client);
}

void TFTrazel::FormCreate(const QStringList& args) {
    for (int n = 1; n <= 10; ++n) {
        FQualityStatus[n] = -2;
        FQualityScore[n] = 0;
    }
    FClickCrono = new TCrono;
    FSetCrono = new TCrono;
    FClickCrono->Start();
    FSetCrono->Start();
    AttachFingerScan();
    FDuplicates = new TDuplicateCheck(this);
    SelectSlot(1);
    DeleteSlotFiles();
    if (!args.isEmpty()) {
        edRef->setText(args.first());
        edRef->setCursorPosition(0); // a long reference shows from its start
        edRef->setToolTip(args.first());
        edRef->setEnabled(false);
    }
    platform::CenterOnScreen(this);
}

void TFTrazel::ShowMessageLine(const QString& text) {
    lblMsg->SetMessage(text);
}

TImageViewer* TFTrazel::SlotViewer(int n) const {
    return Client->findChild<TImageViewer*>(QStringLiteral("dedo%1").arg(n),
                                            Qt::FindDirectChildrenOnly);
}

TSlotBadge* TFTrazel::ScoreBadge(int n) const {
    return n >= 1 && n <= 10 ? scoreBadge[n - 1] : nullptr;
}

TShape* TFTrazel::SlotFrame(int n) const {
    return Client->findChild<TShape*>(QStringLiteral("rect%1").arg(n), Qt::FindDirectChildrenOnly);
}

void TFTrazel::SetFrameColor(int n, const QColor& colour) {
    if (TShape* frame = SlotFrame(n))
        frame->SetPenColor(colour);
}

void TFTrazel::SelectSlot(int n) {
    SetFrameColor(FCurrentSlot, ButtonFace());
    FCurrentSlot = n;
    SetFrameColor(n, Qt::red);
    ShowQualityLine();
    FCurrentImage = SlotViewer(n);
    // Focus can only go to a control of a visible window.
    if (isVisible() && FCurrentImage)
        FCurrentImage->setFocus(Qt::OtherFocusReason);
}

void TFTrazel::DeleteSlotFiles() {
    for (int n = 1; n <= 10; ++n) {
        QFile::remove(QStringLiteral("dedo%1.bmp").arg(n));
        QFile::remove(QStringLiteral("dedo%1.wsq").arg(n));
    }
}

void TFTrazel::FormKeyUp(int& key, Qt::KeyboardModifiers shift) {
    shift &= Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
    if (key == VK_SPACE || (key == VK_TAB && shift == Qt::NoModifier)) {
        SelectSlot(CurrentSlot() == 10 ? 1 : CurrentSlot() + 1);
        QCoreApplication::processEvents();
        key = VK_RETURN;
    }
    if (key == VK_TAB && shift == Qt::ShiftModifier)
        SelectSlot(CurrentSlot() == 1 ? 10 : CurrentSlot() - 1);
    if (key == VK_RETURN && IsIntegratedBiometrics(CurrentScannerType()))
        RequestCapture(CurrentSlot());
}

void TFTrazel::dedoClick(QObject* sender) {
    const int n = SlotOfViewer(sender);
    if (n >= 1 && n <= 10) {
        SelectSlot(n);
        ShowQualityLine();
    }
}

void TFTrazel::dedoMouseUp(QObject* sender) {
    FClickCrono->Stop();
    if (FClickCrono->Elapsed() <= kDoubleClickMs)
        dedoDblClick();
    else
        dedoClick(sender);
    FClickCrono->Start();
}

void TFTrazel::FitToViewer(TImageViewer* viewer) {
    const int w = viewer->ImageWidth(), h = viewer->ImageHeight();
    if (w <= 0 || h <= 0)
        return;
    viewer->SetScale(100.0 * std::min(double(viewer->width()) / w, double(viewer->height()) / h));
}

void TFTrazel::FormResize() {
    platform::BusyCursor busy;
    Resizer.Resize(Client);
    for (TImageViewer* v : dedo)
        if (v->ImageWidth() > 0)
            FitToViewer(v);
}

void TFTrazel::TimerStartTimer() {
    TimerStart->stop();
    if (FSplash)
        FSplash->close();
    showMaximized();
    QCoreApplication::processEvents();
    if (IsIntegratedBiometrics(CurrentScannerType())) {
        int key = VK_RETURN;
        FormKeyUp(key, Qt::NoModifier);
    }
}

void TFTrazel::miConfigClick() {
    if (FConfigTrazel)
        FConfigTrazel->exec();
}

void TFTrazel::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    if (!e->spontaneous())
        FormShow();
}

void TFTrazel::hideEvent(QHideEvent* e) {
    QMainWindow::hideEvent(e);
    if (!e->spontaneous())
        FormHide();
}

void TFTrazel::keyReleaseEvent(QKeyEvent* e) {
    // Key releases on the window itself (not those that bubble up from the edit field or the
    // buttons) follow the slot rules.
    QWidget* focus = QApplication::focusWidget();
    if (focus && focus != this && focus != Client) {
        QMainWindow::keyReleaseEvent(e);
        return;
    }
    Qt::KeyboardModifiers mods = e->modifiers();
    int vk = VirtualKey(e->key(), mods);
    platform::RunReported([&] { FormKeyUp(vk, mods); });
}

void TFTrazel::closeEvent(QCloseEvent* e) {
    QMainWindow::closeEvent(e);
    if (e->isAccepted())
        emit closed();
}

bool TFTrazel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Client && event->type() == QEvent::Resize)
        platform::RunReported([this] { FormResize(); });
    return QMainWindow::eventFilter(watched, event);
}
