#include "IntegratedBiometrics.h"

#include "Beeper.h"
#include "BusyCursor.h"
#include "InitialzeDevice.h"
#include "ScannerPicture.h"
#include "Screen.h"

#include <IBScanUltimateApi.h>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <set>
#include <thread>

std::mutex CallbackLock;
TFIntegratedBiometrics* FIntegratedBiometrics = nullptr;

namespace {

const QString kDevicePlaceholder = QStringLiteral("- Por favor seleccione -");
constexpr int kBeepHz = 3500;

// Windows whose SDK handlers may still run. Changed and read only under CallbackLock, so a
// handler whose delivery began while the window was being destroyed finds it gone.
std::set<const void*> gLiveWindows;

// Hand-over counter of posted messages (PostEvent / event()).
std::atomic<unsigned> gHandOver{0};

QString Field(const char* text) {
    return QString::fromUtf8(text, static_cast<qsizetype>(strnlen(text, IBSU_MAX_STR_LEN)));
}

// A face-coloured edit box: the window's background colour instead of the usual white.
void FaceColour(QLineEdit* edit) {
    QPalette pal = edit->palette();
    pal.setColor(QPalette::Base, pal.color(QPalette::Window));
    edit->setPalette(pal);
}

QCheckBox* MakeCheck(const QString& text, QWidget* parent, const char* name, int x, int y) {
    auto* c = new QCheckBox(text, parent);
    c->setObjectName(name);
    c->move(x, y);
    c->adjustSize();
    return c;
}

} // namespace

platform::BeepPattern CaptureBeepPattern(int wParam) {
    switch (wParam) {
    case 0:
        return {{kBeepHz, 300}, {0, 150}, {kBeepHz, 150}, {0, 150},
                {kBeepHz, 150}, {0, 150}, {kBeepHz, 150}};
    case 1:
        return {{kBeepHz, 100}, {0, 50}, {kBeepHz, 100}};
    case 2:
        return {{kBeepHz, 100}};
    case 3: {
        platform::BeepPattern p;
        for (int i = 0; i < 8; ++i) {
            p.push_back({kBeepHz, 100});
            p.push_back({0, 100});
        }
        return p;
    }
    default:
        return {};
    }
}

// ------------------------------------------------------------------------------------------
// Creation and layout

