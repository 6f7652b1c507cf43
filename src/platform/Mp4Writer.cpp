#include "platform/Mp4Writer.h"

#include "platform/FfmpegError.h"
#include "platform/OwnFile.h"

#include <QFile>
#include <QSysInfo>
#include <QThread>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {
namespace {

AppError makeError(int code, const QString& what)
{
    return AppError{Mp4Writer::errorDomain(), code, what};
}

AppError avError(int code, const QString& what)
{
    return makeError(code, what + QStringLiteral(": ") + ffmpegErrorText(code));
}

void setError(AppError* out, const AppError& error)
{
    if (out)
        *out = error;
}

} // namespace

struct Mp4Writer::State {
    QString path;
    QByteArray pathBytes;
    AVFormatContext* format = nullptr;
    std::atomic<Status> status{Status::Idle};
    std::atomic<bool> indexAtEnd{false};
    Mp4Writer::Layout layout = Mp4Writer::Layout::Faststart;

    mutable std::mutex errorMutex;
    std::optional<AppError> lastError;

    // Packets of both tracks meet in the muxer.
    std::mutex muxMutex;
    bool fileOpen = false;
    bool ownsFile = false; // created by us, so ours to remove

    // Video: touched by the one appending thread, under videoMutex.
    std::mutex videoMutex;
    AVCodecContext* video = nullptr;
    AVStream* videoStream = nullptr;
    AVFrame* videoFrame = nullptr;
    AVPacket* videoPacket = nullptr;
    SwsContext* scaler = nullptr;
    QSize scalerSource;
    AVPixelFormat scalerFormat = AV_PIX_FMT_NONE;
    int64_t lastVideoPts = -1;
    int64_t videoFrameTicks = 1; // the nominal frame's duration in 1/600 s
    int64_t fragmentStart = -1;  // fragmented: the time of the key frame that began the fragment under way
    std::atomic<qint64> videoFrames{0};

    // Audio: likewise under audioMutex.
    std::mutex audioMutex;
    AVCodecContext* audio = nullptr;
    AVStream* audioStream = nullptr;
    AVFrame* audioFrame = nullptr;
    AVPacket* audioPacket = nullptr;
    AVAudioFifo* fifo = nullptr;
    bool audioStarted = false;
    int64_t fifoStartPts = 0; // time of the first sample in the fifo, in samples
    int64_t audioNextPts = 0; // time of the sample after the last one queued
    std::vector<std::vector<float>> planes;
    std::atomic<qint64> audioSamples{0};
    bool audioMuxed = false; // a packet of the sound has reached the muxer

    ~State() { release(); }

    void fail(const AppError& error)
    {
        {
            std::lock_guard lock(errorMutex);
            lastError = error;
        }
        Status expected = Status::Writing;
        status.compare_exchange_strong(expected, Status::Failed);
    }

    void release()
    {
        sws_freeContext(scaler);
        scaler = nullptr;
        av_frame_free(&videoFrame);
        av_packet_free(&videoPacket);
        avcodec_free_context(&video);
        av_frame_free(&audioFrame);
        av_packet_free(&audioPacket);
        avcodec_free_context(&audio);
        if (fifo) {
            av_audio_fifo_free(fifo);
            fifo = nullptr;
        }
        if (format) {
            if (fileOpen)
                avio_closep(&format->pb);
            fileOpen = false;
            avformat_free_context(format);
            format = nullptr;
        }
    }

    // Takes every packet the encoder has ready to the muxer.
    int drain(AVCodecContext* codec, AVStream* stream, AVPacket* packet)
    {
        for (;;) {
            int result = avcodec_receive_packet(codec, packet);
            if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
                return 0;
            if (result < 0)
                return result;
            // The encoder gives each frame one tick of 1/600 s; the nominal frame's length makes the
            // last frame of a file (and of a copy of it) last as long as the others.
            if (codec == video && packet->duration <= 1)
                packet->duration = videoFrameTicks;
            av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
            packet->stream_index = stream->index;
            std::lock_guard lock(muxMutex);
            if (layout == Mp4Writer::Layout::Fragmented) {
                // Each track's samples wait apart in the fragment anyway: interleaving would only hold
                // the picture back while the sound comes late, or not at all.
                result = av_write_frame(format, packet);
                av_packet_unref(packet);
            } else {
                result = av_interleaved_write_frame(format, packet);
            }
            if (result < 0)
                return result;
            if (codec == audio)
                audioMuxed = true;
        }
    }

