// Internal interface between the library's calls and its backends.
#pragma once

#include "ScanMan.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace scanman {

// Largest image the library ever delivers (width x height) and largest side.
constexpr int kMaxSide = 8192;
constexpr int64_t kMaxPixels = int64_t(4096) * 4096;

struct ScannerInfo {
    std::string id;
    int resolution = 500;
    bool idFails = false;    // SMGetScannerId refuses this scanner
    bool startFails = false; // SMStartCapturing refuses this scanner
};

class Backend {
  public:
    virtual ~Backend() = default;
    virtual const char* name() const = 0;
    // Finds the scanners; a negative result is returned by SMInitialize.
    virtual int open() = 0;
    virtual std::vector<ScannerInfo> scanners() = 0;
    // Negative result for a count that is reported as is (the simulator can fake one).
    virtual int countOverride() const { return 0; }
    // Result of reading a library parameter: 0 means "use the normal value";
    // a negative value is returned as the error; typeOverride replaces the type code.
    virtual int parameterFailure(int /*parameter*/) const { return 0; }
    virtual int typeOverride(int /*parameter*/) const { return 0; }
    virtual int startScanner(const std::string& id) = 0;
    virtual void stopScanner(const std::string& id) = 0;
    // Called without the library lock; stops every thread of the backend.
    virtual void close() = 0;
};

std::unique_ptr<Backend> MakeSimBackend();
std::unique_ptr<Backend> MakeFprintBackend(); // nullptr when built without libfprint

// Called by backends on their own thread: hands one image to the scanner's image callback
// if the scanner is capturing. Returns true when a callback ran.
bool Deliver(const std::string& id, int width, int height, const unsigned char* pixels,
             int resolution);
void ReportStatus(const std::string& id, int status);
bool IsCapturing(const std::string& id);
// First capturing scanner, empty when none.
std::string FirstCapturing();

// Reads a BMP file image into 8-bit grey, top row first. Returns false for anything it
// cannot read or that is larger than the limits above.
bool ReadBmpGrey(const std::vector<unsigned char>& file, int& width, int& height,
                 std::vector<unsigned char>& grey);

// With SCANMAN_SIM_LOG naming a file, appends "<UTC time> <pid> <text>" to it.
void LogLine(const std::string& text);

} // namespace scanman