TFIntegratedBiometrics::TFIntegratedBiometrics(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName("FIntegratedBiometrics");
    setWindowTitle(QStringLiteral("Captura Integrated Biometrics"));
    // The design's font, else a narrow sans of the same width class (Arial's metric twin on
    // Linux), so that the captions fit the places the layout gives them.
    QFont f;
    f.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Arial"),
                   QStringLiteral("Liberation Sans")});
    f.setPixelSize(11);
    setFont(f);
    setFixedSize(782, 457);

    GroupBox1 = new QGroupBox(QStringLiteral("Scanners"), this);
    GroupBox1->setObjectName("GroupBox1");
    GroupBox1->setGeometry(8, 8, 276, 49);
    m_cboUsbDevices = new QComboBox(GroupBox1);
    m_cboUsbDevices->setObjectName("m_cboUsbDevices");
    m_cboUsbDevices->setGeometry(8, 16, 257, 21);

    GroupBox2 = new QGroupBox(QStringLiteral("Modalidad de Captura"), this);
    GroupBox2->setObjectName("GroupBox2");
    GroupBox2->setGeometry(8, 64, 276, 201);
    m_cboCaptureSeq = new QComboBox(GroupBox2);
    m_cboCaptureSeq->setObjectName("m_cboCaptureSeq");
    m_cboCaptureSeq->setGeometry(8, 16, 257, 21);
    m_chkAutoContrast = MakeCheck(QStringLiteral("Optimización de contraste automática"), GroupBox2,
                                  "m_chkAutoContrast", 8, 40);
    m_chkAutoCapture = MakeCheck(QStringLiteral("Captura automática de impresiones"), GroupBox2,
                                 "m_chkAutoCapture", 8, 56);
    m_chkIgnoreFingerCount =
        MakeCheck(QStringLiteral("Alerta de cantidad invalida en auto-captura"), GroupBox2,
                  "m_chkIgnoreFingerCount", 8, 72);
    m_chkSaveImages = MakeCheck(QStringLiteral("Guardar"), GroupBox2, "m_chkSaveImages", 8, 96);
    m_chkSaveImages->setChecked(true); // ticked in the window's design
    m_btnCaptureStop = new QPushButton(QStringLiteral("Detener"), GroupBox2);
    m_btnCaptureStop->setObjectName("m_btnCaptureStop");
    m_btnCaptureStop->setGeometry(8, 120, 113, 25);
    m_btnCaptureStart = new QPushButton(QStringLiteral("Iniciar"), GroupBox2);
    m_btnCaptureStart->setObjectName("m_btnCaptureStart");
    m_btnCaptureStart->setGeometry(152, 120, 113, 25);
    m_staticContrast = new QLabel(QStringLiteral("Contraste"), GroupBox2);
    m_staticContrast->setObjectName("m_staticContrast");
    m_staticContrast->move(8, 160);
    m_staticContrast->adjustSize();
    m_sliderContrast = new QSlider(Qt::Horizontal, GroupBox2);
    m_sliderContrast->setObjectName("m_sliderContrast");
    // The slider starts after its caption and ends where the design has it.
    const int sliderLeft = std::max(56, m_staticContrast->geometry().right() + 6);
    m_sliderContrast->setGeometry(sliderLeft, 160, 217 - sliderLeft, 33);
    m_sliderContrast->setTickPosition(QSlider::TicksBelow);
    m_txtContrast = new QLineEdit(QStringLiteral("0"), GroupBox2);
    m_txtContrast->setObjectName("m_txtContrast");
    m_txtContrast->setGeometry(224, 160, 41, 21);
    FaceColour(m_txtContrast);

    GroupBox3 = new QGroupBox(QStringLiteral("Calidad"), this);
    GroupBox3->setObjectName("GroupBox3");
    GroupBox3->setGeometry(8, 272, 137, 153);
    FPicture = MakeScannerPicture();
    m_picScanner = new QLabel(GroupBox3);
    m_picScanner->setObjectName("m_picScanner");
    m_picScanner->setGeometry(8, 16, FPicture.width(), FPicture.height());
    m_picScanner->setPixmap(QPixmap::fromImage(FPicture));

    m_chkUseClearPlaten = MakeCheck(QStringLiteral("Detectar superficie limpia"), this,
                                    "m_chkUseClearPlaten", 152, 272);
    m_chkUseClearPlaten->resize(std::max(137, m_chkUseClearPlaten->width()), 25);
    m_chkDrawSegmentImage =
        MakeCheck(QStringLiteral("Dibujar rectangulo"), this, "m_chkDrawSegmentImage", 152, 304);
    m_chkNFIQScore = MakeCheck(QStringLiteral("NFIQ"), this, "m_chkNFIQScore", 152, 336);
    m_txtNFIQScore = new QLineEdit(this);
    m_txtNFIQScore->setObjectName("m_txtNFIQScore");
    m_txtNFIQScore->setGeometry(216, 336, 65, 21);
    m_txtNFIQScore->setReadOnly(true);
    FaceColour(m_txtNFIQScore);
    m_chkInvalidArea =
        MakeCheck(QStringLiteral("Area invalida"), this, "m_chkInvalidArea", 152, 360);
    m_chkDetectSmear =
        MakeCheck(QStringLiteral("Detectar smear"), this, "m_chkDetectSmear", 152, 384);
    m_cboSmearLevel = new QComboBox(this);
    m_cboSmearLevel->setObjectName("m_cboSmearLevel");
    // On the row below its box: beside "Detectar smear" there is no room for a level's name.
    m_cboSmearLevel->setGeometry(170, 405, 119, 21);

    m_FrameImage = new QFrame(this);
    m_FrameImage->setObjectName("m_FrameImage");
    m_FrameImage->setGeometry(296, 8, 473, 417);
    m_FrameImage->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    m_FrameImage->setAutoFillBackground(true);

    m_txtStatusMessage = new QLineEdit(QStringLiteral("Listo"), this);
    m_txtStatusMessage->setObjectName("m_txtStatusMessage");
    m_txtStatusMessage->setGeometry(8, 432, 761, 21);
    FaceColour(m_txtStatusMessage);

    Timer_StatusFingerQuality = new QTimer(this);
    Timer_StatusFingerQuality->setObjectName("Timer_StatusFingerQuality");
    Timer_StatusFingerQuality->setInterval(300);
    TimerHide = new QTimer(this);
    TimerHide->setObjectName("TimerHide");
    TimerHide->setInterval(50);

    connect(m_cboUsbDevices, &QComboBox::activated, this, [this] { m_cboUsbDevicesChange(); });
    connect(m_cboCaptureSeq, &QComboBox::currentIndexChanged, this,
            [this] { m_cboCaptureSeqChange(); });
    connect(m_cboSmearLevel, &QComboBox::currentIndexChanged, this,
            [this] { m_cboCaptureSeqChange(); });
    connect(m_chkAutoContrast, &QCheckBox::toggled, this, [this] { m_chkAutoContrastClick(); });
    connect(m_sliderContrast, &QSlider::valueChanged, this, [this] { m_sliderContrastChange(); });
    connect(m_btnCaptureStart, &QPushButton::clicked, this, [this] { m_btnCaptureStartClick(); });
    connect(m_btnCaptureStop, &QPushButton::clicked, this, [this] { m_btnCaptureStopClick(); });
    connect(Timer_StatusFingerQuality, &QTimer::timeout, this,
            [this] { Timer_StatusFingerQualityTimer(); });
    connect(TimerHide, &QTimer::timeout, this, [this] { TimerHideTimer(); });
    // The SDK threads read these ticks; keep their copies in step with the boxes.
    const auto mirror = [this](QCheckBox* box, std::atomic<bool>& copy) {
        copy = box->isChecked();
        connect(box, &QCheckBox::toggled, this, [&copy](bool on) { copy = on; });
    };
    mirror(m_chkAutoCapture, FAutoCapture);
    mirror(m_chkSaveImages, FSaveImages);
    mirror(m_chkDrawSegmentImage, FDrawSegments);
    mirror(m_chkNFIQScore, FNFIQScore);

    FIntegratedBiometrics = this;
    FormCreate();
}

