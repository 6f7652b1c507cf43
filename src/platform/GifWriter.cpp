#include "platform/GifWriter.h"

#include <QSaveFile>
#include <QScopeGuard>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
}

#include <algorithm>

namespace platform {
namespace {

// Time stamps in the GIF's own unit, 1/100 s: the delays come out exact.
constexpr AVRational kTimeBase{1, 100};
constexpr int kIoBufferSize = 64 * 1024;
// The GIF format stores widths and heights in 16 bits.
constexpr int kMaxSide = 65535;

QString averror(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromUtf8(text);
}

bool fail(QString* error, const QString& text)
{
    if (error)
        *error = text;
    return false;
}

int writeToFile(void* opaque, uint8_t* buffer, int size)
{
    auto* file = static_cast<QSaveFile*>(opaque);
    return file->write(reinterpret_cast<const char*>(buffer), size) == size ? size : AVERROR(EIO);
}

int64_t seekInFile(void* opaque, int64_t offset, int whence)
{
    auto* file = static_cast<QSaveFile*>(opaque);
    if (whence & AVSEEK_SIZE)
        return file->size();
    whence &= ~AVSEEK_FORCE;
    qint64 target = -1;
    if (whence == SEEK_SET)
        target = offset;
    else if (whence == SEEK_CUR)
        target = file->pos() + offset;
    else if (whence == SEEK_END)
        target = file->size() + offset;
    if (target < 0 || !file->seek(target))
        return AVERROR(EINVAL);
    return target;
}

// `image` as the 32-bit pixels FFmpeg calls RGB32 (QImage's RGB32 has the same native-endian layout).
QImage prepared(const QImage& image, const QSize& size)
{
    const QImage sized = image.size() == size ? image : image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return sized.convertToFormat(QImage::Format_RGB32);
}

// A frame that borrows the image's pixels; the filter graph copies them when it keeps the frame.
struct BorrowedFrame {
    AVFrame* frame = av_frame_alloc();
    BorrowedFrame(const QImage& image, int64_t pts)
    {
        if (!frame)
            return;
        frame->format = AV_PIX_FMT_RGB32;
        frame->width = image.width();
        frame->height = image.height();
        frame->data[0] = const_cast<uint8_t*>(image.constBits());
        frame->linesize[0] = static_cast<int>(image.bytesPerLine());
        frame->pts = pts;
    }
    ~BorrowedFrame() { av_frame_free(&frame); }
};

QByteArray bufferArguments(const QSize& size, int pixelFormat)
{
    return QStringLiteral("video_size=%1x%2:pix_fmt=%3:time_base=%4/%5:pixel_aspect=1/1")
        .arg(size.width())
        .arg(size.height())
        .arg(pixelFormat)
        .arg(kTimeBase.num)
        .arg(kTimeBase.den)
        .toLatin1();
}

} // namespace

struct GifWriter::State {
    Options options;
    QSaveFile file;
    AVFormatContext* format = nullptr;
    AVIOContext* io = nullptr;
    AVCodecContext* encoder = nullptr;
    AVStream* stream = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* palette = nullptr;
    AVFrame* mapped = nullptr;
    AVFilterGraph* mapGraph = nullptr;
    AVFilterContext* mapSource = nullptr;
    AVFilterContext* mapSink = nullptr;
    int64_t nextInputPts = 0;
    int64_t nextPacketPts = 0;
    int framesWritten = 0;
    bool done = false;

    explicit State(const QString& path)
        : file(path)
    {
    }

