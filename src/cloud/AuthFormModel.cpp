#include "cloud/AuthFormModel.h"

#include "cloud/AuthManager.h"

AuthFormModel::AuthFormModel(AuthManager* authManager, QObject* parent)
    : QObject(parent)
    , m_authManager(authManager ? authManager : &AuthManager::shared())
{
    connect(m_authManager, &AuthManager::isLoadingChanged, this, &AuthFormModel::changed);
    connect(m_authManager, &AuthManager::errorMessageChanged, this, &AuthFormModel::changed);
}

bool AuthFormModel::isLoading() const
{
    return m_authManager->isLoading();
}

std::optional<QString> AuthFormModel::errorText() const
{
    return m_authManager->errorMessage();
}

void AuthFormModel::close()
{
    if (onClose)
        onClose();
    emit dismissRequested();
}

void AuthFormModel::setField(QString& field, const QString& value)
{
    if (field == value)
        return;
    field = value;
    emit changed();
}
