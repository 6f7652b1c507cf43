#pragma once

#include "platform/AppError.h"
#include "recording/RecordingSettings.h"

#include <QDateTime>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <QSizeF>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

class FinishRelay;
class QPainter;

namespace platform {
class MicrophoneSource;
class Mp4Writer;
class PixelGrabber;
struct GlobalClick;
} // namespace platform

// Records one area of the main screen to one H.264 MP4 file, with click rings drawn into the
// frames and an optional microphone track. A new recorder is made for every recording.
//
// While it records, the file is a fragmented MP4 under an in-progress name beside the finished
// one (".ScreenRecord_....mp4.part"), playable at any moment up to less than half a second before
// the last frame captured; a stop copies it into the finished faststart file. A crash leaves the
// in-progress file, which recoverUnfinishedRecordings() files at the next launch.
//
// Threads: everything public runs on the GUI thread. Frames are captured, drawn and encoded on
// the recorder's own frame thread, driven by a 33 ms timer; microphone samples arrive on the
// microphone's thread; the file is finished on a thread of the writer. The click rings are shared
// with the frame thread under a lock; the GUI thread only waits for the frame thread when it
// stops it, and no other thread ever waits for the GUI thread.
class ScreenRecorder : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isRecording READ isRecording NOTIFY isRecordingChanged)
    Q_PROPERTY(double recordingDuration READ recordingDuration NOTIFY recordingDurationChanged)

