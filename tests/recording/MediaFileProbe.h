#pragma once

// Reading back MP4 and GIF files with the real ffprobe and ffmpeg programs, for the writer, recorder
// and converter tests.

#include <QByteArray>
#include <QColor>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

namespace media {

struct Output {
    bool ok = false;
    QByteArray out;
    QByteArray err;
};

inline Output runTool(const QString& program, const QStringList& arguments, int timeoutMs = 60000)
{
    QProcess process;
    process.start(program, arguments);
    Output result;
    if (!process.waitForStarted(5000))
        return result;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(2000);
        return result;
    }
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    result.ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return result;
}

inline QJsonObject probe(const QString& path, const QStringList& extra = {})
{
    QStringList arguments{"-v", "error", "-print_format", "json", "-show_streams", "-show_format"};
    arguments << extra << path;
    const Output output = runTool("/usr/bin/ffprobe", arguments);
    return output.ok ? QJsonDocument::fromJson(output.out).object() : QJsonObject();
}

inline QJsonObject stream(const QJsonObject& probed, const QString& type)
{
    for (const QJsonValue& s : probed.value("streams").toArray())
        if (s.toObject().value("codec_type").toString() == type)
            return s.toObject();
    return {};
}

inline int streamCount(const QJsonObject& probed, const QString& type)
{
    int n = 0;
    for (const QJsonValue& s : probed.value("streams").toArray())
        n += s.toObject().value("codec_type").toString() == type;
    return n;
}

inline double number(const QJsonObject& object, const QString& key)
{
    return object.value(key).toString().toDouble();
}

struct VideoFrameInfo {
    double time = 0;
    bool key = false;
};

// Every video frame in presentation order.
inline std::vector<VideoFrameInfo> videoFrames(const QString& path)
{
    const Output output = runTool("/usr/bin/ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                                       "frame=key_frame,pts_time,best_effort_timestamp_time", "-of",
                                                       "json", path});
    std::vector<VideoFrameInfo> frames;
    for (const QJsonValue& v : QJsonDocument::fromJson(output.out).object().value("frames").toArray()) {
        const QJsonObject f = v.toObject();
        QString t = f.value("pts_time").toString();
        if (t.isEmpty())
            t = f.value("best_effort_timestamp_time").toString();
        frames.push_back({t.toDouble(), f.value("key_frame").toInt() == 1});
    }
    return frames;
}

// All frames decoded to RGB as a player would show them (BT.709, limited range), optionally scaled.
inline std::vector<QImage> decodeFrames(const QString& path, const QSize& size)
{
    const QString filter = QStringLiteral("scale=%1:%2:in_color_matrix=bt709:in_range=tv:out_range=pc,format=rgb24")
                               .arg(size.width())
                               .arg(size.height());
    const Output output =
        runTool("/usr/bin/ffmpeg", {"-v", "error", "-i", path, "-map", "0:v:0", "-vf", filter, "-fps_mode", "passthrough",
                                    "-f", "rawvideo", "pipe:1"});
    std::vector<QImage> frames;
    const qsizetype frameBytes = qsizetype(size.width()) * size.height() * 3;
    if (!output.ok || frameBytes <= 0)
        return frames;
    for (qsizetype at = 0; at + frameBytes <= output.out.size(); at += frameBytes) {
        QImage image(reinterpret_cast<const uchar*>(output.out.constData() + at), size.width(), size.height(),
                     size.width() * 3, QImage::Format_RGB888);
        frames.push_back(image.copy());
    }
    return frames;
}

// Every frame of a GIF as RGB, at its own size.
inline std::vector<QImage> decodeGIF(const QString& path, const QSize& size)
{
    const Output output = runTool("/usr/bin/ffmpeg", {"-v", "error", "-i", path, "-vf", "format=rgb24", "-fps_mode",
                                                      "passthrough", "-f", "rawvideo", "pipe:1"});
    std::vector<QImage> frames;
    const qsizetype frameBytes = qsizetype(size.width()) * size.height() * 3;
    for (qsizetype at = 0; output.ok && frameBytes > 0 && at + frameBytes <= output.out.size(); at += frameBytes)
        frames.push_back(QImage(reinterpret_cast<const uchar*>(output.out.constData() + at), size.width(), size.height(),
                                size.width() * 3, QImage::Format_RGB888)
                             .copy());
    return frames;
}

// The loop count of a GIF's NETSCAPE2.0 application block; -1 when it has none (plays once), -2
// when the file cannot be read.
inline int gifLoopCount(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -2;
    const QByteArray bytes = file.readAll();
    const qsizetype at = bytes.indexOf("NETSCAPE2.0");
    if (at < 0 || at + 16 > bytes.size())
        return -1;
    // 11 bytes of name, then sub-block size 3, id 1 and the little-endian count.
    return uchar(bytes[at + 13]) | (uchar(bytes[at + 14]) << 8);
}

// The first audio track as mono float samples at `rate`, from the track's first sample on.
inline std::vector<float> decodeAudio(const QString& path, int rate = 44100)
{
    const Output output = runTool("/usr/bin/ffmpeg", {"-v", "error", "-i", path, "-map", "0:a:0", "-ac", "1", "-ar",
                                                      QString::number(rate), "-f", "f32le", "pipe:1"});
    std::vector<float> samples(static_cast<size_t>(output.out.size()) / sizeof(float));
    if (!samples.empty())
        std::memcpy(samples.data(), output.out.constData(), samples.size() * sizeof(float));
    return samples;
}

// The frequency (on a 5 Hz grid between 100 and 2000 Hz) that carries the most energy.
inline double dominantFrequency(const std::vector<float>& samples, int rate)
{
    double best = 0;
    double bestPower = -1;
    for (double f = 100; f <= 2000; f += 5) {
        const double w = 2 * std::numbers::pi * f / rate;
        const double c = 2 * std::cos(w);
        double s1 = 0, s2 = 0;
        for (float x : samples) {
            const double s0 = x + c * s1 - s2;
            s2 = s1;
            s1 = s0;
        }
        const double power = s1 * s1 + s2 * s2 - c * s1 * s2;
        if (power > bestPower) {
            bestPower = power;
            best = f;
        }
    }
    return best;
}

// The order of the file's top-level boxes ("ftyp", "moov", "mdat", ...).
inline QStringList topLevelBoxes(const QString& path)
{
    QFile file(path);
    QStringList boxes;
    if (!file.open(QIODevice::ReadOnly))
        return boxes;
    qint64 at = 0;
    const qint64 end = file.size();
    while (at + 8 <= end) {
        file.seek(at);
        const QByteArray header = file.read(16);
        if (header.size() < 8)
            break;
        quint64 size = (quint64(uchar(header[0])) << 24) | (quint64(uchar(header[1])) << 16) | (quint64(uchar(header[2])) << 8)
            | quint64(uchar(header[3]));
        if (size == 1 && header.size() >= 16) {
            size = 0;
            for (int i = 8; i < 16; ++i)
                size = (size << 8) | uchar(header[i]);
        } else if (size == 0) {
            size = quint64(end - at);
        }
        boxes << QString::fromLatin1(header.mid(4, 4));
        if (size < 8)
            break;
        at += qint64(size);
    }
    return boxes;
}

inline int colourDistance(QRgb a, QRgb b)
{
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
}

} // namespace media
