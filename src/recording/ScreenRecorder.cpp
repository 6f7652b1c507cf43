#include "recording/ScreenRecorder.h"

#include "app/DebugLogger.h"
#include "platform/Console.h"
#include "platform/FileWriteFailure.h"
#include "platform/GlobalClickSource.h"
#include "platform/MediaClock.h"
#include "platform/MicrophoneSource.h"
#include "platform/Mp4Writer.h"
#include "platform/NumberFormat.h"
#include "platform/OwnFile.h"
#include "platform/PixelGrabber.h"
#include "platform/ScreenGeometry.h"
#include "platform/SystemColors.h"
#include "platform/XdgPaths.h"
#include "recording/RecordingWindowPlacement.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPainter>
#include <QPointer>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <cerrno>
#include <cstdio>
#include <cstring>

using platform::AppError;
using platform::NumberFormat;

namespace {

QString boolText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

QString errorText(const std::optional<AppError>& error)
{
    if (!error)
        return QStringLiteral("nil");
    return QStringLiteral("Error Domain=%1 Code=%2 \"%3\"").arg(error->domain).arg(error->code).arg(error->localizedDescription);
}

QString seconds2(double value)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.2f", value);
    return QString::fromLatin1(buffer);
}

void log(const QString& message, std::source_location where = std::source_location::current())
{
    DebugLogger::shared().log(message, where);
}

} // namespace

QString ScreenRecorder::errorDomain()
{
    return QStringLiteral("Kestrova");
}

AppError ScreenRecorder::error(ErrorCode code)
{
    switch (code) {
    case AlreadyRecording:
        return {errorDomain(), code, QStringLiteral("Already recording")};
    case NotRecording:
        return {errorDomain(), code, QStringLiteral("Not recording")};
    case NoOutputURL:
        return {errorDomain(), code, QStringLiteral("No output URL")};
    case NoAssetWriter:
        return {errorDomain(), code, QStringLiteral("No asset writer")};
    case RecordingTooShort:
        return {errorDomain(), code, QStringLiteral("Запись слишком короткая"),
                QStringLiteral("Минимальная длительность записи - 1 секунда")};
    case WriteFailed:
        return {errorDomain(), code, QStringLiteral("Не удалось записать файл")};
    }
    return {errorDomain(), code, {}};
}

AppError ScreenRecorder::writeFailure(const AppError& cause, const std::optional<QString>& keptFile)
{
    const QString reason = -cause.code == ENOENT
        ? QStringLiteral("папка записей удалена")
        : platform::FileWriteFailure::reason(-cause.code).value_or(cause.localizedDescription);
    AppError result = error(WriteFailed);
    result.localizedDescription = QStringLiteral("Запись остановлена: ") + reason + QLatin1Char('.');
    if (keptFile)
        result.localizedFailureReason = QStringLiteral("Записанное до сбоя сохранено: ") + *keptFile;
    else if (-cause.code == ENOENT)
        result.localizedFailureReason = QStringLiteral("Записанное удалено вместе с папкой");
    else
        result.localizedFailureReason = QStringLiteral("Записанного слишком мало, чтобы сохранить");
    result.localizedDescription += QLatin1Char('\n') + result.localizedFailureReason;
    return result;
}

ScreenRecorder::ScreenRecorder(QObject* parent)
    : QObject(parent)
{
}

ScreenRecorder::~ScreenRecorder()
{
    ++m_generation;
    m_capturing = false;
    stopDisplayLink();
    stopMouseMonitoring();
    if (m_microphone)
        m_microphone->stop();
    m_audioAccepting = false;
    if (m_writer && m_phase != Phase::Finishing) {
        // Whatever was recorded long enough stays a playable file.
        if (m_frameCount >= minimumFrameCount || m_writer->status() == platform::Mp4Writer::Status::Failed)
            finishInBackground(m_writer, m_partialURL, m_outputURL, m_writeFailed ? -1 : m_frameCount.load(),
                               std::make_shared<std::atomic<bool>>(false), std::nullopt, nullptr);
        else
            m_writer->cancelWriting();
    }
}

QString ScreenRecorder::recordingsDirectory()
{
    return platform::XdgPaths::documentsDir() + QStringLiteral("/ScreenRecordings");
}

QString ScreenRecorder::fileName(const QDateTime& localStart)
{
    return QStringLiteral("ScreenRecord_") + localStart.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"))
        + QStringLiteral(".mp4");
}

QString ScreenRecorder::inProgressPath(const QString& finishedPath)
{
    const QFileInfo info(finishedPath);
    // Hidden, and not ".mp4": nothing that lists recordings takes it for a finished one.
    return info.path() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".part");
}

