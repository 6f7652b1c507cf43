// The account section against the cloud fake: signed out, signing in through the login window,
// the account card in its variants, signing out; and the card's figures.
#include "settings/AccountSectionView.h"

#include "SettingsTestSupport.h"
#include "cloud/LoginView.h"
#include "cloud/LoginViewModel.h"
#include "cloud/RegisterView.h"
#include "cloud/WebPageOpener.h"
#include "settings/AccountSummary.h"
#include "settings/SettingsView.h"
#include "settings/SettingsViewModel.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <gtest/gtest.h>

#include <limits>

using namespace settingstest;
using namespace std::chrono_literals;
using nlohmann::json;

namespace {

StorageUsage usage(qint64 used, qint64 total)
{
    StorageUsage s;
    s.usedBytes = used;
    s.totalBytes = total;
    return s;
}

QString labelText(const QWidget* parent, const char* name)
{
    const auto* label = parent->findChild<QLabel*>(QString::fromLatin1(name));
    return label ? label->text() : QStringLiteral("<absent>");
}

class AccountSectionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(fake.running()) << "the cloud fake did not start";
        resetStores();
        client = std::make_unique<APIClient>(fake.root());
        client->setAuthToken(std::nullopt);
        manager = std::make_unique<AuthManager>(client.get());
        appState = std::make_unique<AppState>();
        view = std::make_unique<SettingsView>(*appState, nullptr, manager.get());
        view->show();
    }
    void TearDown() override
    {
        view.reset();
        WebPageOpener::setHandlerForTesting({});
    }

    AccountSectionView* section() const { return qobject_cast<AccountSectionView*>(view->currentSection()); }

    void signIn()
    {
        bool done = false;
        manager->login("user@example.com", "secret123", nullptr, [&] { done = true; });
        ASSERT_TRUE(test::waitUntil([&] { return done; }, 15s));
        ASSERT_TRUE(manager->isAuthenticated());
    }
    // The card after the service's account record has changed.
    void refreshWith(const json& userExtras)
    {
        fake.configure({{"user", userExtras}});
        bool done = false;
        manager->refreshUser(nullptr, [&] { done = true; });
        ASSERT_TRUE(test::waitUntil([&] { return done; }, 15s));
    }

    cloudtest::CloudFake fake;
    std::unique_ptr<APIClient> client;
    std::unique_ptr<AuthManager> manager;
    std::unique_ptr<AppState> appState;
    std::unique_ptr<SettingsView> view;
};

} // namespace

