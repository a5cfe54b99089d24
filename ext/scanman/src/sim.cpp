// The simulator backend: scanners from a scenario file, images from the in-process control
// interface and from a drop folder, all delivered on the library's own delivery thread.
#include "Core.h"
#include "ScanManSim.h"
#include "SimChannel.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace scanman {
namespace {

constexpr size_t kQueueCapacity = 16;

struct Scenario {
    std::vector<ScannerInfo> scanners;
    int initFailure = 0;
    int count = 0; // a negative count to report, else 0
    std::map<int, int> parameterFailures;
    std::map<int, int> typeOverrides;
};

int ParseInt(const std::string& text, int fallback) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str() || *end || errno || v < INT32_MIN || v > INT32_MAX)
        return fallback;
    return static_cast<int>(v);
}

// Reads the scenario; returns false (with a message on stderr) when a line is not
// understood, so that a typo does not silently give a different test.
bool ReadScenario(const char* path, Scenario& sc) {
    std::ifstream in(path);
    if (!in) {
        std::fprintf(stderr, "ScanMan: cannot read scenario %s\n", path);
        return false;
    }
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::istringstream words(line);
        std::string key;
        if (!(words >> key) || key[0] == '#')
            continue;
        bool ok = true;
        if (key == "scanner") {
            ScannerInfo info;
            ok = static_cast<bool>(words >> info.id);
            std::string opt;
            while (ok && words >> opt) {
                if (opt.rfind("resolution=", 0) == 0)
                    info.resolution = ParseInt(opt.substr(11), 500);
                else if (opt == "noid")
                    info.idFails = true;
                else if (opt == "nostart")
                    info.startFails = true;
                else
                    ok = false;
            }
            sc.scanners.push_back(info);
        } else if (key == "fail-initialize") {
            std::string code = "-1";
            words >> code;
            sc.initFailure = ParseInt(code, SM_E_FAILED);
            ok = sc.initFailure < 0;
        } else if (key == "fail-parameter") {
            std::string param, code = "-1";
            ok = static_cast<bool>(words >> param);
            words >> code;
            sc.parameterFailures[ParseInt(param, -1)] = ParseInt(code, SM_E_FAILED);
        } else if (key == "parameter-type") {
            std::string param, type;
            ok = static_cast<bool>(words >> param >> type);
            sc.typeOverrides[ParseInt(param, -1)] = type == "int" ? SM_TYPE_INT : SM_TYPE_STRING;
        } else if (key == "count") {
            std::string v;
            ok = static_cast<bool>(words >> v);
            sc.count = ParseInt(v, 0);
        } else {
            ok = false;
        }
        if (!ok) {
            std::fprintf(stderr, "ScanMan: scenario %s line %d not understood\n", path, number);
            return false;
        }
    }
    return true;
}

bool IsTemporaryName(const std::string& name) {
    auto endsWith = [&](const char* suffix) {
        const size_t n = std::strlen(suffix);
        if (name.size() < n)
            return false;
        for (size_t i = 0; i < n; ++i)
            if (std::tolower(static_cast<unsigned char>(name[name.size() - n + i])) != suffix[i])
                return false;
        return true;
    };
    return name.empty() || name[0] == '.' || name[0] == '#' || !endsWith(".bmp");
}

struct Item {
    std::string id;
    int width, height, resolution;
    std::vector<unsigned char> pixels;
};

class SimBackend;
std::mutex gActiveMutex;
SimBackend* gActive = nullptr;

class SimBackend : public Backend {
  public:
    const char* name() const override { return "sim"; }

    int open() override {
        if (const char* path = std::getenv("SCANMAN_SCENARIO"); path && *path) {
            if (!ReadScenario(path, scenario_))
                return SM_E_INVALID_ARGUMENT;
        } else {
            scenario_.scanners.push_back(ScannerInfo{"SIM-0", 500, false, false});
        }
        if (scenario_.initFailure < 0)
            return scenario_.initFailure;
        stopping_ = false;
        delivered_ = 0;
        deliverer_ = std::thread([this] { DeliveryLoop(); });
        StartDropFolder();
        {
            std::lock_guard lock(gActiveMutex);
            gActive = this;
        }
        const char* control = std::getenv("SCANMAN_SIM_CONTROL");
        if (!control || std::strcmp(control, "0") != 0)
            control_.start("scanman", [this](const std::vector<std::string>& w) {
                std::string line;
                for (const auto& x : w)
                    line += (line.empty() ? "" : " ") + x;
                LogLine("control " + line); // before what the command sets off
                const std::string a = Command(w);
                LogLine("control " + line + " -> " + a.substr(0, a.find('\n')));
                return a;
            });
        return 0;
    }

