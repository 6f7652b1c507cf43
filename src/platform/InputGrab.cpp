#include "platform/InputGrab.h"

#include <QWidget>
#include <QWindow>

namespace platform {

InputGrab::InputGrab(QWidget* window, std::function<void()> retry)
    : m_window(window)
{
    m_retry.setInterval(kRetryIntervalMs);
    QObject::connect(&m_retry, &QTimer::timeout, window, std::move(retry));
}

std::optional<QString> InputGrab::tryGrab(bool wanted)
{
    if (!wanted || !m_window->isVisible()) {
        m_retry.stop();
        return std::nullopt;
    }
    QWindow* window = m_window->windowHandle();
    const bool keyboard = window && window->setKeyboardGrabEnabled(true);
    const bool mouse = window && window->setMouseGrabEnabled(true);
    if (keyboard && mouse) {
        // Route the grabbed input to this widget inside Qt as well.
        m_window->grabKeyboard();
        m_window->grabMouse();
        m_hasGrabs = true;
        m_retry.stop();
        return std::nullopt;
    }
    if (++m_attempts >= kAttempts) {
        m_retry.stop();
        return QStringLiteral("Could not grab ") + (keyboard ? QStringLiteral("the mouse") : QStringLiteral("the keyboard"))
            + QStringLiteral(", continuing without it");
    }
    if (!m_retry.isActive())
        m_retry.start();
    return std::nullopt;
}

void InputGrab::release()
{
    m_retry.stop();
    if (!m_hasGrabs)
        return;
    m_hasGrabs = false;
    m_window->releaseKeyboard();
    m_window->releaseMouse();
    if (QWindow* window = m_window->windowHandle()) {
        window->setKeyboardGrabEnabled(false);
        window->setMouseGrabEnabled(false);
    }
}

} // namespace platform
