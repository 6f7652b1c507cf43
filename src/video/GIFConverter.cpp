#include "video/GIFConverter.h"

#include "app/DebugLogger.h"
#include "platform/GifWriter.h"
#include "platform/MediaFrameReader.h"
#include "platform/NumberFormat.h"

#include <QFileInfo>
#include <QPointer>
#include <QThreadPool>

#include <cmath>
#include <limits>

using platform::NumberFormat;

namespace {

// Whole seconds for the texts; a value with no whole-second form reads as such rather than as a
// made-up number.
QString wholeSeconds(double seconds)
{
    if (!std::isfinite(seconds) || std::fabs(seconds) >= 9.0e18)
        return seconds > 0 ? QStringLiteral("∞") : QStringLiteral("?");
    return QString::number(static_cast<long long>(std::trunc(seconds)));
}

// Every kept frame stays in memory until it is written; a frame count beyond this (possible only
// with settings far beyond the callers' 10 frames per second for 30 s) is refused up front.
constexpr double kMaxFrames = 100'000;

class MediaFrameSource : public GIFConverter::FrameSource {
public:
    explicit MediaFrameSource(std::unique_ptr<platform::MediaFrameReader> reader)
        : m_reader(std::move(reader))
    {
    }
    double duration() const override { return m_reader->duration(); }
    QImage frameAt(double seconds, QString* error) override { return m_reader->frameAt(seconds, error); }
    QSize frameSize() const override { return m_reader->frameSize(); }
    // Scaled as it is converted from the decoder's pixels, into three bytes a pixel: every frame is
    // kept until the palette is known, and a quarter less of them fits.
    QImage scaledFrameAt(double seconds, const QSize& size, QString* error) override
    {
        return m_reader->frameAt(seconds, size, QImage::Format_RGB888, error);
    }

private:
    std::unique_ptr<platform::MediaFrameReader> m_reader;
};

} // namespace

QString GIFConverter::ConversionError::errorDescription() const
{
    switch (kind) {
    case Case::videoTooLong:
        return QStringLiteral("Видео слишком длинное (") + wholeSeconds(duration) + QStringLiteral(" сек). Максимум для GIF: ")
               + wholeSeconds(maxDuration) + QStringLiteral(" сек");
    case Case::failedToLoadAsset: return QStringLiteral("Не удалось загрузить видео");
    case Case::failedToCreateDestination: return QStringLiteral("Не удалось создать GIF файл");
    case Case::failedToFinalizeGIF: return QStringLiteral("Не удалось записать GIF файл");
    case Case::noFramesExtracted: return QStringLiteral("Не удалось извлечь кадры из видео");
    case Case::cancelled: return QStringLiteral("Конвертация отменена");
    }
    return {};
}

