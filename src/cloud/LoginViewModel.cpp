#include "cloud/LoginViewModel.h"

#include "app/Localization.h"
#include "cloud/APIClient.h"
#include "cloud/AuthManager.h"
#include "cloud/WebPageOpener.h"

#include <QTimer>

LoginViewModel::LoginViewModel(AuthManager* authManager, QObject* parent)
    : QObject(parent)
    , m_authManager(authManager ? authManager : &AuthManager::shared())
{
    connect(m_authManager, &AuthManager::isLoadingChanged, this, &LoginViewModel::changed);
    connect(m_authManager, &AuthManager::errorMessageChanged, this, &LoginViewModel::changed);
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
    if (m_email == email)
        return;
    m_email = email;
    emit changed();
}

void LoginViewModel::setPassword(const QString& password)
{
    if (m_password == password)
        return;
    m_password = password;
    emit changed();
}

bool LoginViewModel::isFormValid() const
{
    return !m_email.isEmpty() && !m_password.isEmpty() && m_email.contains(QLatin1Char('@'));
}

bool LoginViewModel::isLoading() const
{
    return m_authManager->isLoading();
}

QString LoginViewModel::primaryTitle() const
{
    return isLoading() ? L::text(QStringLiteral("Вход..."), QStringLiteral("Signing in..."))
                       : L::text(QStringLiteral("Войти"), QStringLiteral("Sign In"));
}

std::optional<QString> LoginViewModel::errorText() const
{
    return m_authManager->errorMessage();
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

void LoginViewModel::close()
{
    if (onClose)
        onClose();
    emit dismissRequested();
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
