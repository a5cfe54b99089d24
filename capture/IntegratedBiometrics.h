#pragma once
// The capture window for Integrated Biometrics scanners, shared by both programs. One
// instance lives from start-up to the end, hidden between requests; each request shows it,
// and showing starts a capture of one finger. The scanner is opened on a worker thread the
// first time and stays open. The SDK reports on its own threads; everything that touches a
// widget is handed to the GUI thread by posting one of the window's messages (README.md).
#include "Beeper.h"
#include "CaptureSequences.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QWidget>

#include <array>
#include <atomic>
#include <functional>
#include <limits>
#include <mutex>

struct IBSU_ImageData;
struct IBSU_SegmentPosition;
class TInitDeviceThread;

// Window messages of the capture window: QEvent::User + n mirrors WM_USER + n.
enum CaptureMessage : int {
    UM_BUILD_STEPS = QEvent::User + 1,
    UM_NEXT_STEP = QEvent::User + 2,
    UM_SCANNER_LOST = QEvent::User + 3,
    UM_REFRESH_DEVICES = QEvent::User + 5,
    UM_UPDATE_CONTROLS = QEvent::User + 7,
    UM_BEEP = QEvent::User + 9,
    UM_DRAW_QUALITY = QEvent::User + 10,
    // Private hand-overs from the SDK and worker threads to the GUI thread.
    UM_SET_TEXT = QEvent::User + 20,        // wParam: which text box, text: the new text
    UM_START_TIMER_HIDE = QEvent::User + 21 // arm TimerHide
};

// Targets of UM_SET_TEXT.
enum CaptureTextTarget { kTextStatus = 0, kTextNFIQ = 1 };

// A window message: its type, a wParam and, for the text hand-over, a text.
class CaptureEvent : public QEvent {
  public:
    CaptureEvent(int type, int wParam = 0, QString text = QString())
        : QEvent(static_cast<QEvent::Type>(type)), WParam(wParam), Text(std::move(text)) {}
    int WParam;
    QString Text;
};

// The beep patterns of UM_BEEP (wParam 0..3); other values give an empty pattern.
platform::BeepPattern CaptureBeepPattern(int wParam);

// The process-wide lock that every SDK event handler of the window holds for its whole
// body. GUI-thread code never takes it.
extern std::mutex CallbackLock;

class TFIntegratedBiometrics : public QWidget {
    Q_OBJECT
  public:
    explicit TFIntegratedBiometrics(QWidget* parent = nullptr);
    ~TFIntegratedBiometrics() override;

    // ---- Capture request (GUI thread). ----
    // Sequence: set m_cboCaptureSeq's position (1 "Dedo plano", 2 "Dedo rodado").
    void SetFingerName(const QString& name);
    QString FingerName() const;
    void SetOutputFile(const QString& path);
    QString OutputFile() const;
    // Called after the image has been written and the window has closed. Empty: nothing.
    std::function<void()> OnCaptureDone;
    // Called every time the window closes, from within the close. Empty: nothing.
    std::function<void()> OnCaptureClosed;
    // Moves the window so that its outer top edge is at top; the horizontal place stays.
    void SetTop(int top);
    // Outer height of the window (with its frame), for placing it above the screen's bottom.
    int OuterHeight() const;
    // The whole request in the requester's order: sequence, output file and finger name,
    // vertical place (kCentred: the middle of the screen), events; then shows the window
    // unless it is already visible. Either way the window comes to the front, active, with
    // the caption and prompt of this request's finger: a capture that is already running
    // delivers its print to this request. A result saved for the previous request but not
    // yet handed over goes to that request first.
    static constexpr int kCentred = std::numeric_limits<int>::min();
    void RequestCapture(int sequencePosition, const QString& outputFile, const QString& fingerName,
                        int top, std::function<void()> onDone, std::function<void()> onClosed);
    // Ends the request before the requester uses its files: a result already saved is handed
    // over first (OnCaptureDone), then the window closes. No result is saved after this.
    void FinishRequest();
    // Ends the request and drops its result: the window closes, and a result saved but not
    // yet handed over is never handed over. No result is saved after this.
    void CancelRequest();
    // True while a saved result waits for its hand-over (the close after saving).
    bool ResultPending() const { return FResultSaved.load(); }

