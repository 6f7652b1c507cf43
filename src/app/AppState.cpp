#include "app/AppState.h"

#include "app/DebugLogger.h"
#include "app/KeychainService.h"
#include "platform/Console.h"
#include "platform/UserDefaults.h"

#include <mutex>

namespace {

// How the keychain answered when the cache was filled. The cache becomes the empty record in every
// case but the first; the last two must not be overwritten blindly.
enum class CredentialsSource {
    decoded,     // the stored record
    noItem,      // nothing stored yet
    undecodable, // a stored text that is not a valid record: kept as a backup before overwriting
    unreadable,  // the keychain could not be read: re-read before writing, never overwrite blind
};

struct CredentialsCache {
    std::recursive_mutex mutex;
    std::optional<SecureCredentials> record;
    bool loaded = false;
    CredentialsSource source = CredentialsSource::noItem;
    QString undecodableText;
};

CredentialsCache& cache()
{
    static CredentialsCache* c = new CredentialsCache;
    return *c;
}

const QString backupAccount = KeychainService::credentialsAccount + QStringLiteral(".bak");

// Reads the item into the cache; caller holds the lock.
void readIntoCache(CredentialsCache& c)
{
    const platform::KeychainLookup lookup = KeychainService::shared().readSecureData(KeychainService::credentialsAccount);
    c.undecodableText.clear();
    switch (lookup.status) {
    case platform::KeychainStatus::Success:
        if (auto record = SecureCredentials::fromJson(lookup.data)) {
            c.record = *record;
            c.source = CredentialsSource::decoded;
        } else {
            c.record = SecureCredentials{};
            c.source = CredentialsSource::undecodable;
            c.undecodableText = QString::fromUtf8(lookup.data);
        }
        break;
    case platform::KeychainStatus::ItemNotFound:
        c.record = SecureCredentials{};
        c.source = CredentialsSource::noItem;
        break;
    case platform::KeychainStatus::Error:
        c.record = SecureCredentials{};
        c.source = CredentialsSource::unreadable;
        DebugLogger::shared().logErrorMessage(QStringLiteral("Keychain could not be read: ") + lookup.errorText);
        break;
    }
}

} // namespace

AppState::AppState(QObject* parent)
    : QObject(parent)
{
    {
        std::lock_guard lock(cache().mutex);
        if (!cache().loaded) {
            loadCredentials();
            cache().loaded = true;
        }
    }
    loadSettings();
}

void AppState::setCapturedImage(const QImage& image)
{
    m_capturedImage = image;
    platform::Console::printLine(QStringLiteral("AppState: capturedImage updated - ")
                                 + (image.isNull() ? QStringLiteral("nil") : QStringLiteral("has image")));
    emit capturedImageChanged();
}

void AppState::setIsEditing(bool editing)
{
    if (m_isEditing == editing)
        return;
    m_isEditing = editing;
    emit isEditingChanged();
}

void AppState::setAnnotations(const QList<Annotation>& annotations)
{
    m_annotations = annotations;
    emit annotationsChanged();
}

void AppState::setServerSettings(const ServerSettings& settings)
{
    m_serverSettings = settings;
    emit serverSettingsChanged();
}

void AppState::setLastUsedUploadProvider(UploadProvider provider)
{
    m_serverSettings.lastUsedUploadProvider = provider;
    emit serverSettingsChanged();
}

