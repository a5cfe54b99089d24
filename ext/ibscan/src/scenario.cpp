#include "scenario.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace ibsim {

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return s;
}

std::string lower(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return r;
}

// A comment runs from ';' or '#' at the start of the line, or after white space, to the
// end of the line. (So "a#b" keeps its '#', as a file name may.)
std::string_view stripComment(std::string_view line) {
    for (std::size_t i = 0; i < line.size(); ++i) {
        if ((line[i] == ';' || line[i] == '#') &&
            (i == 0 || std::isspace(static_cast<unsigned char>(line[i - 1]))))
            return line.substr(0, i);
    }
    return line;
}

bool parseBool(std::string_view v, bool& out) {
    std::string l = lower(trim(v));
    if (l == "1" || l == "true" || l == "yes" || l == "on") {
        out = true;
        return true;
    }
    if (l == "0" || l == "false" || l == "no" || l == "off") {
        out = false;
        return true;
    }
    return false;
}

bool parseTime(std::string_view v, int& out) {
    return parseInt(v, -1, kMaxTimeMs, out);
}

// "name", "name.N" or "name.N.K" with positive numbers.
bool parseSectionName(std::string_view s, std::string& name, int& a, int& b) {
    a = b = 0;
    std::size_t dot = s.find('.');
    name = lower(trim(s.substr(0, dot)));
    if (dot == std::string_view::npos)
        return true;
    std::string_view rest = s.substr(dot + 1);
    std::size_t dot2 = rest.find('.');
    if (!parseInt(rest.substr(0, dot2), 1, 1'000'000, a))
        return false;
    if (dot2 != std::string_view::npos && !parseInt(rest.substr(dot2 + 1), 1, 1'000'000, b))
        return false;
    return true;
}

bool applyScannerKey(ScannerScript& s, const std::string& key, std::string_view v) {
    auto text = [&](std::string& out) {
        if (v.size() > 127)
            return false;
        out = std::string(v);
        return true;
    };
    if (key == "model")
        return text(s.model);
    if (key == "serial")
        return text(s.serial);
    if (key == "firmware")
        return text(s.firmware);
    if (key == "revision")
        return text(s.revision);
    if (key == "attach_ms")
        return parseInt(v, 0, kMaxTimeMs, s.attachMs);
    if (key == "detach_ms")
        return parseTime(v, s.detachMs);
    if (key == "open_ms")
        return parseInt(v, 0, 600'000, s.openMs);
    if (key == "open_progress")
        return parseIntList(v, 0, 100, s.openProgress);
    if (key == "open_result")
        return parseIntList(v, -100'000, 100'000, s.openResults);
    if (key == "close_busy")
        return parseInt(v, 0, 1000, s.closeBusy);
    if (key == "description_result")
        return parseInt(v, -100'000, 0, s.descriptionResult);
    if (key == "types") {
        if (!parseIntList(v, 1, 4, s.types))
            return false;
        return !s.types.empty();
    }
    if (key == "width")
        return parseInt(v, 16, 4096, s.width);
    if (key == "height")
        return parseInt(v, 16, 4096, s.height);
    return false;
}

// "<ms> <action> [value]": quality takes a list, count_state / platen / key a number,
// place and lift nothing.
bool parseStep(CaptureScript& c, std::string_view v) {
    if (c.steps.size() >= static_cast<std::size_t>(kMaxTimedSteps))
        return false;
    std::size_t sp = v.find_first_of(" \t");
    if (sp == std::string_view::npos)
        return false;
    TimedStep step;
    if (!parseInt(v.substr(0, sp), 0, kMaxTimeMs, step.ms))
        return false;
    v = trim(v.substr(sp));
    sp = v.find_first_of(" \t");
    const std::string action = lower(v.substr(0, sp));
    const std::string_view rest =
        sp == std::string_view::npos ? std::string_view() : trim(v.substr(sp));
    int n = 0;
    if (action == "quality") {
        step.action = TimedStep::Quality;
        if (!parseIntList(rest, -1000, 1000, step.values) || step.values.empty())
            return false;
    } else if (action == "count_state" || action == "platen" || action == "key") {
        step.action = action == "count_state" ? TimedStep::CountState
                      : action == "platen"    ? TimedStep::Platen
                                              : TimedStep::Key;
        const int hi = step.action == TimedStep::CountState ? 3
                       : step.action == TimedStep::Platen   ? 1
                                                            : 1000;
        if (!parseInt(rest, 0, hi, n))
            return false;
        step.values = {n};
    } else if (action == "place" || action == "lift") {
        step.action = action == "place" ? TimedStep::Place : TimedStep::Lift;
        if (!rest.empty())
            return false;
    } else {
        return false;
    }
    c.steps.push_back(std::move(step));
    return true;
}

} // namespace

bool parseInt(std::string_view text, int lo, int hi, int& out) {
    text = trim(text);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    int v = 0;
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || p != text.data() + text.size() || text.empty())
        return false;
    if (v < lo || v > hi)
        return false;
    out = v;
    return true;
}

