#include "screenshots/CloudAccount.h"

CloudAccount::CloudAccount(QObject* parent)
    : QObject(parent)
{
}

void CloudAccount::setIsAuthenticated(bool authenticated)
{
    if (m_isAuthenticated == authenticated)
        return;
    m_isAuthenticated = authenticated;
    emit isAuthenticatedChanged();
}
