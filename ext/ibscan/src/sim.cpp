// The scanner simulator behind the IBSU_* and IBSIM_* calls.
//
// One lock guards the whole simulated world (scanners, open devices, timed actions and
// the event queue). Timed actions run under it, on the scheduler thread (or, with the
// manual clock, on the thread that advances time); they change the world and queue
// events. Events are delivered by the event thread, which never holds the lock while a
// handler runs, so handlers may call back into the library. A call never waits for the
// GUI thread; only IBSU_OpenDevice and IBSIM_WaitIdle wait for the event thread.
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

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr int kFourFingerWidth = 1600;
constexpr int kFourFingerHeight = 1500;
constexpr int kMaxCoord = 100000;
constexpr int kMaxFontSize = 200;
constexpr int kMaxLineWidth = 100;
constexpr int kMaxBmpSide = 4096;
constexpr int kRollMs = 1500; // how long a scripted finger rolls when the script never lifts it

std::atomic<const DisplayHooks*> gHooks{nullptr};

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

IBSU_ImageData imageRecord(const Frame& f, double frameTime, bool final) {
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

bool isTrue(const char* v, bool& out) {
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
void copyText(char* out, std::size_t capacity, const std::string& s) {
    const std::size_t n = std::min(s.size(), capacity - 1);
    std::memcpy(out, s.data(), n);
    out[n] = 0;
}

std::string formatScale(double v) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 6);
    return std::string(buf, r.ptr);
}

class Sim {
  public:
    static Sim& get() {
        static Sim sim;
        return sim;
    }

    std::mutex m;

    // ---- Scenario, clock and timed actions ----

    int reset(const char* text, int* errorLine, const std::string& baseDir) {
        Scenario sc;
        int line = 0;
        std::string why;
        const bool ok =
            parseScenario(text ? std::string_view(text) : defaultScenarioText(), sc, line, &why);
        if (errorLine)
            *errorLine = ok ? 0 : line;
        if (!ok)
            sc = Scenario{};
        sc.baseDir = baseDir;
        std::unique_lock lk(m);
        scenarioError_ = ok ? std::string() : "line " + std::to_string(line) + ": " + why;
        if (std::this_thread::get_id() == dispatcherId_)
            return IBSU_ERR_DEVICE_INVALID_STATE;
        cvIdle_.wait(lk, [&] { return !inHandler_; });
        applyScenarioLocked(std::move(sc));
        return ok ? IBSU_STATUS_OK : IBSU_ERR_INVALID_PARAM_VALUE;
    }

    int setClock(int mode) {
        if (mode < IBSIM_CLOCK_REALTIME || mode > IBSIM_CLOCK_IMMEDIATE)
            return IBSU_ERR_INVALID_PARAM_VALUE;
        std::lock_guard lk(m);
        const int64_t t = nowLocked();
        clock_ = mode;
        base_ = SteadyClock::now() - std::chrono::milliseconds(t);
        vnow_ = t;
        cvSched_.notify_all();
        return IBSU_STATUS_OK;
    }

    int advance(int ms) {
        if (ms < 0)
            return IBSU_ERR_INVALID_PARAM_VALUE;
        std::lock_guard lk(m);
        if (clock_ != IBSIM_CLOCK_MANUAL)
            return IBSU_ERR_DEVICE_INVALID_STATE;
        const int64_t target = vnow_ + ms;
        while (!timed_.empty() && timed_.begin()->first.first <= target) {
            auto it = timed_.begin();
            vnow_ = std::max(vnow_, it->first.first);
            auto fn = std::move(it->second);
            timed_.erase(it);
            fn();
        }
        vnow_ = target;
        return IBSU_STATUS_OK;
    }

    int64_t now() {
        std::lock_guard lk(m);
        return nowLocked();
    }

    int waitIdle() {
        std::unique_lock lk(m);
        if (std::this_thread::get_id() == dispatcherId_)
            return IBSU_ERR_DEVICE_INVALID_STATE;
        cvIdle_.wait(lk, [&] {
            return queue_.empty() && !inHandler_ &&
                   (clock_ != IBSIM_CLOCK_IMMEDIATE || timed_.empty());
        });
        return IBSU_STATUS_OK;
    }

    // ---- Scanners ----

    std::shared_ptr<Scanner> scannerById(int id) {
        auto it = scanners_.find(id);
        return it == scanners_.end() ? nullptr : it->second;
    }

    Device* deviceOf(const Scanner& sc) {
        if (sc.handle < 0)
            return nullptr;
        auto it = devices_.find(sc.handle);
        return it == devices_.end() ? nullptr : it->second.get();
    }

    // Finds an open device; err receives the code to return when there is none.
    Device* device(int handle, int& err, bool allowLost = false) {
        auto it = devices_.find(handle);
        if (handle <= 0 || it == devices_.end()) {
            err = IBSU_ERR_DEVICE_NOT_OPENED;
            return nullptr;
        }
        if (it->second->lost && !allowLost) {
            err = IBSU_ERR_DEVICE_LOST;
            return nullptr;
        }
        err = IBSU_STATUS_OK;
        return it->second.get();
    }

    int deviceCount() const { return static_cast<int>(attached_.size()); }

    std::shared_ptr<Scanner> attachedAt(int index) {
        if (index < 0 || index >= deviceCount())
            return nullptr;
        return attached_[static_cast<std::size_t>(index)];
    }

