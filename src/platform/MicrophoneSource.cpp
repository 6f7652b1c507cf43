#include "platform/MicrophoneSource.h"

#include "platform/MediaClock.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSource>
#include <QMediaDevices>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <cmath>
#include <optional>
#include <vector>

namespace platform {

AudioSampleClock::AudioSampleClock(int sampleRate, double streamStart)
    : m_rate(sampleRate > 0 ? sampleRate : 1)
    , m_streamStart(streamStart)
    , m_anchor(streamStart)
{
}

double AudioSampleClock::advance(qint64 frames, double arrival)
{
    const qint64 first = m_samples;
    m_samples += std::max<qint64>(frames, 0);
    const double bound = arrival - double(m_samples) / m_rate;
    if (first == 0 || bound < m_anchor)
        m_anchor = std::max(m_streamStart, bound);
    const double lag = arrival - timeOfSample(m_samples);
    if (lag > maximumLag)
        m_anchor += lag;
    return timeOfSample(first);
}

double AudioSampleClock::timeOfSample(qint64 index) const
{
    return m_anchor + double(index) / m_rate;
}

namespace {

AVSampleFormat avFormat(QAudioFormat::SampleFormat format)
{
    switch (format) {
    case QAudioFormat::UInt8:
        return AV_SAMPLE_FMT_U8;
    case QAudioFormat::Int16:
        return AV_SAMPLE_FMT_S16;
    case QAudioFormat::Int32:
        return AV_SAMPLE_FMT_S32;
    case QAudioFormat::Float:
        return AV_SAMPLE_FMT_FLT;
    default:
        return AV_SAMPLE_FMT_NONE;
    }
}

QString audioErrorText(QAudio::Error error, const QString& device)
{
    switch (error) {
    case QAudio::OpenError:
        return QStringLiteral("The audio input \"%1\" could not be opened").arg(device);
    case QAudio::IOError:
        return QStringLiteral("The audio input \"%1\" could not be read").arg(device);
    case QAudio::FatalError:
        return QStringLiteral("The audio input \"%1\" failed").arg(device);
    default:
        return QStringLiteral("The audio input \"%1\" did not start").arg(device);
    }
}

} // namespace

// Owns the Qt audio input on the capture thread. The owner's requests and their answers pass
// under m_requestMutex: Qt's own queue locks in ways a thread checker cannot follow.
class MicrophoneWorker : public QObject {
    Q_OBJECT

public:
    MicrophoneWorker(const QAudioDevice& device, const MicrophoneSource::Options& options,
                     MicrophoneSource::BlockHandler handler)
        : m_device(device)
        , m_options(options)
        , m_handler(std::move(handler))
    {
    }

    ~MicrophoneWorker() override
    {
        swr_free(&m_resampler);
    }

    // From the owner's thread: runs open() or close() on the capture thread and waits for it.
    bool requestOpen(QString* error)
    {
        request("open", 0);
        std::lock_guard lock(m_requestMutex);
        if (error)
            *error = m_openError;
        return m_opened;
    }

    void requestClose(double stopTime)
    {
        request("close", stopTime);
    }

private:
    void request(const char* method, double stopTime)
    {
        {
            std::lock_guard lock(m_requestMutex);
            m_answered = false;
            m_stopTime = stopTime;
        }
        QMetaObject::invokeMethod(this, method, Qt::QueuedConnection);
        std::unique_lock lock(m_requestMutex);
        m_answer.wait(lock, [this] { return m_answered; });
    }

    void answer()
    {
        {
            std::lock_guard lock(m_requestMutex);
            m_answered = true;
        }
        m_answer.notify_all();
    }

    Q_INVOKABLE void open()
    {
        {
            std::lock_guard lock(m_requestMutex);
        }
        QString error;
        const bool opened = openDevice(&error);
        {
            std::lock_guard lock(m_requestMutex);
            m_opened = opened;
            m_openError = error;
        }
        answer();
    }

    Q_INVOKABLE void close()
    {
        double stopTime = 0;
        {
            std::lock_guard lock(m_requestMutex);
            stopTime = m_stopTime;
        }
        closeDevice(stopTime);
        answer();
    }

