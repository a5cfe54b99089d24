// The finger-scan component: each image a ScanMan scanner delivers is rescaled to 500 ppi,
// written as an 8-bit BMP file into a stream and handed to the listening window through
// BeforeScan and AfterScan.
//
// Threads: the library calls back on its own thread. The callback only copies the image
// into a small bounded queue and wakes the GUI thread (an eventfd and a socket notifier);
// there the images are taken one per event-loop turn and the events run, so handlers may
// touch windows.
// While the queue is full (FingerScanMaxPending images wait) further images are dropped,
// like the listening windows drop what arrives while they are busy; a storm of deliveries
// thus costs the GUI thread at most that many conversions at a time.
#pragma once

#include "ScanManBinding.h"
#include "VFImage.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>

class QIODevice;

// The stream of one delivery. BeforeScan sets it; AfterScan receives it and owns it from
// then on (it may move it away, or leave it to be released after the handler returns).
using TScanStream = std::unique_ptr<QIODevice>;
using TScanEvent = std::function<void(TScanStream& stream)>;

// Errors the component raises itself ("BeforeScan not Attached", "AfterScan not Attached").
class EFingerScan : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Images larger than this on either side or in pixels, before or after rescaling, are
// dropped (a fingerprint at 500 ppi is well under 2000 pixels a side).
constexpr int FingerScanMaxSide = 8192;
constexpr int64_t FingerScanMaxPixels = int64_t(4096) * 4096;
// Images waiting for the GUI thread; more are dropped.
constexpr int FingerScanMaxPending = 4;

class TFingerScan {
  public:
    TFingerScan() = default;
    TFingerScan(const TFingerScan&) = delete;
    TFingerScan& operator=(const TFingerScan&) = delete;

    TScanEvent BeforeScan;
    TScanEvent AfterScan;
    // Resolution of the image being delivered, as looked up for its scanner.
    int32_t Resolution = 0;
    // Lines of "ScannerConfig.CFG"; empty when the file is absent.
    QStringList ScannerResolutions;

    // The resolution for a scanner: the first line whose part before the first "=" equals
    // id (ignoring case) decides; its text must be a decimal integer, else `reported`.
    int32_t ResolutionFor(const QString& id, int32_t reported) const;

    // Told, on the GUI thread, why an image was dropped before any handler ran (a size or
    // resolution that cannot be converted, or a window that no longer accepts images). The
    // drop is in the log already; the listener may show the text to the operator.
    std::function<void(const QString& why)> Dropped;

    // Converts one image and raises the events, on the calling thread. Images with a size
    // or resolution that cannot be converted are dropped (returns false, and the reason in
    // `why` when given) before any handler runs. Errors of the handlers (and the
    // component's own) propagate.
    bool Deliver(const QString& id, int32_t width, int32_t height, const unsigned char* pixels,
                 int32_t resolution, QString* why = nullptr);

    // The component's image buffer.
    const TVFImage& Image() const { return FImage; }

  private:
    TVFImage FImage;
};

// The one component of the program (created by the module start, freed by its end), and
// the acceptance flag: images are dropped while it is false.
extern TFingerScan* FingerScan;
extern std::atomic<bool> AcceptScans;

// Module start: starts the library, reads its parameters 10, 11 and 12, starts capturing
// on every attached scanner, creates FingerScan and reads "ScannerConfig.CFG" from the
// working directory. Call it on the GUI thread once the QApplication exists and before any
// window is created. Returns an empty text on success; otherwise the error's text, which
// the program shows in a message box before it exits with code 1.
QString UFingerScanStart();
// Module end: stops capturing (waiting for a callback in progress), frees FingerScan and
// discards images still waiting, then removes the monitor and finalizes the library.
void UFingerScanEnd();

// Where errors raised during a delivery on the GUI thread go (a missing handler, a
// handler's own error, the station's silent abort). They never reach the library. The
// default hook writes the error's text with qWarning. An empty hook restores it.
using TFingerScanErrorHook = std::function<void(std::exception_ptr)>;
void SetFingerScanErrorHook(TFingerScanErrorHook hook);

// Writes the log line of a dropped image: "Imagen de ScanMan descartada: " + why. Every drop
// goes to the log: those the component decides, and those of the listening windows' busy rule.
void LogDroppedScan(const QString& why);

// Counters since the module start, for diagnostics and tests.
struct TFingerScanCounters {
    uint64_t received = 0;  // callbacks while AcceptScans was true
    uint64_t dropped = 0;   // dropped because the queue was full or the image unusable
    uint64_t delivered = 0; // deliveries that ran the events on the GUI thread
};
TFingerScanCounters FingerScanCounters();

// Splits the text of "ScannerConfig.CFG" into lines (line feed or carriage return and line
// feed; the ending of the last line is optional).
QStringList ParseScannerConfig(const QByteArray& text);

// Nearest-neighbour rescale of a DIB block by factor (source ppi / 500). Returns an empty
// block for a factor that is not positive and finite, for a source block that is not
// complete, and for a result with a side of 0 or beyond the limits above.
QByteArray ScaleDIB(const QByteArray& source, double factor);
// Writes the 14-byte file header and the block at the stream's position. True when the
// stream accepted the whole block.
bool WriteBitmapFile(const QByteArray& block, QIODevice& stream);