QSize ScreenRecorder::videoSize(const QRectF& area)
{
    return platform::Mp4Writer::evenVideoSize(area.size());
}

QList<ScreenRecorder::MouseClickAnimation> ScreenRecorder::clickAnimations() const
{
    std::lock_guard lock(m_clickMutex);
    return m_clickAnimations;
}

void ScreenRecorder::setIsRecording(bool value)
{
    if (m_isRecording == value)
        return;
    m_isRecording = value;
    emit isRecordingChanged();
}

void ScreenRecorder::setRecordingDuration(double value)
{
    if (m_recordingDuration == value)
        return;
    m_recordingDuration = value;
    emit recordingDurationChanged();
}

// MARK: - Start

void ScreenRecorder::startRecording(const QRectF& area, const RecordingSettings& settings, StartCompletion completion)
{
    // A writer still running or finishing belongs to an earlier recording: replacing it would break that file.
    if (m_isRecording || m_phase != Phase::Idle) {
        if (completion)
            completion(false, error(AlreadyRecording));
        return;
    }
    log(QStringLiteral("ScreenRecorder: startRecording called - area: ") + NumberFormat::rect(area) + QStringLiteral(", mic: ")
        + boolText(settings.recordMicrophone) + QStringLiteral(", systemAudio: ") + boolText(settings.recordSystemAudio));
    m_recordingArea = area;
    m_settings = settings;
    m_outputURL = recordingsDirectory() + QLatin1Char('/') + fileName(QDateTime::currentDateTime());
    log(QStringLiteral("ScreenRecorder: Output URL: ") + (m_outputURL.isEmpty() ? QStringLiteral("nil") : m_outputURL));

    setupAssetWriter([&](bool success, std::optional<AppError> setupError) {
        log(QStringLiteral("ScreenRecorder: setupAssetWriter completed - success: ") + boolText(success)
            + QStringLiteral(", error: ") + errorText(setupError));
        if (!success) {
            log(QStringLiteral("ScreenRecorder: setupAssetWriter FAILED"));
            if (completion)
                completion(false, setupError);
            return;
        }
        if (m_settings->recordMicrophone) {
            log(QStringLiteral("ScreenRecorder: Setting up audio recording"));
            setupMicrophoneCapture();
        } else {
            log(QStringLiteral("ScreenRecorder: Skipping audio recording (microphone disabled)"));
        }
        m_phase = Phase::Starting;
        const quint64 generation = ++m_generation;
        QMetaObject::invokeMethod(
            this,
            [this, generation] {
                if (generation != m_generation || m_phase != Phase::Starting)
                    return;
                m_phase = Phase::Recording;
                setIsRecording(true);
                m_capturing = true;
                startDisplayLink();
                if (m_drawClicks)
                    startMouseMonitoring();
                log(QStringLiteral("ScreenRecorder: Recording started, display link activated, click monitoring: ")
                    + boolText(m_drawClicks));
            },
            Qt::QueuedConnection);
        if (completion)
            completion(true, std::nullopt);
    });
}

void ScreenRecorder::setupAssetWriter(const Report& completion)
{
    if (m_outputURL.isEmpty()) {
        completion(false, error(NoOutputURL));
        return;
    }
    // A missing folder is made; if that fails, opening the file reports it.
    QDir().mkpath(QFileInfo(m_outputURL).absolutePath());
    if (QFile::exists(m_outputURL)) {
        QFile older(m_outputURL);
        if (!older.remove()) {
            completion(false, AppError{QStringLiteral("FileSystem"), static_cast<int>(older.error()), older.errorString()});
            return;
        }
    }
    m_partialURL = inProgressPath(m_outputURL);
    if (QFile::exists(m_partialURL))
        QFile::remove(m_partialURL);
    AppError writerError;
    m_writer = platform::Mp4Writer::create(m_partialURL, &writerError);
    if (!m_writer) {
        completion(false, writerError);
        return;
    }
    m_writer->setLayout(platform::Mp4Writer::Layout::Fragmented);
    platform::Mp4VideoSettings video;
    video.size = videoSize(m_recordingArea);
    video.averageBitRate = 5'000'000;
    // At most a second between key frames; the fragmented layout adds one at every half-second cut.
    video.maxKeyFrameInterval = frameRate;
    video.frameRate = frameRate;
    if (!m_writer->addVideoTrack(video, &writerError)) {
        completion(false, writerError);
        return;
    }
    m_drawClicks = m_settings && m_settings->showClickIndicator;
    if (m_settings && m_settings->recordMicrophone)
        setupAudioRecording();
    if (!m_writer->startWriting(&writerError)) {
        if (m_microphone) {
            m_microphone->stop();
            m_microphone.reset();
        }
        completion(false, writerError);
        return;
    }
    m_startTime = platform::MediaClock::now();
    m_frameCount = 0;
    platform::Console::printLine(QStringLiteral("Kestrova: Asset writer setup complete"));
    completion(true, std::nullopt);
}

