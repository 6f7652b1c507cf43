#include "app/SettingsWindowController.h"

#include "app/AppState.h"
#include "platform/Application.h"
#include "settings/SettingsView.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QPalette>
#include <QScreen>
#include <QVBoxLayout>

namespace {

constexpr int kWidth = 600;
constexpr int kHeight = 500;

// The dark heads-up background the window always has, whatever the desktop's theme.
const QColor kBackground(30, 30, 32);

QPalette darkPalette()
{
    QPalette palette;
    palette.setColor(QPalette::Window, kBackground);
    palette.setColor(QPalette::WindowText, QColor(255, 255, 255, 235));
    palette.setColor(QPalette::Base, QColor(44, 44, 46));
    palette.setColor(QPalette::AlternateBase, QColor(58, 58, 60));
    palette.setColor(QPalette::Text, QColor(255, 255, 255, 235));
    palette.setColor(QPalette::Button, QColor(58, 58, 60));
    palette.setColor(QPalette::ButtonText, QColor(255, 255, 255, 235));
    palette.setColor(QPalette::PlaceholderText, QColor(235, 235, 245, 76));
    palette.setColor(QPalette::Highlight, QColor(10, 132, 255));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::ToolTipBase, QColor(44, 44, 46));
    palette.setColor(QPalette::ToolTipText, Qt::white);
    return palette;
}

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
    window->setPalette(darkPalette());
    window->setAutoFillBackground(true);

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

void SettingsWindowController::windowWillClose()
{
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
