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

bool applyScannerKeyValue(ScannerScript& s, const std::string& key, std::string_view v) {
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
    for (const auto& [name, expected] : kCallResultKeys)
        if (key == name) {
            std::vector<int> list;
            if (!parseIntList(v, -100'000, 100'000, list))
                return false;
            s.callResults[name] = std::move(list);
            return true;
        }
    return false;
}

// What each key of a section expects, for the error messages.
struct KeyHelp {
    const char* key;
    const char* expected;
};

const KeyHelp kScannerKeys[] = {
    {"model", "a text of up to 127 characters"},
    {"serial", "a text of up to 127 characters"},
    {"firmware", "a text of up to 127 characters"},
    {"revision", "a text of up to 127 characters"},
    {"attach_ms", "a time in milliseconds from 0 to 86400000"},
    {"detach_ms", "a time in milliseconds from 0 to 86400000, or -1 for never"},
    {"open_ms", "a duration in milliseconds from 0 to 600000"},
    {"open_progress", "a list of up to 16 per-cent values 0..100, e.g. 0,50,100"},
    {"open_result", "a list of up to 16 results, e.g. -203, 0"},
    {"close_busy", "a count from 0 to 1000"},
    {"description_result", "0 or a negative result, e.g. -201"},
    {"types", "a list of image types 1..4, e.g. 1,2"},
    {"width", "a size in pixels from 16 to 4096"},
    {"height", "a size in pixels from 16 to 4096"},
};

const KeyHelp kCaptureKeys[] = {
    {"finger_ms", "a time in milliseconds from 0 to 86400000, or -1 for never"},
    {"stable_ms", "a time in milliseconds from 0 to 86400000"},
    {"lift_ms", "a time in milliseconds from 0 to 86400000, or -1 for never"},
    {"quality", "a list of up to 16 qualities, e.g. 1, 2, 0, 0"},
    {"count_state", "a finger-count state 0..3"},
    {"platen_dirty", "1/0, true/false, yes/no or on/off"},
    {"platen_clear_ms", "a time in milliseconds from 0 to 86400000, or -1 for never"},
    {"result", "a result status from -100000 to 100000"},
    {"fingers", "a finger count from -1 to 16"},
    {"segments", "a segment count from -1 to 16"},
    {"image", "a BMP file name (up to 4096 characters) or builtin"},
    {"seed", "a number from 0 to 2000000000"},
    {"at", "<ms> quality <list> | count_state <0..3> | place | lift | platen <0/1> | key <n>"},
};

template <std::size_t N> const char* expectedOf(const KeyHelp (&table)[N], const std::string& key) {
    for (const KeyHelp& k : table)
        if (key == k.key)
            return k.expected;
    return nullptr;
}

template <std::size_t N> std::string keyNames(const KeyHelp (&table)[N]) {
    std::string r;
    for (const KeyHelp& k : table) {
        if (!r.empty())
            r += ", ";
        r += k.key;
    }
    return r;
}

std::string scannerKeyNames() {
    std::string r = keyNames(kScannerKeys);
    for (const auto& [name, expected] : kCallResultKeys)
        r += std::string(", ") + name;
    return r;
}

const char* expectedOfScannerKey(const std::string& key) {
    if (const char* e = expectedOf(kScannerKeys, key))
        return e;
    for (const auto& [name, expected] : kCallResultKeys)
        if (key == name)
            return expected;
    return nullptr;
}

std::string badValue(const std::string& key, std::string_view value, const char* expected) {
    return key + " = " + std::string(value) + ": expected " + expected;
}

bool applyScannerKey(ScannerScript& s, const std::string& key, std::string_view v,
                     std::string& why) {
    const char* expected = expectedOfScannerKey(key);
    if (!expected) {
        why = "unknown key '" + key + "' in [scanner.N]; expected one of: " + scannerKeyNames();
        return false;
    }
    if (applyScannerKeyValue(s, key, v))
        return true;
    why = badValue(key, v, expected);
    return false;
}

