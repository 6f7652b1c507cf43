#include "app/AppState.h"
#include "cloud/APIClient.h"
#include "cloud/AuthManager.h"
#include "cloud/CloudTestSupport.h"

#include <gtest/gtest.h>

using namespace cloudtest;

// The shared account manager is made on first use, with the shared client, which takes the stored
// token; the manager then checks that token with the service.
TEST(SharedInstances, FirstUseCreatesBothAndChecksTheStoredToken)
{
    CloudFake fake;
    ASSERT_TRUE(fake.running());
    AppState::loadCredentials();
    {
        APIClient signer(fake.root());
        bool done = false;
        signer.login("user@example.com", "secret123", nullptr, [&](Expected<LoginResponse, CloudError> r) {
            EXPECT_TRUE(r);
            done = true;
        });
        ASSERT_TRUE(test::waitUntil([&] { return done; }, 15s));
    }
    const QString stored = AppState::credentials()->kestrovaApiToken;
    ASSERT_FALSE(stored.isEmpty());
    fake.resetRequests();

    ASSERT_TRUE(APIClient::setSharedServiceRootForTesting(fake.root()));
    AuthManager& manager = AuthManager::shared();
    EXPECT_EQ(&manager, &AuthManager::shared());
    EXPECT_EQ(manager.apiClient(), &APIClient::shared());
    EXPECT_EQ(APIClient::shared().authToken(), stored);
    EXPECT_EQ(APIClient::shared().baseURL(), fake.root() + "/api/v1");
    EXPECT_FALSE(APIClient::setSharedServiceRootForTesting("http://127.0.0.1:1")) << "too late once it exists";

    ASSERT_TRUE(test::waitUntil([&] { return manager.isAuthenticated(); }, 15s));
    EXPECT_EQ(fake.requestLines(), QStringList{"GET /api/v1/auth/me"});
    EXPECT_TRUE(manager.userRefreshTimer());
}
