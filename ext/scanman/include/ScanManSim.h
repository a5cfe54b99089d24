/* Control interface of the ScanMan simulator backend (SCANMAN_BACKEND=sim, the default),
 * for tests and demonstrations in the same process. */
#ifndef SCANMAN_SIM_H
#define SCANMAN_SIM_H

#include "ScanMan.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Queues one image for delivery by the scanner scannerId (NULL: the first scanner that is
 * capturing). The pixels are copied; the image callback receives them later on the
 * library's delivery thread. Blocks while the delivery queue is full. Returns 0, or
 * SM_E_NOT_INITIALIZED, SM_E_INVALID_ARGUMENT (another backend is active, or a size
 * below 1), SM_E_ARGUMENT_NULL, SM_E_NOT_CAPTURING (no such scanner is capturing). */
SM_API int SMSimDeliver(const char* scannerId, int width, int height, const unsigned char* pixels,
                        int resolution);

/* Waits until every queued image has been delivered and no callback runs. */
SM_API int SMSimWaitIdle(void);

/* Number of image callbacks the library has made since SMInitialize. */
SM_API int SMSimDeliveredCount(void);

/* Writes the drop folder in use (zero-terminated) into buffer; returns the size it
 * needs, terminating zero included, like SMGetScannerId. 0 when there is none. */
SM_API int SMSimGetDropFolder(char* buffer, int size);

#ifdef __cplusplus
}
#endif

#endif
