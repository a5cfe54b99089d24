// The libfprint backend: every libfprint device that can capture images becomes a scanner.
// libfprint runs on a thread of its own with its own GMainContext, so the library works
// whatever event loop (if any) the host runs. Capturing is continuous: each image a device
// returns is delivered on that thread, and the next capture starts at once.
#include <fprint.h>
#include <glib.h>

#include "Core.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace scanman {
namespace {

constexpr guint kRetryDelayMs = 500;

class FprintBackend;

struct Device {
    FprintBackend* owner = nullptr;
    FpDevice* dev = nullptr;
    std::string id;
    // Written on the libfprint thread only; stopScanner reads the atomics while it waits.
    bool wanted = false;           // capturing was asked for
    std::atomic<bool> open{false}; // the device is open
    std::atomic<bool> busy{false}; // an open, capture or close is under way
    GCancellable* cancel = nullptr;
    std::atomic<guint> retrySource{0}; // pending restart after an error
};

class FprintBackend : public Backend {
  public:
    const char* name() const override { return "fprint"; }

    int open() override {
        // libfprint's enumeration waits by iterating GLib's global default context, so it
        // must run on a thread that can own that context: the calling thread (in a Qt
        // program, the GUI thread, which owns it). It runs once, at SMInitialize; all later
        // work (open, capture, close) runs on the library's own thread and context.
        GMainContext* global = g_main_context_default();
        if (!g_main_context_acquire(global)) {
            std::fprintf(stderr, "ScanMan: call SMInitialize on the thread that owns GLib's "
                                 "default main context (the GUI thread)\n");
            return SM_E_FAILED;
        }
        fp_ = fp_context_new();
        GPtrArray* found = fp_context_get_devices(fp_);
        for (guint i = 0; found && i < found->len; ++i) {
            auto* dev = FP_DEVICE(g_ptr_array_index(found, i));
            if (!fp_device_has_feature(dev, FP_DEVICE_FEATURE_CAPTURE))
                continue;
            auto d = std::make_unique<Device>();
            d->owner = this;
            d->dev = FP_DEVICE(g_object_ref(dev));
            d->id = std::string(fp_device_get_driver(dev)) + ":" + fp_device_get_device_id(dev);
            devices_.push_back(std::move(d));
        }
        g_main_context_release(global);
        thread_ = std::thread([this] { Run(); });
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return ready_; });
        return 0;
    }

    std::vector<ScannerInfo> scanners() override {
        std::vector<ScannerInfo> list;
        for (const auto& d : devices_)
            list.push_back(ScannerInfo{d->id, 500, false, false});
        return list;
    }

    int startScanner(const std::string& id) override {
        Device* d = Find(id);
        if (!d)
            return SM_E_INVALID_ARGUMENT;
        OnLoop([this, d] {
            d->wanted = true;
            Advance(d);
        });
        return 0;
    }

    void stopScanner(const std::string& id) override {
        Device* d = Find(id);
        if (!d)
            return;
        OnLoop([this, d] {
            d->wanted = false;
            Advance(d);
        });
        if (std::this_thread::get_id() == thread_.get_id())
            return; // called from inside a callback: the loop settles the device later
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return Settled(d); });
    }

    void close() override {
        if (!thread_.joinable()) {
            for (auto& d : devices_)
                g_clear_object(&d->dev);
            g_clear_object(&fp_);
            return;
        }
        for (auto& d : devices_)
            stopScanner(d->id);
        OnLoop([this] { g_main_loop_quit(loop_); });
        thread_.join();
    }

    ~FprintBackend() override { close(); }

  private:
    Device* Find(const std::string& id) {
        for (auto& d : devices_)
            if (d->id == id)
                return d.get();
        return nullptr;
    }

    // Runs fn on the libfprint thread. The work goes through our own queue (not through
    // the GSource's data) so that its hand-over is under a lock we own.
    void OnLoop(std::function<void()> fn) {
        {
            std::lock_guard lock(mutex_);
            work_.push_back(std::move(fn));
        }
        g_main_context_invoke_full(context_, G_PRIORITY_DEFAULT, RunWork, this, nullptr);
    }

    static gboolean RunWork(gpointer p) {
        auto* self = static_cast<FprintBackend*>(p);
        std::function<void()> fn;
        {
            std::lock_guard lock(self->mutex_);
            if (self->work_.empty())
                return G_SOURCE_REMOVE;
            fn = std::move(self->work_.front());
            self->work_.pop_front();
        }
        fn();
        return G_SOURCE_REMOVE;
    }

    bool Settled(const Device* d) const { return !d->busy && !d->open && !d->retrySource; }

    void Notify() {
        std::lock_guard lock(mutex_);
        changed_.notify_all();
    }

    void Run() {
        context_ = g_main_context_new();
        g_main_context_push_thread_default(context_);
        loop_ = g_main_loop_new(context_, FALSE);
        {
            std::lock_guard lock(mutex_);
            ready_ = true;
            changed_.notify_all();
        }
        g_main_loop_run(loop_);
        // Let the closes finish their clean-up before the objects go.
        while (g_main_context_iteration(context_, FALSE)) {
        }
        for (auto& d : devices_)
            g_clear_object(&d->dev);
        g_clear_object(&fp_);
        g_main_loop_unref(loop_);
        g_main_context_pop_thread_default(context_);
        g_main_context_unref(context_);
    }

    // Moves a device one step towards what is wanted. Runs on the libfprint thread.
    void Advance(Device* d) {
        if (d->busy) {
            if (!d->wanted && d->cancel)
                g_cancellable_cancel(d->cancel);
            return;
        }
        if (d->retrySource) {
            if (d->wanted)
                return;
            g_source_remove(d->retrySource.load());
            d->retrySource = 0;
        }
        if (d->wanted && !d->open) {
            d->busy = true;
            fp_device_open(d->dev, nullptr, OpenDone, d);
        } else if (d->wanted) {
            d->busy = true;
            d->cancel = g_cancellable_new();
            fp_device_capture(d->dev, TRUE, d->cancel, CaptureDone, d);
        } else if (d->open) {
            d->busy = true;
            fp_device_close(d->dev, nullptr, CloseDone, d);
        }
        Notify();
    }

    void RetryLater(Device* d) {
        GSource* source = g_timeout_source_new(kRetryDelayMs);
        g_source_set_callback(
            source,
            [](gpointer p) -> gboolean {
                auto* dev = static_cast<Device*>(p);
                dev->retrySource = 0;
                dev->owner->Advance(dev);
                return G_SOURCE_REMOVE;
            },
            d, nullptr);
        d->retrySource = g_source_attach(source, context_);
        g_source_unref(source);
    }

    static void OpenDone(GObject*, GAsyncResult* res, gpointer p) {
        auto* d = static_cast<Device*>(p);
        GError* error = nullptr;
        d->busy = false;
        d->open = fp_device_open_finish(d->dev, res, &error) != FALSE;
        if (!d->open) {
            g_error_free(error);
            ReportStatus(d->id, SM_STATUS_ERROR);
            if (d->wanted) {
                d->owner->RetryLater(d);
                return;
            }
        }
        d->owner->Advance(d);
    }

    static void CaptureDone(GObject*, GAsyncResult* res, gpointer p) {
        auto* d = static_cast<Device*>(p);
        GError* error = nullptr;
        FpImage* image = fp_device_capture_finish(d->dev, res, &error);
        d->busy = false;
        g_clear_object(&d->cancel);
        if (image) {
            d->owner->Hand(d, image);
            g_object_unref(image);
        } else {
            const bool retry = error && error->domain == FP_DEVICE_RETRY;
            const bool cancelled = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
            g_clear_error(&error);
            if (!retry && !cancelled) {
                ReportStatus(d->id, SM_STATUS_ERROR);
                if (d->wanted) {
                    d->owner->RetryLater(d);
                    return;
                }
            }
        }
        d->owner->Advance(d);
    }

    static void CloseDone(GObject*, GAsyncResult* res, gpointer p) {
        auto* d = static_cast<Device*>(p);
        GError* error = nullptr;
        fp_device_close_finish(d->dev, res, &error);
        g_clear_error(&error);
        d->busy = false;
        d->open = false;
        d->owner->Advance(d);
        d->owner->Notify();
    }

    void Hand(Device* d, FpImage* image) {
        const guint w = fp_image_get_width(image), h = fp_image_get_height(image);
        gsize len = 0;
        const guchar* data = fp_image_get_data(image, &len);
        if (!data || w == 0 || h == 0 || w > guint(kMaxSide) || h > guint(kMaxSide) ||
            len < gsize(w) * h || int64_t(w) * h > kMaxPixels)
            return;
        const double ppmm = fp_image_get_ppmm(image);
        const int ppi = ppmm > 0 ? static_cast<int>(std::lround(ppmm * 25.4)) : 500;
        Deliver(d->id, int(w), int(h), data, ppi);
        ReportStatus(d->id, SM_STATUS_FINGER_REMOVED);
    }

    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool ready_ = false;
    GMainContext* context_ = nullptr;
    GMainLoop* loop_ = nullptr;
    FpContext* fp_ = nullptr;
    std::vector<std::unique_ptr<Device>> devices_;
    std::deque<std::function<void()>> work_;
};

} // namespace

std::unique_ptr<Backend> MakeFprintBackend() {
    return std::make_unique<FprintBackend>();
}

} // namespace scanman
