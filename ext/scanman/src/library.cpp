// The library's calls: state shared by all backends, parameters, scanner list and the
// bookkeeping that lets SMStopCapturing promise that no callback runs after it returns.
#include "Core.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

namespace scanman {
namespace {

struct Capture {
    SMImageCallback image = nullptr;
    SMStatusCallback status = nullptr;
    void* context = nullptr;
};

struct State {
    std::mutex mutex;
    std::condition_variable idle;
    std::unique_ptr<Backend> backend;
    std::vector<ScannerInfo> scanners;
    std::map<std::string, Capture> captures;
    SMMonitorCallback monitor = nullptr;
    void* monitorContext = nullptr;
    int running = 0; // callbacks running now
    std::vector<std::thread::id> callbackThreads;
};

State& S() {
    static State state;
    return state;
}

// Serialises SMInitialize and SMFinalize against each other.
std::mutex& LifeMutex() {
    static std::mutex m;
    return m;
}

// Marks the calling thread as inside a callback for the duration of one call.
class InCallback {
  public:
    explicit InCallback(State& s) : s_(s) {
        s_.running++;
        s_.callbackThreads.push_back(std::this_thread::get_id());
    }
    ~InCallback() {
        std::lock_guard lock(s_.mutex);
        s_.running--;
        auto it = std::find(s_.callbackThreads.begin(), s_.callbackThreads.end(),
                            std::this_thread::get_id());
        if (it != s_.callbackThreads.end())
            s_.callbackThreads.erase(it);
        s_.idle.notify_all();
    }

  private:
    State& s_;
};

// Waits (with the lock held through `lock`) until no callback runs, unless the caller is
// itself inside one.
void WaitForCallbacks(State& s, std::unique_lock<std::mutex>& lock) {
    const auto self = std::this_thread::get_id();
    s.idle.wait(lock, [&] {
        if (s.running == 0)
            return true;
        return std::find(s.callbackThreads.begin(), s.callbackThreads.end(), self) !=
               s.callbackThreads.end();
    });
}

const ScannerInfo* FindScanner(State& s, const char* id) {
    for (const auto& info : s.scanners)
        if (info.id == id)
            return &info;
    return nullptr;
}

int CopyOut(const std::string& text, char* buffer, int size) {
    const int need = static_cast<int>(text.size()) + 1;
    if (!buffer)
        return need;
    if (size < need)
        return SM_E_INVALID_ARGUMENT;
    std::memcpy(buffer, text.c_str(), size_t(need));
    return need;
}

} // namespace

bool Deliver(const std::string& id, int width, int height, const unsigned char* pixels,
             int resolution) {
    State& s = S();
    std::unique_lock lock(s.mutex);
    auto it = s.captures.find(id);
    if (it == s.captures.end() || !it->second.image)
        return false;
    const Capture c = it->second;
    InCallback guard(s);
    lock.unlock();
    c.image(id.c_str(), width, height, pixels, resolution, c.context);
    return true;
}

void ReportStatus(const std::string& id, int status) {
    State& s = S();
    std::unique_lock lock(s.mutex);
    auto it = s.captures.find(id);
    if (it == s.captures.end() || !it->second.status)
        return;
    const Capture c = it->second;
    InCallback guard(s);
    lock.unlock();
    c.status(id.c_str(), status, c.context);
}

bool IsCapturing(const std::string& id) {
    std::lock_guard lock(S().mutex);
    return S().captures.count(id) != 0;
}

std::string FirstCapturing() {
    State& s = S();
    std::lock_guard lock(s.mutex);
    for (const auto& info : s.scanners)
        if (s.captures.count(info.id))
            return info.id;
    return {};
}

} // namespace scanman

using namespace scanman;

