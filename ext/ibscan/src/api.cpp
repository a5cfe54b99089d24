// The IBSU_* calls: argument checks, then the simulated world under its lock; every call is
// written to the event log.
#include "world.h"

#include "eventlog.h"

#include <cstring>
#include <fstream>
#include <sstream>

using ibsim::Sim;

// ---- IBSU_* ----------------------------------------------------------------------------

namespace {

// Runs fn(sim, device) under the lock for an open (not lost) device.
template <typename Fn> int withDevice(int handle, Fn fn) {
    Sim& s = Sim::get();
    std::lock_guard lk(s.m);
    int err = 0;
    auto* d = s.device(handle, err);
    if (!d)
        return err;
    return fn(s, *d);
}

bool validText(const char* t, std::size_t max) {
    return t && std::strlen(t) <= max;
}

bool validCoord(int v) {
    return v >= -ibsim::kMaxCoord && v <= ibsim::kMaxCoord;
}

int checkText(const char* font, int size, const char* text, int x, int y) {
    if (!validText(font, IBSU_MAX_STR_LEN) || !validText(text, IBSU_MAX_OVERLAY_TEXT) || size < 1 ||
        size > ibsim::kMaxFontSize || !validCoord(x) || !validCoord(y))
        return IBSU_ERR_INVALID_PARAM_VALUE;
    return IBSU_STATUS_OK;
}

ibsim::OverlayText makeText(int id, const char* font, int size, int bold, const char* text, int x,
                            int y, uint32_t colour) {
    ibsim::OverlayText t;
    t.id = id;
    t.font = font;
    t.size = size;
    t.bold = bold != 0;
    t.text = text;
    t.x = x;
    t.y = y;
    t.colour = colour & 0xFFFFFFu;
    return t;
}

int checkQuad(const int c[8], int width) {
    for (int i = 0; i < 8; ++i)
        if (!validCoord(c[i]))
            return IBSU_ERR_INVALID_PARAM_VALUE;
    if (width < 0 || width > ibsim::kMaxLineWidth)
        return IBSU_ERR_INVALID_PARAM_VALUE;
    return IBSU_STATUS_OK;
}

} // namespace

