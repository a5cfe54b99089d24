#pragma once
// The worker thread that opens the selected scanner, so that the capture window stays
// responsive while the scanner initialises. Everything it needs from the window's controls
// is read on the GUI thread before it starts; it hands control back only by posting.
#include <QRect>
#include <QThread>
#include <QWidget>

class TFIntegratedBiometrics;

class TInitDeviceThread : public QThread {
    Q_OBJECT
  public:
    struct Params {
        int listPosition = 0;        // selected position of the scanner list
        bool useClearPlaten = false; // register the platen event
        QWidget* previewHost = nullptr;
        QRect clientRect; // of the preview host, in its own coordinates
    };
    // The thread deletes itself (on the GUI thread) once Execute has ended.
    TInitDeviceThread(TFIntegratedBiometrics* window, Params params);

    void Execute();

  protected:
    void run() override { Execute(); }

  private:
    TFIntegratedBiometrics* FWindow;
    Params FParams;
};
