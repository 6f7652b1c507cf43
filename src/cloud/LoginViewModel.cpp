#include "cloud/LoginViewModel.h"

#include "app/Localization.h"
#include "cloud/APIClient.h"
#include "cloud/AuthManager.h"
#include "cloud/WebPageOpener.h"

#include <QTimer>

LoginViewModel::LoginViewModel(AuthManager* authManager, QObject* parent)
    : AuthFormModel(authManager, parent)
{
    // Only a change to signed in counts: a form opened while signed in stays open.
    connect(m_authManager, &AuthManager::isAuthenticatedChanged, this, [this] {
        if (!m_authManager->isAuthenticated())
            return;
        if (onSuccess)
            onSuccess();
        emit dismissRequested();
    });
}

void LoginViewModel::setEmail(const QString& email)
{
    setField(m_email, email);
}

void LoginViewModel::setPassword(const QString& password)
{
    setField(m_password, password);
}

bool LoginViewModel::isFormValid() const
{
    return !m_email.isEmpty() && !m_password.isEmpty() && m_email.contains(QLatin1Char('@'));
}

QString LoginViewModel::primaryTitle() const
{
    return isLoading() ? L::text(QStringLiteral("Вход..."), QStringLiteral("Signing in..."))
                       : L::text(QStringLiteral("Войти"), QStringLiteral("Sign In"));
}

QUrl LoginViewModel::passwordResetURL() const
{
    return m_authManager->apiClient()->webPageURL(QStringLiteral("/password/reset"));
}

void LoginViewModel::handleLogin()
{
    if (!isPrimaryEnabled())
        return;
    QTimer::singleShot(0, this, [this] { m_authManager->login(m_email, m_password); });
}

void LoginViewModel::showRegister()
{
    if (m_isShowingRegister || !areInputsEnabled())
        return;
    m_isShowingRegister = true;
    emit changed();
    emit registerRequested();
}

void LoginViewModel::registerClosed()
{
    if (!m_isShowingRegister)
        return;
    m_isShowingRegister = false;
    emit changed();
}

void LoginViewModel::forgotPassword()
{
    WebPageOpener::open(passwordResetURL());
}
