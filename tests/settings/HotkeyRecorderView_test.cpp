// The hot-key recorder on the offscreen platform, with synthesised key events (no X key codes: the
// Qt key decides). Real key presses on X are in HotkeyRecorderView_x11_test.
#include "settings/HotkeyRecorderView.h"

#include "app/HotKeyManager.h"
#include "app/Localization.h"
#include "cloud/CloudTestSupport.h"
#include "settings/KeyEventHandlerView.h"
#include "support/StdoutTap.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace std::chrono_literals;

namespace {

// A recorder bound to a plain string, counting its change callbacks.
struct Row {
    Row()
        : view(std::make_unique<HotkeyRecorderView>(
              HotkeyRecorderView::Binding{[this] { return value; }, [this](const QString& v) { value = v; }},
              QStringLiteral("Захват области:"), [this] { ++changes; }))
    {
    }
    QString value;
    int changes = 0;
    std::unique_ptr<HotkeyRecorderView> view;

    void press(int key, Qt::KeyboardModifiers modifiers)
    {
        const QKeyEvent event(QEvent::KeyPress, key, modifiers);
        view->handleKeyEvent(event);
    }
    QString fieldText() const { return view->findChild<QLabel*>("hotkeyText")->text(); }
    bool clearShown() const { return !view->findChild<QToolButton*>("clearHotkeyButton")->isHidden(); }
};

class HotkeyRecorderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        L::setLanguageForTesting(AppLanguage::ru);
        HotKeyManager::shared().restore();
    }
    void TearDown() override { HotKeyManager::shared().restore(); }
};

} // namespace

TEST(HotkeyRecorderKeys, KeyTableOfTheCombinationFormat)
{
    const std::map<int, QString> named{
        {0, "a"},    {1, "s"},    {2, "d"},    {3, "f"},    {4, "h"},     {5, "g"},     {6, "z"},     {7, "x"},
        {8, "c"},    {9, "v"},    {11, "b"},   {12, "q"},   {13, "w"},    {14, "e"},    {15, "r"},    {16, "y"},
        {17, "t"},   {31, "o"},   {32, "u"},   {34, "i"},   {35, "p"},    {37, "l"},    {38, "j"},    {40, "k"},
        {45, "n"},   {46, "m"},   {18, "1"},   {19, "2"},   {20, "3"},    {21, "4"},    {22, "6"},    {23, "5"},
        {25, "9"},   {26, "7"},   {28, "8"},   {29, "0"},   {36, "enter"}, {48, "tab"}, {49, "space"}, {53, "esc"},
        {122, "f1"}, {120, "f2"}, {99, "f3"},  {118, "f4"}, {96, "f5"},   {97, "f6"},   {98, "f7"},   {100, "f8"},
        {101, "f9"}, {109, "f10"}, {103, "f11"}, {111, "f12"},
    };
    ASSERT_EQ(named.size(), 52u);
    for (int code = 0; code <= 0xFFFF; ++code) {
        const auto name = HotkeyRecorderView::keyCodeToString(static_cast<quint16>(code));
        const auto it = named.find(code);
        if (it == named.end()) {
            EXPECT_FALSE(name) << code;
        } else {
            EXPECT_EQ(name, it->second) << code;
            // The hot-key manager reads every name back to the same code.
            EXPECT_EQ(HotKeyManager::keyCodeForString(*name), static_cast<quint32>(code));
        }
    }
}

