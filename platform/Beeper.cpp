#include "Beeper.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <mutex>
#include <numbers>
#include <thread>

namespace platform {

namespace {

constexpr int kMaxSegmentMs = 10'000;
constexpr int kFadeSamples = kBeepSampleRate / 500; // 2 ms ramps keep the tone free of clicks
constexpr double kAmplitude = 0.5 * 32767.0;
constexpr int kLatencyUs = 100'000;
constexpr int kSlackMs = 500; // how long past the samples' length the device may take

std::mutex gSinkMutex;
BeepSink gSink;

using Clock = std::chrono::steady_clock;

int SegmentMs(const BeepSegment& s) {
    return std::clamp(s.durationMs, 0, kMaxSegmentMs);
}

int PatternMs(const BeepPattern& pattern) {
    int total = 0;
    for (const auto& s : pattern)
        total += SegmentMs(s);
    return total;
}

// ALSA reports every failure on stderr by default; a missing device is normal here.
void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}

void SilenceAlsaOnce() {
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(QuietAlsa); });
}

struct PcmCloser {
    void operator()(snd_pcm_t* pcm) const {
        if (pcm)
            snd_pcm_close(pcm);
    }
};

} // namespace

std::vector<short> RenderBeepPattern(const BeepPattern& pattern) {
    std::vector<short> out;
    for (const auto& s : pattern) {
        const int ms = SegmentMs(s);
        if (ms <= 0)
            continue;
        const std::size_t n = static_cast<std::size_t>(kBeepSampleRate) * ms / 1000;
        const std::size_t start = out.size();
        out.resize(start + n, 0);
        if (s.frequencyHz <= 0 || s.frequencyHz >= kBeepSampleRate / 2)
            continue; // a pause, or a tone the sample rate cannot carry: silence
        const double step = 2.0 * std::numbers::pi * s.frequencyHz / kBeepSampleRate;
        for (std::size_t i = 0; i < n; ++i) {
            double gain = 1.0;
            const std::size_t fromEnd = n - 1 - i;
            if (i < kFadeSamples)
                gain = static_cast<double>(i) / kFadeSamples;
            else if (fromEnd < kFadeSamples)
                gain = static_cast<double>(fromEnd) / kFadeSamples;
            out[start + i] =
                static_cast<short>(std::lround(kAmplitude * gain * std::sin(step * i)));
        }
    }
    return out;
}

bool PlaySamples(const QString& device, const std::vector<short>& samples) {
    if (samples.empty())
        return true;
    SilenceAlsaOnce();
    snd_pcm_t* raw = nullptr;
    const QByteArray name = device.toLocal8Bit();
    // Non-blocking open: a device held by someone else answers at once instead of waiting.
    if (snd_pcm_open(&raw, name.constData(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0)
        return false;
    std::unique_ptr<snd_pcm_t, PcmCloser> pcm(raw);
    if (snd_pcm_set_params(raw, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED, 1,
                           kBeepSampleRate, 1, kLatencyUs) < 0)
        return false;

    const auto lengthMs = static_cast<long long>(samples.size()) * 1000 / kBeepSampleRate;
    const auto deadline = Clock::now() + std::chrono::milliseconds(lengthMs + kSlackMs);
    std::size_t done = 0;
    while (done < samples.size()) {
        if (Clock::now() > deadline)
            return false;
        const snd_pcm_sframes_t w =
            snd_pcm_writei(raw, samples.data() + done, samples.size() - done);
        if (w == -EAGAIN) {
            snd_pcm_wait(raw, 20);
            continue;
        }
        if (w < 0) {
            if (snd_pcm_recover(raw, static_cast<int>(w), 1) < 0)
                return false;
            continue;
        }
        done += static_cast<std::size_t>(w);
    }
    // Let the buffered tail sound before closing, but never wait past the deadline.
    while (Clock::now() < deadline) {
        snd_pcm_sframes_t delay = 0;
        if (snd_pcm_delay(raw, &delay) < 0 || delay <= 0)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void PlayBeepPattern(const BeepPattern& pattern) {
    BeepSink sink;
    {
        std::lock_guard lock(gSinkMutex);
        sink = gSink;
    }
    if (sink) {
        sink(pattern);
        return;
    }
    const int totalMs = PatternMs(pattern);
    if (totalMs <= 0)
        return;
    const auto started = Clock::now();
    const QString device = qEnvironmentVariableIsSet(kBeepDeviceEnv)
                               ? qEnvironmentVariable(kBeepDeviceEnv)
                               : QStringLiteral("default");
    PlaySamples(device, RenderBeepPattern(pattern));
    // The pattern lasts its full length whatever the device did (a device that swallows
    // samples at once, or none at all).
    const auto end = started + std::chrono::milliseconds(totalMs);
    if (Clock::now() < end)
        std::this_thread::sleep_until(end);
}

void Beep(int frequencyHz, int durationMs) {
    PlayBeepPattern({{frequencyHz, durationMs}});
}

BeepSink SetBeepSinkForTesting(BeepSink sink) {
    std::lock_guard lock(gSinkMutex);
    std::swap(gSink, sink);
    return sink;
}

} // namespace platform
