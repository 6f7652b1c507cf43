#include "platform/GifWriter.h"

#include <QSaveFile>
#include <QScopeGuard>
#include <QThread>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {
namespace {

// Time stamps in the GIF's own unit, 1/100 s: the delays come out exact.
constexpr AVRational kTimeBase{1, 100};
constexpr int kIoBufferSize = 64 * 1024;
// The GIF format stores widths and heights in 16 bits.
constexpr int kMaxSide = 65535;
// Mapping threads: paletteuse with sierra2_4a costs about as much per frame as everything else
// together, so it gets the most threads; but each graph holds about 17 MB of look-up tables, and
// past four the encoder, which takes the frames in order on one thread, is the limit anyway.
constexpr int kMaxMappers = 4;
// Frames handed over but not yet taken by a mapping thread, per thread: enough that none waits
// for work, few enough that frames do not pile up in memory ahead of the encoder.
constexpr int kQueuedPerMapper = 2;

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

// One mapping thread's own filter graph: frames in, each mapped onto the shared palette.
struct Mapper {
    AVFilterGraph* graph = nullptr;
    AVFilterContext* source = nullptr;
    AVFilterContext* sink = nullptr;
    ~Mapper() { avfilter_graph_free(&graph); }
};

// A mapped frame waiting for the encoder, or why its mapping failed.
struct Mapped {
    AVFrame* frame = nullptr;
    QString error;
};

struct GifWriter::State {
    Options options;
    QSaveFile file;
    AVFormatContext* format = nullptr;
    AVIOContext* io = nullptr;
    AVCodecContext* encoder = nullptr;
    AVStream* stream = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* palette = nullptr;
    int64_t nextPacketPts = 0;
    int framesWritten = 0;
    bool done = false;

    // Pass one, on the palette thread: palettegen, fed from `paletteQueue`.
    AVFilterGraph* paletteGraph = nullptr;
    AVFilterContext* paletteSource = nullptr;
    AVFilterContext* paletteSink = nullptr;
    std::thread paletteThread;
    std::mutex paletteMutex;
    std::condition_variable paletteWake;
    std::deque<QImage> paletteQueue;
    bool paletteEnded = false;   // no more frames come; the thread ends once the queue is empty
    bool paletteStopping = false; // the writer goes: the thread ends at once
    QString paletteError;        // the palette thread's first failure

    // Pass two, on the mapping threads: each frame of `jobs` mapped by one of `mappers`, the
    // result filed under the frame's number in `results` for the encoder.
    std::vector<std::unique_ptr<Mapper>> mappers;
    std::vector<std::thread> mappingThreads;
    std::mutex mapMutex;
    std::condition_variable jobQueued;   // a job, the end or the stop
    std::condition_variable jobTaken;    // room in the queue
    std::condition_variable resultReady; // a result
    std::deque<std::pair<int64_t, QImage>> jobs;
    std::map<int64_t, Mapped> results;
    bool mappingEnded = false;
    bool mappingStopping = false;
    int mappersRunning = 0;
    int64_t framesAdded = 0;
    int64_t nextToEncode = 0;
    bool mappingReady = false;

    explicit State(const QString& path)
        : file(path)
    {
    }

