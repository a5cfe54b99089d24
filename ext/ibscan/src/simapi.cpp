// The IBSIM_* calls: tests and tools acting as the person at the scanner.
#include "world.h"

#include "eventlog.h"

#include <cstring>
#include <fstream>
#include <sstream>

using ibsim::Sim;

extern "C" {

// ---- IBSIM_* ---------------------------------------------------------------------------

int IBSIM_Reset(const char* scenarioText, int* pErrorLine) {
    return Sim::get().reset(scenarioText, pErrorLine, std::string());
}

int IBSIM_LoadScenarioFile(const char* path, int* pErrorLine) {
    if (!path)
        return IBSU_ERR_INVALID_PARAM_VALUE;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return IBSU_ERR_FILE_OPEN;
    std::stringstream ss;
    ss << in.rdbuf();
    std::string p(path);
    const auto slash = p.rfind('/');
    return Sim::get().reset(ss.str().c_str(), pErrorLine,
                            slash == std::string::npos ? std::string() : p.substr(0, slash));
}

int IBSIM_GetScenarioError(char* text, int textSize) {
    if (!text || textSize <= 0)
        return IBSU_ERR_INVALID_PARAM_VALUE;
    ibsim::copyText(text, static_cast<std::size_t>(textSize), Sim::get().scenarioError());
    return IBSU_STATUS_OK;
}

int IBSIM_SetClock(int clockMode) {
    return Sim::get().setClock(clockMode);
}

int IBSIM_AdvanceTime(int ms) {
    return Sim::get().advance(ms);
}

int IBSIM_GetTime(int64_t* pMs) {
    if (!pMs)
        return IBSU_ERR_INVALID_PARAM_VALUE;
    *pMs = Sim::get().now();
    return IBSU_STATUS_OK;
}

int IBSIM_WaitIdle(void) {
    return Sim::get().waitIdle();
}

int IBSIM_AttachScanner(const char* model, const char* serial, const char* firmware,
                        int* pScannerId) {
    if ((model && std::strlen(model) > 127) || (serial && std::strlen(serial) > 127) ||
        (firmware && std::strlen(firmware) > 127))
        return IBSU_ERR_INVALID_PARAM_VALUE;
    Sim& s = Sim::get();
    std::lock_guard lk(s.m);
    ibsim::ScannerScript script;
    script.id = s.nextScannerId();
    if (model)
        script.model = model;
    if (serial)
        script.serial = serial;
    if (firmware)
        script.firmware = firmware;
    const int id = s.attach(std::move(script), true);
    if (pScannerId)
        *pScannerId = id;
    return IBSU_STATUS_OK;
}

} // extern "C"

namespace {

// Runs fn(sim, scanner) under the lock for an attached scanner.
template <typename Fn> int withScanner(int scannerId, bool mustBeAttached, Fn fn) {
    Sim& s = Sim::get();
    std::lock_guard lk(s.m);
    auto sc = s.scannerById(scannerId);
    if (!sc)
        return IBSU_ERR_DEVICE_NOT_FOUND;
    if (mustBeAttached && !sc->attached)
        return IBSU_ERR_DEVICE_LOST;
    return fn(s, *sc);
}

} // namespace

