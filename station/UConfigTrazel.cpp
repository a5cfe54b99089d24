#include "UConfigTrazel.h"

#include "Errors.h"
#include "Ini.h"
#include "Paths.h"
#include "Screen.h"

#include <QRegularExpression>
#include <QRegularExpressionValidator>

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

    lblScannerInUse = new QLabel(Panel1);
    lblScannerInUse->setObjectName("lblScannerInUse");
    lblScannerInUse->setGeometry(8, 4, 232, 36);
    lblScannerInUse->setWordWrap(true);
    connect(cbScannerType, &QComboBox::currentIndexChanged, this,
            [this] { ShowScannerInUse(QString()); });

    setTabOrder(btOK, btCancel);
    setTabOrder(btCancel, cbScannerType);
    setTabOrder(cbScannerType, cbFlipHor);
    setTabOrder(cbFlipHor, cbFlipVer);
    setTabOrder(cbFlipVer, cbAutoAvance);
    setTabOrder(cbAutoAvance, cbDuplicateCheck);

    AddTransactionControls();

    connect(btOK, &QPushButton::clicked, this,
            [this] { platform::RunReported([this] { btOKClick(); }); });
    connect(btCancel, &QPushButton::clicked, this, [this] { btCancelClick(); });

    // FormCreate
    LoadSettings();
    platform::CenterOnScreen(this);
}

// The transaction settings, in a band below the other settings: the dialog grows by its
// height and the button panel moves down.
void TFConfigTrazel::AddTransactionControls() {
    constexpr int kTop = 136, kBand = 60;
    setFixedSize(width(), height() + kBand);
    Panel1->move(Panel1->x(), Panel1->y() + kBand);
    cbGrabarAN2 =
        new QCheckBox(QStringLiteral("Grabar también la transacción ANSI/NIST (.an2)"), this);
    cbGrabarAN2->setObjectName("cbGrabarAN2");
    cbGrabarAN2->setGeometry(104, kTop, 305, 17);
    auto* labelOri = new QLabel(QStringLiteral("ORI:"), this);
    labelOri->move(104, kTop + 30);
    labelOri->adjustSize();
    edORI = new QLineEdit(this);
    edORI->setObjectName("edORI");
    edORI->setGeometry(134, kTop + 26, 110, 21);
    auto* labelDai = new QLabel(QStringLiteral("DAI:"), this);
    labelDai->move(262, kTop + 30);
    labelDai->adjustSize();
    edDAI = new QLineEdit(this);
    edDAI->setObjectName("edDAI");
    edDAI->setGeometry(292, kTop + 26, 110, 21);
    // Agency identifiers are printable ASCII without the file's separators.
    const QRegularExpression ident(QStringLiteral("[\\x20-\\x7E]{1,35}"));
    edORI->setValidator(new QRegularExpressionValidator(ident, edORI));
    edDAI->setValidator(new QRegularExpressionValidator(ident, edDAI));
    setTabOrder(cbDuplicateCheck, cbGrabarAN2);
    setTabOrder(cbGrabarAN2, edORI);
    setTabOrder(edORI, edDAI);
}

void TFConfigTrazel::ShowScannerInUse(const QString& why) {
    const int type = cbScannerType->currentIndex();
    QString text = QStringLiteral("En uso: ") +
                   (type >= 0 ? cbScannerType->currentText() : QStringLiteral("ninguna modalidad"));
    if (!why.isEmpty())
        text = why + QStringLiteral("; ") + text.at(0).toLower() + text.mid(1);
    lblScannerInUse->setText(text);
}

void TFConfigTrazel::LoadSettings() {
    const platform::IniFile ini(FSettingsPath);
    const int type = ini.ReadInteger(kSection, QStringLiteral("ScannerType"), 0);
    // A stored index that names no item leaves the list without a selection.
    cbScannerType->setCurrentIndex(type >= 0 && type < cbScannerType->count() ? type : -1);
    // The operator learns when the file's value was not taken as written.
    const QString stored = ini.ReadString(kSection, QStringLiteral("ScannerType"), QString());
    int parsed = 0;
    QString why;
    if (!stored.isEmpty() && !platform::ParseIniInteger(stored, parsed))
        why = QStringLiteral("ScannerType=\"%1\" no es un número").arg(stored);
    else if (!stored.isEmpty() && cbScannerType->currentIndex() < 0 && parsed != -1)
        why = QStringLiteral("ScannerType=%1 no es una modalidad").arg(parsed);
    ShowScannerInUse(why);
    cbFlipHor->setChecked(ini.ReadBool(kSection, QStringLiteral("flip_hor"), false));
    cbFlipVer->setChecked(ini.ReadBool(kSection, QStringLiteral("flip_ver"), false));
    cbAutoAvance->setChecked(ini.ReadBool(kSection, QStringLiteral("AutoAvance"), true));
    cbDuplicateCheck->setChecked(ini.ReadBool(kSection, QStringLiteral("DuplicateCheck"), true));
    cbGrabarAN2->setChecked(ini.ReadBool(kSection, QStringLiteral("GrabarAN2"), false));
    edORI->setText(
        ini.ReadString(kSection, QStringLiteral("AN2_ORI"), QStringLiteral("ORIG00001")));
    edDAI->setText(
        ini.ReadString(kSection, QStringLiteral("AN2_DAI"), QStringLiteral("DEST00001")));
}

void TFConfigTrazel::SaveSettings() {
    const platform::IniFile ini(FSettingsPath);
    ini.WriteInteger(kSection, QStringLiteral("ScannerType"), cbScannerType->currentIndex());
    ini.WriteBool(kSection, QStringLiteral("flip_hor"), cbFlipHor->isChecked());
    ini.WriteBool(kSection, QStringLiteral("flip_ver"), cbFlipVer->isChecked());
    ini.WriteBool(kSection, QStringLiteral("AutoAvance"), cbAutoAvance->isChecked());
    ini.WriteBool(kSection, QStringLiteral("DuplicateCheck"), cbDuplicateCheck->isChecked());
    ini.WriteBool(kSection, QStringLiteral("GrabarAN2"), cbGrabarAN2->isChecked());
    ini.WriteString(kSection, QStringLiteral("AN2_ORI"), edORI->text());
    ini.WriteString(kSection, QStringLiteral("AN2_DAI"), edDAI->text());
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
