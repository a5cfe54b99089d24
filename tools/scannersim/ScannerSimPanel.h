// The trainer panel of scannersim: buttons for the person at the scanner and the scanner's
// LEDs and prompt as the station last set them, polled four times a second through the
// control socket of the program with the given pid (0: the only one).
#pragma once

#include <QString>
#include <QWidget>

#include <cstdint>
#include <string>

class QLabel;
class ScannerFace;

class ScannerSimPanel : public QWidget {
  public:
    explicit ScannerSimPanel(int pid = 0, QWidget* parent = nullptr);

    // Asks the simulator for the scanners' state and redraws.
    void Poll();
    // What the panel shows: the LED mask, the prompt and the scanner's state line.
    uint32_t Leds() const;
    QString Prompt() const;
    QString State() const;

  private:
    std::string Path() const;
    std::string Send(const std::string& line);

    int FPid = 0;
    int FFingers = 1; // places of the running capture's image type
    ScannerFace* FFace = nullptr;
    QLabel* FStatus = nullptr;
};

// Runs the panel as a program (its own QApplication).
int runPanel(int argc, char** argv, int pid);