    // A command of the control channel: deliver FILE [ppi] [scanner], status, help.
    std::string Command(const std::vector<std::string>& w) {
        const char* help = "commands: deliver FILE.bmp [ppi] [scanner-id], status, help";
        if (w.empty())
            return std::string("error: no command; ") + help;
        if (w[0] == "help" && w.size() == 1)
            return std::string("ok\n") + help;
        if (w[0] == "status" && w.size() == 1) {
            std::string out = "ok\n";
            for (const auto& info : scenario_.scanners)
                out += "scanner \"" + info.id + "\" resolution=" + std::to_string(info.resolution) +
                       " capturing=" + (IsCapturing(info.id) ? "1" : "0") + "\n";
            out += "delivered=" + std::to_string(Delivered());
            return out;
        }
        if (w[0] == "deliver" && w.size() >= 2 && w.size() <= 4) {
            int ppi = 0;
            if (w.size() >= 3) {
                char* end = nullptr;
                const long v = std::strtol(w[2].c_str(), &end, 10);
                if (*end || v < 50 || v > 10000)
                    return "error: bad resolution '" + w[2] + "'; expected ppi from 50 to 10000";
                ppi = static_cast<int>(v);
            }
            std::ifstream in(w[1], std::ios::binary);
            if (!in)
                return "error: cannot read " + w[1];
            std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                             std::istreambuf_iterator<char>());
            int width = 0, height = 0;
            std::vector<unsigned char> grey;
            if (!ReadBmpGrey(bytes, width, height, grey))
                return "error: " + w[1] + " is not a readable bitmap";
            const std::string id = w.size() == 4 ? w[3] : FirstCapturing();
            if (id.empty() || !IsCapturing(id))
                return "error: no scanner is capturing";
            if (ppi == 0) {
                ppi = 500;
                for (const auto& info : scenario_.scanners)
                    if (info.id == id)
                        ppi = info.resolution;
            }
            const int rc = Enqueue(id.c_str(), width, height, grey.data(), ppi);
            if (rc != 0)
                return "error: delivery refused (" + std::to_string(rc) + ")";
            return "ok delivered " + std::to_string(width) + "x" + std::to_string(height) + " at " +
                   std::to_string(ppi) + " ppi to \"" + id + "\"";
        }
        return "error: unknown command or wrong arguments: '" + w[0] + "'; " + help;
    }

    std::vector<ScannerInfo> scanners() override { return scenario_.scanners; }
    int countOverride() const override { return scenario_.count; }
    int parameterFailure(int p) const override {
        auto it = scenario_.parameterFailures.find(p);
        return it == scenario_.parameterFailures.end() ? 0 : it->second;
    }
    int typeOverride(int p) const override {
        auto it = scenario_.typeOverrides.find(p);
        return it == scenario_.typeOverrides.end() ? 0 : it->second;
    }
    int startScanner(const std::string&) override { return 0; }
    void stopScanner(const std::string&) override {}

    void close() override {
        control_.stop();
        {
            std::lock_guard lock(gActiveMutex);
            if (gActive == this)
                gActive = nullptr;
        }
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
            queue_.clear();
        }
        changed_.notify_all();
        if (wakeFd_[1] >= 0) {
            const char c = 0;
            (void)!write(wakeFd_[1], &c, 1);
        }
        if (watcher_.joinable())
            watcher_.join();
        if (deliverer_.joinable())
            deliverer_.join();
        for (int& fd : wakeFd_)
            if (fd >= 0) {
                ::close(fd);
                fd = -1;
            }
        if (inotifyFd_ >= 0) {
            ::close(inotifyFd_);
            inotifyFd_ = -1;
        }
    }

    ~SimBackend() override { close(); }

    int Enqueue(const char* scannerId, int width, int height, const unsigned char* pixels,
                int resolution) {
        if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide ||
            int64_t(width) * height > kMaxPixels)
            return SM_E_INVALID_ARGUMENT;
        if (!pixels)
            return SM_E_ARGUMENT_NULL;
        std::string id = scannerId ? std::string(scannerId) : FirstCapturing();
        if (id.empty() || !IsCapturing(id))
            return SM_E_NOT_CAPTURING;
        Item item{id, width, height, resolution,
                  std::vector<unsigned char>(pixels, pixels + size_t(width) * height)};
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return stopping_ || queue_.size() < kQueueCapacity; });
        if (stopping_)
            return SM_E_NOT_INITIALIZED;
        queue_.push_back(std::move(item));
        changed_.notify_all();
        return 0;
    }

    void WaitIdle() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return stopping_ || (queue_.empty() && !busy_); });
    }

    int Delivered() const { return delivered_.load(); }
    const std::string& DropFolder() const { return dropFolder_; }

  private:
    void DeliveryLoop() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
            if (stopping_)
                return;
            Item item = std::move(queue_.front());
            queue_.pop_front();
            busy_ = true;
            changed_.notify_all();
            lock.unlock();
            LogLine("event image scanner=\"" + item.id + "\" size=" + std::to_string(item.width) +
                    "x" + std::to_string(item.height) + " ppi=" + std::to_string(item.resolution));
            if (Deliver(item.id, item.width, item.height, item.pixels.data(), item.resolution))
                delivered_++;
            lock.lock();
            busy_ = false;
            changed_.notify_all();
        }
    }

    void StartDropFolder() {
        const char* env = std::getenv("SCANMAN_DROP_DIR");
        if (env && std::strcmp(env, "-") == 0)
            return;
        if (env && *env) {
            dropFolder_ = env;
        } else {
            const char* tmp = std::getenv("TMPDIR");
            dropFolder_ = std::string(tmp && *tmp ? tmp : "/tmp") + "/scanman-drop-" +
                          std::to_string(getuid());
        }
        ::mkdir(dropFolder_.c_str(), 0700);
        inotifyFd_ = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        if (inotifyFd_ < 0 || pipe2(wakeFd_, O_CLOEXEC) != 0 ||
            inotify_add_watch(inotifyFd_, dropFolder_.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO) < 0) {
            std::fprintf(stderr, "ScanMan: drop folder %s not watched: %s\n", dropFolder_.c_str(),
                         std::strerror(errno));
            dropFolder_.clear();
            return;
        }
        watcher_ = std::thread([this] { WatchLoop(); });
    }

    void WatchLoop() {
        alignas(inotify_event) char buffer[8192];
        for (;;) {
            pollfd fds[2] = {{inotifyFd_, POLLIN, 0}, {wakeFd_[0], POLLIN, 0}};
            if (poll(fds, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            if (fds[1].revents)
                return;
            const ssize_t n = read(inotifyFd_, buffer, sizeof buffer);
            for (ssize_t off = 0; n > 0 && off < n;) {
                const auto* ev = reinterpret_cast<const inotify_event*>(buffer + off);
                off += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
                if (ev->len && !(ev->mask & IN_ISDIR))
                    TakeFile(ev->name);
            }
        }
    }

    void TakeFile(const std::string& name) {
        if (IsTemporaryName(name))
            return;
        const std::string path = dropFolder_ + "/" + name;
        std::ifstream in(path, std::ios::binary);
        if (!in)
            return;
        std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                         std::istreambuf_iterator<char>());
        in.close();
        std::remove(path.c_str());
        int w = 0, h = 0;
        std::vector<unsigned char> grey;
        if (!ReadBmpGrey(bytes, w, h, grey)) {
            std::fprintf(stderr, "ScanMan: %s is not a readable bitmap; dropped\n", path.c_str());
            return;
        }
        const std::string id = FirstCapturing();
        if (id.empty())
            return;
        int resolution = 500;
        for (const auto& info : scenario_.scanners)
            if (info.id == id)
                resolution = info.resolution;
        Enqueue(id.c_str(), w, h, grey.data(), resolution);
    }

    Scenario scenario_;
    simchannel::Server control_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Item> queue_;
    bool stopping_ = false;
    bool busy_ = false;
    std::atomic<int> delivered_{0};
    std::thread deliverer_, watcher_;
    std::string dropFolder_;
    int inotifyFd_ = -1;
    int wakeFd_[2] = {-1, -1};
};