    ~State()
    {
        avfilter_graph_free(&mapGraph);
        av_frame_free(&palette);
        av_frame_free(&mapped);
        av_packet_free(&packet);
        avcodec_free_context(&encoder);
        if (format)
            avformat_free_context(format);
        if (io) {
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
        // An uncommitted QSaveFile throws its temporary file away.
    }

    // Encodes `frame` (null: flush) and writes every packet the encoder gives back.
    bool encode(const AVFrame* frame, QString* error)
    {
        int result = avcodec_send_frame(encoder, frame);
        if (result < 0)
            return fail(error, QStringLiteral("cannot encode a GIF frame: ") + averror(result));
        for (;;) {
            result = avcodec_receive_packet(encoder, packet);
            if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
                return true;
            if (result < 0)
                return fail(error, QStringLiteral("cannot encode a GIF frame: ") + averror(result));
            // One packet per frame, in order: the muxer takes each frame's delay from these.
            packet->stream_index = stream->index;
            packet->pts = packet->dts = nextPacketPts;
            packet->duration = options.delayCentiseconds;
            nextPacketPts += options.delayCentiseconds;
            av_packet_rescale_ts(packet, kTimeBase, stream->time_base);
            result = av_write_frame(format, packet);
            av_packet_unref(packet);
            if (result < 0)
                return fail(error, QStringLiteral("cannot write the GIF file: ") + averror(result));
            ++framesWritten;
        }
    }

    // Takes every frame the palette mapping has ready and encodes it.
    bool drainMapping(QString* error)
    {
        for (;;) {
            const int result = av_buffersink_get_frame(mapSink, mapped);
            if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
                return true;
            if (result < 0)
                return fail(error, QStringLiteral("cannot map a frame onto the palette: ") + averror(result));
            const bool encoded = encode(mapped, error);
            av_frame_unref(mapped);
            if (!encoded)
                return false;
        }
    }
};

GifWriter::GifWriter(std::unique_ptr<State> state)
    : d(std::move(state))
{
}

GifWriter::~GifWriter() = default;

int GifWriter::framesWritten() const
{
    return d->framesWritten;
}

std::unique_ptr<GifWriter> GifWriter::create(const QString& path, const Options& options, QString* error)
{
    const QSize size = options.size;
    if (size.width() <= 0 || size.height() <= 0 || size.width() > kMaxSide || size.height() > kMaxSide) {
        fail(error, QStringLiteral("a GIF cannot be %1 x %2 pixels").arg(size.width()).arg(size.height()));
        return nullptr;
    }
    if (options.delayCentiseconds < 0 || options.delayCentiseconds > 65535 || options.loopCount < 0
        || options.loopCount > 65535) {
        fail(error, QStringLiteral("the GIF's delay or loop count is out of range"));
        return nullptr;
    }
    // palettegen reports its colour count at the default level; keep warnings and errors.
    static const bool quiet = [] {
        if (av_log_get_level() == AV_LOG_INFO)
            av_log_set_level(AV_LOG_WARNING);
        return true;
    }();
    (void)quiet;
    auto state = std::make_unique<State>(path);
    state->options = options;
    if (!state->file.open(QIODevice::WriteOnly)) {
        fail(error, QStringLiteral("cannot create %1: %2").arg(path, state->file.errorString()));
        return nullptr;
    }

    int result = avformat_alloc_output_context2(&state->format, nullptr, "gif", nullptr);
    if (result < 0 || !state->format) {
        fail(error, QStringLiteral("no GIF muxer: ") + averror(result));
        return nullptr;
    }
    auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferSize));
    state->io = buffer ? avio_alloc_context(buffer, kIoBufferSize, 1, &state->file, nullptr, writeToFile, seekInFile) : nullptr;
    if (!state->io) {
        av_free(buffer);
        fail(error, QStringLiteral("out of memory"));
        return nullptr;
    }
    state->format->pb = state->io;
    state->format->flags |= AVFMT_FLAG_CUSTOM_IO;

    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_GIF);
    state->encoder = codec ? avcodec_alloc_context3(codec) : nullptr;
    state->packet = av_packet_alloc();
    state->mapped = av_frame_alloc();
    if (!state->encoder || !state->packet || !state->mapped) {
        fail(error, codec ? QStringLiteral("out of memory") : QStringLiteral("no GIF encoder"));
        return nullptr;
    }
    state->encoder->width = size.width();
    state->encoder->height = size.height();
    state->encoder->pix_fmt = AV_PIX_FMT_PAL8;
    state->encoder->time_base = kTimeBase;
    if (state->format->oformat->flags & AVFMT_GLOBALHEADER)
        state->encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    result = avcodec_open2(state->encoder, codec, nullptr);
    if (result < 0) {
        fail(error, QStringLiteral("cannot open the GIF encoder: ") + averror(result));
        return nullptr;
    }
    state->stream = avformat_new_stream(state->format, nullptr);
    if (!state->stream) {
        fail(error, QStringLiteral("out of memory"));
        return nullptr;
    }
    state->stream->time_base = kTimeBase;
    avcodec_parameters_from_context(state->stream->codecpar, state->encoder);

    AVDictionary* muxerOptions = nullptr;
    av_dict_set_int(&muxerOptions, "loop", options.loopCount, 0);
    // The last frame keeps the same delay as the others (also the only one of a one-frame GIF).
    av_dict_set_int(&muxerOptions, "final_delay", options.delayCentiseconds, 0);
    result = avformat_write_header(state->format, &muxerOptions);
    av_dict_free(&muxerOptions);
    if (result < 0) {
        fail(error, QStringLiteral("cannot start the GIF file: ") + averror(result));
        return nullptr;
    }
    return std::unique_ptr<GifWriter>(new GifWriter(std::move(state)));
}

