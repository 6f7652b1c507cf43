// The screenshot preview's keys on the test X server, typed as a user types them (xdotool): the
// keys its tool tips name run their items, Escape closes it like its close button, and while the
// inline text field is open every key acts on the text.
#include "app/AppState.h"
#include "platform/NotificationCenter.h"
#include "screenshots/ImageEditorCanvas.h"
#include "screenshots/ImageEditorToolbar.h"
#include "screenshots/ImageEditorView.h"
#include "screenshots/InlineTextEditorView.h"
#include "screenshots/ScreenshotHistoryManager.h"
#include "screenshots/ScreenshotPreviewView.h"
#include "screenshots/ScreenshotPreviewWindowController.h"
#include "support/TestSupport.h"

#include "EditorFixtures.h"
#include "PreviewFakes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

using namespace std::chrono_literals;

namespace {

class PreviewKeysX11 : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!test::haveDisplay())
            GTEST_SKIP() << "needs the X server";
        ASSERT_TRUE(dir.isValid());
        history = std::make_unique<ScreenshotHistoryManager>(ScreenshotHistoryManager::Environment{dir.path() + "/history", {}, {}});
        controller = std::make_unique<ScreenshotPreviewWindowController>(&state, history.get(), RecentCapturesRefresher());
        controller->setViewEnvironment({{}, panel});
        token = platform::NotificationCenter::defaultCenter().addObserver(
            "screenshotAction", &context, [this](const platform::Notification& n) { actions.append(n.userInfo.value("action").toString()); });
    }
    void TearDown() override
    {
        platform::NotificationCenter::defaultCenter().removeObserver(token);
        if (controller)
            controller->closeWindow();
        test::spin(20ms);
    }
    // Opens a preview, with the own server as the one upload provider when `withServer`, and waits
    // until it has the keyboard.
    QWidget* open(bool withServer)
    {
        ServerSettings settings = state.serverSettings();
        settings.ftpHost = withServer ? QStringLiteral("files.example") : QString();
        state.setServerSettings(settings);
        fake.account.setIsAuthenticated(false);
        controller->setUploadServices(fake.services(true, false));
        controller->showPreview(fixtures::noise(400, 300));
        QWidget* window = controller->window();
        if (!window || !QTest::qWaitForWindowExposed(window)
            || !test::waitUntil([window] { return QApplication::activeWindow() == window; }, 5s))
            return nullptr;
        return window;
    }
    bool key(const QString& keys) { return test::xdotool({"key", "--clearmodifiers", keys}); }

    QTemporaryDir dir;
    AppState state;
    fakes::Services fake;
    std::shared_ptr<fakes::SavePanel> panel = std::make_shared<fakes::SavePanel>();
    std::unique_ptr<ScreenshotHistoryManager> history;
    std::unique_ptr<ScreenshotPreviewWindowController> controller;
    QObject context;
    platform::NotificationCenter::Token token = 0;
    QStringList actions;
};

} // namespace

TEST_F(PreviewKeysX11, TheNamedKeysRunTheirItemsAndReturnIsDone)
{
    QWidget* window = open(true);
    ASSERT_TRUE(window);
    const struct {
        const char* keys;
        const char* action;
    } cases[] = {{"ctrl+s", "save"}, {"ctrl+c", "copy"}, {"ctrl+u", "ssh"}};
    for (const auto& c : cases) {
        actions.clear();
        ASSERT_TRUE(key(c.keys));
        EXPECT_TRUE(test::waitUntil([&] { return actions.contains(c.action); }, 3s)) << c.keys << ": " << actions.join(',').toStdString();
    }
    EXPECT_EQ(panel->asked.size(), 1) << "Ctrl+S opens the save panel";
    ASSERT_EQ(fake.servers.size(), 1);
    EXPECT_EQ(fake.servers.last()->calls.size(), 1) << "Ctrl+U uploads to the provider the item shows";

    actions.clear();
    ASSERT_TRUE(key("Return"));
    EXPECT_TRUE(test::waitUntil([&] { return actions.contains("done"); }, 3s)) << actions.join(',').toStdString();
}

