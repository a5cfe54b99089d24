#include "InitialzeDevice.h"

#include "IntegratedBiometrics.h"

#include <IBScanUltimateApi.h>

#include <QCoreApplication>

TInitDeviceThread::TInitDeviceThread(TFIntegratedBiometrics* window, Params params)
    : FWindow(window), FParams(params) {
    connect(this, &QThread::finished, this, &QObject::deleteLater);
}

namespace {

QString OpenFailureText(int r) {
    if (r == IBSU_ERR_DEVICE_ACTIVE)
        return QStringLiteral("[Error code = %1] Device initialization failed because in use by "
                              "another thread/process.")
            .arg(r);
    if (r == IBSU_ERR_DEVICE_NEEDS_USB20)
        return QStringLiteral("[Error code = %1] Device initialization failed because SDK only "
                              "works with USB 2.0.")
            .arg(r);
    return QStringLiteral("[Error code = %1] Device initialization failed").arg(r);
}

} // namespace

void TInitDeviceThread::Execute() {
    TFIntegratedBiometrics* w = FWindow;
    w->FOpening = true;
    int handle = -1;
    const int r = IBSU_OpenDevice(FParams.listPosition - 1, &handle);
    if (r >= 0) {
        w->FDeviceHandle = handle;
        const QRect& c = FParams.clientRect;
        IBSU_CreateClientWindow(handle, FParams.previewHost, c.left(), c.top(), c.right() + 1,
                                c.bottom() + 1);
        int overlay = 0;
        IBSU_AddOverlayText(handle, &overlay, "Arial", 10, 1, "", 10, 10, IBSU_RGB(0, 0, 0));
        w->FTextOverlay = overlay;
        for (auto& quad : w->FSegmentOverlays) {
            int q = 0;
            IBSU_AddOverlayQuadrangle(handle, &q, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
            quad = q;
        }
        w->RegisterDeviceCallbacks(handle, FParams.useClearPlaten);
    }
    // Cleared only now, after the setup above, so that a start pressed in between cannot
    // begin a second opening of the same scanner.
    w->FOpening = false;
    if (r == 0) {
        w->Post(UM_BUILD_STEPS);
    } else if (r > 0) {
        w->FStartPending = false; // open, but the operator starts the sequence
        w->ShowStatus(QStringLiteral("Scanner abierto con advertencia (Código = %1): presione "
                                     "\"Iniciar\" para capturar")
                          .arg(r));
        w->Post(UM_UPDATE_CONTROLS);
    } else {
        w->FStartPending = false;
        w->ShowStatus(OpenFailureText(r));
        w->Post(UM_UPDATE_CONTROLS);
    }
}
