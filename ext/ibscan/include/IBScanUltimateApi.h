/*
 * IBScanUltimate-compatible scanner API (C linkage).
 *
 * libIBScanUltimate.so implements this API on top of a scanner simulator (see
 * IBScanSim.h and ext/ibscan/README.md). The capture window of the station talks to
 * scanners only through these calls and events.
 *
 * General rules
 * - Every call returns an int: IBSU_STATUS_OK (0) on success, a positive IBSU_WRN_*
 *   warning (the call did its work, with a remark), or a negative IBSU_ERR_* error (the
 *   call did nothing).
 * - Every call is thread-safe and may be made from any thread, including from inside an
 *   event handler. No call waits for the GUI thread. Only IBSU_OpenDevice waits for the
 *   event thread (until its progress events have been handled; not when it is called from
 *   a handler), so a handler must not wait for a thread that is opening a device.
 * - Device handles are positive integers (>= 1) returned by IBSU_OpenDevice; a handle is
 *   never reused while the library is loaded. The value 0 means "library-wide" where a
 *   call accepts it (IBSU_RegisterCallbacks for the device-count and init-progress events).
 * - Strings are zero-terminated UTF-8 (ASCII in practice).
 *
 * Events
 * - Handlers are called on the library's own event thread, never on the thread that made
 *   a call and never on the GUI thread. Handlers are called one at a time, in the order
 *   the scanner produced the events; a slow handler delays later events but loses none.
 * - A handler may call any function of this API. It must not wait for the GUI thread
 *   (post to it instead), or events stop until it returns.
 * - Image data passed to a handler (IBSU_ImageData::Buffer, segment images, quadrangle
 *   and quality arrays) is valid only until the handler returns: copy what you keep.
 * - Events of a device stop once IBSU_CloseDevice succeeded, the capture was cancelled, or
 *   the scanner was lost; an event whose delivery had already begun still completes.
 *
 * Platform choices of this implementation (Linux, 64-bit)
 * - IBSU_WindowHandle is the address of a QWidget of the host program (Qt 6). The library
 *   creates a child widget inside it, on the host widget's (GUI) thread by queued
 *   invocation, and draws the live preview there: the last preview image scaled into the
 *   client rectangle, centred, with the overlay texts and quadrangles on top. The host
 *   widget must outlive the open device, or be destroyed only on the GUI thread (the child
 *   then goes with it and the library stops drawing).
 * - IBSU_ImageData is 64 bytes. Its pixel address is 8 bytes wide here, so width and
 *   height sit at offsets 8 and 12 (a 32-bit build would have them at 4 and 8);
 *   resolutions (16, 24), pitch (40) and bits per pixel (44) are at the same offsets on
 *   both. The layout is checked by tests.
 * - Colours are 0x00BBGGRR values; IBSU_RGB(r, g, b) builds one.
 * - Close every device (and register null handlers for the library-wide kinds 0 and 8)
 *   before the QApplication and the handlers' contexts go away: the library keeps running
 *   until the process ends and may still raise device-count events.
 */
#ifndef IBSCANULTIMATEAPI_H
#define IBSCANULTIMATEAPI_H

#include <stdint.h>

#if defined(__GNUC__)
#define IBSU_API __attribute__((visibility("default")))
#else
#define IBSU_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Result codes ------------------------------------------------------------------- */

#define IBSU_STATUS_OK 0

/* General errors. */
#define IBSU_ERR_COMMAND_FAILED (-1)      /* internal failure */
#define IBSU_ERR_INVALID_PARAM_VALUE (-2) /* null pointer, value out of range, bad text */
#define IBSU_ERR_MEM_ALLOC (-3)           /* out of memory or too many objects */
#define IBSU_ERR_NOT_SUPPORTED (-4)       /* property or mode not supported (read-only id) */
#define IBSU_ERR_FILE_OPEN (-5)           /* file could not be created or written */
#define IBSU_ERR_RESOURCE_LOCKED (-6)     /* device busy: try the same call again later */

/* Device errors. */
#define IBSU_ERR_DEVICE_IO (-200)            /* the scanner failed to answer */
#define IBSU_ERR_DEVICE_NOT_FOUND (-201)     /* no scanner at that device index */
#define IBSU_ERR_DEVICE_NOT_OPENED (-202)    /* handle is not an open device */
#define IBSU_ERR_DEVICE_ACTIVE (-203)        /* in use by another thread or process */
#define IBSU_ERR_DEVICE_LOST (-204)          /* the scanner was unplugged; close it */
#define IBSU_ERR_DEVICE_INVALID_STATE (-205) /* call not allowed in this state */
#define IBSU_ERR_DEVICE_NEEDS_USB20 (-209)   /* the scanner needs a USB 2.0 port */

