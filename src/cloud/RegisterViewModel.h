#pragma once

#include "cloud/AuthFormModel.h"

#include <QString>

// The state and rules of the sign-up form; RegisterView draws it. It closes itself, calling
// `onClose`, from its close button, from "Sign In" and once the sign-up completes.
class RegisterViewModel : public AuthFormModel {
    Q_OBJECT
public:
    enum class PasswordMatch {
        hidden,   // one of the two password fields is empty
        matching,
        differing,
    };

    // `authManager` nullptr: AuthManager::shared().
    explicit RegisterViewModel(AuthManager* authManager = nullptr, QObject* parent = nullptr);

    const QString& name() const { return m_name; }
    const QString& email() const { return m_email; }
    const QString& password() const { return m_password; }
    const QString& passwordConfirmation() const { return m_passwordConfirmation; }
    void setName(const QString& name);
    void setEmail(const QString& email);
    void setPassword(const QString& password);
    void setPasswordConfirmation(const QString& confirmation);

    // Name, e-mail with an at sign, a password of at least 8 characters as the user sees them,
    // and a confirmation equal to it.
    bool isFormValid() const override;
    QString primaryTitle() const override;
    PasswordMatch passwordMatch() const;
    QString passwordMatchText() const;

    // User-perceived characters (grapheme clusters), not bytes or code units.
    static int characterCount(const QString& text);

    void handleRegister();

private:
    QString m_name;
    QString m_email;
    QString m_password;
    QString m_passwordConfirmation;
};