bool GifWriter::preparePalette(const QList<QImage>& frames, QString* error)
{
    State& s = *d;
    if (s.done || s.mapGraph)
        return fail(error, QStringLiteral("the palette is already set"));
    if (frames.isEmpty())
        return fail(error, QStringLiteral("no frames for the palette"));

    // Pass one: a histogram of every frame, reduced to 255 colours and one transparent entry (which
    // the encoder uses for pixels that stay as they were in the previous frame).
    AVFilterGraph* graph = avfilter_graph_alloc();
    AVFilterContext* source = nullptr;
    AVFilterContext* generator = nullptr;
    AVFilterContext* sink = nullptr;
    auto freeGraph = qScopeGuard([&] { avfilter_graph_free(&graph); });
    if (!graph)
        return fail(error, QStringLiteral("out of memory"));
    int result = avfilter_graph_create_filter(&source, avfilter_get_by_name("buffer"), "frames",
                                              bufferArguments(s.options.size, AV_PIX_FMT_RGB32).constData(), nullptr, graph);
    if (result >= 0)
        result = avfilter_graph_create_filter(&generator, avfilter_get_by_name("palettegen"), "palettegen",
                                              "max_colors=256:reserve_transparent=1:stats_mode=full", nullptr, graph);
    if (result >= 0)
        result = avfilter_graph_create_filter(&sink, avfilter_get_by_name("buffersink"), "palette", nullptr, nullptr, graph);
    if (result >= 0)
        result = avfilter_link(source, 0, generator, 0);
    if (result >= 0)
        result = avfilter_link(generator, 0, sink, 0);
    if (result >= 0)
        result = avfilter_graph_config(graph, nullptr);
    if (result < 0)
        return fail(error, QStringLiteral("cannot set up the palette: ") + averror(result));

    int64_t pts = 0;
    for (const QImage& image : frames) {
        const QImage pixels = prepared(image, s.options.size);
        BorrowedFrame frame(pixels, pts++);
        if (!frame.frame)
            return fail(error, QStringLiteral("out of memory"));
        result = av_buffersrc_write_frame(source, frame.frame);
        if (result < 0)
            return fail(error, QStringLiteral("cannot read a frame for the palette: ") + averror(result));
    }
    result = av_buffersrc_add_frame(source, nullptr);
    s.palette = av_frame_alloc();
    if (result >= 0 && s.palette)
        result = av_buffersink_get_frame(sink, s.palette);
    if (result < 0 || !s.palette)
        return fail(error, QStringLiteral("cannot compute the palette: ") + averror(result));

    // Pass two, set up here and fed by addFrame: each frame mapped onto that one palette.
    s.mapGraph = avfilter_graph_alloc();
    AVFilterContext* paletteSource = nullptr;
    AVFilterContext* mapper = nullptr;
    if (!s.mapGraph)
        return fail(error, QStringLiteral("out of memory"));
    result = avfilter_graph_create_filter(&s.mapSource, avfilter_get_by_name("buffer"), "frames",
                                          bufferArguments(s.options.size, AV_PIX_FMT_RGB32).constData(), nullptr, s.mapGraph);
    if (result >= 0)
        result = avfilter_graph_create_filter(&paletteSource, avfilter_get_by_name("buffer"), "palette",
                                              bufferArguments(QSize(s.palette->width, s.palette->height), s.palette->format).constData(),
                                              nullptr, s.mapGraph);
    if (result >= 0)
        result = avfilter_graph_create_filter(&mapper, avfilter_get_by_name("paletteuse"), "paletteuse",
                                              "dither=sierra2_4a", nullptr, s.mapGraph);
    if (result >= 0)
        result = avfilter_graph_create_filter(&s.mapSink, avfilter_get_by_name("buffersink"), "mapped", nullptr, nullptr,
                                              s.mapGraph);
    if (result >= 0)
        result = avfilter_link(s.mapSource, 0, mapper, 0);
    if (result >= 0)
        result = avfilter_link(paletteSource, 0, mapper, 1);
    if (result >= 0)
        result = avfilter_link(mapper, 0, s.mapSink, 0);
    if (result >= 0)
        result = avfilter_graph_config(s.mapGraph, nullptr);
    // The palette input ends after its one frame; paletteuse keeps using it for every frame.
    s.palette->pts = 0;
    if (result >= 0)
        result = av_buffersrc_write_frame(paletteSource, s.palette);
    if (result >= 0)
        result = av_buffersrc_add_frame(paletteSource, nullptr);
    if (result < 0) {
        avfilter_graph_free(&s.mapGraph);
        return fail(error, QStringLiteral("cannot set up the palette mapping: ") + averror(result));
    }
    return true;
}