/* Capture errors. */
#define IBSU_ERR_CAPTURE_STILL_RUNNING (-300) /* a capture is already running */
#define IBSU_ERR_CAPTURE_NOT_RUNNING (-301)   /* no capture is running */
#define IBSU_ERR_CAPTURE_INVALID_MODE (-302)  /* image type not available on this scanner */
#define IBSU_ERR_CAPTURE_NO_FINGER (-303)     /* result status: nothing on the platen */
#define IBSU_ERR_CAPTURE_FAILED (-304)        /* result status: the capture went wrong */

/* Quality library errors (IBSU_GetNFIQScore). */
#define IBSU_ERR_NFIQ_UNAVAILABLE (-400) /* libGBNFIQ.so or its entry point is missing */
#define IBSU_ERR_NFIQ_FAILED (-401)      /* the library refused the image */

/* Warnings (positive). */
#define IBSU_WRN_ALREADY_INITIALIZED 1    /* open: the scanner was opened with a remark */
#define IBSU_WRN_OLD_FIRMWARE 2           /* open: firmware older than the SDK expects */
#define IBSU_WRN_QUALITY_INVALID_AREA 100 /* result: a finger touches the platen edge */
#define IBSU_WRN_WET_FINGERS 101          /* result: finger too wet */
#define IBSU_WRN_INCORRECT_FINGERS 102    /* result: finger count differs from expected */
#define IBSU_WRN_ROLLING_SMEAR 103        /* result: smear detected while rolling */

/* ---- Sizes and limits ---------------------------------------------------------------- */

#define IBSU_MAX_STR_LEN 128          /* characters of a text field, without the zero */
#define IBSU_PROPERTY_BUFFER_SIZE 129 /* minimum size of a property output buffer */
#define IBSU_MAX_OVERLAY_TEXT 1024    /* longest overlay text in bytes, without the zero */
#define IBSU_MAX_OVERLAYS 64          /* overlay objects per device */
#define IBSU_MAX_SEGMENTS 16          /* most segments in a result event (scanners send <= 4) */
#define IBSU_MAX_QUALITIES 16         /* longest finger-quality array (scanners send 4) */
#define IBSU_MAX_IMAGE_SIDE 16384     /* largest width or height accepted anywhere */

/* ---- Records ------------------------------------------------------------------------- */

/* Description of an attached scanner: 648 bytes. Each text is zero-terminated. */
typedef struct IBSU_DeviceDesc {
    char serialNumber[IBSU_MAX_STR_LEN];  /* offset 0 */
    char productName[IBSU_MAX_STR_LEN];   /* offset 128: the model, e.g. "WATSON" */
    char interfaceType[IBSU_MAX_STR_LEN]; /* offset 256: "USB" */
    char fwVersion[IBSU_MAX_STR_LEN];     /* offset 384 */
    char devRevision[IBSU_MAX_STR_LEN];   /* offset 512 */
    int32_t handle;                       /* offset 640: handle when open, else -1 */
    int32_t isHandleOpened;               /* offset 644: non-zero when open here */
} IBSU_DeviceDesc;

/* Image formats of IBSU_ImageData::Format. */
enum IBSU_ImageFormat { IBSU_IMG_FORMAT_GRAY = 0 };

/* An 8-bit grey image: row y (0 = top row) starts at Buffer + y * Pitch. Pitch is positive
 * (top-down rows) for every image this library delivers; IBSU_SaveBitmapImage also accepts
 * a negative pitch (Buffer then points at the top row and rows go backwards in memory).
 * Passed by value: 64 bytes. */
typedef struct IBSU_ImageData {
    void* Buffer;          /* offset 0 */
    uint32_t Width;        /* offset 8 */
    uint32_t Height;       /* offset 12 */
    double ResolutionX;    /* offset 16: pixels per inch, 500 */
    double ResolutionY;    /* offset 24 */
    double FrameTime;      /* offset 32: seconds since the capture began */
    int32_t Pitch;         /* offset 40: bytes from one row to the next */
    uint8_t BitsPerPixel;  /* offset 44: 8 */
    uint8_t reserved1[3];  /* offset 45 */
    int32_t Format;        /* offset 48: IBSU_ImageFormat */
    int32_t IsFinal;       /* offset 52: non-zero for a result image, 0 for a preview */
    uint32_t ProcessThres; /* offset 56: unused, 0 */
    uint32_t reserved2;    /* offset 60 */
} IBSU_ImageData;

