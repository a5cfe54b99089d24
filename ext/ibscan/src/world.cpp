// The simulated world: scenario, scanners plugged in and out, devices opened and closed.
#include "world.h"

#include "control.h"
#include "eventlog.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

namespace ibsim {

Sim& Sim::get() {
    static Sim sim;
    return sim;
}

int Sim::reset(const char* text, int* errorLine, const std::string& baseDir) {
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

std::shared_ptr<Scanner> Sim::scannerById(int id) {
    auto it = scanners_.find(id);
    return it == scanners_.end() ? nullptr : it->second;
}

Device* Sim::deviceOf(const Scanner& sc) {
    if (sc.handle < 0)
        return nullptr;
    auto it = devices_.find(sc.handle);
    return it == devices_.end() ? nullptr : it->second.get();
}

Device* Sim::device(int handle, int& err, bool allowLost) {
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

std::shared_ptr<Scanner> Sim::attachedAt(int index) {
    if (index < 0 || index >= deviceCount())
        return nullptr;
    return attached_[static_cast<std::size_t>(index)];
}

int Sim::attach(ScannerScript script, bool raise) {
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

void Sim::detach(Scanner& sc) {
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

int Sim::open(int index, int* pHandle) {
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

int Sim::close(int handle) {
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

int Sim::registerCallback(int handle, int kind, IBSU_Callback fn, void* ctx) {
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

std::string Sim::scenarioError() {
    std::lock_guard lk(m);
    return scenarioError_;
}

Sim::Sim() {
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
    // The threads start on a complete world: nothing they read is still being built.
    dispatcher_ = std::thread([this] { dispatchLoop(); });
    scheduler_ = std::thread([this] { scheduleLoop(); });
    startControl();
}

Sim::~Sim() {
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

std::string Sim::folderOf(const std::string& file) {
    const auto slash = file.rfind('/');
    return slash == std::string::npos ? std::string() : file.substr(0, slash);
}

void Sim::applyScenarioLocked(Scenario sc) {
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

std::atomic<const DisplayHooks*> gHooks{nullptr};

void setDisplayHooks(const DisplayHooks* hooks) {
    gHooks = hooks;
}

std::string controlStatus() {
    Sim& s = Sim::get();
    std::lock_guard lk(s.m);
    std::string out;
    for (const auto& [id, sc] : s.allScanners()) {
        // An unplugged scanner shows no light and no prompt.
        const Device* d = sc->attached ? s.deviceOf(*sc) : nullptr;
        const uint32_t shownLeds = sc->attached ? sc->leds : 0;
        std::string prompt = d ? d->clientText.text : std::string();
        if (d && prompt.empty())
            for (const auto& [oid, t] : d->texts)
                if (!t.text.empty()) {
                    prompt = t.text;
                    break;
                }
        char leds[16];
        std::snprintf(leds, sizeof leds, "0x%08X", shownLeds);
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
               " leds=" + leds + " led_names=" + log::ledNames(shownLeds) + " prompt=\"" + prompt +
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
