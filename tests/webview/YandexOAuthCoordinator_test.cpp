// The sign-in's decisions without a page: fragment parsing and which navigations hand a token over.
#include "webview/YandexOAuthWebView.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

using Coordinator = YandexOAuthWebView::Coordinator;

TEST(YandexOAuthCoordinator, ParsesTheTokenFromAFragment)
{
    struct Case {
        const char* hash;
        std::optional<QString> token;
    };
    const std::vector<Case> cases{
        {"#access_token=abc&token_type=bearer&expires_in=31536000", QStringLiteral("abc")},
        {"#token_type=bearer&access_token=abc&expires_in=1", QStringLiteral("abc")},
        {"#expires_in=1&token_type=bearer&access_token=abc", QStringLiteral("abc")},
        {"#access_token=a=b==", QStringLiteral("a=b==")},
        {"##access_token=abc", QStringLiteral("abc")},
        {"#access_token=abc##", QStringLiteral("abc")},
        {"#&&access_token=abc&&", QStringLiteral("abc")},
        {"#access_token=y0_AgA%2Fb+c", QStringLiteral("y0_AgA%2Fb+c")}, // as it stands, not decoded
        {"#access_token=&access_token=second", QStringLiteral("second")},
        {"#access_token=first&access_token=second", QStringLiteral("first")},
        {"#access_token=", std::nullopt},
        {"#ACCESS_TOKEN=abc", std::nullopt},
        {"#Access_Token=abc", std::nullopt},
        {"#error=access_denied&error_description=denied", std::nullopt},
        {"#my_access_token=abc", std::nullopt},
        {"#=access_token=abc", std::nullopt},
        {"#access_token", std::nullopt},
        {"", std::nullopt},
        {"#", std::nullopt},
        {"#state=access_token=abc", std::nullopt},
        // Control characters would reach a header line.
        {"#access_token=abc\r\nX-Evil: 1", std::nullopt},
        {"#access_token=a\tb", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hash);
        EXPECT_EQ(Coordinator::parseAccessToken(QString::fromUtf8(c.hash)), c.token);
    }
}

TEST(YandexOAuthCoordinator, NavigationCarryingATokenIsStoppedAfterHandingItOver)
{
    struct Case {
        const char* url;
        bool allowed;
        std::optional<QString> token;
    };
    const std::vector<Case> cases{
        {"https://oauth.yandex.ru/verification_code#access_token=t1&token_type=bearer", false, QStringLiteral("t1")},
        // Any address, not only the redirect address.
        {"https://elsewhere.example/page?x=1#expires_in=5&access_token=t2", false, QStringLiteral("t2")},
        {"https://oauth.yandex.ru/authorize?response_type=token", true, std::nullopt},
        {"https://oauth.yandex.ru/verification_code#", true, std::nullopt},
        {"https://oauth.yandex.ru/verification_code#error=access_denied", true, std::nullopt},
        {"https://oauth.yandex.ru/verification_code#access_token=", true, std::nullopt},
        {"https://oauth.yandex.ru/verification_code?access_token=t3", true, std::nullopt}, // query, not fragment
        {"https://oauth.yandex.ru/verification_code#access_token=a%0D%0Ab", false, QStringLiteral("a%0D%0Ab")},
        {"about:blank", true, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        std::vector<QString> tokens;
        int errors = 0;
        const Coordinator coordinator([&](const QString& t) { tokens.push_back(t); }, [&](const QString&) { ++errors; });
        EXPECT_EQ(coordinator.decidePolicy(QUrl(QString::fromUtf8(c.url))), c.allowed);
        if (c.token)
            EXPECT_EQ(tokens, std::vector<QString>{*c.token});
        else
            EXPECT_TRUE(tokens.empty());
        EXPECT_EQ(errors, 0);
    }
    const Coordinator coordinator([](const QString&) { FAIL(); }, nullptr);
    EXPECT_TRUE(coordinator.decidePolicy(QUrl()));
}

TEST(YandexOAuthCoordinator, FinishedPageHandsOverATokenInItsHash)
{
    std::vector<QString> tokens;
    const Coordinator coordinator([&](const QString& t) { tokens.push_back(t); }, nullptr);
    coordinator.didFinish(QVariant());
    coordinator.didFinish(QVariant(42));
    coordinator.didFinish(QVariant(QStringList{QStringLiteral("#access_token=list")}));
    coordinator.didFinish(QVariant(QString()));
    coordinator.didFinish(QVariant(QStringLiteral("#error=access_denied")));
    EXPECT_TRUE(tokens.empty());
    coordinator.didFinish(QVariant(QStringLiteral("#access_token=from-page&token_type=bearer")));
    // Every finished load with a token calls again; the host closes at the first.
    coordinator.didFinish(QVariant(QStringLiteral("#access_token=from-page")));
    EXPECT_EQ(tokens, (std::vector<QString>{QStringLiteral("from-page"), QStringLiteral("from-page")}));
}
