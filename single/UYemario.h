#pragma once
// Yemario: captures one finger into "huella.bmp" in the working directory for a calling
// program, then ends. The caller learns the outcome from the file alone.
#include <QIODevice>
#include <QLabel>
#include <QMainWindow>
#include <QStringList>
#include <QTimer>

#include <memory>

class TFYemario : public QMainWindow {
    Q_OBJECT
  public:
    // args: the command-line arguments without the program name.
    explicit TFYemario(const QStringList& args, QWidget* parent = nullptr);

    void TimerStartTimer();
    void miConfigClick();
    void miSalirClick();
    void CaptureWindowClosed();
    void FingerScanBeforeScan(std::unique_ptr<QIODevice>& stream);
    void FingerScanAfterScan(std::unique_ptr<QIODevice>& stream);

    QLabel* img;
    QTimer* TimerStart;
    QMenu* Archivo1;
    QAction* miConfig;
    QAction* miSalir;

  signals:
    void closed();

  protected:
    void closeEvent(QCloseEvent*) override;

  private:
    void FormCreate();
    QStringList FArgs;
};

extern TFYemario* FYemario;

// The whole program: modules, splash, windows, message loop. Returns the exit code: 1 when
// the finger-scan component cannot start (after a message box), otherwise 0.
int RunYemario(const QStringList& args);