    // Fragmented, before the key frame at `videoPts` (1/600 s) that cuts a fragment: the muxer
    // writes the first fragment, and the index with it, only once every track has a sample, since
    // the index's edit lists place each track's first one (and the sound's priming). A sound track
    // that has none yet starts with silence up to the cut; samples that arrive later for that time
    // overlap it and are dropped. Called with videoMutex held.
    int giveEveryTrackASample(int64_t videoPts)
    {
        if (!audio)
            return 0;
        std::lock_guard lock(audioMutex);
        if (audioMuxed)
            return 0;
        if (!audioStarted) {
            audioStarted = true;
            fifoStartPts = audioNextPts = 0;
        }
        const int64_t until = av_rescale(videoPts, audio->sample_rate, Mp4Writer::videoTimescale);
        return until > audioNextPts ? queueAudio(nullptr, static_cast<int>(until - audioNextPts)) : 0;
    }

    int encodeAudio(int samples)
    {
        int result = av_frame_make_writable(audioFrame);
        if (result < 0)
            return result;
        audioFrame->nb_samples = samples;
        if (av_audio_fifo_read(fifo, reinterpret_cast<void**>(audioFrame->data), samples) < samples)
            return AVERROR(EIO);
        audioFrame->pts = fifoStartPts;
        fifoStartPts += samples;
        result = avcodec_send_frame(audio, audioFrame);
        if (result < 0)
            return result;
        return drain(audio, audioStream, audioPacket);
    }

    int queueAudio(const float* interleaved, int frames)
    {
        const int channels = audio->ch_layout.nb_channels;
        std::vector<void*> pointers(static_cast<size_t>(channels));
        for (int c = 0; c < channels; ++c) {
            auto& plane = planes[static_cast<size_t>(c)];
            plane.resize(static_cast<size_t>(frames));
            if (interleaved) {
                for (int i = 0; i < frames; ++i)
                    plane[static_cast<size_t>(i)] = interleaved[static_cast<size_t>(i) * channels + c];
            } else {
                std::fill(plane.begin(), plane.end(), 0.0f);
            }
            pointers[static_cast<size_t>(c)] = plane.data();
        }
        if (av_audio_fifo_write(fifo, pointers.data(), frames) < frames)
            return AVERROR(ENOMEM);
        audioNextPts += frames;
        audioSamples += frames;
        while (av_audio_fifo_size(fifo) >= audio->frame_size) {
            const int result = encodeAudio(audio->frame_size);
            if (result < 0)
                return result;
        }
        return 0;
    }
};

QString Mp4Writer::errorDomain()
{
    return QStringLiteral("Mp4Writer");
}

QSize Mp4Writer::evenVideoSize(const QSizeF& points)
{
    const auto even = [](double v) {
        if (!(v > 0) || !std::isfinite(v))
            return 0;
        const double capped = std::min(v, 65536.0);
        return static_cast<int>(std::trunc(capped)) & ~1;
    };
    return QSize(even(points.width()), even(points.height()));
}

Mp4Writer::Mp4Writer(std::unique_ptr<State> state)
    : d(std::move(state))
{
}

std::shared_ptr<Mp4Writer> Mp4Writer::create(const QString& path, AppError* error)
{
    // The encoders' set-up reports go to stderr at the default level; keep warnings and errors.
    static const bool quiet = [] {
        if (av_log_get_level() == AV_LOG_INFO)
            av_log_set_level(AV_LOG_WARNING);
        return true;
    }();
    (void)quiet;
    if (path.isEmpty()) {
        setError(error, makeError(AVERROR(EINVAL), QStringLiteral("No output file")));
        return nullptr;
    }
    auto state = std::make_unique<State>();
    state->path = path;
    state->pathBytes = QFile::encodeName(path);
    const int result = avformat_alloc_output_context2(&state->format, nullptr, "mp4", state->pathBytes.constData());
    if (result < 0 || !state->format) {
        setError(error, avError(result, QStringLiteral("Could not create the MP4 writer")));
        return nullptr;
    }
    return std::shared_ptr<Mp4Writer>(new Mp4Writer(std::move(state)));
}