    bool openDevice(QString* error)
    {
        QAudioFormat wanted;
        wanted.setSampleRate(m_options.sampleRate);
        wanted.setChannelCount(m_options.channels);
        wanted.setSampleFormat(QAudioFormat::Float);
        m_format = m_device.isFormatSupported(wanted) ? wanted : m_device.preferredFormat();
        if (m_format != wanted && !makeResampler()) {
            *error = QStringLiteral("The audio input \"%1\" has an unsupported format").arg(m_device.description());
            return false;
        }
        m_source = new QAudioSource(m_device, m_format, this);
        m_io = m_source->start();
        if (!m_io || m_source->error() != QAudio::NoError || m_source->state() == QAudio::StoppedState) {
            *error = audioErrorText(m_source->error(), m_device.description());
            delete m_source;
            m_source = nullptr;
            m_io = nullptr;
            return false;
        }
        m_clock.emplace(m_options.sampleRate, MediaClock::now());
        connect(m_io, &QIODevice::readyRead, this, [this] { readAvailable(); });
        return true;
    }

    void closeDevice(double stopTime)
    {
        if (!m_source)
            return;
        readAvailable(false);
        m_source->stop();
        delete m_source;
        m_source = nullptr;
        m_io = nullptr;
        // A virtual source may have handed out samples ahead of time: none after the stop.
        handOn(samplesUntil(stopTime), true);
        m_pending.clear();
        m_pendingOffset = 0;
    }

private:
    bool makeResampler()
    {
        const AVSampleFormat in = avFormat(m_format.sampleFormat());
        if (in == AV_SAMPLE_FMT_NONE || m_format.channelCount() <= 0 || m_format.sampleRate() <= 0)
            return false;
        AVChannelLayout inLayout;
        AVChannelLayout outLayout;
        av_channel_layout_default(&inLayout, m_format.channelCount());
        av_channel_layout_default(&outLayout, m_options.channels);
        const int result = swr_alloc_set_opts2(&m_resampler, &outLayout, AV_SAMPLE_FMT_FLT, m_options.sampleRate,
                                               &inLayout, in, m_format.sampleRate(), 0, nullptr);
        av_channel_layout_uninit(&inLayout);
        av_channel_layout_uninit(&outLayout);
        return result >= 0 && swr_init(m_resampler) >= 0;
    }

    // The number of samples timed before `time`.
    qint64 samplesUntil(double time) const
    {
        const double samples = (time - m_clock->anchor()) * m_options.sampleRate;
        return std::max<qint64>(0, static_cast<qint64>(std::ceil(samples)));
    }

    void readAvailable(bool handOnNow = true)
    {
        if (!m_io)
            return;
        const QByteArray data = m_io->readAll();
        if (data.isEmpty())
            return;
        const double arrival = MediaClock::now();
        const int channels = m_options.channels;
        const size_t before = m_pending.size();
        if (!m_resampler) {
            const auto* samples = reinterpret_cast<const float*>(data.constData());
            const size_t count = static_cast<size_t>(data.size()) / sizeof(float) / channels * channels;
            m_pending.insert(m_pending.end(), samples, samples + count);
        } else {
            const int bytesPerFrame = m_format.bytesPerFrame();
            const int inFrames = bytesPerFrame > 0 ? static_cast<int>(data.size() / bytesPerFrame) : 0;
            const int room = swr_get_out_samples(m_resampler, inFrames);
            if (room > 0) {
                m_pending.resize(before + static_cast<size_t>(room) * channels);
                auto* out = reinterpret_cast<uint8_t*>(m_pending.data() + before);
                const auto* in = reinterpret_cast<const uint8_t*>(data.constData());
                const int made = swr_convert(m_resampler, &out, room, &in, inFrames);
                m_pending.resize(before + static_cast<size_t>(std::max(made, 0)) * channels);
            }
        }
        const qint64 frames = static_cast<qint64>((m_pending.size() - before) / channels);
        if (frames > 0)
            m_clock->advance(frames, arrival);
        // Samples a virtual source rendered ahead wait until their time has come.
        if (handOnNow)
            handOn(samplesUntil(arrival), false);
    }

