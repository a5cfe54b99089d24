#include "Modules.h"

#include "Errors.h"
#include "GBNFIQ.h"
#include "UFingerScan.h"
#include "WSQPACK.h"

QString StartModules() {
    // Errors raised while a delivery is handed to a window are reported like any other
    // error of the program; the silent abort (a refused delivery) shows nothing.
    SetFingerScanErrorHook([](std::exception_ptr error) {
        platform::RunReported([error] { std::rethrow_exception(error); });
    });
    const QString failure = UFingerScanStart();
    if (!failure.isEmpty())
        return failure;
    LoadNfiqLibrary();
    LoadWsqLibrary();
    return QString();
}

void EndModules() {
    UFingerScanEnd();
}