Mp4Writer::~Mp4Writer()
{
    const Status s = status();
    if (s == Status::Writing || s == Status::Failed)
        cancelWriting();
}

Mp4Writer::Status Mp4Writer::status() const
{
    return d->status.load();
}

std::optional<AppError> Mp4Writer::error() const
{
    std::lock_guard lock(d->errorMutex);
    return d->lastError;
}

QString Mp4Writer::path() const
{
    return d->path;
}

bool Mp4Writer::hasVideoTrack() const
{
    return d->videoStream != nullptr;
}

bool Mp4Writer::hasAudioTrack() const
{
    return d->audioStream != nullptr;
}

QSize Mp4Writer::videoSize() const
{
    return d->video ? QSize(d->video->width, d->video->height) : QSize();
}

qint64 Mp4Writer::videoFramesAppended() const
{
    return d->videoFrames.load();
}

qint64 Mp4Writer::audioSamplesAppended() const
{
    return d->audioSamples.load();
}

void Mp4Writer::setLayout(Layout layout)
{
    if (status() == Status::Idle && !d->video)
        d->layout = layout;
}

bool Mp4Writer::addVideoTrack(const Mp4VideoSettings& settings, AppError* error)
{
    if (status() != Status::Idle || d->video) {
        setError(error, makeError(AVERROR(EINVAL), QStringLiteral("The video track cannot be added now")));
        return false;
    }
    const QSize size = settings.size;
    if (size.width() < 2 || size.height() < 2 || size.width() % 2 || size.height() % 2) {
        setError(error, makeError(AVERROR(EINVAL), QStringLiteral("Invalid video size %1x%2 (needs even sizes of at least 2)")
                                                       .arg(size.width())
                                                       .arg(size.height())));
        return false;
    }
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) {
        setError(error, makeError(AVERROR_ENCODER_NOT_FOUND, QStringLiteral("The H.264 encoder (libx264) is not available")));
        return false;
    }
    AVCodecContext* video = avcodec_alloc_context3(codec);
    if (!video) {
        setError(error, makeError(AVERROR(ENOMEM), QStringLiteral("Out of memory")));
        return false;
    }
    video->width = size.width();
    video->height = size.height();
    video->pix_fmt = AV_PIX_FMT_YUV420P;
    video->time_base = AVRational{1, videoTimescale};
    video->framerate = AVRational{std::max(1, settings.frameRate), 1};
    video->sample_aspect_ratio = AVRational{1, 1};
    video->bit_rate = settings.averageBitRate;
    video->gop_size = std::max(1, settings.maxKeyFrameInterval);
    video->keyint_min = std::min(video->gop_size, 25);
    video->profile = FF_PROFILE_H264_HIGH;
    // Players that assume BT.601 for untagged video shift reds; the pixels are converted as BT.709 too.
    video->color_primaries = AVCOL_PRI_BT709;
    video->color_trc = AVCOL_TRC_BT709;
    video->colorspace = AVCOL_SPC_BT709;
    video->color_range = AVCOL_RANGE_MPEG;
    if (d->format->oformat->flags & AVFMT_GLOBALHEADER)
        video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = nullptr;
    // Real time on one core: "veryfast" leaves room for capture and colour conversion.
    av_dict_set(&options, "preset", "veryfast", 0);
    av_dict_set(&options, "profile", "high", 0);
    // No look-ahead, no B-frames, slices rather than frames on the threads: each frame comes out as
    // it goes in, so a cut writes every frame before it.
    if (d->layout == Layout::Fragmented)
        av_dict_set(&options, "tune", "zerolatency", 0);
    // Four threads keep up with 1080p at 30 fps with room to spare; x264's own choice (1.5 per
    // core) only keeps more frames in flight, which costs memory (about 180 MiB more here) and latency.
    video->thread_count = std::clamp(QThread::idealThreadCount(), 1, 4);
    const int result = avcodec_open2(video, codec, &options);
    av_dict_free(&options);
    if (result < 0) {
        avcodec_free_context(&video);
        setError(error, avError(result, QStringLiteral("Could not open the H.264 encoder")));
        return false;
    }
    AVStream* stream = avformat_new_stream(d->format, nullptr);
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    if (!stream || !frame || !packet) {
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&video);
        setError(error, makeError(AVERROR(ENOMEM), QStringLiteral("Out of memory")));
        return false;
    }
    avcodec_parameters_from_context(stream->codecpar, video);
    stream->time_base = video->time_base;
    stream->avg_frame_rate = video->framerate;
    frame->format = video->pix_fmt;
    frame->width = video->width;
    frame->height = video->height;
    frame->color_primaries = video->color_primaries;
    frame->color_trc = video->color_trc;
    frame->colorspace = video->colorspace;
    frame->color_range = video->color_range;
    if (av_frame_get_buffer(frame, 0) < 0) {
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&video);
        setError(error, makeError(AVERROR(ENOMEM), QStringLiteral("Out of memory")));
        return false;
    }
    d->video = video;
    d->videoFrameTicks = std::max(1, videoTimescale / std::max(1, settings.frameRate));
    d->videoStream = stream;
    d->videoFrame = frame;
    d->videoPacket = packet;
    return true;
}