// MARK: - Stop

void ScreenRecorder::stopRecording(StopCompletion completion)
{
    if (!m_isRecording) {
        if (completion)
            completion(std::nullopt, error(NotRecording));
        return;
    }
    const int frames = m_frameCount.load();
    log(QStringLiteral("ScreenRecorder: stopRecording called - frameCount: ") + QString::number(frames));
    if (frames < minimumFrameCount) {
        log(QStringLiteral("ScreenRecorder: ERROR - Too few frames (") + QString::number(frames)
            + QStringLiteral("), need at least 30 frames (1 second)"));
        stopCapture();
        // Too short to keep: it goes.
        if (m_writer)
            m_writer->cancelWriting();
        std::optional<AppError> cause;
        {
            std::lock_guard lock(m_failureMutex);
            cause = m_writeFailureCause;
        }
        cleanup();
        if (completion)
            completion(std::nullopt, cause ? writeFailure(*cause, std::nullopt) : error(RecordingTooShort));
        return;
    }
    stopCapture();
    log(QStringLiteral("ScreenRecorder: Calling finishRecording"));
    QPointer<ScreenRecorder> self(this);
    const QString path = m_outputURL;
    finishRecording([self, path, completion](bool success, std::optional<AppError> finishError) {
        log(QStringLiteral("ScreenRecorder: finishRecording completed - success: ") + boolText(success)
            + QStringLiteral(", error: ") + errorText(finishError));
        // A recorder released while its file was finishing still hands the file on.
        const QString url = self ? self->m_outputURL : path;
        if (success && !url.isEmpty()) {
            log(QStringLiteral("ScreenRecorder: Recording finished successfully - URL: ") + url);
            if (completion)
                completion(url, std::nullopt);
        } else {
            log(QStringLiteral("ScreenRecorder: Recording finished with ERROR"));
            if (completion)
                completion(std::nullopt, finishError);
        }
    });
}

// Ends capture, microphone and clicks, in that order. Once this returns no frame or sample can
// reach the writer any more: the frame thread has been joined and the microphone drained.
void ScreenRecorder::stopCapture()
{
    ++m_generation;
    setIsRecording(false);
    m_capturing = false;
    stopDisplayLink();
    stopAudioRecording();
    stopMouseMonitoring();
}

// Brings the writer's report back to the GUI thread: prints, answers the stop and cleans up,
// also when the recorder has been released meanwhile (the file is still handed on). The report
// itself waits in the finish state, under its lock.
class FinishRelay : public QObject {
    Q_OBJECT

public:
    FinishRelay(ScreenRecorder* recorder, std::shared_ptr<ScreenRecorder::FinishState> finish, int frames,
                ScreenRecorder::Report completion)
        : m_recorder(recorder)
        , m_finish(std::move(finish))
        , m_frames(frames)
        , m_completion(std::move(completion))
    {
    }
    void post() { QMetaObject::invokeMethod(this, "deliver", Qt::QueuedConnection); }

private:
    Q_INVOKABLE void deliver()
    {
        bool success = false;
        std::optional<AppError> error;
        {
            std::lock_guard lock(m_finish->mutex);
            success = m_finish->success;
            error = m_finish->error;
        }
        if (m_recorder)
            m_recorder->setRecordingDuration(0);
        if (success)
            platform::Console::printLine(QStringLiteral("Kestrova: Recording finished successfully. Frames: ")
                                         + QString::number(m_frames));
        else
            platform::Console::printLine(QStringLiteral("Kestrova: Recording failed with error: ") + errorText(error));
        m_completion(success, error);
        if (m_recorder)
            m_recorder->cleanup();
        deleteLater();
    }

    QPointer<ScreenRecorder> m_recorder;
    std::shared_ptr<ScreenRecorder::FinishState> m_finish;
    int m_frames;
    ScreenRecorder::Report m_completion;
};

