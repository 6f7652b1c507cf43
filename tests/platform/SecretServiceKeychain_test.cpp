// Against the real Secret Service: gnome-keyring on the test D-Bus session of scripts/headless.
#include "platform/SecretServiceKeychain.h"

#include "fakes/SecretServiceStandIn.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QUuid>

#include <gtest/gtest.h>

#include <thread>

using platform::KeychainStatus;
using platform::SecretServiceKeychain;

namespace {

bool haveSecretService()
{
    return test::run("/usr/bin/dbus-send", {"--session", "--print-reply", "--dest=org.freedesktop.DBus",
                                           "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner",
                                           "string:org.freedesktop.secrets"}, std::chrono::seconds(5))
        .output.contains("boolean true");
}

// Runs the disabled child test `name` of this binary in a process of its own (libsecret keeps its
// connection per process), on the bus `address`, with `mode` in KESTROVA_TEST_MODE.
test::ProcessResult runChild(const QString& name, const QString& address, const QString& mode = {})
{
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DBUS_SESSION_BUS_ADDRESS", address);
    environment.insert("KESTROVA_TEST_MODE", mode);
    return test::run(QCoreApplication::applicationFilePath(),
                     {"--gtest_filter=SecretServiceKeychainStandInChild." + name, "--gtest_also_run_disabled_tests"},
                     std::chrono::seconds(30), environment);
}

QString secretTool(const QStringList& args)
{
    return QString::fromUtf8(test::run("/usr/bin/secret-tool", args, std::chrono::seconds(10)).output);
}

} // namespace

TEST(SecretServiceKeychain, AddThenUpdateKeepsLabelAndDescription)
{
    if (!haveSecretService())
        GTEST_SKIP() << "no Secret Service on the session bus (run the suite through scripts/test)";
    SecretServiceKeychain keychain;
    const QString service = "KestrovaTest-" + QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QString account = "kestrova_credentials";

    EXPECT_EQ(keychain.lookup(service, account).status, KeychainStatus::ItemNotFound);
    EXPECT_EQ(keychain.update(service, account, "x", nullptr), KeychainStatus::ItemNotFound);

    QString error;
    ASSERT_EQ(keychain.add(service, account, "{\"a\":\"пароль\"}", "Kestrova - настройки", "Данные", &error),
              KeychainStatus::Success) << error.toStdString();
    auto found = keychain.lookup(service, account);
    ASSERT_EQ(found.status, KeychainStatus::Success);
    EXPECT_EQ(QString::fromUtf8(found.data), "{\"a\":\"пароль\"}");

    ASSERT_EQ(keychain.update(service, account, "second", &error), KeychainStatus::Success) << error.toStdString();
    EXPECT_EQ(keychain.lookup(service, account).data, "second");

    // Read back by another program: one item, the new data, the label of its creation.
    const QString listing = secretTool({"search", "--all", "service", service, "account", account});
    EXPECT_EQ(listing.count("[/"), 1) << listing.toStdString();
    EXPECT_TRUE(listing.contains("label = Kestrova - настройки")) << listing.toStdString();
    EXPECT_TRUE(listing.contains("attribute.description = Данные")) << listing.toStdString();
    EXPECT_EQ(secretTool({"lookup", "service", service, "account", account}), "second");

    test::run("/usr/bin/secret-tool", {"clear", "service", service, "account", account});
}

TEST(SecretServiceKeychain, NoServiceIsAnErrorNotAMissingItem)
{
    // A session bus address that leads nowhere.
    const QByteArray saved = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kestrova-bus");
    // libsecret caches its service connection per process: run the check in a child.
    // The child is this binary with a filter selecting the helper test below.
    const auto result = test::run(QCoreApplication::applicationFilePath(),
                                  {"--gtest_filter=SecretServiceKeychainChild.*", "--gtest_also_run_disabled_tests"},
                                  std::chrono::seconds(30));
    qputenv("DBUS_SESSION_BUS_ADDRESS", saved);
    EXPECT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 0) << result.output.toStdString();
    EXPECT_TRUE(result.output.contains("[  PASSED  ] 1 test")) << result.output.toStdString();
}

TEST(SecretServiceKeychainChild, DISABLED_LookupWithoutBus)
{
    SecretServiceKeychain keychain;
    const auto lookup = keychain.lookup("Kestrova", "kestrova_credentials");
    EXPECT_EQ(lookup.status, KeychainStatus::Error);
    EXPECT_FALSE(lookup.errorText.isEmpty());
}

TEST(SecretServiceKeychain, AnUnansweredCallEndsAtItsBound)
{
    test::SecretServiceStandIn stall(test::SecretServiceStandIn::Mode::stall);
    ASSERT_TRUE(stall.running()) << "the stand-in Secret Service did not start";
    // Waited for on the GUI thread (its events keep running), on another thread, and cut short
    // by the application quitting.
    for (const char* mode : {"gui", "thread", "quit"}) {
        const auto result = runChild("DISABLED_BoundedWait", stall.address(), mode);
        EXPECT_TRUE(result.finished) << mode;
        EXPECT_EQ(result.exitCode, 0) << mode << "\n" << result.output.toStdString();
        EXPECT_TRUE(result.output.contains("[  PASSED  ] 1 test")) << mode << "\n" << result.output.toStdString();
    }
    EXPECT_TRUE(stall.waitForCalls(std::chrono::seconds(2))) << "the calls reached the stand-in";
}

