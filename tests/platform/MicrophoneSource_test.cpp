#include "platform/MicrophoneSource.h"

#include "platform/MediaClock.h"
#include "recording/MediaFileProbe.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

using platform::AudioSampleClock;
using platform::MicrophoneSource;

namespace {

constexpr int rate = 44100;

struct Chunk {
    qint64 frames;
    double arrival;
};

std::vector<double> run(AudioSampleClock& clock, const std::vector<Chunk>& chunks)
{
    std::vector<double> times;
    for (const Chunk& c : chunks)
        times.push_back(clock.advance(c.frames, c.arrival));
    return times;
}

} // namespace

// A microphone delivering 10 ms periods with a few ms of varying latency: samples are timed from
// the earliest the arrivals allow, and stay gapless.
TEST(AudioSampleClock, SteadyDeviceIsTimedByItsLeastLateArrival)
{
    AudioSampleClock clock(rate, 100.0);
    std::vector<Chunk> chunks;
    const double jitter[] = {0.004, 0.002, 0.003, 0.001, 0.003, 0.002};
    for (int k = 0; k < 60; ++k)
        chunks.push_back({441, 100.0 + 0.01 * (k + 1) + jitter[k % 6]});
    const auto times = run(clock, chunks);
    EXPECT_NEAR(clock.anchor(), 100.001, 1e-6);
    EXPECT_NEAR(times.front(), 100.004, 1e-6) << "first chunk: its own arrival is all we know";
    for (size_t k = 5; k < times.size(); ++k)
        EXPECT_NEAR(times[k], 100.001 + 0.01 * double(k), 1e-6) << k;
}

TEST(AudioSampleClock, SamplesHandedOutAheadOfTimeStartWithTheStream)
{
    // A virtual source that renders two seconds at a time, ahead of the clock.
    AudioSampleClock clock(rate, 10.0);
    const auto times = run(clock, {{2 * rate, 11.95}, {2 * rate, 12.95}, {2 * rate, 14.9}});
    EXPECT_DOUBLE_EQ(times[0], 10.0);
    EXPECT_DOUBLE_EQ(times[1], 12.0);
    EXPECT_DOUBLE_EQ(times[2], 14.0);
}

TEST(AudioSampleClock, ABacklogDeliveredLateKeepsItsPlace)
{
    AudioSampleClock clock(rate, 5.0);
    const auto times = run(clock, {{rate / 2, 5.6}, {441, 5.61}, {441, 5.62}});
    EXPECT_NEAR(times[0], 5.1, 1e-9);
    EXPECT_NEAR(times[1], 5.6, 1e-9);
    EXPECT_NEAR(times[2], 5.61, 1e-9);
}

TEST(AudioSampleClock, LostSamplesMoveTheClockOnInsteadOfDelayingTheRest)
{
    AudioSampleClock clock(rate, 0.0);
    std::vector<Chunk> chunks;
    for (int k = 1; k <= 50; ++k)
        chunks.push_back({441, 0.01 * k});
    // A second of samples never arrives; delivery goes on in real time.
    for (int k = 151; k <= 160; ++k)
        chunks.push_back({441, 0.01 * k});
    const auto times = run(clock, chunks);
    EXPECT_NEAR(times[49], 0.49, 1e-9);
    EXPECT_NEAR(times[50], 1.50, 1e-9) << "the first chunk after the gap sits where it was captured";
    EXPECT_NEAR(times[59], 1.59, 1e-9);
}

TEST(MicrophoneSource, SineSourceGivesGaplessTimedBlocks)
{
    if (qEnvironmentVariable("KESTROVA_PULSE") != "1")
        GTEST_SKIP() << "PulseAudio with the sine source is not running (scripts/test starts it)";
    EXPECT_EQ(MicrophoneSource::systemDefaultInputId(), "sinemic");

    struct Block {
        int frames;
        double time;
    };
    std::mutex mutex;
    std::vector<Block> blocks;
    std::vector<float> left;
    MicrophoneSource microphone;
    const double before = platform::MediaClock::now();
    QString error;
    ASSERT_TRUE(microphone.start(
        [&](const float* samples, int frames, double time) {
            std::lock_guard lock(mutex);
            blocks.push_back({frames, time});
            for (int i = 0; i < frames; ++i)
                left.push_back(samples[i * 2]);
        },
        &error))
        << error.toStdString();
    // Connecting to the sound server can take a while on a loaded machine; the blocks must cover
    // the time from the end of start() to stop(), not the time start() itself took.
    const double started = platform::MediaClock::now();
    EXPECT_TRUE(microphone.isRunning());
    EXPECT_EQ(microphone.deviceId(), "sinemic");
    // The sine source delivers in bursts of up to two seconds.
    test::spin(std::chrono::seconds(3));
    microphone.stop();
    const double stopped = platform::MediaClock::now();
    EXPECT_FALSE(microphone.isRunning());

    std::lock_guard lock(mutex);
    const size_t count = blocks.size();
    ASSERT_GT(count, 10u);
    for (size_t i = 0; i + 1 < count; ++i) {
        EXPECT_EQ(blocks[i].frames, 1024) << i;
        EXPECT_NEAR(blocks[i + 1].time - blocks[i].time, 1024.0 / rate, 1e-6) << i;
    }
    EXPECT_LE(blocks.back().frames, 1024);
    EXPECT_GE(blocks.front().time, before);
    const double end = blocks.back().time + double(blocks.back().frames) / rate;
    EXPECT_LE(end, stopped) << "nothing timed after the stop";
    EXPECT_LE(end - blocks.front().time, stopped - before + 0.2);
    EXPECT_GE(end - blocks.front().time, stopped - started - 0.2);
    EXPECT_EQ(media::dominantFrequency(left, rate), 440);

    test::spin(std::chrono::milliseconds(300));
    EXPECT_EQ(blocks.size(), count) << "no block after stop()";
}

TEST(MicrophoneSource, AnUnknownDeviceIsAnError)
{
    if (qEnvironmentVariable("KESTROVA_PULSE") != "1")
        GTEST_SKIP() << "PulseAudio is not running";
    MicrophoneSource::Options options;
    options.deviceId = "no-such-source";
    MicrophoneSource microphone(options);
    QString error;
    EXPECT_FALSE(microphone.start([](const float*, int, double) {}, &error));
    EXPECT_TRUE(error.contains("no-such-source")) << error.toStdString();
    EXPECT_FALSE(microphone.isRunning());
    microphone.stop(); // harmless
}
