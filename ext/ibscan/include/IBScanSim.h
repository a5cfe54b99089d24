/*
 * Control interface of the scanner simulator inside libIBScanUltimate.so (C linkage).
 *
 * Tests, demos and training tools use it in-process to play the scanner's part: attach
 * and detach scanners, place and lift fingers, dirty the platen, force the answers of
 * open, close, begin and result, and read back what the host asked of the scanner (LEDs,
 * contrast, overlays, capture options).
 *
 * Scanners are named here by a scanner id (>= 1), stable while the scanner is attached
 * and unrelated to the SDK's device index (which shifts as scanners come and go) and to
 * its device handle (valid only while open).
 *
 * Clock modes
 * - IBSIM_CLOCK_REALTIME: timed actions (attach/detach times, open delay, finger arrival,
 *   automatic capture) follow the steady clock, and preview images repeat every 100 ms
 *   while a finger lies on the platen. The default.
 * - IBSIM_CLOCK_MANUAL: for tests. Time stands still until IBSIM_AdvanceTime; opening
 *   takes no time; previews are raised only when the platen changes. Events are still
 *   delivered on the library's event thread: call IBSIM_WaitIdle before checking them.
 * - IBSIM_CLOCK_IMMEDIATE: every timed action runs as soon as nothing else is pending,
 *   in time order (fastest mode, for benchmarks and demos).
 *
 * All functions return IBSU_STATUS_OK or a negative IBSU_ERR_* code of
 * IBScanUltimateApi.h; an unknown scanner id gives IBSU_ERR_DEVICE_NOT_FOUND.
 */
#ifndef IBSCANSIM_H
#define IBSCANSIM_H

#include "IBScanUltimateApi.h"