TEST(SecretServiceKeychainStandInChild, DISABLED_BoundedWait)
{
    using namespace std::chrono_literals;
    const QString mode = qEnvironmentVariable("KESTROVA_TEST_MODE");
    SecretServiceKeychain::setWaitBoundForTesting(mode == "quit" ? 20s : 1500ms);
    SecretServiceKeychain keychain;
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(50);
    if (mode == "quit")
        QTimer::singleShot(500, [] { QCoreApplication::exit(0); });

    QElapsedTimer timer;
    timer.start();
    platform::KeychainLookup first;
    if (mode == "thread")
        std::thread([&] { first = keychain.lookup("Kestrova", "kestrova_credentials"); }).join();
    else
        first = keychain.lookup("Kestrova", "kestrova_credentials");
    const qint64 waited = timer.elapsed();
    EXPECT_EQ(first.status, KeychainStatus::Error);
    if (mode == "quit") {
        EXPECT_GE(waited, 400);
        EXPECT_LT(waited, 3000) << "quitting ends the wait";
        EXPECT_EQ(first.errorText, "the keychain request was given up as the application quits");
        return;
    }
    EXPECT_GE(waited, 1400);
    EXPECT_LT(waited, 4000);
    EXPECT_EQ(first.errorText, "the Secret Service did not answer within 1.5 s");
    if (mode == "gui") {
        EXPECT_GE(ticks, 15) << "the GUI thread's events ran while it waited";
    }

    // Given up on: later calls of the process fail at once instead of waiting again.
    timer.restart();
    EXPECT_EQ(keychain.lookup("Kestrova", "kestrova_credentials").status, KeychainStatus::Error);
    QString error;
    EXPECT_EQ(keychain.update("Kestrova", "kestrova_credentials", "x", &error), KeychainStatus::Error);
    EXPECT_EQ(keychain.add("Kestrova", "kestrova_credentials", "x", "label", "description", &error), KeychainStatus::Error);
    EXPECT_FALSE(error.isEmpty());
    EXPECT_LT(timer.elapsed(), 500);
}

TEST(SecretServiceKeychain, ADeclinedUnlockPromptIsAskedOnce)
{
    test::SecretServiceStandIn locked(test::SecretServiceStandIn::Mode::locked);
    ASSERT_TRUE(locked.running()) << "the stand-in Secret Service did not start";
    const auto result = runChild("DISABLED_LockedKeyring", locked.address());
    EXPECT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 0) << result.output.toStdString();
    EXPECT_TRUE(result.output.contains("[  PASSED  ] 1 test")) << result.output.toStdString();
    test::waitUntil([&] { return locked.count("org.freedesktop.Secret.Collection.CreateItem") > 0; }, std::chrono::milliseconds(300));
    EXPECT_EQ(locked.count("org.freedesktop.Secret.Service.Unlock"), 1) << locked.calls().join('\n').toStdString();
    EXPECT_EQ(locked.count("org.freedesktop.Secret.Prompt.Prompt"), 1) << locked.calls().join('\n').toStdString();
    EXPECT_EQ(locked.count("org.freedesktop.Secret.Collection.CreateItem"), 0) << "nothing is stored into a locked keyring";
}

TEST(SecretServiceKeychainStandInChild, DISABLED_LockedKeyring)
{
    SecretServiceKeychain keychain;
    // The launch's read: the prompt is shown and dismissed.
    const auto first = keychain.lookup("Kestrova", "kestrova_credentials");
    EXPECT_EQ(first.status, KeychainStatus::Error);
    EXPECT_EQ(first.errorText, "the keychain item is locked");
    // Later reads and writes of the same run count as unreadable without asking again.
    EXPECT_EQ(keychain.lookup("Kestrova", "kestrova_credentials").status, KeychainStatus::Error);
    QString error;
    EXPECT_EQ(keychain.update("Kestrova", "kestrova_credentials", "x", &error), KeychainStatus::Error);
    EXPECT_EQ(error, "the keychain item is locked");
    error.clear();
    EXPECT_EQ(keychain.add("Kestrova", "other", "x", "label", "description", &error), KeychainStatus::Error);
    EXPECT_EQ(error, "the keychain is locked");
}

// The shutdown of the program saves the settings window's secrets from an aboutToQuit handler,
// connected after the keychain's own first call: that write is finished, not given up.
TEST(SecretServiceKeychain, WritesMadeAsTheApplicationQuitsAreFinished)
{
    if (!haveSecretService())
        GTEST_SKIP() << "no Secret Service on the session bus (run the suite through scripts/test)";
    const QString service = "KestrovaTest-" + QUuid::createUuid().toString(QUuid::WithoutBraces);
    const auto result = runChild("DISABLED_WritesAsTheApplicationQuits", qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"), service);
    EXPECT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 0) << result.output.toStdString();
    EXPECT_TRUE(result.output.contains("[  PASSED  ] 1 test")) << result.output.toStdString();
    EXPECT_EQ(secretTool({"lookup", "service", service, "account", "kestrova_credentials"}), "written as it quits");
    test::run("/usr/bin/secret-tool", {"clear", "service", service, "account", "kestrova_credentials"});
}

TEST(SecretServiceKeychainStandInChild, DISABLED_WritesAsTheApplicationQuits)
{
    const QString service = qEnvironmentVariable("KESTROVA_TEST_MODE");
    SecretServiceKeychain keychain;
    // As the launch's read does: the first call comes before the shutdown's handler is connected.
    ASSERT_EQ(keychain.lookup(service, "kestrova_credentials").status, KeychainStatus::ItemNotFound);
    KeychainStatus added = KeychainStatus::Error;
    KeychainStatus updated = KeychainStatus::Error;
    QString error;
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, [&] {
        added = keychain.add(service, "kestrova_credentials", "first", "label", "description", &error);
        updated = keychain.update(service, "kestrova_credentials", "written as it quits", &error);
    });
    QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
    EXPECT_EQ(added, KeychainStatus::Success) << error.toStdString();
    EXPECT_EQ(updated, KeychainStatus::Success) << error.toStdString();
}