void TFIntegratedBiometrics::FormCreate() {
    {
        std::lock_guard lock(CallbackLock);
        gLiveWindows.insert(this);
    }
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move((screen->geometry().width() - frameGeometry().width()) / 2, y());

    // Ticking the automatic contrast runs its click handler: the contrast controls start
    // disabled.
    m_chkAutoContrast->setChecked(true);
    m_chkAutoContrastClick();
    m_chkAutoCapture->setChecked(true);
    m_chkUseClearPlaten->setChecked(true);
    m_chkNFIQScore->setChecked(true);
    m_chkDrawSegmentImage->setChecked(true);

    FLastDeviceIndex = -1;
    for (auto& q : FFingerQuality)
        q = 0;
    FDeviceHandle = -1;
    FStepIndex = -1;
    FOpening = false;
    SetGuidance(QString());
    FPlatenAlert = false;

    m_sliderContrast->setRange(IBSU_MIN_CONTRAST_VALUE, IBSU_MAX_CONTRAST_VALUE);
    m_sliderContrast->setValue(0);
    m_sliderContrast->setTickInterval(5);
    m_txtContrast->setText(QStringLiteral("0"));

    m_chkInvalidArea->setChecked(false);
    m_chkDetectSmear->setChecked(true);
    m_cboSmearLevel->addItems(
        {QStringLiteral("LOW"), QStringLiteral("MEDIUM"), QStringLiteral("HIGH")});
    m_cboSmearLevel->setCurrentIndex(1);

    IBSU_RegisterCallbacks(0, IBSU_EVENT_DEVICE_COUNT, IBSU_CALLBACK(DeviceCountCallback), this);
    IBSU_RegisterCallbacks(0, IBSU_EVENT_INIT_PROGRESS, IBSU_CALLBACK(InitProgressCallback), this);

    Timer_StatusFingerQuality->start();
    Post(UM_REFRESH_DEVICES);
}

TFIntegratedBiometrics::~TFIntegratedBiometrics() {
    FormDestroy();
}