    // ---- Operations used by the sequence and event code. ----
    void ShowStatus(const QString& text); // any thread
    // In red while the platen alert is raised, or when `alert` is set (a failure), else blue.
    void ShowGuidance(const QString& text, bool alert = false); // any thread
    int CloseScanner();                                         // GUI thread
    void RebuildSequenceList();

    // ---- Handlers (also run from code). ----
    void m_cboUsbDevicesChange();
    void m_cboCaptureSeqChange();
    void m_chkAutoContrastClick();
    void m_sliderContrastChange();
    void m_btnCaptureStartClick();
    void m_btnCaptureStopClick();
    void Timer_StatusFingerQualityTimer();
    // The close after saving: closes the window and hands the saved result over.
    void TimerHideTimer();

    // ---- State, read by tests and the worker thread. ----
    int DeviceHandle() const { return FDeviceHandle.load(); }
    bool Opening() const { return FOpening.load(); }
    int StepIndex() const { return FStepIndex.load(); }
    int StepCount() const { return FStepCount; }
    CaptureInfo Step(int i) const;
    QString Guidance() const;
    bool PlatenAlert() const { return FPlatenAlert.load(); }
    bool BlinkPhase() const { return FBlinkPhase.load(); }
    int FingerQuality(int place) const { return FFingerQuality[place].load(); }
    int LastDeviceIndex() const { return FLastDeviceIndex; }
    int TextOverlay() const { return FTextOverlay.load(); }
    int SegmentOverlay(int i) const { return FSegmentOverlays[i].load(); }
    // The picture of the scanner face with its quality indicators as now painted.
    QImage ScannerPicture() const { return FPicture; }

    QGroupBox* GroupBox1;
    QComboBox* m_cboUsbDevices;
    QGroupBox* GroupBox2;
    QComboBox* m_cboCaptureSeq;
    QCheckBox* m_chkAutoContrast;
    QCheckBox* m_chkAutoCapture;
    QCheckBox* m_chkIgnoreFingerCount;
    QCheckBox* m_chkSaveImages;
    QPushButton* m_btnCaptureStop;
    QPushButton* m_btnCaptureStart;
    QLabel* m_staticContrast;
    QSlider* m_sliderContrast;
    QLineEdit* m_txtContrast;
    QGroupBox* GroupBox3;
    QLabel* m_picScanner;
    QCheckBox* m_chkUseClearPlaten;
    QCheckBox* m_chkDrawSegmentImage;
    QCheckBox* m_chkNFIQScore;
    QLineEdit* m_txtNFIQScore;
    QCheckBox* m_chkInvalidArea;
    QCheckBox* m_chkDetectSmear;
    QComboBox* m_cboSmearLevel;
    QFrame* m_FrameImage;
    QLineEdit* m_txtStatusMessage;
    QTimer* Timer_StatusFingerQuality;
    QTimer* TimerHide;

