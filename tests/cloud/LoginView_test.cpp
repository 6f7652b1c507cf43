#include "cloud/LoginView.h"

#include "app/AppState.h"
#include "app/Localization.h"
#include "cloud/APIClient.h"
#include "cloud/AuthErrorBox.h"
#include "cloud/AuthManager.h"
#include "cloud/AuthPrimaryButton.h"
#include "cloud/CloudTestSupport.h"
#include "cloud/LoginViewModel.h"
#include "cloud/RegisterView.h"
#include "cloud/RegisterViewModel.h"
#include "cloud/WebPageOpener.h"
#include "platform/InMemoryKeychain.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace cloudtest;
using nlohmann::json;

namespace {

class LoginViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        L::setLanguageForTesting(AppLanguage::en);
        ASSERT_TRUE(fake.running()) << "the cloud fake did not start";
        platform::KeychainBackend::setCurrent(std::make_shared<platform::InMemoryKeychain>());
        AppState::resetCredentialsForTesting();
        AppState::loadCredentials();
        client = std::make_unique<APIClient>(fake.root());
        client->setAuthToken(std::nullopt);
        manager = std::make_unique<AuthManager>(client.get());
    }
    void TearDown() override { WebPageOpener::setHandlerForTesting({}); }

    template <typename T = QWidget>
    static T* child(QWidget* view, const char* name)
    {
        T* w = view->findChild<T*>(QString::fromLatin1(name));
        EXPECT_TRUE(w) << name;
        return w;
    }
    static void type(QWidget* view, const char* field, const QString& text)
    {
        QTest::keyClicks(child<QLineEdit>(view, field), text);
    }
    static void click(QWidget* view, const char* name) { QTest::mouseClick(child(view, name), Qt::LeftButton); }
    static bool shownEnabled(QWidget* view, const char* name) { return child(view, name)->isEnabled(); }
    static QString primaryTitle(QWidget* view) { return child<AuthPrimaryButton>(view, "primaryButton")->text(); }

    CloudFake fake;
    std::unique_ptr<APIClient> client;
    std::unique_ptr<AuthManager> manager;
};

} // namespace

TEST_F(LoginViewTest, SignInFormValidity)
{
    struct Case {
        QString email, password;
        bool valid;
    };
    const std::vector<Case> cases = {
        {"@", "x", true},          {"user@example.com", "p", true}, {"  @  ", " ", true},
        {"user.example.com", "p", false}, {"", "p", false},         {"a@b", "", false},
    };
    LoginViewModel model(manager.get());
    for (const Case& c : cases) {
        model.setEmail(c.email);
        model.setPassword(c.password);
        EXPECT_EQ(model.isFormValid(), c.valid) << c.email.toStdString() << " / " << c.password.toStdString();
        EXPECT_EQ(model.isPrimaryEnabled(), c.valid);
    }
}

TEST_F(LoginViewTest, SignUpFormValidityAndMatchLine)
{
    using Match = RegisterViewModel::PasswordMatch;
    struct Case {
        const char* name;
        QString user, email, password, confirmation;
        bool valid;
        Match match;
    };
    const QString cyrillic = QStringLiteral("пароль12"); // 8 characters, 14 bytes
    const QString accents = QString(QStringLiteral("e\u0301")).repeated(8); // 8 characters, 16 code units
    const QString family = QString(QStringLiteral("👨‍👩‍👧")).repeated(7);   // 7 characters
    const std::vector<Case> cases = {
        {"complete", "Ann", "a@b", "12345678", "12345678", true, Match::matching},
        {"cyrillic letters", "Ann", "a@b", "абвгдежз", "абвгдежз", true, Match::matching},
        {"letters and digits", "Ann", "a@b", cyrillic, cyrillic, true, Match::matching},
        {"combining accents", "Ann", "a@b", accents, accents, true, Match::matching},
        {"seven characters", "Ann", "a@b", "1234567", "1234567", false, Match::matching},
        {"seven clusters of many code units", "Ann", "a@b", family, family, false, Match::matching},
        {"case differs", "Ann", "a@b", "Password", "password", false, Match::differing},
        {"confirmation empty", "Ann", "a@b", "12345678", "", false, Match::hidden},
        {"password empty", "Ann", "a@b", "", "12345678", false, Match::hidden},
        {"no name", "", "a@b", "12345678", "12345678", false, Match::matching},
        {"no at sign", "Ann", "ab", "12345678", "12345678", false, Match::matching},
        {"spaces count", " ", " @ ", "        ", "        ", true, Match::matching},
    };
    RegisterViewModel model(manager.get());
    for (const Case& c : cases) {
        model.setName(c.user);
        model.setEmail(c.email);
        model.setPassword(c.password);
        model.setPasswordConfirmation(c.confirmation);
        EXPECT_EQ(model.isFormValid(), c.valid) << c.name;
        EXPECT_EQ(model.passwordMatch(), c.match) << c.name;
    }
    EXPECT_EQ(RegisterViewModel::characterCount(family), 7);

    RegisterView view({}, manager.get());
    type(&view, "passwordField", "Password");
    EXPECT_TRUE(child(&view, "matchLine")->isHidden()) << "absent while the confirmation is empty";
    type(&view, "confirmationField", "password");
    EXPECT_FALSE(child(&view, "matchLine")->isHidden());
    EXPECT_EQ(child<QLabel>(&view, "matchText")->text(), "Passwords don't match");
    EXPECT_FALSE(shownEnabled(&view, "primaryButton"));
}

