// Commands of the control channel, answered on the channel's thread through the same
// IBSIM_* calls that tests use in-process.
#include "control.h"

#include "IBScanSim.h"
#include "SimChannel.h"
#include "eventlog.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace ibsim {

namespace {

std::mutex gControlMutex;
simchannel::Server* gServer = nullptr;

const char* const kHelp = "commands: place [quality...], lift, platen dirty|clean, "
                          "count ok|few|many|none, unplug [N], plug [N], key N, complete, "
                          "status, help; '@N' first names scanner N";

bool number(const std::string& w, int lo, int hi, int& out) {
    char* end = nullptr;
    const long v = std::strtol(w.c_str(), &end, 10);
    if (w.empty() || *end || v < lo || v > hi)
        return false;
    out = static_cast<int>(v);
    return true;
}

bool quality(const std::string& w, int& out) {
    static const std::pair<const char*, int> kNames[] = {
        {"none", IBSU_QUALITY_NOT_PRESENT},
        {"good", IBSU_QUALITY_GOOD},
        {"fair", IBSU_QUALITY_FAIR},
        {"poor", IBSU_QUALITY_POOR},
        {"top", IBSU_QUALITY_INVALID_AREA_TOP},
        {"left", IBSU_QUALITY_INVALID_AREA_LEFT},
        {"right", IBSU_QUALITY_INVALID_AREA_RIGHT}};
    for (const auto& [name, v] : kNames)
        if (w == name) {
            out = v;
            return true;
        }
    return number(w, -1000, 1000, out);
}

std::string result(int r, const char* what) {
    if (r == IBSU_STATUS_OK)
        return "ok";
    return std::string("error: ") + what + ": " + IBSU_GetErrorString(r) + " (" +
           std::to_string(r) + ")";
}

std::string answer(const std::vector<std::string>& all) {
    std::vector<std::string> w = all;
    int id = 0;
    if (!w.empty() && w[0].size() > 1 && w[0][0] == '@') {
        if (!number(w[0].substr(1), 1, 1'000'000, id))
            return "error: '" + w[0] + "' names no scanner; expected @N";
        w.erase(w.begin());
    }
    if (w.empty())
        return std::string("error: no command; ") + kHelp;
    const std::string& cmd = w[0];
    const std::size_t n = w.size() - 1;
    if (cmd == "help")
        return std::string("ok\n") + kHelp;
    if (cmd == "status")
        return "ok\n" + controlStatus();
    if (cmd == "plug" || cmd == "unplug") {
        if (n > 1 || (n == 1 && !number(w[1], 1, 1'000'000, id)))
            return "error: " + cmd + " takes one scanner id, e.g. " + cmd + " 1";
        if (id == 0)
            id = cmd == "plug" ? 1 : controlDefaultScanner();
        if (cmd == "plug")
            return result(controlPlug(id), "plug");
        return result(IBSIM_DetachScanner(id), "unplug");
    }
    if (id == 0)
        id = controlDefaultScanner();
    if (id == 0)
        return "error: no scanner is attached";
    if (cmd == "place") {
        std::vector<int> q;
        for (std::size_t i = 1; i < w.size(); ++i) {
            int v = 0;
            if (!quality(w[i], v))
                return "error: bad quality '" + w[i] +
                       "'; expected good, fair, poor, none, top, left, right or a number";
            q.push_back(v);
        }
        if (q.size() > IBSU_MAX_QUALITIES)
            return "error: at most 16 qualities";
        return result(IBSIM_PlaceFinger(id, q.data(), static_cast<int>(q.size())), "place");
    }
    if (cmd == "lift" && n == 0)
        return result(IBSIM_LiftFinger(id), "lift");
    if (cmd == "complete" && n == 0)
        return result(IBSIM_CompleteCapture(id), "complete");
    if (cmd == "platen" && n == 1 && (w[1] == "dirty" || w[1] == "clean"))
        return result(IBSIM_SetPlatenDirty(id, w[1] == "dirty" ? 1 : 0), "platen");
    if (cmd == "platen")
        return "error: platen takes dirty or clean";
    if (cmd == "count" && n == 1) {
        static const char* const kStates[] = {"ok", "many", "few", "none"};
        for (int s = 0; s < 4; ++s)
            if (w[1] == kStates[s])
                return result(IBSIM_SetFingerCountState(id, s), "count");
        return "error: count takes ok, many, few or none";
    }
    int key = 0;
    if (cmd == "key" && n == 1 && number(w[1], 0, 1000, key))
        return result(IBSIM_PressKey(id, key), "key");
    return "error: unknown command or wrong arguments: '" + cmd + "'; " + kHelp;
}

} // namespace

void startControl() {
    const char* env = std::getenv(IBSIM_CONTROL_ENV);
    if (env && std::strcmp(env, "0") == 0)
        return;
    std::lock_guard lk(gControlMutex);
    if (gServer)
        return;
    gServer = new simchannel::Server;
    if (!gServer->start("ibscan", [](const std::vector<std::string>& w) {
            std::string line;
            for (const auto& x : w)
                line += (line.empty() ? "" : " ") + x;
            if (log::enabled()) // before the events the command raises
                log::line("control " + line);
            const std::string a = answer(w);
            if (log::enabled())
                log::line("control " + line + " -> " + a.substr(0, a.find('\n')));
            return a;
        })) {
        delete gServer;
        gServer = nullptr;
    }
}

void stopControl() {
    std::lock_guard lk(gControlMutex);
    delete gServer; // stops serving and removes the socket
    gServer = nullptr;
}

} // namespace ibsim
