#pragma once

// Shared by the settings tests: a clean store for every test, an account manager that talks to
// nothing (or to the cloud fake), the result alert recorded instead of shown.

#include "app/AppState.h"
#include "app/KeychainService.h"
#include "cloud/APIClient.h"
#include "cloud/AuthManager.h"
#include "cloud/CloudTestSupport.h" // the cloud fake, a tap on stdout, QString in messages
#include "platform/InMemoryKeychain.h"
#include "platform/UserDefaults.h"
#include "settings/SettingsAlertPresenter.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QSettings>
#include <QStringList>
#include <QTcpServer>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

namespace settingstest {

// Empty user defaults, an empty in-memory keychain and a credentials cache filled from it.
inline void resetStores()
{
    QFile::remove(platform::UserDefaults::standardFilePath());
    platform::KeychainBackend::setCurrent(std::make_shared<platform::InMemoryKeychain>());
    AppState::resetCredentialsForTesting();
    AppState::loadCredentials();
}

// Every key of the user-defaults file, sorted.
inline QStringList storedKeys()
{
    QSettings file(platform::UserDefaults::standardFilePath(), QSettings::IniFormat);
    QStringList keys = file.allKeys();
    keys.sort();
    return keys;
}

inline QString storedFileText()
{
    QFile file(platform::UserDefaults::standardFilePath());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The record in the keychain item itself, not the cache.
inline std::optional<SecureCredentials> keychainRecord()
{
    const auto text = KeychainService::shared().getSecureData(KeychainService::credentialsAccount);
    if (!text)
        return std::nullopt;
    return SecureCredentials::fromJson(text->toUtf8());
}

inline SecureCredentials cachedRecord()
{
    return AppState::credentials().value_or(SecureCredentials{});
}

// A root where nobody listens: a client over it sends nothing anywhere.
inline QString deadRoot()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    const quint16 port = server.serverPort();
    server.close();
    return QStringLiteral("http://127.0.0.1:%1").arg(port);
}

// An account manager signed out, over its own client.
struct OfflineAccount {
    explicit OfflineAccount(const QString& root = deadRoot())
        : client(std::make_unique<APIClient>(root))
    {
        client->setAuthToken(std::nullopt);
        manager = std::make_unique<AuthManager>(client.get());
    }
    std::unique_ptr<APIClient> client;
    std::unique_ptr<AuthManager> manager;
};

// Records the alerts; a test dismisses them.
class RecordingAlertPresenter : public SettingsAlertPresenter {
public:
    struct Shown {
        Alert alert;
        std::function<void()> onDismiss;
    };
    void present(QWidget* window, const Alert& alert, std::function<void()> onDismiss) override
    {
        windows.push_back(window);
        shown.push_back({alert, std::move(onDismiss)});
    }
    void dismissLast()
    {
        if (!shown.empty() && shown.back().onDismiss)
            shown.back().onDismiss();
    }
    std::vector<Shown> shown;
    std::vector<QWidget*> windows;
};

} // namespace settingstest
