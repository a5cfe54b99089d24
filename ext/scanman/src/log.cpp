#include "Core.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <unistd.h>

namespace scanman {

void LogLine(const std::string& text) {
    static std::mutex mutex;
    static std::FILE* file = [] {
        const char* path = std::getenv("SCANMAN_SIM_LOG");
        return path && *path ? std::fopen(path, "ae") : nullptr;
    }();
    if (!file)
        return;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
    const std::time_t secs = static_cast<std::time_t>(ms / 1000);
    std::tm tm{};
    gmtime_r(&secs, &tm);
    std::lock_guard lock(mutex);
    std::fprintf(file, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ %d %s\n", tm.tm_year + 1900,
                 tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                 static_cast<int>(ms % 1000), static_cast<int>(getpid()), text.c_str());
    std::fflush(file);
}

} // namespace scanman
