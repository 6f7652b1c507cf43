#include "platform/MediaFrameReader.h"

#include <QFile>
#include <QTransform>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <QThread>

#include <algorithm>
#include <cmath>

namespace platform {
namespace {

// Reading on from the last frame is cheaper than a seek as long as the target is near; beyond
// this a seek to the preceding key frame wins.
constexpr double kForwardReadLimit = 2.0;
// A few undecodable packets (a damaged file) are skipped; a stream of them is an error.
constexpr int kMaxPacketErrors = 64;
// Threads of a scaled conversion: a 720p or 1080p frame scaled to GIF size is done in about a
// millisecond on four; more threads wait on each other more than they gain.
constexpr int kMaxScaleThreads = 4;

QString averror(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromUtf8(text);
}

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

int swsColorspace(AVColorSpace space)
{
    switch (space) {
    case AVCOL_SPC_BT709:
        return SWS_CS_ITU709;
    case AVCOL_SPC_FCC:
        return SWS_CS_FCC;
    case AVCOL_SPC_SMPTE240M:
        return SWS_CS_SMPTE240M;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL:
        return SWS_CS_BT2020;
    default:
        return SWS_CS_DEFAULT; // BT.601, also for untagged streams
    }
}

// The deprecated full-range "J" formats, as their plain twin plus the range.
AVPixelFormat withoutJpegRange(AVPixelFormat format, bool* fullRange)
{
    switch (format) {
    case AV_PIX_FMT_YUVJ420P:
        *fullRange = true;
        return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P:
        *fullRange = true;
        return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P:
        *fullRange = true;
        return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P:
        *fullRange = true;
        return AV_PIX_FMT_YUV440P;
    default:
        return format;
    }
}

} // namespace

struct MediaFrameReader::State {
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVStream* stream = nullptr;
    int streamIndex = -1;
    AVPacket* packet = nullptr;
    SwsContext* sws = nullptr;
    // The scaled conversion's context and what it was made for.
    SwsContext* scaledSws = nullptr;
    int scaledFrom[3] = {0, 0, -1}; // width, height, pixel format of the decoded frames
    QSize scaledTo;
    AVPixelFormat scaledFormat = AV_PIX_FMT_NONE;
    int scaledColorspace = -1;
    bool scaledFullRange = false;
    int rotation = 0;
    int64_t startPts = 0;

    // `current` is the frame on screen at the last requested time; `pending` the next one already
    // decoded (it starts after that time).
    AVFrame* current = nullptr;
    double currentTime = 0;
    AVFrame* pending = nullptr;
    double pendingTime = 0;
    bool hasCurrent = false;
    bool hasPending = false;
    bool drained = false;   // the end of the file was handed to the decoder
    bool exhausted = false; // the decoder has given its last frame
    bool everSought = false;
    double lastTime = 0;

    ~State()
    {
        sws_freeContext(sws);
        sws_freeContext(scaledSws);
        av_frame_free(&current);
        av_frame_free(&pending);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
        if (format)
            avformat_close_input(&format);
    }

    double secondsOf(const AVFrame* frame)
    {
        int64_t pts = frame->best_effort_timestamp;
        if (pts == AV_NOPTS_VALUE)
            pts = frame->pts;
        if (pts == AV_NOPTS_VALUE)
            return hasCurrent ? lastTime : 0.0;
        return static_cast<double>(pts - startPts) * av_q2d(stream->time_base);
    }

    // The next decoded frame into `frame`: 0, AVERROR_EOF at the end, or another error.
    int decodeNext(AVFrame* frame)
    {
        int packetErrors = 0;
        for (;;) {
            if (exhausted)
                return AVERROR_EOF;
            int result = avcodec_receive_frame(codec, frame);
            if (result == 0)
                return 0;
            if (result == AVERROR_EOF) {
                exhausted = true;
                return AVERROR_EOF;
            }
            if (result != AVERROR(EAGAIN))
                return result;
            if (drained) {
                exhausted = true;
                return AVERROR_EOF;
            }
            result = av_read_frame(format, packet);
            if (result < 0) {
                // End of file (or a read error, which ends the stream the same way): flush the decoder.
                avcodec_send_packet(codec, nullptr);
                drained = true;
                continue;
            }
            if (packet->stream_index != streamIndex) {
                av_packet_unref(packet);
                continue;
            }
            result = avcodec_send_packet(codec, packet);
            av_packet_unref(packet);
            if (result < 0 && result != AVERROR(EAGAIN) && ++packetErrors > kMaxPacketErrors)
                return result;
        }
    }