void ScreenRecorder::finishRecording(Report completion, bool indexAtEnd)
{
    if (!m_writer || !m_writer->hasVideoTrack()) {
        completion(false, error(NoAssetWriter));
        return;
    }
    m_phase = Phase::Finishing;
    auto finish = std::make_shared<FinishState>();
    m_finish = finish;
    auto* relay = new FinishRelay(this, finish, m_frameCount.load(), std::move(completion));
    m_finishRelay = relay;
    m_quickFinish = std::make_shared<std::atomic<bool>>(indexAtEnd);
    std::optional<AppError> cause;
    {
        std::lock_guard lock(m_failureMutex);
        cause = m_writeFailureCause;
    }
    // After a failed write the frames appended are not the frames on disk: they are counted there.
    finishInBackground(m_writer, m_partialURL, m_outputURL, cause ? -1 : m_frameCount.load(), m_quickFinish, cause,
                       [finish, relay](bool kept, std::optional<AppError> error) {
                           std::lock_guard lock(finish->mutex);
                           finish->done = true;
                           finish->success = kept && !error;
                           finish->error = error;
                           finish->finished.notify_all();
                           // Under the lock: a wait that gave up has deleted the relay, and the
                           // application may be gone.
                           if (!finish->abandoned)
                               relay->post();
                       });
}

void ScreenRecorder::finishInBackground(std::shared_ptr<platform::Mp4Writer> writer, QString partial, QString finished,
                                        qint64 frames, std::shared_ptr<std::atomic<bool>> quick,
                                        std::optional<AppError> cause,
                                        std::function<void(bool kept, std::optional<AppError> error)> done)
{
    std::thread([writer = std::move(writer), partial = std::move(partial), finished = std::move(finished), frames,
                 quick = std::move(quick), cause = std::move(cause), done = std::move(done)]() mutable {
        // The fragmented file needs no index at its end: nothing here rewrites it.
        if (!writer->finishWriting(platform::Mp4Writer::IndexPlacement::End)) {
            if (!cause)
                cause = writer->error();
            writer->abandonWriting();
            frames = -1;
        }
        const FiledRecording filed = fileRecording(partial, finished, frames, quick.get());
        writer.reset();
        const bool kept = filed.outcome == FiledRecording::Outcome::Finished
            || filed.outcome == FiledRecording::Outcome::Fragmented;
        std::optional<AppError> error;
        if (cause)
            error = writeFailure(*cause, kept ? std::optional<QString>(filed.path) : std::nullopt);
        else if (!kept)
            error = filed.error ? filed.error : std::optional<AppError>(ScreenRecorder::error(NoAssetWriter));
        if (done)
            done(kept, error);
    }).detach();
}

ScreenRecorder::FiledRecording ScreenRecorder::fileRecording(const QString& partial, const QString& finished,
                                                             qint64 knownFrames, const std::atomic<bool>* quick,
                                                             qint64 minimumFrames)
{
    FiledRecording result;
    platform::OwnFile own;
    QString whyNot;
    if (!own.open(partial, &whyNot)) {
        if (!platform::OwnFile::nameTaken(partial)) {
            result.error = AppError{QStringLiteral("FileSystem"), -ENOENT, QStringLiteral("The file is gone: ") + partial};
        } else {
            result.outcome = FiledRecording::Outcome::NotOurs;
            result.path = partial;
            result.error = AppError{QStringLiteral("FileSystem"), -EPERM, whyNot};
        }
        return result;
    }
    // A fragment cut off by a crash or a full disk: the complete ones before it still play.
    if (knownFrames < 0)
        platform::Mp4Writer::trimToCompleteBoxes(own.file());
    own.file().close();
    result.frames = knownFrames >= 0 ? knownFrames : platform::Mp4Writer::countVideoFrames(partial);
    // Cut off before its first fragment (and index) was written: no frame of it can be read.
    if (result.frames < 0 && !platform::Mp4Writer::hasIndex(partial))
        result.frames = 0;
    if (result.frames < 0) {
        result.error = AppError{platform::Mp4Writer::errorDomain(), -EINVAL, QStringLiteral("Unreadable: ") + partial};
        return result;
    }
    if (result.frames < std::max<qint64>(minimumFrames, 1)) {
        QFile::remove(partial);
        result.outcome = FiledRecording::Outcome::TooShort;
        return result;
    }
    const QFileInfo info(finished);
    const QString copy = info.path() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".faststart");
    AppError copyError;
    if (!(quick && quick->load()) && platform::Mp4Writer::remuxToFaststart(partial, copy, quick, &copyError)) {
        if (std::rename(QFile::encodeName(copy).constData(), QFile::encodeName(finished).constData()) == 0) {
            QFile::remove(partial);
            result.outcome = FiledRecording::Outcome::Finished;
            result.path = finished;
            return result;
        }
        const int code = errno;
        copyError = AppError{QStringLiteral("FileSystem"), -code, QString::fromLocal8Bit(std::strerror(code))};
        QFile::remove(copy);
    }
    if (!(quick && quick->load()))
        result.error = copyError;
    // Renaming within the folder takes no space: the fragmented file plays as it is.
    if (std::rename(QFile::encodeName(partial).constData(), QFile::encodeName(finished).constData()) != 0) {
        result.error = AppError{QStringLiteral("FileSystem"), -errno, QString::fromLocal8Bit(std::strerror(errno))};
        return result;
    }
    result.outcome = FiledRecording::Outcome::Fragmented;
    result.path = finished;
    return result;
}