bool parseIntList(std::string_view text, int lo, int hi, std::vector<int>& out) {
    std::vector<int> values;
    text = trim(text);
    if (text.empty()) {
        out.clear();
        return true;
    }
    while (true) {
        std::size_t comma = text.find(',');
        int v = 0;
        if (!parseInt(text.substr(0, comma), lo, hi, v))
            return false;
        if (values.size() >= static_cast<std::size_t>(kMaxListValues))
            return false;
        values.push_back(v);
        if (comma == std::string_view::npos)
            break;
        text.remove_prefix(comma + 1);
    }
    out = std::move(values);
    return true;
}

bool applyCaptureKey(CaptureScript& c, std::string_view keyText, std::string_view v) {
    std::string key = lower(trim(keyText));
    v = trim(v);
    if (key == "finger_ms")
        return parseTime(v, c.fingerMs);
    if (key == "stable_ms")
        return parseInt(v, 0, kMaxTimeMs, c.stableMs);
    if (key == "lift_ms")
        return parseTime(v, c.liftMs);
    if (key == "quality")
        return parseIntList(v, -1000, 1000, c.quality);
    if (key == "count_state")
        return parseInt(v, 0, 3, c.countState);
    if (key == "platen_dirty")
        return parseBool(v, c.platenDirty);
    if (key == "platen_clear_ms")
        return parseTime(v, c.platenClearMs);
    if (key == "result") {
        c.hasResult = parseInt(v, -100'000, 100'000, c.result);
        return c.hasResult;
    }
    if (key == "fingers")
        return parseInt(v, -1, 16, c.fingers);
    if (key == "segments")
        return parseInt(v, -1, 16, c.segments);
    if (key == "image") {
        if (v.size() > 4096)
            return false;
        c.image = lower(v) == "builtin" ? std::string() : std::string(v);
        return true;
    }
    if (key == "at")
        return parseStep(c, v);
    if (key == "seed") {
        int s = 0;
        if (!parseInt(v, 0, 2'000'000'000, s))
            return false;
        c.seed = static_cast<unsigned>(s);
        c.hasSeed = true;
        return true;
    }
    return false;
}

bool parseScenario(std::string_view text, Scenario& out, int& errorLine) {
    out = Scenario{};
    errorLine = 0;
    if (text.size() > kMaxScenarioBytes) {
        errorLine = 1;
        return false;
    }
    enum class Sec { None, Sim, Scanner, Capture } sec = Sec::None;
    ScannerScript* scanner = nullptr;
    CaptureSection* capture = nullptr;
    int lineNo = 0;
    std::size_t pos = 0;
    // Pointers into the vectors stay valid: both are reserved to their maximum below.
    out.scanners.reserve(kMaxScanners);
    out.captures.reserve(kMaxCaptureSections);
    while (pos <= text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNo;
        if (line.find('\0') != std::string_view::npos) {
            errorLine = lineNo;
            return false;
        }
        line = trim(stripComment(line));
        if (line.empty()) {
            if (end == text.size())
                break;
            continue;
        }
        auto fail = [&] {
            errorLine = lineNo;
            return false;
        };
        if (line.front() == '[') {
            if (line.back() != ']')
                return fail();
            std::string name;
            int a = 0, b = 0;
            if (!parseSectionName(line.substr(1, line.size() - 2), name, a, b))
                return fail();
            scanner = nullptr;
            capture = nullptr;
            if (name == "sim" && a == 0) {
                sec = Sec::Sim;
            } else if (name == "scanner" && b == 0) {
                if (a < 1 || a > kMaxScanners)
                    return fail();
                for (const auto& s : out.scanners)
                    if (s.id == a)
                        return fail(); // each scanner once
                if (out.scanners.size() >= static_cast<std::size_t>(kMaxScanners))
                    return fail();
                out.scanners.emplace_back();
                scanner = &out.scanners.back();
                scanner->id = a;
                scanner->serial = "SIM" + std::to_string(1000 + a);
                sec = Sec::Scanner;
            } else if (name == "capture") {
                if (a > kMaxScanners || out.captures.size() >= kMaxCaptureSections)
                    return fail();
                out.captures.emplace_back();
                capture = &out.captures.back();
                capture->scanner = a;
                capture->capture = b;
                sec = Sec::Capture;
            } else {
                return fail();
            }
            if (end == text.size())
                break;
            continue;
        }
        std::size_t eq = line.find('=');
        if (eq == std::string_view::npos)
            return fail();
        std::string key = lower(trim(line.substr(0, eq)));
        std::string_view value = trim(line.substr(eq + 1));
        switch (sec) {
        case Sec::None:
            return fail();
        case Sec::Sim:
            if (key == "clock") {
                std::string v = lower(value);
                if (v == "realtime")
                    out.clock = 0;
                else if (v == "manual")
                    out.clock = 1;
                else if (v == "immediate")
                    out.clock = 2;
                else
                    return fail();
            } else if (key == "preview_ms") {
                if (!parseInt(value, 10, 10'000, out.previewMs))
                    return fail();
            } else {
                return fail();
            }
            break;
        case Sec::Scanner:
            if (!applyScannerKey(*scanner, key, value))
                return fail();
            break;
        case Sec::Capture: {
            CaptureScript probe;
            if (!applyCaptureKey(probe, key, value))
                return fail();
            if (capture->values.size() >= 64)
                return fail();
            capture->values.emplace_back(key, std::string(value));
            break;
        }
        }
        if (end == text.size())
            break;
    }
    std::stable_sort(out.scanners.begin(), out.scanners.end(),
                     [](const ScannerScript& x, const ScannerScript& y) {
                         return x.attachMs < y.attachMs ||
                                (x.attachMs == y.attachMs && x.id < y.id);
                     });
    return true;
}

CaptureScript resolveCapture(const Scenario& scenario, int scannerId, int captureNo,
                             const CaptureScript& base) {
    CaptureScript c = base;
    for (int level = 0; level < 3; ++level) {
        for (const auto& sec : scenario.captures) {
            bool match = false;
            if (level == 0)
                match = sec.scanner == 0;
            else if (level == 1)
                match = sec.scanner == scannerId && sec.capture == 0;
            else
                match = sec.scanner == scannerId && sec.capture == captureNo;
            if (!match)
                continue;
            for (const auto& [k, v] : sec.values)
                applyCaptureKey(c, k, v);
        }
    }
    return c;
}

const char* defaultScenarioText() {
    return "[sim]\n"
           "clock = realtime\n"
           "[scanner.1]\n"
           "model = WATSON\n"
           "serial = SIM1001\n"
           "firmware = 1.0.0\n"
           "open_ms = 1200\n"
           "[capture]\n"
           "finger_ms = 600\n"
           "stable_ms = 400\n";
}

std::vector<int> modelImageTypes(const std::string& model) {
    if (model == "WATSON" || model == "WATSON MINI" || model == "SHERLOCK" ||
        model == "SHERLOCK_ROIC")
        return {1, 2};
    if (model == "COLUMBO" || model == "CURVE")
        return {2};
    if (model == "HOLMES" || model == "KOJAK")
        return {1, 2, 3, 4};
    return {2};
}

void modelImageSize(const std::string& model, int& width, int& height) {
    if (model == "COLUMBO" || model == "CURVE") {
        width = 400;
        height = 500;
    } else {
        width = 800;
        height = 750;
    }
}

} // namespace ibsim