void AppState::loadSettings()
{
    const platform::UserDefaults defaults = platform::UserDefaults::standard();
    ServerSettings& s = m_serverSettings;
    auto text = [&](const char* key, const QString& fallback = QString()) {
        return defaults.string(QString::fromLatin1(key)).value_or(fallback);
    };
    if (auto raw = defaults.string(QStringLiteral("uploadProvider")))
        if (auto provider = UploadProviders::fromRawValue(*raw))
            s.uploadProvider = *provider;
    if (auto raw = defaults.string(QStringLiteral("lastUsedUploadProvider")))
        if (auto provider = UploadProviders::fromRawValue(*raw))
            s.lastUsedUploadProvider = *provider;
    s.ftpHost = text("ftpHost");
    const auto port = defaults.integer(QStringLiteral("ftpPort"));
    s.ftpPort = (port && *port != 0 && *port > 0 && *port <= 65535) ? static_cast<int>(*port) : 21;
    s.ftpUsername = text("ftpUsername");
    const SecureCredentials record = credentials().value_or(SecureCredentials{});
    s.ftpPassword = record.ftpPasswords.value(SecureCredentials::passwordKey(s.ftpUsername, s.ftpHost));
    s.useSFTP = defaults.boolean(QStringLiteral("useSFTP")).value_or(false);
    s.useFTPS = defaults.boolean(QStringLiteral("useFTPS")).value_or(false);
    s.ftpDirectory = text("ftpDirectory");
    s.baseURL = text("baseURL");
    s.yandexAccessToken = record.yandexAccessToken;
    s.yandexRefreshToken = record.yandexRefreshToken;
    s.yandexFolder = text("yandexFolder", QStringLiteral("app:/"));
    s.yandexPublicBaseURL = text("yandexPublicBaseURL");
    s.screenshotHotkey = text("screenshotHotkey");
    s.fullScreenHotkey = text("fullScreenHotkey");
    s.screenRecordingHotkey = text("screenRecordingHotkey");
}

void AppState::loadCredentials()
{
    CredentialsCache& c = cache();
    std::lock_guard lock(c.mutex);
    readIntoCache(c);
}

std::optional<SecureCredentials> AppState::credentials()
{
    CredentialsCache& c = cache();
    std::lock_guard lock(c.mutex);
    return c.record;
}

bool AppState::credentialsLoaded()
{
    CredentialsCache& c = cache();
    std::lock_guard lock(c.mutex);
    return c.loaded;
}

void AppState::setKestrovaApiToken(const std::optional<QString>& token)
{
    const QString value = token.value_or(QString());
    updateCredentials([&](SecureCredentials& record) { record.kestrovaApiToken = value; });
}

bool AppState::updateCredentials(const std::function<void(SecureCredentials&)>& change)
{
    CredentialsCache& c = cache();
    // Held across the keychain write so that two writers cannot store their changes out of order.
    std::lock_guard lock(c.mutex);
    auto& logger = DebugLogger::shared();

    if (c.source == CredentialsSource::unreadable) {
        // The cache is an empty stand-in; writing it would erase whatever the item holds.
        SecureCredentials pending = c.record.value_or(SecureCredentials{});
        readIntoCache(c);
        if (c.source == CredentialsSource::unreadable) {
            change(pending);
            c.record = pending;
            logger.logErrorMessage(QStringLiteral("Keychain is unreadable; credentials were not saved"));
            return false;
        }
    }
    if (!c.record)
        c.record = SecureCredentials{};
    change(*c.record);

    if (c.source == CredentialsSource::undecodable) {
        QString error;
        if (!KeychainService::shared().saveSecureData(backupAccount, c.undecodableText, &error)) {
            logger.logErrorMessage(QStringLiteral("Could not back up the unreadable credentials record: ") + error);
            return false;
        }
    }

    QString error;
    const bool saved = KeychainService::shared().saveSecureData(KeychainService::credentialsAccount,
                                                                QString::fromUtf8(c.record->toJson()), &error);
    if (!saved) {
        logger.logErrorMessage(QStringLiteral("Failed to save credentials to keychain: ") + error);
        return false;
    }
    c.source = CredentialsSource::decoded;
    c.undecodableText.clear();
    return true;
}

void AppState::resetCredentialsForTesting()
{
    CredentialsCache& c = cache();
    std::lock_guard lock(c.mutex);
    c.record.reset();
    c.loaded = false;
    c.source = CredentialsSource::noItem;
    c.undecodableText.clear();
}