QList<ScreenRecorder::FiledRecording> ScreenRecorder::recoverUnfinishedRecordings(const QString& directory)
{
    QList<FiledRecording> results;
    const QDir dir(directory);
    const QDir::Filters filters = QDir::Files | QDir::Hidden;
    for (const QString& name : dir.entryList({QStringLiteral(".ScreenRecord_*.mp4.faststart")}, filters, QDir::Name)) {
        const QString path = dir.filePath(name);
        if (const std::optional<QString> whyNot = platform::OwnFile::whyNotOwn(path)) {
            FiledRecording left;
            left.outcome = FiledRecording::Outcome::NotOurs;
            left.path = path;
            left.error = AppError{QStringLiteral("FileSystem"), -EPERM, *whyNot};
            results.append(left);
            continue;
        }
        QFile::remove(path); // half a copy: its source is still there
    }
    for (const QString& name : dir.entryList({QStringLiteral(".ScreenRecord_*.mp4.part")}, filters, QDir::Name)) {
        const QString partial = dir.filePath(name);
        QString finished = dir.filePath(name.mid(1, name.size() - 1 - int(qstrlen(".part"))));
        // A file of that name (a recording started within the same second), or a link, stays.
        for (int n = 2; platform::OwnFile::nameTaken(finished); ++n)
            finished = dir.filePath(name.mid(1, name.size() - 1 - int(qstrlen(".mp4.part"))) + QStringLiteral("_")
                                    + QString::number(n) + QStringLiteral(".mp4"));
        FiledRecording filed = fileRecording(partial, finished, -1, nullptr, 1);
        if (filed.path.isEmpty())
            filed.path = partial;
        results.append(filed);
    }
    return results;
}

ScreenRecorder::ShutdownResult ScreenRecorder::stopRecordingAndWait(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    if (m_phase == Phase::Starting || m_phase == Phase::Recording) {
        const int frames = m_frameCount.load();
        log(QStringLiteral("ScreenRecorder: Stopping for shutdown - frameCount: ") + QString::number(frames));
        stopCapture();
        // Every frame appended until the capture stopped counts here: keep what can be kept.
        if (m_frameCount < minimumFrameCount) {
            if (m_writer)
                m_writer->cancelWriting();
            cleanup();
            return ShutdownResult::TooShort;
        }
        finishRecording(
            [](bool success, std::optional<AppError> finishError) {
                log(QStringLiteral("ScreenRecorder: finishRecording completed - success: ") + boolText(success)
                    + QStringLiteral(", error: ") + errorText(finishError));
            },
            /*indexAtEnd=*/true);
    }
    if (m_phase != Phase::Finishing || !m_finish)
        return ShutdownResult::NothingToStop;
    // A finish under way from an ordinary stop skips the copy into the faststart file, and one at
    // it gives up: the fragmented file is kept as it is.
    if (m_writer)
        m_writer->leaveIndexAtEnd();
    if (m_quickFinish)
        *m_quickFinish = true;
    std::shared_ptr<FinishState> finish = m_finish;
    std::unique_lock lock(finish->mutex);
    if (!finish->finished.wait_until(lock, deadline, [&] { return finish->done; })) {
        // The process may end before the writer's thread does: from here on that thread reports nothing.
        finish->abandoned = true;
        lock.unlock();
        delete m_finishRelay.data();
        return ShutdownResult::TimedOut;
    }
    return finish->success ? ShutdownResult::Finished : ShutdownResult::Failed;
}

void ScreenRecorder::cleanup()
{
    m_writer.reset();
    m_microphone.reset();
    m_microphoneError.reset();
    m_outputURL.clear();
    m_partialURL.clear();
    m_quickFinish.reset();
    m_writeFailed = false;
    {
        std::lock_guard lock(m_failureMutex);
        m_writeFailureCause.reset();
    }
    m_frameCount = 0;
    m_settings.reset();
    m_drawClicks = false;
    m_phase = Phase::Idle;
}

// MARK: - Frames

