// The built program as a process: started with a private home, stopped with SIGTERM.
#include "support/TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

TEST(KestrovaProcess, SigtermEndsCleanlyWithTheLogDrained)
{
    QTemporaryDir home;
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    env.insert("XDG_STATE_HOME", home.path() + "/state");
    env.insert("XDG_CONFIG_HOME", home.path() + "/config");
    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(test::kestrovaBinary(), {});
    ASSERT_TRUE(process.waitForStarted(5000));
    const QString logPath = home.path() + "/state/Kestrova/kestrova.log";
    auto logText = [&] {
        QFile file(logPath);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    };
    ASSERT_TRUE(test::waitUntil([&] { return logText().contains("Application starting up"); }, std::chrono::seconds(10)))
        << process.readAll().toStdString();
    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_TRUE(logText().trimmed().endsWith("Application will terminate")) << logText().toStdString();
}
