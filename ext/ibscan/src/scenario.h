// Scenario files of the scanner simulator: an INI-like text that describes the attached
// scanners and how their captures go. Format and example in ext/ibscan/README.md.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ibsim {

constexpr int kMaxScanners = 16;
constexpr int kMaxCaptureSections = 64;
constexpr int kMaxListValues = 16;
constexpr int kMaxTimeMs = 86'400'000; // one day
constexpr std::size_t kMaxScenarioBytes = 1 << 20;

// Something the person at the scanner does during a capture ("at = <ms> <action> [value]").
struct TimedStep {
    enum Action { Quality, CountState, Place, Lift, Platen, Key } action = Place;
    int ms = 0;
    std::vector<int> values;
};

constexpr int kMaxTimedSteps = 64;

// How one capture goes. Times are milliseconds after IBSU_BeginCaptureImage; -1 = never.
struct CaptureScript {
    int fingerMs = -1;        // the finger arrives
    int stableMs = 400;       // a finger lying this long is taken by automatic capture
    int liftMs = -1;          // the finger is lifted
    std::vector<int> quality; // per place; empty: by image type (one good finger per place)
    int countState = 0;       // finger-count state while the finger lies
    bool platenDirty = false; // something lies on the platen when the capture begins
    int platenClearMs = -1;   // ... and is removed then
    bool hasResult = false;   // result status given
    int result = 0;
    int fingers = -1;  // detected finger count; -1: by image type
    int segments = -1; // segment count; -1: as many as fingers
    std::string image; // BMP file; empty: built-in print
    bool hasSeed = false;
    unsigned seed = 1;
    std::vector<TimedStep> steps;
};

// Key/value pairs of one [capture...] section, applied in order over a CaptureScript.
struct CaptureSection {
    int scanner = 0; // 0: all scanners
    int capture = 0; // 0: every capture; k: the k-th capture of the scanner
    std::vector<std::pair<std::string, std::string>> values;
};

struct ScannerScript {
    int id = 0;
    std::string model = "WATSON";
    std::string serial;
    std::string firmware = "1.0.0";
    std::string revision = "A";
    int attachMs = 0;
    int detachMs = -1;
    int openMs = 1200;
    std::vector<int> openProgress{0, 20, 40, 60, 80, 100};
    std::vector<int> openResults; // answers of successive opens, then 0
    int closeBusy = 0;            // this many closes answer -6
    int descriptionResult = 0;    // < 0: IBSU_GetDeviceDescription fails with it
    std::vector<int> types;       // empty: by model
    int width = 0, height = 0;    // single-finger image size; 0: by model
    // Answers of successive calls that a real scanner can fail, by key (begin_result ...);
    // after the list, 0.
    std::map<std::string, std::vector<int>> callResults;
};

// Keys of [scanner.N] that script the answers of a call, and what they expect.
inline constexpr std::pair<const char*, const char*> kCallResultKeys[] = {
    {"begin_result", "a list of answers of IBSU_BeginCaptureImage, e.g. -3, 0"},
    {"leds_result", "a list of answers of IBSU_SetLEDs, e.g. -3, 0"},
    {"property_result", "a list of answers of IBSU_GetProperty, e.g. -3, 0"},
    {"window_result", "a list of answers of IBSU_CreateClientWindow, e.g. -3, 0"},
    {"window_property_result", "a list of answers of IBSU_GetClientWindowProperty, e.g. -3"},
    {"contrast_result", "a list of answers of IBSU_SetContrast, e.g. -3, 0"},
    {"cancel_result", "a list of answers of IBSU_CancelCaptureImage, e.g. -3, 0"},
    {"take_result", "a list of answers of IBSU_TakeResultImageManually, e.g. -3, 0"},
};

struct Scenario {
    int clock = 0; // IBSIM_ClockMode
    int previewMs = 100;
    std::vector<ScannerScript> scanners;
    std::vector<CaptureSection> captures;
    std::string baseDir; // folder that relative image paths start from ("" = cwd)
};

// Parses a scenario. On failure returns false, sets errorLine (1-based), *why (when not
// null) to what is wrong and what is expected, and leaves out in an unspecified but valid
// state.
bool parseScenario(std::string_view text, Scenario& out, int& errorLine,
                   std::string* why = nullptr);

// Applies one capture key; false when the key is unknown or the value is invalid, with
// the reason in *why.
bool applyCaptureKey(CaptureScript& script, std::string_view key, std::string_view value,
                     std::string* why = nullptr);
bool applyCaptureValue(CaptureScript& script, const std::string& key, std::string_view value);

// The script for capture number `captureNo` (1-based) of scanner `scannerId`: the general
// [capture] sections, then [capture.N], then [capture.N.K], in file order within each.
CaptureScript resolveCapture(const Scenario& scenario, int scannerId, int captureNo,
                             const CaptureScript& base);

// The built-in scenario used without a scenario file.
const char* defaultScenarioText();

// Image types and single-finger image size of a model.
std::vector<int> modelImageTypes(const std::string& model);
void modelImageSize(const std::string& model, int& width, int& height);

// Small parsing helpers, shared with the control interface.
bool parseInt(std::string_view text, int lo, int hi, int& out);
bool parseIntList(std::string_view text, int lo, int hi, std::vector<int>& out);

} // namespace ibsim