void ScreenRecorder::startDisplayLink()
{
    const QSize video = videoSize(m_recordingArea);
    const std::optional<platform::ScreenInfo> primary = platform::ScreenGeometry::primaryScreen();
    // The frame window is placed around these same pixels.
    m_captureRect = RecordingWindowPlacement::recordedPixels(m_recordingArea, primary);
    m_visibleRect = primary ? m_captureRect.intersected(primary->nativeGeometry) : m_captureRect;
    m_frameBuffer = m_captureRect.isEmpty() ? QImage() : QImage(m_captureRect.size(), QImage::Format_RGB32);
    if (!m_frameBuffer.isNull())
        m_frameBuffer.fill(Qt::black);
    m_captureScale = video.isEmpty() ? QSizeF(1, 1)
                                     : QSizeF(double(m_captureRect.width()) / video.width(),
                                              double(m_captureRect.height()) / video.height());
    m_grabberFailed = false;
    if (m_frameTimerEnabled) {
        {
            std::lock_guard lock(m_timerMutex);
            m_timerStopping = false;
        }
        m_frameThread = std::thread([this] { runFrameTimer(); });
    }
    log(QStringLiteral("ScreenRecorder: Frame capture timer started at ") + QString::number(frameRate)
        + QStringLiteral(" fps on background queue"));
}

void ScreenRecorder::stopDisplayLink()
{
    if (m_frameThread.joinable()) {
        {
            std::lock_guard lock(m_timerMutex);
            m_timerStopping = true;
        }
        m_timerWake.notify_all();
        // A tick under way finishes first: nothing reaches the writer once it is finishing.
        m_frameThread.join();
        log(QStringLiteral("ScreenRecorder: Frame capture timer stopped"));
    }
    m_grabber.reset();
}

void ScreenRecorder::runFrameTimer()
{
    using clock = std::chrono::steady_clock;
    auto deadline = clock::now();
    std::unique_lock lock(m_timerMutex);
    for (;;) {
        if (m_timerWake.wait_until(lock, deadline, [this] { return m_timerStopping; }))
            return;
        lock.unlock();
        captureFrame();
        lock.lock();
        deadline += framePeriod;
        const auto now = clock::now();
        // A tick that overran its period: the missed deadlines merge into one tick, run at once.
        if (deadline < now)
            deadline = now;
    }
}

bool ScreenRecorder::grabFrame(QString* error)
{
    if (!m_grabber && !m_grabberFailed) {
        m_grabber = platform::PixelGrabber::create(error);
        m_grabberFailed = !m_grabber;
    }
    if (!m_grabber)
        return false;
    if (m_visibleRect != m_captureRect)
        m_frameBuffer.fill(Qt::black); // what lies off the main screen
    if (m_visibleRect.isEmpty())
        return true;
    const QPoint offset = m_visibleRect.topLeft() - m_captureRect.topLeft();
    uchar* origin = m_frameBuffer.bits() + offset.y() * m_frameBuffer.bytesPerLine() + offset.x() * 4;
    QImage visible(origin, m_visibleRect.width(), m_visibleRect.height(), m_frameBuffer.bytesPerLine(),
                   QImage::Format_RGB32);
    // The encoder ignores the fourth byte: no need to make every pixel opaque.
    return m_grabber->grabInto(m_visibleRect, visible, false, error);
}

