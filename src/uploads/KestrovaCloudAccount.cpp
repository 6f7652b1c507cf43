#include "uploads/KestrovaCloudAccount.h"

#include "cloud/AuthManager.h"

KestrovaCloudAccount::KestrovaCloudAccount(AuthManager& authManager, QObject* parent)
    : CloudAccount(parent)
{
    setIsAuthenticated(authManager.isAuthenticated());
    // The connection goes with either object, so the manager is never read after it is gone.
    connect(&authManager, &AuthManager::isAuthenticatedChanged, this,
            [this, manager = &authManager] { setIsAuthenticated(manager->isAuthenticated()); });
}