/* The four corners of one finger in whole-image pixels: 16 bytes. */
typedef struct IBSU_SegmentPosition {
    int16_t x1, y1, x2, y2, x3, y3, x4, y4;
} IBSU_SegmentPosition;

/* ---- Enumerations -------------------------------------------------------------------- */

/* Image types (capture modes). */
enum IBSU_ImageType {
    IBSU_TYPE_NONE = 0,
    IBSU_ROLL_SINGLE_FINGER = 1,
    IBSU_FLAT_SINGLE_FINGER = 2,
    IBSU_FLAT_TWO_FINGERS = 3,
    IBSU_FLAT_FOUR_FINGERS = 4
};

/* Only resolution accepted by the capture calls. */
#define IBSU_RESOLUTION_500 500

/* Options of IBSU_BeginCaptureImage (bit mask; other bits are refused). */
#define IBSU_OPTION_AUTO_CONTRAST 1
#define IBSU_OPTION_AUTO_CAPTURE 2        /* take the result when the print is stable */
#define IBSU_OPTION_IGNORE_FINGER_COUNT 4 /* auto capture does not wait for the count */

/* Event kinds for IBSU_RegisterCallbacks. The numbers are fixed. */
enum IBSU_Events {
    IBSU_EVENT_DEVICE_COUNT = 0,        /* library-wide: attached scanners changed */
    IBSU_EVENT_COMMUNICATION_BREAK = 1, /* the open scanner was lost */
    IBSU_EVENT_PREVIEW_IMAGE = 2,       /* a live image while capturing */
    IBSU_EVENT_ACQUISITION_BEGIN = 3,   /* rolled capture: the roll begins */
    IBSU_EVENT_ACQUISITION_END = 4,     /* rolled capture: the roll is complete */
    IBSU_EVENT_RESERVED_5 = 5,          /* accepted, never raised */
    IBSU_EVENT_FINGER_QUALITY = 6,      /* quality of each finger place */
    IBSU_EVENT_FINGER_COUNT = 7,        /* finger-count state */
    IBSU_EVENT_INIT_PROGRESS = 8,       /* library-wide: opening progress in per cent */
    IBSU_EVENT_PLATEN = 9,              /* platen clear or not at capture */
    IBSU_EVENT_RESERVED_10 = 10,        /* accepted, never raised */
    IBSU_EVENT_RESERVED_11 = 11,        /* accepted, never raised */
    IBSU_EVENT_RESULT_IMAGE = 12,       /* the result image with its segments */
    IBSU_EVENT_KEY_BUTTON = 13,         /* a key on the scanner was pressed */
    IBSU_EVENT_COUNT = 14
};

/* Finger quality values (IBSU_EVENT_FINGER_QUALITY array entries). */
enum IBSU_FingerQuality {
    IBSU_QUALITY_NOT_PRESENT = 0,
    IBSU_QUALITY_GOOD = 1,
    IBSU_QUALITY_FAIR = 2,
    IBSU_QUALITY_POOR = 3,
    IBSU_QUALITY_INVALID_AREA_TOP = 4,
    IBSU_QUALITY_INVALID_AREA_LEFT = 5,
    IBSU_QUALITY_INVALID_AREA_RIGHT = 6
};

/* Finger-count states (IBSU_EVENT_FINGER_COUNT). */
enum IBSU_FingerCountState {
    IBSU_FINGER_COUNT_OK = 0,
    IBSU_TOO_MANY_FINGERS = 1,
    IBSU_TOO_FEW_FINGERS = 2,
    IBSU_NON_FINGER = 3 /* nothing, or no finger, on the platen */
};

/* Platen states (IBSU_EVENT_PLATEN). */
enum IBSU_PlatenState {
    IBSU_PLATEN_CLEARED = 0,    /* clear: the capture can proceed */
    IBSU_PLATEN_HAS_FINGERS = 1 /* something lies on the platen: lift it first */
};

/* LED bits of IBSU_SetLEDs. Each finger has a green and a red bit; lighting both shows
 * amber. Note that the red bit of the right middle finger is 0x40000000 (0x8000 is not
 * an LED). */