    int attach(ScannerScript script, bool raise) {
        auto sc = std::make_shared<Scanner>();
        sc->id = script.id > 0 ? script.id : nextScannerId_++;
        if (script.serial.empty())
            script.serial = "SIM" + std::to_string(1000 + sc->id);
        sc->script = std::move(script);
        sc->attached = true;
        sc->openResults.assign(sc->script.openResults.begin(), sc->script.openResults.end());
        sc->closeBusy = sc->script.closeBusy;
        for (const auto& [key, list] : sc->script.callResults)
            sc->callResults[key].assign(list.begin(), list.end());
        sc->types = sc->script.types.empty() ? modelImageTypes(sc->script.model) : sc->script.types;
        modelImageSize(sc->script.model, sc->singleWidth, sc->singleHeight);
        if (sc->script.width > 0)
            sc->singleWidth = sc->script.width;
        if (sc->script.height > 0)
            sc->singleHeight = sc->script.height;
        scanners_[sc->id] = sc;
        attached_.push_back(sc);
        if (raise)
            raiseGlobal(IBSU_EVENT_DEVICE_COUNT, deviceCount());
        return sc->id;
    }

    void detach(Scanner& sc) {
        if (!sc.attached)
            return;
        sc.attached = false;
        sc.fingerOn = false;
        attached_.erase(std::remove_if(attached_.begin(), attached_.end(),
                                       [&](const auto& p) { return p.get() == &sc; }),
                        attached_.end());
        if (Device* d = deviceOf(sc)) {
            d->lost = true;
            d->capturing = false;
            d->rolling = false;
            ++d->serial;
            ++d->epoch; // what was queued for the device is void; the break is the news
            raise(*d, IBSU_EVENT_COMMUNICATION_BREAK);
        }
        raiseGlobal(IBSU_EVENT_DEVICE_COUNT, deviceCount());
    }

    // ---- Open and close ----

