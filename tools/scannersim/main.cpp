// scannersim: plays the person at a simulated scanner from outside the program that uses
// the scanner library, through the libraries' control sockets.
#include "ScannerSimPanel.h"
#include "SimChannel.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

const char* const kUsage =
    "usage: scannersim [--pid PID] [--scanner N] COMMAND [ARGUMENTS]\n"
    "\n"
    "Commands for the IB scanner simulator (libIBScanUltimate):\n"
    "  place [QUALITY...]    place a finger (qualities: good fair poor none top left right)\n"
    "  lift                  lift the finger\n"
    "  platen dirty|clean    leave something on the platen / clean it\n"
    "  count ok|many|few|none  finger-count state while the finger lies\n"
    "  complete              the finger has lain still long enough\n"
    "  unplug [N] / plug [N] unplug / plug in scanner N\n"
    "  key N                 press key N on the scanner\n"
    "  status                what the scanners of both simulators do (IB: LEDs, prompt)\n"
    "Commands for the ScanMan simulator (libScanMan):\n"
    "  deliver FILE.bmp [PPI] [SCANNER]  hand a print to the capturing scanner\n"
    "Other commands:\n"
    "  list                  programs whose simulators can be reached\n"
    "  wait [capturing|ready] [SECONDS]  wait until a capture runs (default) or the\n"
    "                        control socket is there (default 30 s)\n"
    "  panel                 the trainer panel (a window with the same actions)\n"
    "\n"
    "With several programs running, --pid names the one meant (see 'scannersim list').\n"
    "Exit status: 0 done, 1 refused by the simulator, 2 no program to talk to or bad usage.\n";

struct Options {
    int pid = 0;
    int scanner = 0;
    std::vector<std::string> command;
};

// The endpoint of the given kind, or an empty path with the reason printed.
std::string pick(const Options& o, const std::string& kind, bool quiet = false) {
    std::vector<simchannel::Endpoint> found;
    for (auto& e : simchannel::list())
        if (e.kind == kind && (o.pid == 0 || e.pid == o.pid))
            found.push_back(e);
    if (found.size() == 1)
        return found[0].path;
    if (quiet)
        return {};
    if (found.empty()) {
        std::fprintf(stderr, "scannersim: no running program uses the %s simulator%s\n",
                     kind.c_str(), o.pid ? " with that pid" : "");
    } else {
        std::fprintf(stderr,
                     "scannersim: several programs use the %s simulator; name one "
                     "with --pid:\n",
                     kind.c_str());
        for (const auto& e : found)
            std::fprintf(stderr, "  %d %s\n", e.pid, e.program.c_str());
    }
    return {};
}

std::string join(const std::vector<std::string>& w) {
    std::string line;
    for (const auto& x : w) {
        if (!line.empty())
            line += ' ';
        line += x.find_first_of(" \t") == std::string::npos ? x : "\"" + x + "\"";
    }
    return line;
}

// Sends one command; prints the answer (without its "ok" line); 0, 1 or 2.
int send(const std::string& path, const std::string& line, std::string* answerOut = nullptr) {
    std::vector<std::string> answers;
    std::string error;
    if (!simchannel::request(path, {line}, answers, error)) {
        std::fprintf(stderr, "scannersim: %s\n", error.c_str());
        return 2;
    }
    const std::string& a = answers.at(0);
    if (answerOut) {
        *answerOut = a;
        return a.rfind("ok", 0) == 0 ? 0 : 1;
    }
    if (a.rfind("ok", 0) == 0) {
        const auto nl = a.find('\n');
        if (nl != std::string::npos)
            std::printf("%s\n", a.substr(nl + 1).c_str());
        else if (a.size() > 3)
            std::printf("%s\n", a.substr(3).c_str());
        return 0;
    }
    std::fprintf(stderr, "scannersim: %s\n", a.c_str());
    return 1;
}

int waitFor(const Options& o, const std::vector<std::string>& args) {
    std::string what = "capturing";
    double seconds = 30;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "capturing" || args[i] == "ready")
            what = args[i];
        else
            seconds = std::atof(args[i].c_str());
    }
    const auto until = std::chrono::steady_clock::now() +
                       std::chrono::milliseconds(static_cast<long>(seconds * 1000));
    while (std::chrono::steady_clock::now() < until) {
        const std::string path = pick(o, "ibscan", true);
        if (!path.empty()) {
            if (what == "ready")
                return 0;
            std::string a;
            if (send(path, "status", &a) == 0 && a.find(" capturing=1") != std::string::npos)
                return 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::fprintf(stderr, "scannersim: nothing %s after %g s\n",
                 what == "ready" ? "to talk to" : "is capturing", seconds);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string a = argv[i];
        if ((a == "--pid" || a == "-p") && i + 1 < argc)
            o.pid = std::atoi(argv[++i]);
        else if ((a == "--scanner" || a == "-s") && i + 1 < argc)
            o.scanner = std::atoi(argv[++i]);
        else if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else
            break;
    }
    for (; i < argc; ++i)
        o.command.push_back(argv[i]);
    if (o.command.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::string& cmd = o.command[0];
    if (cmd == "list") {
        const auto all = simchannel::list();
        for (const auto& e : all)
            std::printf("%d\t%s\t%s\t%s\n", e.pid, e.kind.c_str(), e.program.c_str(),
                        e.path.c_str());
        return 0;
    }
    if (cmd == "wait")
        return waitFor(o, o.command);
    if (cmd == "panel")
        return runPanel(argc, argv, o.pid);
    if (cmd == "deliver") {
        std::vector<std::string> w = o.command;
        if (w.size() >= 2 && !w[1].empty() && w[1][0] != '/') {
            // The library reads the file: give it a full path.
            char cwd[4096];
            if (getcwd(cwd, sizeof cwd))
                w[1] = std::string(cwd) + "/" + w[1];
        }
        const std::string path = pick(o, "scanman");
        return path.empty() ? 2 : send(path, join(w));
    }
    if (cmd == "status" && o.command.size() == 1) {
        // Both simulators of the program, each when it is there.
        const std::string ib = pick(o, "ibscan", true), sm = pick(o, "scanman", true);
        if (ib.empty() && sm.empty())
            return pick(o, "ibscan"), 2; // says why
        int rc = 0;
        if (!ib.empty())
            rc = std::max(rc, send(ib, o.scanner > 0 ? "@" + std::to_string(o.scanner) + " status"
                                                     : std::string("status")));
        if (!sm.empty())
            rc = std::max(rc, send(sm, "status"));
        return rc;
    }
    const std::string path = pick(o, "ibscan");
    if (path.empty())
        return 2;
    std::string line = join(o.command);
    if (o.scanner > 0)
        line = "@" + std::to_string(o.scanner) + " " + line;
    return send(path, line);
}