    // Decodes on (or seeks) until `current` is the frame on screen at `seconds`.
    bool frameOnScreenAt(double seconds, QString* error);

    bool seek(double seconds, QString* error)
    {
        const int64_t target = startPts + static_cast<int64_t>(std::floor(seconds / av_q2d(stream->time_base)));
        int result = av_seek_frame(format, streamIndex, target, AVSEEK_FLAG_BACKWARD);
        // No key frame at or before the target (a target before the first one): read from the start.
        if (result < 0)
            result = av_seek_frame(format, streamIndex, startPts, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY);
        if (result < 0) {
            setError(error, QStringLiteral("cannot seek to %1 s: %2").arg(seconds).arg(averror(result)));
            return false;
        }
        avcodec_flush_buffers(codec);
        hasCurrent = hasPending = drained = exhausted = false;
        everSought = true;
        return true;
    }

    QImage convert(const AVFrame* frame, QString* error)
    {
        bool fullRange = frame->color_range == AVCOL_RANGE_JPEG;
        const AVPixelFormat source = withoutJpegRange(static_cast<AVPixelFormat>(frame->format), &fullRange);
        // AV_PIX_FMT_RGB32 is native-endian 0xAARRGGBB, the layout of QImage::Format_RGB32.
        sws = sws_getCachedContext(sws, frame->width, frame->height, source, frame->width, frame->height,
                                   AV_PIX_FMT_RGB32, SWS_BILINEAR | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr,
                                   nullptr, nullptr);
        if (!sws) {
            setError(error, QStringLiteral("cannot convert frames of this pixel format"));
            return {};
        }
        const int* coefficients = sws_getCoefficients(swsColorspace(frame->colorspace));
        sws_setColorspaceDetails(sws, coefficients, fullRange ? 1 : 0, sws_getCoefficients(SWS_CS_DEFAULT), 1, 0,
                                 1 << 16, 1 << 16);
        QImage image(frame->width, frame->height, QImage::Format_RGB32);
        if (image.isNull()) {
            setError(error, QStringLiteral("out of memory"));
            return {};
        }
        uint8_t* planes[4] = {image.bits(), nullptr, nullptr, nullptr};
        int strides[4] = {static_cast<int>(image.bytesPerLine()), 0, 0, 0};
        sws_scale(sws, frame->data, frame->linesize, 0, frame->height, planes, strides);
        if (rotation != 0)
            image = image.transformed(QTransform().rotate(rotation));
        return image;
    }

