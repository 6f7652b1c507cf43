#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

class QThread;

namespace platform {

class MicrophoneWorker;

// The media-clock time of each sample of a capture stream. Capture devices deliver samples late
// and in bursts, and some virtual sources deliver them ahead of time, so the time of a sample is
// the time of the stream's first sample plus its index over the rate. That first time (the
// anchor) is the tightest bound the arrivals give: a sample cannot be captured after it arrived,
// nor before the stream started. Samples lost upstream show as a lag that no latency explains;
// the anchor then moves forward so later samples keep their place on the time line.
class AudioSampleClock {
public:
    // More than this between "the newest sample was captured" and "it arrived" means lost samples.
    static constexpr double maximumLag = 0.5;

    AudioSampleClock(int sampleRate, double streamStart);
    // `frames` more samples arrived at `arrival`; returns the time of the first of them.
    double advance(qint64 frames, double arrival);
    double timeOfSample(qint64 index) const;
    double anchor() const { return m_anchor; }
    qint64 samples() const { return m_samples; }

private:
    int m_rate;
    double m_streamStart;
    double m_anchor;
    qint64 m_samples = 0;
};

// The microphone: a Qt audio input read on a thread of its own, converted to interleaved float
// samples at a fixed rate and channel count and handed on in blocks of `blockFrames` (1024: one
// AAC frame), each with the media-clock time of its first sample.
class MicrophoneSource {
public:
    struct Options {
        int sampleRate = 44100;
        int channels = 2;
        int blockFrames = 1024;
        QByteArray deviceId; // empty: the system's default input
    };
    // Called on the capture thread.
    using BlockHandler = std::function<void(const float* interleaved, int frames, double mediaTime)>;

    MicrophoneSource();
    explicit MicrophoneSource(const Options& options);
    ~MicrophoneSource();
    MicrophoneSource(const MicrophoneSource&) = delete;
    MicrophoneSource& operator=(const MicrophoneSource&) = delete;

    // Opens the device and starts capturing; returns once the device has answered. Call on the GUI thread.
    bool start(BlockHandler handler, QString* error = nullptr);
    // Stops capturing. What was captured until now is handed on first (the last block may be
    // short; samples timed after this moment are dropped); the handler is not called after this returns.
    void stop();
    bool isRunning() const;
    // The device in use (its Qt id, PulseAudio's source name).
    QByteArray deviceId() const;

    // PulseAudio's default source: Qt 6.4 reports its own guess as the default input, not the server's.
    static QByteArray systemDefaultInputId();

private:
    Options m_options;
    std::unique_ptr<QThread> m_thread;
    MicrophoneWorker* m_worker = nullptr;
    QByteArray m_deviceId;
};

} // namespace platform
