// The screen-access permission window on the test X server, with its fonts and window manager hints.
#include "app/Localization.h"
#include "shell/PermissionRequestView.h"
#include "shell/PermissionRequestWindowController.h"
#include "app/PermissionsManager.h"
#include "platform/ScreenAccess.h"
#include "support/TestSupport.h"

#include <QWindow>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

TEST(PermissionRequestWindowX11, IsFourHundredEightyByThreeHundredEightyInEitherLanguageAndSession)
{
    if (!test::haveDisplay())
        GTEST_SKIP() << "needs the X server";
    using Obstacle = platform::ScreenAccess::Obstacle;
    for (AppLanguage language : {AppLanguage::ru, AppLanguage::en}) {
        for (Obstacle obstacle : {Obstacle::unreadableRoot, Obstacle::waylandSession}) {
            SCOPED_TRACE(AppLanguages::rawValue(language).toStdString() + (obstacle == Obstacle::waylandSession ? " wayland" : " x11"));
            L::setLanguageForTesting(language);
            platform::ScreenAccess::setAnswerProbeForTesting([obstacle]() -> platform::ScreenAccess::Answer {
                return {obstacle, "denied by the test"};
            });
            PermissionsManager manager;
            PermissionRequestWindowController controller(manager, [] {});
            controller.show();
            QWidget* window = controller.window();
            ASSERT_TRUE(window);
            ASSERT_TRUE(test::waitUntil([&] { return window->isVisible() && window->windowHandle()->isExposed(); }, 3s));
            test::spin(100ms);
            EXPECT_EQ(window->size(), QSize(PermissionRequestView::defaultWidth, PermissionRequestView::defaultHeight));
            EXPECT_EQ(window->minimumSize(), window->maximumSize());
            const auto* view = window->findChild<PermissionRequestView*>();
            ASSERT_TRUE(view);
            EXPECT_EQ(view->size(), window->size());
            // Every text fits: nothing is squeezed below what it asks for.
            for (const QWidget* child : view->findChildren<QWidget*>()) {
                if (!child->isVisible() || !child->sizePolicy().hasHeightForWidth())
                    continue;
                EXPECT_GE(child->height(), child->heightForWidth(child->width())) << child->objectName().toStdString();
            }
            controller.close();
        }
    }
    platform::ScreenAccess::setAnswerProbeForTesting({});
    L::setLanguageForTesting(AppLanguage::en);
}