#ifdef __cplusplus
extern "C" {
#endif

enum IBSIM_ClockMode {
    IBSIM_CLOCK_REALTIME = 0,
    IBSIM_CLOCK_MANUAL = 1,
    IBSIM_CLOCK_IMMEDIATE = 2
};

/* Environment variable naming the scenario file read when the library is first used. */
#define IBSIM_SCENARIO_ENV "IBSCAN_SIM_SCENARIO"

/* Environment variable naming the event log: one line per API call and per event raised
 * (format in ext/ibscan/README.md). Read when the log is first written. */
#define IBSIM_LOG_ENV "IBSCAN_SIM_LOG"

/* "0" turns off the control socket through which the scannersim tool acts as the person
 * at the scanner from outside the process (tools/scannersim/README.md). */
#define IBSIM_CONTROL_ENV "IBSCAN_SIM_CONTROL"

/* Replaces the whole simulator state by a scenario given as text (format in
 * ext/ibscan/README.md): closes every device without events, forgets every handler and
 * timed action, restarts the clock at 0. A null text loads the built-in default (one
 * WATSON scanner whose captures complete by themselves). On a syntax error the state is
 * empty (no scanners), the result is IBSU_ERR_INVALID_PARAM_VALUE and *pErrorLine (when
 * not null) is the 1-based line at fault. Must not be called from an event handler. */
IBSU_API int IBSIM_Reset(const char* scenarioText, int* pErrorLine);

/* Same as IBSIM_Reset with the contents of a file (IBSU_ERR_FILE_OPEN when unreadable). */
IBSU_API int IBSIM_LoadScenarioFile(const char* path, int* pErrorLine);

/* What was wrong with the last scenario that failed to load: "line N: <what is wrong>;
 * expected <what>" (empty after a scenario that loaded). Cut to textSize-1 bytes. */
IBSU_API int IBSIM_GetScenarioError(char* text, int textSize);

/* Clock control. IBSIM_AdvanceTime runs, in time order, every action due within the next
 * ms milliseconds (manual clock only; IBSU_ERR_DEVICE_INVALID_STATE otherwise). */
IBSU_API int IBSIM_SetClock(int clockMode);
IBSU_API int IBSIM_AdvanceTime(int ms);
IBSU_API int IBSIM_GetTime(int64_t* pMs);

/* Waits until every event raised so far has been delivered and no handler runs (and, with
 * the immediate clock, until no timed action is left). Refused inside a handler. Call it
 * (and IBSIM_Reset, which waits for a running handler) only from a thread that no handler
 * waits for: a handler blocked on the caller would never return. */
IBSU_API int IBSIM_WaitIdle(void);

/* Attaches a scanner now (IBSU_EVENT_DEVICE_COUNT follows) and returns its id. Null texts
 * give defaults: model "WATSON", serial from the id, firmware "1.0.0". */
IBSU_API int IBSIM_AttachScanner(const char* model, const char* serial, const char* firmware,
                                 int* pScannerId);

/* Detaches (unplugs) a scanner: an open device of it gets IBSU_EVENT_COMMUNICATION_BREAK,
 * then every listener gets IBSU_EVENT_DEVICE_COUNT. Its handle then answers every call
 * with IBSU_ERR_DEVICE_LOST except IBSU_CloseDevice. */
IBSU_API int IBSIM_DetachScanner(int scannerId);

/* Handle of the scanner's open device, or -1 when it is not open. */
IBSU_API int IBSIM_GetScannerHandle(int scannerId, int* pHandle);

/* Places a finger (or updates its qualities): count (0 .. IBSU_MAX_QUALITIES) values of
 * IBSU_FingerQuality, passed on as they are, so that more than four places or values out
 * of range can be tested. count 0 keeps the qualities of the capture's script. During a capture
 * this raises the finger-arrival events; with automatic capture the result follows once the finger
 * has lain still for the scanner's stable time (IBSIM_CompleteCapture skips the wait), except
 * in a rolled capture, which lasts until the finger is lifted. */
IBSU_API int IBSIM_PlaceFinger(int scannerId, const int* qualities, int count);

/* Lifts the finger. A rolled capture with automatic capture completes on lifting. */
IBSU_API int IBSIM_LiftFinger(int scannerId);

/* Finger-count state reported while a finger lies on the platen (default OK). */
IBSU_API int IBSIM_SetFingerCountState(int scannerId, int state);

/* Something left on the platen (dirty != 0) or cleaned (0). A capture that begins with a
 * dirty platen raises IBSU_EVENT_PLATEN "has fingers" and waits; cleaning raises "clear". */
IBSU_API int IBSIM_SetPlatenDirty(int scannerId, int dirty);

/* The finger has lain still long enough: with automatic capture the result follows now. */
IBSU_API int IBSIM_CompleteCapture(int scannerId);

/* A key on the scanner is pressed: IBSU_EVENT_KEY_BUTTON with the button id. */
IBSU_API int IBSIM_PressKey(int scannerId, int buttonId);

/* Forces the next result: its status, detected finger count and segment count (-1 for
 * either count keeps the scanner's default). Applies to one result. */
IBSU_API int IBSIM_ForceResult(int scannerId, int status, int fingerCount, int segmentCount);

/* Forces the answer of the next IBSU_OpenDevice (0, a warning, or an error). */
IBSU_API int IBSIM_ForceOpenResult(int scannerId, int result);

/* The next `times` calls of IBSU_CloseDevice answer IBSU_ERR_RESOURCE_LOCKED (-6). */
IBSU_API int IBSIM_ForceCloseBusy(int scannerId, int times);

/* Forces the answer of the next IBSU_BeginCaptureImage (an error stops the capture). */
IBSU_API int IBSIM_ForceBeginResult(int scannerId, int result);

/* Where the scanner's prints come from: an 8-bit BMP file, or (null path) the built-in
 * print renderer with the given seed. */
IBSU_API int IBSIM_SetImageSource(int scannerId, const char* bmpPath, unsigned seed);

/* ---- Read-back of what the host asked of the scanner ---- */

/* Last LED mask and how many times IBSU_SetLEDs was called on the scanner. */
IBSU_API int IBSIM_GetLEDs(int scannerId, uint32_t* pMask, int* pSetCount);

IBSU_API int IBSIM_GetContrast(int scannerId, int* pContrast);

/* Arguments of the last accepted IBSU_BeginCaptureImage (all 0 before any). */
IBSU_API int IBSIM_GetLastCapture(int scannerId, int* pImageType, int* pResolution, int* pOptions);

/* An overlay text of the open device: overlayHandle 0 is the client window's own text.
 * text receives up to textSize-1 bytes; font needs IBSU_PROPERTY_BUFFER_SIZE bytes. Any
 * output pointer may be null. */
IBSU_API int IBSIM_GetOverlayText(int scannerId, int overlayHandle, char* text, int textSize,
                                  char* font, int* pFontSize, int* pBold, int* pX, int* pY,
                                  uint32_t* pColor);

/* An overlay quadrangle of the open device: coords receives x1, y1 .. x4, y4. */
IBSU_API int IBSIM_GetOverlayQuadrangle(int scannerId, int overlayHandle, int coords[8],
                                        int* pLineWidth, uint32_t* pColor);

/* The host widget and rectangle given to IBSU_CreateClientWindow (null and zeros before). */
IBSU_API int IBSIM_GetClientWindow(int scannerId, IBSU_WindowHandle* pWindow, int rect[4]);

/* Where IBSU_GetNFIQScore looks for the quality library: a full file path, or null for
 * the usual search. Unloads a library loaded before. */
IBSU_API int IBSIM_SetNfiqLibrary(const char* path);

/* The built-in print renderer: an 8-bit grey print (ridges dark on a white ground) of
 * w x h pixels, rows top-down, contiguous. Same seed, same picture. */
IBSU_API void ibsim_render_print(unsigned seed, int w, int h, uint8_t* pixels);

#ifdef __cplusplus
}
#endif

#endif /* IBSCANSIM_H */
