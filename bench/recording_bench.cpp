// Records the whole animated 1920x1080 screen for 10 s with ScreenRecorder, then with
// `ffmpeg -f x11grab` (libx264 veryfast, same bit rate and key-frame interval) for comparison,
// and prints frames, CPU and memory of each. Run under scripts/headless (scripts/bench does).
//
// The animation runs in a child process, so the CPU figures are the recorders' own.

#include "recording/ScreenRecorder.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <functional>
#include <cstdio>
#include <optional>
#include <vector>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr double recordSeconds = 10.0;

// Full-screen content that changes every frame: bars moving over text and a running counter,
// repainted at 60 Hz.
class Animation : public QWidget {
public:
    Animation()
    {
        setWindowFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
        setGeometry(0, 0, 1920, 1080);
        connect(&m_timer, &QTimer::timeout, this, [this] { update(); });
        m_timer.start(16);
        m_clock.start();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const double t = m_clock.elapsed() / 1000.0;
        if (m_background.isNull()) {
            // A still desktop-like backdrop under moving content, as a screen usually is.
            m_background = QImage(size(), QImage::Format_RGB32);
            QPainter backdrop(&m_background);
            QLinearGradient gradient(QPointF(0, 0), QPointF(1920, 1080));
            gradient.setColorAt(0, QColor(40, 70, 120));
            gradient.setColorAt(1, QColor(120, 40, 90));
            backdrop.fillRect(m_background.rect(), gradient);
            backdrop.setPen(QColor(230, 230, 230));
            backdrop.setFont(QFont(QStringLiteral("DejaVu Sans"), 14));
            for (int y = 0; y < 1080; y += 24)
                backdrop.drawText(20, y + 18, QStringLiteral("The quick brown fox jumps over the lazy dog %1").arg(y));
        }
        painter.drawImage(0, 0, m_background);
        for (int i = 0; i < 12; ++i) {
            const int x = int(std::fmod(t * (80 + 25 * i), 1920.0));
            painter.fillRect(QRect(x, i * 90, 160, 60), QColor::fromHsv((i * 30) % 360, 200, 255));
        }
        painter.setPen(Qt::white);
        painter.setFont(QFont(QStringLiteral("DejaVu Sans"), 72));
        painter.drawText(QRect(0, 0, 1920, 1080), Qt::AlignCenter, QString::number(m_clock.elapsed()));
    }

private:
    QImage m_background;
    QTimer m_timer;
    QElapsedTimer m_clock;
};

double cpuSeconds(const rusage& usage)
{
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
}

double selfCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return cpuSeconds(usage);
}

