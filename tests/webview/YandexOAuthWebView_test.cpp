// The real sign-in page in Qt WebEngine against the fake authorisation page.
#include "webview/YandexOAuthWebView.h"

#include "support/TestSupport.h"
#include "uploads/YandexDiskUploader.h"
#include "uploads/YandexFakeTest.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrlQuery>

#include <gtest/gtest.h>


using nlohmann::json;
using namespace std::chrono_literals;

using YandexOAuthWebViewTest = test::YandexFakeTest;

TEST_F(YandexOAuthWebViewTest, RedirectWithTheTokenIsCaughtBeforeItsPageLoads)
{
    const auto url = YandexDiskUploader::implicitAuthURL();
    ASSERT_TRUE(url.has_value());
    std::vector<QString> tokens;
    int errors = 0;
    QPointer<YandexOAuthWebView> view;
    view = new YandexOAuthWebView(*url, [&](const QString& token) {
        tokens.push_back(token);
        delete view.data(); // the host closes the sheet at once
    }, [&](const QString&) { ++errors; });
    view->resize(640, 520);
    view->show();
    EXPECT_EQ(view->authURL(), *url);

    ASSERT_TRUE(test::waitUntil([&] { return !tokens.empty(); }, 60s));
    test::spin(300ms);
    EXPECT_EQ(tokens, std::vector<QString>{QStringLiteral("oauth-token-1")});
    EXPECT_TRUE(view.isNull());
    EXPECT_EQ(errors, 0);

    const auto authorize = fake->requests("authorize");
    ASSERT_EQ(authorize.size(), 1u);
    const QUrlQuery query(QString::fromStdString(authorize[0]["query"].get<std::string>()));
    EXPECT_EQ(query.queryItemValue(QStringLiteral("response_type")), QStringLiteral("token"));
    EXPECT_EQ(query.queryItemValue(QStringLiteral("client_id")), YandexDiskUploader::clientId);
    EXPECT_EQ(query.queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded),
              fake->origin() + QStringLiteral("/verification_code"));
    EXPECT_EQ(query.queryItemValue(QStringLiteral("scope"), QUrl::FullyDecoded),
              QStringLiteral("cloud_api:disk.app_folder yadisk:disk"));
    // The navigation that carried the token was stopped.
    EXPECT_TRUE(fake->requests("verification_code").empty());
}

TEST_F(YandexOAuthWebViewTest, TokenSetByThePageItselfIsFound)
{
    const std::string page = "<html><body>sign in<script>location.hash = 'token_type=bearer&access_token=from-script';"
                             "</script></body></html>";
    ASSERT_TRUE(fake->configure(
        {{"overrides", {{"authorize", json::array({{{"status", 200}, {"body", page}, {"headers", {{"Content-Type", "text/html"}}}}})}}}}));
    std::vector<QString> tokens;
    YandexOAuthWebView view(*YandexDiskUploader::implicitAuthURL(), [&](const QString& t) { tokens.push_back(t); }, nullptr);
    view.show();
    ASSERT_TRUE(test::waitUntil([&] { return !tokens.empty(); }, 60s));
    EXPECT_EQ(tokens.front(), QStringLiteral("from-script"));
}

TEST_F(YandexOAuthWebViewTest, DeniedAccessLeavesThePageOpenAndReportsNothing)
{
    const std::string location = fake->origin().toStdString() + "/verification_code#error=access_denied&state=x";
    ASSERT_TRUE(fake->configure(
        {{"overrides", {{"authorize", json::array({{{"status", 302}, {"headers", {{"Location", location}}}}})}}}}));
    int tokens = 0;
    int errors = 0;
    YandexOAuthWebView view(*YandexDiskUploader::implicitAuthURL(), [&](const QString&) { ++tokens; },
                            [&](const QString&) { ++errors; });
    view.show();
    ASSERT_TRUE(test::waitUntil([&] { return !fake->requests("verification_code").empty(); }, 60s));
    test::spin(1s);
    EXPECT_EQ(tokens, 0);
    EXPECT_EQ(errors, 0);
    EXPECT_TRUE(view.isVisible());
}

TEST_F(YandexOAuthWebViewTest, APageThatNeverArrivesIsStoppedAtTheTimeLimit)
{
    // A server that reads the request and never answers.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost, 0));
    std::vector<QPointer<QTcpSocket>> connections;
    QObject::connect(&silent, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* socket = silent.nextPendingConnection())
            connections.emplace_back(socket);
    });
    const auto asked = [&]() -> QTcpSocket* {
        for (const QPointer<QTcpSocket>& socket : connections) {
            if (socket && socket->peek(64).startsWith("GET /authorize"))
                return socket;
        }
        return nullptr;
    };

    int tokens = 0;
    int errors = 0;
    const QUrl url(QStringLiteral("http://127.0.0.1:%1/authorize").arg(silent.serverPort()));
    QElapsedTimer timer;
    timer.start();
    YandexOAuthWebView view(url, [&](const QString&) { ++tokens; }, [&](const QString&) { ++errors; }, nullptr, 500ms);
    QSignalSpy finished(&view, &QWebEngineView::loadFinished);
    view.show();

    ASSERT_TRUE(test::waitUntil([&] { return asked() != nullptr; }, 30s));
    QPointer<QTcpSocket> request = asked();
    ASSERT_TRUE(test::waitUntil([&] { return !finished.isEmpty(); }, 30s));
    EXPECT_GE(timer.elapsed(), 475); // a coarse timer may fire up to 5 % early
    EXPECT_FALSE(finished.first().first().toBool());
    // Stopped, not merely given up on: the browser drops the request.
    EXPECT_TRUE(test::waitUntil([&] { return !request || request->state() == QAbstractSocket::UnconnectedState; }, 10s));
    test::spin(300ms);
    EXPECT_EQ(finished.size(), 1);
    EXPECT_EQ(tokens, 0);
    EXPECT_EQ(errors, 0);
    EXPECT_TRUE(view.isVisible());
}
