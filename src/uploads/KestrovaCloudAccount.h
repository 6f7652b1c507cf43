#pragma once

#include "screenshots/CloudAccount.h"

class AuthManager;

// The screenshot preview's view of the cloud account: follows the isAuthenticated of an account
// manager (in the application AuthManager::shared()). GUI thread, like the manager.
class KestrovaCloudAccount : public CloudAccount {
    Q_OBJECT
public:
    explicit KestrovaCloudAccount(AuthManager& authManager, QObject* parent = nullptr);
};