TEST_F(PreviewKeysX11, EscapeClosesLikeTheCloseButtonAndUploadWithoutProviderDoesNothing)
{
    QWidget* window = open(false);
    ASSERT_TRUE(window);
    ASSERT_TRUE(state.isEditing());
    ASSERT_TRUE(key("ctrl+u"));
    test::spin(300ms);
    EXPECT_TRUE(actions.isEmpty()) << actions.join(',').toStdString();

    ASSERT_TRUE(key("Escape"));
    EXPECT_TRUE(test::waitUntil([&] { return !window->isVisible(); }, 3s));
    EXPECT_FALSE(state.isEditing());
    EXPECT_TRUE(actions.isEmpty()) << actions.join(',').toStdString();
}

TEST_F(PreviewKeysX11, TheInlineTextFieldKeepsItsKeys)
{
    QWidget* window = open(true);
    ASSERT_TRUE(window);
    ImageEditorView* editor = controller->view()->editor();
    QTest::mouseClick(editor->toolbar()->toolButton(AnnotationType::text), Qt::LeftButton);
    QTest::mouseClick(editor->canvas(), Qt::LeftButton, {}, {40, 40});
    ASSERT_TRUE(test::waitUntil([&] { return editor->textField() && QApplication::focusWidget() == editor->textField(); }, 3s));

    ASSERT_TRUE(test::xdotool({"type", "ab"}));
    ASSERT_TRUE(test::waitUntil([&] { return editor->textField()->toPlainText() == "ab"; }, 3s));
    // Shift+Return breaks the line; Ctrl+A and Ctrl+C select and copy the text, not the picture;
    // Ctrl+S saves nothing.
    ASSERT_TRUE(key("shift+Return"));
    ASSERT_TRUE(test::xdotool({"type", "c"}));
    ASSERT_TRUE(test::waitUntil([&] { return editor->textField()->toPlainText() == "ab\nc"; }, 3s))
        << editor->textField()->toPlainText().toStdString();
    ASSERT_TRUE(key("ctrl+a"));
    ASSERT_TRUE(key("ctrl+c"));
    ASSERT_TRUE(key("ctrl+s"));
    test::spin(300ms);
    EXPECT_TRUE(actions.isEmpty()) << actions.join(',').toStdString();
    EXPECT_TRUE(panel->asked.isEmpty());
    EXPECT_TRUE(editor->textField()->textCursor().hasSelection());

    // Return stores the text and leaves the window open.
    ASSERT_TRUE(key("Return"));
    ASSERT_TRUE(test::waitUntil([&] { return !editor->textField(); }, 3s));
    ASSERT_EQ(state.annotations().size(), 1);
    EXPECT_EQ(state.annotations()[0].text, QString("ab\nc"));
    EXPECT_TRUE(actions.isEmpty()) << actions.join(',').toStdString();
    EXPECT_TRUE(window->isVisible());

    // Escape in a new field discards its text and keeps the window.
    QTest::mouseClick(editor->canvas(), Qt::LeftButton, {}, {200, 150});
    ASSERT_TRUE(test::waitUntil([&] { return editor->textField() && QApplication::focusWidget() == editor->textField(); }, 3s));
    ASSERT_TRUE(test::xdotool({"type", "x"}));
    ASSERT_TRUE(test::waitUntil([&] { return editor->textField()->toPlainText() == "x"; }, 3s));
    ASSERT_TRUE(key("Escape"));
    ASSERT_TRUE(test::waitUntil([&] { return !editor->textField(); }, 3s));
    EXPECT_EQ(state.annotations().size(), 1);
    EXPECT_TRUE(window->isVisible());

    // With the field gone the window's keys work again.
    ASSERT_TRUE(key("ctrl+c"));
    EXPECT_TRUE(test::waitUntil([&] { return actions.contains("copy"); }, 3s)) << actions.join(',').toStdString();
}
