#pragma once

#include <QObject>

// The cloud account as the screenshot preview sees it: whether a user is signed in.
class CloudAccount : public QObject {
    Q_OBJECT
public:
    explicit CloudAccount(QObject* parent = nullptr);

    bool isAuthenticated() const { return m_isAuthenticated; }

signals:
    void isAuthenticatedChanged();

protected:
    void setIsAuthenticated(bool authenticated);

private:
    bool m_isAuthenticated = false;
};
