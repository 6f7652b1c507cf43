#include "settings/SettingsViewModel.h"

#include "app/AppState.h"
#include "app/DebugLogger.h"
#include "app/HotKeyManager.h"
#include "app/Localization.h"
#include "cloud/APIClient.h"
#include "cloud/AuthManager.h"
#include "cloud/WebPageOpener.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "uploads/FileUploader.h"
#include "uploads/YandexDiskUploader.h"

#include <QCoreApplication>
#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QTimer>

#include <mutex>

#ifndef KESTROVA_BUILD_NUMBER
#define KESTROVA_BUILD_NUMBER "1"
#endif

namespace {

const QString yandexDiskAuthSuccess = QStringLiteral("YandexDiskAuthSuccess");

std::mutex bundleInfoMutex;
std::optional<QVariantMap>& bundleInfoOverride()
{
    static std::optional<QVariantMap> info;
    return info;
}

QVariantMap bundleInfo()
{
    {
        std::lock_guard lock(bundleInfoMutex);
        if (bundleInfoOverride())
            return *bundleInfoOverride();
    }
    QVariantMap info;
    // The shell sets the version at start; without it the entry is missing.
    if (const QString version = QCoreApplication::applicationVersion(); !version.isEmpty())
        info.insert(QStringLiteral("version"), version);
    info.insert(QStringLiteral("build"), QStringLiteral(KESTROVA_BUILD_NUMBER));
    return info;
}

QString bundleText(const QString& key)
{
    const QVariant value = bundleInfo().value(key);
    return value.typeId() == QMetaType::QString ? value.toString() : QStringLiteral("Unknown");
}

// The compiler's record of when this file was built: "Mar  5 2024" and "14:30:00".
QDateTime compileTime()
{
    const QDate date = QLocale::c().toDate(QString::fromLatin1(__DATE__).simplified(), QStringLiteral("MMM d yyyy"));
    const QTime time = QTime::fromString(QString::fromLatin1(__TIME__), QStringLiteral("HH:mm:ss"));
    return QDateTime(date, time);
}

} // namespace

SettingsViewModel::SettingsViewModel(AppState& appState, AuthManager* authManager, QObject* parent)
    : QObject(parent)
    , m_appState(appState)
    , m_authManager(authManager ? authManager : &AuthManager::shared())
{
}

SettingsViewModel::~SettingsViewModel()
{
    if (m_yandexObserver)
        platform::NotificationCenter::defaultCenter().removeObserver(m_yandexObserver);
}

void SettingsViewModel::edit(const std::function<void(ServerSettings&)>& change)
{
    ServerSettings next = m_settings;
    change(next);
    setWorkingCopy(next);
}

void SettingsViewModel::setWorkingCopy(const ServerSettings& settings)
{
    if (settings == m_settings)
        return;
    const bool providerDiffers = settings.uploadProvider != m_settings.uploadProvider;
    m_settings = settings;
    emit settingsChanged();
    if (providerDiffers)
        providerChanged();
}

void SettingsViewModel::providerChanged()
{
    pushAndSave();
}

void SettingsViewModel::pushAndSave()
{
    m_appState.setServerSettings(m_settings);
    saveToUserDefaults();
}

void SettingsViewModel::saveEdits()
{
    const ServerSettings before = m_appState.serverSettings();
    pushAndSave();
    // A hot key recorded and then kept by closing the window must be the one that is registered.
    if (before.screenshotHotkey != m_settings.screenshotHotkey || before.fullScreenHotkey != m_settings.fullScreenHotkey
        || before.screenRecordingHotkey != m_settings.screenRecordingHotkey)
        platform::NotificationCenter::defaultCenter().post(NotificationName::hotkeySettingsChanged);
}

void SettingsViewModel::selectSection(SettingsSection section)
{
    if (m_selectedSection != section) {
        m_selectedSection = section;
        emit selectedSectionChanged();
    }
    pushAndSave();
}

void SettingsViewModel::appear()
{
    loadSettings();
    setupNotificationObservers();
}

void SettingsViewModel::loadSettings()
{
    // A load that changes the provider counts as a provider change, like any other.
    setWorkingCopy(m_appState.serverSettings());
}

void SettingsViewModel::setupNotificationObservers()
{
    // One subscription for the life of the model: every appearance adding one would only repeat
    // the same reload.
    if (m_yandexObserver)
        return;
    m_yandexObserver = platform::NotificationCenter::defaultCenter().addObserver(
        yandexDiskAuthSuccess, this, [this](const platform::Notification&) { loadSettings(); });
}

