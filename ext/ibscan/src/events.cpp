// The clock, the timed actions, the event queue and its delivery thread, and the preview.
#include "world.h"

#include "control.h"
#include "eventlog.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

namespace ibsim {

int Sim::setClock(int mode) {
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

int Sim::advance(int ms) {
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

int64_t Sim::now() {
    std::lock_guard lk(m);
    return nowLocked();
}

int Sim::waitIdle() {
    std::unique_lock lk(m);
    if (std::this_thread::get_id() == dispatcherId_)
        return IBSU_ERR_DEVICE_INVALID_STATE;
    cvIdle_.wait(lk, [&] {
        return queue_.empty() && !inHandler_ && (clock_ != IBSIM_CLOCK_IMMEDIATE || timed_.empty());
    });
    return IBSU_STATUS_OK;
}

void Sim::windowGeometry(const Device& d, double& scale, int& left, int& top) const {
    scale = 0;
    left = top = 0;
    const int cw = d.rect[2] - d.rect[0], ch = d.rect[3] - d.rect[1];
    if (!d.hasWindow || d.imageWidth <= 0 || d.imageHeight <= 0)
        return;
    scale =
        std::min(static_cast<double>(cw) / d.imageWidth, static_cast<double>(ch) / d.imageHeight);
    left = static_cast<int>((cw - d.imageWidth * scale) / 2);
    top = static_cast<int>((ch - d.imageHeight * scale) / 2);
}

void Sim::refreshDisplay(Device& d) {
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

std::string Sim::describe(const Event& ev) {
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
            t +=
                " size=" + std::to_string(ev.frame->width) + "x" + std::to_string(ev.frame->height);
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

uint64_t Sim::push(Event ev) {
    if (log::enabled())
        log::line(describe(ev));
    queue_.push_back(std::move(ev));
    ++enqueued_;
    cvDispatch_.notify_one();
    return enqueued_;
}

uint64_t Sim::raiseGlobal(int kind, int arg, int first) {
    Event ev;
    ev.gen = gen_;
    ev.kind = kind;
    ev.handle = first; // device index for the progress event
    ev.arg = arg;
    return push(std::move(ev));
}

Event Sim::deviceEvent(const Device& d, int kind) {
    Event ev;
    ev.gen = gen_;
    ev.handle = d.handle;
    ev.kind = kind;
    ev.epoch = d.epoch;
    return ev;
}

void Sim::raise(const Device& d, int kind, int arg) {
    Event ev = deviceEvent(d, kind);
    ev.arg = arg;
    push(std::move(ev));
}

void Sim::raiseQualities(const Device& d, bool zeros) {
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

void Sim::showFrame(Device& d, std::shared_ptr<const Frame> f, bool final) {
    d.shown = f;
    refreshDisplay(d);
    if (final)
        return; // the result event carries it
    Event ev = deviceEvent(d, IBSU_EVENT_PREVIEW_IMAGE);
    ev.frame = std::move(f);
    ev.frameTime = (nowLocked() - d.beginMs) / 1000.0;
    push(std::move(ev));
}

void Sim::schedule(int delayMs, std::function<void()> fn) {
    timed_.emplace(std::make_pair(nowLocked() + delayMs, timedSeq_++), std::move(fn));
    cvSched_.notify_all();
}

int64_t Sim::nowLocked() {
    if (clock_ == IBSIM_CLOCK_REALTIME) {
        const auto el =
            std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - base_)
                .count();
        vnow_ = std::max<int64_t>(vnow_, el);
    }
    return vnow_;
}

bool Sim::resolve(const Event& ev, Registration& reg) {
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

void Sim::invoke(const Event& ev, const Registration& reg) {
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
        reinterpret_cast<IBSU_Callback_FingerQuality>(reg.fn)(ev.handle, reg.ctx, ev.ints.data(),
                                                              static_cast<int>(ev.ints.size()));
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

void Sim::dispatchLoop() {
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

void Sim::scheduleLoop() {
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

} // namespace ibsim