void TFIntegratedBiometrics::FormDestroy() {
    // The worker thread uses the window: let it finish first.
    if (FInitThread)
        FInitThread->wait();
    IBSU_RegisterCallbacks(0, IBSU_EVENT_DEVICE_COUNT, nullptr, nullptr);
    IBSU_RegisterCallbacks(0, IBSU_EVENT_INIT_PROGRESS, nullptr, nullptr);
    // A busy scanner is asked again for a short while; if it still refuses, its handlers are
    // removed so that none of them can reach the destroyed window.
    const int r = CloseScannerRetrying();
    if (r < 0) {
        const int h = FDeviceHandle;
        for (int kind = 1; kind < IBSU_EVENT_COUNT; ++kind)
            if (kind != IBSU_EVENT_INIT_PROGRESS)
                IBSU_RegisterCallbacks(h, kind, nullptr, nullptr);
    }
    {
        // Waits for a handler that is running now; later ones find the window gone.
        std::lock_guard lock(CallbackLock);
        gLiveWindows.erase(this);
    }
    if (FIntegratedBiometrics == this)
        FIntegratedBiometrics = nullptr;
}

TFIntegratedBiometrics* TFIntegratedBiometrics::FromContext(void* context) {
    if (!context || !gLiveWindows.count(context))
        return nullptr;
    return static_cast<TFIntegratedBiometrics*>(context);
}

// ------------------------------------------------------------------------------------------
// Capture request

void TFIntegratedBiometrics::SetFingerName(const QString& name) {
    std::lock_guard lock(FStateMutex);
    FFingerName = name;
}

QString TFIntegratedBiometrics::FingerName() const {
    std::lock_guard lock(FStateMutex);
    return FFingerName;
}

void TFIntegratedBiometrics::SetOutputFile(const QString& path) {
    std::lock_guard lock(FStateMutex);
    FOutputFile = path;
}

QString TFIntegratedBiometrics::OutputFile() const {
    std::lock_guard lock(FStateMutex);
    return FOutputFile;
}

void TFIntegratedBiometrics::SetTop(int top) {
    move(frameGeometry().x(), top);
}

int TFIntegratedBiometrics::OuterHeight() const {
    return frameGeometry().height();
}

void TFIntegratedBiometrics::RequestCapture(int sequencePosition, const QString& outputFile,
                                            const QString& fingerName, int top,
                                            std::function<void()> onDone,
                                            std::function<void()> onClosed) {
    // A result saved for the previous request is that request's print: it is handed over
    // before the request changes. Under CallbackLock no result handler runs, so once no
    // saved result waits, a result saved from here on is written for this request.
    std::unique_lock lock(CallbackLock, std::defer_lock);
    for (;;) {
        HandOverSavedResult(); // may run the requester's after-capture step
        lock.lock();
        if (!FResultSaved)
            break;
        lock.unlock();
    }
    m_cboCaptureSeq->setCurrentIndex(sequencePosition);
    SetOutputFile(outputFile);
    SetFingerName(fingerName);
    RenameRunningStep();
    lock.unlock();

    if (top == kCentred)
        platform::CenterOnScreen(this);
    else
        SetTop(top);
    OnCaptureDone = std::move(onDone);
    OnCaptureClosed = std::move(onClosed);
    setWindowTitle(QStringLiteral("Capturando el ") + FingerName());
    // The operator may have clicked the requester's window since the last request: the
    // capture window comes to the front, active, for every request (showing it does so).
    if (isVisible())
        raise();
    else
        show();
    activateWindow();
}

void TFIntegratedBiometrics::RenameRunningStep() {
    const int index = FStepIndex;
    if (index < 0)
        return; // no step runs: the next start composes its prompt from FingerName
    const QString name =
        m_cboCaptureSeq->currentIndex() >= 0 ? m_cboCaptureSeq->currentText() : QString();
    const std::vector<CaptureInfo> steps = StepsForSequence(name, FingerName());
    if (index >= static_cast<int>(steps.size()))
        return;
    CaptureInfo step;
    {
        std::lock_guard state(FStateMutex);
        FSteps[index].Prompt = steps[index].Prompt;
        step = FSteps[index];
    }
    if (FPlatenAlert)
        return; // the alert stays up; the prompt comes back, renamed, when it is lowered
    ShowStatus(step.Prompt);
    const QString text = PromptText(step);
    ShowGuidance(text);
    SetGuidance(text);
}