TEST(AccountSummaryFigures, StorageBarPercentageAndWarning)
{
    struct Case {
        qint64 used;
        qint64 total;
        double percentage;
        const char* text;
        bool warning;
    };
    const Case cases[] = {
        {0, 0, 0, "0%", false},
        {500, 0, 0, "0%", false},          // no total: empty bar, whatever is used
        {500, -1, 0, "0%", false},
        {427, 1000, 42.7, "42%", false},   // truncated, not rounded
        {900, 1000, 90, "90%", true},      // exactly 90 counts
        {8999, 10000, 89.99, "89%", false},
        {1500, 1000, 150, "150%", true},   // above the total
        {1, 1, 100, "100%", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const StorageUsage s = usage(c.used, c.total);
        EXPECT_NEAR(AccountSummary::storagePercentage(s), c.percentage, 1e-9);
        EXPECT_EQ(AccountSummary::percentageText(s), QString::fromLatin1(c.text));
        EXPECT_EQ(AccountSummary::isStorageNearlyFull(s), c.warning);
    }
    // A ratio beyond the 64-bit range still gives a text.
    const QString huge = AccountSummary::percentageText(usage(std::numeric_limits<qint64>::max(), 1));
    EXPECT_EQ(huge, QString::number(std::numeric_limits<qint64>::max()) + "%");

    EXPECT_EQ(AccountSummary::uploadLimitText(250), "250 MB");
    EXPECT_EQ(AccountSummary::uploadLimitText(std::nullopt), "Без ограничений");
}

TEST_F(AccountSectionTest, SignedOutFaceWithTheSignUpLink)
{
    ASSERT_TRUE(section());
    EXPECT_FALSE(section()->showsSignedInFace());
    EXPECT_TRUE(section()->findChild<QPushButton*>("signInButton"));
    std::vector<QUrl> opened;
    WebPageOpener::setHandlerForTesting([&](const QUrl& url) { opened.push_back(url); });
    section()->findChild<QPushButton*>("registerLink")->click();
    EXPECT_EQ(opened, std::vector<QUrl>{QUrl(fake.root() + "/register")});
}

TEST_F(AccountSectionTest, SigningInThroughTheLoginWindowAndOut)
{
    section()->findChild<QPushButton*>("signInButton")->click();
    QPointer<QWidget> login = view->loginWindow();
    ASSERT_TRUE(login);
    EXPECT_TRUE(login->isVisible());
    EXPECT_TRUE(login->isWindow());
    EXPECT_EQ(login->windowTitle(), "Kestrova Cloud Login");
    EXPECT_EQ(login->size(), QSize(400, 500));

    // Twice: the first window, still open, is closed and a new one opens.
    section()->findChild<QPushButton*>("signInButton")->click();
    QPointer<QWidget> second = view->loginWindow();
    ASSERT_TRUE(second);
    EXPECT_NE(second.data(), login.data());
    EXPECT_TRUE(!login || !login->isVisible());
    EXPECT_TRUE(second->isVisible());

    auto* form = second->findChild<LoginView*>();
    ASSERT_TRUE(form);
    form->model()->setEmail("user@example.com");
    form->model()->setPassword("secret123");
    form->model()->handleLogin();
    ASSERT_TRUE(test::waitUntil([&] { return section() && section()->showsSignedInFace(); }, 15s));
    // The window closes itself on the next turn after the sign-in.
    ASSERT_TRUE(test::waitUntil([&] { return !second || !second->isVisible(); }, 5s));

    AccountSectionView* card = section();
    EXPECT_EQ(labelText(card, "userName"), "Test User");
    EXPECT_EQ(labelText(card, "userEmail"), "user@example.com");
    EXPECT_EQ(labelText(card, "storageInfo"), manager->storageInfo());
    EXPECT_EQ(labelText(card, "storagePercent"), "50%");
    auto* bar = card->findChild<QProgressBar*>("storageBar");
    ASSERT_TRUE(bar);
    EXPECT_EQ(bar->value(), 50);
    EXPECT_EQ(bar->property("tint").toString(), "accent");
    EXPECT_FALSE(card->findChild<QLabel*>("storageWarning"));
    EXPECT_EQ(labelText(card, "uploadLimit"), "100 MB");
    EXPECT_EQ(labelText(card, "uploadsThisMonth"), "3");

    card->findChild<QPushButton*>("signOutButton")->click();
    ASSERT_TRUE(test::waitUntil([&] { return section() && !section()->showsSignedInFace(); }, 15s));
    EXPECT_FALSE(manager->isAuthenticated());
}

TEST_F(AccountSectionTest, TheCardShowsOnlyWhatTheRecordHas)
{
    signIn();
    ASSERT_TRUE(section()->showsSignedInFace());

    struct Case {
        const char* what;
        json user;
        bool storage;
        const char* percent;
        bool warning;
        const char* limit;
        const char* uploads;
    };
    const Case cases[] = {
        {"nearly full", {{"usage", {{"used_bytes", 950}, {"total_bytes", 1000}, {"uploads_this_month", 7}}}}, true, "95%", true,
         "100 MB", "7"},
        {"no total", {{"usage", {{"used_bytes", 950}, {"total_bytes", 0}}}}, true, "0%", false, "100 MB", "<absent>"},
        {"plan without limit",
         {{"plan", {{"name", "Pro"}, {"slug", "pro"}}}, {"usage", {{"used_bytes", 1}, {"total_bytes", 1000}, {"uploads_this_month", 2}}}},
         true, "0%", false, "Без ограничений", "2"},
        {"no plan", {{"plan", nullptr}, {"usage", {{"used_bytes", 1}, {"total_bytes", 100}, {"uploads_this_month", 9}}}}, true, "1%",
         false, "<absent>", "<absent>"},
        {"no usage", {{"usage", nullptr}}, false, "<absent>", false, "100 MB", "<absent>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        refreshWith(c.user);
        AccountSectionView* card = section();
        ASSERT_TRUE(card && card->showsSignedInFace());
        EXPECT_EQ(labelText(card, "userName"), "Test User");
        EXPECT_EQ(card->findChild<QWidget*>("storageBlock") != nullptr, c.storage);
        EXPECT_EQ(labelText(card, "storagePercent"), QString::fromLatin1(c.percent));
        EXPECT_EQ(card->findChild<QLabel*>("storageWarning") != nullptr, c.warning);
        if (auto* bar = card->findChild<QProgressBar*>("storageBar")) {
            EXPECT_EQ(bar->property("tint").toString(), c.warning ? "orange" : "accent");
        }
        EXPECT_EQ(labelText(card, "uploadLimit"), QString::fromUtf8(c.limit));
        EXPECT_EQ(card->findChild<QWidget*>("limitsBlock") != nullptr, QLatin1String(c.limit) != QLatin1String("<absent>"));
        EXPECT_EQ(labelText(card, "uploadsThisMonth"), QString::fromLatin1(c.uploads));
        EXPECT_TRUE(card->findChild<QPushButton*>("signOutButton"));
    }
}