bool GifWriter::addFrame(const QImage& image, QString* error)
{
    State& s = *d;
    if (s.done)
        return fail(error, QStringLiteral("the GIF is already finished"));
    if (!s.mapGraph)
        return fail(error, QStringLiteral("the palette is not set"));
    if (image.isNull())
        return fail(error, QStringLiteral("an empty frame"));
    const QImage pixels = prepared(image, s.options.size);
    BorrowedFrame frame(pixels, s.nextInputPts);
    if (!frame.frame)
        return fail(error, QStringLiteral("out of memory"));
    s.nextInputPts += std::max(1, s.options.delayCentiseconds);
    const int result = av_buffersrc_write_frame(s.mapSource, frame.frame);
    if (result < 0)
        return fail(error, QStringLiteral("cannot map a frame onto the palette: ") + averror(result));
    return s.drainMapping(error);
}

bool GifWriter::finish(QString* error)
{
    State& s = *d;
    if (s.done)
        return fail(error, QStringLiteral("the GIF is already finished"));
    s.done = true;
    if (!s.mapGraph)
        return fail(error, QStringLiteral("the palette is not set"));
    int result = av_buffersrc_add_frame(s.mapSource, nullptr);
    if (result < 0)
        return fail(error, QStringLiteral("cannot end the frames: ") + averror(result));
    if (!s.drainMapping(error) || !s.encode(nullptr, error))
        return false;
    if (s.framesWritten == 0)
        return fail(error, QStringLiteral("the GIF has no frames"));
    result = av_write_trailer(s.format);
    if (result < 0)
        return fail(error, QStringLiteral("cannot end the GIF file: ") + averror(result));
    avio_flush(s.io);
    if (s.io->error < 0)
        return fail(error, QStringLiteral("cannot write the GIF file: ") + averror(s.io->error));
    if (!s.file.commit())
        return fail(error, QStringLiteral("cannot write the GIF file: ") + s.file.errorString());
    return true;
}

} // namespace platform
