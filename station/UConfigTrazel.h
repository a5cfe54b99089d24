#pragma once
// The settings dialog shared by both programs. Its controls are the settings in memory: every
// reader looks at the control when it needs the value. The settings file "TrazelIB.INI" lies
// in the data folder (see Paths.h), section "Config".
#include "Panel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

class TFConfigTrazel : public QDialog {
    Q_OBJECT
  public:
    // settingsPath: the settings file; empty means "TrazelIB.INI" in the data folder.
    explicit TFConfigTrazel(QWidget* parent = nullptr, QString settingsPath = QString());

    QString SettingsPath() const { return FSettingsPath; }
    void LoadSettings();
    void SaveSettings();

    void btOKClick();
    void btCancelClick();

    QLabel* Label2;
    QLabel* lblScannerInUse; // which scanner type is in force, and why when the file's is not
    QComboBox* cbScannerType;
    QCheckBox* cbFlipHor;
    QCheckBox* cbFlipVer;
    QCheckBox* cbAutoAvance;
    QCheckBox* cbDuplicateCheck; // warn when a print looks like another slot's finger
    // The ANSI/NIST-ITL transaction written with the set: on/off, originating and destination
    // agency.
    QCheckBox* cbGrabarAN2;
    QLineEdit* edORI;
    QLineEdit* edDAI;
    TPanel* Panel1;
    QPushButton* btOK;
    QPushButton* btCancel;

  protected:
    void showEvent(QShowEvent*) override;

  private:
    void AddTransactionControls();
    void ShowScannerInUse(const QString& why);
    QString FSettingsPath;
};

extern TFConfigTrazel* FConfigTrazel;

// Scanner types are the item indices of cbScannerType.
enum ScannerTypeIndex { kScannerIBFlat = 0, kScannerIBRolled = 1, kScannerUareU = 2 };

// The one test of the scanner type: only the Integrated Biometrics types (0 flat, 1 rolled)
// use the capture window; anything else (the ScanMan scanner, or no type selected) does not.
bool IsIntegratedBiometrics(int scannerType);

// The scanner type currently selected in the dialog (−1 when there is no dialog or selection).
int CurrentScannerType();