public:
    // One click ring.
    struct MouseClickAnimation {
        QPointF position;      // offset in points from the area's top-left corner, y down
        double startTime = 0;  // media-clock time of the click
        double duration = 0.8; // seconds
    };

    using StartCompletion = std::function<void(bool success, std::optional<platform::AppError> error)>;
    using StopCompletion = std::function<void(std::optional<QString> fileURL, std::optional<platform::AppError> error)>;

    enum class ShutdownResult {
        NothingToStop,
        Finished, // the file is complete
        TooShort, // fewer than the minimum frames: nothing kept
        Failed,
        TimedOut, // still being finished when the time ran out
    };

    static constexpr int frameRate = 30;
    static constexpr int minimumFrameCount = 30;
    // 33 ms rather than 33.3: about 30.3 ticks a second, so 30 frames a second survive the odd late tick.
    static constexpr std::chrono::milliseconds framePeriod{33};
    static constexpr double clickAnimationDuration = 0.8;

    // Codes of the recorder's errors in its domain.
    enum ErrorCode {
        AlreadyRecording = 1,
        NotRecording = 2,
        NoOutputURL = 3,
        NoAssetWriter = 4,
        RecordingTooShort = 5,
        WriteFailed = 6
    };
    static QString errorDomain();
    static platform::AppError error(ErrorCode code);
    // The error of a recording stopped by a failed write: names the cause and, when something
    // could be kept, the file that holds it.
    static platform::AppError writeFailure(const platform::AppError& cause, const std::optional<QString>& keptFile);

    // What became of an in-progress file.
    struct FiledRecording {
        enum class Outcome {
            Finished,   // copied into the faststart file under the normal name
            Fragmented, // the copy could not be written (or there was no time): kept as it is, under the normal name
            TooShort,   // fewer frames than asked for: removed
            Failed,     // unreadable: left where it is
            NotOurs,    // a link, a file with another name too, another user's: left as it is
        };
        Outcome outcome = Outcome::Failed;
        QString path;        // the finished file, for Finished and Fragmented; the one left alone, for NotOurs
        qint64 frames = 0;   // video frames in it
        std::optional<platform::AppError> error; // why the copy was not written; for NotOurs, what it is
    };
    // Blocking, any thread. Files the in-progress `partial` under `finished`: trims a half-written
    // last fragment, removes a file of fewer than `minimumFrames` frames (`knownFrames`, when
    // known, saves counting), else copies it into a faststart file and removes it; where the copy
    // cannot be written, or `quick` is or becomes set, the fragmented file itself takes the name.
    // Only our own regular file is touched (platform::OwnFile).
    static FiledRecording fileRecording(const QString& partial, const QString& finished, qint64 knownFrames = -1,
                                        const std::atomic<bool>* quick = nullptr,
                                        qint64 minimumFrames = minimumFrameCount);
    // Files every in-progress file of `directory` left by a recorder that never finished (a crash,
    // a kill, a power loss), and removes left-over halves of copies. Blocking. Only for the copy of
    // the program that holds the single-instance lock: another copy's in-progress file is its
    // running recording. A crash keeps whatever of it plays, however short: the minimum length is
    // for a recording the user stops. Names that are not our own files are reported, not touched.
    static QList<FiledRecording> recoverUnfinishedRecordings(const QString& directory = recordingsDirectory());

    explicit ScreenRecorder(QObject* parent = nullptr);
    // A recorder destroyed while recording stops; a file of the minimum length or more is still
    // finished (in the background), a shorter one removed.
    ~ScreenRecorder() override;

    // Documents/ScreenRecordings.
    static QString recordingsDirectory();
    // "ScreenRecord_yyyy-MM-dd_HH-mm-ss.mp4" for a start at `localStart`.
    static QString fileName(const QDateTime& localStart);
    // The in-progress name of a recording to be finished as `finishedPath`, in the same folder.
    static QString inProgressPath(const QString& finishedPath);
    // The video's size for an area in points: fractions dropped, then rounded down to even.
    static QSize videoSize(const QRectF& area);

    // Starts recording `area` (main-screen points, top-left origin, y down). The completion runs
    // before this returns; frames start on the next turn of the event loop.
    void startRecording(const QRectF& area, const RecordingSettings& settings, StartCompletion completion);
    // Refusals (not recording, too short) are answered before this returns; the finished file is
    // answered later, on the GUI thread.
    void stopRecording(StopCompletion completion);
    // For quitting: stops a recording (or waits for one being finished) and finishes the file,
    // blocking at most `timeout`. The index stays at the end of the file, so finishing takes no
    // rewrite of the whole file. The answer of an earlier stopRecording still comes later, unless
    // the time runs out: from then on the finish goes on alone on the writer's thread and nothing
    // of it comes back to the GUI thread, whose objects may be gone by then.
    ShutdownResult stopRecordingAndWait(std::chrono::milliseconds timeout);

    bool isRecording() const { return m_isRecording; }
    double recordingDuration() const { return m_recordingDuration; }
    QRectF recordingArea() const { return m_recordingArea; }
    std::optional<RecordingSettings> settings() const { return m_settings; }
    // The finished file's path; while recording, the frames go to inProgressURL().
    QString outputURL() const { return m_outputURL; }
    QString inProgressURL() const { return m_partialURL; }
    // Called on the GUI thread, once, when writing the file fails (a full disk, a removed folder,
    // an I/O error): capture has stopped; stopRecording files what was written and answers with
    // the write failure. Without a handler the recorder stops by itself.
    void setWriteFailureHandler(std::function<void()> handler) { m_writeFailureHandler = std::move(handler); }
    int frameCount() const { return m_frameCount.load(); }
    double startTime() const { return m_startTime; }
    QList<MouseClickAnimation> clickAnimations() const;

    // One tick of the frame timer, which runs it on the frame thread. With the timer turned off
    // (tests) the caller runs ticks itself.
    void captureFrame();
    void setFrameTimerEnabled(bool enabled) { m_frameTimerEnabled = enabled; }

    // Strokes `rings` as they look at media time `now`, in the video's coordinates (points of the area).
    static void drawMouseClickAnimations(QPainter& painter, const QList<MouseClickAnimation>& rings, double now);
    // The offset of `point` (main-screen points) from the area's top-left when the point lies in
    // the area: its left and top edges count as inside, its right and bottom edges do not.
    static std::optional<QPointF> clickOffset(const QPointF& point, const QRectF& area);