extern "C" {

static int impl_SMInitialize(void) {
    std::lock_guard life(LifeMutex());
    State& s = S();
    {
        std::lock_guard lock(s.mutex);
        if (s.backend)
            return 0;
    }
    const char* which = std::getenv("SCANMAN_BACKEND");
    std::unique_ptr<Backend> backend;
    if (!which || !*which || std::strcmp(which, "sim") == 0)
        backend = MakeSimBackend();
    else if (std::strcmp(which, "fprint") == 0)
        backend = MakeFprintBackend();
    if (!backend)
        return SM_E_INVALID_ARGUMENT;
    const int rc = backend->open();
    if (rc < 0) {
        backend->close();
        return rc;
    }
    std::lock_guard lock(s.mutex);
    s.scanners = backend->scanners();
    s.backend = std::move(backend);
    return 0;
}

SM_API int SMInitialize(void) {
    const int r = impl_SMInitialize();
    LogLine(std::string("call SMInitialize(") + ") -> " + std::to_string(r));
    return r;
}

static int impl_SMFinalize(void) {
    {
        // The library's threads cannot be stopped from one of its callbacks.
        State& s = S();
        std::lock_guard lock(s.mutex);
        if (std::find(s.callbackThreads.begin(), s.callbackThreads.end(),
                      std::this_thread::get_id()) != s.callbackThreads.end())
            return SM_E_FAILED;
    }
    std::lock_guard life(LifeMutex());
    SMStopCapturing(nullptr);
    SMRemoveMonitor();
    State& s = S();
    std::unique_ptr<Backend> backend;
    {
        std::lock_guard lock(s.mutex);
        backend = std::move(s.backend);
        s.scanners.clear();
    }
    if (!backend)
        return SM_E_NOT_INITIALIZED;
    backend->close();
    return 0;
}

SM_API int SMFinalize(void) {
    const int r = impl_SMFinalize();
    LogLine(std::string("call SMFinalize(") + ") -> " + std::to_string(r));
    return r;
}

static int impl_SMGetParameter(const char* scannerId, int parameter, void* value) {
    State& s = S();
    std::lock_guard lock(s.mutex);
    if (!s.backend)
        return SM_E_NOT_INITIALIZED;
    const ScannerInfo* scanner = nullptr;
    if (scannerId && !(scanner = FindScanner(s, scannerId)))
        return SM_E_INVALID_ARGUMENT;
    const bool query = parameter == SM_PARAM_QUERY_TYPE;
    const int number = query ? static_cast<int>(reinterpret_cast<intptr_t>(value)) : parameter;
    int type = 0;
    switch (number) {
    case SM_PARAM_LIBRARY_NAME:
        type = SM_TYPE_STRING;
        break;
    case SM_PARAM_API_VERSION:
    case SM_PARAM_MAX_PIXELS:
        type = SM_TYPE_INT;
        break;
    default:
        return SM_E_INVALID_PARAMETER;
    }
    if (!scanner) {
        if (const int fail = s.backend->parameterFailure(number); fail < 0)
            return fail;
        if (const int t = s.backend->typeOverride(number))
            type = t;
    }
    if (query)
        return type;
    if (type == SM_TYPE_STRING) {
        std::string text = std::string("ScanMan 1.0 (") + s.backend->name() + ")";
        if (scanner)
            text += " " + scanner->id;
        if (!value)
            return static_cast<int>(text.size());
        std::memcpy(value, text.c_str(), text.size() + 1);
        return 0;
    }
    if (!value)
        return SM_E_ARGUMENT_NULL;
    int32_t result = 0;
    if (number == SM_PARAM_API_VERSION)
        result = 1;
    else if (number == SM_PARAM_MAX_PIXELS)
        result = static_cast<int32_t>(kMaxPixels);
    std::memcpy(value, &result, sizeof result);
    return 0;
}

SM_API int SMGetParameter(const char* scannerId, int parameter, void* value) {
    const int r = impl_SMGetParameter(scannerId, parameter, value);
    LogLine(std::string("call SMGetParameter(") + " scannerId=" +
            (scannerId ? "\"" + std::string(scannerId) + "\"" : std::string("null")) +
            " parameter=" + std::to_string(parameter) + std::string(" value=") +
            (value ? "set" : "null") + ") -> " + std::to_string(r));
    return r;
}

static int impl_SMSetMonitor(SMMonitorCallback callback, void* context) {
    State& s = S();
    std::lock_guard lock(s.mutex);
    if (!s.backend)
        return SM_E_NOT_INITIALIZED;
    s.monitor = callback;
    s.monitorContext = context;
    return 0;
}

SM_API int SMSetMonitor(SMMonitorCallback callback, void* context) {
    const int r = impl_SMSetMonitor(callback, context);
    LogLine(std::string("call SMSetMonitor(") + std::string(" callback=") +
            (callback ? "set" : "null") + std::string(" context=") + (context ? "set" : "null") +
            ") -> " + std::to_string(r));
    return r;
}

static int impl_SMRemoveMonitor(void) {
    State& s = S();
    std::lock_guard lock(s.mutex);
    s.monitor = nullptr;
    s.monitorContext = nullptr;
    return 0;
}

SM_API int SMRemoveMonitor(void) {
    const int r = impl_SMRemoveMonitor();
    LogLine(std::string("call SMRemoveMonitor(") + ") -> " + std::to_string(r));
    return r;
}

static int impl_SMGetScannerCount(void) {
    State& s = S();
    std::lock_guard lock(s.mutex);
    if (!s.backend)
        return SM_E_NOT_INITIALIZED;
    if (const int forced = s.backend->countOverride(); forced < 0)
        return forced;
    return static_cast<int>(s.scanners.size());
}

SM_API int SMGetScannerCount(void) {
    const int r = impl_SMGetScannerCount();
    LogLine(std::string("call SMGetScannerCount(") + ") -> " + std::to_string(r));
    return r;
}

static int impl_SMGetScannerId(int index, char* buffer, int size) {
    State& s = S();
    std::lock_guard lock(s.mutex);
    if (!s.backend)
        return SM_E_NOT_INITIALIZED;
    if (index < 0 || size_t(index) >= s.scanners.size())
        return SM_E_INVALID_ARGUMENT;
    const ScannerInfo& info = s.scanners[size_t(index)];
    if (info.idFails)
        return SM_E_FAILED;
    return CopyOut(info.id, buffer, size);
}

SM_API int SMGetScannerId(int index, char* buffer, int size) {
    const int r = impl_SMGetScannerId(index, buffer, size);
    LogLine(std::string("call SMGetScannerId(") + " index=" + std::to_string(index) +
            std::string(" buffer=") + (buffer ? "set" : "null") + " size=" + std::to_string(size) +
            ") -> " + std::to_string(r));
    return r;
}

static int impl_SMStartCapturing(const char* scannerId, SMImageCallback imageCallback,
                                 SMStatusCallback statusCallback, void* context) {
    State& s = S();
    std::string id;
    Backend* backend = nullptr;
    {
        std::lock_guard lock(s.mutex);
        if (!s.backend)
            return SM_E_NOT_INITIALIZED;
        if (!scannerId || !imageCallback)
            return SM_E_ARGUMENT_NULL;
        const ScannerInfo* info = FindScanner(s, scannerId);
        if (!info)
            return SM_E_INVALID_ARGUMENT;
        if (s.captures.count(scannerId))
            return SM_E_ALREADY_CAPTURING;
        if (info->startFails)
            return SM_E_FAILED;
        id = info->id;
        s.captures[id] = Capture{imageCallback, statusCallback, context};
        backend = s.backend.get();
    }
    const int rc = backend->startScanner(id);
    if (rc < 0) {
        std::lock_guard lock(s.mutex);
        s.captures.erase(id);
        return rc;
    }
    ReportStatus(id, SM_STATUS_CAPTURING);
    return 0;
}

SM_API int SMStartCapturing(const char* scannerId, SMImageCallback imageCallback,
                            SMStatusCallback statusCallback, void* context) {
    const int r = impl_SMStartCapturing(scannerId, imageCallback, statusCallback, context);
    LogLine(std::string("call SMStartCapturing(") + " scannerId=" +
            (scannerId ? "\"" + std::string(scannerId) + "\"" : std::string("null")) +
            std::string(" imageCallback=") + (imageCallback ? "set" : "null") +
            std::string(" statusCallback=") + (statusCallback ? "set" : "null") +
            std::string(" context=") + (context ? "set" : "null") + ") -> " + std::to_string(r));
    return r;
}

static int impl_SMStopCapturing(const char* scannerId) {
    State& s = S();
    std::vector<std::string> stopped;
    Backend* backend = nullptr;
    {
        std::unique_lock lock(s.mutex);
        if (!s.backend)
            return SM_E_NOT_INITIALIZED;
        if (scannerId) {
            if (!s.captures.erase(scannerId))
                return SM_E_NOT_CAPTURING;
            stopped.emplace_back(scannerId);
        } else {
            for (const auto& entry : s.captures)
                stopped.push_back(entry.first);
            s.captures.clear();
        }
        backend = s.backend.get();
        WaitForCallbacks(s, lock);
    }
    for (const auto& id : stopped)
        backend->stopScanner(id);
    return 0;
}

SM_API int SMStopCapturing(const char* scannerId) {
    const int r = impl_SMStopCapturing(scannerId);
    LogLine(std::string("call SMStopCapturing(") + " scannerId=" +
            (scannerId ? "\"" + std::string(scannerId) + "\"" : std::string("null")) + ") -> " +
            std::to_string(r));
    return r;
}

} // extern "C"
