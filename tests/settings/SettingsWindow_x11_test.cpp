// The real settings window on the test X server, driven by pointer clicks and key presses sent
// through XTest: what is typed into the upload section outlives the window, hot keys read in Linux
// notation, and the connection test's alert uses marks the desktop's font can draw.
#include "SettingsTestSupport.h"
#include "app/Localization.h"
#include "shell/SettingsWindowController.h"
#include "settings/HotkeyRecorderView.h"
#include "settings/HotkeysSectionView.h"
#include "settings/SettingsView.h"
#include "settings/SettingsViewModel.h"
#include "settings/UploadSectionView.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QTcpServer>

#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <string_view>

using namespace settingstest;
using namespace std::chrono_literals;

namespace {

xcb_atom_t atom(xcb_connection_t* connection, const char* name)
{
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, std::strlen(name), name), nullptr);
    const xcb_atom_t value = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    std::free(reply);
    return value;
}

// What a window manager's close button sends: WM_DELETE_WINDOW.
void closeAsTheWindowManagerDoes(QWidget* window)
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    ASSERT_TRUE(x11);
    xcb_connection_t* connection = x11->connection();
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = static_cast<xcb_window_t>(window->winId());
    event.type = atom(connection, "WM_PROTOCOLS");
    event.data.data32[0] = atom(connection, "WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(connection, 0, event.window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
    xcb_flush(connection);
}

bool clickOn(QWidget* widget)
{
    const QPoint centre = widget->mapToGlobal(widget->rect().center()) * widget->devicePixelRatioF();
    return test::xdotool({"mousemove", "--sync", QString::number(centre.x()), QString::number(centre.y()), "click", "1"});
}

class SettingsWindowOnX : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(APIClient::setSharedServiceRootForTesting(deadRoot()));
    }
    void SetUp() override
    {
        ASSERT_TRUE(test::haveDisplay());
        L::setLanguageForTesting(AppLanguage::ru);
        resetStores();
        appState = std::make_unique<AppState>();
        host = std::make_unique<SettingsWindowController>(appState.get());
    }
    void TearDown() override
    {
        host.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        L::setLanguageForTesting(AppLanguage::ru);
    }

    SettingsView* open()
    {
        host->showSettings();
        auto* view = host->window()->findChild<SettingsView*>();
        EXPECT_TRUE(view);
        EXPECT_TRUE(test::waitUntil([&] { return host->window()->isActiveWindow(); }, 5s));
        return view;
    }
    // A click on a sidebar row, as the user makes it.
    template <typename Section>
    Section* show(SettingsView* view, SettingsSection section)
    {
        EXPECT_TRUE(clickOn(view->sidebarRow(section)));
        EXPECT_TRUE(test::waitUntil([&] { return qobject_cast<Section*>(view->currentSection()) != nullptr; }, 5s));
        return qobject_cast<Section*>(view->currentSection());
    }
    QLineEdit* field(SettingsView* view, const char* name)
    {
        auto* found = view->currentSection()->findChild<QLineEdit*>(QString::fromLatin1(name));
        EXPECT_TRUE(found) << name;
        return found;
    }
    // Clicks into the field, selects what it holds and types over it.
    void typeInto(SettingsView* view, const char* name, const QString& text)
    {
        QLineEdit* target = field(view, name);
        ASSERT_TRUE(target);
        view->findChild<QScrollArea*>("settingsContent")->ensureWidgetVisible(target);
        test::spin(50ms);
        ASSERT_TRUE(clickOn(target));
        ASSERT_TRUE(test::waitUntil([&] { return target->hasFocus(); }, 5s)) << name;
        ASSERT_TRUE(test::xdotool({"key", "ctrl+a"}));
        if (text.isEmpty())
            ASSERT_TRUE(test::xdotool({"key", "BackSpace"}));
        else
            ASSERT_TRUE(test::xdotool({"type", "--delay", "15", text}));
        ASSERT_TRUE(test::waitUntil([&] { return target->text() == text; }, 5s))
            << name << ": " << target->text().toStdString();
    }
    void closeWindow()
    {
        closeAsTheWindowManagerDoes(host->window());
        ASSERT_TRUE(test::waitUntil([&] { return host->window() == nullptr; }, 5s));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    QString storedPassword(const QString& key)
    {
        const auto record = keychainRecord();
        return record ? record->ftpPasswords.value(key) : QStringLiteral("<no keychain item>");
    }

    std::unique_ptr<AppState> appState;
    std::unique_ptr<SettingsWindowController> host;
};

} // namespace

