#include "app/PermissionsManager.h"

#include "app/DebugLogger.h"
#include "platform/ScreenAccess.h"
#include "support/DebugLogText.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QWidget>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

class PermissionsManagerTest : public ::testing::Test {
protected:
    void TearDown() override { platform::ScreenAccess::setProbeForTesting({}); }
    void setAccess(bool granted)
    {
        platform::ScreenAccess::setProbeForTesting([granted] { return granted; });
    }
    // A shown window that is not the active one: the desktop has focus elsewhere.
    static void showInactive(QWidget& window)
    {
        window.show();
        test::waitUntil([&] { return window.isActiveWindow(); }, 1s);
        QApplication::setActiveWindow(nullptr);
        test::spin(20ms);
        ASSERT_FALSE(window.isActiveWindow());
    }
    static QString logText() { return test::debugLogText(); }
};

} // namespace

TEST_F(PermissionsManagerTest, GrantedAnswersOnTheNextTurnWithoutActivating)
{
    setAccess(true);
    QWidget other;
    showInactive(other);
    PermissionsManager manager;
    int answers = 0;
    bool answer = false;
    manager.requestScreenRecordingPermission([&](bool granted) {
        ++answers;
        answer = granted;
    });
    // Never inside the call.
    EXPECT_EQ(answers, 0);
    EXPECT_FALSE(manager.isCheckingPermissions());
    QCoreApplication::processEvents();
    EXPECT_EQ(answers, 1);
    EXPECT_TRUE(answer);
    EXPECT_TRUE(manager.screenRecordingPermissionGranted());
    EXPECT_FALSE(manager.isCheckingPermissions());
    EXPECT_FALSE(other.isActiveWindow());
    test::spin(300ms);
    EXPECT_EQ(answers, 1);
}

TEST_F(PermissionsManagerTest, DeniedWaitsAFifthOfASecondAndOpensNothing)
{
    setAccess(false);
    QWidget window;
    window.show();
    const int windowsBefore = QApplication::topLevelWidgets().size();
    PermissionsManager manager;
    manager.setScreenRecordingPermissionGranted(true); // a stale answer is replaced
    int answers = 0;
    bool answer = true;
    QElapsedTimer clock;
    clock.start();
    qint64 answeredAfter = 0;
    manager.requestScreenRecordingPermission([&](bool granted) {
        ++answers;
        answer = granted;
        answeredAfter = clock.elapsed();
    });
    QCoreApplication::processEvents();
    EXPECT_TRUE(manager.isCheckingPermissions());
    EXPECT_EQ(answers, 0);
    ASSERT_TRUE(test::waitUntil([&] { return answers > 0; }, 3s));
    EXPECT_GE(answeredAfter, 190);
    EXPECT_FALSE(answer);
    EXPECT_FALSE(manager.screenRecordingPermissionGranted());
    EXPECT_FALSE(manager.isCheckingPermissions());
    EXPECT_EQ(QApplication::topLevelWidgets().size(), windowsBefore);
    EXPECT_TRUE(logText().contains("screen access denied by test probe; no privacy settings page to open on this system"));
    test::spin(300ms);
    EXPECT_EQ(answers, 1);
}

TEST_F(PermissionsManagerTest, OverlappingRequestsEachAnswerOnce)
{
    setAccess(false);
    PermissionsManager manager;
    QList<int> order;
    manager.requestScreenRecordingPermission([&](bool) { order.append(1); });
    test::spin(100ms);
    manager.requestScreenRecordingPermission([&](bool) { order.append(2); });
    EXPECT_TRUE(test::waitUntil([&] { return order.size() == 2; }, 3s));
    EXPECT_EQ(order, (QList<int>{1, 2}));
    EXPECT_FALSE(manager.isCheckingPermissions());
    test::spin(300ms);
    EXPECT_EQ(order.size(), 2);
}
