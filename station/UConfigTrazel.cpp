#include "UConfigTrazel.h"

#include "Errors.h"
#include "Ini.h"
#include "Paths.h"
#include "Screen.h"

TFConfigTrazel* FConfigTrazel = nullptr;

namespace {
const QString kSection = QStringLiteral("Config");
}

bool IsIntegratedBiometrics(int scannerType) {
    return scannerType == kScannerIBFlat || scannerType == kScannerIBRolled;
}

int CurrentScannerType() {
    return FConfigTrazel ? FConfigTrazel->cbScannerType->currentIndex() : -1;
}

TFConfigTrazel::TFConfigTrazel(QWidget* parent, QString settingsPath)
    : QDialog(parent, Qt::Dialog | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      FSettingsPath(settingsPath.isEmpty() ? platform::DataFile(QStringLiteral("TrazelIB.INI"))
                                           : std::move(settingsPath)) {
    setObjectName("FConfigTrazel");
    setWindowTitle(QStringLiteral("Configuración de Trazel"));
    setModal(true);
    platform::UseDialogFont(this);
    setFixedSize(415, 173);

    Panel1 = new TPanel(this);
    Panel1->setObjectName("Panel1");
    Panel1->setGeometry(0, 173 - 44, 415, 44);
    btOK = new QPushButton(QStringLiteral("&Aceptar"), Panel1);
    btOK->setObjectName("btOK");
    btOK->setGeometry(248, 8, 75, 25);
    btCancel = new QPushButton(QStringLiteral("&Cancelar"), Panel1);
    btCancel->setObjectName("btCancel");
    btCancel->setGeometry(328, 8, 75, 25);

    Label2 = new QLabel(QStringLiteral("Modalidad captura:"), this);
    Label2->setObjectName("Label2");
    Label2->move(8, 16);
    Label2->adjustSize();
    cbScannerType = new QComboBox(this);
    cbScannerType->setObjectName("cbScannerType");
    cbScannerType->setGeometry(104, 8, 305, 21);
    cbScannerType->setEditable(false);
    cbScannerType->addItems({QStringLiteral("Integrated Biometrics (plano)"),
                             QStringLiteral("Integrated Biometrics (rodado)"),
                             QStringLiteral("DigitalPersona U.are.U 4000B/4500")});
    cbFlipHor = new QCheckBox(QStringLiteral("Flip Horizontal"), this);
    cbFlipHor->setObjectName("cbFlipHor");
    cbFlipHor->setGeometry(104, 40, 97, 17);
    cbFlipVer = new QCheckBox(QStringLiteral("Flip Vertical"), this);
    cbFlipVer->setObjectName("cbFlipVer");
    cbFlipVer->setGeometry(104, 72, 97, 17);
    cbAutoAvance = new QCheckBox(QStringLiteral("Avance automático"), this);
    cbAutoAvance->setObjectName("cbAutoAvance");
    cbAutoAvance->setGeometry(104, 104, 153, 17);
    cbDuplicateCheck = new QCheckBox(QStringLiteral("Avisar dedo repetido"), this);
    cbDuplicateCheck->setObjectName("cbDuplicateCheck");
    cbDuplicateCheck->setGeometry(264, 104, 145, 17);

    setTabOrder(btOK, btCancel);
    setTabOrder(btCancel, cbScannerType);
    setTabOrder(cbScannerType, cbFlipHor);
    setTabOrder(cbFlipHor, cbFlipVer);
    setTabOrder(cbFlipVer, cbAutoAvance);
    setTabOrder(cbAutoAvance, cbDuplicateCheck);

    connect(btOK, &QPushButton::clicked, this,
            [this] { platform::RunReported([this] { btOKClick(); }); });
    connect(btCancel, &QPushButton::clicked, this, [this] { btCancelClick(); });

    // FormCreate
    LoadSettings();
    platform::CenterOnScreen(this);
}

void TFConfigTrazel::LoadSettings() {
    const platform::IniFile ini(FSettingsPath);
    const int type = ini.ReadInteger(kSection, QStringLiteral("ScannerType"), 0);
    // A stored index that names no item leaves the list without a selection.
    cbScannerType->setCurrentIndex(type >= 0 && type < cbScannerType->count() ? type : -1);
    cbFlipHor->setChecked(ini.ReadBool(kSection, QStringLiteral("flip_hor"), false));
    cbFlipVer->setChecked(ini.ReadBool(kSection, QStringLiteral("flip_ver"), false));
    cbAutoAvance->setChecked(ini.ReadBool(kSection, QStringLiteral("AutoAvance"), true));
    cbDuplicateCheck->setChecked(ini.ReadBool(kSection, QStringLiteral("DuplicateCheck"), true));
}

void TFConfigTrazel::SaveSettings() {
    const platform::IniFile ini(FSettingsPath);
    ini.WriteInteger(kSection, QStringLiteral("ScannerType"), cbScannerType->currentIndex());
    ini.WriteBool(kSection, QStringLiteral("flip_hor"), cbFlipHor->isChecked());
    ini.WriteBool(kSection, QStringLiteral("flip_ver"), cbFlipVer->isChecked());
    ini.WriteBool(kSection, QStringLiteral("AutoAvance"), cbAutoAvance->isChecked());
    ini.WriteBool(kSection, QStringLiteral("DuplicateCheck"), cbDuplicateCheck->isChecked());
}

void TFConfigTrazel::btOKClick() {
    SaveSettings(); // a key that cannot be written stops here: the dialog stays open
    accept();
}

void TFConfigTrazel::btCancelClick() {
    LoadSettings();
    reject();
}

void TFConfigTrazel::showEvent(QShowEvent* e) {
    LoadSettings(); // each opening starts from the file
    QDialog::showEvent(e);
}
