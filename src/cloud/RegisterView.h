#pragma once

#include <QWidget>

#include <functional>

class AuthErrorBox;
class AuthManager;
class AuthPrimaryButton;
class QLabel;
class QLineEdit;
class QPushButton;
class RegisterViewModel;

// The sign-up form, 400 by 600, shown as a sheet over the sign-in form. It closes itself, after
// calling `onClose`, from its close button, from "Sign In" and once the account is signed in.
class RegisterView : public QWidget {
    Q_OBJECT
public:
    // `authManager` nullptr: AuthManager::shared().
    explicit RegisterView(std::function<void()> onClose = {}, AuthManager* authManager = nullptr,
                          QWidget* parent = nullptr);

    RegisterViewModel* model() const { return m_model; }

private:
    void refresh();

    RegisterViewModel* m_model;
    QLineEdit* m_name;
    QLineEdit* m_email;
    QLineEdit* m_password;
    QLineEdit* m_confirmation;
    QWidget* m_matchLine;
    QLabel* m_matchIcon;
    QLabel* m_matchText;
    AuthErrorBox* m_errorBox;
    AuthPrimaryButton* m_primary;
    QPushButton* m_signIn;
};