extern "C" {

static int impl_IBSU_GetDeviceCount(int* deviceCount) {
    if (!deviceCount)
        return IBSU_ERR_INVALID_PARAM_VALUE;
    Sim& s = Sim::get();
    std::lock_guard lk(s.m);
    *deviceCount = s.deviceCount();
    return IBSU_STATUS_OK;
}

int IBSU_GetDeviceCount(int* deviceCount) {
    const int r = impl_IBSU_GetDeviceCount(deviceCount);
    if (ibsim::log::enabled())
        ibsim::log::call(
            "IBSU_GetDeviceCount",
            {r >= 0 && deviceCount ? ibsim::log::arg("deviceCount", *deviceCount) : std::string()},
            r);
    return r;
}

static int impl_IBSU_GetDeviceDescription(int deviceIndex, IBSU_DeviceDesc* desc) {
    if (!desc)
        return IBSU_ERR_INVALID_PARAM_VALUE;
    Sim& s = Sim::get();
    std::lock_guard lk(s.m);
    auto sc = s.attachedAt(deviceIndex);
    if (!sc)
        return IBSU_ERR_DEVICE_NOT_FOUND;
    if (sc->script.descriptionResult < 0)
        return sc->script.descriptionResult;
    std::memset(desc, 0, sizeof *desc);
    ibsim::copyText(desc->serialNumber, sizeof desc->serialNumber, sc->script.serial);
    ibsim::copyText(desc->productName, sizeof desc->productName, sc->script.model);
    ibsim::copyText(desc->interfaceType, sizeof desc->interfaceType, "USB");
    ibsim::copyText(desc->fwVersion, sizeof desc->fwVersion, sc->script.firmware);
    ibsim::copyText(desc->devRevision, sizeof desc->devRevision, sc->script.revision);
    desc->handle = sc->handle;
    desc->isHandleOpened = sc->handle >= 0 ? 1 : 0;
    return IBSU_STATUS_OK;
}

int IBSU_GetDeviceDescription(int deviceIndex, IBSU_DeviceDesc* desc) {
    const int r = impl_IBSU_GetDeviceDescription(deviceIndex, desc);
    if (ibsim::log::enabled())
        ibsim::log::call("IBSU_GetDeviceDescription",
                         {ibsim::log::arg("deviceIndex", deviceIndex),
                          ibsim::log::arg("desc", static_cast<const void*>(desc))},
                         r);
    return r;
}

static int impl_IBSU_OpenDevice(int deviceIndex, int* pHandle) {
    return Sim::get().open(deviceIndex, pHandle);
}

int IBSU_OpenDevice(int deviceIndex, int* pHandle) {
    const int r = impl_IBSU_OpenDevice(deviceIndex, pHandle);
    if (ibsim::log::enabled())
        ibsim::log::call("IBSU_OpenDevice",
                         {ibsim::log::arg("deviceIndex", deviceIndex),
                          r >= 0 && pHandle ? ibsim::log::arg("pHandle", *pHandle) : std::string()},
                         r);
    return r;
}

static int impl_IBSU_CloseDevice(int handle) {
    return Sim::get().close(handle);
}

int IBSU_CloseDevice(int handle) {
    const int r = impl_IBSU_CloseDevice(handle);
    if (ibsim::log::enabled())
        ibsim::log::call("IBSU_CloseDevice", {ibsim::log::arg("handle", handle)}, r);
    return r;
}

static int impl_IBSU_RegisterCallbacks(int handle, int eventKind, IBSU_Callback handler,
                                       void* context) {
    return Sim::get().registerCallback(handle, eventKind, handler, context);
}

int IBSU_RegisterCallbacks(int handle, int eventKind, IBSU_Callback handler, void* context) {
    const int r = impl_IBSU_RegisterCallbacks(handle, eventKind, handler, context);
    if (ibsim::log::enabled())
        ibsim::log::call("IBSU_RegisterCallbacks",
                         {ibsim::log::arg("handle", handle),
                          ibsim::log::arg("eventKind", eventKind),
                          ibsim::log::arg("handler", reinterpret_cast<const void*>(handler)),
                          ibsim::log::arg("context", static_cast<const void*>(context))},
                         r);
    return r;
}

static int impl_IBSU_CreateClientWindow(int handle, IBSU_WindowHandle hWindow, int left, int top,
                                        int right, int bottom) {
    if (!hWindow || !validCoord(left) || !validCoord(top) || right <= left || bottom <= top ||
        right - left > IBSU_MAX_IMAGE_SIDE || bottom - top > IBSU_MAX_IMAGE_SIDE ||
        !validCoord(right) || !validCoord(bottom))
        return IBSU_ERR_INVALID_PARAM_VALUE;
    return withDevice(handle, [&](Sim& s, ibsim::Device& d) {
        if (const int r = Sim::scriptedResult(*d.sc, "window_result"); r < 0)
            return r;
        d.hasWindow = true;
        d.host = hWindow;
        d.rect[0] = left;
        d.rect[1] = top;
        d.rect[2] = right;
        d.rect[3] = bottom;
        if (const ibsim::DisplayHooks* hooks = ibsim::gHooks.load())
            hooks->attach(handle, hWindow, left, top, right, bottom);
        s.refreshDisplay(d);
        return IBSU_STATUS_OK;
    });
}

int IBSU_CreateClientWindow(int handle, IBSU_WindowHandle hWindow, int left, int top, int right,
                            int bottom) {
    const int r = impl_IBSU_CreateClientWindow(handle, hWindow, left, top, right, bottom);
    if (ibsim::log::enabled())
        ibsim::log::call("IBSU_CreateClientWindow",
                         {ibsim::log::arg("handle", handle),
                          ibsim::log::arg("hWindow", static_cast<const void*>(hWindow)),
                          ibsim::log::arg("left", left), ibsim::log::arg("top", top),
                          ibsim::log::arg("right", right), ibsim::log::arg("bottom", bottom)},
                         r);
    return r;
}

static int impl_IBSU_AddOverlayText(int handle, int* pOverlayHandle, const char* fontName,
                                    int fontSize, int fontBold, const char* text, int posX,
                                    int posY, uint32_t textColor) {
    if (!pOverlayHandle)
        return IBSU_ERR_INVALID_PARAM_VALUE;
    if (int e = checkText(fontName, fontSize, text, posX, posY))
        return e;
    return withDevice(handle, [&](Sim& s, ibsim::Device& d) {
        if (d.texts.size() + d.quads.size() >= IBSU_MAX_OVERLAYS)
            return IBSU_ERR_MEM_ALLOC;
        const int id = d.nextOverlay++;
        d.texts[id] = makeText(id, fontName, fontSize, fontBold, text, posX, posY, textColor);
        *pOverlayHandle = id;
        s.refreshDisplay(d);
        return IBSU_STATUS_OK;
    });
}

int IBSU_AddOverlayText(int handle, int* pOverlayHandle, const char* fontName, int fontSize,
                        int fontBold, const char* text, int posX, int posY, uint32_t textColor) {
    const int r = impl_IBSU_AddOverlayText(handle, pOverlayHandle, fontName, fontSize, fontBold,
                                           text, posX, posY, textColor);
    if (ibsim::log::enabled())
        ibsim::log::call(
            "IBSU_AddOverlayText",
            {ibsim::log::arg("handle", handle),
             r >= 0 && pOverlayHandle ? ibsim::log::arg("pOverlayHandle", *pOverlayHandle)
                                      : std::string(),
             ibsim::log::arg("fontName", fontName), ibsim::log::arg("fontSize", fontSize),
             ibsim::log::arg("fontBold", fontBold), ibsim::log::arg("text", text),
             ibsim::log::arg("posX", posX), ibsim::log::arg("posY", posY),
             ibsim::log::arg("textColor", textColor)},
            r);
    return r;
}

static int impl_IBSU_ModifyOverlayText(int handle, int overlayHandle, const char* fontName,
                                       int fontSize, int fontBold, const char* text, int posX,
                                       int posY, uint32_t textColor) {
    if (int e = checkText(fontName, fontSize, text, posX, posY))
        return e;
    return withDevice(handle, [&](Sim& s, ibsim::Device& d) {
        auto it = d.texts.find(overlayHandle);
        if (it == d.texts.end())
            return IBSU_ERR_INVALID_PARAM_VALUE;
        it->second =
            makeText(overlayHandle, fontName, fontSize, fontBold, text, posX, posY, textColor);
        s.refreshDisplay(d);
        return IBSU_STATUS_OK;
    });
}

int IBSU_ModifyOverlayText(int handle, int overlayHandle, const char* fontName, int fontSize,
                           int fontBold, const char* text, int posX, int posY, uint32_t textColor) {
    const int r = impl_IBSU_ModifyOverlayText(handle, overlayHandle, fontName, fontSize, fontBold,
                                              text, posX, posY, textColor);
    if (ibsim::log::enabled())
        ibsim::log::call(
            "IBSU_ModifyOverlayText",
            {ibsim::log::arg("handle", handle), ibsim::log::arg("overlayHandle", overlayHandle),
             ibsim::log::arg("fontName", fontName), ibsim::log::arg("fontSize", fontSize),
             ibsim::log::arg("fontBold", fontBold), ibsim::log::arg("text", text),
             ibsim::log::arg("posX", posX), ibsim::log::arg("posY", posY),
             ibsim::log::arg("textColor", textColor)},
            r);
    return r;
}

static int impl_IBSU_SetClientWindowOverlayText(int handle, const char* fontName, int fontSize,
                                                int fontBold, const char* text, int posX, int posY,
                                                uint32_t textColor) {
    if (int e = checkText(fontName, fontSize, text, posX, posY))
        return e;
    return withDevice(handle, [&](Sim& s, ibsim::Device& d) {
        d.clientText = makeText(0, fontName, fontSize, fontBold, text, posX, posY, textColor);
        s.refreshDisplay(d);
        return IBSU_STATUS_OK;
    });
}

int IBSU_SetClientWindowOverlayText(int handle, const char* fontName, int fontSize, int fontBold,
                                    const char* text, int posX, int posY, uint32_t textColor) {
    const int r = impl_IBSU_SetClientWindowOverlayText(handle, fontName, fontSize, fontBold, text,
                                                       posX, posY, textColor);
    if (ibsim::log::enabled())
        ibsim::log::call("IBSU_SetClientWindowOverlayText",
                         {ibsim::log::arg("handle", handle), ibsim::log::arg("fontName", fontName),
                          ibsim::log::arg("fontSize", fontSize),
                          ibsim::log::arg("fontBold", fontBold), ibsim::log::arg("text", text),
                          ibsim::log::arg("posX", posX), ibsim::log::arg("posY", posY),
                          ibsim::log::arg("textColor", textColor)},
                         r);
    return r;
}

static int impl_IBSU_AddOverlayQuadrangle(int handle, int* pOverlayHandle, int x1, int y1, int x2,
                                          int y2, int x3, int y3, int x4, int y4, int lineWidth,
                                          uint32_t lineColor) {
    const int c[8] = {x1, y1, x2, y2, x3, y3, x4, y4};
    if (!pOverlayHandle)
        return IBSU_ERR_INVALID_PARAM_VALUE;
    if (int e = checkQuad(c, lineWidth))
        return e;
    return withDevice(handle, [&](Sim& s, ibsim::Device& d) {
        if (d.texts.size() + d.quads.size() >= IBSU_MAX_OVERLAYS)
            return IBSU_ERR_MEM_ALLOC;
        const int id = d.nextOverlay++;
        ibsim::OverlayQuad q;
        q.id = id;
        std::copy(c, c + 8, q.c);
        q.width = lineWidth;
        q.colour = lineColor & 0xFFFFFFu;
        d.quads[id] = q;
        *pOverlayHandle = id;
        s.refreshDisplay(d);
        return IBSU_STATUS_OK;
    });
}

int IBSU_AddOverlayQuadrangle(int handle, int* pOverlayHandle, int x1, int y1, int x2, int y2,
                              int x3, int y3, int x4, int y4, int lineWidth, uint32_t lineColor) {
    const int r = impl_IBSU_AddOverlayQuadrangle(handle, pOverlayHandle, x1, y1, x2, y2, x3, y3, x4,
                                                 y4, lineWidth, lineColor);
    if (ibsim::log::enabled())
        ibsim::log::call(
            "IBSU_AddOverlayQuadrangle",
            {ibsim::log::arg("handle", handle),
             r >= 0 && pOverlayHandle ? ibsim::log::arg("pOverlayHandle", *pOverlayHandle)
                                      : std::string(),
             ibsim::log::arg("x1", x1), ibsim::log::arg("y1", y1), ibsim::log::arg("x2", x2),
             ibsim::log::arg("y2", y2), ibsim::log::arg("x3", x3), ibsim::log::arg("y3", y3),
             ibsim::log::arg("x4", x4), ibsim::log::arg("y4", y4),
             ibsim::log::arg("lineWidth", lineWidth), ibsim::log::arg("lineColor", lineColor)},
            r);
    return r;
}

static int impl_IBSU_ModifyOverlayQuadrangle(int handle, int overlayHandle, int x1, int y1, int x2,
                                             int y2, int x3, int y3, int x4, int y4, int lineWidth,
                                             uint32_t lineColor) {
    const int c[8] = {x1, y1, x2, y2, x3, y3, x4, y4};
    if (int e = checkQuad(c, lineWidth))
        return e;
    return withDevice(handle, [&](Sim& s, ibsim::Device& d) {
        auto it = d.quads.find(overlayHandle);
        if (it == d.quads.end())
            return IBSU_ERR_INVALID_PARAM_VALUE;
        std::copy(c, c + 8, it->second.c);
        it->second.width = lineWidth;
        it->second.colour = lineColor & 0xFFFFFFu;
        s.refreshDisplay(d);
        return IBSU_STATUS_OK;
    });
}

int IBSU_ModifyOverlayQuadrangle(int handle, int overlayHandle, int x1, int y1, int x2, int y2,
                                 int x3, int y3, int x4, int y4, int lineWidth,
                                 uint32_t lineColor) {
    const int r = impl_IBSU_ModifyOverlayQuadrangle(handle, overlayHandle, x1, y1, x2, y2, x3, y3,
                                                    x4, y4, lineWidth, lineColor);
    if (ibsim::log::enabled())
        ibsim::log::call(
            "IBSU_ModifyOverlayQuadrangle",
            {ibsim::log::arg("handle", handle), ibsim::log::arg("overlayHandle", overlayHandle),
             ibsim::log::arg("x1", x1), ibsim::log::arg("y1", y1), ibsim::log::arg("x2", x2),
             ibsim::log::arg("y2", y2), ibsim::log::arg("x3", x3), ibsim::log::arg("y3", y3),
             ibsim::log::arg("x4", x4), ibsim::log::arg("y4", y4),
             ibsim::log::arg("lineWidth", lineWidth), ibsim::log::arg("lineColor", lineColor)},
            r);
    return r;
}

// The log line of a property read: handle, property and, when the read succeeded, the value.
static int logPropertyRead(const char* call, int handle, int propertyId, const char* value, int r) {
    if (ibsim::log::enabled())
        ibsim::log::call(call,
                         {ibsim::log::arg("handle", handle),
                          ibsim::log::arg("propertyId", propertyId),
                          r >= 0 && value ? ibsim::log::arg("value", value) : std::string()},
                         r);
    return r;
}

static int impl_IBSU_GetClientWindowProperty(int handle, int propertyId, char* value) {
    if (!value)
        return IBSU_ERR_INVALID_PARAM_VALUE;
    return withDevice(handle, [&](Sim& s, ibsim::Device& d) {
        if (const int r = Sim::scriptedResult(*d.sc, "window_property_result"); r < 0)
            return r;
        double scale = 0;
        int left = 0, top = 0;
        s.windowGeometry(d, scale, left, top);
        std::string v;
        switch (propertyId) {
        case IBSU_WINDOW_PROPERTY_BK_COLOR:
            v = std::to_string(d.background);
            break;
        case IBSU_WINDOW_PROPERTY_ROLL_GUIDE_LINE:
            v = d.rollGuide ? "TRUE" : "FALSE";
            break;
        case IBSU_WINDOW_PROPERTY_DISP_INVALID_AREA:
            v = d.invalidArea ? "TRUE" : "FALSE";
            break;
        case IBSU_WINDOW_PROPERTY_SCALE_FACTOR:
            v = ibsim::formatScale(scale);
            break;
        case IBSU_WINDOW_PROPERTY_LEFT_MARGIN:
            v = std::to_string(left);
            break;
        case IBSU_WINDOW_PROPERTY_TOP_MARGIN:
            v = std::to_string(top);
            break;
        case IBSU_WINDOW_PROPERTY_IMAGE_WIDTH:
            v = std::to_string(d.imageWidth);
            break;
        case IBSU_WINDOW_PROPERTY_IMAGE_HEIGHT:
            v = std::to_string(d.imageHeight);
            break;
        default:
            return IBSU_ERR_INVALID_PARAM_VALUE;
        }
        ibsim::copyText(value, IBSU_PROPERTY_BUFFER_SIZE, v);
        return IBSU_STATUS_OK;
    });
}

int IBSU_GetClientWindowProperty(int handle, int propertyId, char* value) {
    return logPropertyRead("IBSU_GetClientWindowProperty", handle, propertyId, value,
                           impl_IBSU_GetClientWindowProperty(handle, propertyId, value));
}

static int impl_IBSU_SetClientDisplayProperty(int handle, int propertyId, const char* value) {
    if (!validText(value, IBSU_MAX_STR_LEN))
        return IBSU_ERR_INVALID_PARAM_VALUE;
    return withDevice(handle, [&](Sim& s, ibsim::Device& d) {
        bool flag = false;
        switch (propertyId) {
        case IBSU_WINDOW_PROPERTY_BK_COLOR: {
            int c = 0;
            if (!ibsim::parseInt(value, 0, 0xFFFFFF, c))
                return IBSU_ERR_INVALID_PARAM_VALUE;
            d.background = static_cast<uint32_t>(c);
            break;
        }
        case IBSU_WINDOW_PROPERTY_ROLL_GUIDE_LINE:
        case IBSU_WINDOW_PROPERTY_DISP_INVALID_AREA:
            if (!ibsim::isTrue(value, flag))
                return IBSU_ERR_INVALID_PARAM_VALUE;
            (propertyId == IBSU_WINDOW_PROPERTY_ROLL_GUIDE_LINE ? d.rollGuide : d.invalidArea) =
                flag;
            break;
        case IBSU_WINDOW_PROPERTY_SCALE_FACTOR:
        case IBSU_WINDOW_PROPERTY_LEFT_MARGIN:
        case IBSU_WINDOW_PROPERTY_TOP_MARGIN:
        case IBSU_WINDOW_PROPERTY_IMAGE_WIDTH:
        case IBSU_WINDOW_PROPERTY_IMAGE_HEIGHT:
            return IBSU_ERR_NOT_SUPPORTED;
        default:
            return IBSU_ERR_INVALID_PARAM_VALUE;
        }
        s.refreshDisplay(d);
        return IBSU_STATUS_OK;
    });
}

int IBSU_SetClientDisplayProperty(int handle, int propertyId, const char* value) {
    const int r = impl_IBSU_SetClientDisplayProperty(handle, propertyId, value);
    if (ibsim::log::enabled())
        ibsim::log::call("IBSU_SetClientDisplayProperty",
                         {ibsim::log::arg("handle", handle),
                          ibsim::log::arg("propertyId", propertyId),
                          ibsim::log::arg("value", value)},
                         r);
    return r;
}

static int impl_IBSU_SetProperty(int handle, int propertyId, const char* value) {
    if (!validText(value, IBSU_MAX_STR_LEN))
        return IBSU_ERR_INVALID_PARAM_VALUE;
    return withDevice(handle, [&](Sim&, ibsim::Device& d) {
        bool flag = false;
        switch (propertyId) {
        case IBSU_PROPERTY_PRODUCT_ID:
        case IBSU_PROPERTY_SERIAL_NUMBER:
        case IBSU_PROPERTY_FIRMWARE:
            return IBSU_ERR_NOT_SUPPORTED;
        case IBSU_PROPERTY_ENABLE_WET_FINGER:
        case IBSU_PROPERTY_ENABLE_SMEAR:
            if (!ibsim::isTrue(value, flag))
                return IBSU_ERR_INVALID_PARAM_VALUE;
            (propertyId == IBSU_PROPERTY_ENABLE_SMEAR ? d.smear : d.wetFinger) = flag;
            return IBSU_STATUS_OK;
        case IBSU_PROPERTY_SMEAR_LEVEL: {
            int level = 0;
            if (!ibsim::parseInt(value, 0, 2, level))
                return IBSU_ERR_INVALID_PARAM_VALUE;
            d.smearLevel = level;
            return IBSU_STATUS_OK;
        }
        default:
            return IBSU_ERR_INVALID_PARAM_VALUE;
        }
    });
}

int IBSU_SetProperty(int handle, int propertyId, const char* value) {
    const int r = impl_IBSU_SetProperty(handle, propertyId, value);
    if (ibsim::log::enabled())
        ibsim::log::call("IBSU_SetProperty",
                         {ibsim::log::arg("handle", handle),
                          ibsim::log::arg("propertyId", propertyId),
                          ibsim::log::arg("value", value)},
                         r);
    return r;
}

static int impl_IBSU_GetProperty(int handle, int propertyId, char* value) {
    if (!value)
        return IBSU_ERR_INVALID_PARAM_VALUE;
    return withDevice(handle, [&](Sim&, ibsim::Device& d) {
        if (const int r = Sim::scriptedResult(*d.sc, "property_result"); r < 0)
            return r;
        std::string v;
        switch (propertyId) {
        case IBSU_PROPERTY_PRODUCT_ID:
            v = d.sc->script.model;
            break;
        case IBSU_PROPERTY_SERIAL_NUMBER:
            v = d.sc->script.serial;
            break;
        case IBSU_PROPERTY_FIRMWARE:
            v = d.sc->script.firmware;
            break;
        case IBSU_PROPERTY_ENABLE_WET_FINGER:
            v = d.wetFinger ? "TRUE" : "FALSE";
            break;
        case IBSU_PROPERTY_ENABLE_SMEAR:
            v = d.smear ? "1" : "0";
            break;
        case IBSU_PROPERTY_SMEAR_LEVEL:
            v = std::to_string(d.smearLevel);
            break;
        default:
            return IBSU_ERR_INVALID_PARAM_VALUE;
        }
        ibsim::copyText(value, IBSU_PROPERTY_BUFFER_SIZE, v);
        return IBSU_STATUS_OK;
    });
}

int IBSU_GetProperty(int handle, int propertyId, char* value) {
    return logPropertyRead("IBSU_GetProperty", handle, propertyId, value,
                           impl_IBSU_GetProperty(handle, propertyId, value));
}

static int impl_IBSU_IsCaptureAvailable(int handle, int imageType, int resolution,
                                        int* pIsAvailable) {
    if (!pIsAvailable)
        return IBSU_ERR_INVALID_PARAM_VALUE;
    return withDevice(handle, [&](Sim&, ibsim::Device& d) {
        *pIsAvailable =
            (resolution == IBSU_RESOLUTION_500 && Sim::available(*d.sc, imageType)) ? 1 : 0;
        return IBSU_STATUS_OK;
    });
}

int IBSU_IsCaptureAvailable(int handle, int imageType, int resolution, int* pIsAvailable) {
    const int r = impl_IBSU_IsCaptureAvailable(handle, imageType, resolution, pIsAvailable);
    if (ibsim::log::enabled())
        ibsim::log::call("IBSU_IsCaptureAvailable",
                         {ibsim::log::arg("handle", handle),
                          ibsim::log::arg("imageType", imageType),
                          ibsim::log::arg("resolution", resolution),
                          r >= 0 && pIsAvailable ? ibsim::log::arg("pIsAvailable", *pIsAvailable)
                                                 : std::string()},
                         r);
    return r;
}

static int impl_IBSU_BeginCaptureImage(int handle, int imageType, int resolution,
                                       int captureOptions) {
    return Sim::get().begin(handle, imageType, resolution, captureOptions);
}

int IBSU_BeginCaptureImage(int handle, int imageType, int resolution, int captureOptions) {
    const int r = impl_IBSU_BeginCaptureImage(handle, imageType, resolution, captureOptions);
    if (ibsim::log::enabled())
        ibsim::log::call("IBSU_BeginCaptureImage",
                         {ibsim::log::arg("handle", handle),
                          ibsim::log::arg("imageType", imageType),
                          ibsim::log::arg("resolution", resolution),
                          ibsim::log::arg("captureOptions", captureOptions)},
                         r);
    return r;
}

static int impl_IBSU_IsCaptureActive(int handle, int* pIsActive) {
    if (!pIsActive)
        return IBSU_ERR_INVALID_PARAM_VALUE;
    return withDevice(handle, [&](Sim&, ibsim::Device& d) {
        *pIsActive = d.capturing ? 1 : 0;
        return IBSU_STATUS_OK;
    });
}

int IBSU_IsCaptureActive(int handle, int* pIsActive) {
    const int r = impl_IBSU_IsCaptureActive(handle, pIsActive);
    if (ibsim::log::enabled())
        ibsim::log::call(
            "IBSU_IsCaptureActive",
            {ibsim::log::arg("handle", handle),
             r >= 0 && pIsActive ? ibsim::log::arg("pIsActive", *pIsActive) : std::string()},
            r);
    return r;
}

static int impl_IBSU_TakeResultImageManually(int handle) {
    return withDevice(handle, [&](Sim& s, ibsim::Device& d) {
        if (!d.capturing)
            return IBSU_ERR_CAPTURE_NOT_RUNNING;
        if (const int r = Sim::scriptedResult(*d.sc, "take_result"); r < 0)
            return r;
        s.takeResult(d);
        return IBSU_STATUS_OK;
    });
}

int IBSU_TakeResultImageManually(int handle) {
    const int r = impl_IBSU_TakeResultImageManually(handle);
    if (ibsim::log::enabled())
        ibsim::log::call("IBSU_TakeResultImageManually", {ibsim::log::arg("handle", handle)}, r);
    return r;
}

static int impl_IBSU_CancelCaptureImage(int handle) {
    return withDevice(handle, [&](Sim& s, ibsim::Device& d) {
        if (!d.capturing)
            return IBSU_ERR_CAPTURE_NOT_RUNNING;
        if (const int r = Sim::scriptedResult(*d.sc, "cancel_result"); r < 0)
            return r;
        s.cancel(d);
        return IBSU_STATUS_OK;
    });
}

int IBSU_CancelCaptureImage(int handle) {
    const int r = impl_IBSU_CancelCaptureImage(handle);
    if (ibsim::log::enabled())
        ibsim::log::call("IBSU_CancelCaptureImage", {ibsim::log::arg("handle", handle)}, r);
    return r;
}

static int impl_IBSU_SetLEDs(int handle, uint32_t activeLEDs) {
    return withDevice(handle, [&](Sim&, ibsim::Device& d) {
        if (const int r = Sim::scriptedResult(*d.sc, "leds_result"); r < 0)
            return r;
        d.sc->leds = activeLEDs;
        ++d.sc->ledSets;
        return IBSU_STATUS_OK;
    });
}

int IBSU_SetLEDs(int handle, uint32_t activeLEDs) {
    const int r = impl_IBSU_SetLEDs(handle, activeLEDs);
    if (ibsim::log::enabled())
        ibsim::log::call(
            "IBSU_SetLEDs",
            {ibsim::log::arg("handle", handle), ibsim::log::arg("activeLEDs", activeLEDs)}, r);
    return r;
}

static int impl_IBSU_SetContrast(int handle, int contrastValue) {
    if (contrastValue < IBSU_MIN_CONTRAST_VALUE || contrastValue > IBSU_MAX_CONTRAST_VALUE)
        return IBSU_ERR_INVALID_PARAM_VALUE;
    return withDevice(handle, [&](Sim&, ibsim::Device& d) {
        if (const int r = Sim::scriptedResult(*d.sc, "contrast_result"); r < 0)
            return r;
        d.sc->contrast = contrastValue;
        return IBSU_STATUS_OK;
    });
}

int IBSU_SetContrast(int handle, int contrastValue) {
    const int r = impl_IBSU_SetContrast(handle, contrastValue);
    if (ibsim::log::enabled())
        ibsim::log::call(
            "IBSU_SetContrast",
            {ibsim::log::arg("handle", handle), ibsim::log::arg("contrastValue", contrastValue)},
            r);
    return r;
}

static int impl_IBSU_SaveBitmapImage(const char* filePath, const uint8_t* pImage, uint32_t width,
                                     uint32_t height, int pitch, double resX, double resY) {
    return ibsim::writeBmp8(filePath, pImage, width, height, pitch, resX, resY);
}

int IBSU_SaveBitmapImage(const char* filePath, const uint8_t* pImage, uint32_t width,
                         uint32_t height, int pitch, double resX, double resY) {
    const int r = impl_IBSU_SaveBitmapImage(filePath, pImage, width, height, pitch, resX, resY);
    if (ibsim::log::enabled())
        ibsim::log::call("IBSU_SaveBitmapImage",
                         {ibsim::log::arg("filePath", filePath),
                          ibsim::log::arg("pImage", static_cast<const void*>(pImage)),
                          ibsim::log::arg("width", width), ibsim::log::arg("height", height),
                          ibsim::log::arg("pitch", pitch), ibsim::log::arg("resX", resX),
                          ibsim::log::arg("resY", resY)},
                         r);
    return r;
}

static int impl_IBSU_GetNFIQScore(int handle, const uint8_t* imgBuffer, uint32_t width,
                                  uint32_t height, uint8_t bitsPerPixel, int* pScore) {
    if (!imgBuffer || !pScore || bitsPerPixel != 8 || width == 0 || height == 0 ||
        width > IBSU_MAX_IMAGE_SIDE || height > IBSU_MAX_IMAGE_SIDE)
        return IBSU_ERR_INVALID_PARAM_VALUE;
    {
        Sim& s = Sim::get();
        std::lock_guard lk(s.m);
        int err = 0;
        if (!s.device(handle, err))
            return err;
    }
    // Scored outside the simulator's lock: scoring is slow.
    return ibsim::nfiqScore(imgBuffer, static_cast<int>(width), static_cast<int>(height), pScore);
}

int IBSU_GetNFIQScore(int handle, const uint8_t* imgBuffer, uint32_t width, uint32_t height,
                      uint8_t bitsPerPixel, int* pScore) {
    const int r = impl_IBSU_GetNFIQScore(handle, imgBuffer, width, height, bitsPerPixel, pScore);
    if (ibsim::log::enabled())
        ibsim::log::call("IBSU_GetNFIQScore",
                         {ibsim::log::arg("handle", handle),
                          ibsim::log::arg("imgBuffer", static_cast<const void*>(imgBuffer)),
                          ibsim::log::arg("width", width), ibsim::log::arg("height", height),
                          ibsim::log::arg("bitsPerPixel", static_cast<int>(bitsPerPixel)),
                          r >= 0 && pScore ? ibsim::log::arg("pScore", *pScore) : std::string()},
                         r);
    return r;
}

const char* IBSU_GetErrorString(int code) {
    switch (code) {
    case IBSU_STATUS_OK:
        return "success";
    case IBSU_ERR_COMMAND_FAILED:
        return "command failed";
    case IBSU_ERR_INVALID_PARAM_VALUE:
        return "invalid parameter value";
    case IBSU_ERR_MEM_ALLOC:
        return "out of memory or too many objects";
    case IBSU_ERR_NOT_SUPPORTED:
        return "not supported";
    case IBSU_ERR_FILE_OPEN:
        return "file could not be written";
    case IBSU_ERR_RESOURCE_LOCKED:
        return "device busy, try again";
    case IBSU_ERR_DEVICE_IO:
        return "device input/output failed";
    case IBSU_ERR_DEVICE_NOT_FOUND:
        return "device not found";
    case IBSU_ERR_DEVICE_NOT_OPENED:
        return "device not opened";
    case IBSU_ERR_DEVICE_ACTIVE:
        return "device in use by another thread or process";
    case IBSU_ERR_DEVICE_LOST:
        return "device lost";
    case IBSU_ERR_DEVICE_INVALID_STATE:
        return "not allowed in this state";
    case IBSU_ERR_DEVICE_NEEDS_USB20:
        return "device needs a USB 2.0 port";
    case IBSU_ERR_CAPTURE_STILL_RUNNING:
        return "capture still running";
    case IBSU_ERR_CAPTURE_NOT_RUNNING:
        return "no capture running";
    case IBSU_ERR_CAPTURE_INVALID_MODE:
        return "capture mode not available";
    case IBSU_ERR_CAPTURE_NO_FINGER:
        return "no finger on the platen";
    case IBSU_ERR_CAPTURE_FAILED:
        return "capture failed";
    case IBSU_ERR_NFIQ_UNAVAILABLE:
        return "NFIQ library not available";
    case IBSU_ERR_NFIQ_FAILED:
        return "NFIQ scoring failed";
    default:
        return code > 0 ? "warning" : "unknown error";
    }
}

} // extern "C"
