#pragma once

#include "cloud/AuthFormModel.h"

#include <QString>
#include <QUrl>

#include <functional>

// The state and rules of the sign-in form; LoginView draws it. Talks to the account manager
// only: the typed values go to its login, and its published state drives the form.
// areInputsEnabled() covers the fields and the "Create Account" link; the close button and the
// password link stay enabled, and the close button calls `onClose`.
class LoginViewModel : public AuthFormModel {
    Q_OBJECT
public:
    // `authManager` nullptr: AuthManager::shared().
    explicit LoginViewModel(AuthManager* authManager = nullptr, QObject* parent = nullptr);

    // Called once the account manager reports a signed-in account.
    std::function<void()> onSuccess;

    const QString& email() const { return m_email; }
    const QString& password() const { return m_password; }
    void setEmail(const QString& email);
    void setPassword(const QString& password);
    bool isShowingRegister() const { return m_isShowingRegister; }

    // Non-empty e-mail holding an at sign, and a non-empty password; nothing is trimmed.
    bool isFormValid() const override;
    QString primaryTitle() const override;
    QUrl passwordResetURL() const;

    // The primary button: signs in with the field contents as they are when the call runs.
    void handleLogin();
    // "Create Account": asks the view to present the sign-up form.
    void showRegister();
    // The sign-up form closed itself.
    void registerClosed();
    // "Forgot Password?": the service's page in the browser.
    void forgotPassword();

signals:
    void registerRequested();

private:
    QString m_email;
    QString m_password;
    bool m_isShowingRegister = false;
};
