/* ScanMan: a small scanner-manager library. Scanners deliver 8-bit grey images on their
 * own, unrequested, once capturing has started on them; each image reaches the image
 * callback on the library's own delivery thread.
 *
 * Every call returns an int: negative values are the SM_E_* error codes below, zero or
 * positive values are results. The calls are safe to make from any thread. */
#ifndef SCANMAN_H
#define SCANMAN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define SM_API __attribute__((visibility("default")))
#else
#define SM_API
#endif

/* Error codes. */
#define SM_E_FAILED (-1)
#define SM_E_OUT_OF_MEMORY (-2)
#define SM_E_NOT_INITIALIZED (-3)
#define SM_E_ARGUMENT_NULL (-4)
#define SM_E_INVALID_ARGUMENT (-5)
#define SM_E_INVALID_PARAMETER (-10)
#define SM_E_PARAMETER_READ_ONLY (-11)
#define SM_E_NOT_CAPTURING (-100)
#define SM_E_ALREADY_CAPTURING (-101)

/* Parameter type codes returned by a type query. */
#define SM_TYPE_INT 5
#define SM_TYPE_STRING 100

/* Library parameters (scanner NULL). */
#define SM_PARAM_QUERY_TYPE 0    /* value carries the number of the parameter asked about */
#define SM_PARAM_LIBRARY_NAME 10 /* text: library name, version and backend */
#define SM_PARAM_API_VERSION 11  /* integer: version of this interface (1) */
#define SM_PARAM_MAX_PIXELS 12   /* integer: largest image (width x height) ever delivered */

/* Scanner status values passed to the status callback. */
#define SM_STATUS_STOPPED 0
#define SM_STATUS_CAPTURING 1
#define SM_STATUS_FINGER_REMOVED 2
#define SM_STATUS_ERROR 3

/* Monitor events. */
#define SM_MONITOR_ATTACHED 1
#define SM_MONITOR_DETACHED 2

/* One image: width x height bytes, 8-bit grey (0 black, 255 white), top row first, rows
 * not padded. The pixels are valid only during the call. resolution is in pixels per
 * inch. context is the value given to SMStartCapturing. */
typedef void (*SMImageCallback)(const char* scannerId, int width, int height,
                                const unsigned char* pixels, int resolution, void* context);
typedef void (*SMStatusCallback)(const char* scannerId, int status, void* context);
typedef void (*SMMonitorCallback)(int event, const char* scannerId, void* context);

/* Starts the library (the backend named by SCANMAN_BACKEND). A second call while
 * initialized succeeds and changes nothing. */
SM_API int SMInitialize(void);
/* Stops every capture, removes the monitor and releases everything. */
SM_API int SMFinalize(void);

/* Reads a parameter of the library (scannerId NULL) or of one scanner:
 * - parameter SM_PARAM_QUERY_TYPE: value is the parameter number (cast to a pointer);
 *   returns SM_TYPE_INT or SM_TYPE_STRING;
 * - an integer parameter: value points to an int32_t that receives it; returns 0;
 * - a text parameter: value NULL returns the length n of the text (without the
 *   terminating zero); otherwise value points to n + 1 chars that receive the text. */
SM_API int SMGetParameter(const char* scannerId, int parameter, void* value);

SM_API int SMSetMonitor(SMMonitorCallback callback, void* context);
SM_API int SMRemoveMonitor(void);

/* Number of attached scanners. */
SM_API int SMGetScannerCount(void);
/* Identifier of the scanner at index (from 0). With buffer NULL returns the size the
 * identifier needs, terminating zero included; otherwise writes it into buffer (size
 * bytes, which must be enough) and returns that size. */
SM_API int SMGetScannerId(int index, char* buffer, int size);

/* Starts capturing on one scanner: from now on each image it takes goes to imageCallback
 * (and status changes to statusCallback, which may be NULL). */
SM_API int SMStartCapturing(const char* scannerId, SMImageCallback imageCallback,
                            SMStatusCallback statusCallback, void* context);
/* Stops capturing on one scanner, or on all when scannerId is NULL. When it returns, no
 * callback of the stopped scanners runs or will run (unless it is called from inside a
 * callback, which then finishes normally). */
SM_API int SMStopCapturing(const char* scannerId);

#ifdef __cplusplus
}
#endif

#endif
