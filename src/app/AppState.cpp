#include "app/AppState.h"

#include "app/DebugLogger.h"
#include "app/KeychainService.h"
#include "platform/Console.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <mutex>
#include <thread>
#include <utility>

namespace {

// How the keychain answered when the cache was filled. The cache becomes the empty record in every
// case but the first; the last two must not be overwritten blindly.
enum class CredentialsSource {
    decoded,     // the stored record
    noItem,      // nothing stored yet
    undecodable, // stored bytes that are not a valid record: kept as a backup before overwriting
    unreadable,  // the keychain could not be read: re-read before writing, never overwrite blind
    reading,     // the launch's read is still out: changes are kept as while unreadable, until it answers
};

struct CredentialsCache {
    std::recursive_mutex mutex;
    std::optional<SecureCredentials> record;
    bool loaded = false;
    CredentialsSource source = CredentialsSource::noItem;
    QByteArray undecodableData;
    // The changes made while the keychain could not be read, oldest first. The record then holds
    // only these; once the keychain reads again they run again on the stored record.
    QList<std::function<void(SecureCredentials&)>> pending;
    // Why the load could not read the keychain, until the launch reports it.
    QString loadError;
    // The launch has taken loadError: a read that answers later logs its own failure.
    bool loadReported = false;
    // Tells the answer of a read in the background from one for a cache forgotten since.
    quint64 generation = 0;
    // A write is waiting for the keychain on this thread, whose events run meanwhile: a change
    // arriving from one of them waits here and is written after it, in order.
    bool writing = false;
    QList<std::function<void(SecureCredentials&)>> deferred;
};

CredentialsCache& cache()
{
    static CredentialsCache* c = new CredentialsCache;
    return *c;
}

const QString backupAccount = KeychainService::credentialsAccount + QStringLiteral(".bak");

QString readErrorMessage(const QString& backendText)
{
    return QStringLiteral("Keychain could not be read: ") + backendText;
}

// Puts what the keychain answered into the cache; caller holds the lock. Returns the backend's
// message when the keychain could not be read; the cache then holds the empty record.
QString fillCache(CredentialsCache& c, const platform::KeychainLookup& lookup)
{
    c.undecodableData.clear();
    c.record = SecureCredentials{};
    switch (lookup.status) {
    case platform::KeychainStatus::Success:
        if (auto record = SecureCredentials::fromJson(lookup.data)) {
            c.record = *record;
            c.source = CredentialsSource::decoded;
        } else {
            c.source = CredentialsSource::undecodable;
            c.undecodableData = lookup.data;
        }
        return QString();
    case platform::KeychainStatus::ItemNotFound:
        c.source = CredentialsSource::noItem;
        return QString();
    case platform::KeychainStatus::Error:
        c.source = CredentialsSource::unreadable;
        return lookup.errorText;
    }
    return QString();
}

// Reads the item into the cache; caller holds the lock. As fillCache.
QString readIntoCache(CredentialsCache& c)
{
    return fillCache(c, KeychainService::shared().readSecureData(KeychainService::credentialsAccount));
}

// Writes the cached record to the item, the undecodable bytes it replaces backed up first; caller
// holds the lock. True when written.
bool writeRecord(CredentialsCache& c)
{
    auto& logger = DebugLogger::shared();
    if (c.source == CredentialsSource::undecodable) {
        QString error;
        // The stored bytes as they are, even when they are not valid UTF-8.
        if (!KeychainService::shared().saveSecureBytes(backupAccount, c.undecodableData, &error)) {
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
    c.undecodableData.clear();
    return true;
}

// Applies `change` and writes the record when that is safe (see updateCredentials); caller holds
// the lock and has marked the cache as writing.
bool applyAndWrite(CredentialsCache& c, const std::function<void(SecureCredentials&)>& change)
{
    auto& logger = DebugLogger::shared();

    if (c.source == CredentialsSource::reading) {
        // The launch's read answers later; it takes this change over then.
        c.record = c.record.value_or(SecureCredentials{});
        change(*c.record);
        c.pending.append(change);
        logger.log(QStringLiteral("Keychain is still being read; credentials are saved once it answers"));
        return false;
    }
    if (c.source == CredentialsSource::unreadable) {
        // The cache holds only the changes made since; writing it would erase whatever the item holds.
        const SecureCredentials changesOnly = c.record.value_or(SecureCredentials{});
        const QString readError = readIntoCache(c);
        if (c.source == CredentialsSource::unreadable) {
            c.record = changesOnly;
            change(*c.record);
            c.pending.append(change);
            logger.logErrorMessage(readErrorMessage(readError));
            logger.logErrorMessage(QStringLiteral("Keychain is unreadable; credentials were not saved"));
            return false;
        }
        // Read back: the kept changes go onto the stored record in the order they were made, then
        // this one, and the record is written once.
        for (const auto& pendingChange : std::as_const(c.pending))
            pendingChange(*c.record);
        c.pending.clear();
    }
    if (!c.record)
        c.record = SecureCredentials{};
    change(*c.record);
    return writeRecord(c);
}

// Runs `write` with the cache marked as writing, then the changes that arrived meanwhile; caller
// holds the lock.
bool writeExclusively(CredentialsCache& c, const std::function<bool()>& write)
{
    c.writing = true;
    bool written = write();
    while (!c.deferred.isEmpty()) {
        const auto next = c.deferred.takeFirst();
        written = applyAndWrite(c, next);
    }
    c.writing = false;
    return written;
}

void finishBackgroundLoad(quint64 generation, const platform::KeychainLookup& lookup)
{
    CredentialsCache& c = cache();
    {
        std::lock_guard lock(c.mutex);
        if (generation != c.generation || c.source != CredentialsSource::reading)
            return;
        const SecureCredentials changesOnly = c.record.value_or(SecureCredentials{});
        const QString error = fillCache(c, lookup);
        if (!error.isEmpty()) {
            // The changes made while it was out stay kept, as for any unreadable keychain.
            c.record = changesOnly;
            if (c.loadReported)
                DebugLogger::shared().logErrorMessage(readErrorMessage(error));
            else
                c.loadError = readErrorMessage(error);
        } else if (!c.pending.isEmpty()) {
            writeExclusively(c, [&c] {
                const auto changes = std::exchange(c.pending, {});
                for (const auto& change : changes)
                    change(*c.record);
                return writeRecord(c);
            });
        }
    }
    platform::NotificationCenter::defaultCenter().post(AppState::credentialsReadNotification);
}

// The launch's read, off the GUI thread: a prompt or a Secret Service that does not answer must
// not hold the start. The cache is the empty record meanwhile; caller holds the lock, on the GUI thread.
void startBackgroundLoad(CredentialsCache& c)
{
    c.pending.clear();
    c.record = SecureCredentials{};
    c.source = CredentialsSource::reading;
    const quint64 generation = ++c.generation;

    // The answer travels under a lock of our own; only a bare wake-up goes through Qt's event
    // queue, whose locking a thread checker cannot follow.
    struct Answer {
        std::mutex mutex;
        std::optional<platform::KeychainLookup> lookup;
        bool quitting = false; // nothing is to be posted to the GUI thread any more
    };
    auto answer = std::make_shared<Answer>();
    auto* wake = new QTimer;
    wake->setSingleShot(true);
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, wake, [answer] {
        std::lock_guard lock(answer->mutex);
        answer->quitting = true;
    });
    QObject::connect(wake, &QTimer::timeout, wake, [wake, answer, generation] {
        std::optional<platform::KeychainLookup> lookup;
        {
            std::lock_guard lock(answer->mutex);
            lookup = std::move(answer->lookup);
        }
        wake->deleteLater();
        if (lookup)
            finishBackgroundLoad(generation, *lookup);
    });
    // The thread owns what it uses: a read still out when the process exits outlives its statics.
    std::thread([answer, wake, backend = platform::KeychainBackend::currentShared(),
                 service = KeychainService::shared().service, account = KeychainService::credentialsAccount] {
        platform::KeychainLookup lookup = backend->lookup(service, account);
        std::lock_guard lock(answer->mutex);
        if (answer->quitting)
            return;
        answer->lookup = std::move(lookup);
        QMetaObject::invokeMethod(wake, "start", Qt::QueuedConnection);
    }).detach();
}

} // namespace

AppState::AppState(QObject* parent)
    : QObject(parent)
{
    bool reading;
    {
        std::lock_guard lock(cache().mutex);
        if (!cache().loaded) {
            QCoreApplication* app = QCoreApplication::instance();
            if (platform::KeychainBackend::current().mayBlock() && app && QThread::currentThread() == app->thread())
                startBackgroundLoad(cache());
            else
                loadCredentials();
            cache().loaded = true;
        }
        reading = cache().source == CredentialsSource::reading;
    }
    loadSettings();
    if (reading) {
        platform::NotificationCenter::defaultCenter().addObserver(credentialsReadNotification, this,
                                                                  [this](const platform::Notification&) {
                                                                      takeReadCredentials();
                                                                  });
    }
}

void AppState::takeReadCredentials()
{
    ServerSettings s = m_serverSettings;
    const SecureCredentials record = credentials().value_or(SecureCredentials{});
    s.ftpPassword = record.ftpPasswords.value(SecureCredentials::passwordKey(s.ftpUsername, s.ftpHost));
    s.yandexAccessToken = record.yandexAccessToken;
    s.yandexRefreshToken = record.yandexRefreshToken;
    if (s != m_serverSettings)
        setServerSettings(s);
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
    // A fresh start: changes kept from an earlier unreadable state go with the cache they were in.
    c.pending.clear();
    const QString error = readIntoCache(c);
    // The first load runs before the launch has logged its first line; the launch reports it.
    c.loadError = error.isEmpty() ? QString() : readErrorMessage(error);
}

QString AppState::takeCredentialsLoadError()
{
    CredentialsCache& c = cache();
    std::lock_guard lock(c.mutex);
    c.loadReported = true;
    return std::exchange(c.loadError, QString());
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
    {
        CredentialsCache& c = cache();
        std::lock_guard lock(c.mutex);
        // The token already held: nothing to store. While the keychain is unreadable the cache's
        // empty token stands for "never read", so clearing it keeps no change that could later
        // wipe the stored token.
        if (c.record.value_or(SecureCredentials{}).kestrovaApiToken == value)
            return;
    }
    updateCredentials([value](SecureCredentials& record) { record.kestrovaApiToken = value; });
}

bool AppState::updateCredentials(const std::function<void(SecureCredentials&)>& change)
{
    CredentialsCache& c = cache();
    // Held across the keychain write so that two writers cannot store their changes out of order.
    std::lock_guard lock(c.mutex);
    if (c.writing) {
        // Called from an event run while this thread waits for the keychain: after that write.
        c.deferred.append(change);
        return false;
    }
    return writeExclusively(c, [&c, &change] { return applyAndWrite(c, change); });
}

void AppState::resetCredentialsForTesting()
{
    CredentialsCache& c = cache();
    std::lock_guard lock(c.mutex);
    c.record.reset();
    c.loaded = false;
    c.source = CredentialsSource::noItem;
    c.undecodableData.clear();
    c.pending.clear();
    c.loadError.clear();
    c.loadReported = false;
    ++c.generation;
    c.writing = false;
    c.deferred.clear();
}