    int open(int index, int* pHandle) {
        if (!pHandle)
            return IBSU_ERR_INVALID_PARAM_VALUE;
        *pHandle = -1;
        std::unique_lock lk(m);
        auto sc = attachedAt(index);
        if (!sc)
            return IBSU_ERR_DEVICE_NOT_FOUND;
        if (sc->handle >= 0 || sc->opening)
            return IBSU_ERR_DEVICE_ACTIVE;
        int result = IBSU_STATUS_OK;
        if (sc->forcedOpen) {
            result = *sc->forcedOpen;
            sc->forcedOpen.reset();
        } else if (!sc->openResults.empty()) {
            result = sc->openResults.front();
            sc->openResults.pop_front();
        }
        sc->opening = true;
        const uint64_t gen = gen_;
        const std::vector<int> progress = sc->script.openProgress;
        const int openMs = clock_ == IBSIM_CLOCK_REALTIME ? sc->script.openMs : 0;
        const auto steps = std::max<std::size_t>(1, progress.size());
        uint64_t lastSeq = 0;
        for (std::size_t i = 0; i < progress.size(); ++i) {
            if (result < 0 && progress[i] >= 100)
                break; // a failing open does not get to the end
            lastSeq = raiseGlobal(IBSU_EVENT_INIT_PROGRESS, progress[i], index);
            if (openMs > 0) {
                lk.unlock();
                std::this_thread::sleep_for(std::chrono::milliseconds(openMs / steps));
                lk.lock();
                if (gen != gen_)
                    return IBSU_ERR_DEVICE_IO;
            }
        }
        if (openMs > 0 && progress.empty()) {
            lk.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(openMs));
            lk.lock();
            if (gen != gen_)
                return IBSU_ERR_DEVICE_IO;
        }
        // The progress is reported before the open returns.
        if (std::this_thread::get_id() != dispatcherId_)
            cvIdle_.wait(lk, [&] { return delivered_ >= lastSeq || gen != gen_; });
        if (gen != gen_)
            return IBSU_ERR_DEVICE_IO;
        sc->opening = false;
        if (!sc->attached)
            return IBSU_ERR_DEVICE_IO;
        if (result < 0)
            return result;
        auto dev = std::make_unique<Device>();
        dev->handle = nextHandle_++;
        dev->sc = sc;
        dev->imageWidth = sc->singleWidth;
        dev->imageHeight = sc->singleHeight;
        sc->handle = dev->handle;
        sc->leds = 0;
        sc->contrast = 0;
        *pHandle = dev->handle;
        devices_[dev->handle] = std::move(dev);
        return result;
    }

    int close(int handle) {
        std::lock_guard lk(m);
        int err = 0;
        Device* d = device(handle, err, true);
        if (!d)
            return err;
        if (d->sc->closeBusy > 0) {
            --d->sc->closeBusy;
            return IBSU_ERR_RESOURCE_LOCKED;
        }
        d->sc->handle = -1;
        d->sc->leds = 0;
        if (d->hasWindow && gHooks.load())
            gHooks.load()->detach(handle);
        devices_.erase(handle);
        return IBSU_STATUS_OK;
    }

    int registerCallback(int handle, int kind, IBSU_Callback fn, void* ctx) {
        if (kind < 0 || kind >= IBSU_EVENT_COUNT)
            return IBSU_ERR_INVALID_PARAM_VALUE;
        std::lock_guard lk(m);
        int err = 0;
        if (kind == IBSU_EVENT_DEVICE_COUNT || kind == IBSU_EVENT_INIT_PROGRESS) {
            if (handle != 0 && !device(handle, err, true))
                return err;
            globalRegs_[static_cast<std::size_t>(kind)] = {fn, ctx};
            return IBSU_STATUS_OK;
        }
        Device* d = device(handle, err);
        if (!d)
            return err;
        d->regs[static_cast<std::size_t>(kind)] = {fn, ctx};
        return IBSU_STATUS_OK;
    }

    // ---- Capture ----

    int begin(int handle, int type, int resolution, int options) {
        std::lock_guard lk(m);
        int err = 0;
        Device* d = device(handle, err);
        if (!d)
            return err;
        if (resolution != IBSU_RESOLUTION_500 ||
            (options & ~(IBSU_OPTION_AUTO_CONTRAST | IBSU_OPTION_AUTO_CAPTURE |
                         IBSU_OPTION_IGNORE_FINGER_COUNT)) != 0)
            return IBSU_ERR_INVALID_PARAM_VALUE;
        if (!available(*d->sc, type))
            return IBSU_ERR_CAPTURE_INVALID_MODE;
        if (d->capturing)
            return IBSU_ERR_CAPTURE_STILL_RUNNING;
        Scanner& sc = *d->sc;
        sc.lastType = type;
        sc.lastResolution = resolution;
        sc.lastOptions = options;
        int result = IBSU_STATUS_OK;
        if (sc.forcedBegin) {
            result = *sc.forcedBegin;
            sc.forcedBegin.reset();
            if (result < 0)
                return result;
        } else if (const int r = scriptedResult(sc, "begin_result"); r != 0) {
            result = r;
            if (result < 0)
                return result;
        }
        startCapture(*d, type, options);
        return result;
    }

    // The next scripted answer of a call (scenario key such as "begin_result"), or 0.
    static int scriptedResult(Scanner& sc, const char* key) {
        auto it = sc.callResults.find(key);
        if (it == sc.callResults.end() || it->second.empty())
            return IBSU_STATUS_OK;
        const int r = it->second.front();
        it->second.pop_front();
        return r;
    }

    std::string scenarioError() {
        std::lock_guard lk(m);
        return scenarioError_;
    }

    static bool available(const Scanner& sc, int type) {
        return std::find(sc.types.begin(), sc.types.end(), type) != sc.types.end();
    }

    static std::vector<int> defaultQualities(int fingers) {
        std::vector<int> q(4, 0); // scanners report four places
        for (int i = 0; i < std::min(fingers, 4); ++i)
            q[static_cast<std::size_t>(i)] = IBSU_QUALITY_GOOD;
        return q;
    }

    static int defaultFingers(int type) {
        return type == IBSU_FLAT_TWO_FINGERS ? 2 : type == IBSU_FLAT_FOUR_FINGERS ? 4 : 1;
    }

    std::string resolvePath(const std::string& p) const {
        if (p.empty() || p.front() == '/' || scenario_.baseDir.empty())
            return p;
        return scenario_.baseDir + "/" + p;
    }

    void preparePrint(Device& d) {
        Scanner& sc = *d.sc;
        int w = sc.singleWidth, h = sc.singleHeight;
        if (d.type == IBSU_FLAT_TWO_FINGERS || d.type == IBSU_FLAT_FOUR_FINGERS) {
            w = kFourFingerWidth;
            h = kFourFingerHeight;
        }
        const int fingers = d.script.fingers > 0 ? d.script.fingers : defaultFingers(d.type);
        const std::string path = resolvePath(sc.imageOverride ? sc.imagePath : d.script.image);
        unsigned seed = sc.imageOverride   ? sc.seed
                        : d.script.hasSeed ? d.script.seed
                                           : static_cast<unsigned>(sc.id * 1000 + sc.captureNo);
        auto frame = std::make_shared<Frame>();
        d.boxes.clear();
        bool loaded = false;
        if (!path.empty()) {
            loaded = readBmp8(path, *frame, kMaxBmpSide);
            if (!loaded)
                std::fprintf(stderr,
                             "ibscan simulator: cannot read 8-bit BMP '%s', using the "
                             "built-in print\n",
                             path.c_str());
        }
        if (loaded) {
            // One strip per finger across the picture.
            const int n = std::max(1, std::min(fingers, frame->width));
            for (int i = 0; i < n; ++i)
                d.boxes.push_back(
                    Box{frame->width * i / n, 0, frame->width * (i + 1) / n, frame->height});
        } else {
            // Rendered when the finger first shows (printOf), not in the call that begins
            // the capture, which the host makes on its GUI thread.
            frame = nullptr;
            d.renderSeed = seed;
            d.fingerTiles = fingers;
        }
        auto blank = std::make_shared<Frame>();
        blank->width = frame ? frame->width : w;
        blank->height = frame ? frame->height : h;
        blank->pixels.assign(static_cast<std::size_t>(blank->width) * blank->height, 255);
        d.print = std::move(frame);
        d.imageWidth = blank->width;
        d.imageHeight = blank->height;
        d.blank = std::move(blank);
    }

    const std::shared_ptr<const Frame>& printOf(Device& d) {
        if (!d.print) {
            Frame f = renderHand(d.renderSeed, d.imageWidth, d.imageHeight, d.fingerTiles, d.boxes);
            if (d.type == IBSU_ROLL_SINGLE_FINGER && d.boxes.size() == 1)
                f = rollOut(f, d.boxes[0]);
            d.print = std::make_shared<const Frame>(std::move(f));
        }
        return d.print;
    }

    // The preview while the finger rolls: the part of the rolled print swept so far, from
    // the flat contact at the start to the whole print when the roll is due to end.
    std::shared_ptr<const Frame> rollingFrame(Device& d) {
        const auto& print = printOf(d);
        if (d.boxes.size() != 1)
            return print;
        const Box b = d.boxes[0];
        const double p = std::clamp(
            static_cast<double>(nowLocked() - d.rollStartMs) / std::max(1, d.rollMs), 0.0, 1.0);
        const int edge = b.x0 + static_cast<int>((b.x1 - b.x0) * (0.35 + 0.65 * p));
        auto f = std::make_shared<Frame>(*print);
        for (int y = 0; y < f->height; ++y)
            for (int x = std::max(0, edge); x < f->width; ++x)
                f->pixels[static_cast<std::size_t>(y) * f->width + x] = 255;
        return f;
    }

    void startCapture(Device& d, int type, int options) {
        Scanner& sc = *d.sc;
        ++sc.captureNo;
        d.script = resolveCapture(scenario_, sc.id, sc.captureNo, CaptureScript{});
        d.capturing = true;
        d.type = type;
        d.options = options;
        ++d.serial;
        ++d.fingerToken;
        d.rolling = false;
        d.hadFinger = false;
        d.beginMs = nowLocked();
        preparePrint(d);
        if (d.script.fingerMs >= 0)
            sc.fingerOn = false; // the scripted finger of an earlier capture has gone
        if (!sc.fingerOn) {
            const int fingers = d.script.fingers > 0 ? d.script.fingers : defaultFingers(d.type);
            sc.qualities = d.script.quality.empty() ? defaultQualities(fingers) : d.script.quality;
            sc.countState = d.script.countState;
        }
        if (d.script.platenDirty)
            sc.platenDirty = true;
        if (sc.platenDirty)
            raise(d, IBSU_EVENT_PLATEN, IBSU_PLATEN_HAS_FINGERS);
        showFrame(d, d.blank, false);
        raiseQualities(d, true);
        raise(d, IBSU_EVENT_FINGER_COUNT, IBSU_NON_FINGER);

        const int handle = d.handle, serial = d.serial;
        auto whenCapturing = [this, handle, serial](auto fn) {
            return [this, handle, serial, fn] {
                auto it = devices_.find(handle);
                if (it != devices_.end() && it->second->capturing && it->second->serial == serial)
                    fn(*it->second);
            };
        };
        if (d.script.platenDirty && d.script.platenClearMs >= 0)
            schedule(d.script.platenClearMs,
                     whenCapturing([this](Device& x) { setPlaten(*x.sc, false); }));
        if (d.script.fingerMs >= 0)
            schedule(d.script.fingerMs,
                     whenCapturing([this](Device& x) { placeFinger(*x.sc, {}); }));
        if (d.script.liftMs >= 0)
            schedule(d.script.liftMs, whenCapturing([this](Device& x) { lift(*x.sc); }));
        const bool scriptLifts =
            d.script.liftMs >= 0 ||
            std::any_of(d.script.steps.begin(), d.script.steps.end(),
                        [](const TimedStep& st) { return st.action == TimedStep::Lift; });
        if (type == IBSU_ROLL_SINGLE_FINGER && d.script.fingerMs >= 0 && !scriptLifts)
            schedule(d.script.fingerMs + kRollMs,
                     whenCapturing([this](Device& x) { lift(*x.sc); }));
        d.rollMs = d.script.liftMs > d.script.fingerMs && d.script.fingerMs >= 0
                       ? d.script.liftMs - d.script.fingerMs
                       : kRollMs;
        for (const TimedStep& step : d.script.steps)
            schedule(step.ms, whenCapturing([this, step](Device& x) { act(*x.sc, step); }));
        if (clock_ == IBSIM_CLOCK_REALTIME)
            schedulePreview(d);
        if (sc.fingerOn && !sc.platenDirty)
            fingerArrived(d);
    }

    void act(Scanner& sc, const TimedStep& step) {
        switch (step.action) {
        case TimedStep::Quality:
            if (sc.fingerOn)
                placeFinger(sc, step.values);
            else
                sc.qualities = step.values;
            break;
        case TimedStep::CountState:
            setCountState(sc, step.values.at(0));
            break;
        case TimedStep::Place:
            placeFinger(sc, {});
            break;
        case TimedStep::Lift:
            lift(sc);
            break;
        case TimedStep::Platen:
            setPlaten(sc, step.values.at(0) != 0);
            break;
        case TimedStep::Key:
            if (Device* d = deviceOf(sc))
                raise(*d, IBSU_EVENT_KEY_BUTTON, step.values.at(0));
            break;
        }
    }

    void schedulePreview(Device& d) {
        const int handle = d.handle, serial = d.serial;
        schedule(scenario_.previewMs, [this, handle, serial] {
            auto it = devices_.find(handle);
            if (it == devices_.end() || !it->second->capturing || it->second->serial != serial)
                return;
            Device& x = *it->second;
            const bool on = x.sc->fingerOn && !x.sc->platenDirty;
            showFrame(x, !on ? x.blank : x.rolling ? rollingFrame(x) : printOf(x), false);
            schedulePreview(x);
        });
    }

    void fingerArrived(Device& d) {
        Scanner& sc = *d.sc;
        d.hadFinger = true;
        raise(d, IBSU_EVENT_FINGER_COUNT, sc.countState);
        if (d.type == IBSU_ROLL_SINGLE_FINGER && !d.rolling) {
            d.rolling = true;
            d.rollStartMs = nowLocked();
            raise(d, IBSU_EVENT_ACQUISITION_BEGIN, d.type);
        }
        raiseQualities(d, false);
        showFrame(d, d.rolling ? rollingFrame(d) : printOf(d), false);
        armStable(d);
    }

    void armStable(Device& d) {
        const int token = ++d.fingerToken;
        // A roll is taken when the finger leaves the platen, however long it lies.
        if (!(d.options & IBSU_OPTION_AUTO_CAPTURE) || d.type == IBSU_ROLL_SINGLE_FINGER)
            return;
        const int handle = d.handle;
        schedule(d.script.stableMs, [this, handle, token] {
            auto it = devices_.find(handle);
            if (it == devices_.end())
                return;
            Device& x = *it->second;
            if (x.capturing && x.fingerToken == token && x.sc->fingerOn && !x.sc->platenDirty &&
                readyForAutoCapture(x))
                takeResult(x);
        });
    }

    static bool readyForAutoCapture(const Device& d) {
        const Scanner& sc = *d.sc;
        bool any = false;
        for (int q : sc.qualities) {
            if (q == IBSU_QUALITY_NOT_PRESENT)
                continue;
            if (q != IBSU_QUALITY_GOOD && q != IBSU_QUALITY_FAIR)
                return false;
            any = true;
        }
        if (!any)
            return false;
        return (d.options & IBSU_OPTION_IGNORE_FINGER_COUNT) ||
               sc.countState == IBSU_FINGER_COUNT_OK;
    }

    void placeFinger(Scanner& sc, const std::vector<int>& qualities) {
        const bool wasOn = sc.fingerOn;
        sc.fingerOn = true;
        if (!qualities.empty())
            sc.qualities = qualities;
        Device* d = deviceOf(sc);
        if (!d || !d->capturing || sc.platenDirty)
            return;
        if (!wasOn) {
            fingerArrived(*d);
        } else {
            raiseQualities(*d, false);
            armStable(*d);
        }
    }

    void lift(Scanner& sc) {
        if (!sc.fingerOn)
            return;
        sc.fingerOn = false;
        Device* d = deviceOf(sc);
        if (!d || !d->capturing || sc.platenDirty)
            return;
        ++d->fingerToken;
        if (d->rolling && (d->options & IBSU_OPTION_AUTO_CAPTURE)) {
            takeResult(*d); // a roll ends when the finger leaves the platen
            return;
        }
        raise(*d, IBSU_EVENT_FINGER_COUNT, IBSU_NON_FINGER);
        raiseQualities(*d, true);
        showFrame(*d, d->blank, false);
    }

    void setPlaten(Scanner& sc, bool dirty) {
        if (sc.platenDirty == dirty)
            return;
        sc.platenDirty = dirty;
        Device* d = deviceOf(sc);
        if (!d || !d->capturing)
            return;
        ++d->fingerToken;
        raise(*d, IBSU_EVENT_PLATEN, dirty ? IBSU_PLATEN_HAS_FINGERS : IBSU_PLATEN_CLEARED);
        if (!dirty && sc.fingerOn)
            fingerArrived(*d);
    }

    void setCountState(Scanner& sc, int state) {
        sc.countState = state;
        Device* d = deviceOf(sc);
        if (!d || !d->capturing || !sc.fingerOn || sc.platenDirty)
            return;
        raise(*d, IBSU_EVENT_FINGER_COUNT, state);
        armStable(*d);
    }

    void takeResult(Device& d) {
        Scanner& sc = *d.sc;
        if (d.rolling)
            raise(d, IBSU_EVENT_ACQUISITION_END, d.type);
        std::optional<ForcedResult> forced = sc.forcedResult;
        sc.forcedResult.reset();
        int status = 0;
        bool scripted = false;
        if (forced) {
            status = forced->status;
            scripted = true;
        } else if (d.script.hasResult) {
            status = d.script.result;
            scripted = true;
        } else {
            status = (d.hadFinger || (sc.fingerOn && !sc.platenDirty)) ? IBSU_STATUS_OK
                                                                       : IBSU_ERR_CAPTURE_NO_FINGER;
        }
        const bool havePrint = d.hadFinger || (scripted && status >= 0);
        auto res = std::make_shared<ResultData>();
        res->status = status;
        res->type = d.type;
        res->whole = havePrint ? printOf(d) : d.blank;
        const int tiles = static_cast<int>(d.boxes.size());
        int fingers = havePrint ? tiles : 0;
        if (forced && forced->fingers >= 0)
            fingers = forced->fingers;
        int segments = status < 0 ? 0 : fingers;
        if (status >= 0 && d.script.segments >= 0)
            segments = d.script.segments;
        if (forced && forced->segments >= 0)
            segments = forced->segments;
        res->fingers = fingers;
        cutSegments(*res, d.boxes, segments);
        d.capturing = false;
        d.rolling = false;
        ++d.fingerToken;
        showFrame(d, res->whole, true);
        Event ev = deviceEvent(d, IBSU_EVENT_RESULT_IMAGE);
        ev.result = std::move(res);
        ev.frameTime = (nowLocked() - d.beginMs) / 1000.0;
        push(std::move(ev));
    }

    static void cutSegments(ResultData& res, const std::vector<Box>& fingerBoxes, int n) {
        const Frame& img = *res.whole;
        std::vector<Box> boxes;
        if (n == static_cast<int>(fingerBoxes.size())) {
            boxes = fingerBoxes;
        } else {
            for (int i = 0; i < n; ++i)
                boxes.push_back(Box{img.width * i / n, 0, img.width * (i + 1) / n, img.height});
        }
        for (Box b : boxes) {
            b.x0 = std::clamp(b.x0, 0, img.width - 1);
            b.y0 = std::clamp(b.y0, 0, img.height - 1);
            b.x1 = std::clamp(b.x1, b.x0 + 1, img.width);
            b.y1 = std::clamp(b.y1, b.y0 + 1, img.height);
            Frame seg;
            seg.width = b.x1 - b.x0;
            seg.height = b.y1 - b.y0;
            seg.pixels.resize(static_cast<std::size_t>(seg.width) * seg.height);
            for (int y = 0; y < seg.height; ++y)
                std::memcpy(seg.pixels.data() + static_cast<std::size_t>(y) * seg.width,
                            img.pixels.data() + static_cast<std::size_t>(b.y0 + y) * img.width +
                                b.x0,
                            static_cast<std::size_t>(seg.width));
            res.segments.push_back(std::move(seg));
            IBSU_SegmentPosition q{};
            q.x1 = static_cast<int16_t>(b.x0);
            q.y1 = static_cast<int16_t>(b.y0);
            q.x2 = static_cast<int16_t>(b.x1 - 1);
            q.y2 = static_cast<int16_t>(b.y0);
            q.x3 = static_cast<int16_t>(b.x1 - 1);
            q.y3 = static_cast<int16_t>(b.y1 - 1);
            q.x4 = static_cast<int16_t>(b.x0);
            q.y4 = static_cast<int16_t>(b.y1 - 1);
            res.quads.push_back(q);
        }
    }

    void cancel(Device& d) {
        d.capturing = false;
        d.rolling = false;
        ++d.serial;
        ++d.fingerToken;
        ++d.epoch; // what this capture still had queued is dropped
    }

    // ---- Client window ----

    void windowGeometry(const Device& d, double& scale, int& left, int& top) const {
        scale = 0;
        left = top = 0;
        const int cw = d.rect[2] - d.rect[0], ch = d.rect[3] - d.rect[1];
        if (!d.hasWindow || d.imageWidth <= 0 || d.imageHeight <= 0)
            return;
        scale = std::min(static_cast<double>(cw) / d.imageWidth,
                         static_cast<double>(ch) / d.imageHeight);
        left = static_cast<int>((cw - d.imageWidth * scale) / 2);
        top = static_cast<int>((ch - d.imageHeight * scale) / 2);
    }

    void refreshDisplay(Device& d) {
        const DisplayHooks* hooks = gHooks.load();
        if (!d.hasWindow || !hooks)
            return;
        DisplayModel m;
        m.image = d.shown;
        m.clientWidth = d.rect[2] - d.rect[0];
        m.clientHeight = d.rect[3] - d.rect[1];
        windowGeometry(d, m.scale, m.left, m.top);
        m.background = d.background;
        m.clientText = d.clientText;
        for (const auto& [id, t] : d.texts)
            m.texts.push_back(t);
        for (const auto& [id, q] : d.quads)
            m.quads.push_back(q);
        hooks->update(d.handle, m);
    }

    // ---- Events ----

    static std::string describe(const Event& ev) {
        static const char* const kNames[IBSU_EVENT_COUNT] = {"DEVICE_COUNT",
                                                             "COMMUNICATION_BREAK",
                                                             "PREVIEW_IMAGE",
                                                             "ACQUISITION_BEGIN",
                                                             "ACQUISITION_END",
                                                             "5",
                                                             "FINGER_QUALITY",
                                                             "FINGER_COUNT",
                                                             "INIT_PROGRESS",
                                                             "PLATEN",
                                                             "10",
                                                             "11",
                                                             "RESULT_IMAGE",
                                                             "KEY_BUTTON"};
        std::string t = "event ";
        t += ev.kind >= 0 && ev.kind < IBSU_EVENT_COUNT ? kNames[ev.kind] : "?";
        if (ev.kind == IBSU_EVENT_INIT_PROGRESS)
            t += " index=" + std::to_string(ev.handle) + " percent=" + std::to_string(ev.arg);
        else if (ev.kind == IBSU_EVENT_DEVICE_COUNT)
            t += " count=" + std::to_string(ev.arg);
        else
            t += " handle=" + std::to_string(ev.handle);
        switch (ev.kind) {
        case IBSU_EVENT_FINGER_QUALITY: {
            t += " qualities=";
            for (std::size_t i = 0; i < ev.ints.size(); ++i)
                t += (i ? "," : "") + std::to_string(ev.ints[i]);
            break;
        }
        case IBSU_EVENT_FINGER_COUNT:
            t += " state=" + std::to_string(ev.arg);
            break;
        case IBSU_EVENT_PLATEN:
            t += std::string(" platen=") + (ev.arg ? "has_fingers" : "cleared");
            break;
        case IBSU_EVENT_KEY_BUTTON:
            t += " button=" + std::to_string(ev.arg);
            break;
        case IBSU_EVENT_ACQUISITION_BEGIN:
        case IBSU_EVENT_ACQUISITION_END:
            t += " type=" + std::to_string(ev.arg);
            break;
        case IBSU_EVENT_PREVIEW_IMAGE:
            if (ev.frame)
                t += " size=" + std::to_string(ev.frame->width) + "x" +
                     std::to_string(ev.frame->height);
            break;
        case IBSU_EVENT_RESULT_IMAGE:
            if (ev.result)
                t += " status=" + std::to_string(ev.result->status) +
                     " type=" + std::to_string(ev.result->type) +
                     " fingers=" + std::to_string(ev.result->fingers) +
                     " segments=" + std::to_string(ev.result->segments.size()) +
                     " size=" + std::to_string(ev.result->whole->width) + "x" +
                     std::to_string(ev.result->whole->height);
            break;
        default:
            break;
        }
        return t;
    }

    uint64_t push(Event ev) {
        if (log::enabled())
            log::line(describe(ev));
        queue_.push_back(std::move(ev));
        ++enqueued_;
        cvDispatch_.notify_one();
        return enqueued_;
    }

    uint64_t raiseGlobal(int kind, int arg, int first = 0) {
        Event ev;
        ev.gen = gen_;
        ev.kind = kind;
        ev.handle = first; // device index for the progress event
        ev.arg = arg;
        return push(std::move(ev));
    }

    Event deviceEvent(const Device& d, int kind) {
        Event ev;
        ev.gen = gen_;
        ev.handle = d.handle;
        ev.kind = kind;
        ev.epoch = d.epoch;
        return ev;
    }

    void raise(const Device& d, int kind, int arg = 0) {
        Event ev = deviceEvent(d, kind);
        ev.arg = arg;
        push(std::move(ev));
    }

    void raiseQualities(const Device& d, bool zeros) {
        Event ev = deviceEvent(d, IBSU_EVENT_FINGER_QUALITY);
        ev.ints = d.sc->qualities;
        if (ev.ints.size() < 4)
            ev.ints.resize(4, 0);
        if (ev.ints.size() > IBSU_MAX_QUALITIES)
            ev.ints.resize(IBSU_MAX_QUALITIES);
        if (zeros)
            std::fill(ev.ints.begin(), ev.ints.end(), 0);
        push(std::move(ev));
    }

    void showFrame(Device& d, std::shared_ptr<const Frame> f, bool final) {
        d.shown = f;
        refreshDisplay(d);
        if (final)
            return; // the result event carries it
        Event ev = deviceEvent(d, IBSU_EVENT_PREVIEW_IMAGE);
        ev.frame = std::move(f);
        ev.frameTime = (nowLocked() - d.beginMs) / 1000.0;
        push(std::move(ev));
    }

    // ---- Housekeeping ----

    void schedule(int delayMs, std::function<void()> fn) {
        timed_.emplace(std::make_pair(nowLocked() + delayMs, timedSeq_++), std::move(fn));
        cvSched_.notify_all();
    }

    int64_t nowLocked() {
        if (clock_ == IBSIM_CLOCK_REALTIME) {
            const auto el =
                std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - base_)
                    .count();
            vnow_ = std::max<int64_t>(vnow_, el);
        }
        return vnow_;
    }

  private:
    Sim() {
        dispatcher_ = std::thread([this] { dispatchLoop(); });
        scheduler_ = std::thread([this] { scheduleLoop(); });
        const char* path = std::getenv(IBSIM_SCENARIO_ENV);
        if (path && *path) {
            std::ifstream in(path, std::ios::binary);
            std::stringstream ss;
            ss << in.rdbuf();
            int line = 0;
            if (!in) {
                std::fprintf(stderr, "ibscan simulator: cannot read scenario '%s'\n", path);
                Scenario empty;
                std::lock_guard lk(m);
                applyScenarioLocked(std::move(empty));
            } else if (reset(ss.str().c_str(), &line, folderOf(path)) != IBSU_STATUS_OK) {
                std::fprintf(stderr, "ibscan simulator: error in scenario '%s' at %s\n", path,
                             scenarioError_.c_str());
            }
        } else {
            reset(nullptr, nullptr, std::string());
        }
        startControl();
    }

    ~Sim() {
        stopControl(); // its thread calls in here
        {
            std::lock_guard lk(m);
            stop_ = true;
            cvDispatch_.notify_all();
            cvSched_.notify_all();
        }
        for (std::thread* t : {&dispatcher_, &scheduler_}) {
            if (t->get_id() == std::this_thread::get_id())
                t->detach(); // the process ends from inside a handler
            else if (t->joinable())
                t->join();
        }
    }

    static std::string folderOf(const std::string& file) {
        const auto slash = file.rfind('/');
        return slash == std::string::npos ? std::string() : file.substr(0, slash);
    }

    void applyScenarioLocked(Scenario sc) {
        ++gen_;
        queue_.clear();
        delivered_ = enqueued_; // the dropped events count as handled
        timed_.clear();
        for (auto& [h, d] : devices_)
            if (d->hasWindow && gHooks.load())
                gHooks.load()->detach(h);
        devices_.clear();
        scanners_.clear();
        attached_.clear();
        globalRegs_ = {};
        clock_ = sc.clock;
        vnow_ = 0;
        base_ = SteadyClock::now();
        scenario_ = std::move(sc);
        nextScannerId_ = kMaxScanners + 1;
        for (const auto& s : scenario_.scanners) {
            if (s.attachMs == 0) {
                attach(s, false);
            } else {
                schedule(s.attachMs, [this, s] {
                    if (!scannerById(s.id))
                        attach(s, true);
                });
            }
            if (s.detachMs >= 0) {
                const int id = s.id;
                schedule(std::max(s.detachMs, s.attachMs), [this, id] {
                    if (auto p = scannerById(id))
                        detach(*p);
                });
            }
        }
        cvSched_.notify_all();
        cvIdle_.notify_all();
    }

    bool resolve(const Event& ev, Registration& reg) {
        if (ev.gen != gen_)
            return false;
        if (ev.kind == IBSU_EVENT_DEVICE_COUNT || ev.kind == IBSU_EVENT_INIT_PROGRESS) {
            reg = globalRegs_[static_cast<std::size_t>(ev.kind)];
            return reg.fn != nullptr;
        }
        auto it = devices_.find(ev.handle);
        if (it == devices_.end() || it->second->epoch != ev.epoch)
            return false;
        reg = it->second->regs[static_cast<std::size_t>(ev.kind)];
        return reg.fn != nullptr;
    }

    static void invoke(const Event& ev, const Registration& reg) {
        switch (ev.kind) {
        case IBSU_EVENT_DEVICE_COUNT:
            reinterpret_cast<IBSU_Callback_DeviceCount>(reg.fn)(ev.arg, reg.ctx);
            break;
        case IBSU_EVENT_COMMUNICATION_BREAK:
            reinterpret_cast<IBSU_Callback_CommunicationBreak>(reg.fn)(ev.handle, reg.ctx);
            break;
        case IBSU_EVENT_PREVIEW_IMAGE:
            reinterpret_cast<IBSU_Callback_PreviewImage>(reg.fn)(
                ev.handle, reg.ctx, imageRecord(*ev.frame, ev.frameTime, false));
            break;
        case IBSU_EVENT_ACQUISITION_BEGIN:
            reinterpret_cast<IBSU_Callback_AcquisitionBegin>(reg.fn)(ev.handle, reg.ctx, ev.arg);
            break;
        case IBSU_EVENT_ACQUISITION_END:
            reinterpret_cast<IBSU_Callback_AcquisitionEnd>(reg.fn)(ev.handle, reg.ctx, ev.arg);
            break;
        case IBSU_EVENT_FINGER_QUALITY:
            reinterpret_cast<IBSU_Callback_FingerQuality>(reg.fn)(
                ev.handle, reg.ctx, ev.ints.data(), static_cast<int>(ev.ints.size()));
            break;
        case IBSU_EVENT_FINGER_COUNT:
            reinterpret_cast<IBSU_Callback_FingerCount>(reg.fn)(ev.handle, reg.ctx, ev.arg);
            break;
        case IBSU_EVENT_INIT_PROGRESS:
            reinterpret_cast<IBSU_Callback_InitProgress>(reg.fn)(ev.handle, reg.ctx, ev.arg);
            break;
        case IBSU_EVENT_PLATEN:
            reinterpret_cast<IBSU_Callback_Platen>(reg.fn)(ev.handle, reg.ctx, ev.arg);
            break;
        case IBSU_EVENT_RESULT_IMAGE: {
            const ResultData& r = *ev.result;
            std::vector<IBSU_ImageData> segs;
            for (const Frame& f : r.segments)
                segs.push_back(imageRecord(f, ev.frameTime, true));
            reinterpret_cast<IBSU_Callback_ResultImage>(reg.fn)(
                ev.handle, reg.ctx, r.status, imageRecord(*r.whole, ev.frameTime, true), r.type,
                r.fingers, static_cast<int>(segs.size()), segs.empty() ? nullptr : segs.data(),
                r.quads.empty() ? nullptr : r.quads.data());
            break;
        }
        case IBSU_EVENT_KEY_BUTTON:
            reinterpret_cast<IBSU_Callback_KeyButton>(reg.fn)(ev.handle, reg.ctx, ev.arg);
            break;
        default:
            break;
        }
    }

    void dispatchLoop() {
        std::unique_lock lk(m);
        dispatcherId_ = std::this_thread::get_id();
        while (!stop_) {
            if (queue_.empty()) {
                cvIdle_.notify_all();
                cvSched_.notify_all();
                cvDispatch_.wait(lk);
                continue;
            }
            Event ev = std::move(queue_.front());
            queue_.pop_front();
            Registration reg;
            if (resolve(ev, reg)) {
                inHandler_ = true;
                lk.unlock();
                invoke(ev, reg);
                ev = Event{}; // release the images outside the lock
                lk.lock();
                inHandler_ = false;
            }
            ++delivered_;
            cvIdle_.notify_all();
        }
    }

    void scheduleLoop() {
        std::unique_lock lk(m);
        while (!stop_) {
            if (timed_.empty() || clock_ == IBSIM_CLOCK_MANUAL) {
                cvSched_.wait(lk);
                continue;
            }
            auto it = timed_.begin();
            if (clock_ == IBSIM_CLOCK_IMMEDIATE) {
                // Time jumps ahead only once everything raised so far has been handled.
                if (!queue_.empty() || inHandler_) {
                    cvSched_.wait(lk);
                    continue;
                }
                vnow_ = std::max(vnow_, it->first.first);
            } else {
                const auto due = base_ + std::chrono::milliseconds(it->first.first);
                if (SteadyClock::now() < due) {
                    cvSched_.wait_until(lk, due);
                    continue;
                }
            }
            auto fn = std::move(it->second);
            timed_.erase(it);
            fn();
            cvIdle_.notify_all();
        }
    }

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

} // namespace

