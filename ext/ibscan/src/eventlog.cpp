#include "eventlog.h"

#include "IBScanSim.h"

#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <unistd.h>

namespace ibsim::log {

namespace {

constexpr const char* kEnv = IBSIM_LOG_ENV;

std::mutex gMutex;
std::FILE* gFile = nullptr;
std::atomic<int> gState{-1}; // -1 not looked yet, 0 off, 1 on

void openLocked() {
    if (gFile) {
        std::fclose(gFile);
        gFile = nullptr;
    }
    const char* path = std::getenv(kEnv);
    if (path && *path) {
        gFile = std::fopen(path, "ae"); // append: several programs may share one log
        if (!gFile)
            std::fprintf(stderr, "ibscan simulator: cannot write the log '%s'\n", path);
    }
    gState = gFile ? 1 : 0;
}

struct LedName {
    uint32_t bit;
    const char* name;
};

constexpr LedName kLeds[] = {
    {IBSU_LED_F_BLINK_GREEN, "BLINK_GREEN"},
    {IBSU_LED_F_BLINK_RED, "BLINK_RED"},
    {IBSU_LED_F_PROGRESS_ROLL, "PROGRESS_ROLL"},
    {IBSU_LED_F_PROGRESS_LEFT_HAND, "PROGRESS_LEFT_HAND"},
    {IBSU_LED_F_PROGRESS_TWO_THUMB, "PROGRESS_TWO_THUMB"},
    {IBSU_LED_F_PROGRESS_RIGHT_HAND, "PROGRESS_RIGHT_HAND"},
    {IBSU_LED_F_RIGHT_RING_GREEN, "RIGHT_RING_GREEN"},
    {IBSU_LED_F_RIGHT_RING_RED, "RIGHT_RING_RED"},
    {IBSU_LED_F_RIGHT_LITTLE_GREEN, "RIGHT_LITTLE_GREEN"},
    {IBSU_LED_F_RIGHT_LITTLE_RED, "RIGHT_LITTLE_RED"},
    {IBSU_LED_F_RIGHT_INDEX_GREEN, "RIGHT_INDEX_GREEN"},
    {IBSU_LED_F_RIGHT_INDEX_RED, "RIGHT_INDEX_RED"},
    {IBSU_LED_F_RIGHT_MIDDLE_GREEN, "RIGHT_MIDDLE_GREEN"},
    {IBSU_LED_F_RIGHT_MIDDLE_RED, "RIGHT_MIDDLE_RED"},
    {IBSU_LED_F_LEFT_THUMB_GREEN, "LEFT_THUMB_GREEN"},
    {IBSU_LED_F_LEFT_THUMB_RED, "LEFT_THUMB_RED"},
    {IBSU_LED_F_RIGHT_THUMB_GREEN, "RIGHT_THUMB_GREEN"},
    {IBSU_LED_F_RIGHT_THUMB_RED, "RIGHT_THUMB_RED"},
    {IBSU_LED_F_LEFT_MIDDLE_GREEN, "LEFT_MIDDLE_GREEN"},
    {IBSU_LED_F_LEFT_MIDDLE_RED, "LEFT_MIDDLE_RED"},
    {IBSU_LED_F_LEFT_INDEX_GREEN, "LEFT_INDEX_GREEN"},
    {IBSU_LED_F_LEFT_INDEX_RED, "LEFT_INDEX_RED"},
    {IBSU_LED_F_LEFT_LITTLE_GREEN, "LEFT_LITTLE_GREEN"},
    {IBSU_LED_F_LEFT_LITTLE_RED, "LEFT_LITTLE_RED"},
    {IBSU_LED_F_LEFT_RING_GREEN, "LEFT_RING_GREEN"},
    {IBSU_LED_F_LEFT_RING_RED, "LEFT_RING_RED"},
};

} // namespace

bool enabled() {
    int s = gState.load(std::memory_order_relaxed);
    if (s < 0) {
        std::lock_guard lk(gMutex);
        if (gState < 0)
            openLocked();
        s = gState;
    }
    return s == 1;
}

void reopen() {
    std::lock_guard lk(gMutex);
    openLocked();
}

void line(std::string_view text) {
    if (!enabled())
        return;
    const auto now = std::chrono::system_clock::now();
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    const std::time_t secs = static_cast<std::time_t>(ms / 1000);
    std::tm tm{};
    gmtime_r(&secs, &tm);
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(ms % 1000));
    std::lock_guard lk(gMutex);
    if (!gFile)
        return;
    // One write per line, flushed at once: a reader follows the run as it happens.
    std::fprintf(gFile, "%s %d %.*s\n", stamp, static_cast<int>(getpid()),
                 static_cast<int>(text.size()), text.data());
    std::fflush(gFile);
}

std::string ledNames(uint32_t mask) {
    if (mask == 0)
        return "none";
    std::string r;
    for (const LedName& l : kLeds)
        if (mask & l.bit) {
            if (!r.empty())
                r += '+';
            r += l.name;
            mask &= ~l.bit;
        }
    if (mask) {
        char rest[16];
        std::snprintf(rest, sizeof rest, "0x%X", mask);
        if (!r.empty())
            r += '+';
        r += rest;
    }
    return r;
}

std::string arg(const char* name, int v) {
    return std::string(name) + "=" + std::to_string(v);
}

std::string arg(const char* name, uint32_t v) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", v);
    std::string r = std::string(name) + "=" + hex;
    if (std::string_view(name).find("LED") != std::string_view::npos)
        r += " (" + ledNames(v) + ")";
    return r;
}

std::string arg(const char* name, double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", v);
    return std::string(name) + "=" + buf;
}

std::string arg(const char* name, const char* v) {
    if (!v)
        return std::string(name) + "=null";
    std::string s(v);
    if (s.size() > 120)
        s = s.substr(0, 120) + "...";
    for (char& c : s)
        if (c == '\n' || c == '\r')
            c = ' ';
    return std::string(name) + "=\"" + s + "\"";
}

std::string arg(const char* name, const void* v) {
    return std::string(name) + (v ? "=set" : "=null");
}

void call(const char* fn, std::initializer_list<std::string> args, int result) {
    std::string text = std::string("call ") + fn + "(";
    bool first = true;
    for (const std::string& a : args) {
        if (a.empty())
            continue;
        if (!first)
            text += ", ";
        text += a;
        first = false;
    }
    text += ") -> " + std::to_string(result);
    line(text);
}

} // namespace ibsim::log
