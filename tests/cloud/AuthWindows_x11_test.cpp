// The sign-in window and the sign-up sheet over it, opened from the real settings window on the test
// X server: both are drawn dark, as the settings window is, whatever the desktop's theme.
#include "settings/SettingsTestSupport.h"
#include "app/Localization.h"
#include "shell/SettingsWindowController.h"
#include "cloud/LoginView.h"
#include "cloud/RegisterView.h"
#include "settings/SettingsView.h"

#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QWindow>

#include <gtest/gtest.h>

using namespace settingstest;
using namespace std::chrono_literals;

namespace {

// The mean lightness (0-255) of what the screen shows where the window is.
int shownLightness(QWidget* window)
{
    EXPECT_TRUE(test::waitUntil([&] { return window->windowHandle() && window->windowHandle()->isExposed(); }, 5s));
    test::spin(300ms);
    const QRect area = window->geometry();
    const QImage image = QGuiApplication::primaryScreen()
                             ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                             .toImage()
                             .convertToFormat(QImage::Format_RGB32);
    if (image.isNull())
        return -1;
    long long sum = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            sum += QColor(image.pixel(x, y)).lightness();
    return static_cast<int>(sum / (static_cast<long long>(image.width()) * image.height()));
}

// Light text on the dark ground: the colours the widgets draw their text in.
void expectDarkColours(QWidget* view)
{
    EXPECT_LT(view->palette().color(QPalette::Window).lightness(), 60);
    auto* title = view->findChild<QLabel*>("titleLabel");
    ASSERT_TRUE(title);
    EXPECT_GT(title->palette().color(QPalette::WindowText).lightness(), 200);
    for (const QLineEdit* field : view->findChildren<QLineEdit*>()) {
        EXPECT_LT(field->palette().color(QPalette::Base).lightness(), 60) << field->objectName().toStdString();
        EXPECT_GT(field->palette().color(QPalette::Text).lightness(), 200) << field->objectName().toStdString();
    }
}

} // namespace

TEST(AuthWindowsOnX, SignInAndSignUpAreDarkLikeTheSettingsWindow)
{
    ASSERT_TRUE(test::haveDisplay());
    ASSERT_TRUE(APIClient::setSharedServiceRootForTesting(deadRoot()));
    L::setLanguageForTesting(AppLanguage::ru);
    resetStores();
    AppState appState;
    SettingsWindowController host(&appState);
    host.showSettings();
    auto* settings = host.window()->findChild<SettingsView*>();
    ASSERT_TRUE(settings);
    const int settingsLightness = shownLightness(host.window());
    EXPECT_LT(settingsLightness, 80);

    settings->showLoginWindow();
    QWidget* loginWindow = settings->loginWindow();
    ASSERT_TRUE(loginWindow);
    auto* login = loginWindow->findChild<LoginView*>();
    ASSERT_TRUE(login);
    expectDarkColours(login);
    EXPECT_LT(shownLightness(loginWindow), 80);

    // "Создать аккаунт" opens the sign-up sheet, a window of its own.
    auto* create = login->findChild<QPushButton*>("createAccountButton");
    ASSERT_TRUE(create);
    ASSERT_TRUE(test::waitUntil([&] { return loginWindow->isActiveWindow(); }, 5s));
    const QPoint centre = create->mapToGlobal(create->rect().center());
    ASSERT_TRUE(test::xdotool({"mousemove", "--sync", QString::number(centre.x()), QString::number(centre.y()), "click", "1"}));
    ASSERT_TRUE(test::waitUntil([&] { return login->registerView() && login->registerView()->isVisible(); }, 5s));
    RegisterView* sheet = login->registerView();
    EXPECT_TRUE(sheet->isWindow());
    expectDarkColours(sheet);
    EXPECT_LT(shownLightness(sheet), 80);

    sheet->close();
    loginWindow->close();
    host.window()->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