#define IBSU_LED_F_BLINK_GREEN 0x10000000u
#define IBSU_LED_F_BLINK_RED 0x20000000u
#define IBSU_LED_F_PROGRESS_ROLL 0x00000010u
#define IBSU_LED_F_PROGRESS_LEFT_HAND 0x00000020u
#define IBSU_LED_F_PROGRESS_TWO_THUMB 0x00000040u
#define IBSU_LED_F_PROGRESS_RIGHT_HAND 0x00000080u
#define IBSU_LED_F_RIGHT_RING_GREEN 0x00000100u
#define IBSU_LED_F_RIGHT_RING_RED 0x00000200u
#define IBSU_LED_F_RIGHT_LITTLE_GREEN 0x00000400u
#define IBSU_LED_F_RIGHT_LITTLE_RED 0x00000800u
#define IBSU_LED_F_RIGHT_INDEX_GREEN 0x00001000u
#define IBSU_LED_F_RIGHT_INDEX_RED 0x00002000u
#define IBSU_LED_F_RIGHT_MIDDLE_GREEN 0x00004000u
#define IBSU_LED_F_RIGHT_MIDDLE_RED 0x40000000u
#define IBSU_LED_F_LEFT_THUMB_GREEN 0x00010000u
#define IBSU_LED_F_LEFT_THUMB_RED 0x00020000u
#define IBSU_LED_F_RIGHT_THUMB_GREEN 0x00040000u
#define IBSU_LED_F_RIGHT_THUMB_RED 0x00080000u
#define IBSU_LED_F_LEFT_MIDDLE_GREEN 0x00100000u
#define IBSU_LED_F_LEFT_MIDDLE_RED 0x00200000u
#define IBSU_LED_F_LEFT_INDEX_GREEN 0x00400000u
#define IBSU_LED_F_LEFT_INDEX_RED 0x00800000u
#define IBSU_LED_F_LEFT_LITTLE_GREEN 0x01000000u
#define IBSU_LED_F_LEFT_LITTLE_RED 0x02000000u
#define IBSU_LED_F_LEFT_RING_GREEN 0x04000000u
#define IBSU_LED_F_LEFT_RING_RED 0x08000000u
#define IBSU_LED_NONE 0u

/* Contrast range of IBSU_SetContrast. */
#define IBSU_MIN_CONTRAST_VALUE 0
#define IBSU_MAX_CONTRAST_VALUE 34

/* Device properties (IBSU_SetProperty). Values are texts. */
enum IBSU_PropertyId {
    IBSU_PROPERTY_PRODUCT_ID = 0,         /* read-only */
    IBSU_PROPERTY_SERIAL_NUMBER = 1,      /* read-only */
    IBSU_PROPERTY_FIRMWARE = 4,           /* read-only */
    IBSU_PROPERTY_ENABLE_WET_FINGER = 17, /* "TRUE"/"FALSE" or "1"/"0" */
    IBSU_PROPERTY_ENABLE_SMEAR = 19,      /* smear detection: "1"/"0" ("TRUE"/"FALSE") */
    IBSU_PROPERTY_SMEAR_LEVEL = 20        /* "0" low, "1" medium, "2" high */
};

/* Client window properties: read with IBSU_GetClientWindowProperty, set (where not
 * read-only) with IBSU_SetClientDisplayProperty. */
enum IBSU_ClientWindowPropertyId {
    IBSU_WINDOW_PROPERTY_BK_COLOR = 0,          /* decimal 0x00BBGGRR, default white */
    IBSU_WINDOW_PROPERTY_ROLL_GUIDE_LINE = 1,   /* "TRUE"/"FALSE" */
    IBSU_WINDOW_PROPERTY_DISP_INVALID_AREA = 2, /* "TRUE"/"FALSE": mark the invalid area */
    IBSU_WINDOW_PROPERTY_SCALE_FACTOR = 3,      /* read-only: image-to-window scale, with
                                                   '.' and six decimals, e.g. "0.550400" */
    IBSU_WINDOW_PROPERTY_LEFT_MARGIN = 4,       /* read-only: x of the image's left edge */
    IBSU_WINDOW_PROPERTY_TOP_MARGIN = 5,        /* read-only: y of the image's top edge */
    IBSU_WINDOW_PROPERTY_IMAGE_WIDTH = 6,       /* read-only: image width in pixels */
    IBSU_WINDOW_PROPERTY_IMAGE_HEIGHT = 7       /* read-only: image height in pixels */
};

#define IBSU_RGB(r, g, b)                                                                          \
    ((uint32_t)(((uint32_t)(uint8_t)(r)) | ((uint32_t)(uint8_t)(g) << 8) |                         \
                ((uint32_t)(uint8_t)(b) << 16)))