bool Mp4Writer::addAudioTrack(const Mp4AudioSettings& settings, AppError* error)
{
    if (status() != Status::Idle || d->audio) {
        setError(error, makeError(AVERROR(EINVAL), QStringLiteral("The audio track cannot be added now")));
        return false;
    }
    if (settings.sampleRate <= 0 || settings.channels <= 0 || settings.channels > 8) {
        setError(error, makeError(AVERROR(EINVAL), QStringLiteral("Invalid audio format")));
        return false;
    }
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!codec) {
        setError(error, makeError(AVERROR_ENCODER_NOT_FOUND, QStringLiteral("The AAC encoder is not available")));
        return false;
    }
    AVCodecContext* audio = avcodec_alloc_context3(codec);
    if (!audio) {
        setError(error, makeError(AVERROR(ENOMEM), QStringLiteral("Out of memory")));
        return false;
    }
    audio->sample_fmt = AV_SAMPLE_FMT_FLTP;
    audio->sample_rate = settings.sampleRate;
    av_channel_layout_default(&audio->ch_layout, settings.channels);
    audio->bit_rate = settings.bitRate;
    audio->time_base = AVRational{1, settings.sampleRate};
    if (d->format->oformat->flags & AVFMT_GLOBALHEADER)
        audio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int result = avcodec_open2(audio, codec, nullptr);
    if (result < 0) {
        avcodec_free_context(&audio);
        setError(error, avError(result, QStringLiteral("Could not open the AAC encoder")));
        return false;
    }
    AVStream* stream = avformat_new_stream(d->format, nullptr);
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    AVAudioFifo* fifo = av_audio_fifo_alloc(audio->sample_fmt, settings.channels, audio->frame_size * 4);
    bool ok = stream && frame && packet && fifo;
    if (ok) {
        avcodec_parameters_from_context(stream->codecpar, audio);
        stream->time_base = audio->time_base;
        frame->format = audio->sample_fmt;
        frame->sample_rate = audio->sample_rate;
        frame->nb_samples = audio->frame_size;
        av_channel_layout_copy(&frame->ch_layout, &audio->ch_layout);
        ok = av_frame_get_buffer(frame, 0) >= 0;
    }
    if (!ok) {
        av_frame_free(&frame);
        av_packet_free(&packet);
        if (fifo)
            av_audio_fifo_free(fifo);
        avcodec_free_context(&audio);
        setError(error, makeError(AVERROR(ENOMEM), QStringLiteral("Out of memory")));
        return false;
    }
    d->audio = audio;
    d->audioStream = stream;
    d->audioFrame = frame;
    d->audioPacket = packet;
    d->fifo = fifo;
    d->planes.resize(static_cast<size_t>(settings.channels));
    return true;
}