  protected:
    bool event(QEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

  private:
    friend class TInitDeviceThread;

    void FormCreate();
    void FormShow();
    bool FormCloseQuery();
    void FormClose();
    void FormDestroy();

    // Message handlers (GUI thread).
    void UMBuildSteps();
    void UMNextStep();
    void UMScannerLost();
    void UMRefreshDevices();
    void UMUpdateControls(); // the enabling rules, in one place
    void UMBeep(int pattern);
    void UMDrawQuality();
    void DrawIndicators(); // paints the four indicators from the quality state

    void Post(int message, int wParam = 0);
    // Posts a message made on any thread; every post goes through here (see event()).
    void PostEvent(CaptureEvent* e);
    void Send(int message, int wParam = 0);
    void OpenScanner();
    // CloseScanner, asked again while the scanner answers busy (-6), for about a second, with
    // the status line telling so. Returns the last answer.
    int CloseScannerRetrying();
    // Hands a saved result over now, if one waits (TimerHideTimer without waiting).
    void HandOverSavedResult();
    // Closes the window; when the close is refused (the scanner is opening), the start on
    // its way is called off, so that no capture begins.
    void CloseNow();
    // The running step's prompt names the finger of the current request (GUI thread, with
    // CallbackLock held).
    void RenameRunningStep();
    QString ScannerDescriptionModel(int listPosition) const;
    void SetGuidance(const QString& text);
    // The prompt of the running step with the manual-capture suffix when auto capture is off.
    QString PromptText(const CaptureInfo& step) const;
    bool CurrentStep(CaptureInfo& step) const; // false when no step runs
    // Writes a result picture to file and arms the close after saving; false (nothing armed,
    // file untouched) when it cannot be written.
    bool SaveResultImage(const QString& file, const IBSU_ImageData& image);

    // SDK event handlers (SDK threads; each holds CallbackLock for its whole body).
    static void DeviceCountCallback(int count, void* context);
    static void ScannerLostCallback(int handle, void* context);
    static void AcquisitionBeginCallback(int handle, void* context, int imageType);
    static void AcquisitionEndCallback(int handle, void* context, int imageType);
    static void FingerQualityCallback(int handle, void* context, const int* qualities, int count);
    static void FingerCountCallback(int handle, void* context, int state);
    static void InitProgressCallback(int deviceIndex, void* context, int progress);
    static void PlatenCallback(int handle, void* context, int state);
    static void ResultImageCallback(int handle, void* context, int status, IBSU_ImageData image,
                                    int imageType, int fingerCount, int segmentCount,
                                    const IBSU_ImageData* segments,
                                    const IBSU_SegmentPosition* quadrangles);
    static void PreviewCallback(int handle, void* context, IBSU_ImageData image);
    static void KeyButtonCallback(int handle, void* context, int button);
    void RegisterDeviceCallbacks(int handle, bool platen);
    // The window an event handler's context names, or null when it is null or the window is
    // being destroyed. Call with CallbackLock held.
    static TFIntegratedBiometrics* FromContext(void* context);

    std::atomic<int> FDeviceHandle{-1};
    std::atomic<bool> FOpening{false};
    int FLastDeviceIndex = -1;
    std::atomic<int> FStepIndex{-1};
    int FStepCount = 0;
    // A start is on its way (opening, or UM_BUILD_STEPS / UM_NEXT_STEP posted); stop clears it.
    std::atomic<bool> FStartPending{false};
    // A result was saved to OutputFile and waits for its hand-over (set under CallbackLock by
    // the result handler; taken by TimerHideTimer, dropped by CancelRequest).
    std::atomic<bool> FResultSaved{false};
    // List text of the scanner now open (GUI thread).
    QString FOpenScanner;
    // The sequence chosen when the scanner was lost, chosen again when it comes back.
    QString FSequenceBeforeLoss;
    std::atomic<bool> FPlatenAlert{false};
    std::atomic<bool> FBlinkPhase{false};
    std::atomic<int> FTextOverlay{0};
    std::array<std::atomic<int>, 4> FSegmentOverlays{};
    std::array<std::atomic<int>, 4> FFingerQuality{};
    // Option ticks as the SDK threads read them, kept in step with the check boxes.
    std::atomic<bool> FAutoCapture{false}, FSaveImages{false}, FDrawSegments{false},
        FNFIQScore{false};

    // Guards the fields below, which the GUI thread writes and the SDK threads read.
    mutable std::mutex FStateMutex;
    std::array<CaptureInfo, 11> FSteps;
    QString FGuidance;
    QString FFingerName;
    QString FOutputFile;

    QImage FPicture; // scanner face with the indicators painted on it
    QPointer<TInitDeviceThread> FInitThread;
};

extern TFIntegratedBiometrics* FIntegratedBiometrics;