QImage GIFConverter::FrameSource::scaledFrameAt(double seconds, const QSize& size, QString* error)
{
    const QImage frame = frameAt(seconds, error);
    return frame.isNull() || frame.size() == size ? frame : frame.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

platform::AppError GIFConverter::ConversionError::toAppError() const
{
    return platform::AppError{domain, static_cast<int>(kind), errorDescription()};
}

// Carries one conversion's callbacks on the converter's thread. The worker only posts to it; it
// deletes itself once the result has been delivered, so it outlives every post made to it.
class GIFConverter::Relay : public QObject {
public:
    Relay(GIFConverter* converter, ProgressHandler handler, Completion completion)
        : m_converter(converter)
        , m_handler(std::move(handler))
        , m_completion(std::move(completion))
    {
    }

    // Worker thread.
    void postProgress(double value)
    {
        QMetaObject::invokeMethod(
            this,
            [this, value] {
                if (m_converter)
                    m_converter->setProgress(value);
                if (m_handler)
                    m_handler(value);
            },
            Qt::QueuedConnection);
    }
    // Worker thread; the last post. `publish`: the converter's state takes the outcome first.
    void postResult(Result result, bool publish)
    {
        QMetaObject::invokeMethod(
            this,
            [this, result = std::move(result), publish] {
                if (publish && m_converter) {
                    m_converter->setIsConverting(false);
                    m_converter->setProgress(result ? 1.0 : 0.0);
                }
                Completion completion = std::move(m_completion);
                deleteLater();
                if (completion)
                    completion(result);
            },
            Qt::QueuedConnection);
    }

private:
    QPointer<GIFConverter> m_converter;
    ProgressHandler m_handler;
    Completion m_completion;
};

GIFConverter::GIFConverter(QObject* parent)
    : QObject(parent)
    , m_shared(std::make_shared<Shared>())
{
}

GIFConverter::~GIFConverter() = default;

void GIFConverter::setIsConverting(bool value)
{
    if (m_isConverting == value)
        return;
    m_isConverting = value;
    emit isConvertingChanged();
}

void GIFConverter::setProgress(double value)
{
    if (m_progress == value)
        return;
    m_progress = value;
    emit progressChanged();
}

void GIFConverter::cancel()
{
    m_shared->isCancelled = true;
}

std::unique_ptr<GIFConverter::FrameSource> GIFConverter::openVideo(const QString& videoPath)
{
    auto reader = platform::MediaFrameReader::open(videoPath);
    if (!reader)
        return nullptr;
    return std::make_unique<MediaFrameSource>(std::move(reader));
}

QSize GIFConverter::fittedSize(const QSize& size, double maxDimension)
{
    if (size.isEmpty() || !(maxDimension >= 1))
        return size;
    const double scale = std::min({1.0, maxDimension / size.width(), maxDimension / size.height()});
    if (scale >= 1.0)
        return size;
    return QSize(std::max(1, static_cast<int>(std::lround(size.width() * scale))),
                 std::max(1, static_cast<int>(std::lround(size.height() * scale))));
}

void GIFConverter::convertToGIF(const QString& videoURL, const QString& outputURL, const ConversionSettings& settings,
                                ProgressHandler progressHandler, Completion completion)
{
    m_shared->isCancelled = false;
    setIsConverting(true);
    setProgress(0);

    auto* relay = new Relay(this, std::move(progressHandler), std::move(completion));
    const std::weak_ptr<Shared> converter = m_shared;
    const FrameSourceFactory frameSources = m_frameSources;
    QThreadPool::globalInstance()->start([relay, converter, videoURL, outputURL, settings, frameSources] {
        const std::shared_ptr<Shared> shared = converter.lock();
        if (!shared) {
            relay->postResult(ConversionError::of(ConversionError::Case::cancelled), false);
            return;
        }
        Result result = performConversion(videoURL, outputURL, settings, shared->isCancelled,
                                           [relay](double value) { relay->postProgress(value); }, frameSources);
        relay->postResult(std::move(result), true);
    });
}

GIFConverter::Result GIFConverter::performConversion(const QString& videoURL, const QString& outputURL,
                                                     const ConversionSettings& settings, const std::atomic<bool>& isCancelled,
                                                     const std::function<void(double)>& updateProgress,
                                                     const FrameSourceFactory& frameSources)
{
    using Case = ConversionError::Case;
    auto& log = DebugLogger::shared();
    const auto progress = [&](double value) {
        if (updateProgress)
            updateProgress(value);
    };
    log.log(QStringLiteral("GIFConverter: Starting conversion from ") + videoURL);

    std::unique_ptr<FrameSource> source = frameSources ? frameSources(videoURL) : openVideo(videoURL);
    const double duration = source ? source->duration() : std::numeric_limits<double>::quiet_NaN();
    if (!(duration > 0))
        return ConversionError::of(Case::failedToLoadAsset);
    if (duration > settings.maxDuration)
        return ConversionError::videoTooLong(duration, settings.maxDuration);
    log.log(QStringLiteral("GIFConverter: Video duration: ") + NumberFormat::decimal(duration) + QStringLiteral(" seconds"));

    const double exactCount = std::trunc(duration * settings.frameRate);
    if (!(settings.frameRate > 0) || !std::isfinite(exactCount) || exactCount > kMaxFrames)
        return ConversionError::of(Case::failedToCreateDestination);
    const int frameCount = std::max(1, static_cast<int>(exactCount));
    log.log(QStringLiteral("GIFConverter: Extracting %1 frames at ").arg(frameCount) + NumberFormat::decimal(settings.frameRate)
            + QStringLiteral(" FPS"));

    // Each kept frame counts towards the palette as soon as it is read (on the writer's thread),
    // so the palette is ready when the last frame is.
    std::unique_ptr<platform::GifWriter> writer;
    QString error;
    QSize size = fittedSize(source->frameSize(), settings.maxDimension);
    QList<QImage> images;
    for (int i = 0; i < frameCount; ++i) {
        if (isCancelled)
            return ConversionError::of(Case::cancelled);
        QString frameError;
        QImage frame;
        if (size.isEmpty()) {
            frame = source->frameAt(i / settings.frameRate, &frameError);
            if (!frame.isNull()) {
                size = fittedSize(frame.size(), settings.maxDimension);
                if (size != frame.size())
                    frame = frame.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            }
        } else {
            frame = source->scaledFrameAt(i / settings.frameRate, size, &frameError);
        }
        if (frame.isNull()) {
            log.log(QStringLiteral("GIFConverter: Failed to extract frame %1: ").arg(i) + frameError);
        } else {
            if (!writer) {
                platform::GifWriter::Options options;
                options.size = frame.size();
                options.delayCentiseconds = static_cast<int>(std::lround(100.0 / settings.frameRate));
                options.loopCount = settings.loopCount;
                writer = platform::GifWriter::create(outputURL, options, &error);
                if (!writer) {
                    log.log(QStringLiteral("GIFConverter: ") + error);
                    return ConversionError::of(Case::failedToCreateDestination);
                }
            }
            if (!writer->addToPalette(frame, &error)) {
                log.log(QStringLiteral("GIFConverter: ") + error);
                return ConversionError::of(Case::failedToCreateDestination);
            }
            images.append(frame);
        }
        progress(double(i + 1) / frameCount * 0.5);
    }
    source.reset();
    if (images.isEmpty())
        return ConversionError::of(Case::noFramesExtracted);
    log.log(QStringLiteral("GIFConverter: Extracted %1 frames, creating GIF...").arg(images.size()));

    if (!writer->preparePalette(&error)) {
        log.log(QStringLiteral("GIFConverter: ") + error);
        return ConversionError::of(Case::failedToCreateDestination);
    }
    const int kept = static_cast<int>(images.size());
    for (int k = 1; k <= kept; ++k) {
        if (isCancelled)
            return ConversionError::of(Case::cancelled);
        if (!writer->addFrame(images[k - 1], &error)) {
            log.log(QStringLiteral("GIFConverter: ") + error);
            return ConversionError::of(Case::failedToFinalizeGIF);
        }
        // The writer holds the frame until it is mapped; this copy is no longer needed.
        images[k - 1] = QImage();
        progress(0.5 + double(k) / kept * 0.5);
    }
    if (!writer->finish(&error)) {
        log.log(QStringLiteral("GIFConverter: ") + error);
        return ConversionError::of(Case::failedToFinalizeGIF);
    }

    const QFileInfo written(outputURL);
    if (written.exists())
        log.log(QStringLiteral("GIFConverter: GIF created successfully, size: %1 MB")
                    .arg(QString::asprintf("%.2f", double(written.size()) / (1024.0 * 1024.0))));
    return outputURL;
}
