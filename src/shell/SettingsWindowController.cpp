#include "shell/SettingsWindowController.h"

#include "app/AppState.h"
#include "app/DarkPalette.h"
#include "platform/Application.h"
#include "settings/SettingsView.h"
#include "settings/SettingsViewModel.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

namespace {

constexpr int kWidth = 600;
constexpr int kHeight = 500;

// The root view of a new settings window.
QWidget* makeSettingsView(AppState& appState, QWidget* parent)
{
    return new SettingsView(appState, parent);
}

} // namespace

SettingsWindowController::SettingsWindowController(AppState* appState, QObject* parent)
    : QObject(parent)
    , m_appState(appState)
{
}

SettingsWindowController::~SettingsWindowController()
{
    // Quitting with the window open keeps what was typed as closing it does.
    saveEdits();
    delete m_window.data();
}

void SettingsWindowController::showSettings()
{
    if (m_window) {
        bringToFront();
        return;
    }

    // Titled, closable and minimisable, not resizable.
    auto* window = new QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                                            | Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint);
    window->setAttribute(Qt::WA_QuitOnClose, false);
    window->setWindowTitle(QStringLiteral("Настройки"));
    window->setFixedSize(kWidth, kHeight);
    DarkPalette::apply(window);

    // The view fills the whole window.
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(makeSettingsView(*m_appState, window));

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        window->move(available.center() - QPoint(kWidth / 2, kHeight / 2));
    }
    window->installEventFilter(this);
    m_window = window;
    window->show();
    bringToFront();
}

void SettingsWindowController::bringToFront()
{
    m_window->raise();
    m_window->activateWindow();
    auto& application = platform::Application::shared();
    application.setActivationPolicy(platform::ActivationPolicy::regular);
    application.activateIgnoringOtherApps();
}

bool SettingsWindowController::windowShouldClose()
{
    return true;
}

void SettingsWindowController::saveEdits()
{
    if (!m_window)
        return;
    if (auto* view = m_window->findChild<SettingsView*>())
        view->model()->saveEdits();
}

void SettingsWindowController::windowWillClose()
{
    saveEdits();
    if (QWidget* window = m_window) {
        window->removeEventFilter(this);
        // Not now: the window is still handling its close event.
        window->deleteLater();
    }
    m_window = nullptr;
    platform::Application::shared().setActivationPolicy(platform::ActivationPolicy::accessory);
}

bool SettingsWindowController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_window && event->type() == QEvent::Close) {
        if (!windowShouldClose()) {
            event->ignore();
            return true;
        }
        windowWillClose();
    }
    return QObject::eventFilter(watched, event);
}