void SettingsViewModel::saveToUserDefaults()
{
    const ServerSettings& s = m_settings;
    platform::UserDefaults defaults = platform::UserDefaults::standard();
    defaults.setString(QStringLiteral("uploadProvider"), UploadProviders::rawValue(s.uploadProvider));
    defaults.setString(QStringLiteral("ftpHost"), s.ftpHost);
    defaults.setInteger(QStringLiteral("ftpPort"), s.ftpPort);
    defaults.setString(QStringLiteral("ftpUsername"), s.ftpUsername);
    defaults.setBool(QStringLiteral("useSFTP"), s.useSFTP);
    defaults.setBool(QStringLiteral("useFTPS"), s.useFTPS);
    defaults.setString(QStringLiteral("ftpDirectory"), s.ftpDirectory);
    defaults.setString(QStringLiteral("baseURL"), s.baseURL);
    defaults.setString(QStringLiteral("yandexFolder"), s.yandexFolder);
    defaults.setString(QStringLiteral("yandexPublicBaseURL"), s.yandexPublicBaseURL);
    defaults.setString(QStringLiteral("screenshotHotkey"), s.screenshotHotkey);
    defaults.setString(QStringLiteral("fullScreenHotkey"), s.fullScreenHotkey);
    defaults.setString(QStringLiteral("screenRecordingHotkey"), s.screenRecordingHotkey);
    // The thirteen keys in one write. The settings stay in the AppState all the same.
    if (!defaults.sync()) {
        DebugLogger::shared().logErrorMessage(QStringLiteral("Could not write the settings file ") + defaults.filePath());
        emit saveFailed(L::text(QStringLiteral("Не удалось записать файл настроек %1. Изменения действуют до выхода из программы."),
                                QStringLiteral("Could not write the settings file %1. The changes last until the program quits."))
                            .arg(defaults.filePath()));
    }

    // Empty secrets in the working copy mean "not typed here", never "remove the stored one".
    const std::optional<QString> ftpPassword = s.ftpPassword.isEmpty() ? std::nullopt : std::optional(s.ftpPassword);
    const QString passwordKey = SecureCredentials::passwordKey(s.ftpUsername, s.ftpHost);
    const std::optional<QString> accessToken =
        s.yandexAccessToken.isEmpty() ? std::nullopt : std::optional(s.yandexAccessToken);
    const std::optional<QString> refreshToken =
        s.yandexRefreshToken.isEmpty() ? std::nullopt : std::optional(s.yandexRefreshToken);
    // The cache takes the merge even when the keychain refuses it; the failure is logged there.
    // By value: the change runs again later while the keychain cannot be read.
    AppState::updateCredentials([ftpPassword, passwordKey, accessToken, refreshToken](SecureCredentials& record) {
        if (ftpPassword)
            record.ftpPasswords.insert(passwordKey, *ftpPassword);
        if (accessToken)
            record.yandexAccessToken = *accessToken;
        if (refreshToken)
            record.yandexRefreshToken = *refreshToken;
    });
}

void SettingsViewModel::chooseProvider(UploadProvider provider)
{
    edit([provider](ServerSettings& s) { s.uploadProvider = provider; });
}

void SettingsViewModel::setUseSFTP(bool useSFTP)
{
    edit([useSFTP](ServerSettings& s) {
        if (s.useSFTP == useSFTP)
            return;
        s.useSFTP = useSFTP;
        s.ftpPort = defaultPort(useSFTP);
    });
}

void SettingsViewModel::resetPort()
{
    edit([](ServerSettings& s) { s.ftpPort = defaultPort(s.useSFTP); });
}

void SettingsViewModel::signOutYandex()
{
    edit([](ServerSettings& s) {
        s.yandexAccessToken.clear();
        s.yandexRefreshToken.clear();
    });
}

void SettingsViewModel::setShowYandexOAuthSheet(bool show)
{
    if (m_showYandexOAuthSheet == show)
        return;
    m_showYandexOAuthSheet = show;
    emit showYandexOAuthSheetChanged();
}

void SettingsViewModel::handleYandexToken(const QString& token)
{
    edit([&token](ServerSettings& s) { s.yandexAccessToken = token; });
    pushAndSave();
    platform::NotificationCenter::defaultCenter().post(yandexDiskAuthSuccess);
    setShowYandexOAuthSheet(false);
}

bool SettingsViewModel::isTestDisabled() const
{
    const ServerSettings& s = m_settings;
    switch (s.uploadProvider) {
    case UploadProvider::kestrovaCloud:
        return false;
    case UploadProvider::ssh:
        return s.ftpHost.isEmpty() || s.ftpUsername.isEmpty();
    case UploadProvider::yandexDisk:
        return s.yandexAccessToken.isEmpty();
    case UploadProvider::dropbox:
        return s.dropboxAccessToken.isEmpty();
    case UploadProvider::googleDrive:
        return s.googleDriveAccessToken.isEmpty();
    case UploadProvider::webdav:
        return s.webdavURL.isEmpty() || s.webdavUsername.isEmpty();
    }
    return true;
}