TEST_F(SettingsWindowOnX, TypedServerSettingsAreKeptWhenTheWindowCloses)
{
    SettingsView* view = open();
    ASSERT_TRUE(view);
    auto* upload = show<UploadSectionView>(view, SettingsSection::upload);
    ASSERT_TRUE(upload);
    ASSERT_TRUE(clickOn(upload->providerRow(UploadProvider::ssh)));
    ASSERT_TRUE(test::waitUntil([&] { return field(view, "hostField")->isVisible(); }, 5s));

    const std::pair<const char*, QString> typed[] = {
        {"hostField", "ftp.example.org"},
        {"portField", "2121"},
        {"userField", "anna"},
        {"passwordField", "s3cret!pw"},
        {"baseURLField", "https://files.example.org/shots/"},
    };
    for (const auto& [name, text] : typed)
        typeInto(view, name, text);
    // Nothing but typing so far: only the provider's own save has reached the file.
    EXPECT_EQ(platform::UserDefaults::standard().string("ftpHost"), "");

    closeWindow();
    platform::UserDefaults defaults = platform::UserDefaults::standard();
    EXPECT_EQ(defaults.string("uploadProvider"), "ssh");
    EXPECT_EQ(defaults.string("ftpHost"), "ftp.example.org");
    EXPECT_EQ(defaults.integer("ftpPort"), 2121);
    EXPECT_EQ(defaults.string("ftpUsername"), "anna");
    EXPECT_EQ(defaults.string("baseURL"), "https://files.example.org/shots/");
    EXPECT_FALSE(storedFileText().contains("s3cret")); // the password only in the keychain
    EXPECT_EQ(storedPassword("anna@ftp.example.org"), "s3cret!pw");

    // Opened again: the fields show what was typed.
    view = open();
    ASSERT_TRUE(show<UploadSectionView>(view, SettingsSection::upload));
    for (const auto& [name, text] : typed)
        EXPECT_EQ(field(view, name)->text(), name == std::string_view("portField") ? QLocale().toString(2121) : text) << name;

    // Return in a field saves at once, the window still open.
    typeInto(view, "directoryField", "/incoming");
    ASSERT_TRUE(test::xdotool({"key", "Return"}));
    EXPECT_TRUE(test::waitUntil([] { return platform::UserDefaults::standard().string("ftpDirectory") == "/incoming"; }, 5s));
    EXPECT_TRUE(host->window());

    // An emptied password field leaves the stored password alone, on Return and on the close.
    typeInto(view, "passwordField", QString());
    ASSERT_TRUE(test::xdotool({"key", "Return"}));
    test::spin(100ms);
    closeWindow();
    EXPECT_EQ(storedPassword("anna@ftp.example.org"), "s3cret!pw");
    EXPECT_EQ(platform::UserDefaults::standard().string("ftpDirectory"), "/incoming");
}

TEST_F(SettingsWindowOnX, QuittingWithTheWindowOpenKeepsWhatWasTyped)
{
    SettingsView* view = open();
    ASSERT_TRUE(view);
    ASSERT_TRUE(show<UploadSectionView>(view, SettingsSection::upload));
    ASSERT_TRUE(clickOn(qobject_cast<UploadSectionView*>(view->currentSection())->providerRow(UploadProvider::ssh)));
    typeInto(view, "hostField", "sftp.example.org");
    // The shutdown takes the controller down with its window still open.
    host.reset();
    EXPECT_EQ(platform::UserDefaults::standard().string("ftpHost"), "sftp.example.org");
    EXPECT_EQ(appState->serverSettings().ftpHost, "sftp.example.org");
}

