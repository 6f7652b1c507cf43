// GIF export against the ffmpeg program doing the same job, side by side in one run.
//
// Two inputs made with ffmpeg, shaped like our recordings (H.264 High, yuv420p, BT.709, 30 fps):
// 30 s at 1280x720 and 5 s at 1920x1080. Each is converted by GIFConverter (the preview's
// settings: 10 frames a second, at most 800 x 800, looping for ever) and by
// `ffmpeg -vf fps=10,scale=W:H,split,palettegen=stats_mode=full,paletteuse=dither=sierra2_4a`,
// which is the same frame rate, size, palette and dithering. Both run as child processes, one
// after the other, so each one's wall time, CPU and peak resident memory are its own. Every pair
// runs `rounds` times (first argument, default 3) and the medians are compared: other work on the
// machine moves single runs by more than the difference we look for.
//
// Target: our time at most 1.0x ffmpeg's, our file no larger, and our peak memory no more than
// the converter needed when it decoded, scaled, counted and mapped every frame on one thread:
// 968 MiB on the 720p input and 297 MiB on the 1080p one (this bench, December 2026; it then took
// 1.2x and 1.7x ffmpeg's time).

#include "video/GIFConverter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

namespace {

struct Run {
    bool ok = false;
    double seconds = 0;
    double cpuSeconds = 0;
    double peakMiB = 0;
    qint64 bytes = 0;
};

// Runs `arguments` to completion; its wall time, CPU and peak RSS, and the size of `output`.
// FFmpeg's warnings (palettegen reports colours it merged) go to `errorLog`, not the figures.
Run spawnAndMeasure(const std::vector<std::string>& arguments, const QString& output, const QString& errorLog = {})
{
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    Run run;
    QElapsedTimer wall;
    wall.start();
    pid_t pid = 0;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const QByteArray log = errorLog.toLocal8Bit();
    if (!log.isEmpty())
        posix_spawn_file_actions_addopen(&actions, 2, log.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return run;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        return run;
    run.seconds = wall.nsecsElapsed() / 1e9;
    run.cpuSeconds = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
    run.peakMiB = usage.ru_maxrss / 1024.0;
    run.bytes = QFileInfo(output).size();
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && run.bytes > 0;
    return run;
}

bool makeInput(const QString& path, const QSize& size, int seconds)
{
    const std::string source = QStringLiteral("testsrc2=s=%1x%2:r=30:d=%3").arg(size.width()).arg(size.height()).arg(seconds).toStdString();
    const Run made = spawnAndMeasure({"/usr/bin/ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", source, "-c:v", "libx264",
                                      "-profile:v", "high", "-preset", "veryfast", "-pix_fmt", "yuv420p", "-colorspace", "bt709",
                                      "-color_primaries", "bt709", "-color_trc", "bt709", "-movflags", "+faststart",
                                      path.toStdString()},
                                     path);
    return made.ok;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : (n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2);
}

struct Side {
    std::vector<double> seconds, cpu, peak;
    qint64 bytes = 0;
    int failures = 0;
    void add(const Run& run)
    {
        if (!run.ok) {
            ++failures;
            return;
        }
        seconds.push_back(run.seconds);
        cpu.push_back(run.cpuSeconds);
        peak.push_back(run.peakMiB);
        bytes = run.bytes;
    }
};

void printSide(const char* name, const Side& side)
{
    std::printf("  %-9s %7.2f s  (CPU %6.2f s)  %9lld bytes  peak RSS %7.1f MiB", name, median(side.seconds), median(side.cpu),
                static_cast<long long>(side.bytes), median(side.peak));
    if (side.failures)
        std::printf("  %d run(s) FAILED", side.failures);
    std::printf("\n");
}

void compare(const QString& self, const QString& folder, const char* label, const QString& input, const QSize& inputSize,
             int rounds)
{
    const QSize size = GIFConverter::fittedSize(inputSize, 800);
    const QString ours = folder + QStringLiteral("/ours.gif");
    const QString theirs = folder + QStringLiteral("/ffmpeg.gif");
    const std::string graph = QStringLiteral("fps=10,scale=%1:%2,split[a][b];[a]palettegen=max_colors=256:reserve_transparent=1:"
                                             "stats_mode=full[p];[b][p]paletteuse=dither=sierra2_4a")
                                  .arg(size.width())
                                  .arg(size.height())
                                  .toStdString();
    Side us, them;
    for (int round = 0; round < rounds; ++round) {
        const QString log = folder + QStringLiteral("/converter.log");
        const Run run = spawnAndMeasure({self.toStdString(), "--convert", input.toStdString(), ours.toStdString()}, ours, log);
        if (!run.ok) {
            QFile file(log);
            if (file.open(QIODevice::ReadOnly))
                std::printf("converter failed: %s\n", file.readAll().constData());
        }
        us.add(run);
        them.add(spawnAndMeasure({"/usr/bin/ffmpeg", "-v", "error", "-y", "-i", input.toStdString(), "-filter_complex", graph,
                                  "-loop", "0", theirs.toStdString()},
                                 theirs));
    }
    std::printf("%s -> %dx%d at 10 fps, median of %d\n", label, size.width(), size.height(), rounds);
    printSide("converter", us);
    printSide("ffmpeg", them);
    if (!us.seconds.empty() && !them.seconds.empty() && them.bytes > 0)
        std::printf("  ratios    time %.2fx  size %.2fx  peak RSS %.2fx\n", median(us.seconds) / median(them.seconds),
                    double(us.bytes) / double(them.bytes), median(us.peak) / median(them.peak));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 4 && QByteArray(argv[1]) == "--convert") {
        std::atomic<bool> cancelled{false};
        const auto result = GIFConverter::performConversion(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                                                            GIFConverter::ConversionSettings{10, 800, 0, 30}, cancelled, {});
        if (!result) {
            std::fprintf(stderr, "%s\n", qPrintable(result.error().errorDescription()));
            return 1;
        }
        return 0;
    }
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    QTemporaryDir folder;
    const QString hd = folder.path() + QStringLiteral("/720p-30s.mp4");
    const QString fullHd = folder.path() + QStringLiteral("/1080p-5s.mp4");
    std::printf("Making the inputs with ffmpeg (testsrc2, H.264 High, 30 fps)...\n");
    std::fflush(stdout);
    if (!makeInput(hd, QSize(1280, 720), 30) || !makeInput(fullHd, QSize(1920, 1080), 5)) {
        std::printf("could not make the inputs with /usr/bin/ffmpeg\n");
        return 1;
    }
    const QString self = QCoreApplication::applicationFilePath();
    compare(self, folder.path(), "1280x720 30 s", hd, QSize(1280, 720), rounds);
    compare(self, folder.path(), "1920x1080 5 s", fullHd, QSize(1920, 1080), rounds);
    return 0;
}
