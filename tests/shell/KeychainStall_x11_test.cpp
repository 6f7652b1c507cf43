// The built program with a Secret Service that takes the keychain read and never answers: the
// launch, the tray, a capture hot key and SIGTERM all go on while the read is out.
#include "support/ProcessConsole.h"
#include "support/ProcessSession.h"
#include "fakes/SecretServiceStandIn.h"
#include "support/TrayHost.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <csignal>

using namespace std::chrono_literals;

namespace {

// The tray host's panel holds an icon window named after the program.
bool iconInTray()
{
    const auto found = test::run("/usr/bin/xdotool", {"search", "--name", "^panel$"}, 5s);
    const QString panel = found.exitCode == 0 ? QString::fromUtf8(found.output).split('\n', Qt::SkipEmptyParts).value(0) : QString();
    if (panel.isEmpty())
        return false;
    const auto tree = test::run("/usr/bin/xwininfo", {"-id", panel, "-tree"}, 5s);
    return tree.exitCode == 0 && QString::fromUtf8(tree.output).contains("\"Kestrova\"");
}

} // namespace

TEST(KeychainStallX11, AnUnansweredKeychainReadHoldsNothingUp)
{
    if (!test::haveDisplay())
        GTEST_SKIP() << "needs the X server";
    test::SecretServiceStandIn stall(test::SecretServiceStandIn::Mode::stall);
    ASSERT_TRUE(stall.running()) << "the stand-in Secret Service did not start";
    test::TrayHost tray;
    test::Session session;
    ASSERT_TRUE(test::writeFile(session.home() + "/config/Kestrova/Kestrova.conf", "[General]\nscreenshotHotkey=ctrl+alt+k\n"));

    // The keychain's own bound is 10 s: everything below happens well inside it.
    QElapsedTimer sinceStart;
    sinceStart.start();
    auto process = session.start({{"DBUS_SESSION_BUS_ADDRESS", stall.address()}});
    test::ProcessConsole console(*process);
    ASSERT_TRUE(session.waitForLog("Application finished launching", 1, 6s)) << session.logText().toStdString();
    ASSERT_TRUE(console.waitFor("Successfully registered area hotkey: ctrl+alt+k", 2s)) << console.text().toStdString();
    ASSERT_TRUE(stall.waitForCalls(3s)) << "the launch read the keychain";
    EXPECT_TRUE(test::waitUntil(iconInTray, 3s)) << "the tray icon is shown";

    ASSERT_TRUE(test::xdotoolBlocking({"key", "ctrl+alt+k"}));
    EXPECT_TRUE(console.waitForStart("ScreenCaptureWindow: Setting up overlay for frame: ", 3s)) << console.text().toStdString();
    EXPECT_LT(sinceStart.elapsed(), 9000) << "all of it while the read was still out";
    EXPECT_FALSE(session.logText().contains("Keychain could not be read")) << "the read is still out";

    QElapsedTimer stopping;
    stopping.start();
    ::kill(static_cast<pid_t>(process->processId()), SIGTERM);
    ASSERT_TRUE(process->waitForFinished(2000)) << "SIGTERM ends the program within 2 s";
    EXPECT_LT(stopping.elapsed(), 2000);
    EXPECT_EQ(process->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process->exitCode(), 0);
    EXPECT_TRUE(session.logLines().last().contains("Lifecycle: applicationWillTerminate"));
}

TEST(KeychainStallX11, AnUnansweredKeychainReadIsUnreadableAfterItsBound)
{
    if (!test::haveDisplay())
        GTEST_SKIP() << "needs the X server";
    test::SecretServiceStandIn stall(test::SecretServiceStandIn::Mode::stall);
    ASSERT_TRUE(stall.running()) << "the stand-in Secret Service did not start";
    test::Session session;
    auto process = session.start({{"DBUS_SESSION_BUS_ADDRESS", stall.address()}});
    test::ProcessConsole console(*process);
    ASSERT_TRUE(session.waitForLog("Application finished launching", 1, 6s)) << session.logText().toStdString();
    // Reported once the bound has passed, as a keychain that cannot be read.
    EXPECT_TRUE(test::waitUntil([&] { return session.logText().contains("Keychain could not be read: the Secret Service did not answer within 10 s"); }, 14s))
        << session.logText().toStdString();
    QElapsedTimer stopping;
    stopping.start();
    ::kill(static_cast<pid_t>(process->processId()), SIGTERM);
    ASSERT_TRUE(process->waitForFinished(2000));
    EXPECT_EQ(process->exitCode(), 0);
}
