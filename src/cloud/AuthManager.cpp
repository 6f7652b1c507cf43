#include "cloud/AuthManager.h"

#include "app/AppState.h"
#include "cloud/APIClient.h"
#include "platform/Console.h"
#include "platform/NotificationCenter.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <array>
#include <charconv>

namespace {

void print(const QString& line)
{
    platform::Console::printLine(line);
}

// printf's "%.<n>f" without the process locale's decimal separator.
QString fixed(double value, int precision)
{
    std::array<char, 64> buffer{};
    const auto result =
        std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::fixed, precision);
    return QString::fromLatin1(buffer.data(), static_cast<qsizetype>(result.ptr - buffer.data()));
}

// Stores `value`; true when it differs from what was there, so that only a change is announced.
template <typename T>
bool changed(T& field, const T& value)
{
    if (field == value)
        return false;
    field = value;
    return true;
}

} // namespace

AuthManager& AuthManager::shared()
{
    static AuthManager* instance = [] {
        Q_ASSERT(!QCoreApplication::instance() || QThread::currentThread() == QCoreApplication::instance()->thread());
        return new AuthManager(&APIClient::shared());
    }();
    return *instance;
}

AuthManager::AuthManager(APIClient* apiClient, QObject* parent)
    : QObject(parent)
    , m_apiClient(apiClient)
{
    // An empty text is no token: a signed-out start, and a keychain that could not be read (whose
    // stand-in record is empty), send nothing and so can never have a 401 clear the real record.
    const std::optional<QString> token = m_apiClient->authToken();
    if (token && token->isEmpty())
        m_apiClient->setAuthToken(std::nullopt);
    if (m_apiClient->authToken())
        QMetaObject::invokeMethod(this, [this] { checkAuthStatus(); }, Qt::QueuedConnection);
    // A keychain read at launch that answers after the client was made brings the stored token now.
    platform::NotificationCenter::defaultCenter().addObserver(
        AppState::credentialsReadNotification, this, [this](const platform::Notification&) {
            if (m_apiClient->authToken() || m_isAuthenticated)
                return;
            const QString token = AppState::credentials().value_or(SecureCredentials{}).kestrovaApiToken;
            if (token.isEmpty())
                return;
            m_apiClient->setAuthToken(token);
            checkAuthStatus();
        });
}

AuthManager::~AuthManager() = default;

AuthManager::Done AuthManager::guarded(QObject* context, std::function<void()> done)
{
    if (!done)
        return [] {};
    if (!context)
        return done;
    return [guard = QPointer<QObject>(context), done = std::move(done)] {
        if (guard)
            done();
    };
}

void AuthManager::setIsAuthenticated(bool value)
{
    if (changed(m_isAuthenticated, value))
        emit isAuthenticatedChanged();
}

void AuthManager::setCurrentUser(const std::optional<User>& user)
{
    m_currentUser = user;
    emit currentUserChanged();
}

void AuthManager::setStorageUsage(const std::optional<StorageUsage>& usage)
{
    m_storageUsage = usage;
    emit storageUsageChanged();
}

void AuthManager::setIsLoading(bool value)
{
    if (changed(m_isLoading, value))
        emit isLoadingChanged();
}

void AuthManager::setErrorMessage(const std::optional<QString>& message)
{
    if (changed(m_errorMessage, message))
        emit errorMessageChanged();
}

QString AuthManager::storageInfo() const
{
    if (!m_storageUsage)
        return QStringLiteral("Storage: N/A");
    // 2^30 bytes, labelled GB.
    constexpr double gigabyte = 1073741824.0;
    const double used = static_cast<double>(m_storageUsage->usedBytes) / gigabyte;
    const double total = static_cast<double>(m_storageUsage->totalBytes) / gigabyte;
    const double percent = m_storageUsage->totalBytes < 1 ? 0.0
                                                           : static_cast<double>(m_storageUsage->usedBytes)
                                                                 / static_cast<double>(m_storageUsage->totalBytes) * 100.0;
    return QStringLiteral("Storage: ") + fixed(used, 2) + QStringLiteral(" / ") + fixed(total, 2) + QStringLiteral(" GB (")
           + fixed(percent, 0) + QStringLiteral("%)");
}

void AuthManager::checkAuthStatus(QObject* context, std::function<void()> done)
{
    Done finish = guarded(context, std::move(done));
    const std::optional<QString> token = m_apiClient->authToken();
    if (!token || token->isEmpty()) {
        setIsAuthenticated(false);
        finish();
        return;
    }
    getCurrentUserInSession(finish, [this, finish](Expected<User, CloudError> result) {
        if (!result) {
            // Signed out for this run either way; only the service's 401 says the stored token
            // is bad. Offline, a time-out, a 5xx or an undecodable answer keep it for the next launch.
            m_apiClient->setAuthToken(std::nullopt);
            setIsAuthenticated(false);
            setCurrentUser(std::nullopt);
            if (result.error().is(APIClientError::Case::unauthorized)) {
                AppState::setKestrovaApiToken(std::nullopt);
                print(QStringLiteral("AuthManager: Auth status check failed, token invalid"));
            } else {
                print(QStringLiteral("AuthManager: Auth status check failed, token kept - ")
                      + result.error().localizedDescription());
            }
            finish();
            return;
        }
        setCurrentUser(*result);
        setIsAuthenticated(true);
        fetchStorageUsage();
        startUserRefreshTimer();
        print(QStringLiteral("AuthManager: Auth status check successful for user: ") + result->email);
        finish();
    });
}