extern "C" {

int IBSIM_DetachScanner(int scannerId) {
    return withScanner(scannerId, true, [](Sim& s, ibsim::Scanner& sc) {
        s.detach(sc);
        return IBSU_STATUS_OK;
    });
}

int IBSIM_GetScannerHandle(int scannerId, int* pHandle) {
    if (!pHandle)
        return IBSU_ERR_INVALID_PARAM_VALUE;
    return withScanner(scannerId, false, [&](Sim&, ibsim::Scanner& sc) {
        *pHandle = sc.handle;
        return IBSU_STATUS_OK;
    });
}

int IBSIM_PlaceFinger(int scannerId, const int* qualities, int count) {
    if (count < 0 || count > IBSU_MAX_QUALITIES || (count > 0 && !qualities))
        return IBSU_ERR_INVALID_PARAM_VALUE;
    std::vector<int> q(qualities, qualities + count);
    return withScanner(scannerId, true, [&](Sim& s, ibsim::Scanner& sc) {
        s.placeFinger(sc, q);
        return IBSU_STATUS_OK;
    });
}

int IBSIM_LiftFinger(int scannerId) {
    return withScanner(scannerId, true, [](Sim& s, ibsim::Scanner& sc) {
        s.lift(sc);
        return IBSU_STATUS_OK;
    });
}

int IBSIM_SetFingerCountState(int scannerId, int state) {
    if (state < IBSU_FINGER_COUNT_OK || state > IBSU_NON_FINGER)
        return IBSU_ERR_INVALID_PARAM_VALUE;
    return withScanner(scannerId, true, [&](Sim& s, ibsim::Scanner& sc) {
        s.setCountState(sc, state);
        return IBSU_STATUS_OK;
    });
}

int IBSIM_SetPlatenDirty(int scannerId, int dirty) {
    return withScanner(scannerId, true, [&](Sim& s, ibsim::Scanner& sc) {
        s.setPlaten(sc, dirty != 0);
        return IBSU_STATUS_OK;
    });
}

int IBSIM_CompleteCapture(int scannerId) {
    return withScanner(scannerId, true, [&](Sim& s, ibsim::Scanner& sc) {
        ibsim::Device* d = s.deviceOf(sc);
        if (!d || !d->capturing)
            return IBSU_ERR_CAPTURE_NOT_RUNNING;
        if (!(d->options & IBSU_OPTION_AUTO_CAPTURE))
            return IBSU_ERR_DEVICE_INVALID_STATE;
        if (!sc.fingerOn || sc.platenDirty || !Sim::readyForAutoCapture(*d))
            return IBSU_ERR_DEVICE_INVALID_STATE;
        s.takeResult(*d);
        return IBSU_STATUS_OK;
    });
}

int IBSIM_PressKey(int scannerId, int buttonId) {
    return withScanner(scannerId, true, [&](Sim& s, ibsim::Scanner& sc) {
        ibsim::Device* d = s.deviceOf(sc);
        if (!d)
            return IBSU_ERR_DEVICE_NOT_OPENED;
        s.raise(*d, IBSU_EVENT_KEY_BUTTON, buttonId);
        return IBSU_STATUS_OK;
    });
}

int IBSIM_ForceResult(int scannerId, int status, int fingerCount, int segmentCount) {
    if (fingerCount < -1 || fingerCount > IBSU_MAX_SEGMENTS || segmentCount < -1 ||
        segmentCount > IBSU_MAX_SEGMENTS)
        return IBSU_ERR_INVALID_PARAM_VALUE;
    return withScanner(scannerId, false, [&](Sim&, ibsim::Scanner& sc) {
        sc.forcedResult = ibsim::ForcedResult{status, fingerCount, segmentCount};
        return IBSU_STATUS_OK;
    });
}

int IBSIM_ForceOpenResult(int scannerId, int result) {
    return withScanner(scannerId, false, [&](Sim&, ibsim::Scanner& sc) {
        sc.forcedOpen = result;
        return IBSU_STATUS_OK;
    });
}

int IBSIM_ForceCloseBusy(int scannerId, int times) {
    if (times < 0)
        return IBSU_ERR_INVALID_PARAM_VALUE;
    return withScanner(scannerId, false, [&](Sim&, ibsim::Scanner& sc) {
        sc.closeBusy = times;
        return IBSU_STATUS_OK;
    });
}

int IBSIM_ForceBeginResult(int scannerId, int result) {
    return withScanner(scannerId, false, [&](Sim&, ibsim::Scanner& sc) {
        sc.forcedBegin = result;
        return IBSU_STATUS_OK;
    });
}

int IBSIM_SetImageSource(int scannerId, const char* bmpPath, unsigned seed) {
    if (bmpPath && std::strlen(bmpPath) > 4096)
        return IBSU_ERR_INVALID_PARAM_VALUE;
    return withScanner(scannerId, false, [&](Sim&, ibsim::Scanner& sc) {
        sc.imageOverride = true;
        sc.imagePath = bmpPath ? bmpPath : "";
        sc.seed = seed;
        return IBSU_STATUS_OK;
    });
}

int IBSIM_GetLEDs(int scannerId, uint32_t* pMask, int* pSetCount) {
    return withScanner(scannerId, false, [&](Sim&, ibsim::Scanner& sc) {
        if (pMask)
            *pMask = sc.leds;
        if (pSetCount)
            *pSetCount = sc.ledSets;
        return IBSU_STATUS_OK;
    });
}

int IBSIM_GetContrast(int scannerId, int* pContrast) {
    if (!pContrast)
        return IBSU_ERR_INVALID_PARAM_VALUE;
    return withScanner(scannerId, false, [&](Sim&, ibsim::Scanner& sc) {
        *pContrast = sc.contrast;
        return IBSU_STATUS_OK;
    });
}

int IBSIM_GetLastCapture(int scannerId, int* pImageType, int* pResolution, int* pOptions) {
    return withScanner(scannerId, false, [&](Sim&, ibsim::Scanner& sc) {
        if (pImageType)
            *pImageType = sc.lastType;
        if (pResolution)
            *pResolution = sc.lastResolution;
        if (pOptions)
            *pOptions = sc.lastOptions;
        return IBSU_STATUS_OK;
    });
}

int IBSIM_GetOverlayText(int scannerId, int overlayHandle, char* text, int textSize, char* font,
                         int* pFontSize, int* pBold, int* pX, int* pY, uint32_t* pColor) {
    if (text && textSize <= 0)
        return IBSU_ERR_INVALID_PARAM_VALUE;
    return withScanner(scannerId, false, [&](Sim& s, ibsim::Scanner& sc) {
        ibsim::Device* d = s.deviceOf(sc);
        if (!d)
            return IBSU_ERR_DEVICE_NOT_OPENED;
        const ibsim::OverlayText* t = nullptr;
        if (overlayHandle == 0) {
            t = &d->clientText;
        } else {
            auto it = d->texts.find(overlayHandle);
            if (it == d->texts.end())
                return IBSU_ERR_INVALID_PARAM_VALUE;
            t = &it->second;
        }
        if (text) {
            const std::size_t n = std::min(t->text.size(), static_cast<std::size_t>(textSize - 1));
            std::memcpy(text, t->text.data(), n);
            text[n] = 0;
        }
        if (font)
            ibsim::copyText(font, IBSU_PROPERTY_BUFFER_SIZE, t->font);
        if (pFontSize)
            *pFontSize = t->size;
        if (pBold)
            *pBold = t->bold ? 1 : 0;
        if (pX)
            *pX = t->x;
        if (pY)
            *pY = t->y;
        if (pColor)
            *pColor = t->colour;
        return IBSU_STATUS_OK;
    });
}

int IBSIM_GetOverlayQuadrangle(int scannerId, int overlayHandle, int coords[8], int* pLineWidth,
                               uint32_t* pColor) {
    return withScanner(scannerId, false, [&](Sim& s, ibsim::Scanner& sc) {
        ibsim::Device* d = s.deviceOf(sc);
        if (!d)
            return IBSU_ERR_DEVICE_NOT_OPENED;
        auto it = d->quads.find(overlayHandle);
        if (it == d->quads.end())
            return IBSU_ERR_INVALID_PARAM_VALUE;
        if (coords)
            std::copy(it->second.c, it->second.c + 8, coords);
        if (pLineWidth)
            *pLineWidth = it->second.width;
        if (pColor)
            *pColor = it->second.colour;
        return IBSU_STATUS_OK;
    });
}

int IBSIM_GetClientWindow(int scannerId, IBSU_WindowHandle* pWindow, int rect[4]) {
    return withScanner(scannerId, false, [&](Sim& s, ibsim::Scanner& sc) {
        ibsim::Device* d = s.deviceOf(sc);
        if (pWindow)
            *pWindow = d && d->hasWindow ? d->host : nullptr;
        if (rect)
            for (int i = 0; i < 4; ++i)
                rect[i] = d && d->hasWindow ? d->rect[i] : 0;
        return IBSU_STATUS_OK;
    });
}

int IBSIM_SetNfiqLibrary(const char* path) {
    ibsim::nfiqSetLibraryPath(path);
    return IBSU_STATUS_OK;
}

void ibsim_render_print(unsigned seed, int w, int h, uint8_t* pixels) {
    if (!pixels || w <= 0 || h <= 0 || w > IBSU_MAX_IMAGE_SIDE || h > IBSU_MAX_IMAGE_SIDE)
        return;
    ibsim::renderPrintInto(seed, w, h, pixels, w);
}

} // extern "C"