    QImage convertScaled(const AVFrame* frame, const QSize& shownSize, QImage::Format imageFormat, QString* error)
    {
        const AVPixelFormat target = imageFormat == QImage::Format_RGB888 ? AV_PIX_FMT_RGB24 : AV_PIX_FMT_RGB32;
        // Scaled before it is turned: the coded picture's axes.
        const QSize size = rotation == 90 || rotation == 270 ? shownSize.transposed() : shownSize;
        bool fullRange = frame->color_range == AVCOL_RANGE_JPEG;
        const AVPixelFormat source = withoutJpegRange(static_cast<AVPixelFormat>(frame->format), &fullRange);
        if (!scaledSws || scaledFrom[0] != frame->width || scaledFrom[1] != frame->height || scaledFrom[2] != source
            || scaledTo != size || scaledFormat != target) {
            sws_freeContext(scaledSws);
            scaledSws = sws_alloc_context();
            scaledColorspace = -1;
            if (!scaledSws) {
                setError(error, QStringLiteral("out of memory"));
                return {};
            }
            // Bicubic, as the ffmpeg program scales. Chroma is interpolated as usual rather than at
            // full resolution: the scaled-down picture cannot show the difference, and the GIF's
            // palette and file come out smaller.
            av_opt_set_int(scaledSws, "srcw", frame->width, 0);
            av_opt_set_int(scaledSws, "srch", frame->height, 0);
            av_opt_set_int(scaledSws, "src_format", source, 0);
            av_opt_set_int(scaledSws, "dstw", size.width(), 0);
            av_opt_set_int(scaledSws, "dsth", size.height(), 0);
            av_opt_set_int(scaledSws, "dst_format", target, 0);
            av_opt_set_int(scaledSws, "sws_flags", SWS_BICUBIC | SWS_ACCURATE_RND, 0);
            av_opt_set_int(scaledSws, "threads", std::clamp(QThread::idealThreadCount(), 1, kMaxScaleThreads), 0);
            if (sws_init_context(scaledSws, nullptr, nullptr) < 0) {
                sws_freeContext(scaledSws);
                scaledSws = nullptr;
                setError(error, QStringLiteral("cannot convert frames of this pixel format"));
                return {};
            }
            scaledFrom[0] = frame->width;
            scaledFrom[1] = frame->height;
            scaledFrom[2] = source;
            scaledTo = size;
            scaledFormat = target;
        }
        if (scaledColorspace != frame->colorspace || scaledFullRange != fullRange) {
            sws_setColorspaceDetails(scaledSws, sws_getCoefficients(swsColorspace(frame->colorspace)), fullRange ? 1 : 0,
                                     sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
            scaledColorspace = frame->colorspace;
            scaledFullRange = fullRange;
        }
        QImage image(size, imageFormat == QImage::Format_RGB888 ? QImage::Format_RGB888 : QImage::Format_RGB32);
        AVFrame* in = av_frame_clone(frame);
        AVFrame* out = av_frame_alloc();
        // The image's pixels as the output buffer: sws_scale_frame writes into a frame it does not own.
        AVBufferRef* pixels = image.isNull() ? nullptr
                                             : av_buffer_create(image.bits(), static_cast<size_t>(image.sizeInBytes()),
                                                                [](void*, uint8_t*) {}, nullptr, 0);
        int result = AVERROR(ENOMEM);
        if (in && out && pixels) {
            in->format = source;
            out->buf[0] = pixels;
            pixels = nullptr;
            out->data[0] = image.bits();
            out->linesize[0] = static_cast<int>(image.bytesPerLine());
            out->width = size.width();
            out->height = size.height();
            out->format = target;
            result = sws_scale_frame(scaledSws, out, in);
        }
        av_buffer_unref(&pixels);
        av_frame_free(&in);
        av_frame_free(&out);
        if (result < 0) {
            setError(error, QStringLiteral("cannot convert a frame: ") + averror(result));
            return {};
        }
        if (rotation != 0)
            image = image.transformed(QTransform().rotate(rotation));
        return image;
    }
};

MediaFrameReader::MediaFrameReader(std::unique_ptr<State> state)
    : d(std::move(state))
{
}

MediaFrameReader::~MediaFrameReader() = default;

std::unique_ptr<MediaFrameReader> MediaFrameReader::open(const QString& path, QString* error)
{
    auto state = std::make_unique<State>();
    const QByteArray file = QFile::encodeName(path);
    // Only plain files: no protocol prefixes from a hostile name.
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    int result = avformat_open_input(&state->format, file.constData(), nullptr, &options);
    av_dict_free(&options);
    if (result < 0) {
        setError(error, QStringLiteral("cannot open %1: %2").arg(path, averror(result)));
        return nullptr;
    }
    result = avformat_find_stream_info(state->format, nullptr);
    if (result < 0) {
        setError(error, QStringLiteral("cannot read the streams of %1: %2").arg(path, averror(result)));
        return nullptr;
    }
    const AVCodec* decoder = nullptr;
    state->streamIndex = av_find_best_stream(state->format, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (state->streamIndex < 0 || !decoder) {
        setError(error, QStringLiteral("%1 has no video stream that can be decoded").arg(path));
        return nullptr;
    }
    state->stream = state->format->streams[state->streamIndex];
    state->codec = avcodec_alloc_context3(decoder);
    state->packet = av_packet_alloc();
    state->current = av_frame_alloc();
    state->pending = av_frame_alloc();
    if (!state->codec || !state->packet || !state->current || !state->pending) {
        setError(error, QStringLiteral("out of memory"));
        return nullptr;
    }
    result = avcodec_parameters_to_context(state->codec, state->stream->codecpar);
    if (result >= 0) {
        state->codec->thread_count = 0;
        result = avcodec_open2(state->codec, decoder, nullptr);
    }
    if (result < 0) {
        setError(error, QStringLiteral("cannot decode %1: %2").arg(path, averror(result)));
        return nullptr;
    }
    if (state->codec->width <= 0 || state->codec->height <= 0) {
        setError(error, QStringLiteral("%1 has no frame size").arg(path));
        return nullptr;
    }
    if (state->stream->start_time != AV_NOPTS_VALUE)
        state->startPts = state->stream->start_time;

    size_t sideDataSize = 0;
    const uint8_t* matrix = av_stream_get_side_data(state->stream, AV_PKT_DATA_DISPLAYMATRIX, &sideDataSize);
    if (matrix && sideDataSize >= 9 * sizeof(int32_t)) {
        // The matrix gives the counter-clockwise angle; frames are turned clockwise by its negative.
        const double angle = -av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
        if (std::isfinite(angle)) {
            int degrees = static_cast<int>(std::lround(angle / 90.0)) * 90 % 360;
            if (degrees < 0)
                degrees += 360;
            state->rotation = degrees;
        }
    }
    return std::unique_ptr<MediaFrameReader>(new MediaFrameReader(std::move(state)));
}

QSize MediaFrameReader::frameSize() const
{
    const QSize coded(d->codec->width, d->codec->height);
    return d->rotation == 90 || d->rotation == 270 ? coded.transposed() : coded;
}

double MediaFrameReader::duration() const
{
    if (d->format->duration != AV_NOPTS_VALUE && d->format->duration > 0)
        return static_cast<double>(d->format->duration) / AV_TIME_BASE;
    if (d->stream->duration != AV_NOPTS_VALUE && d->stream->duration > 0)
        return static_cast<double>(d->stream->duration) * av_q2d(d->stream->time_base);
    return 0;
}

double MediaFrameReader::frameRate() const
{
    const AVRational rate = av_guess_frame_rate(d->format, d->stream, nullptr);
    return rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0;
}

int MediaFrameReader::rotation() const
{
    return d->rotation;
}

QImage MediaFrameReader::frameAt(double seconds, QString* error)
{
    return d->frameOnScreenAt(seconds, error) ? d->convert(d->current, error) : QImage();
}

QImage MediaFrameReader::frameAt(double seconds, const QSize& size, QImage::Format format, QString* error)
{
    if (size.isEmpty()) {
        setError(error, QStringLiteral("cannot scale a frame to %1 x %2 pixels").arg(size.width()).arg(size.height()));
        return {};
    }
    return d->frameOnScreenAt(seconds, error) ? d->convertScaled(d->current, size, format, error) : QImage();
}

bool MediaFrameReader::State::frameOnScreenAt(double seconds, QString* error)
{
    if (!std::isfinite(seconds) || seconds < 0)
        seconds = 0;
    State& s = *this;

    const bool readOn = s.hasCurrent ? (seconds >= s.currentTime && seconds - s.currentTime < kForwardReadLimit)
                                     : (!s.everSought && seconds < kForwardReadLimit);
    if (!readOn && !s.seek(seconds, error))
        return false;

    if (s.hasPending) {
        if (s.pendingTime > seconds) {
            s.lastTime = seconds;
            return true;
        }
        std::swap(s.current, s.pending);
        s.currentTime = s.pendingTime;
        s.hasCurrent = true;
        s.hasPending = false;
    }

    for (;;) {
        const int result = s.decodeNext(s.pending);
        if (result == AVERROR_EOF)
            break;
        if (result < 0) {
            setError(error, QStringLiteral("cannot decode a frame: %1").arg(averror(result)));
            return false;
        }
        const double time = s.secondsOf(s.pending);
        if (!s.hasCurrent || time <= seconds) {
            std::swap(s.current, s.pending);
            s.currentTime = time;
            s.hasCurrent = true;
            av_frame_unref(s.pending);
            if (time > seconds)
                break; // the first frame starts after the time asked for: it is what is shown
            continue;
        }
        s.pendingTime = time;
        s.hasPending = true;
        break;
    }
    if (!s.hasCurrent) {
        setError(error, QStringLiteral("no frame could be decoded"));
        return false;
    }
    s.lastTime = seconds;
    return true;
}

} // namespace platform
