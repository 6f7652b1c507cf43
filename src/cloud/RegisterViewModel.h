#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class AuthManager;

// The state and rules of the sign-up form; RegisterView draws it.
class RegisterViewModel : public QObject {
    Q_OBJECT
public:
    enum class PasswordMatch {
        hidden,   // one of the two password fields is empty
        matching,
        differing,
    };

    // `authManager` nullptr: AuthManager::shared().
    explicit RegisterViewModel(AuthManager* authManager = nullptr, QObject* parent = nullptr);

    // Called whenever the form closes itself: its close button, "Sign In", a completed sign-up.
    std::function<void()> onClose;

    AuthManager* authManager() const { return m_authManager; }
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
    bool isFormValid() const;
    bool isLoading() const;
    bool isPrimaryEnabled() const { return !isLoading() && isFormValid(); }
    bool areInputsEnabled() const { return !isLoading(); }
    QString primaryTitle() const;
    std::optional<QString> errorText() const;
    PasswordMatch passwordMatch() const;
    QString passwordMatchText() const;

    // User-perceived characters (grapheme clusters), not bytes or code units.
    static int characterCount(const QString& text);

    void handleRegister();
    // The close button and "Sign In" alike.
    void close();

signals:
    void changed();
    void dismissRequested();

private:
    void set(QString& field, const QString& value);

    AuthManager* m_authManager;
    QString m_name;
    QString m_email;
    QString m_password;
    QString m_passwordConfirmation;
};