bool Mp4Writer::startWriting(AppError* error)
{
    if (status() != Status::Idle || !d->video) {
        setError(error, makeError(AVERROR(EINVAL), QStringLiteral("Writing cannot start without a video track")));
        return false;
    }
    int result = avio_open(&d->format->pb, d->pathBytes.constData(), AVIO_FLAG_WRITE);
    if (result < 0) {
        const AppError e = avError(result, QStringLiteral("Could not open %1").arg(d->path));
        d->status = Status::Failed;
        {
            std::lock_guard lock(d->errorMutex);
            d->lastError = e;
        }
        setError(error, e);
        return false;
    }
    d->fileOpen = true;
    d->ownsFile = true;
    AVDictionary* options = nullptr;
    if (d->layout == Layout::Fragmented) {
        // A fragment ends at every key frame, which appendVideoFrame asks for every half second,
        // and reaches the disk at once. The index waits for the first fragment, so that its edit
        // lists place the video's first frame and the audio's priming samples as the faststart
        // file does.
        av_dict_set(&options, "movflags", "+frag_keyframe+empty_moov+delay_moov+default_base_moof", 0);
        d->format->flags |= AVFMT_FLAG_FLUSH_PACKETS;
    } else {
        // The index in front lets players start before the whole file has arrived.
        av_dict_set(&options, "movflags", "+faststart", 0);
    }
    result = avformat_write_header(d->format, &options);
    av_dict_free(&options);
    if (result < 0) {
        const AppError e = avError(result, QStringLiteral("Could not write the MP4 header"));
        avio_closep(&d->format->pb);
        d->fileOpen = false;
        QFile::remove(d->path);
        d->ownsFile = false;
        d->status = Status::Failed;
        {
            std::lock_guard lock(d->errorMutex);
            d->lastError = e;
        }
        setError(error, e);
        return false;
    }
    d->status = Status::Writing;
    return true;
}

Mp4Writer::AppendResult Mp4Writer::appendVideoFrame(const QImage& frame, double seconds)
{
    std::lock_guard lock(d->videoMutex);
    if (status() != Status::Writing || !d->video)
        return AppendResult::Failed;
    if (frame.isNull() || frame.depth() != 32)
        return AppendResult::Failed;
    if (!std::isfinite(seconds) || seconds < 0)
        return AppendResult::Dropped;
    const int64_t pts = std::llround(seconds * videoTimescale);
    if (pts <= d->lastVideoPts)
        return AppendResult::Dropped;

    // QImage keeps 32-bit pixels as native-endian 0xAARRGGBB words.
    const bool little = QSysInfo::ByteOrder == QSysInfo::LittleEndian;
    const bool opaque = frame.format() == QImage::Format_RGB32;
    const AVPixelFormat source = little ? (opaque ? AV_PIX_FMT_BGR0 : AV_PIX_FMT_BGRA)
                                        : (opaque ? AV_PIX_FMT_0RGB : AV_PIX_FMT_ARGB);
    if (!d->scaler || d->scalerSource != QSize(frame.width(), frame.height()) || d->scalerFormat != source) {
        // Not sws_getCachedContext: it rebuilds a context whose flags changed during set-up, which
        // costs a full set-up per frame and may come back at the same address with default colours.
        sws_freeContext(d->scaler);
        // Chroma from every pixel, not from pairs of them: the pairs run one pixel past each row of
        // an odd width, into the next row and, after the last, past the frame's memory. Area
        // filtering keeps a frame of the video's size as it is and averages each 2 x 2 block exactly.
        d->scaler = sws_getContext(frame.width(), frame.height(), source, d->video->width, d->video->height,
                                   AV_PIX_FMT_YUV420P, SWS_AREA | SWS_FULL_CHR_H_INP, nullptr, nullptr, nullptr);
        if (!d->scaler) {
            d->fail(makeError(AVERROR(EINVAL), QStringLiteral("Could not convert the frame")));
            return AppendResult::Failed;
        }
        // RGB in (full range), BT.709 limited range out, matching the tags of the track.
        const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
        sws_setColorspaceDetails(d->scaler, bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);
        d->scalerSource = QSize(frame.width(), frame.height());
        d->scalerFormat = source;
    }
    int result = av_frame_make_writable(d->videoFrame);
    if (result < 0) {
        d->fail(avError(result, QStringLiteral("Out of memory")));
        return AppendResult::Failed;
    }
    const uint8_t* sourcePlanes[4] = {frame.constBits(), nullptr, nullptr, nullptr};
    const int sourceStrides[4] = {static_cast<int>(frame.bytesPerLine()), 0, 0, 0};
    sws_scale(d->scaler, sourcePlanes, sourceStrides, 0, frame.height(), d->videoFrame->data, d->videoFrame->linesize);
    d->videoFrame->pts = pts;
    if (d->layout == Layout::Fragmented) {
        // A kill loses the fragment under way and the frame being captured: the frame that would
        // bring the two to half a second starts the next fragment, as a key frame, on which the
        // muxer cuts. At 30 frames a second, fragments of 14 frames.
        const int64_t period = d->lastVideoPts >= 0 ? pts - d->lastVideoPts : d->videoFrameTicks;
        const bool cut = d->fragmentStart >= 0 && pts - d->fragmentStart + period >= fragmentDuration;
        if (cut && (result = d->giveEveryTrackASample(pts)) < 0) {
            d->fail(avError(result, QStringLiteral("Could not encode audio")));
            return AppendResult::Failed;
        }
        const bool key = cut || d->fragmentStart < 0;
        if (key)
            d->fragmentStart = pts;
        d->videoFrame->pict_type = key ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    }
    result = avcodec_send_frame(d->video, d->videoFrame);
    if (result >= 0)
        result = d->drain(d->video, d->videoStream, d->videoPacket);
    if (result < 0) {
        d->fail(avError(result, QStringLiteral("Could not encode a video frame")));
        return AppendResult::Failed;
    }
    d->lastVideoPts = pts;
    ++d->videoFrames;
    return AppendResult::Appended;
}

