// Records the events the scanner library raises, for the ibscan tests.
#pragma once

#include "IBScanSim.h"
#include "IBScanUltimateApi.h"

#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct RecordedEvent {
    int kind = -1;
    int first = 0; // handle, device count or device index
    int arg = 0;   // image type, state, progress or button
    std::vector<int> qualities;
    int status = 0, imageType = 0, fingers = 0, segmentCount = 0;
    IBSU_ImageData image{};
    std::vector<uint8_t> pixels; // copy of the image of a preview or result event
    std::vector<IBSU_ImageData> segments;
    std::vector<std::vector<uint8_t>> segmentPixels;
    std::vector<IBSU_SegmentPosition> quads;
    std::thread::id thread;
};

class Recorder {
  public:
    // Registers every device event kind of `handle` (and, with handle 0, the two
    // library-wide kinds).
    int listen(int handle) {
        if (handle == 0) {
            int r = IBSU_RegisterCallbacks(0, IBSU_EVENT_DEVICE_COUNT,
                                           IBSU_CALLBACK(&Recorder::onCount), this);
            return r ? r
                     : IBSU_RegisterCallbacks(0, IBSU_EVENT_INIT_PROGRESS,
                                              IBSU_CALLBACK(&Recorder::onProgress), this);
        }
        const struct {
            int kind;
            IBSU_Callback fn;
        } table[] = {
            {IBSU_EVENT_COMMUNICATION_BREAK, IBSU_CALLBACK(&Recorder::onBreak)},
            {IBSU_EVENT_PREVIEW_IMAGE, IBSU_CALLBACK(&Recorder::onPreview)},
            {IBSU_EVENT_ACQUISITION_BEGIN, IBSU_CALLBACK(&Recorder::onBegin)},
            {IBSU_EVENT_ACQUISITION_END, IBSU_CALLBACK(&Recorder::onEnd)},
            {IBSU_EVENT_FINGER_QUALITY, IBSU_CALLBACK(&Recorder::onQuality)},
            {IBSU_EVENT_FINGER_COUNT, IBSU_CALLBACK(&Recorder::onFingerCount)},
            {IBSU_EVENT_PLATEN, IBSU_CALLBACK(&Recorder::onPlaten)},
            {IBSU_EVENT_RESULT_IMAGE, IBSU_CALLBACK(&Recorder::onResult)},
            {IBSU_EVENT_KEY_BUTTON, IBSU_CALLBACK(&Recorder::onKey)},
        };
        for (const auto& e : table)
            if (int r = IBSU_RegisterCallbacks(handle, e.kind, e.fn, this))
                return r;
        return IBSU_STATUS_OK;
    }

    std::vector<RecordedEvent> events() {
        std::lock_guard lk(m_);
        return events_;
    }
    std::vector<int> kinds() {
        std::lock_guard lk(m_);
        std::vector<int> k;
        for (const auto& e : events_)
            k.push_back(e.kind);
        return k;
    }
    std::vector<RecordedEvent> ofKind(int kind) {
        std::vector<RecordedEvent> r;
        for (auto& e : events())
            if (e.kind == kind)
                r.push_back(e);
        return r;
    }
    void clear() {
        std::lock_guard lk(m_);
        events_.clear();
    }

  private:
    void add(RecordedEvent e) {
        e.thread = std::this_thread::get_id();
        std::lock_guard lk(m_);
        events_.push_back(std::move(e));
    }
    static RecordedEvent make(int kind, int first, int arg = 0) {
        RecordedEvent e;
        e.kind = kind;
        e.first = first;
        e.arg = arg;
        return e;
    }
    static std::vector<uint8_t> copy(const IBSU_ImageData& img) {
        std::vector<uint8_t> px;
        const auto* p = static_cast<const uint8_t*>(img.Buffer);
        for (uint32_t y = 0; y < img.Height; ++y)
            px.insert(px.end(), p + static_cast<std::ptrdiff_t>(y) * img.Pitch,
                      p + static_cast<std::ptrdiff_t>(y) * img.Pitch + img.Width);
        return px;
    }
    static void onCount(int count, void* ctx) {
        static_cast<Recorder*>(ctx)->add(make(IBSU_EVENT_DEVICE_COUNT, count));
    }
    static void onProgress(int index, void* ctx, int value) {
        static_cast<Recorder*>(ctx)->add(make(IBSU_EVENT_INIT_PROGRESS, index, value));
    }
    static void onBreak(int h, void* ctx) {
        static_cast<Recorder*>(ctx)->add(make(IBSU_EVENT_COMMUNICATION_BREAK, h));
    }
    static void onPreview(int h, void* ctx, IBSU_ImageData img) {
        RecordedEvent e = make(IBSU_EVENT_PREVIEW_IMAGE, h);
        e.image = img;
        e.pixels = copy(img);
        static_cast<Recorder*>(ctx)->add(std::move(e));
    }
    static void onBegin(int h, void* ctx, int type) {
        static_cast<Recorder*>(ctx)->add(make(IBSU_EVENT_ACQUISITION_BEGIN, h, type));
    }
    static void onEnd(int h, void* ctx, int type) {
        static_cast<Recorder*>(ctx)->add(make(IBSU_EVENT_ACQUISITION_END, h, type));
    }
    static void onQuality(int h, void* ctx, const int* q, int n) {
        RecordedEvent e = make(IBSU_EVENT_FINGER_QUALITY, h);
        e.qualities.assign(q, q + n);
        static_cast<Recorder*>(ctx)->add(std::move(e));
    }
    static void onFingerCount(int h, void* ctx, int state) {
        static_cast<Recorder*>(ctx)->add(make(IBSU_EVENT_FINGER_COUNT, h, state));
    }
    static void onPlaten(int h, void* ctx, int state) {
        static_cast<Recorder*>(ctx)->add(make(IBSU_EVENT_PLATEN, h, state));
    }
    static void onKey(int h, void* ctx, int button) {
        static_cast<Recorder*>(ctx)->add(make(IBSU_EVENT_KEY_BUTTON, h, button));
    }
    static void onResult(int h, void* ctx, int status, IBSU_ImageData img, int type, int fingers,
                         int n, const IBSU_ImageData* segs, const IBSU_SegmentPosition* quads) {
        RecordedEvent e = make(IBSU_EVENT_RESULT_IMAGE, h);
        e.status = status;
        e.image = img;
        e.pixels = copy(img);
        e.imageType = type;
        e.fingers = fingers;
        e.segmentCount = n;
        for (int i = 0; i < n; ++i) {
            e.segments.push_back(segs[i]);
            e.segmentPixels.push_back(copy(segs[i]));
            e.quads.push_back(quads[i]);
        }
        static_cast<Recorder*>(ctx)->add(std::move(e));
    }

    std::mutex m_;
    std::vector<RecordedEvent> events_;
};
