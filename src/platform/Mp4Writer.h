#pragma once

#include "platform/AppError.h"

#include <QImage>
#include <QSize>
#include <QSizeF>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class QFile;

namespace platform {

struct Mp4VideoSettings {
    QSize size;                     // even width and height (4:2:0 chroma needs it)
    int averageBitRate = 5'000'000; // bit/s
    int maxKeyFrameInterval = 30;   // frames
    int frameRate = 30;             // nominal: the track's average rate and the encoder's rate control
};

struct Mp4AudioSettings {
    int sampleRate = 44100;
    int channels = 2;
    int bitRate = 128'000;
};

// An MP4 file with an H.264 High track (libx264, yuv420p tagged BT.709) and optionally an AAC
// track, written in real time: video from one thread, audio from another, each appended on its
// own time line in seconds from the start of writing. The index normally goes to the front of the
// file when writing finishes, which rewrites the file: finish off the GUI thread.
//
// Set-up order: create, add the tracks, startWriting, append, then finishWriting or cancelWriting.
class Mp4Writer : public std::enable_shared_from_this<Mp4Writer> {
public:
    enum class Status { Idle, Writing, Finishing, Completed, Failed, Cancelled };
    // Where finishing puts the index (the moov box).
    enum class IndexPlacement {
        Front, // players can start before the whole file has arrived; costs a rewrite of the whole file
        End,   // no rewrite: finishing takes no longer than flushing the encoders
    };
    // How the file is laid out while it is written.
    enum class Layout {
        Faststart,  // one index for the whole file, written when writing finishes
        Fragmented, // an index up front, then fragments of less than fragmentDuration, each starting on
                    // a key frame and written out at once: at any moment the file on disk plays up to
                    // less than fragmentDuration before the next frame due, also after a crash
    };
    enum class AppendResult {
        Appended,
        Dropped, // not written: its time slot is taken or it lies before the start
        Failed,  // not writing (any more), or the encoder refused it
    };

    // Video presentation times are counted in 1/600 s.
    static constexpr int videoTimescale = 600;
    // Fragmented: the most of the file a crash can cost, in 1/600 s; a fragment and the frame after it
    // take less.
    static constexpr int fragmentDuration = videoTimescale / 2;
    static QString errorDomain();

    // Width and height of a video for an area of `points`: fractions dropped, then rounded down to even.
    static QSize evenVideoSize(const QSizeF& points);

    static std::shared_ptr<Mp4Writer> create(const QString& path, AppError* error = nullptr);
    // An unfinished file is removed.
    ~Mp4Writer();
    Mp4Writer(const Mp4Writer&) = delete;
    Mp4Writer& operator=(const Mp4Writer&) = delete;

    // Before the video track is added (it sets the encoder up for it); Faststart when not set.
    void setLayout(Layout layout);
    bool addVideoTrack(const Mp4VideoSettings& settings, AppError* error = nullptr);
    bool addAudioTrack(const Mp4AudioSettings& settings, AppError* error = nullptr);
    // Opens the file and writes its header; the tracks are fixed from here on.
    bool startWriting(AppError* error = nullptr);

    Status status() const;
    std::optional<AppError> error() const;
    QString path() const;
    bool hasVideoTrack() const;
    bool hasAudioTrack() const;
    QSize videoSize() const;
    bool isReadyForMoreMediaData() const { return status() == Status::Writing; }
    qint64 videoFramesAppended() const;
    qint64 audioSamplesAppended() const;

    // A frame of 32-bit pixels (QImage RGB32 or ARGB32) of any size, scaled to the track's size,
    // shown from `seconds` on. Times must grow by at least one slot of 1/600 s: a frame that would
    // repeat the previous slot is dropped.
    AppendResult appendVideoFrame(const QImage& frame, double seconds);
    // Interleaved float samples in the track's format, the first of them at `seconds`. The track
    // stays gapless: small timing jitter is absorbed, a gap is filled with silence and samples that
    // overlap what was written are dropped. Frames of the AAC encoder are cut from the stream here.
    AppendResult appendAudioSamples(const float* interleaved, int frames, double seconds);

    // Flushes the encoders and finishes the file. Blocking (with the index in front the whole file
    // is rewritten). Appends made meanwhile are refused; an append under way is waited for.
    bool finishWriting(IndexPlacement placement = IndexPlacement::Front);
    // finishWriting on a thread of its own; `done` is called there with the result.
    void finishWritingInBackground(std::function<void(bool success)> done, IndexPlacement placement = IndexPlacement::Front);
    // Any thread: a finish to come, or one under way that has not begun writing the index yet,
    // leaves the index at the end. For when time runs short, as when quitting.
    void leaveIndexAtEnd();
    // Stops and removes the file.
    void cancelWriting();
    // Stops and closes the file as far as it was written, without finishing it, and leaves it on
    // disk: for a fragmented file after a write failure, whose complete fragments still play.
    void abandonWriting();

    // Cuts a fragmented MP4 file back to its last complete top-level box, so that a fragment
    // half-written by a crash or a full disk does not trouble players. False when the file cannot
    // be read or changed. The second form takes the file open for reading and writing.
    static bool trimToCompleteBoxes(const QString& path);
    static bool trimToCompleteBoxes(QFile& file);
    // Whether the file has an index (a top-level moov box).
    static bool hasIndex(const QString& path);
    // The number of video frames a file holds (-1 when it cannot be read).
    static qint64 countVideoFrames(const QString& path);
    // Copies the streams of `source` into a new faststart MP4 at `destination` (the index before
    // the media data), without re-encoding. Refuses a destination whose name is taken (a link
    // included). Gives up, removing what it wrote, on a write failure or as soon as `abort` is set.
    static bool remuxToFaststart(const QString& source, const QString& destination,
                                 const std::atomic<bool>* abort = nullptr, AppError* error = nullptr);

private:
    struct State;
    explicit Mp4Writer(std::unique_ptr<State> state);
    std::unique_ptr<State> d;
};

} // namespace platform