void AuthManager::login(const QString& email, const QString& password, QObject* context, std::function<void()> done)
{
    Done finish = guarded(context, std::move(done));
    setIsLoading(true);
    setErrorMessage(std::nullopt);
    m_apiClient->login(email, password, this, [this, finish](Expected<LoginResponse, CloudError> result) {
        const QString prefix = QStringLiteral("Login failed: ");
        const QString failureLine = QStringLiteral("AuthManager: Login failed - ");
        if (!result) {
            failSignIn(result.error(), prefix, failureLine, finish);
            return;
        }
        completeSignIn(result->user, QStringLiteral("AuthManager: Login successful for user: "), prefix, failureLine,
                       finish);
    });
}

void AuthManager::registerAccount(const QString& name, const QString& email, const QString& password,
                                  const QString& passwordConfirmation, QObject* context, std::function<void()> done)
{
    Done finish = guarded(context, std::move(done));
    setIsLoading(true);
    setErrorMessage(std::nullopt);
    m_apiClient->registerAccount(
        name, email, password, passwordConfirmation, this, [this, finish](Expected<RegisterResponse, CloudError> result) {
            const QString prefix = QStringLiteral("Registration failed: ");
            const QString failureLine = QStringLiteral("AuthManager: Registration failed - ");
            if (!result) {
                failSignIn(result.error(), prefix, failureLine, finish);
                return;
            }
            completeSignIn(result->user, QStringLiteral("AuthManager: Registration successful for user: "), prefix,
                           failureLine, finish);
        });
}

void AuthManager::completeSignIn(const std::optional<User>& answerUser, const QString& successLine,
                                 const QString& failurePrefix, const QString& failureLine, const Done& done)
{
    auto signIn = [this, successLine, done](const User& user) {
        ++m_session;
        setCurrentUser(user);
        setIsAuthenticated(true);
        fetchStorageUsage();
        startUserRefreshTimer();
        print(successLine + user.email);
        setIsLoading(false);
        done();
    };
    if (answerUser) {
        signIn(*answerUser);
        return;
    }
    m_apiClient->getCurrentUser(this, [this, signIn, failurePrefix, failureLine, done](Expected<User, CloudError> result) {
        if (result)
            signIn(*result);
        else
            failSignIn(result.error(), failurePrefix, failureLine, done);
    });
}

void AuthManager::failSignIn(const CloudError& error, const QString& failurePrefix, const QString& failureLine,
                             const Done& done)
{
    // The service's own message is shown as it is; everything else gets the operation's prefix.
    const QString text = error.localizedDescription();
    setErrorMessage(error.apiError() ? text : failurePrefix + text);
    print(failureLine + text);
    setIsLoading(false);
    done();
}

void AuthManager::logout(QObject* context, std::function<void()> done)
{
    Done finish = guarded(context, std::move(done));
    setIsLoading(true);
    m_apiClient->logout(this, [this, finish] {
        ++m_session;
        setCurrentUser(std::nullopt);
        setStorageUsage(std::nullopt);
        setIsAuthenticated(false);
        setErrorMessage(std::nullopt);
        stopUserRefreshTimer();
        setIsLoading(false);
        print(QStringLiteral("AuthManager: Logout successful"));
        finish();
    });
}

void AuthManager::refreshUser(QObject* context, std::function<void()> done)
{
    Done finish = guarded(context, std::move(done));
    if (!m_isAuthenticated) {
        finish();
        return;
    }
    getCurrentUserInSession(finish, [this, finish](Expected<User, CloudError> result) {
        if (result) {
            setCurrentUser(*result);
            print(QStringLiteral("AuthManager: User data refreshed"));
            fetchStorageUsage();
            finish();
            return;
        }
        print(QStringLiteral("AuthManager: Failed to refresh user data - ") + result.error().localizedDescription());
        if (result.error().is(APIClientError::Case::unauthorized))
            logout(nullptr, finish);
        else
            finish();
    });
}

void AuthManager::getCurrentUserInSession(const Done& done, std::function<void(Expected<User, CloudError>)> handle)
{
    const quint64 session = m_session;
    m_apiClient->getCurrentUser(this, [this, session, done, handle = std::move(handle)](Expected<User, CloudError> result) {
        if (session != m_session) {
            // Signed out, or signed in again, while the request was out: its answer is stale.
            done();
            return;
        }
        handle(std::move(result));
    });
}

void AuthManager::fetchStorageUsage()
{
    setStorageUsage(m_currentUser ? StorageUsage::from(*m_currentUser) : std::nullopt);
}

void AuthManager::startUserRefreshTimer()
{
    stopUserRefreshTimer();
    m_userRefreshTimer = new QTimer(this);
    m_userRefreshTimer->setInterval(m_refreshInterval);
    connect(m_userRefreshTimer, &QTimer::timeout, this, [this] {
        refreshUser(this, [this] { fetchStorageUsage(); });
    });
    m_userRefreshTimer->start();
}

void AuthManager::stopUserRefreshTimer()
{
    if (!m_userRefreshTimer)
        return;
    m_userRefreshTimer->stop();
    m_userRefreshTimer->deleteLater();
    m_userRefreshTimer = nullptr;
}