void TFIntegratedBiometrics::HandOverSavedResult() {
    if (FResultSaved)
        TimerHideTimer();
}

void TFIntegratedBiometrics::CloseNow() {
    if (isVisible())
        close();
    if (isVisible())
        m_btnCaptureStopClick(); // refused while opening: call off the start instead
}

void TFIntegratedBiometrics::FinishRequest() {
    // Handing a result over may lead the requester to a new request (the next finger),
    // which is closed in turn; a result saved before a close stopped the capture is handed
    // over too.
    do {
        HandOverSavedResult();
        CloseNow();
    } while (FResultSaved);
}

void TFIntegratedBiometrics::CancelRequest() {
    CloseNow(); // the stop it presses waits for a result handler that runs now
    FResultSaved = false;
    TimerHide->stop();
}

CaptureInfo TFIntegratedBiometrics::Step(int i) const {
    std::lock_guard lock(FStateMutex);
    return i >= 0 && i < static_cast<int>(FSteps.size()) ? FSteps[i] : CaptureInfo{};
}

QString TFIntegratedBiometrics::Guidance() const {
    std::lock_guard lock(FStateMutex);
    return FGuidance;
}

void TFIntegratedBiometrics::SetGuidance(const QString& text) {
    std::lock_guard lock(FStateMutex);
    FGuidance = text;
}

bool TFIntegratedBiometrics::CurrentStep(CaptureInfo& step) const {
    const int i = FStepIndex;
    if (i < 0 || i >= static_cast<int>(FSteps.size()))
        return false;
    std::lock_guard lock(FStateMutex);
    step = FSteps[i];
    return true;
}

QString TFIntegratedBiometrics::PromptText(const CaptureInfo& step) const {
    return FAutoCapture ? step.Prompt : step.Prompt + kManualCaptureSuffix;
}

// ------------------------------------------------------------------------------------------
// Messages

void TFIntegratedBiometrics::Post(int message, int wParam) {
    PostEvent(new CaptureEvent(message, wParam));
}

void TFIntegratedBiometrics::PostEvent(CaptureEvent* e) {
    // Release what this thread wrote (the message itself included) before the message is
    // queued; event() acquires it. Qt's queue orders the two already, but inside a library
    // the race detector cannot see, so the hand-over is made explicit here.
    gHandOver.fetch_add(1, std::memory_order_release);
    QCoreApplication::postEvent(this, e);
}

void TFIntegratedBiometrics::Send(int message, int wParam) {
    CaptureEvent e(message, wParam);
    QCoreApplication::sendEvent(this, &e);
}

bool TFIntegratedBiometrics::event(QEvent* e) {
    gHandOver.load(std::memory_order_acquire); // pairs with PostEvent
    const int type = e->type();
    if (type < QEvent::User + 1 || type > UM_START_TIMER_HIDE)
        return QWidget::event(e);
    auto* m = static_cast<CaptureEvent*>(e);
    switch (type) {
    case UM_BUILD_STEPS:
        UMBuildSteps();
        return true;
    case UM_NEXT_STEP:
        UMNextStep();
        return true;
    case UM_SCANNER_LOST:
        UMScannerLost();
        return true;
    case UM_REFRESH_DEVICES:
        UMRefreshDevices();
        return true;
    case UM_UPDATE_CONTROLS:
        UMUpdateControls();
        return true;
    case UM_BEEP:
        UMBeep(m->WParam);
        return true;
    case UM_DRAW_QUALITY:
        UMDrawQuality();
        return true;
    case UM_SET_TEXT:
        (m->WParam == kTextNFIQ ? m_txtNFIQScore : m_txtStatusMessage)->setText(m->Text);
        return true;
    case UM_START_TIMER_HIDE:
        if (FResultSaved) // not when the request was cancelled or handed over meanwhile
            TimerHide->start();
        return true;
    default:
        return QWidget::event(e);
    }
}

// ------------------------------------------------------------------------------------------
// Text outputs

void TFIntegratedBiometrics::ShowStatus(const QString& text) {
    if (QThread::currentThread() == thread())
        m_txtStatusMessage->setText(text);
    else
        PostEvent(new CaptureEvent(UM_SET_TEXT, kTextStatus, text));
}

