// Quitting after a recording with the microphone, 30 times: the built program records 2 s of its
// development hook's area with the microphone, opens the video preview and gets SIGTERM. Prints
// the cycles, the aborts (a PulseAudio assertion ends the process with SIGABRT, exit 134) and the
// other failures. Run under scripts/headless (scripts/bench does), which starts PulseAudio.

#include "../tests/shell/MicrophoneQuitCycle.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const QString binary = qEnvironmentVariableIsSet("QUIT_BENCH_BINARY")
        ? qEnvironmentVariable("QUIT_BENCH_BINARY")
        : QCoreApplication::applicationDirPath() + QStringLiteral("/../kestrova");
    // With a tray host the program runs as it does on a desktop: no settings window of its own.
    QProcess tray;
    tray.start(QStringLiteral("/usr/bin/trayer"), {"--edge", "top", "--align", "right", "--widthtype", "request", "--height", "24"});
    const int cycles = argc > 1 ? std::max(1, atoi(argv[1])) : 30;
    int aborts = 0, otherExits = 0, incomplete = 0, withMicrophone = 0;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < cycles; ++i) {
        // The preview open from a moment to a second and a half: the abort depended on that timing.
        const micquit::CycleResult r = micquit::runCycle(binary, std::chrono::milliseconds(i * 149 % 1500));
        withMicrophone += r.microphoneStarted;
        if (qEnvironmentVariableIsSet("QUIT_BENCH_VERBOSE"))
            std::printf("%s\n%s\n", r.output.constData(), qPrintable(r.log.right(3000)));
        if (!r.reachedPreview || !r.exited) {
            ++incomplete;
            std::printf("cycle %d: stopped short at %s\n", i + 1, qPrintable(r.step));
        } else if (r.crashed) {
            ++aborts;
            std::printf("cycle %d: ABORT\n%s\n", i + 1, r.output.right(600).constData());
        } else if (r.exitCode != 0) {
            ++otherExits;
            std::printf("cycle %d: exit code %d\n", i + 1, r.exitCode);
        }
        std::fflush(stdout);
    }
    std::printf("quit after a microphone recording: cycles %d, with microphone %d, aborts %d, other exit codes %d, "
                "incomplete %d, %.1f s a cycle\n",
                cycles, withMicrophone, aborts, otherExits, incomplete, clock.elapsed() / 1000.0 / cycles);
    tray.kill();
    tray.waitForFinished(2000);
    return aborts || otherExits ? 1 : 0;
}
