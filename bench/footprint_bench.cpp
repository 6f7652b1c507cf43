// Idle footprint of the resident program next to Flameshot's daemon on the same headless desktop
// (run under scripts/headless, a tray host started here): resident memory, threads and CPU use,
// 5 s after launch and over the following 5 s, and their ratio; with --late also the threads left
// 35 s after launch. Each program gets a home of its own.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>

#include <csignal>
#include <unistd.h>

#ifndef KESTROVA_BINARY
#define KESTROVA_BINARY "kestrova"
#endif

namespace {

using namespace std::chrono_literals;

struct Figures {
    double rssMegabytes = 0;
    int threads = 0;
    double cpuPercent = 0;
    std::map<QString, int> threadNames;
};

// VmRSS (kB) and Threads of /proc/<pid>/status.
std::optional<std::pair<double, int>> statusOf(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    double rss = -1;
    int threads = -1;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QList<QByteArray> parts = line.simplified().split(' ');
        if (parts.size() < 2)
            continue;
        if (parts[0] == "VmRSS:")
            rss = parts[1].toDouble() / 1024.0;
        else if (parts[0] == "Threads:")
            threads = parts[1].toInt();
    }
    if (rss < 0 || threads < 0)
        return std::nullopt;
    return std::make_pair(rss, threads);
}

// utime + stime of /proc/<pid>/stat, in clock ticks.
std::optional<long long> cpuTicksOf(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray text = file.readAll();
    // The command name may hold spaces: fields are counted after its closing parenthesis.
    const qsizetype close = text.lastIndexOf(')');
    if (close < 0)
        return std::nullopt;
    const QList<QByteArray> fields = text.mid(close + 2).split(' ');
    // Field 3 (state) is fields[0]; utime and stime are fields 14 and 15.
    if (fields.size() < 13)
        return std::nullopt;
    return fields[11].toLongLong() + fields[12].toLongLong();
}

std::map<QString, int> threadNamesOf(qint64 pid)
{
    std::map<QString, int> names;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task) + QStringLiteral("/comm"));
        if (comm.open(QIODevice::ReadOnly))
            ++names[QString::fromUtf8(comm.readAll()).trimmed()];
    }
    return names;
}

class Program {
public:
    Program(const QString& label, const QString& binary, const QStringList& arguments)
        : m_label(label)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const QString home = m_home.path();
        for (const char* sub : {"config", "state", "cache", "data", "run"})
            QDir().mkpath(home + QLatin1Char('/') + QLatin1String(sub));
        QFile::setPermissions(home + QStringLiteral("/run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
        env.insert(QStringLiteral("XDG_STATE_HOME"), home + QStringLiteral("/state"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/cache"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home + QStringLiteral("/run"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.start(binary, arguments);
        m_started = m_process.waitForStarted(5000);
    }
    ~Program() { stop(); }

    bool running() const { return m_started && m_process.state() == QProcess::Running; }
    qint64 pid() const { return m_process.processId(); }
    const QString& label() const { return m_label; }
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        ::kill(static_cast<pid_t>(m_process.processId()), SIGTERM);
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }

private:
    QString m_label;
    QTemporaryDir m_home;
    QProcess m_process;
    bool m_started = false;
};

void sleepFor(std::chrono::milliseconds duration)
{
    QThread::msleep(static_cast<unsigned long>(duration.count()));
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const QString flameshot = QStandardPaths::findExecutable(QStringLiteral("flameshot"));
    const QString trayer = QStandardPaths::findExecutable(QStringLiteral("trayer"));
    if (flameshot.isEmpty() || trayer.isEmpty() || qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::puts("footprint: needs an X display (scripts/headless), flameshot and trayer (make test installs them)");
        return 1;
    }
    QProcess tray;
    tray.start(trayer, {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"), QStringLiteral("right"),
                        QStringLiteral("--widthtype"), QStringLiteral("request"), QStringLiteral("--height"), QStringLiteral("24")});
    tray.waitForStarted(5000);
    sleepFor(500ms);

    std::vector<std::unique_ptr<Program>> programs;
    programs.push_back(std::make_unique<Program>(QStringLiteral("kestrova"), QStringLiteral(KESTROVA_BINARY), QStringList{}));
    programs.push_back(std::make_unique<Program>(QStringLiteral("flameshot"), flameshot, QStringList{}));

    constexpr auto settle = 5s;
    constexpr auto window = 5s;
    sleepFor(settle);
    std::vector<Figures> figures(programs.size());
    std::vector<long long> ticksBefore(programs.size(), 0);
    for (size_t i = 0; i < programs.size(); ++i) {
        if (!programs[i]->running()) {
            std::printf("footprint: %s is not running %lld s after launch\n", qPrintable(programs[i]->label()),
                        static_cast<long long>(settle.count()));
            return 1;
        }
        const auto status = statusOf(programs[i]->pid());
        if (!status)
            return 1;
        figures[i].rssMegabytes = status->first;
        figures[i].threads = status->second;
        figures[i].threadNames = threadNamesOf(programs[i]->pid());
        ticksBefore[i] = cpuTicksOf(programs[i]->pid()).value_or(0);
    }
    sleepFor(window);
    const double ticksPerSecond = static_cast<double>(sysconf(_SC_CLK_TCK));
    for (size_t i = 0; i < programs.size(); ++i) {
        const long long after = cpuTicksOf(programs[i]->pid()).value_or(ticksBefore[i]);
        figures[i].cpuPercent = 100.0 * static_cast<double>(after - ticksBefore[i]) / ticksPerSecond
            / static_cast<double>(window.count());
    }

    std::printf("Idle footprint, %lld s after launch, CPU over the next %lld s:\n", static_cast<long long>(settle.count()),
                static_cast<long long>(window.count()));
    for (size_t i = 0; i < programs.size(); ++i) {
        std::printf("  %-10s RSS %7.1f MB  threads %3d  CPU %5.1f %%\n", qPrintable(programs[i]->label()), figures[i].rssMegabytes,
                    figures[i].threads, figures[i].cpuPercent);
        QStringList names;
        for (const auto& [name, count] : figures[i].threadNames)
            names.append(count > 1 ? QStringLiteral("%1 x%2").arg(name).arg(count) : name);
        std::printf("             threads: %s\n", qPrintable(names.join(QStringLiteral(", "))));
    }
    const Figures& ours = figures[0];
    const Figures& theirs = figures[1];
    std::printf("  kestrova / flameshot: RSS %.2f, threads %.2f\n", ours.rssMegabytes / theirs.rssMegabytes,
                static_cast<double>(ours.threads) / theirs.threads);

    // With --late, the thread names again 35 s after launch: Qt's pooled threads (host lookups,
    // parallel painting) end after 30 s unused, so what is left then is what stays for good.
    if (application.arguments().contains(QStringLiteral("--late"))) {
        constexpr auto late = 35s;
        sleepFor(late - settle - window);
        std::printf("Threads %lld s after launch:\n", static_cast<long long>(late.count()));
        for (const auto& program : programs) {
            QStringList names;
            for (const auto& [name, count] : threadNamesOf(program->pid()))
                names.append(count > 1 ? QStringLiteral("%1 x%2").arg(name).arg(count) : name);
            std::printf("  %-10s %s\n", qPrintable(program->label()), qPrintable(names.join(QStringLiteral(", "))));
        }
    }

    for (auto& program : programs)
        program->stop();
    tray.terminate();
    tray.waitForFinished(3000);
    return 0;
}