// Runs fn on the active simulator. The control interface is meant to be called between
// SMInitialize and SMFinalize; a call that races SMFinalize is not supported.
template <typename Fn> int WithActive(Fn fn) {
    SimBackend* sim = nullptr;
    {
        std::lock_guard lock(gActiveMutex);
        sim = gActive;
    }
    if (!sim)
        return SM_E_NOT_INITIALIZED;
    return fn(*sim);
}

} // namespace

std::unique_ptr<Backend> MakeSimBackend() {
    return std::make_unique<SimBackend>();
}

} // namespace scanman

using namespace scanman;

extern "C" {

SM_API int SMSimDeliver(const char* scannerId, int width, int height, const unsigned char* pixels,
                        int resolution) {
    return WithActive(
        [&](SimBackend& sim) { return sim.Enqueue(scannerId, width, height, pixels, resolution); });
}

SM_API int SMSimWaitIdle(void) {
    return WithActive([](SimBackend& sim) {
        sim.WaitIdle();
        return 0;
    });
}

SM_API int SMSimDeliveredCount(void) {
    return WithActive([](SimBackend& sim) { return sim.Delivered(); });
}

SM_API int SMSimGetDropFolder(char* buffer, int size) {
    return WithActive([&](SimBackend& sim) -> int {
        const std::string& folder = sim.DropFolder();
        if (folder.empty())
            return 0;
        const int need = static_cast<int>(folder.size()) + 1;
        if (buffer) {
            if (size < need)
                return SM_E_INVALID_ARGUMENT;
            std::memcpy(buffer, folder.c_str(), size_t(need));
        }
        return need;
    });
}

} // extern "C"