Mp4Writer::AppendResult Mp4Writer::appendAudioSamples(const float* interleaved, int frames, double seconds)
{
    std::lock_guard lock(d->audioMutex);
    if (status() != Status::Writing || !d->audio)
        return AppendResult::Failed;
    if (!interleaved || frames <= 0 || !std::isfinite(seconds))
        return AppendResult::Dropped;
    const int rate = d->audio->sample_rate;
    const int channels = d->audio->ch_layout.nb_channels;
    int64_t pts = std::llround(seconds * rate);
    // Up to 10 ms of disagreement between the caller's clock and the samples written is jitter.
    const int64_t jitter = rate / 100;
    int64_t skip = 0;
    if (!d->audioStarted) {
        if (pts < 0)
            skip = -pts;
        if (skip >= frames)
            return AppendResult::Dropped;
        d->audioStarted = true;
        d->fifoStartPts = d->audioNextPts = std::max<int64_t>(pts, 0);
    } else {
        const int64_t offset = pts - d->audioNextPts;
        if (offset > jitter) {
            // Samples were lost upstream: keep the track in step with the video with silence.
            int64_t gap = std::min<int64_t>(offset, int64_t(rate) * 3600);
            while (gap > 0) {
                const int chunk = static_cast<int>(std::min<int64_t>(gap, d->audio->frame_size));
                const int result = d->queueAudio(nullptr, chunk);
                if (result < 0) {
                    d->fail(avError(result, QStringLiteral("Could not encode audio")));
                    return AppendResult::Failed;
                }
                gap -= chunk;
            }
        } else if (offset < -jitter) {
            skip = -offset;
            if (skip >= frames)
                return AppendResult::Dropped;
        }
    }
    const int result = d->queueAudio(interleaved + skip * channels, frames - static_cast<int>(skip));
    if (result < 0) {
        d->fail(avError(result, QStringLiteral("Could not encode audio")));
        return AppendResult::Failed;
    }
    return AppendResult::Appended;
}

bool Mp4Writer::finishWriting(IndexPlacement placement)
{
    if (placement == IndexPlacement::End)
        leaveIndexAtEnd();
    {
        std::scoped_lock lock(d->videoMutex, d->audioMutex);
        Status expected = Status::Writing;
        if (!d->status.compare_exchange_strong(expected, Status::Finishing))
            return expected == Status::Completed;
    }
    int result = 0;
    if (d->audio) {
        const int left = av_audio_fifo_size(d->fifo);
        if (left > 0)
            result = d->encodeAudio(left); // the encoder takes a short last frame
        if (result >= 0)
            result = avcodec_send_frame(d->audio, nullptr);
        if (result >= 0)
            result = d->drain(d->audio, d->audioStream, d->audioPacket);
    }
    if (result >= 0)
        result = avcodec_send_frame(d->video, nullptr);
    if (result >= 0)
        result = d->drain(d->video, d->videoStream, d->videoPacket);
    if (result >= 0) {
        std::lock_guard lock(d->muxMutex);
        // The header was written for an index in front. Without the flag now, the trailer writes
        // the index after the media data instead of moving them all. Were the option refused,
        // the index would still go to the front, only slower.
        if (d->indexAtEnd.load() && d->layout == Layout::Faststart)
            av_opt_set(d->format->priv_data, "movflags", "-faststart", 0);
        result = av_write_trailer(d->format);
    }
    int closed = 0;
    {
        std::lock_guard lock(d->muxMutex);
        closed = avio_closep(&d->format->pb);
        d->fileOpen = false;
    }
    if (result >= 0 && closed < 0)
        result = closed;
    if (result < 0) {
        {
            std::lock_guard lock(d->errorMutex);
            d->lastError = avError(result, QStringLiteral("Could not finish the MP4 file"));
        }
        d->status = Status::Failed;
        return false;
    }
    d->status = Status::Completed;
    return true;
}

