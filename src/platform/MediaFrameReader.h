#pragma once

#include <QImage>
#include <QSize>
#include <QString>

#include <memory>

namespace platform {

// Decodes still frames from a video file through FFmpeg: thumbnails, previews and frame-by-frame
// reads. Frames come back upright (the stream's display rotation applied) as Format_RGB32, with the
// colour matrix and range the stream is tagged with (BT.709 for our recordings; untagged streams
// are read as BT.601, FFmpeg's default). One reader serves one thread at a time.
class MediaFrameReader {
public:
    ~MediaFrameReader();
    MediaFrameReader(const MediaFrameReader&) = delete;
    MediaFrameReader& operator=(const MediaFrameReader&) = delete;

    // Opens the first video stream of `path`; nullptr with a reason when there is none to decode.
    static std::unique_ptr<MediaFrameReader> open(const QString& path, QString* error = nullptr);

    // The size of the frames as shown (after rotation), in pixels.
    QSize frameSize() const;
    // Seconds; 0 when the container does not say.
    double duration() const;
    // Frames per second as the stream declares it; 0 when unknown.
    double frameRate() const;
    // Clockwise degrees applied to every frame (0, 90, 180 or 270).
    int rotation() const;

    // The frame on screen at `seconds`: the last one that starts at or before it, the first frame
    // for a time before it, the last frame for a time past the end. Reading forward in small steps
    // decodes on without seeking. A null image with a reason on failure.
    QImage frameAt(double seconds, QString* error = nullptr);
    // The same frame scaled to `size` (as shown, after rotation) in one conversion from the
    // decoder's pixels, as Format_RGB32 or Format_RGB888. For frame-by-frame reads at a small
    // size: converting at full size first and scaling the picture afterwards costs several times
    // as much. The conversion runs on a few threads of FFmpeg's own.
    QImage frameAt(double seconds, const QSize& size, QImage::Format format, QString* error = nullptr);

private:
    struct State;
    explicit MediaFrameReader(std::unique_ptr<State> state);
    std::unique_ptr<State> d;
};

} // namespace platform