signals:
    void isRecordingChanged();
    void recordingDurationChanged();

private:
    using Report = std::function<void(bool success, std::optional<platform::AppError> error)>;
    enum class Phase { Idle, Starting, Recording, Finishing };
    struct FinishState {
        std::mutex mutex;
        std::condition_variable finished;
        bool done = false;
        bool success = false;
        std::optional<platform::AppError> error;
        bool abandoned = false; // a timed-out wait gave up on the finish: no report goes back
    };
    friend class FinishRelay;

    void setupAssetWriter(const Report& completion);
    void finishRecording(Report completion, bool indexAtEnd = false);
    // Finishes the writer and files its in-progress file on a thread of its own; `done` runs there.
    static void finishInBackground(std::shared_ptr<platform::Mp4Writer> writer, QString partial, QString finished,
                                   qint64 frames, std::shared_ptr<std::atomic<bool>> quick,
                                   std::optional<platform::AppError> cause,
                                   std::function<void(bool kept, std::optional<platform::AppError> error)> done);
    // From the frame or the microphone thread: a write failed; stops appending and tells the GUI thread.
    void noteWriteFailure(std::optional<platform::AppError> cause);
    Q_INVOKABLE void handleWriteFailure();
    void startDisplayLink();
    void stopDisplayLink();
    void runFrameTimer();
    void startMouseMonitoring();
    void stopMouseMonitoring();
    void setupAudioRecording();
    void setupMicrophoneCapture();
    void stopAudioRecording();
    void cleanup();
    void stopCapture();
    void setIsRecording(bool value);
    void setRecordingDuration(double value);
    // The frame thread's latest elapsed time, published on the GUI thread.
    Q_INVOKABLE void publishRecordingDuration();
    bool grabFrame(QString* error);

    // Published state (GUI thread).
    bool m_isRecording = false;
    double m_recordingDuration = 0;

    Phase m_phase = Phase::Idle;
    quint64 m_generation = 0; // a queued start step belongs to one recording
    std::shared_ptr<platform::Mp4Writer> m_writer;
    std::unique_ptr<platform::MicrophoneSource> m_microphone;
    std::optional<QString> m_microphoneError;
    std::shared_ptr<FinishState> m_finish;
    QPointer<FinishRelay> m_finishRelay;
    // Written before the frame thread starts and before audio is accepted; constant while they run.
    double m_startTime = 0;
    QRectF m_recordingArea;
    QString m_outputURL;
    QString m_partialURL;
    std::atomic<int> m_frameCount{0};
    std::shared_ptr<std::atomic<bool>> m_quickFinish;
    std::function<void()> m_writeFailureHandler;
    std::atomic<bool> m_writeFailed{false};
    mutable std::mutex m_failureMutex;
    std::optional<platform::AppError> m_writeFailureCause;
    std::optional<RecordingSettings> m_settings;
    bool m_drawClicks = false;

    // Read by the frame thread: true while recording.
    std::atomic<bool> m_capturing{false};
    std::atomic<bool> m_audioAccepting{false};
    std::atomic<double> m_lastElapsed{0};

    // Frame thread, and what only it touches while it runs.
    bool m_frameTimerEnabled = true;
    std::thread m_frameThread;
    std::mutex m_timerMutex;
    std::condition_variable m_timerWake;
    bool m_timerStopping = false;
    std::unique_ptr<platform::PixelGrabber> m_grabber;
    bool m_grabberFailed = false;
    QImage m_frameBuffer;  // the captured pixels, at the screen's density
    QRect m_captureRect;   // root pixels of the area
    QRect m_visibleRect;   // the part of m_captureRect on the main screen
    QSizeF m_captureScale; // frame-buffer pixels per video pixel

    // Click rings: appended on the GUI thread, pruned and read by the frame thread.
    mutable std::mutex m_clickMutex;
    QList<MouseClickAnimation> m_clickAnimations;
    quint64 m_clickSubscription = 0;
};