TEST_F(HotkeyRecorderTest, KeyPressesWhileListening)
{
    const Qt::KeyboardModifiers cmd = Qt::MetaModifier;
    struct Case {
        const char* what;
        int key;
        Qt::KeyboardModifiers modifiers;
        const char* recorded; // nullptr: ignored
        bool warning;
    };
    const Case cases[] = {
        {"A alone", Qt::Key_A, Qt::NoModifier, nullptr, false},
        {"Shift-A", Qt::Key_A, Qt::ShiftModifier, "shift+a", false},
        {"Control-Command-Q, Command first", Qt::Key_Q, Qt::ControlModifier | cmd, "cmd+ctrl+q", false},
        {"Command-Shift-4", Qt::Key_4, cmd | Qt::ShiftModifier, "cmd+shift+4", false},
        {"Command-Escape", Qt::Key_Escape, cmd, "cmd+esc", false},
        {"Escape alone", Qt::Key_Escape, Qt::NoModifier, nullptr, false},
        {"all four and F12", Qt::Key_F12, cmd | Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier,
         "cmd+ctrl+alt+shift+f12", false},
        {"Control-Option-F5", Qt::Key_F5, Qt::ControlModifier | Qt::AltModifier, "ctrl+alt+f5", true},
        {"Command-Tab", Qt::Key_Tab, cmd, "cmd+tab", true},
        {"Shift-Tab", Qt::Key_Backtab, Qt::ShiftModifier, "shift+tab", false},
        {"Command-Return", Qt::Key_Return, cmd, "cmd+enter", false},
        {"Control-Space", Qt::Key_Space, Qt::ControlModifier, "ctrl+space", true},
        {"Alt-0", Qt::Key_0, Qt::AltModifier, "alt+0", false},
        {"Command-Left", Qt::Key_Left, cmd, nullptr, false},
        {"Command-keypad 4", Qt::Key_4, cmd | Qt::KeypadModifier, nullptr, false},
        {"Command-keypad Enter", Qt::Key_Enter, cmd | Qt::KeypadModifier, nullptr, false},
        {"Command-=", Qt::Key_Equal, cmd, nullptr, false},
        {"Command--", Qt::Key_Minus, cmd, nullptr, false},
        {"Command-[", Qt::Key_BracketLeft, cmd, nullptr, false},
        {"Command-Delete", Qt::Key_Delete, cmd, nullptr, false},
        {"Command-F13", Qt::Key_F13, cmd, nullptr, false},
        {"Shift pressed", Qt::Key_Shift, Qt::ShiftModifier, nullptr, false},
        {"Super pressed with Control", Qt::Key_Super_L, Qt::ControlModifier | cmd, nullptr, false},
        {"Caps Lock with Shift", Qt::Key_CapsLock, Qt::ShiftModifier, nullptr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Row row;
        row.value = QStringLiteral("ctrl+1");
        row.view->toggleRecording();
        ASSERT_TRUE(row.view->isRecording());
        row.press(c.key, c.modifiers);
        if (!c.recorded) {
            EXPECT_TRUE(row.view->isRecording());
            EXPECT_EQ(row.value, "ctrl+1");
            EXPECT_EQ(row.changes, 0);
            EXPECT_TRUE(HotKeyManager::shared().isTemporarilyDisabled());
            continue;
        }
        EXPECT_FALSE(row.view->isRecording());
        EXPECT_EQ(row.value, QString::fromLatin1(c.recorded));
        EXPECT_EQ(row.changes, 1);
        EXPECT_EQ(row.view->conflictWarning().has_value(), c.warning);
        EXPECT_FALSE(HotKeyManager::shared().isTemporarilyDisabled());
        EXPECT_EQ(row.fieldText(), HotKeyManager::displayText(row.value));
        EXPECT_TRUE(row.clearShown());
        // Not listening: further presses change nothing.
        row.press(Qt::Key_B, Qt::ShiftModifier);
        EXPECT_EQ(row.value, QString::fromLatin1(c.recorded));
    }
}

TEST_F(HotkeyRecorderTest, CombinationsOfLinuxDesktopsAreMarked)
{
    const Qt::KeyboardModifiers super = Qt::MetaModifier;
    const Qt::KeyboardModifiers ctrl = Qt::ControlModifier;
    const Qt::KeyboardModifiers alt = Qt::AltModifier;
    const Qt::KeyboardModifiers shift = Qt::ShiftModifier;
    struct Case {
        const char* what;
        int key;
        Qt::KeyboardModifiers modifiers;
        bool warning;
    };
    const Case cases[] = {
        // Clipboard and editing in every program.
        {"Ctrl+C", Qt::Key_C, ctrl, true},
        {"Ctrl+V", Qt::Key_V, ctrl, true},
        {"Ctrl+X", Qt::Key_X, ctrl, true},
        {"Ctrl+Z", Qt::Key_Z, ctrl, true},
        {"Ctrl+Shift+Z", Qt::Key_Z, ctrl | shift, true},
        {"Ctrl+Y", Qt::Key_Y, ctrl, true},
        {"Ctrl+A", Qt::Key_A, ctrl, true},
        {"Ctrl+S", Qt::Key_S, ctrl, true},
        {"Ctrl+F", Qt::Key_F, ctrl, true},
        {"Ctrl+Q", Qt::Key_Q, ctrl, true},
        {"Ctrl+W", Qt::Key_W, ctrl, true},
        {"Ctrl+Shift+C, a terminal's copy", Qt::Key_C, ctrl | shift, true},
        {"Ctrl+Shift+V, a terminal's paste", Qt::Key_V, ctrl | shift, true},
        // The window manager and the desktop.
        {"Alt+Tab", Qt::Key_Tab, alt, true},
        {"Alt+Shift+Tab", Qt::Key_Backtab, alt | shift, true},
        {"Alt+F4", Qt::Key_F4, alt, true},
        {"Alt+F2", Qt::Key_F2, alt, true},
        {"Alt+Space", Qt::Key_Space, alt, true},
        {"Ctrl+Alt+T", Qt::Key_T, ctrl | alt, true},
        {"Ctrl+Alt+L", Qt::Key_L, ctrl | alt, true},
        {"Ctrl+Alt+F1, a console", Qt::Key_F1, ctrl | alt, true},
        {"Ctrl+Alt+F12", Qt::Key_F12, ctrl | alt, true},
        {"Ctrl+Alt+Shift+R, the desktop's screencast", Qt::Key_R, ctrl | alt | shift, true},
        {"Ctrl+Space, the input method", Qt::Key_Space, ctrl, true},
        {"Super+Space, the keyboard layout", Qt::Key_Space, super, true},
        {"Super+Tab", Qt::Key_Tab, super, true},
        {"Super+L", Qt::Key_L, super, true},
        {"Super+D", Qt::Key_D, super, true},
        {"Super+E", Qt::Key_E, super, true},
        {"Super+A", Qt::Key_A, super, true},
        // Free on Linux desktops, the other platform's shortcuts among them.
        {"Super+Shift+4", Qt::Key_4, super | shift, false},
        {"Super+Q", Qt::Key_Q, super, false},
        {"Super+Ctrl+Q", Qt::Key_Q, super | ctrl, false},
        {"Ctrl+Alt+K", Qt::Key_K, ctrl | alt, false},
        {"Ctrl+Shift+4", Qt::Key_4, ctrl | shift, false},
        {"Alt+Shift+S", Qt::Key_S, alt | shift, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Row row;
        row.view->toggleRecording();
        row.press(c.key, c.modifiers);
        ASSERT_FALSE(row.view->isRecording());
        EXPECT_EQ(row.view->conflictWarning().has_value(), c.warning) << row.value.toStdString();
    }
    // Every entry is a combination the field can record, written as it writes them.
    for (const QString& entry : HotkeyRecorderView::systemHotkeys()) {
        SCOPED_TRACE(entry.toStdString());
        const auto parsed = HotKeyManager::parseHotkeyString(entry);
        ASSERT_TRUE(parsed);
        QStringList parts;
        for (const auto& [mask, name] : {std::pair{HotKeyManager::cmdKey, "cmd"}, std::pair{HotKeyManager::controlKey, "ctrl"},
                                         std::pair{HotKeyManager::optionKey, "alt"}, std::pair{HotKeyManager::shiftKey, "shift"}})
            if (parsed->second & mask)
                parts << QString::fromLatin1(name);
        EXPECT_FALSE(parts.isEmpty());
        parts << *HotkeyRecorderView::keyCodeToString(static_cast<quint16>(parsed->first));
        EXPECT_EQ(parts.join('+'), entry);
    }
}

TEST_F(HotkeyRecorderTest, FieldFacesAndWarningLanguage)
{
    Row row;
    EXPECT_EQ(row.fieldText(), "Назначить");
    EXPECT_FALSE(row.clearShown());
    row.view->toggleRecording();
    EXPECT_EQ(row.fieldText(), "Нажмите комбинацию...");
    EXPECT_FALSE(row.clearShown());
    row.press(Qt::Key_T, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(row.fieldText(), "Ctrl+Alt+T");
    EXPECT_EQ(row.view->conflictWarning(), "Конфликт с системным хоткеем");
    EXPECT_EQ(row.view->findChild<QLabel*>("conflictWarning")->text(), "Конфликт с системным хоткеем");
    EXPECT_FALSE(row.view->findChild<QWidget*>("conflictWarningRow")->isHidden());

    // A warning already shown stays while listening again, and goes when listening ends by a click.
    row.view->toggleRecording();
    EXPECT_TRUE(row.view->conflictWarning());
    row.view->toggleRecording();
    EXPECT_FALSE(row.view->conflictWarning());
    EXPECT_TRUE(row.view->findChild<QWidget*>("conflictWarningRow")->isHidden());
    EXPECT_EQ(row.value, "ctrl+alt+t"); // unchanged by the click

    // English: other texts, the same stored string.
    L::setLanguageForTesting(AppLanguage::en);
    Row english;
    EXPECT_EQ(english.fieldText(), "Assign");
    english.view->toggleRecording();
    EXPECT_EQ(english.fieldText(), "Press key combination...");
    english.press(Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(english.value, "ctrl+q");
    EXPECT_EQ(english.view->conflictWarning(), "Conflicts with system hotkey");
    L::setLanguageForTesting(AppLanguage::ru);
}

TEST_F(HotkeyRecorderTest, ListeningSwitchesTheGlobalHotKeysOffAndBackOn)
{
    HotKeyManager& manager = HotKeyManager::shared();
    manager.updateHotkeys("cmd+shift+1", "", "");
    ASSERT_FALSE(manager.isTemporarilyDisabled());
    test::StdoutTap console;

    Row first;
    Row second;
    first.view->toggleRecording();
    EXPECT_TRUE(manager.isTemporarilyDisabled());
    EXPECT_TRUE(manager.registeredIDs().isEmpty());
    ASSERT_TRUE(first.view->keyCatcher());
    // A second row takes over: the first stops listening, the hot keys stay off all along.
    second.view->toggleRecording();
    EXPECT_FALSE(first.view->isRecording());
    EXPECT_TRUE(second.view->isRecording());
    EXPECT_TRUE(manager.isTemporarilyDisabled());
    EXPECT_EQ(console.lines().count("HotKeyManager: Temporarily disabled all hotkeys"), 1);
    EXPECT_FALSE(console.lines().contains("HotKeyManager: Restored all hotkeys"));

    // Ending by a click restores; the remembered combinations stay the manager's.
    second.view->toggleRecording();
    EXPECT_FALSE(manager.isTemporarilyDisabled());
    EXPECT_EQ(manager.currentHotkeys().value("area"), "cmd+shift+1");
    test::spin(10ms);
    EXPECT_FALSE(first.view->keyCatcher());
    EXPECT_FALSE(second.view->keyCatcher());

    // Clearing calls back but leaves the global hot keys as they are.
    manager.temporarilyDisable();
    first.value = "cmd+2";
    first.view->refresh();
    ASSERT_TRUE(first.clearShown());
    first.view->findChild<QToolButton*>("clearHotkeyButton")->click();
    EXPECT_EQ(first.value, "");
    EXPECT_EQ(first.changes, 1);
    EXPECT_TRUE(manager.isTemporarilyDisabled());
    EXPECT_EQ(first.fieldText(), "Назначить");
    manager.restore();

    // A row that goes away while listening switches them back on.
    second.view->toggleRecording();
    ASSERT_TRUE(manager.isTemporarilyDisabled());
    second.view.reset();
    EXPECT_FALSE(manager.isTemporarilyDisabled());
    manager.updateHotkeys("", "", "");
}

TEST_F(HotkeyRecorderTest, TheFieldClickTogglesAndTheCatcherTakesEveryKey)
{
    Row row;
    auto* field = row.view->findChild<QPushButton*>("hotkeyField");
    field->click();
    ASSERT_TRUE(row.view->isRecording());
    KeyEventHandlerView* catcher = row.view->keyCatcher();
    ASSERT_TRUE(catcher);
    EXPECT_EQ(catcher->size(), QSize(0, 0));
    // Tab reaches the catcher instead of moving the focus.
    QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::ControlModifier);
    QCoreApplication::sendEvent(catcher, &tab);
    EXPECT_EQ(row.value, "ctrl+tab");
    EXPECT_FALSE(row.view->isRecording());
    field->click();
    field->click();
    EXPECT_FALSE(row.view->isRecording());
    EXPECT_EQ(row.value, "ctrl+tab");
}

TEST_F(HotkeyRecorderTest, ListeningEndsWhenTheFieldLosesTheFocusOrTheRowIsHidden)
{
    HotKeyManager& manager = HotKeyManager::shared();
    struct Case {
        const char* name;
        std::function<void(QWidget& window, QLineEdit& other, std::unique_ptr<QMenu>& popup)> act;
    };
    const Case cases[] = {
        {"another widget takes the focus", [](QWidget&, QLineEdit& other, std::unique_ptr<QMenu>&) { other.setFocus(); }},
        {"a popup menu opens", [](QWidget& window, QLineEdit&, std::unique_ptr<QMenu>& popup) {
             popup = std::make_unique<QMenu>();
             popup->addAction(QStringLiteral("Выбранная область"));
             popup->popup(window.geometry().center());
         }},
        {"the window is hidden", [](QWidget& window, QLineEdit&, std::unique_ptr<QMenu>&) { window.hide(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        QString value;
        auto* recorder = new HotkeyRecorderView(
            HotkeyRecorderView::Binding{[&value] { return value; }, [&value](const QString& v) { value = v; }},
            QStringLiteral("Захват области:"), [] {});
        layout->addWidget(recorder);
        auto* other = new QLineEdit;
        layout->addWidget(other);
        window.show();
        window.activateWindow();
        ASSERT_TRUE(test::waitUntil([&] { return window.isActiveWindow(); }, 2s));

        recorder->toggleRecording();
        ASSERT_TRUE(test::waitUntil([&] { return recorder->keyCatcher() && recorder->keyCatcher()->hasFocus(); }, 2s));
        ASSERT_TRUE(manager.isTemporarilyDisabled());
        std::unique_ptr<QMenu> popup;
        c.act(window, *other, popup);
        EXPECT_TRUE(test::waitUntil([&] { return !recorder->isRecording(); }, 2s));
        EXPECT_FALSE(manager.isTemporarilyDisabled());
        EXPECT_NE(recorder->findChild<QLabel*>("hotkeyText")->text(), "Нажмите комбинацию...");
        EXPECT_EQ(value, "");
    }
}
