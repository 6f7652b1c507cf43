#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class AuthManager;

// What the sign-in and sign-up models share: the account manager whose loading state and error
// drive the form, the rule of the primary button, and closing.
class AuthFormModel : public QObject {
    Q_OBJECT
public:
    // Called when the form closes itself through close().
    std::function<void()> onClose;

    AuthManager* authManager() const { return m_authManager; }

    virtual bool isFormValid() const = 0;
    bool isLoading() const;
    bool isPrimaryEnabled() const { return !isLoading() && isFormValid(); }
    bool areInputsEnabled() const { return !isLoading(); }
    virtual QString primaryTitle() const = 0;
    std::optional<QString> errorText() const;

    // `onClose`, then the form goes.
    void close();

signals:
    // Something the form shows has changed.
    void changed();
    void dismissRequested();

protected:
    // `authManager` nullptr: AuthManager::shared().
    AuthFormModel(AuthManager* authManager, QObject* parent);

    // A typed value; only a different one is announced.
    void setField(QString& field, const QString& value);

    AuthManager* m_authManager;
};