void ScreenRecorder::captureFrame()
{
    const int n = m_frameCount.load();
    if (n < 10 || n % 30 == 0)
        log(QStringLiteral("ScreenRecorder: captureFrame CALLED - frameCount: ") + QString::number(n));
    if (!m_capturing) {
        if (n <= 4)
            log(QStringLiteral("ScreenRecorder: captureFrame - NOT recording (isRecording=false)"));
        return;
    }
    platform::Mp4Writer* writer = m_writer.get();
    if (!writer) {
        if (n <= 4)
            log(QStringLiteral("ScreenRecorder: captureFrame - NO assetWriter"));
        return;
    }
    if (!writer->hasVideoTrack()) {
        if (n <= 4)
            log(QStringLiteral("ScreenRecorder: captureFrame - NO videoInput"));
        return;
    }
    if (!writer->isReadyForMoreMediaData()) {
        if (n <= 99)
            log(QStringLiteral("ScreenRecorder: captureFrame - videoInput NOT ready for more data (frame ")
                + QString::number(n) + QStringLiteral(")"));
        return;
    }
    if (n < 5)
        log(QStringLiteral("ScreenRecorder: captureFrame - All guards passed, capturing screen"));

    if (m_frameBuffer.isNull()) {
        if (n == 0)
            log(QStringLiteral("ScreenRecorder: ERROR - Failed to create pixel buffer for FIRST frame!"));
        return;
    }
    QString grabError;
    if (!grabFrame(&grabError)) {
        if (n == 0) {
            log(QStringLiteral("ScreenRecorder: ERROR - Failed to capture FIRST frame!"));
            if (!grabError.isEmpty())
                log(QStringLiteral("ScreenRecorder: ") + grabError);
        }
        return;
    }
    if (m_drawClicks) {
        const double now = platform::MediaClock::now();
        QList<MouseClickAnimation> rings;
        {
            std::lock_guard lock(m_clickMutex);
            m_clickAnimations.removeIf([now](const MouseClickAnimation& ring) { return now - ring.startTime > ring.duration; });
            rings = m_clickAnimations;
        }
        if (!rings.isEmpty()) {
            QPainter painter(&m_frameBuffer);
            painter.scale(m_captureScale.width(), m_captureScale.height());
            drawMouseClickAnimations(painter, rings, now);
        }
    }
    const double elapsed = platform::MediaClock::now() - m_startTime;
    const auto appended = writer->appendVideoFrame(m_frameBuffer, elapsed);
    if (appended != platform::Mp4Writer::AppendResult::Appended) {
        if (n == 0 && appended == platform::Mp4Writer::AppendResult::Failed)
            log(QStringLiteral("ScreenRecorder: ERROR - Failed to append FIRST pixel buffer!"));
        if (writer->status() == platform::Mp4Writer::Status::Failed)
            noteWriteFailure(writer->error());
        return;
    }
    // A removed folder takes the file with it while writes still succeed: looked for once a second.
    if ((n + 1) % frameRate == 0 && !QFileInfo::exists(m_partialURL)) {
        noteWriteFailure(AppError{QStringLiteral("FileSystem"), -ENOENT, QStringLiteral("The recording file is gone")});
        return;
    }
    const int count = n + 1;
    m_frameCount = count;
    if (count == 1)
        log(QStringLiteral("ScreenRecorder: FIRST frame captured successfully!"));
    else if (count <= 10 || count % 30 == 0)
        log(QStringLiteral("ScreenRecorder: Frame ") + QString::number(count) + QStringLiteral(" captured successfully (elapsed: ")
            + seconds2(elapsed) + QStringLiteral("s)"));
    m_lastElapsed = elapsed;
    QMetaObject::invokeMethod(this, "publishRecordingDuration", Qt::QueuedConnection);
}

void ScreenRecorder::noteWriteFailure(std::optional<AppError> cause)
{
    if (m_writeFailed.exchange(true))
        return;
    m_capturing = false;
    {
        std::lock_guard lock(m_failureMutex);
        m_writeFailureCause = cause ? *cause : AppError{platform::Mp4Writer::errorDomain(), -EIO, QStringLiteral("Write failed")};
    }
    QMetaObject::invokeMethod(this, "handleWriteFailure", Qt::QueuedConnection);
}

void ScreenRecorder::handleWriteFailure()
{
    if (m_phase != Phase::Recording)
        return;
    std::optional<AppError> cause;
    {
        std::lock_guard lock(m_failureMutex);
        cause = m_writeFailureCause;
    }
    log(QStringLiteral("ScreenRecorder: ERROR - Writing the file failed, stopping: ") + errorText(cause));
    if (m_writeFailureHandler) {
        m_writeFailureHandler();
        return;
    }
    stopRecording([](std::optional<QString>, std::optional<AppError> failure) {
        log(QStringLiteral("ScreenRecorder: Stopped after a write failure: ") + errorText(failure));
    });
}

void ScreenRecorder::publishRecordingDuration()
{
    if (m_phase == Phase::Recording)
        setRecordingDuration(m_lastElapsed.load());
}

void ScreenRecorder::drawMouseClickAnimations(QPainter& painter, const QList<MouseClickAnimation>& rings, double now)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    for (const MouseClickAnimation& ring : rings) {
        const double progress = ring.duration > 0 ? std::max(0.0, now - ring.startTime) / ring.duration : 1.0;
        QColor colour = platform::SystemColors::blue();
        colour.setAlphaF(static_cast<float>(std::clamp(1.0 - progress, 0.0, 1.0)));
        painter.setPen(QPen(colour, 3));
        const double radius = 20 + 30 * progress;
        painter.drawEllipse(ring.position, radius, radius);
    }
    painter.restore();
}

// MARK: - Clicks

std::optional<QPointF> ScreenRecorder::clickOffset(const QPointF& point, const QRectF& area)
{
    const QRectF r = area.normalized();
    if (point.x() < r.left() || point.x() >= r.right() || point.y() < r.top() || point.y() >= r.bottom())
        return std::nullopt;
    return point - r.topLeft();
}

