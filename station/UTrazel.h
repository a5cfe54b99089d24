#pragma once
// The ten-print station's main window: ten finger slots in two rows of five, one selected
// (red frame), a message line, the reference of the set and the bottom-bar buttons.
#include "ImageViewer.h"
#include "MessageLine.h"
#include "Panel.h"
#include "Resizer.h"
#include "SlotBadge.h"
#include "UCrono.h"

#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPushButton>
#include <QTimer>

#include <QIODevice>

#include <array>
#include <memory>

// A rectangle shape drawn behind a slot viewer; only the selected slot's outline is red.
class TShape : public QWidget {
    Q_OBJECT
  public:
    explicit TShape(QWidget* parent = nullptr);
    QColor PenColor() const { return FPen; }
    void SetPenColor(const QColor& c);

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    QColor FPen;
};

// Virtual keys as the slot rules know them.
enum : int { VK_TAB = 9, VK_RETURN = 13, VK_ESCAPE = 27, VK_SPACE = 32 };

// Translates a Qt key and its modifiers to a virtual key and a Shift/Ctrl/Alt state.
int VirtualKey(int qtKey, Qt::KeyboardModifiers& modifiers);

class TDuplicateCheck;

class TFTrazel : public QMainWindow {
    Q_OBJECT
  public:
    // args: the program's command-line arguments without the program name.
    explicit TFTrazel(const QStringList& args, QWidget* parent = nullptr);
    ~TFTrazel() override;

    static QString FingerDisplayName(int n);
    void ShowMessageLine(const QString& text);
    int CurrentSlot() const { return FCurrentSlot; }
    void SelectSlot(int n);
    void DeleteSlotFiles();

    TImageViewer* SlotViewer(int n) const; // "dedo" + n, or null
    TShape* SlotFrame(int n) const;        // "rect" + n, or null
    TSlotBadge* ScoreBadge(int n) const;   // the score mark over slot n's viewer, or null
    TImageViewer* CurrentImage() const { return FCurrentImage; }
    bool Modified() const { return FModified; }
    TDuplicateCheck* DuplicateCheck() const { return FDuplicates; }

    // Gives a viewer the display scale at which its whole image fits its client area.
    static void FitToViewer(TImageViewer* viewer);

    // Handlers.
    void FormKeyUp(int& key, Qt::KeyboardModifiers shift);
    void dedoClick(QObject* sender);
    void dedoMouseUp(QObject* sender);
    void FormResize();
    void TimerStartTimer();
    void miConfigClick();
    void FormShow();
    void FormHide();

    // Intake (virtual so that window tests can watch the requests and the viewer).
    virtual void RequestCapture(int slot);
    virtual void dedoDblClick();
    void ShowQualityLine();
    // After-capture step for the slot the print was taken for.
    void CaptureDone(int slot);
    void CaptureWindowClosed();
    void LoadSlotImage();
    int AverageQuality() const;
    void ResetQuality();
    // Shows slot n's score on the slot itself (its mark), as the last scoring left it.
    void ShowSlotScore(int n);
    void FingerScanBeforeScan(std::unique_ptr<QIODevice>& stream);
    void FingerScanAfterScan(std::unique_ptr<QIODevice>& stream);
    int QualityScore(int n) const { return FQualityScore[n]; }
    int QualityStatus(int n) const { return FQualityStatus[n]; }

    // Saving, the set and the card.
    void btGrabarClick();
    // Converts the set and ends the program; false (window open, the error in the message
    // line, every slot file on disk) when a slot is missing or cannot be converted.
    bool SaveSet();
    // Writes the saved set as "<reference or 'ficha'>.an2" in the working folder. On failure
    // error holds the reason; file is the name either way.
    bool SaveTransaction(QString& file, QString& error);
    void btPrintClick();
    void btClearClick();
    void btSalirClick();
    void miSalirClick();
    void AmputarClick(QObject* sender);
    void Cargarimagenesdeprueba1Click();

    // Name of the bitmap file of slot n ("dedo%d.bmp").
    static QString SlotFile(int n);

  signals:
    // The window has closed: the program ends.
    void closed();

  public:
    // Components.
    QWidget* Client;
    std::array<TImageViewer*, 10> dedo{};
    std::array<TShape*, 10> rect{};
    std::array<TSlotBadge*, 10> scoreBadge{}; // NFIQ score marks, one over each viewer
    TPanel* Panel;
    TPanel* panMsg;
    TMessageLine* lblMsg;
    QLabel* Label1;
    QLineEdit* edRef;
    QPushButton* btPrint;
    QPushButton* btClear;
    QPushButton* btGrabar;
    QPushButton* btSalir;
    QMenu* menuArchivo;
    QMenu* menuAmputaciones;
    QAction* miConfig;
    QAction* Cargarimagenesdeprueba1;
    QAction* Imprimirficha1;
    QAction* miSalir;
    std::array<QAction*, 10> amp_d{};
    QTimer* TimerStart;
    TResizer Resizer;

  protected:
    void showEvent(QShowEvent*) override;
    void hideEvent(QHideEvent*) override;
    void keyReleaseEvent(QKeyEvent*) override;
    void closeEvent(QCloseEvent*) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

    void SetFrameColor(int n, const QColor& colour);

    TCrono* FClickCrono = nullptr;
    TCrono* FSetCrono = nullptr;
    int FCurrentSlot = 0;
    TImageViewer* FCurrentImage = nullptr;
    bool FModified = false;
    TDuplicateCheck* FDuplicates = nullptr; // the same finger in two slots
    std::array<int, 11> FQualityScore{};    // [1..10]
    std::array<int, 11> FQualityStatus{};   // [1..10]; −2 = not scored

  private:
    void AttachFingerScan();
    // Gives the keyboard focus to "&Grabar" with its focus mark showing.
    void FocusGrabar();
    void BuildLayout();
    void BuildMenu();
    void FormCreate(const QStringList& args);
};

extern TFTrazel* FTrazel;

// Colour of an unselected slot's frame: the system's button face.
QColor ButtonFace();