void Mp4Writer::finishWritingInBackground(std::function<void(bool)> done, IndexPlacement placement)
{
    std::thread([self = shared_from_this(), done = std::move(done), placement] {
        const bool success = self->finishWriting(placement);
        if (done)
            done(success);
    }).detach();
}

void Mp4Writer::leaveIndexAtEnd()
{
    d->indexAtEnd = true;
}

void Mp4Writer::cancelWriting()
{
    std::scoped_lock lock(d->videoMutex, d->audioMutex);
    const Status s = status();
    if (s == Status::Finishing || s == Status::Completed || s == Status::Cancelled)
        return;
    d->status = Status::Cancelled;
    {
        std::lock_guard muxLock(d->muxMutex);
        if (d->fileOpen && d->format)
            avio_closep(&d->format->pb);
        d->fileOpen = false;
    }
    if (d->ownsFile)
        QFile::remove(d->path);
    d->ownsFile = false;
}

void Mp4Writer::abandonWriting()
{
    std::scoped_lock lock(d->videoMutex, d->audioMutex);
    const Status s = status();
    if (s == Status::Finishing || s == Status::Completed || s == Status::Cancelled)
        return;
    if (s != Status::Failed)
        d->status = Status::Cancelled;
    std::lock_guard muxLock(d->muxMutex);
    if (d->fileOpen && d->format)
        avio_closep(&d->format->pb);
    d->fileOpen = false;
    d->ownsFile = false;
}

namespace {

// Big-endian box header at `at`: its size (0 when it cannot be read) and type.
struct BoxHeader {
    quint64 size = 0;
    QByteArray type;
};

BoxHeader readBoxHeader(QFile& file, qint64 at, qint64 end)
{
    BoxHeader box;
    if (at + 8 > end || !file.seek(at))
        return box;
    const QByteArray header = file.read(16);
    if (header.size() < 8)
        return box;
    const auto byte = [&](int i) { return quint64(uchar(header[i])); };
    quint64 size = (byte(0) << 24) | (byte(1) << 16) | (byte(2) << 8) | byte(3);
    if (size == 1) {
        if (header.size() < 16)
            return box;
        size = 0;
        for (int i = 8; i < 16; ++i)
            size = (size << 8) | byte(i);
    } else if (size == 0) {
        size = quint64(end - at); // to the end of the file
    }
    box.size = size < 8 ? 0 : size;
    box.type = header.mid(4, 4);
    return box;
}

} // namespace

bool Mp4Writer::trimToCompleteBoxes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite) && trimToCompleteBoxes(file);
}

bool Mp4Writer::trimToCompleteBoxes(QFile& file)
{
    const qint64 end = file.size();
    qint64 at = 0;
    qint64 keep = 0; // the end of the last complete box that may end the file
    for (;;) {
        const BoxHeader box = readBoxHeader(file, at, end);
        if (!box.size || quint64(end - at) < box.size)
            break;
        at += qint64(box.size);
        // A fragment's header without its media data would point past the file's end.
        if (box.type != "moof")
            keep = at;
    }
    return keep == end || file.resize(keep);
}

bool Mp4Writer::hasIndex(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const qint64 end = file.size();
    for (qint64 at = 0;;) {
        const BoxHeader box = readBoxHeader(file, at, end);
        if (!box.size || quint64(end - at) < box.size)
            return false;
        if (box.type == "moov")
            return true;
        at += qint64(box.size);
    }
}