    ~State()
    {
        stopThreads();
        for (auto& [index, mapped] : results)
            av_frame_free(&mapped.frame);
        mappers.clear();
        avfilter_graph_free(&paletteGraph);
        av_frame_free(&palette);
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

    void stopThreads()
    {
        {
            std::lock_guard lock(paletteMutex);
            paletteStopping = true;
        }
        paletteWake.notify_all();
        if (paletteThread.joinable())
            paletteThread.join();
        {
            std::lock_guard lock(mapMutex);
            mappingStopping = true;
        }
        jobQueued.notify_all();
        for (std::thread& thread : mappingThreads)
            if (thread.joinable())
                thread.join();
        mappingThreads.clear();
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

    // Palette thread: counts each queued frame until the queue ends.
    void countPalette()
    {
        int64_t pts = 0;
        for (;;) {
            QImage image;
            {
                std::unique_lock lock(paletteMutex);
                paletteWake.wait(lock, [&] { return paletteStopping || paletteEnded || !paletteQueue.empty(); });
                if (paletteStopping || (paletteQueue.empty() && paletteEnded))
                    return;
                image = std::move(paletteQueue.front());
                paletteQueue.pop_front();
            }
            const QImage pixels = prepared(image, options.size);
            image = QImage();
            BorrowedFrame frame(pixels, pts++);
            // Pushed through palettegen at once: a frame only queued at its input would wait there,
            // copied, until the palette is asked for, and every frame would be held twice.
            const int result = frame.frame ? av_buffersrc_add_frame_flags(paletteSource, frame.frame,
                                                                          AV_BUFFERSRC_FLAG_KEEP_REF | AV_BUFFERSRC_FLAG_PUSH)
                                           : AVERROR(ENOMEM);
            if (result < 0) {
                std::lock_guard lock(paletteMutex);
                paletteError = QStringLiteral("cannot read a frame for the palette: ") + averror(result);
                paletteQueue.clear();
                return;
            }
        }
    }

    // Mapping thread: maps jobs with `mapper` until the jobs end, then gives back what its
    // graph still holds.
    void mapFrames(Mapper& mapper)
    {
        AVFrame* out = nullptr;
        const auto drain = [&]() -> bool {
            for (;;) {
                if (!out)
                    out = av_frame_alloc();
                const int result = out ? av_buffersink_get_frame(mapper.sink, out) : AVERROR(ENOMEM);
                if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
                    return true;
                if (result < 0)
                    return false;
                const int64_t index = out->pts;
                {
                    std::lock_guard lock(mapMutex);
                    results[index].frame = out;
                }
                out = nullptr;
                resultReady.notify_all();
            }
        };
        for (;;) {
            std::pair<int64_t, QImage> job;
            {
                std::unique_lock lock(mapMutex);
                jobQueued.wait(lock, [&] { return mappingStopping || mappingEnded || !jobs.empty(); });
                if (mappingStopping)
                    break;
                if (jobs.empty()) {
                    lock.unlock();
                    const int result = av_buffersrc_add_frame(mapper.source, nullptr);
                    if (result < 0 || !drain())
                        fileFailure(-1, QStringLiteral("cannot end the frames: ") + averror(result));
                    break;
                }
                job = std::move(jobs.front());
                jobs.pop_front();
            }
            jobTaken.notify_one();
            const QImage pixels = prepared(job.second, options.size);
            job.second = QImage();
            BorrowedFrame frame(pixels, job.first);
            const int result = frame.frame ? av_buffersrc_write_frame(mapper.source, frame.frame) : AVERROR(ENOMEM);
            if (result < 0 || !drain()) {
                fileFailure(job.first, QStringLiteral("cannot map a frame onto the palette: ") + averror(result));
                break;
            }
        }
        av_frame_free(&out);
        {
            std::lock_guard lock(mapMutex);
            --mappersRunning;
        }
        resultReady.notify_all();
        jobTaken.notify_all();
    }

    // A mapping failure, filed where the encoder meets it first.
    void fileFailure(int64_t index, const QString& text)
    {
        {
            std::lock_guard lock(mapMutex);
            Mapped& mapped = results[index < 0 ? nextToEncode : index];
            if (mapped.error.isEmpty())
                mapped.error = text;
        }
        resultReady.notify_all();
    }

    // Encodes the mapped frames that are next in order; with `all`, waits for every frame added.
    bool encodeReady(bool all, QString* error)
    {
        for (;;) {
            Mapped mapped;
            {
                std::unique_lock lock(mapMutex);
                const auto ready = [&] {
                    const auto next = results.find(nextToEncode);
                    return next != results.end() && (next->second.frame || !next->second.error.isEmpty());
                };
                if (all) {
                    if (nextToEncode >= framesAdded)
                        return true;
                    resultReady.wait(lock, [&] { return ready() || mappersRunning == 0; });
                }
                if (!ready()) {
                    if (all)
                        return fail(error, QStringLiteral("cannot map a frame onto the palette"));
                    return true;
                }
                const auto next = results.find(nextToEncode);
                mapped = std::move(next->second);
                results.erase(next);
                ++nextToEncode;
            }
            if (!mapped.frame)
                return fail(error, mapped.error);
            const bool encoded = encode(mapped.frame, error);
            av_frame_free(&mapped.frame);
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
    // Unbuffered (FFmpeg buffers already): a buffered write that the disk takes only in part is
    // flushed as a success, and commit() would put a shortened GIF at the path.
    if (!state->file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
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
    if (!state->encoder || !state->packet) {
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
    if (d->done || d->mappingReady || d->paletteGraph)
        return fail(error, QStringLiteral("the palette is already set"));
    if (frames.isEmpty())
        return fail(error, QStringLiteral("no frames for the palette"));
    for (const QImage& frame : frames)
        if (!addToPalette(frame, error))
            return false;
    return preparePalette(error);
}

bool GifWriter::addToPalette(const QImage& frame, QString* error)
{
    State& s = *d;
    if (s.done || s.mappingReady)
        return fail(error, QStringLiteral("the palette is already set"));
    if (frame.isNull())
        return fail(error, QStringLiteral("an empty frame"));
    if (!s.paletteGraph) {
        // A histogram of every frame, reduced to 255 colours and one transparent entry (which the
        // encoder uses for pixels that stay as they were in the previous frame).
        s.paletteGraph = avfilter_graph_alloc();
        AVFilterContext* generator = nullptr;
        if (!s.paletteGraph)
            return fail(error, QStringLiteral("out of memory"));
        int result = avfilter_graph_create_filter(&s.paletteSource, avfilter_get_by_name("buffer"), "frames",
                                                  bufferArguments(s.options.size, AV_PIX_FMT_RGB32).constData(), nullptr,
                                                  s.paletteGraph);
        if (result >= 0)
            result = avfilter_graph_create_filter(&generator, avfilter_get_by_name("palettegen"), "palettegen",
                                                  "max_colors=256:reserve_transparent=1:stats_mode=full", nullptr, s.paletteGraph);
        if (result >= 0)
            result = avfilter_graph_create_filter(&s.paletteSink, avfilter_get_by_name("buffersink"), "palette", nullptr, nullptr,
                                                  s.paletteGraph);
        if (result >= 0)
            result = avfilter_link(s.paletteSource, 0, generator, 0);
        if (result >= 0)
            result = avfilter_link(generator, 0, s.paletteSink, 0);
        if (result >= 0)
            result = avfilter_graph_config(s.paletteGraph, nullptr);
        if (result < 0) {
            avfilter_graph_free(&s.paletteGraph);
            return fail(error, QStringLiteral("cannot set up the palette: ") + averror(result));
        }
        s.paletteThread = std::thread([&s] { s.countPalette(); });
    }
    {
        std::lock_guard lock(s.paletteMutex);
        if (!s.paletteError.isEmpty())
            return fail(error, s.paletteError);
        s.paletteQueue.push_back(frame);
    }
    s.paletteWake.notify_one();
    return true;
}

bool GifWriter::preparePalette(QString* error)
{
    State& s = *d;
    if (s.done || s.mappingReady)
        return fail(error, QStringLiteral("the palette is already set"));
    if (!s.paletteGraph)
        return fail(error, QStringLiteral("no frames for the palette"));
    {
        std::lock_guard lock(s.paletteMutex);
        s.paletteEnded = true;
    }
    s.paletteWake.notify_all();
    s.paletteThread.join();
    // The thread is done with the graph: it is this thread's again.
    if (!s.paletteError.isEmpty())
        return fail(error, s.paletteError);
    int result = av_buffersrc_add_frame(s.paletteSource, nullptr);
    s.palette = av_frame_alloc();
    if (result >= 0 && s.palette)
        result = av_buffersink_get_frame(s.paletteSink, s.palette);
    if (result < 0 || !s.palette)
        return fail(error, QStringLiteral("cannot compute the palette: ") + averror(result));
    avfilter_graph_free(&s.paletteGraph);

    // Pass two: one graph per mapping thread, each mapping its frames onto that one palette.
    const int threads = std::clamp(QThread::idealThreadCount(), 1, kMaxMappers);
    s.palette->pts = 0;
    for (int i = 0; i < threads; ++i) {
        auto mapper = std::make_unique<Mapper>();
        mapper->graph = avfilter_graph_alloc();
        AVFilterContext* paletteSource = nullptr;
        AVFilterContext* paletteUse = nullptr;
        if (!mapper->graph)
            return fail(error, QStringLiteral("out of memory"));
        result = avfilter_graph_create_filter(&mapper->source, avfilter_get_by_name("buffer"), "frames",
                                              bufferArguments(s.options.size, AV_PIX_FMT_RGB32).constData(), nullptr,
                                              mapper->graph);
        if (result >= 0)
            result = avfilter_graph_create_filter(&paletteSource, avfilter_get_by_name("buffer"), "palette",
                                                  bufferArguments(QSize(s.palette->width, s.palette->height), s.palette->format)
                                                      .constData(),
                                                  nullptr, mapper->graph);
        if (result >= 0)
            result = avfilter_graph_create_filter(&paletteUse, avfilter_get_by_name("paletteuse"), "paletteuse",
                                                  "dither=sierra2_4a", nullptr, mapper->graph);
        if (result >= 0)
            result = avfilter_graph_create_filter(&mapper->sink, avfilter_get_by_name("buffersink"), "mapped", nullptr, nullptr,
                                                  mapper->graph);
        if (result >= 0)
            result = avfilter_link(mapper->source, 0, paletteUse, 0);
        if (result >= 0)
            result = avfilter_link(paletteSource, 0, paletteUse, 1);
        if (result >= 0)
            result = avfilter_link(paletteUse, 0, mapper->sink, 0);
        if (result >= 0)
            result = avfilter_graph_config(mapper->graph, nullptr);
        // The palette input ends after its one frame; paletteuse keeps using it for every frame.
        if (result >= 0)
            result = av_buffersrc_write_frame(paletteSource, s.palette);
        if (result >= 0)
            result = av_buffersrc_add_frame(paletteSource, nullptr);
        if (result < 0) {
            s.mappers.clear();
            return fail(error, QStringLiteral("cannot set up the palette mapping: ") + averror(result));
        }
        s.mappers.push_back(std::move(mapper));
    }
    s.mappersRunning = threads;
    for (auto& mapper : s.mappers)
        s.mappingThreads.emplace_back([&s, m = mapper.get()] { s.mapFrames(*m); });
    s.mappingReady = true;
    return true;
}

bool GifWriter::addFrame(const QImage& image, QString* error)
{
    State& s = *d;
    if (s.done)
        return fail(error, QStringLiteral("the GIF is already finished"));
    if (!s.mappingReady)
        return fail(error, QStringLiteral("the palette is not set"));
    if (image.isNull())
        return fail(error, QStringLiteral("an empty frame"));
    {
        std::unique_lock lock(s.mapMutex);
        const size_t room = s.mappers.size() * kQueuedPerMapper;
        s.jobTaken.wait(lock, [&] { return s.jobs.size() < room || s.mappersRunning == 0; });
        if (s.mappersRunning == 0) {
            lock.unlock();
            s.done = true;
            return s.encodeReady(true, error) ? fail(error, QStringLiteral("cannot map a frame onto the palette")) : false;
        }
        s.jobs.emplace_back(s.framesAdded++, image);
    }
    s.jobQueued.notify_one();
    if (!s.encodeReady(false, error)) {
        s.done = true;
        return false;
    }
    return true;
}

bool GifWriter::finish(QString* error)
{
    State& s = *d;
    if (s.done)
        return fail(error, QStringLiteral("the GIF is already finished"));
    s.done = true;
    if (!s.mappingReady)
        return fail(error, QStringLiteral("the palette is not set"));
    {
        std::lock_guard lock(s.mapMutex);
        s.mappingEnded = true;
    }
    s.jobQueued.notify_all();
    if (!s.encodeReady(true, error) || !s.encode(nullptr, error))
        return false;
    if (s.framesWritten == 0)
        return fail(error, QStringLiteral("the GIF has no frames"));
    int result = av_write_trailer(s.format);
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