typedef void* IBSU_WindowHandle; /* QWidget* of the host program */

/* ---- Event handlers ------------------------------------------------------------------ */
/* The first argument is the device handle, except for kind 0 (the new device count) and
 * kind 8 (the device index being opened: the handle does not exist yet). The second is
 * the context given at registration. */

typedef void (*IBSU_Callback)(void); /* generic type for registration; cast to it */

typedef void (*IBSU_Callback_DeviceCount)(int deviceCount, void* context);                   /* 0 */
typedef void (*IBSU_Callback_CommunicationBreak)(int handle, void* context);                 /* 1 */
typedef void (*IBSU_Callback_PreviewImage)(int handle, void* context, IBSU_ImageData image); /* 2 */
typedef void (*IBSU_Callback_AcquisitionBegin)(int handle, void* context, int imageType);    /* 3 */
typedef void (*IBSU_Callback_AcquisitionEnd)(int handle, void* context, int imageType);      /* 4 */
typedef void (*IBSU_Callback_FingerQuality)(int handle, void* context, const int* qualities,
                                            int count);                                     /* 6 */
typedef void (*IBSU_Callback_FingerCount)(int handle, void* context, int fingerCountState); /* 7 */
typedef void (*IBSU_Callback_InitProgress)(int deviceIndex, void* context,
                                           int progressValue);                    /* 8 */
typedef void (*IBSU_Callback_Platen)(int handle, void* context, int platenState); /* 9 */
typedef void (*IBSU_Callback_ResultImage)(int handle, void* context, int imageStatus,
                                          IBSU_ImageData image, int imageType,
                                          int detectedFingerCount, int segmentCount,
                                          const IBSU_ImageData* segments,
                                          const IBSU_SegmentPosition* quadrangles); /* 12 */
typedef void (*IBSU_Callback_KeyButton)(int handle, void* context, int buttonId);   /* 13 */

#define IBSU_CALLBACK(fn) ((IBSU_Callback)(fn))

/* ---- Calls --------------------------------------------------------------------------- */

/* Number of attached scanners. */
IBSU_API int IBSU_GetDeviceCount(int* deviceCount);

/* Description of the scanner at deviceIndex (0 .. count-1). */
IBSU_API int IBSU_GetDeviceDescription(int deviceIndex, IBSU_DeviceDesc* pDeviceDesc);

/* Opens the scanner at deviceIndex; slow (the scanner initialises) and reports progress
 * through IBSU_EVENT_INIT_PROGRESS while it runs, so call it off the GUI thread. On a
 * result >= 0 *pHandle is the new device handle; on an error *pHandle is -1.
 * -203: the scanner is open already (here or elsewhere); -209: it needs USB 2.0. */
IBSU_API int IBSU_OpenDevice(int deviceIndex, int* pHandle);

/* Closes an open (or lost) device: stops its capture, drops its pending events, removes
 * its client window, overlays and handlers. -6 means "busy, try again": nothing changed. */
IBSU_API int IBSU_CloseDevice(int handle);

/* Registers (or, with a null handler, removes) the handler of one event kind. Kinds 0 and
 * 8 are library-wide: pass handle 0 (an open handle is accepted too). Every other kind
 * needs an open device handle. The handler must have the signature listed above for the
 * kind; it is called with the given context. */
IBSU_API int IBSU_RegisterCallbacks(int handle, int eventKind, IBSU_Callback handler,
                                    void* context);

/* Live preview into a host widget: the rectangle (left, top, right, bottom) in the host's
 * client coordinates. Calling it again moves the preview. Non-blocking. */
IBSU_API int IBSU_CreateClientWindow(int handle, IBSU_WindowHandle hWindow, int left, int top,
                                     int right, int bottom);

/* Overlay texts, drawn over the preview at (x, y) in client-window pixels. The font is a
 * family name (e.g. "Arial"), size in points, bold non-zero for bold. An empty text draws
 * nothing. The client window also has one text of its own (IBSU_SetClientWindowOverlayText),
 * drawn beneath the overlay objects. */
IBSU_API int IBSU_AddOverlayText(int handle, int* pOverlayHandle, const char* fontName,
                                 int fontSize, int fontBold, const char* text, int posX, int posY,
                                 uint32_t textColor);
IBSU_API int IBSU_ModifyOverlayText(int handle, int overlayHandle, const char* fontName,
                                    int fontSize, int fontBold, const char* text, int posX,
                                    int posY, uint32_t textColor);
