#pragma once

#include "cloud/Expected.h"
#include "platform/AppError.h"

#include <QImage>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

// Turns a recorded video into a looping animated GIF: samples it at a fixed frame rate, scales the
// frames down to fit a square and writes them, each shown for 1 / frame rate. The work runs on a
// worker thread; the progress and the result come back on the converter's (the GUI) thread.
// A converter serves one conversion after another; callers make a new one for each.
class GIFConverter : public QObject {
    Q_OBJECT
public:
    struct ConversionSettings {
        double frameRate = 10;     // frames sampled per second; also sets each frame's delay
        double maxDimension = 800; // the largest width and height of a frame
        int loopCount = 0;         // written into the file; 0 repeats for ever
        double maxDuration = 30;   // the longest video, in seconds, that is converted
    };

    struct ConversionError {
        enum class Case {
            videoTooLong,
            failedToLoadAsset,
            failedToCreateDestination,
            failedToFinalizeGIF,
            noFramesExtracted,
            cancelled,
        };
        Case kind = Case::failedToLoadAsset;
        // Only for videoTooLong.
        double duration = 0;
        double maxDuration = 0;

        static ConversionError videoTooLong(double duration, double maxDuration)
        {
            return {Case::videoTooLong, duration, maxDuration};
        }
        static ConversionError of(Case kind) { return {kind, 0, 0}; }

        // The text shown to the user.
        QString errorDescription() const;
        // Domain "GIFConverter.ConversionError", the case's position as code, the description.
        platform::AppError toAppError() const;
        static inline const QString domain = QStringLiteral("GIFConverter.ConversionError");

        friend bool operator==(const ConversionError&, const ConversionError&) = default;
    };

    // The written file's path, or why there is none.
    using Result = Expected<QString, ConversionError>;
    using ProgressHandler = std::function<void(double)>;
    using Completion = std::function<void(const Result&)>;

    // Where the frames come from: a video opened for reading at given times.
    class FrameSource {
    public:
        virtual ~FrameSource() = default;
        // Seconds; 0 or less when unknown.
        virtual double duration() const = 0;
        // The picture shown at `seconds`, upright; a null image with a reason when none can be read.
        virtual QImage frameAt(double seconds, QString* error) = 0;
        // The size of the pictures, upright; empty when unknown before the first is read.
        virtual QSize frameSize() const { return {}; }
        // The same picture scaled to `size` (any QImage format): by default frameAt's, scaled smoothly.
        virtual QImage scaledFrameAt(double seconds, const QSize& size, QString* error);
    };
    // nullptr when the file cannot be opened as a video.
    using FrameSourceFactory = std::function<std::unique_ptr<FrameSource>(const QString& videoPath)>;

    explicit GIFConverter(QObject* parent = nullptr);
    ~GIFConverter() override;

    // True from the start of convertToGIF until its result has been published.
    bool isConverting() const { return m_isConverting; }
    // 0 to 0.5 while frames are read, 0.5 to 1 while they are written; 1 after a success, 0 after a failure.
    double progress() const { return m_progress; }

    // Makes a running conversion stop with `cancelled` before its next frame.
    void cancel();

    // Starts converting the video at `videoURL` into a GIF at `outputURL` and returns at once. On
    // this object's thread, later: `progressHandler` with each new progress value, then
    // `completion` once with the result (also when the converter has been destroyed meanwhile; a
    // converter destroyed before the work began yields `cancelled`).
    void convertToGIF(const QString& videoURL, const QString& outputURL, const ConversionSettings& settings,
                      ProgressHandler progressHandler, Completion completion);

    // The conversion itself, run on the calling thread: `updateProgress` is called there too.
    static Result performConversion(const QString& videoURL, const QString& outputURL, const ConversionSettings& settings,
                                    const std::atomic<bool>& isCancelled, const std::function<void(double)>& updateProgress,
                                    const FrameSourceFactory& frameSources = {});

    // The frames of every conversion started from now on (tests: a source that fails some frames).
    void setFrameSourceFactoryForTesting(FrameSourceFactory factory) { m_frameSources = std::move(factory); }
    // The default source: FFmpeg through platform::MediaFrameReader.
    static std::unique_ptr<FrameSource> openVideo(const QString& videoPath);

    // The size a frame of `size` is written at: scaled down, keeping its aspect ratio, to fit
    // `maxDimension` x `maxDimension`; never enlarged.
    static QSize fittedSize(const QSize& size, double maxDimension);

signals:
    void isConvertingChanged();
    void progressChanged();

private:
    struct Shared {
        std::atomic<bool> isCancelled{false};
    };
    class Relay;

    void setIsConverting(bool value);
    void setProgress(double value);

    bool m_isConverting = false;
    double m_progress = 0;
    // Held by a running conversion; a conversion that finds it gone before it starts is cancelled.
    std::shared_ptr<Shared> m_shared;
    FrameSourceFactory m_frameSources;
};
