#pragma once

#include "cloud/RegisterView.h"

#include <QPointer>
#include <QWidget>

#include <functional>

class AuthErrorBox;
class AuthManager;
class AuthPrimaryButton;
class LoginViewModel;
class QLineEdit;
class QPushButton;

// The sign-in form of the Kestrova Cloud account, 400 by 500. It hands the typed values to the
// account manager and closes itself once the manager reports a signed-in account, after calling
// `onSuccess`; its close button calls `onClose` first. Over it, "Create Account" opens the
// sign-up form as a window-modal sheet.
class LoginView : public QWidget {
    Q_OBJECT
public:
    // `authManager` nullptr: AuthManager::shared().
    explicit LoginView(std::function<void()> onSuccess = {}, std::function<void()> onClose = {},
                       AuthManager* authManager = nullptr, QWidget* parent = nullptr);

    LoginViewModel* model() const { return m_model; }
    // The sign-up sheet while it is shown.
    RegisterView* registerView() const { return m_registerView; }

private:
    void refresh();
    void presentRegister();

    LoginViewModel* m_model;
    QLineEdit* m_email;
    QLineEdit* m_password;
    AuthErrorBox* m_errorBox;
    AuthPrimaryButton* m_primary;
    QPushButton* m_createAccount;
    QPointer<RegisterView> m_registerView;
};