TEST_F(SettingsWindowOnX, HotKeysReadInLinuxNotationEverywhereInTheWindow)
{
    ServerSettings stored = appState->serverSettings();
    stored.screenshotHotkey = "ctrl+shift+a";
    stored.fullScreenHotkey = "cmd+shift+f";
    appState->setServerSettings(stored);

    const std::pair<AppLanguage, QString> hints[] = {
        {AppLanguage::ru, "Требуется минимум один модификатор (Ctrl, Alt, Shift, Super)"},
        {AppLanguage::en, "At least one modifier required (Ctrl, Alt, Shift, Super)"},
    };
    for (const auto& [language, hint] : hints) {
        L::setLanguageForTesting(language);
        SettingsView* view = open();
        ASSERT_TRUE(view);
        auto* section = show<HotkeysSectionView>(view, SettingsSection::hotkeys);
        ASSERT_TRUE(section);
        auto fieldText = [](HotkeyRecorderView* recorder) {
            QStringList texts;
            for (const QLabel* label : recorder->findChild<QPushButton*>("hotkeyField")->findChildren<QLabel*>())
                if (!label->text().isEmpty())
                    texts.append(label->text());
            return texts.join(' ');
        };
        EXPECT_EQ(fieldText(section->recorders().at(0)), "Ctrl+Shift+A");
        EXPECT_EQ(fieldText(section->recorders().at(1)), "Super+Shift+F");
        QStringList labels;
        for (const QLabel* label : section->findChildren<QLabel*>())
            labels.append(label->text());
        EXPECT_TRUE(labels.contains(hint)) << labels.join(" | ").toStdString();

        // A real press lands in the field in the same notation.
        HotkeyRecorderView* recording = section->recorders().at(2);
        ASSERT_TRUE(clickOn(recording->findChild<QPushButton*>("hotkeyField")));
        ASSERT_TRUE(test::waitUntil([&] { return QApplication::focusWidget() == recording->keyCatcher(); }, 5s));
        ASSERT_TRUE(test::xdotool({"key", "ctrl+alt+r"}));
        ASSERT_TRUE(test::waitUntil([&] { return !recording->isRecording(); }, 5s));
        EXPECT_EQ(fieldText(recording), "Ctrl+Alt+R");

        // No Apple key mark anywhere: every text, button and tip of every section.
        for (SettingsSection each : SettingsSections::allCases()) {
            view->model()->selectSection(each);
            QStringList texts;
            for (const QWidget* widget : host->window()->findChildren<QWidget*>()) {
                texts.append(widget->toolTip());
                if (auto* label = qobject_cast<const QLabel*>(widget))
                    texts.append(label->text());
                if (auto* button = qobject_cast<const QAbstractButton*>(widget))
                    texts.append(button->text());
                if (auto* line = qobject_cast<const QLineEdit*>(widget))
                    texts.append(line->placeholderText());
            }
            const QString all = texts.join('\n');
            for (const char* mark : {"⌘", "⌃", "⌥", "⇧", "↵", "⇥", "⎋"})
                EXPECT_FALSE(all.contains(QString::fromUtf8(mark))) << SettingsSections::rawValue(each).toStdString() << ": " << mark;
        }
        closeWindow();
    }
}

TEST_F(SettingsWindowOnX, TheConnectionTestAlertUsesMarksTheFontDrawsAndAFullTitle)
{
    // A port where nobody listens: the SFTP probe fails at once.
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const int deadPort = probe.serverPort();
    probe.close();
    ServerSettings stored = appState->serverSettings();
    stored.uploadProvider = UploadProvider::ssh;
    stored.useSFTP = true;
    stored.ftpHost = "127.0.0.1";
    stored.ftpPort = deadPort;
    stored.ftpUsername = "anna";
    appState->setServerSettings(stored);

    SettingsView* view = open();
    ASSERT_TRUE(view);
    ASSERT_TRUE(show<UploadSectionView>(view, SettingsSection::upload));
    auto* button = view->currentSection()->findChild<QPushButton*>("testConnectionButton");
    ASSERT_TRUE(button);
    view->findChild<QScrollArea*>("settingsContent")->ensureWidgetVisible(button);
    test::spin(50ms);
    ASSERT_TRUE(clickOn(button));
    QMessageBox* alert = nullptr;
    ASSERT_TRUE(test::waitUntil([&] {
        alert = host->window()->findChild<QMessageBox*>("settingsAlert");
        return alert && alert->isVisible();
    }, 15s));
    EXPECT_EQ(alert->windowTitle(), "Результат тестирования");
    EXPECT_LT(alert->palette().color(QPalette::Window).lightness(), 60); // dark, like the window under it
    auto* message = alert->findChild<QLabel*>("qt_msgbox_informativelabel");
    ASSERT_TRUE(message);
    EXPECT_TRUE(message->text().startsWith("✗ ")) << message->text().toStdString();
    // Every character, the mark included, is in the font the label draws with.
    const QFontMetrics metrics(message->font());
    for (const char32_t c : message->text().toUcs4())
        EXPECT_TRUE(c == U' ' || metrics.inFontUcs4(c)) << "U+" << std::hex << static_cast<unsigned>(c);

    // The title fits the window that carries it, with room for a title bar's buttons.
    QFont titleFont = QApplication::font("QMdiSubWindowTitleBar");
    titleFont.setBold(true);
    const int titleWidth = QFontMetrics(titleFont).horizontalAdvance(alert->windowTitle());
    EXPECT_GE(alert->width(), titleWidth + 120) << "width " << alert->width() << ", title " << titleWidth;
    alert->button(QMessageBox::Ok) ? alert->button(QMessageBox::Ok)->click() : alert->buttons().first()->click();
    EXPECT_TRUE(test::waitUntil([&] { return !view->model()->showingTestResult(); }, 5s));
}
