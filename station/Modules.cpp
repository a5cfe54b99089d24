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
    // A library present without its entry points stops the start-up with the binding's
    // assertion text.
    try {
        LoadNfiqLibrary();
        LoadWsqLibrary();
    } catch (const platform::StationError& e) {
        UFingerScanEnd();
        return e.Text();
    }
    return QString();
}

void EndModules() {
    UFingerScanEnd();
}
