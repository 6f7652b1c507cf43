#pragma once

#include "app/ServerSettings.h"
#include "settings/SettingsSection.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QVariantMap>

#include <functional>
#include <optional>

class AppState;
class AuthManager;
class YandexDiskUploader;

// The state and rules of the settings window; SettingsView and its sections draw it.
//
// It owns the one working copy of the settings that every section edits. Edits stay in the copy
// until one of these moments pushes it into the AppState and saves it: a click on a sidebar section,
// a change of the upload provider, a completed Yandex sign-in, the hot keys' Save, Return in a field
// of the upload section and the closing of the window. GUI thread.
class SettingsViewModel : public QObject {
    Q_OBJECT
public:
    // `authManager` nullptr: AuthManager::shared().
    explicit SettingsViewModel(AppState& appState, AuthManager* authManager = nullptr, QObject* parent = nullptr);
    ~SettingsViewModel() override;

    AppState& appState() const { return m_appState; }
    AuthManager* authManager() const { return m_authManager; }

    const ServerSettings& settings() const { return m_settings; }
    // Changes the working copy. A change of the provider, whatever made it, pushes and saves at once.
    void edit(const std::function<void(ServerSettings&)>& change);

    SettingsSection selectedSection() const { return m_selectedSection; }
    // A sidebar row: shows the section, then pushes and saves (also when it is already shown).
    void selectSection(SettingsSection section);

    // The view came on screen: reload from the AppState and follow Yandex sign-ins.
    void appear();
    // The working copy becomes the AppState's settings.
    void loadSettings();
    void setupNotificationObservers();
    // Return in a field, or the window closes: pushes and saves, so that typed values no other
    // moment followed are kept.
    void saveEdits();
    // Writes the working copy's thirteen keys to the user defaults and merges its secrets into the
    // keychain record. Never writes an empty FTP password or Yandex token over a stored one. A
    // settings file that cannot be written is logged and announced with saveFailed.
    void saveToUserDefaults();

    // Upload section.
    void chooseProvider(UploadProvider provider);
    // The "SFTP (SSH)" switch, with the port rule.
    void setUseSFTP(bool useSFTP);
    // "Сброс": the port rule alone.
    void resetPort();
    static int defaultPort(bool useSFTP) { return useSFTP ? 22 : 21; }
    // "Выйти" of the Yandex block: empties the working copy's tokens only.
    void signOutYandex();
    bool showYandexOAuthSheet() const { return m_showYandexOAuthSheet; }
    void setShowYandexOAuthSheet(bool show);
    // The sign-in sheet's token.
    void handleYandexToken(const QString& token);

    // Connection test.
    bool isTestOffered() const { return m_settings.uploadProvider != UploadProvider::kestrovaCloud; }
    bool isTestDisabled() const;
    bool isTestingConnection() const { return m_isTestingConnection; }
    // Starts the test of the working copy's provider; the result arrives later in testResult.
    void testConnection();
    const std::optional<QString>& testResult() const { return m_testResult; }
    bool showingTestResult() const { return m_showingTestResult; }
    // The result alert's "OK".
    void dismissTestResult();

    // Hot-keys section.
    // A recorder recorded or cleared a combination.
    void hotkeyRecorderChanged();
    // Save: push, save, tell the delegate, and show the toast for 1.5 s.
    void saveHotkeys();
    bool showHotkeySaveNotification() const { return m_showHotkeySaveNotification; }

    // Account section.
    void signOut();
    void openRegisterPage();

    // About section.
    static QString appVersion();
    static QString appBuild();
    static QString buildDate();
    static QString copyrightLine();
    void openSite();
    void openPrivacyPolicy();
    // A page of the service: the cloud client's root followed by `path`.
    QUrl webPageURL(const QString& path) const;

    // Tests: the application's version record ("version", "build"); nullopt restores the real one.
    static void setBundleInfoForTesting(const std::optional<QVariantMap>& info);
    // Tests: how long the hot keys' toast stays (1.5 s).
    void setToastDurationForTesting(int milliseconds) { m_toastDurationMs = milliseconds; }

signals:
    void settingsChanged();
    void selectedSectionChanged();
    void connectionTestChanged();
    void showingTestResultChanged();
    void showYandexOAuthSheetChanged();
    void showHotkeySaveNotificationChanged();
    // The settings file could not be written; `message` says so to the user.
    void saveFailed(const QString& message);

private:
    void setWorkingCopy(const ServerSettings& settings);
    void providerChanged();
    void pushAndSave();
    void finishTest(const QString& result);
    void openPage(const QString& path);
    YandexDiskUploader& yandexUploader();

    AppState& m_appState;
    AuthManager* m_authManager;
    ServerSettings m_settings;
    SettingsSection m_selectedSection = SettingsSection::account;
    bool m_isTestingConnection = false;
    std::optional<QString> m_testResult;
    bool m_showingTestResult = false;
    bool m_showYandexOAuthSheet = false;
    YandexDiskUploader* m_yandexUploader = nullptr;
    bool m_showHotkeySaveNotification = false;
    quint64 m_yandexObserver = 0;
    int m_toastDurationMs = 1500;
};