double residentMiB()
{
    long pages = 0;
    long resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

int framesIn(const QString& path)
{
    QProcess probe;
    probe.start(QStringLiteral("/usr/bin/ffprobe"),
                {"-v", "error", "-select_streams", "v:0", "-count_packets", "-show_entries", "stream=nb_read_packets",
                 "-of", "json", path});
    probe.waitForFinished(60000);
    const QJsonArray streams = QJsonDocument::fromJson(probe.readAllStandardOutput()).object().value("streams").toArray();
    return streams.isEmpty() ? -1 : streams.first().toObject().value("nb_read_packets").toString().toInt();
}

// Runs the event loop without spinning: a busy loop here would be counted as the recorder's CPU.
void spin(double seconds)
{
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
}

void waitFor(const std::function<bool()>& condition)
{
    while (!condition())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void runOurs()
{
    ScreenRecorder recorder;
    std::optional<QString> file;
    bool answered = false;
    recorder.startRecording(QRectF(0, 0, 1920, 1080), {}, [](bool success, std::optional<platform::AppError> error) {
        if (!success)
            std::printf("start failed: %s\n", error ? qPrintable(error->localizedDescription) : "?");
    });
    waitFor([&] { return recorder.isRecording(); });

    QElapsedTimer wall;
    wall.start();
    const double cpuStart = selfCpuSeconds();
    std::vector<double> memory;
    for (int second = 1; second <= int(recordSeconds); ++second) {
        spin(1.0);
        memory.push_back(residentMiB());
    }
    const double recordedWall = wall.elapsed() / 1000.0;
    const double recordingCpu = selfCpuSeconds() - cpuStart;
    const int appended = recorder.frameCount();

    QElapsedTimer finishing;
    finishing.start();
    recorder.stopRecording([&](std::optional<QString> url, std::optional<platform::AppError> error) {
        answered = true;
        file = url;
        if (error)
            std::printf("stop failed: %s\n", qPrintable(error->localizedDescription));
    });
    waitFor([&] { return answered; });
    const double finishSeconds = finishing.elapsed() / 1000.0;
    const double totalCpu = selfCpuSeconds() - cpuStart;

    const double expected = recordedWall * 1000.0 / double(ScreenRecorder::framePeriod.count());
    const int written = file ? framesIn(*file) : -1;
    std::printf("ScreenRecorder  1920x1080, %.2f s recorded\n", recordedWall);
    std::printf("  frames          %d appended, %d in the file, %.0f expected (one per %lld ms): %.1f%%\n", appended,
                written, expected, static_cast<long long>(ScreenRecorder::framePeriod.count()),
                100.0 * written / expected);
    std::printf("  CPU             %.2f cores while recording (%.2f s of CPU), %.2f cores with the finish\n",
                recordingCpu / recordedWall, recordingCpu, totalCpu / (recordedWall + finishSeconds));
    std::printf("  finishing       %.2f s (flush and index to the front)\n", finishSeconds);
    const auto [low, high] = std::minmax_element(memory.begin(), memory.end());
    std::printf("  memory (RSS)    %.1f MiB after 1 s, %.1f MiB after %d s, range %.1f-%.1f MiB; per second:", memory.front(),
                memory.back(), int(memory.size()), *low, *high);
    for (double m : memory)
        std::printf(" %.0f", m);
    std::printf("\n");
    if (file)
        QFile::remove(*file);
}

void runFfmpeg(const QString& folder)
{
    const QByteArray output = (folder + QStringLiteral("/x11grab.mp4")).toLocal8Bit();
    const QByteArray display = qgetenv("DISPLAY") + "+0,0";
    const char* arguments[] = {"/usr/bin/ffmpeg", "-y", "-v", "error", "-f", "x11grab", "-framerate", "30",
                               "-video_size", "1920x1080", "-i", display.constData(), "-t", "10", "-c:v", "libx264",
                               "-preset", "veryfast", "-b:v", "5M", "-g", "30", "-pix_fmt", "yuv420p",
                               output.constData(), nullptr};
    QElapsedTimer wall;
    wall.start();
    pid_t pid = 0;
    if (posix_spawn(&pid, arguments[0], nullptr, nullptr, const_cast<char* const*>(arguments), environ) != 0) {
        std::printf("ffmpeg x11grab: could not start /usr/bin/ffmpeg\n");
        return;
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const double seconds = wall.elapsed() / 1000.0;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::printf("ffmpeg x11grab: failed (status %d)\n", status);
        return;
    }
    const double cpu = cpuSeconds(usage);
    std::printf("ffmpeg x11grab  libx264 veryfast 5 Mbit/s, %.2f s run\n", seconds);
    std::printf("  frames          %d in the file, 300 expected (30 fps)\n", framesIn(QString::fromLocal8Bit(output)));
    std::printf("  CPU             %.2f cores (%.2f s of CPU), peak RSS %.1f MiB\n", cpu / seconds, cpu,
                usage.ru_maxrss / 1024.0);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc > 1 && QByteArray(argv[1]) == "--animate") {
        Animation animation;
        animation.show();
        return app.exec();
    }

    QProcess animation;
    animation.setProcessChannelMode(QProcess::ForwardedChannels);
    animation.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--animate")});
    if (!animation.waitForStarted(5000)) {
        std::printf("could not start the animation\n");
        return 1;
    }
    spin(1.5);
    QTemporaryDir folder;
    std::printf("Recording a full 1920x1080 animated screen for %.0f s, one recorder after the other\n", recordSeconds);
    std::printf("(this process before recording: %.1f MiB resident)\n", residentMiB());
    std::fflush(stdout);
    runOurs();
    std::fflush(stdout);
    runFfmpeg(folder.path());
    animation.kill();
    animation.waitForFinished(5000);
    return 0;
}