void TFIntegratedBiometrics::ShowGuidance(const QString& text, bool alert) {
    // Overlay calls are thread-safe SDK calls; they touch no widget of this window.
    const int h = FDeviceHandle;
    const QByteArray utf8 = text.toUtf8();
    IBSU_SetClientWindowOverlayText(h, "Arial", 10, 1, utf8.constData(), 10, 10,
                                    IBSU_RGB(0, 0, 255));
    const uint32_t colour = FPlatenAlert || alert ? IBSU_RGB(255, 0, 0) : IBSU_RGB(0, 0, 255);
    IBSU_ModifyOverlayText(h, FTextOverlay, "Arial", 10, 1, utf8.constData(), 10, 10, colour);
}

// ------------------------------------------------------------------------------------------
// Scanner list, opening and closing

int TFIntegratedBiometrics::CloseScanner() {
    const int h = FDeviceHandle;
    if (h == -1)
        return 0;
    const int r = IBSU_CloseDevice(h);
    if (r >= 0) {
        FDeviceHandle = -1;
        FStepIndex = -1;
        FOpening = false;
        FStartPending = false;
    }
    return r;
}

void TFIntegratedBiometrics::UMRefreshDevices() {
    const bool idle = !FOpening && FStepIndex == -1;
    if (idle) {
        m_btnCaptureStop->setEnabled(false);
        m_btnCaptureStart->setEnabled(false);
    }
    const QString remembered =
        m_cboUsbDevices->currentIndex() >= 0 ? m_cboUsbDevices->currentText() : QString();
    const bool hadSelection = m_cboUsbDevices->currentIndex() >= 0;
    m_cboUsbDevices->clear();
    m_cboUsbDevices->addItem(kDevicePlaceholder);
    int n = 0;
    if (IBSU_GetDeviceCount(&n) != IBSU_STATUS_OK || n < 0)
        n = 0;
    int selection = -1;
    for (int i = 0; i < n; ++i) {
        IBSU_DeviceDesc desc{};
        QString text;
        if (IBSU_GetDeviceDescription(i, &desc) < 0) {
            // Listed all the same, so that list position p keeps naming device index p - 1.
            text = QStringLiteral("Scanner desconocido");
        } else {
            const QString product = Field(desc.productName);
            text = product.isEmpty() ? QStringLiteral("Scanner desconocido")
                                     : product + "_v" + Field(desc.fwVersion) + " (" +
                                           Field(desc.serialNumber) + ")";
        }
        m_cboUsbDevices->addItem(text);
        if (selection < 0 && hadSelection && text == remembered)
            selection = i + 1;
    }
    if (selection < 0)
        selection = m_cboUsbDevices->count() == 2 ? 1 : 0;
    m_cboUsbDevices->setCurrentIndex(selection); // from code: not a change of scanner
    if (idle)
        RebuildSequenceList();
}

void TFIntegratedBiometrics::m_cboUsbDevicesChange() {
    const int p = m_cboUsbDevices->currentIndex();
    if (p == FLastDeviceIndex)
        return;
    platform::BusyCursor busy;
    if (FDeviceHandle != -1) {
        m_btnCaptureStopClick();
        if (CloseScannerRetrying() < 0) {
            // The open scanner cannot be let go: the list goes back to it, so that it never
            // shows a scanner other than the one "Iniciar" captures from.
            const int open = m_cboUsbDevices->findText(FOpenScanner);
            {
                const QSignalBlocker quiet(m_cboUsbDevices);
                m_cboUsbDevices->setCurrentIndex(open);
            }
            FLastDeviceIndex = open;
            ShowStatus(QStringLiteral("El scanner abierto está ocupado y no se pudo cerrar; "
                                      "sigue seleccionado"));
            RebuildSequenceList();
            return;
        }
    }
    FLastDeviceIndex = p;
    RebuildSequenceList();
}

int TFIntegratedBiometrics::CloseScannerRetrying() {
    int r = CloseScanner();
    if (r != IBSU_ERR_RESOURCE_LOCKED)
        return r;
    const QString status = m_txtStatusMessage->text();
    ShowStatus(QStringLiteral("Cerrando el scanner (ocupado, reintentando)..."));
    m_txtStatusMessage->repaint(); // the GUI thread waits here
    for (int tries = 0; r == IBSU_ERR_RESOURCE_LOCKED && tries < 50; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        r = CloseScanner();
    }
    if (r >= 0)
        ShowStatus(status);
    return r;
}

