// Against the real Secret Service: gnome-keyring on the test D-Bus session of scripts/headless.
#include "platform/SecretServiceKeychain.h"

#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QUuid>

#include <gtest/gtest.h>

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
