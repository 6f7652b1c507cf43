#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>

namespace platform {

// One run of an outside program: no shell, no PATH search, so no argument is ever re-parsed.
struct ProcessRequest {
    QString program; // absolute path
    QStringList arguments;
    // Written to the program's standard input, which is then closed. The way to hand a program a
    // secret: unlike arguments and the environment, it shows in no /proc file.
    QByteArray standardInput;
    // Added to the inherited environment, replacing variables of the same name.
    QMap<QString, QString> environment;
    // Past this the program is killed and the run counts as failed.
    std::chrono::milliseconds timeLimit{std::chrono::seconds(60)};
    // Called on the running thread with the process id right after the program has started.
    std::function<void(qint64 processId)> onStarted;
};

struct ProcessResult {
    enum class Outcome {
        exited,        // ran to its end; exitCode holds its status
        failedToStart, // errorText holds the system's reason
        timedOut,      // killed at the time limit
        crashed,       // ended by a signal
    };
    Outcome outcome = Outcome::failedToStart;
    int exitCode = -1;
    QByteArray output; // standard output and standard error, merged in the order written
    QString errorText;

    // Only a run that ended by itself with status 0 is a success.
    bool succeeded() const { return outcome == Outcome::exited && exitCode == 0; }
};

class ProcessRunner {
public:
    // Runs the program to its end and blocks the calling thread meanwhile: never call it on the
    // GUI thread. Callable from several threads at once. The program is killed when this process
    // ends first, however it ends.
    static ProcessResult run(const ProcessRequest& request);

    // Called on the running thread right after each program has started, before it is waited
    // for. Tests use it to read /proc of the live process; nullptr removes it.
    using StartObserver = std::function<void(qint64 processId, const ProcessRequest& request)>;
    static void setStartObserver(StartObserver observer);
};

} // namespace platform