TEST_F(LoginViewTest, WhileSigningInOnlyCloseAndTheResetLinkStayEnabled)
{
    fake.rule("POST", "/api/v1/auth/login", 422,
              json{{"message", "The provided credentials are incorrect."}, {"errors", {{"email", {"E"}}}}}, 1, 0.8);
    LoginView view({}, {}, manager.get());
    view.show();
    EXPECT_FALSE(shownEnabled(&view, "primaryButton")) << "an empty form is never sent";
    type(&view, "emailField", " user@example.com");
    type(&view, "passwordField", "wrong");
    ASSERT_TRUE(shownEnabled(&view, "primaryButton"));
    EXPECT_EQ(primaryTitle(&view), "Sign In");
    EXPECT_TRUE(child(&view, "errorBox")->isHidden());

    click(&view, "primaryButton");
    ASSERT_TRUE(test::waitUntil([&] { return manager->isLoading(); }, 5s));
    EXPECT_FALSE(shownEnabled(&view, "primaryButton"));
    EXPECT_EQ(primaryTitle(&view), "Signing in...");
    EXPECT_TRUE(child<AuthPrimaryButton>(&view, "primaryButton")->isBusy());
    for (const char* name : {"emailField", "passwordField", "createAccountButton"})
        EXPECT_FALSE(shownEnabled(&view, name)) << name;
    for (const char* name : {"closeButton", "forgotPasswordLink"})
        EXPECT_TRUE(shownEnabled(&view, name)) << name;

    ASSERT_TRUE(test::waitUntil([&] { return !manager->isLoading(); }, 15s));
    EXPECT_FALSE(child(&view, "errorBox")->isHidden());
    EXPECT_EQ(child<AuthErrorBox>(&view, "errorBox")->message(), "The provided credentials are incorrect.\nE");
    EXPECT_TRUE(shownEnabled(&view, "primaryButton"));
    EXPECT_EQ(child<QLineEdit>(&view, "emailField")->text(), " user@example.com") << "fields keep their contents";
    // The e-mail went out as typed, spaces included.
    const auto requests = fake.requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(json::parse(requests.back().body.toStdString())["email"], " user@example.com");
}

TEST_F(LoginViewTest, ReturnInAFieldSubmitsNothing)
{
    LoginView view({}, {}, manager.get());
    view.show();
    type(&view, "emailField", "user@example.com");
    type(&view, "passwordField", "secret123");
    QTest::keyClick(child(&view, "passwordField"), Qt::Key_Return);
    QTest::keyClick(child(&view, "emailField"), Qt::Key_Enter);
    test::spin(300ms);
    EXPECT_TRUE(fake.requests().empty());
}

TEST_F(LoginViewTest, SuccessfulSignInClosesTheFormAfterItsCallback)
{
    int successes = 0;
    bool visibleAtSuccess = false;
    LoginView* viewPointer = nullptr;
    LoginView view([&] { ++successes; visibleAtSuccess = viewPointer->isVisible(); }, [] { FAIL() << "not a close"; },
                   manager.get());
    viewPointer = &view;
    view.show();
    type(&view, "emailField", "user@example.com");
    type(&view, "passwordField", "secret123");
    click(&view, "primaryButton");
    ASSERT_TRUE(test::waitUntil([&] { return successes > 0; }, 15s));
    EXPECT_EQ(successes, 1);
    EXPECT_TRUE(visibleAtSuccess) << "onSuccess runs before the form dismisses itself";
    EXPECT_FALSE(view.isVisible());
}

