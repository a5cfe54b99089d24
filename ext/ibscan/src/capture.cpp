// How a capture goes: its script, the finger on the platen and the result.
#include "world.h"

#include "control.h"
#include "eventlog.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

namespace ibsim {

int Sim::begin(int handle, int type, int resolution, int options) {
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

int Sim::scriptedResult(Scanner& sc, const char* key) {
    auto it = sc.callResults.find(key);
    if (it == sc.callResults.end() || it->second.empty())
        return IBSU_STATUS_OK;
    const int r = it->second.front();
    it->second.pop_front();
    return r;
}

bool Sim::available(const Scanner& sc, int type) {
    return std::find(sc.types.begin(), sc.types.end(), type) != sc.types.end();
}

std::vector<int> Sim::defaultQualities(int fingers) {
    std::vector<int> q(4, 0); // scanners report four places
    for (int i = 0; i < std::min(fingers, 4); ++i)
        q[static_cast<std::size_t>(i)] = IBSU_QUALITY_GOOD;
    return q;
}

int Sim::defaultFingers(int type) {
    return type == IBSU_FLAT_TWO_FINGERS ? 2 : type == IBSU_FLAT_FOUR_FINGERS ? 4 : 1;
}

void Sim::startCapture(Device& d, int type, int options) {
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
        schedule(d.script.fingerMs, whenCapturing([this](Device& x) { placeFinger(*x.sc, {}); }));
    if (d.script.liftMs >= 0)
        schedule(d.script.liftMs, whenCapturing([this](Device& x) { lift(*x.sc); }));
    const bool scriptLifts =
        d.script.liftMs >= 0 ||
        std::any_of(d.script.steps.begin(), d.script.steps.end(),
                    [](const TimedStep& st) { return st.action == TimedStep::Lift; });
    if (type == IBSU_ROLL_SINGLE_FINGER && d.script.fingerMs >= 0 && !scriptLifts)
        schedule(d.script.fingerMs + kRollMs, whenCapturing([this](Device& x) { lift(*x.sc); }));
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

void Sim::act(Scanner& sc, const TimedStep& step) {
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

void Sim::schedulePreview(Device& d) {
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

void Sim::fingerArrived(Device& d) {
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

void Sim::armStable(Device& d) {
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

bool Sim::readyForAutoCapture(const Device& d) {
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
    return (d.options & IBSU_OPTION_IGNORE_FINGER_COUNT) || sc.countState == IBSU_FINGER_COUNT_OK;
}

void Sim::placeFinger(Scanner& sc, const std::vector<int>& qualities) {
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

void Sim::lift(Scanner& sc) {
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

void Sim::setPlaten(Scanner& sc, bool dirty) {
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

void Sim::setCountState(Scanner& sc, int state) {
    sc.countState = state;
    Device* d = deviceOf(sc);
    if (!d || !d->capturing || !sc.fingerOn || sc.platenDirty)
        return;
    raise(*d, IBSU_EVENT_FINGER_COUNT, state);
    armStable(*d);
}

void Sim::takeResult(Device& d) {
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

void Sim::cancel(Device& d) {
    d.capturing = false;
    d.rolling = false;
    ++d.serial;
    ++d.fingerToken;
    ++d.epoch; // what this capture still had queued is dropped
}

} // namespace ibsim
