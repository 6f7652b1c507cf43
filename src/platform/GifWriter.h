#pragma once

#include <QImage>
#include <QList>
#include <QSize>
#include <QString>

#include <memory>

namespace platform {

// An animated GIF written through FFmpeg: one palette for the whole animation (palettegen over
// every frame, so colours do not flicker from frame to frame), each frame mapped onto it
// (paletteuse), then the GIF encoder and muxer. Every frame is shown for the same delay.
//
// The file appears at its path only when finish() succeeds: until then the bytes go to a
// temporary file beside it, so a failed write leaves whatever was at the path untouched.
// Use: create, preparePalette (or addToPalette for each frame, then preparePalette()), addFrame
// for each frame, finish. One thread at a time calls the writer.
//
// The palette is counted on a thread of the writer's own while the caller makes the next frames,
// and frames are mapped onto it on several threads (the mapping of one frame does not depend on
// another's); the encoder takes them in order on the calling thread. The file is the same as one
// written on a single thread.
class GifWriter {
public:
    struct Options {
        QSize size;                 // every frame is written at this size, in pixels
        int delayCentiseconds = 10; // the GIF format counts delays in 1/100 s
        int loopCount = 0;          // 0: repeat for ever; n: n repeats
    };

    ~GifWriter();
    GifWriter(const GifWriter&) = delete;
    GifWriter& operator=(const GifWriter&) = delete;

    // The writer, with its temporary file opened; nullptr with a reason when it cannot be.
    static std::unique_ptr<GifWriter> create(const QString& path, const Options& options, QString* error = nullptr);

    // The shared palette, computed from `frames` (only read, not written). Once, before addFrame.
    bool preparePalette(const QList<QImage>& frames, QString* error = nullptr);
    // The same frame by frame: each frame counts towards the palette as it comes (the image is
    // kept, shared, until it has been counted), then preparePalette() computes it.
    bool addToPalette(const QImage& frame, QString* error = nullptr);
    bool preparePalette(QString* error = nullptr);
    // Appends a frame (scaled to the writer's size when it differs; any format QImage converts).
    // The image is kept, shared, until it has been mapped.
    bool addFrame(const QImage& frame, QString* error = nullptr);
    // Writes the end of the file and moves it to its path. False, with nothing at the path
    // changed, when any step failed. The writer is done afterwards either way.
    bool finish(QString* error = nullptr);

    int framesWritten() const;

private:
    struct State;
    explicit GifWriter(std::unique_ptr<State> state);
    std::unique_ptr<State> d;
};

} // namespace platform