TEST_F(LoginViewTest, AFormOpenedWhileSignedInStaysOpen)
{
    bool done = false;
    manager->login("user@example.com", "secret123", nullptr, [&] { done = true; });
    ASSERT_TRUE(test::waitUntil([&] { return done; }, 15s));
    ASSERT_TRUE(manager->isAuthenticated());
    bool succeeded = false;
    LoginView view([&] { succeeded = true; }, {}, manager.get());
    view.show();
    test::spin(200ms);
    EXPECT_TRUE(view.isVisible());
    EXPECT_FALSE(succeeded);
}

TEST_F(LoginViewTest, CloseButtonAndPasswordLink)
{
    QList<QUrl> opened;
    WebPageOpener::setHandlerForTesting([&](const QUrl& url) { opened << url; });
    bool closed = false;
    LoginView view({}, [&] { closed = true; }, manager.get());
    view.show();
    click(&view, "forgotPasswordLink");
    EXPECT_EQ(opened, QList<QUrl>{QUrl(fake.root() + "/password/reset")});
    click(&view, "closeButton");
    EXPECT_TRUE(closed);
    EXPECT_FALSE(view.isVisible());
}

TEST_F(LoginViewTest, SignUpSheet)
{
    // An error left by a failed sign-in shows in the sheet too.
    bool done = false;
    manager->login("user@example.com", "wrong", nullptr, [&] { done = true; });
    ASSERT_TRUE(test::waitUntil([&] { return done; }, 15s));

    int successes = 0;
    LoginView view([&] { ++successes; }, {}, manager.get());
    view.show();
    EXPECT_FALSE(view.registerView());
    click(&view, "createAccountButton");
    QPointer<RegisterView> sheet = view.registerView();
    ASSERT_TRUE(sheet);
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_TRUE(sheet->isWindow());
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_TRUE(view.model()->isShowingRegister());
    EXPECT_FALSE(child(sheet, "errorBox")->isHidden());
    EXPECT_TRUE(child<AuthErrorBox>(sheet, "errorBox")->message().startsWith("The provided credentials are incorrect."));

    // "Sign In" returns to the form underneath.
    click(sheet, "signInButton");
    test::spin(50ms);
    EXPECT_FALSE(sheet);
    EXPECT_FALSE(view.model()->isShowingRegister());
    EXPECT_TRUE(view.isVisible());

    // A completed sign-up closes both.
    click(&view, "createAccountButton");
    sheet = view.registerView();
    ASSERT_TRUE(sheet);
    type(sheet, "nameField", "Ann");
    type(sheet, "emailField", "ann@example.com");
    type(sheet, "passwordField", "password1");
    type(sheet, "confirmationField", "password1");
    EXPECT_EQ(child<QLabel>(sheet, "matchText")->text(), "Passwords match");
    click(sheet, "primaryButton");
    EXPECT_TRUE(test::waitUntil([&] { return !manager->errorMessage(); }, 5s)) << "a new sign-up clears the old error";
    ASSERT_TRUE(test::waitUntil([&] { return successes > 0; }, 15s));
    test::spin(50ms);
    EXPECT_FALSE(sheet);
    EXPECT_FALSE(view.model()->isShowingRegister());
    EXPECT_FALSE(view.isVisible());
    EXPECT_EQ(manager->currentUser()->email, "ann@example.com");
}

TEST_F(LoginViewTest, TextsFollowTheInterfaceLanguage)
{
    struct Case {
        AppLanguage language;
        const char* subtitle;
        const char* primary;
        const char* registerTitle;
        const char* mismatch;
    };
    for (const Case& c : {Case{AppLanguage::ru, "Войдите в свой аккаунт", "Войти", "Создать аккаунт", "Пароли не совпадают"},
                          Case{AppLanguage::en, "Sign in to your account", "Sign In", "Create Account",
                               "Passwords don't match"}}) {
        L::setLanguageForTesting(c.language);
        LoginView login({}, {}, manager.get());
        EXPECT_EQ(child<QLabel>(&login, "subtitleLabel")->text(), c.subtitle);
        EXPECT_EQ(primaryTitle(&login), c.primary);
        EXPECT_EQ(child<QLabel>(&login, "titleLabel")->text(), "Kestrova Cloud");
        RegisterView signUp({}, manager.get());
        EXPECT_EQ(child<QLabel>(&signUp, "titleLabel")->text(), c.registerTitle);
        EXPECT_EQ(primaryTitle(&signUp), c.registerTitle);
        signUp.model()->setPassword("a");
        signUp.model()->setPasswordConfirmation("b");
        EXPECT_EQ(child<QLabel>(&signUp, "matchText")->text(), c.mismatch);
        EXPECT_EQ(login.size(), QSize(400, 500));
        EXPECT_EQ(signUp.size(), QSize(400, 600));
    }
    L::setLanguageForTesting(AppLanguage::en);
}
