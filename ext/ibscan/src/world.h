// The simulated world behind the IBSU_* and IBSIM_* calls: scanners, open devices, timed
// actions and the event queue, under one lock. Its parts live in world.cpp (scenario,
// scanners, open and close), capture.cpp (how a capture goes), events.cpp (the clock, the
// event queue and its threads, the preview display) and render.cpp (the prints shown);
// api.cpp and simapi.cpp hold the C calls.
//
// One lock guards the whole simulated world (scanners, open devices, timed actions and
// the event queue). Timed actions run under it, on the scheduler thread (or, with the
// manual clock, on the thread that advances time); they change the world and queue
// events. Events are delivered by the event thread, which never holds the lock while a
// handler runs, so handlers may call back into the library. A call never waits for the
// GUI thread; only IBSU_OpenDevice and IBSIM_WaitIdle wait for the event thread.
#pragma once
#include "IBScanSim.h"
#include "IBScanUltimateApi.h"

#include "control.h"
#include "display.h"
#include "eventlog.h"
#include "image.h"
#include "nfiq.h"
#include "scenario.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

namespace ibsim {

using SteadyClock = std::chrono::steady_clock;

inline constexpr int kFourFingerWidth = 1600;
inline constexpr int kFourFingerHeight = 1500;
inline constexpr int kMaxCoord = 100000;
inline constexpr int kMaxFontSize = 200;
inline constexpr int kMaxLineWidth = 100;
inline constexpr int kMaxBmpSide = 4096;
inline constexpr int kRollMs =
    1500; // how long a scripted finger rolls when the script never lifts it

extern std::atomic<const DisplayHooks*> gHooks;

struct Registration {
    IBSU_Callback fn = nullptr;
    void* ctx = nullptr;
};

struct ForcedResult {
    int status = 0;
    int fingers = -1;
    int segments = -1;
};

// A scanner as it is plugged in: its description, its physical state (finger, platen)
// and what the host last asked of it.
struct Scanner {
    int id = 0;
    ScannerScript script;
    bool attached = false;
    int handle = -1; // open device, or -1
    bool opening = false;
    int captureNo = 0;
    std::deque<int> openResults;
    int closeBusy = 0;
    std::optional<int> forcedOpen;
    std::optional<int> forcedBegin;
    std::optional<ForcedResult> forcedResult;
    std::map<std::string, std::deque<int>> callResults; // scripted answers, by scenario key
    std::vector<int> types;
    int singleWidth = 800, singleHeight = 750;
    // Physical state.
    bool fingerOn = false;
    std::vector<int> qualities;
    int countState = IBSU_FINGER_COUNT_OK;
    bool platenDirty = false;
    bool imageOverride = false;
    std::string imagePath;
    unsigned seed = 0;
    // Read-back.
    uint32_t leds = 0;
    int ledSets = 0;
    int contrast = 0;
    int lastType = 0, lastResolution = 0, lastOptions = 0;
};

struct ResultData {
    int status = 0;
    int type = 0;
    int fingers = 0;
    std::shared_ptr<const Frame> whole;
    std::vector<Frame> segments;
    std::vector<IBSU_SegmentPosition> quads;
};

// An open device (a handle).
struct Device {
    int handle = 0;
    std::shared_ptr<Scanner> sc;
    bool lost = false;
    uint64_t epoch = 1; // events raised under an older epoch are dropped
    std::array<Registration, IBSU_EVENT_COUNT> regs{};
    // Capture.
    bool capturing = false;
    int type = 0, options = 0;
    int serial = 0; // timed actions of an older capture do nothing
    int64_t beginMs = 0;
    bool rolling = false;
    int64_t rollStartMs = 0;
    int rollMs = kRollMs; // expected length of the roll, for the preview
    bool hadFinger = false;
    int fingerToken = 0;
    CaptureScript script;
    std::shared_ptr<const Frame> print, blank; // print: null until first needed
    std::vector<Box> boxes;                    // each finger's box in the print
    unsigned renderSeed = 0;
    int fingerTiles = 1;
    int imageWidth = 0, imageHeight = 0;
    // Client window.
    bool hasWindow = false;
    void* host = nullptr;
    int rect[4] = {};
    std::map<int, OverlayText> texts;
    std::map<int, OverlayQuad> quads;
    int nextOverlay = 1;
    OverlayText clientText;
    uint32_t background = 0xFFFFFF;
    bool rollGuide = false, invalidArea = false;
    std::shared_ptr<const Frame> shown;
    // Properties.
    bool smear = false, wetFinger = false;
    int smearLevel = 1;
};

struct Event {
    uint64_t gen = 0;
    int handle = 0; // library-wide events: 0
    int kind = 0;
    uint64_t epoch = 0;
    int arg = 0;
    std::vector<int> ints;
    std::shared_ptr<const Frame> frame;
    double frameTime = 0;
    bool finalFrame = false;
    std::shared_ptr<const ResultData> result;
};

inline IBSU_ImageData imageRecord(const Frame& f, double frameTime, bool final) {
    IBSU_ImageData d{};
    d.Buffer = const_cast<uint8_t*>(f.pixels.data());
    d.Width = static_cast<uint32_t>(f.width);
    d.Height = static_cast<uint32_t>(f.height);
    d.ResolutionX = d.ResolutionY = 500.0;
    d.FrameTime = frameTime;
    d.Pitch = f.width;
    d.BitsPerPixel = 8;
    d.Format = IBSU_IMG_FORMAT_GRAY;
    d.IsFinal = final ? 1 : 0;
    return d;
}

inline bool isTrue(const char* v, bool& out) {
    if (!v)
        return false;
    std::string s(v);
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (s == "TRUE" || s == "1") {
        out = true;
        return true;
    }
    if (s == "FALSE" || s == "0") {
        out = false;
        return true;
    }
    return false;
}

// Copies a text into a buffer of `capacity` bytes (zero included), cutting it if needed.
inline void copyText(char* out, std::size_t capacity, const std::string& s) {
    const std::size_t n = std::min(s.size(), capacity - 1);
    std::memcpy(out, s.data(), n);
    out[n] = 0;
}

inline std::string formatScale(double v) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 6);
    return std::string(buf, r.ptr);
}

