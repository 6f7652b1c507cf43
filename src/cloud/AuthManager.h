#pragma once

#include "cloud/CloudError.h"
#include "cloud/Expected.h"
#include "cloud/StorageUsage.h"
#include "cloud/User.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

class APIClient;
class QTimer;

// The signed-in Kestrova Cloud account of the process: the state the interface shows, sign-in,
// sign-up and sign-out through the cloud client, one check of a restored token at start, and a
// refresh of the account every 300 s while signed in.
//
// Lives on the GUI thread. No operation fails towards its caller: results are the properties and
// their change signals. The optional `done` of an operation runs on the GUI thread once the
// operation has finished, unless `context` (when given) has been destroyed by then.
class AuthManager : public QObject {
    Q_OBJECT
public:
    // Created on first use, together with APIClient::shared() when that does not exist yet.
    static AuthManager& shared();

    // A manager over `apiClient` (tests give a client of the local fake). When the client holds a
    // non-empty token, its check with the service starts from the event loop; an empty one is
    // dropped, as no token.
    explicit AuthManager(APIClient* apiClient, QObject* parent = nullptr);
    ~AuthManager() override;

    bool isAuthenticated() const { return m_isAuthenticated; }
    const std::optional<User>& currentUser() const { return m_currentUser; }
    const std::optional<StorageUsage>& storageUsage() const { return m_storageUsage; }
    bool isLoading() const { return m_isLoading; }
    const std::optional<QString>& errorMessage() const { return m_errorMessage; }
    APIClient* apiClient() const { return m_apiClient; }
    // "Storage: 0.50 / 1.00 GB (50%)", or "Storage: N/A" without a summary.
    QString storageInfo() const;

    void login(const QString& email, const QString& password, QObject* context = nullptr,
               std::function<void()> done = {});
    // Creates an account and signs in ("register" is a C++ keyword).
    void registerAccount(const QString& name, const QString& email, const QString& password,
                         const QString& passwordConfirmation, QObject* context = nullptr, std::function<void()> done = {});
    // Always ends signed out, whatever the service answers.
    void logout(QObject* context = nullptr, std::function<void()> done = {});
    // Validates the token restored at start. Any failure signs out for this run; only a 401
    // clears the stored token.
    void checkAuthStatus(QObject* context = nullptr, std::function<void()> done = {});
    // Reloads the account record while signed in; an unauthorized answer signs out.
    void refreshUser(QObject* context = nullptr, std::function<void()> done = {});
    // Recomputes the storage summary from the account record (no network).
    void fetchStorageUsage();

    // The running refresh timer, or nullptr.
    QTimer* userRefreshTimer() const { return m_userRefreshTimer; }
    // Tests: a shorter refresh interval for timers started from now on.
    void setRefreshIntervalForTesting(std::chrono::milliseconds interval) { m_refreshInterval = interval; }

signals:
    void isAuthenticatedChanged();
    void currentUserChanged();
    void storageUsageChanged();
    void isLoadingChanged();
    void errorMessageChanged();

private:
    using Done = std::function<void()>;

    void setIsAuthenticated(bool value);
    void setCurrentUser(const std::optional<User>& user);
    void setStorageUsage(const std::optional<StorageUsage>& usage);
    void setIsLoading(bool value);
    void setErrorMessage(const std::optional<QString>& message);

    // The shared tail of sign-in and sign-up, from the client's answer on.
    void completeSignIn(const std::optional<User>& answerUser, const QString& successLine, const QString& failurePrefix,
                        const QString& failureLine, const Done& done);
    void failSignIn(const CloudError& error, const QString& failurePrefix, const QString& failureLine, const Done& done);
    // The service's account record for the session of now; when a sign-in, sign-up or sign-out
    // takes effect before it arrives, the answer is stale and only `done` runs.
    void getCurrentUserInSession(const Done& done, std::function<void(Expected<User, CloudError>)> handle);
    void startUserRefreshTimer();
    void stopUserRefreshTimer();
    static Done guarded(QObject* context, std::function<void()> done);

    APIClient* m_apiClient;
    bool m_isAuthenticated = false;
    std::optional<User> m_currentUser;
    std::optional<StorageUsage> m_storageUsage;
    bool m_isLoading = false;
    std::optional<QString> m_errorMessage;
    QTimer* m_userRefreshTimer = nullptr;
    std::chrono::milliseconds m_refreshInterval{300000};
    // Bumped whenever a sign-in, sign-up or sign-out takes effect: a check or refresh that was
    // out while it happened answers for a session that no longer exists.
    quint64 m_session = 0;
};