void setDisplayHooks(const DisplayHooks* hooks) {
    gHooks = hooks;
}

} // namespace ibsim

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
    const int r = impl_IBSU_GetClientWindowProperty(handle, propertyId, value);
    if (ibsim::log::enabled())
        ibsim::log::call(
            "IBSU_GetClientWindowProperty",
            {ibsim::log::arg("handle", handle), ibsim::log::arg("propertyId", propertyId),
             r >= 0 && value ? ibsim::log::arg("value", static_cast<const char*>(value))
                             : std::string()},
            r);
    return r;
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
    const int r = impl_IBSU_GetProperty(handle, propertyId, value);
    if (ibsim::log::enabled())
        ibsim::log::call(
            "IBSU_GetProperty",
            {ibsim::log::arg("handle", handle), ibsim::log::arg("propertyId", propertyId),
             r >= 0 && value ? ibsim::log::arg("value", static_cast<const char*>(value))
                             : std::string()},
            r);
    return r;
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

namespace ibsim {

std::string controlStatus() {
    Sim& s = Sim::get();
    std::lock_guard lk(s.m);
    std::string out;
    for (const auto& [id, sc] : s.allScanners()) {
        const Device* d = s.deviceOf(*sc);
        std::string prompt = d ? d->clientText.text : std::string();
        if (d && prompt.empty())
            for (const auto& [oid, t] : d->texts)
                if (!t.text.empty()) {
                    prompt = t.text;
                    break;
                }
        char leds[16];
        std::snprintf(leds, sizeof leds, "0x%08X", sc->leds);
        std::string q;
        for (std::size_t i = 0; i < sc->qualities.size(); ++i)
            q += (i ? "," : "") + std::to_string(sc->qualities[i]);
        out += "scanner " + std::to_string(id) + " model=\"" + sc->script.model + "\" serial=\"" +
               sc->script.serial + "\" attached=" + (sc->attached ? "1" : "0") +
               " open=" + (d ? "1" : "0") + " capturing=" + (d && d->capturing ? "1" : "0") +
               " type=" + std::to_string(d && d->capturing ? d->type : 0) +
               " finger=" + (sc->fingerOn ? "1" : "0") +
               " platen=" + (sc->platenDirty ? "dirty" : "clean") +
               " count_state=" + std::to_string(sc->countState) + " qualities=" + q +
               " leds=" + leds + " led_names=" + log::ledNames(sc->leds) + " prompt=\"" + prompt +
               "\"\n";
    }
    if (out.empty())
        out = "no scanner\n";
    return out;
}

int controlDefaultScanner() {
    Sim& s = Sim::get();
    std::lock_guard lk(s.m);
    int open = 0;
    for (const auto& sc : s.attachedScanners()) {
        if (const Device* d = s.deviceOf(*sc)) {
            if (d->capturing)
                return sc->id;
            if (!open)
                open = sc->id;
        }
    }
    if (open)
        return open;
    return s.attachedScanners().empty() ? 0 : s.attachedScanners().front()->id;
}

int controlPlug(int scannerId) {
    Sim& s = Sim::get();
    std::lock_guard lk(s.m);
    ScannerScript script;
    script.id = scannerId;
    if (auto sc = s.scannerById(scannerId)) {
        if (sc->attached)
            return IBSU_ERR_DEVICE_ACTIVE;
        script = sc->script;
    }
    s.attach(std::move(script), true);
    return IBSU_STATUS_OK;
}

} // namespace ibsim