class Sim {
  public:
    static Sim& get();

    std::mutex m;

    // ---- Scenario, clock and timed actions ----

    int reset(const char* text, int* errorLine, const std::string& baseDir);

    int setClock(int mode);

    int advance(int ms);

    int64_t now();

    int waitIdle();

    // ---- Scanners ----

    std::shared_ptr<Scanner> scannerById(int id);

    Device* deviceOf(const Scanner& sc);

    // Finds an open device; err receives the code to return when there is none.
    Device* device(int handle, int& err, bool allowLost = false);

    int deviceCount() const { return static_cast<int>(attached_.size()); }

    std::shared_ptr<Scanner> attachedAt(int index);

    int attach(ScannerScript script, bool raise);

    void detach(Scanner& sc);

    // ---- Open and close ----

    int open(int index, int* pHandle);

    int close(int handle);

    int registerCallback(int handle, int kind, IBSU_Callback fn, void* ctx);

    // ---- Capture ----

    int begin(int handle, int type, int resolution, int options);

    // The next scripted answer of a call (scenario key such as "begin_result"), or 0.
    static int scriptedResult(Scanner& sc, const char* key);

    std::string scenarioError();

    static bool available(const Scanner& sc, int type);

    static std::vector<int> defaultQualities(int fingers);

    static int defaultFingers(int type);

    std::string resolvePath(const std::string& p) const;

    void preparePrint(Device& d);

    const std::shared_ptr<const Frame>& printOf(Device& d);

    // The preview while the finger rolls: the part of the rolled print swept so far, from
    // the flat contact at the start to the whole print when the roll is due to end.
    std::shared_ptr<const Frame> rollingFrame(Device& d);

    void startCapture(Device& d, int type, int options);

    void act(Scanner& sc, const TimedStep& step);

    void schedulePreview(Device& d);

    void fingerArrived(Device& d);

    void armStable(Device& d);

    static bool readyForAutoCapture(const Device& d);

    void placeFinger(Scanner& sc, const std::vector<int>& qualities);

    void lift(Scanner& sc);

    void setPlaten(Scanner& sc, bool dirty);

    void setCountState(Scanner& sc, int state);

    void takeResult(Device& d);

    static void cutSegments(ResultData& res, const std::vector<Box>& fingerBoxes, int n);

    void cancel(Device& d);

    // ---- Client window ----

    void windowGeometry(const Device& d, double& scale, int& left, int& top) const;

    void refreshDisplay(Device& d);

    // ---- Events ----

    static std::string describe(const Event& ev);

    uint64_t push(Event ev);

    uint64_t raiseGlobal(int kind, int arg, int first = 0);

    Event deviceEvent(const Device& d, int kind);

    void raise(const Device& d, int kind, int arg = 0);

    void raiseQualities(const Device& d, bool zeros);

    void showFrame(Device& d, std::shared_ptr<const Frame> f, bool final);

    // ---- Housekeeping ----

    void schedule(int delayMs, std::function<void()> fn);

    int64_t nowLocked();

  private:
    Sim();

    ~Sim();

    static std::string folderOf(const std::string& file);

    void applyScenarioLocked(Scenario sc);

    bool resolve(const Event& ev, Registration& reg);

    static void invoke(const Event& ev, const Registration& reg);

    void dispatchLoop();

    void scheduleLoop();

    std::condition_variable cvDispatch_, cvIdle_, cvSched_;
    std::deque<Event> queue_;
    bool inHandler_ = false;
    uint64_t enqueued_ = 0, delivered_ = 0;
    std::thread dispatcher_, scheduler_;
    std::thread::id dispatcherId_;
    bool stop_ = false;
    uint64_t gen_ = 0;
    int clock_ = IBSIM_CLOCK_REALTIME;
    SteadyClock::time_point base_ = SteadyClock::now();
    int64_t vnow_ = 0;
    std::map<std::pair<int64_t, uint64_t>, std::function<void()>> timed_;
    uint64_t timedSeq_ = 0;
    Scenario scenario_;
    std::string scenarioError_; // "line N: reason" of the last scenario that failed
    std::vector<std::shared_ptr<Scanner>> attached_;
    std::map<int, std::shared_ptr<Scanner>> scanners_;
    int nextScannerId_ = kMaxScanners + 1;
    std::map<int, std::unique_ptr<Device>> devices_;
    int nextHandle_ = 1;
    std::array<Registration, IBSU_EVENT_COUNT> globalRegs_{};

  public:
    // Runtime attach takes the next free id.
    int nextScannerId() { return nextScannerId_++; }

    const std::map<int, std::shared_ptr<Scanner>>& allScanners() const { return scanners_; }
    const std::vector<std::shared_ptr<Scanner>>& attachedScanners() const { return attached_; }
};

} // namespace ibsim