IBSU_API int IBSU_SetClientWindowOverlayText(int handle, const char* fontName, int fontSize,
                                             int fontBold, const char* text, int posX, int posY,
                                             uint32_t textColor);

/* Overlay quadrangles (closed outlines) in client-window pixels. A quadrangle whose eight
 * coordinates are all 0, or whose line width is 0, is hidden. */
IBSU_API int IBSU_AddOverlayQuadrangle(int handle, int* pOverlayHandle, int x1, int y1, int x2,
                                       int y2, int x3, int y3, int x4, int y4, int lineWidth,
                                       uint32_t lineColor);
IBSU_API int IBSU_ModifyOverlayQuadrangle(int handle, int overlayHandle, int x1, int y1, int x2,
                                          int y2, int x3, int y3, int x4, int y4, int lineWidth,
                                          uint32_t lineColor);

/* Client window properties (ids above). pPropertyValue must hold at least
 * IBSU_PROPERTY_BUFFER_SIZE bytes; the text is zero-terminated. Before
 * IBSU_CreateClientWindow the window is 0 x 0: scale "0.000000", margins "0". */
IBSU_API int IBSU_GetClientWindowProperty(int handle, int propertyId, char* pPropertyValue);
IBSU_API int IBSU_SetClientDisplayProperty(int handle, int propertyId, const char* propertyValue);

/* Device properties (ids above). */
IBSU_API int IBSU_SetProperty(int handle, int propertyId, const char* propertyValue);
IBSU_API int IBSU_GetProperty(int handle, int propertyId, char* pPropertyValue);

/* Whether the scanner can capture imageType at the resolution (500): *pIsAvailable is
 * non-zero when it can. */
IBSU_API int IBSU_IsCaptureAvailable(int handle, int imageType, int resolution, int* pIsAvailable);

/* Begins a capture. Events follow in this order (each only when registered):
 *   [9 platen "has fingers" when something lies on the platen; later 9 "clear"]
 *   2 preview, 6 qualities (all 0), 7 count state IBSU_NON_FINGER;
 *   when the finger arrives: 7 count state, [3 acquisition begin for rolled], 6 qualities,
 *   2 preview (and further previews while capturing);
 *   when the print is taken (auto capture, or IBSU_TakeResultImageManually):
 *   [4 acquisition end for rolled], 12 result image.
 * The capture is active from this call until the result event is raised or it is
 * cancelled. -300 when a capture is already running, -302 for an unavailable mode. */
IBSU_API int IBSU_BeginCaptureImage(int handle, int imageType, int resolution, int captureOptions);

/* *pIsActive is non-zero while a capture runs. */
IBSU_API int IBSU_IsCaptureActive(int handle, int* pIsActive);

/* Takes the result now: the result event follows on the event thread. -301 when no
 * capture is active. With nothing on the platen the result's status is -303. */
IBSU_API int IBSU_TakeResultImageManually(int handle);

/* Stops the capture; no result event follows. -301 when no capture is active. */
IBSU_API int IBSU_CancelCaptureImage(int handle);

/* LED mask (IBSU_LED_* bits). */
IBSU_API int IBSU_SetLEDs(int handle, uint32_t activeLEDs);

/* Contrast 0 .. 34; used while automatic contrast is off. */
IBSU_API int IBSU_SetContrast(int handle, int contrastValue);

/* Writes an 8-bit grey BMP file: 14-byte file header, 40-byte info header, 256-entry grey
 * palette, pixels at offset 1078, rows bottom-up, each padded to a multiple of 4 bytes with
 * zeros. Row y of the picture (0 = top) is read from pImage + y * pitch; |pitch| >= width.
 * Resolutions in pixels per inch (0 when unknown). */
IBSU_API int IBSU_SaveBitmapImage(const char* filePath, const uint8_t* pImage, uint32_t width,
                                  uint32_t height, int pitch, double resX, double resY);

/* NFIQ score (1 best .. 5 worst) of an 8-bit image whose rows are contiguous (pitch =
 * width), through libGBNFIQ.so, loaded on first use from the program's folder, then this
 * library's folder, then the usual search path. -400 when the library or its entry point
 * is missing, -401 when it refuses the image. */
IBSU_API int IBSU_GetNFIQScore(int handle, const uint8_t* imgBuffer, uint32_t width,
                               uint32_t height, uint8_t bitsPerPixel, int* pScore);

/* English text of a result code (never null). */
IBSU_API const char* IBSU_GetErrorString(int code);

#ifdef __cplusplus
}
#endif

#endif /* IBSCANULTIMATEAPI_H */