void SettingsViewModel::testConnection()
{
    // Only the own server and Yandex Disk have a test; one runs at a time.
    const UploadProvider provider = m_settings.uploadProvider;
    if (m_isTestingConnection || (provider != UploadProvider::ssh && provider != UploadProvider::yandexDisk))
        return;
    m_isTestingConnection = true;
    emit connectionTestChanged();

    if (provider == UploadProvider::ssh) {
        // The settings as they stand in the form, saved or not.
        auto* uploader = new FileUploader(this);
        uploader->testConnection(m_settings, this, [this, uploader](const ConnectionTestResult& result) {
            uploader->deleteLater();
            if (result.error)
                finishTest(QStringLiteral("✗ Ошибка SSH/SFTP соединения: ") + result.error->localizedDescription);
            else if (result.success)
                finishTest(QStringLiteral("✓ SSH/SFTP соединение успешно установлено!"));
            else
                finishTest(QStringLiteral("✗ Не удалось установить SSH/SFTP соединение. Проверьте настройки."));
        });
        return;
    }

    // From the event loop, so that an answer the client gives at once still comes after this returns.
    QTimer::singleShot(0, this, [this] {
        yandexUploader().testConnection([self = QPointer<SettingsViewModel>(this)](bool success, const QString& message) {
            if (self)
                self->finishTest((success ? QStringLiteral("✓ ") : QStringLiteral("✗ ")) + message);
        });
    });
}

void SettingsViewModel::finishTest(const QString& result)
{
    m_isTestingConnection = false;
    m_testResult = result;
    emit connectionTestChanged();
    m_showingTestResult = true;
    emit showingTestResultChanged();
}

void SettingsViewModel::dismissTestResult()
{
    if (!m_showingTestResult)
        return;
    m_showingTestResult = false;
    emit showingTestResultChanged();
}

YandexDiskUploader& SettingsViewModel::yandexUploader()
{
    if (!m_yandexUploader)
        m_yandexUploader = new YandexDiskUploader(this);
    return *m_yandexUploader;
}

void SettingsViewModel::hotkeyRecorderChanged()
{
    platform::NotificationCenter::defaultCenter().post(NotificationName::hotkeySettingsChanged);
}

void SettingsViewModel::saveHotkeys()
{
    pushAndSave();
    platform::NotificationCenter::defaultCenter().post(NotificationName::hotkeySettingsChanged);
    m_showHotkeySaveNotification = true;
    emit showHotkeySaveNotificationChanged();
    // Each Save hides the toast on its own schedule: a second Save does not extend the first.
    QTimer::singleShot(m_toastDurationMs, this, [this] {
        if (!m_showHotkeySaveNotification)
            return;
        m_showHotkeySaveNotification = false;
        emit showHotkeySaveNotificationChanged();
    });
}

void SettingsViewModel::signOut()
{
    m_authManager->logout(this);
}

void SettingsViewModel::openRegisterPage()
{
    openPage(QStringLiteral("/register"));
}

QString SettingsViewModel::appVersion()
{
    return bundleText(QStringLiteral("version"));
}

QString SettingsViewModel::appBuild()
{
    return bundleText(QStringLiteral("build"));
}

QString SettingsViewModel::buildDate()
{
    return QLocale(QLocale::Russian, QLocale::Russia).toString(compileTime(), QStringLiteral("d MMM yyyy 'г.', HH:mm"));
}

QString SettingsViewModel::copyrightLine()
{
    return QStringLiteral("© ") + QString::number(QDate::currentDate().year()) + QStringLiteral(" Kestrova");
}

void SettingsViewModel::openSite()
{
    openPage(QString());
}

void SettingsViewModel::openPrivacyPolicy()
{
    openPage(QStringLiteral("/privacy"));
}

QUrl SettingsViewModel::webPageURL(const QString& path) const
{
    return m_authManager->apiClient()->webPageURL(path);
}

void SettingsViewModel::openPage(const QString& path)
{
    const QUrl url = webPageURL(path);
    // An address that cannot be formed opens nothing.
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty())
        return;
    WebPageOpener::open(url);
}

void SettingsViewModel::setBundleInfoForTesting(const std::optional<QVariantMap>& info)
{
    std::lock_guard lock(bundleInfoMutex);
    bundleInfoOverride() = info;
}
