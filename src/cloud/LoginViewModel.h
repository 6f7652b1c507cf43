#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

class AuthManager;

// The state and rules of the sign-in form; LoginView draws it. Talks to the account manager
// only: the typed values go to its login, and its published state drives the form.
class LoginViewModel : public QObject {
    Q_OBJECT
public:
    // `authManager` nullptr: AuthManager::shared().
    explicit LoginViewModel(AuthManager* authManager = nullptr, QObject* parent = nullptr);

    // Called once the account manager reports a signed-in account / when the user closes the form.
    std::function<void()> onSuccess;
    std::function<void()> onClose;

    AuthManager* authManager() const { return m_authManager; }
    const QString& email() const { return m_email; }
    const QString& password() const { return m_password; }
    void setEmail(const QString& email);
    void setPassword(const QString& password);
    bool isShowingRegister() const { return m_isShowingRegister; }

    // Non-empty e-mail holding an at sign, and a non-empty password; nothing is trimmed.
    bool isFormValid() const;
    bool isLoading() const;
    bool isPrimaryEnabled() const { return !isLoading() && isFormValid(); }
    // The fields and the "Create Account" link; the close button and the password link stay enabled.
    bool areInputsEnabled() const { return !isLoading(); }
    QString primaryTitle() const;
    std::optional<QString> errorText() const;
    QUrl passwordResetURL() const;

    // The primary button: signs in with the field contents as they are when the call runs.
    void handleLogin();
    // The close button.
    void close();
    // "Create Account": asks the view to present the sign-up form.
    void showRegister();
    // The sign-up form closed itself.
    void registerClosed();
    // "Forgot Password?": the service's page in the browser.
    void forgotPassword();

signals:
    // Something the form shows has changed.
    void changed();
    void dismissRequested();
    void registerRequested();

private:
    AuthManager* m_authManager;
    QString m_email;
    QString m_password;
    bool m_isShowingRegister = false;
};