qint64 Mp4Writer::countVideoFrames(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    AVFormatContext* input = nullptr;
    if (avformat_open_input(&input, name.constData(), nullptr, nullptr) < 0)
        return -1;
    qint64 frames = -1;
    if (avformat_find_stream_info(input, nullptr) >= 0) {
        const int video = av_find_best_stream(input, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (video >= 0) {
            frames = 0;
            AVPacket* packet = av_packet_alloc();
            while (packet && av_read_frame(input, packet) >= 0) {
                if (packet->stream_index == video && !(packet->flags & AV_PKT_FLAG_CORRUPT))
                    ++frames;
                av_packet_unref(packet);
            }
            av_packet_free(&packet);
        }
    }
    avformat_close_input(&input);
    return frames;
}

bool Mp4Writer::remuxToFaststart(const QString& source, const QString& destination, const std::atomic<bool>* abort,
                                 AppError* error)
{
    const QByteArray sourceName = QFile::encodeName(source);
    const QByteArray destinationName = QFile::encodeName(destination);
    AVFormatContext* input = nullptr;
    AVFormatContext* output = nullptr;
    AVPacket* packet = nullptr;
    bool created = false;
    bool opened = false;
    int result = avformat_open_input(&input, sourceName.constData(), nullptr, nullptr);
    QString step = QStringLiteral("Could not read %1").arg(source);
    std::vector<int> map;
    if (result >= 0)
        result = avformat_find_stream_info(input, nullptr);
    if (result >= 0) {
        step = QStringLiteral("Could not create %1").arg(destination);
        result = avformat_alloc_output_context2(&output, nullptr, "mp4", destinationName.constData());
        if (result >= 0 && !output)
            result = AVERROR(ENOMEM);
    }
    for (unsigned i = 0; result >= 0 && i < input->nb_streams; ++i) {
        const AVStream* in = input->streams[i];
        const AVMediaType type = in->codecpar->codec_type;
        if (type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO) {
            map.push_back(-1);
            continue;
        }
        AVStream* out = avformat_new_stream(output, nullptr);
        if (!out) {
            result = AVERROR(ENOMEM);
            break;
        }
        result = avcodec_parameters_copy(out->codecpar, in->codecpar);
        out->codecpar->codec_tag = 0;
        out->time_base = in->time_base;
        out->avg_frame_rate = in->avg_frame_rate;
        out->sample_aspect_ratio = in->sample_aspect_ratio;
        map.push_back(out->index);
    }
    if (result >= 0) {
        // Created here first: opening alone would write through a link of that name.
        result = AVERROR(OwnFile::createNew(destination));
        created = result == 0;
        if (created) {
            result = avio_open(&output->pb, destinationName.constData(), AVIO_FLAG_WRITE);
            opened = result >= 0;
        }
    }
    if (result >= 0) {
        AVDictionary* options = nullptr;
        av_dict_set(&options, "movflags", "+faststart", 0);
        result = avformat_write_header(output, &options);
        av_dict_free(&options);
    }
    if (result >= 0) {
        step = QStringLiteral("Could not write %1").arg(destination);
        packet = av_packet_alloc();
        if (!packet)
            result = AVERROR(ENOMEM);
    }
    while (result >= 0) {
        if (abort && abort->load()) {
            result = AVERROR_EXIT;
            break;
        }
        const int read = av_read_frame(input, packet);
        if (read < 0)
            break; // the end, or a cut-off last fragment: what came before is all there is
        const int index = packet->stream_index;
        if (index < 0 || index >= int(map.size()) || map[size_t(index)] < 0 || (packet->flags & AV_PKT_FLAG_CORRUPT)) {
            av_packet_unref(packet);
            continue;
        }
        AVStream* out = output->streams[map[size_t(index)]];
        av_packet_rescale_ts(packet, input->streams[index]->time_base, out->time_base);
        packet->stream_index = out->index;
        packet->pos = -1;
        result = av_interleaved_write_frame(output, packet);
    }
    if (result >= 0)
        result = av_write_trailer(output);
    if (opened) {
        const int closed = avio_closep(&output->pb);
        if (result >= 0 && closed < 0)
            result = closed;
    }
    av_packet_free(&packet);
    avformat_free_context(output);
    avformat_close_input(&input);
    if (result < 0) {
        if (created)
            QFile::remove(destination);
        setError(error, avError(result, step));
        return false;
    }
    return true;
}

} // namespace platform
