#include "TrazelStartup.h"

#include "Modules.h"

#include "Errors.h"
#include "IntegratedBiometrics.h"
#include "MessageBox.h"
#include "UConfigTrazel.h"
#include "USplash.h"
#include "UTrazel.h"
#include "UVerDedo.h"

#include <QCoreApplication>

void CreateTrazelWindows(const QStringList& args) {
    FSplash = new TFSplash;
    FSplash->show();
    FSplash->repaint();
    QCoreApplication::processEvents();

    FTrazel = new TFTrazel(args);
    FConfigTrazel = new TFConfigTrazel(FTrazel);
    FVerDedo = new TFVerDedo(FTrazel);
    FIntegratedBiometrics = new TFIntegratedBiometrics;
    // Closing the main window ends the program, also while the capture window is open.
    QObject::connect(FTrazel, &TFTrazel::closed, qApp, &QCoreApplication::quit,
                     Qt::QueuedConnection);

    FTrazel->show();
    FTrazel->TimerStart->start();
}

void DestroyTrazelWindows() {
    delete FIntegratedBiometrics;
    FIntegratedBiometrics = nullptr;
    delete FTrazel; // owns the dialog and the finger viewer
    FTrazel = nullptr;
    FConfigTrazel = nullptr;
    FVerDedo = nullptr;
    delete FSplash;
    FSplash = nullptr;
}

int RunTrazelIB(const QStringList& args) {
    const QString failure = StartModules();
    if (!failure.isEmpty()) {
        platform::ShowMessage(nullptr, failure, QCoreApplication::applicationName(),
                              QMessageBox::Ok, QMessageBox::Critical);
        return 1;
    }
    CreateTrazelWindows(args);
    const int rc = QCoreApplication::exec();
    DestroyTrazelWindows();
    EndModules();
    return rc;
}
