#include "cloud/RegisterViewModel.h"

#include "app/Localization.h"
#include "cloud/AuthManager.h"

#include <QTextBoundaryFinder>
#include <QTimer>

RegisterViewModel::RegisterViewModel(AuthManager* authManager, QObject* parent)
    : AuthFormModel(authManager, parent)
{
    connect(m_authManager, &AuthManager::isAuthenticatedChanged, this, [this] {
        if (m_authManager->isAuthenticated())
            close();
    });
}

void RegisterViewModel::setName(const QString& name)
{
    setField(m_name, name);
}

void RegisterViewModel::setEmail(const QString& email)
{
    setField(m_email, email);
}

void RegisterViewModel::setPassword(const QString& password)
{
    setField(m_password, password);
}

void RegisterViewModel::setPasswordConfirmation(const QString& confirmation)
{
    setField(m_passwordConfirmation, confirmation);
}

int RegisterViewModel::characterCount(const QString& text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

bool RegisterViewModel::isFormValid() const
{
    return !m_name.isEmpty() && !m_email.isEmpty() && m_email.contains(QLatin1Char('@'))
           && characterCount(m_password) >= 8 && m_password == m_passwordConfirmation;
}

QString RegisterViewModel::primaryTitle() const
{
    return isLoading() ? L::text(QStringLiteral("Создание аккаунта..."), QStringLiteral("Creating Account..."))
                       : L::text(QStringLiteral("Создать аккаунт"), QStringLiteral("Create Account"));
}

RegisterViewModel::PasswordMatch RegisterViewModel::passwordMatch() const
{
    if (m_password.isEmpty() || m_passwordConfirmation.isEmpty())
        return PasswordMatch::hidden;
    return m_password == m_passwordConfirmation ? PasswordMatch::matching : PasswordMatch::differing;
}

QString RegisterViewModel::passwordMatchText() const
{
    switch (passwordMatch()) {
    case PasswordMatch::hidden:
        return QString();
    case PasswordMatch::matching:
        return L::text(QStringLiteral("Пароли совпадают"), QStringLiteral("Passwords match"));
    case PasswordMatch::differing:
        return L::text(QStringLiteral("Пароли не совпадают"), QStringLiteral("Passwords don't match"));
    }
    return QString();
}

void RegisterViewModel::handleRegister()
{
    if (!isPrimaryEnabled())
        return;
    QTimer::singleShot(0, this, [this] {
        m_authManager->registerAccount(m_name, m_email, m_password, m_passwordConfirmation);
    });
}
