#include "Beeper.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>

using platform::BeepPattern;

namespace {

int SignChanges(const std::vector<short>& s, std::size_t from, std::size_t to) {
    int n = 0;
    for (std::size_t i = from + 1; i < to; ++i)
        if ((s[i - 1] < 0) != (s[i] < 0))
            ++n;
    return n;
}

} // namespace

TEST(Beeper, RendersTonesAndPauses) {
    const auto s = platform::RenderBeepPattern({{3500, 100}, {0, 50}, {3500, 100}});
    const std::size_t perMs = platform::kBeepSampleRate / 1000;
    ASSERT_EQ(s.size(), 250 * perMs);
    // 3500 Hz for 100 ms: 350 periods, two sign changes each.
    EXPECT_NEAR(SignChanges(s, 0, 100 * perMs), 700, 4);
    for (std::size_t i = 100 * perMs; i < 150 * perMs; ++i)
        ASSERT_EQ(s[i], 0) << "pause not silent at " << i;
    short peak = 0;
    for (short v : s)
        peak = std::max<short>(peak, v);
    EXPECT_GT(peak, 10000);
    // Ramps: the tone starts and ends at silence, so the speaker does not click.
    EXPECT_EQ(s.front(), 0);
    EXPECT_LT(std::abs(s[100 * perMs - 1]), 200);
    // Nothing for empty, negative or inaudible segments; long ones are capped.
    EXPECT_TRUE(platform::RenderBeepPattern({{3500, 0}, {3500, -5}}).empty());
    EXPECT_EQ(platform::RenderBeepPattern({{30000, 10}}), std::vector<short>(10 * perMs, 0));
    EXPECT_EQ(platform::RenderBeepPattern({{0, 60000}}).size(), 10000 * perMs);
}

TEST(Beeper, WritesThroughAlsaFilePcm) {
    QTemporaryDir dir;
    const QString out = dir.filePath("tone.raw");
    const QString device = QStringLiteral("file:'%1',raw").arg(out);
    const auto samples = platform::RenderBeepPattern({{3500, 40}});
    if (!platform::PlaySamples(device, samples))
        GTEST_SKIP() << "ALSA's file PCM is not available here";
    QFile f(out);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    ASSERT_EQ(bytes.size(), static_cast<qsizetype>(samples.size() * sizeof(short)));
    EXPECT_EQ(0, std::memcmp(bytes.constData(), samples.data(), bytes.size()));
}

TEST(Beeper, MissingDeviceNeitherFailsLoudlyNorHangs) {
    EXPECT_FALSE(platform::PlaySamples("no_such_sound_device", {1, 2, 3}));
    qputenv(platform::kBeepDeviceEnv, "no_such_sound_device");
    const auto start = std::chrono::steady_clock::now();
    platform::PlayBeepPattern({{3500, 60}, {0, 40}});
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    qunsetenv(platform::kBeepDeviceEnv);
    // The pattern still takes its length: callers rely on beeps blocking while they sound.
    EXPECT_GE(ms, 100);
}

TEST(Beeper, SinkReceivesPatterns) {
    std::vector<BeepPattern> got;
    auto previous =
        platform::SetBeepSinkForTesting([&](const BeepPattern& p) { got.push_back(p); });
    platform::Beep(3500, 100);
    platform::SetBeepSinkForTesting(previous);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], (BeepPattern{{3500, 100}}));
}
