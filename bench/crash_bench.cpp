// How much of a recording a kill loses. The built program records the area of its development
// hook and gets SIGKILL after a time that changes from kill to kill (from under a second, fewer
// frames than a stopped recording needs, to a few seconds); then what it left is recovered as the
// next launch recovers it. Prints, for every kill, the time recorded before the kill (from the
// start of writing, as the program's log times it, to the kill) against the length of the
// recovered file as ffprobe reads it, and whether that file plays; then the mean and the worst
// loss against the target of half a second. Run under scripts/headless (scripts/bench does).

#include "../tests/shell/MicrophoneQuitCycle.h"

#include "recording/ScreenRecorder.h"

#include <QApplication>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

using namespace std::chrono_literals;

constexpr double target = 0.5; // seconds a kill may cost at the most

struct Kill {
    QString step;         // where the cycle stopped short, when it did
    double recorded = 0;  // seconds from the start of writing to the kill
    double recovered = 0; // the recovered file's length; 0 when nothing was kept
    int frames = 0;
    bool plays = false;
};

QString logOf(const QString& home)
{
    QFile log(home + QStringLiteral("/state/Kestrova/kestrova.log"));
    return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
}

// The time of the first log line that holds `text`.
QDateTime timeOf(const QString& log, const QString& text)
{
    for (const QString& line : log.split('\n'))
        if (line.contains(text))
            return QDateTime::fromString(line.mid(1, 23), QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    return {};
}

// The length ffprobe gives the file and the frames it decodes; `plays` when it reports no error.
void probe(const QString& path, Kill& kill)
{
    QProcess ffprobe;
    ffprobe.start(QStringLiteral("/usr/bin/ffprobe"),
                  {"-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                   "format=duration:stream=nb_read_frames", "-of", "json", path});
    if (!ffprobe.waitForFinished(60000))
        return;
    const QJsonObject json = QJsonDocument::fromJson(ffprobe.readAllStandardOutput()).object();
    const QJsonArray streams = json.value("streams").toArray();
    kill.recovered = json.value("format").toObject().value("duration").toString().toDouble();
    kill.frames = streams.isEmpty() ? 0 : streams.first().toObject().value("nb_read_frames").toString().toInt();
    kill.plays = ffprobe.exitCode() == 0 && ffprobe.readAllStandardError().isEmpty() && kill.frames > 0;
}

Kill killOnce(const QString& binary, double recordFor)
{
    Kill kill;
    QTemporaryDir home;
    QProcess process;
    process.setProcessEnvironment(micquit::hookSession(home.path()));
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(binary, {});
    const auto logHas = [&](const QString& text) { return logOf(home.path()).contains(text); };
    const auto stop = [&](const QString& step) {
        kill.step = step;
        process.kill();
        process.waitForFinished(5000);
        return kill;
    };
    // The hook selects the area, the setup panel takes the keyboard and Return starts.
    if (!micquit::waitUntil([&] { return logHas("RecordingSetupWindowController: window made key and front"); }, 15s))
        return stop("setup panel");
    if (!micquit::waitUntil(
            [] { return micquit::xdotool({"getwindowfocus", "getwindowgeometry"}).contains("Geometry: 320x48"); }, 5s))
        return stop("setup panel focus");
    micquit::xdotool({"key", "Return"});
    const QString started = "ScreenRecorder: setupAssetWriter completed - success: true";
    if (!micquit::waitUntil([&] { return logHas(started) && logHas("ScreenRecorder: FIRST frame captured"); }, 10s))
        return stop("recording");
    const QDateTime writing = timeOf(logOf(home.path()), started);
    micquit::waitUntil([&] { return writing.msecsTo(QDateTime::currentDateTime()) >= qint64(recordFor * 1000); }, 30s);
    ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
    kill.recorded = writing.msecsTo(QDateTime::currentDateTime()) / 1000.0;
    process.waitForFinished(5000);

    // What the next launch does with it.
    const QList<ScreenRecorder::FiledRecording> filed
        = ScreenRecorder::recoverUnfinishedRecordings(home.path() + "/Documents/ScreenRecordings");
    for (const ScreenRecorder::FiledRecording& f : filed)
        if (f.outcome == ScreenRecorder::FiledRecording::Outcome::Finished
            || f.outcome == ScreenRecorder::FiledRecording::Outcome::Fragmented)
            probe(f.path, kill);
    return kill;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const QString binary = QCoreApplication::applicationDirPath() + QStringLiteral("/../kestrova");
    // With a tray host the program opens no settings window over the recorded area.
    QProcess tray;
    tray.start(QStringLiteral("/usr/bin/trayer"), {"--edge", "top", "--align", "right", "--widthtype", "request", "--height", "24"});
    const int kills = argc > 1 ? std::max(1, atoi(argv[1])) : 8;
    double worst = 0, total = 0;
    int counted = 0, unplayable = 0, shortOnes = 0, shortKept = 0;
    for (int i = 0; i < kills; ++i) {
        // From 0.6 s to 4 s, in steps that fall at different points of the half-second fragments.
        const double recordFor = 0.6 + std::fmod(i * 0.77, 3.4);
        const Kill k = killOnce(binary, recordFor);
        if (!k.step.isEmpty()) {
            std::printf("kill %d: stopped short at %s\n", i + 1, qPrintable(k.step));
            continue;
        }
        const double lost = k.recorded - k.recovered;
        std::printf("kill %d: recorded %.3f s, recovered %.3f s (%d frames), lost %.3f s, %s\n", i + 1, k.recorded,
                    k.recovered, k.frames, lost, k.frames == 0 ? "nothing kept" : k.plays ? "plays" : "DOES NOT PLAY");
        std::fflush(stdout);
        ++counted;
        total += lost;
        worst = std::max(worst, lost);
        unplayable += k.frames > 0 && !k.plays;
        if (k.recorded < 1.0) {
            ++shortOnes;
            shortKept += k.plays;
        }
    }
    std::printf("loss at a kill over %d kills: mean %.3f s, worst %.3f s (target at most %.1f s: %s); "
                "recovered files that do not play: %d; recordings under a second kept: %d of %d\n",
                counted, counted ? total / counted : 0.0, worst, target, worst <= target ? "met" : "MISSED", unplayable,
                shortKept, shortOnes);
    tray.kill();
    tray.waitForFinished(2000);
    return counted == kills && worst <= target && unplayable == 0 ? 0 : 1;
}