void ScreenRecorder::startMouseMonitoring()
{
    log(QStringLiteral("ScreenRecorder: Starting mouse click monitoring for area: ") + NumberFormat::rect(m_recordingArea));
    QString reason;
    m_clickSubscription = platform::GlobalClickSource::shared().subscribe(
        this,
        [this](const platform::GlobalClick& click) {
            const std::optional<platform::ScreenInfo> primary = platform::ScreenGeometry::primaryScreen();
            QPointF location(click.rootPosition);
            if (primary)
                location = QPointF(click.rootPosition - primary->nativeGeometry.topLeft()) / primary->devicePixelRatio;
            // Like a global monitor, clicks on our own windows are not seen.
            const QPoint global = primary ? primary->geometry.topLeft() + location.toPoint() : location.toPoint();
            if (QGuiApplication::topLevelAt(global))
                return;
            log(QStringLiteral("ScreenRecorder: Mouse click detected at screen location: ") + NumberFormat::point(location));
            const std::optional<QPointF> offset = clickOffset(location, m_recordingArea);
            if (!offset) {
                log(QStringLiteral("ScreenRecorder: Click is outside recording area"));
                return;
            }
            log(QStringLiteral("ScreenRecorder: Click is within recording area, relative position: ")
                + NumberFormat::point(*offset));
            qsizetype count = 0;
            {
                std::lock_guard lock(m_clickMutex);
                m_clickAnimations.append(MouseClickAnimation{*offset, click.mediaTime, clickAnimationDuration});
                count = m_clickAnimations.size();
            }
            log(QStringLiteral("ScreenRecorder: Click animation added, total animations: ") + QString::number(count));
        },
        &reason);
    if (!m_clickSubscription) {
        DebugLogger::shared().logErrorMessage(QStringLiteral("Click monitoring is not available: ") + reason);
        return;
    }
    log(QStringLiteral("ScreenRecorder: Mouse monitoring started"));
}

void ScreenRecorder::stopMouseMonitoring()
{
    if (!m_clickSubscription)
        return;
    platform::GlobalClickSource::shared().unsubscribe(m_clickSubscription);
    m_clickSubscription = 0;
    {
        std::lock_guard lock(m_clickMutex);
        m_clickAnimations.clear();
    }
    log(QStringLiteral("ScreenRecorder: Mouse monitoring stopped"));
}

// MARK: - Microphone

// The device is opened before writing starts, so a microphone that cannot start leaves no empty
// audio track behind; its failure is reported where the microphone is started.
void ScreenRecorder::setupAudioRecording()
{
    if (!m_writer)
        return;
    m_microphoneError.reset();
    platform::Mp4AudioSettings audio;
    audio.sampleRate = 44100;
    audio.channels = 2;
    audio.bitRate = 128'000;
    platform::MicrophoneSource::Options options;
    options.sampleRate = audio.sampleRate;
    options.channels = audio.channels;
    options.blockFrames = 1024;
    auto microphone = std::make_unique<platform::MicrophoneSource>(options);
    std::shared_ptr<platform::Mp4Writer> writer = m_writer;
    QString reason;
    const bool started = microphone->start(
        [this, writer](const float* samples, int frames, double mediaTime) {
            if (!m_audioAccepting.load(std::memory_order_acquire))
                return;
            if (writer->appendAudioSamples(samples, frames, mediaTime - m_startTime) == platform::Mp4Writer::AppendResult::Failed
                && writer->status() == platform::Mp4Writer::Status::Failed)
                noteWriteFailure(writer->error());
        },
        &reason);
    if (!started) {
        m_microphoneError = reason;
        return;
    }
    AppError trackError;
    if (!m_writer->addAudioTrack(audio, &trackError)) {
        microphone->stop();
        m_microphoneError = trackError.localizedDescription;
        return;
    }
    m_microphone = std::move(microphone);
}

void ScreenRecorder::setupMicrophoneCapture()
{
    if (!m_microphone) {
        const QString description = m_microphoneError.value_or(QStringLiteral("No audio input device is available"));
        DebugLogger::shared().logErrorMessage(description);
        platform::Console::printLine(QStringLiteral("Kestrova: Failed to start audio engine - ") + description);
        return;
    }
    m_audioAccepting.store(true, std::memory_order_release);
    platform::Console::printLine(QStringLiteral("Kestrova: Audio engine started for microphone recording"));
}

void ScreenRecorder::stopAudioRecording()
{
    if (m_microphone) {
        // Hands on what was captured up to now, then no more.
        m_microphone->stop();
        m_microphone.reset();
    }
    m_audioAccepting = false;
    platform::Console::printLine(QStringLiteral("Kestrova: Audio recording stopped"));
}

#include "ScreenRecorder.moc"