    // Hands on whole blocks (and, at the end, the short rest) of the samples before `limit`.
    void handOn(qint64 limit, bool final)
    {
        const int channels = m_options.channels;
        const qint64 block = m_options.blockFrames;
        for (;;) {
            const qint64 available = static_cast<qint64>(m_pending.size() - m_pendingOffset) / channels;
            const qint64 allowed = std::min(available, limit - m_handedOn);
            const qint64 frames = std::min(allowed, block);
            if (frames <= 0 || (frames < block && !final))
                break;
            if (m_handler)
                m_handler(m_pending.data() + m_pendingOffset, static_cast<int>(frames), m_clock->timeOfSample(m_handedOn));
            m_pendingOffset += static_cast<size_t>(frames) * channels;
            m_handedOn += frames;
        }
        if (m_pendingOffset > 0 && m_pendingOffset * 2 >= m_pending.size()) {
            m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(m_pendingOffset));
            m_pendingOffset = 0;
        }
    }

    std::mutex m_requestMutex;
    std::condition_variable m_answer;
    bool m_answered = false;
    double m_stopTime = 0;
    bool m_opened = false;
    QString m_openError;

    QAudioDevice m_device;
    MicrophoneSource::Options m_options;
    MicrophoneSource::BlockHandler m_handler;
    QAudioFormat m_format;
    QAudioSource* m_source = nullptr;
    QIODevice* m_io = nullptr;
    SwrContext* m_resampler = nullptr;
    std::optional<AudioSampleClock> m_clock;
    std::vector<float> m_pending;
    size_t m_pendingOffset = 0;
    qint64 m_handedOn = 0; // index of the first sample not yet handed on
};

MicrophoneSource::MicrophoneSource()
    : MicrophoneSource(Options{})
{
}

MicrophoneSource::MicrophoneSource(const Options& options)
    : m_options(options)
{
    m_options.sampleRate = std::max(1, m_options.sampleRate);
    m_options.channels = std::clamp(m_options.channels, 1, 8);
    m_options.blockFrames = std::max(1, m_options.blockFrames);
}

MicrophoneSource::~MicrophoneSource()
{
    stop();
}

bool MicrophoneSource::isRunning() const
{
    return m_worker != nullptr;
}

QByteArray MicrophoneSource::deviceId() const
{
    return m_deviceId;
}

QByteArray MicrophoneSource::systemDefaultInputId()
{
    const QString pactl = QStandardPaths::findExecutable(QStringLiteral("pactl"));
    if (pactl.isEmpty())
        return {};
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    process.setProcessEnvironment(environment);
    process.start(pactl, {QStringLiteral("info")});
    if (!process.waitForFinished(2000)) {
        process.kill();
        process.waitForFinished(1000);
        return {};
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return {};
    for (const QByteArray& line : process.readAllStandardOutput().split('\n')) {
        static const QByteArray key = "Default Source:";
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed();
    }
    return {};
}

bool MicrophoneSource::start(BlockHandler handler, QString* error)
{
    const auto fail = [error](const QString& reason) {
        if (error)
            *error = reason;
        return false;
    };
    if (m_worker)
        return fail(QStringLiteral("The microphone is already running"));
    const QList<QAudioDevice> inputs = QMediaDevices::audioInputs();
    if (inputs.isEmpty())
        return fail(QStringLiteral("No audio input device is available"));
    const QByteArray wanted = m_options.deviceId.isEmpty() ? systemDefaultInputId() : m_options.deviceId;
    QAudioDevice device;
    for (const QAudioDevice& input : inputs)
        if (!wanted.isEmpty() && input.id() == wanted)
            device = input;
    if (device.isNull()) {
        if (!m_options.deviceId.isEmpty())
            return fail(QStringLiteral("The audio input \"%1\" is not available").arg(QString::fromUtf8(m_options.deviceId)));
        device = QMediaDevices::defaultAudioInput();
        if (device.isNull())
            device = inputs.first();
    }

    m_thread = std::make_unique<QThread>();
    m_thread->setObjectName(QStringLiteral("Microphone"));
    auto* worker = new MicrophoneWorker(device, m_options, std::move(handler));
    worker->moveToThread(m_thread.get());
    QObject::connect(m_thread.get(), &QThread::finished, worker, &QObject::deleteLater);
    m_thread->start();
    QString reason;
    if (!worker->requestOpen(&reason)) {
        m_thread->quit();
        m_thread->wait();
        m_thread.reset();
        return fail(reason);
    }
    m_worker = worker;
    m_deviceId = device.id();
    return true;
}

void MicrophoneSource::stop()
{
    if (!m_worker)
        return;
    m_worker->requestClose(MediaClock::now());
    m_worker = nullptr;
    m_thread->quit();
    m_thread->wait();
    m_thread.reset();
}

} // namespace platform

#include "MicrophoneSource.moc"