QString TFIntegratedBiometrics::ScannerDescriptionModel(int listPosition) const {
    if (listPosition < 1)
        return QString();
    IBSU_DeviceDesc desc{};
    if (IBSU_GetDeviceDescription(listPosition - 1, &desc) < 0)
        return QString();
    return Field(desc.productName);
}

void TFIntegratedBiometrics::OpenScanner() {
    TInitDeviceThread::Params params;
    params.listPosition = m_cboUsbDevices->currentIndex();
    FOpenScanner = m_cboUsbDevices->currentText();
    params.useClearPlaten = m_chkUseClearPlaten->isChecked();
    params.previewHost = m_FrameImage;
    params.clientRect = m_FrameImage->contentsRect();
    FOpening = true;
    auto* thread = new TInitDeviceThread(this, params);
    FInitThread = thread;
    thread->start();
}

void TFIntegratedBiometrics::RegisterDeviceCallbacks(int handle, bool platen) {
    IBSU_RegisterCallbacks(handle, IBSU_EVENT_COMMUNICATION_BREAK,
                           IBSU_CALLBACK(ScannerLostCallback), this);
    IBSU_RegisterCallbacks(handle, IBSU_EVENT_PREVIEW_IMAGE, IBSU_CALLBACK(PreviewCallback), this);
    IBSU_RegisterCallbacks(handle, IBSU_EVENT_ACQUISITION_BEGIN,
                           IBSU_CALLBACK(AcquisitionBeginCallback), this);
    IBSU_RegisterCallbacks(handle, IBSU_EVENT_ACQUISITION_END,
                           IBSU_CALLBACK(AcquisitionEndCallback), this);
    IBSU_RegisterCallbacks(handle, IBSU_EVENT_RESULT_IMAGE, IBSU_CALLBACK(ResultImageCallback),
                           this);
    IBSU_RegisterCallbacks(handle, IBSU_EVENT_FINGER_COUNT, IBSU_CALLBACK(FingerCountCallback),
                           this);
    IBSU_RegisterCallbacks(handle, IBSU_EVENT_FINGER_QUALITY, IBSU_CALLBACK(FingerQualityCallback),
                           this);
    if (platen)
        IBSU_RegisterCallbacks(handle, IBSU_EVENT_PLATEN, IBSU_CALLBACK(PlatenCallback), this);
    IBSU_RegisterCallbacks(handle, IBSU_EVENT_KEY_BUTTON, IBSU_CALLBACK(KeyButtonCallback), this);
}

// The enabling rules of the window, all in this one place.
void TFIntegratedBiometrics::UMUpdateControls() {
    const bool scannerSelected = m_cboUsbDevices->currentIndex() > 0;
    const bool sequenceSelected = m_cboCaptureSeq->currentIndex() > 0;
    const bool opening = FOpening;
    const bool idle = !opening && FStepIndex == -1;
    const bool running = !opening && FStepIndex != -1;

    m_cboUsbDevices->setEnabled(idle);
    m_cboCaptureSeq->setEnabled(scannerSelected && idle);
    m_btnCaptureStart->setEnabled(sequenceSelected);
    m_btnCaptureStop->setEnabled(running);
    for (QCheckBox* box :
         {m_chkAutoContrast, m_chkAutoCapture, m_chkIgnoreFingerCount, m_chkSaveImages})
        box->setEnabled(scannerSelected && idle);
    m_chkUseClearPlaten->setEnabled(scannerSelected && FDeviceHandle == -1);
    m_btnCaptureStart->setText(running    ? QStringLiteral("Capturando...")
                               : !opening ? QStringLiteral("Iniciar")
                                          : QString());
}

void TFIntegratedBiometrics::m_cboCaptureSeqChange() {
    Send(UM_UPDATE_CONTROLS);
}

void TFIntegratedBiometrics::m_chkAutoContrastClick() {
    const bool manual = !m_chkAutoContrast->isChecked();
    m_sliderContrast->setEnabled(manual);
    m_staticContrast->setEnabled(manual);
    m_txtContrast->setEnabled(manual);
}

