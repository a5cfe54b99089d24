#pragma once
// A pure tone generator for the operator's beeps. A pattern of tones and pauses is rendered
// into one buffer and played through ALSA in one go; the call blocks for the pattern's length.
// The PCM device is named by the environment variable STATION_BEEP_DEVICE ("default" when
// unset). A missing or broken sound device never crashes or hangs: the device is opened
// without blocking, every wait is bounded, and without a usable device the call simply waits
// out the pattern's length in silence.
#include <QString>

#include <functional>
#include <vector>

namespace platform {

// One piece of a beep pattern: a tone of frequencyHz for durationMs, or a pause when
// frequencyHz is 0.
struct BeepSegment {
    int frequencyHz = 0;
    int durationMs = 0;
    bool operator==(const BeepSegment&) const = default;
};

using BeepPattern = std::vector<BeepSegment>;

// Name of the environment variable that names the ALSA PCM device.
inline constexpr const char* kBeepDeviceEnv = "STATION_BEEP_DEVICE";

// Sample rate of the rendered tones (mono, signed 16-bit).
inline constexpr int kBeepSampleRate = 48000;

// Plays the pattern and returns when it has sounded (or, without a device, when its length
// has passed). Segments with a duration <= 0 are skipped; durations are capped at 10 s each.
void PlayBeepPattern(const BeepPattern& pattern);

// A single tone, like the classic Beep(frequency, duration).
void Beep(int frequencyHz, int durationMs);

// Renders the pattern as mono signed 16-bit samples at kBeepSampleRate.
std::vector<short> RenderBeepPattern(const BeepPattern& pattern);

// Plays rendered samples on the named ALSA device. Returns false when the device could not
// be opened or configured, or writing failed; never blocks much longer than the samples last.
bool PlaySamples(const QString& device, const std::vector<short>& samples);

// Tests install a sink that receives every pattern instead of the sound device (it returns at
// once, without waiting the pattern's length). An empty sink restores the sound device.
// Returns the previous sink.
using BeepSink = std::function<void(const BeepPattern&)>;
BeepSink SetBeepSinkForTesting(BeepSink sink);

} // namespace platform