// "<ms> <action> [value]": quality takes a list, count_state / platen / key a number,
// place and lift nothing.
bool parseStep(CaptureScript& c, std::string_view v, std::string* why) {
    auto fail = [&](std::string text) {
        if (why)
            *why = "at = " + std::string(v) + ": " + std::move(text);
        return false;
    };
    if (c.steps.size() >= static_cast<std::size_t>(kMaxTimedSteps))
        return fail("more than 64 steps in one capture");
    std::size_t sp = v.find_first_of(" \t");
    TimedStep step;
    if (sp == std::string_view::npos || !parseInt(v.substr(0, sp), 0, kMaxTimeMs, step.ms))
        return fail("expected a time in milliseconds (0 to 86400000) and then an action");
    v = trim(v.substr(sp));
    sp = v.find_first_of(" \t");
    const std::string action = lower(v.substr(0, sp));
    const std::string_view rest =
        sp == std::string_view::npos ? std::string_view() : trim(v.substr(sp));
    int n = 0;
    if (action == "quality") {
        step.action = TimedStep::Quality;
        if (!parseIntList(rest, -1000, 1000, step.values) || step.values.empty())
            return fail("expected a list of up to 16 qualities after quality, e.g. 1,2,0,0");
    } else if (action == "count_state" || action == "platen" || action == "key") {
        step.action = action == "count_state" ? TimedStep::CountState
                      : action == "platen"    ? TimedStep::Platen
                                              : TimedStep::Key;
        const int hi = step.action == TimedStep::CountState ? 3
                       : step.action == TimedStep::Platen   ? 1
                                                            : 1000;
        if (!parseInt(rest, 0, hi, n))
            return fail("expected a number from 0 to " + std::to_string(hi) + " after " + action);
        step.values = {n};
    } else if (action == "place" || action == "lift") {
        step.action = action == "place" ? TimedStep::Place : TimedStep::Lift;
        if (!rest.empty())
            return fail("expected nothing after " + action);
    } else {
        return fail("unknown action '" + action +
                    "'; expected quality, count_state, place, lift, platen or key");
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

bool applyCaptureKey(CaptureScript& c, std::string_view keyText, std::string_view v,
                     std::string* why) {
    std::string key = lower(trim(keyText));
    v = trim(v);
    if (key == "at")
        return parseStep(c, v, why);
    const char* expected = expectedOf(kCaptureKeys, key);
    if (!expected) {
        if (why)
            *why = "unknown key '" + key +
                   "' in [capture]; expected one of: " + keyNames(kCaptureKeys);
        return false;
    }
    if (applyCaptureValue(c, key, v))
        return true;
    if (why)
        *why = badValue(key, v, expected);
    return false;
}

bool applyCaptureValue(CaptureScript& c, const std::string& key, std::string_view v) {
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

bool parseScenario(std::string_view text, Scenario& out, int& errorLine, std::string* why) {
    out = Scenario{};
    errorLine = 0;
    std::string reason;
    auto failAt = [&](int line, std::string r) {
        errorLine = line;
        if (why)
            *why = std::move(r);
        return false;
    };
    if (text.size() > kMaxScenarioBytes)
        return failAt(1, "the scenario is larger than 1 MiB");
    enum class Sec { None, Sim, Scanner, Capture } sec = Sec::None;
    ScannerScript* scanner = nullptr;
    CaptureSection* capture = nullptr;
    int lineNo = 0;
    std::size_t pos = 0;
    // Pointers into the vectors stay valid: both are reserved to their maximum below.
    out.scanners.reserve(kMaxScanners);
    out.captures.reserve(kMaxCaptureSections);
    const std::string kSections =
        "expected [sim], [scanner.N] (N 1..16), [capture], [capture.N] or [capture.N.K]";
    while (pos <= text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNo;
        auto fail = [&](std::string r) { return failAt(lineNo, std::move(r)); };
        if (line.find('\0') != std::string_view::npos)
            return fail("a zero byte in the line; expected text");
        line = trim(stripComment(line));
        if (line.empty()) {
            if (end == text.size())
                break;
            continue;
        }
        if (line.front() == '[') {
            if (line.back() != ']')
                return fail("section line without its closing ']'; " + kSections);
            std::string name;
            int a = 0, b = 0;
            const std::string_view inner = line.substr(1, line.size() - 2);
            if (!parseSectionName(inner, name, a, b))
                return fail("bad section numbers in [" + std::string(inner) +
                            "] (numbers start at 1); " + kSections);
            scanner = nullptr;
            capture = nullptr;
            if (name == "sim" && a == 0) {
                sec = Sec::Sim;
            } else if (name == "scanner" && b == 0) {
                if (a < 1 || a > kMaxScanners)
                    return fail("[scanner] needs a scanner id from 1 to 16, e.g. [scanner.1]");
                for (const auto& s : out.scanners)
                    if (s.id == a)
                        return fail("[scanner." + std::to_string(a) +
                                    "] appears twice; expected each scanner once");
                out.scanners.emplace_back();
                scanner = &out.scanners.back();
                scanner->id = a;
                scanner->serial = "SIM" + std::to_string(1000 + a);
                sec = Sec::Scanner;
            } else if (name == "capture") {
                if (a > kMaxScanners)
                    return fail("[capture." + std::to_string(a) +
                                "] names no scanner; expected a scanner id from 1 to 16");
                if (out.captures.size() >= kMaxCaptureSections)
                    return fail("more than 64 [capture] sections");
                out.captures.emplace_back();
                capture = &out.captures.back();
                capture->scanner = a;
                capture->capture = b;
                sec = Sec::Capture;
            } else {
                return fail("unknown section [" + std::string(inner) + "]; " + kSections);
            }
            if (end == text.size())
                break;
            continue;
        }
        std::size_t eq = line.find('=');
        if (eq == std::string_view::npos)
            return fail("'" + std::string(line) + "' is no 'key = value' line nor a [section]");
        std::string key = lower(trim(line.substr(0, eq)));
        std::string_view value = trim(line.substr(eq + 1));
        switch (sec) {
        case Sec::None:
            return fail("'" + key + "' before any section; expected a [section] line first");
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
                    return fail("clock = " + std::string(value) +
                                ": expected realtime, manual or immediate");
            } else if (key == "preview_ms") {
                if (!parseInt(value, 10, 10'000, out.previewMs))
                    return fail("preview_ms = " + std::string(value) +
                                ": expected a period in milliseconds from 10 to 10000");
            } else {
                return fail("unknown key '" + key + "' in [sim]; expected clock or preview_ms");
            }
            break;
        case Sec::Scanner:
            if (!applyScannerKey(*scanner, key, value, reason))
                return fail(reason);
            break;
        case Sec::Capture: {
            CaptureScript probe;
            if (!applyCaptureKey(probe, key, value, &reason))
                return fail(reason);
            if (capture->values.size() >= 64)
                return fail("more than 64 keys in one [capture] section");
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