void TFIntegratedBiometrics::m_sliderContrastChange() {
    const int h = FDeviceHandle;
    if (h == -1) {
        // Nothing is set without a scanner: the slider goes back to the value its box shows.
        const QSignalBlocker quiet(m_sliderContrast);
        m_sliderContrast->setValue(m_txtContrast->text().toInt());
        return;
    }
    const int v = m_sliderContrast->value();
    m_txtContrast->setText(QString::number(v));
    IBSU_SetContrast(h, v);
}

// ------------------------------------------------------------------------------------------
// Showing and closing

void TFIntegratedBiometrics::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    if (!e->spontaneous())
        FormShow();
}

void TFIntegratedBiometrics::FormShow() {
    setWindowTitle(QStringLiteral("Capturando el ") + FingerName());
    m_btnCaptureStartClick();
}

bool TFIntegratedBiometrics::FormCloseQuery() {
    return !FOpening;
}

void TFIntegratedBiometrics::closeEvent(QCloseEvent* e) {
    if (!FormCloseQuery()) {
        e->ignore();
        return;
    }
    e->accept();
    FormClose();
}

void TFIntegratedBiometrics::FormClose() {
    hide();
    m_btnCaptureStopClick();
    if (OnCaptureClosed)
        OnCaptureClosed();
}

void TFIntegratedBiometrics::TimerHideTimer() {
    TimerHide->stop();
    if (!FResultSaved.exchange(false))
        return; // handed over already, or the request was cancelled
    if (isVisible())
        close();
    if (OnCaptureDone)
        OnCaptureDone();
}

// ------------------------------------------------------------------------------------------
// Beeps and quality indicators

void TFIntegratedBiometrics::UMBeep(int pattern) {
    const platform::BeepPattern p = CaptureBeepPattern(pattern);
    if (!p.empty())
        platform::PlayBeepPattern(p);
}

void TFIntegratedBiometrics::UMDrawQuality() {
    if (FDeviceHandle == -1)
        return;
    DrawIndicators();
}

void TFIntegratedBiometrics::DrawIndicators() {
    const QColor grey(78, 78, 78);
    const QColor red(255, 0, 0);
    QPainter p(&FPicture);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    const bool alert = FPlatenAlert;
    const bool blink = FBlinkPhase;
    for (int i = 0; i < 4; ++i) {
        QColor colour;
        if (alert) {
            colour = blink ? red : grey;
        } else {
            const int q = FFingerQuality[i];
            if (q == 0)
                colour = grey;
            else if (q == 1)
                colour = QColor(0, 128, 0);
            else if (q == 2)
                colour = QColor(255, 165, 0);
            else if (q >= 3 && q <= 6)
                colour = red;
            else
                break; // unknown value: this place and the following keep their colour
        }
        p.setBrush(colour);
        p.drawRoundedRect(QRect(15 + 22 * i, 30, 20, 70), 9, 9);
    }
    p.end();
    m_picScanner->setPixmap(QPixmap::fromImage(FPicture));
}

void TFIntegratedBiometrics::Timer_StatusFingerQualityTimer() {
    Send(UM_DRAW_QUALITY);
    if (FPlatenAlert)
        FBlinkPhase = !FBlinkPhase;
}

// ------------------------------------------------------------------------------------------
// Scanner loss

void TFIntegratedBiometrics::UMScannerLost() {
    if (FDeviceHandle == -1)
        return;
    ShowStatus(QStringLiteral("Se perdió la comunicación con el scanner"));
    const int r = CloseScanner();
    if (r == IBSU_ERR_RESOURCE_LOCKED) {
        Post(UM_SCANNER_LOST); // busy: ask again until the SDK gives another answer
        return;
    }
    // The lost scanner's finger colours mean nothing any more; the sequence comes back with
    // the scanner.
    for (auto& q : FFingerQuality)
        q = 0;
    FPlatenAlert = false;
    FBlinkPhase = false;
    DrawIndicators();
    if (m_cboCaptureSeq->currentIndex() > 0)
        FSequenceBeforeLoss = m_cboCaptureSeq->currentText();
    Post(UM_BEEP, 3);
    Post(UM_REFRESH_DEVICES);
}
