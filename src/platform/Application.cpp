#include "platform/Application.h"

#include "platform/OnScreenTracker.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <algorithm>

namespace platform {

Application& Application::shared()
{
    static Application* instance = new Application; // lives until the process ends
    instance->watchWindows();
    return *instance;
}

void Application::watchWindows()
{
    // Watches the windows of the whole application: which was shown last, and when one of ours
    // comes to the front. Once there is an application to watch.
    if (m_watching)
        return;
    if (QCoreApplication* app = QCoreApplication::instance()) {
        app->installEventFilter(this);
        app->installNativeEventFilter(&OnScreenTracker::shared());
        m_watching = true;
    }
}

QString Application::bundleIdentifier()
{
    return QStringLiteral("app.kestrova.Kestrova");
}

QString Application::policyName(ActivationPolicy policy)
{
    switch (policy) {
    case ActivationPolicy::regular:
        return QStringLiteral("regular");
    case ActivationPolicy::accessory:
        return QStringLiteral("accessory");
    case ActivationPolicy::prohibited:
        return QStringLiteral("prohibited");
    }
    return QStringLiteral("unknown");
}

void Application::setActivationPolicy(ActivationPolicy policy)
{
    if (m_policy == policy)
        return;
    m_policy = policy;
    emit activationPolicyChanged(policy);
}

void Application::disableSuddenTermination()
{
    ++m_suddenTerminationDisabled;
}

void Application::enableSuddenTermination()
{
    if (m_suddenTerminationDisabled > 0)
        --m_suddenTerminationDisabled;
}

void Application::disableAutomaticTermination(const QString&)
{
    ++m_automaticTerminationDisabled;
}

void Application::enableAutomaticTermination(const QString&)
{
    if (m_automaticTerminationDisabled > 0)
        --m_automaticTerminationDisabled;
}

namespace {

// A window the activation may bring to the front: an ordinary or tool window that takes the focus.
bool takesTheFront(const QWidget* window)
{
    const Qt::WindowType type = window->windowType();
    return window->isVisible() && type != Qt::Popup && type != Qt::ToolTip && type != Qt::Desktop
        && !window->testAttribute(Qt::WA_ShowWithoutActivating) && !window->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus)
        && !window->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}

const char* const kKeptDuringCaptures = "kestrovaKeptDuringCaptures";

bool showsInCaptures(const QWidget* window)
{
    const Qt::WindowType type = window->windowType();
    return window->isVisible() && type != Qt::Popup && type != Qt::ToolTip && type != Qt::Desktop
        && !window->property(kKeptDuringCaptures).toBool() && !window->inherits("QSystemTrayIconSys") && !window->isModal();
}

bool isFloating(const QWidget* window)
{
    const Qt::WindowType type = window->windowType();
    return window->isVisible() && type != Qt::Popup && type != Qt::ToolTip && type != Qt::Desktop
        && window->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}

} // namespace

bool Application::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if ((type == QEvent::Hide || type == QEvent::Close) && watched->isWidgetType()
        && static_cast<QWidget*>(watched)->isWindow()) {
        auto* widget = static_cast<QWidget*>(watched);
        if (type == QEvent::Hide)
            OnScreenTracker::shared().windowHidden(widget);
        else // closed while a capture had it hidden: it stays closed
            m_hiddenForCapture.removeIf([widget](const HiddenForCapture& hidden) { return hidden.window == widget; });
    }
    if ((type == QEvent::Show || type == QEvent::WindowActivate) && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        if (widget->isWindow()) {
            if (type == QEvent::Show) {
                noteShown(widget);
                OnScreenTracker::shared().windowShown(widget);
                // Shown by someone else while a capture had it hidden: it is theirs again.
                if (!m_restoring)
                    m_hiddenForCapture.removeIf([widget](const HiddenForCapture& hidden) { return hidden.window == widget; });
            }
            if (!isFloating(widget) && widget->windowType() != Qt::Popup && widget->windowType() != Qt::ToolTip
                && !m_floatingRaisePending) {
                // After the window manager has raised the window that came forward.
                m_floatingRaisePending = true;
                QTimer::singleShot(0, this, [this] {
                    m_floatingRaisePending = false;
                    raiseFloatingWindows();
                });
            }
        }
    }
    return QObject::eventFilter(watched, event);
}

void Application::noteShown(QWidget* window)
{
    m_shown.removeIf([window](const Shown& shown) { return shown.window.isNull() || shown.window == window; });
    m_shown.append({window, ++m_showSerial});
}

QWidget* Application::frontWindow(quint64 since, const QWidget* except) const
{
    for (auto it = m_shown.crbegin(); it != m_shown.crend(); ++it)
        if (it->window && it->serial > since && it->window != except && takesTheFront(it->window))
            return it->window;
    return nullptr;
}

void Application::activateIgnoringOtherApps()
{
    if (QApplication::activeWindow())
        return;
    QWidget* front = frontWindow();
    if (!front) {
        // Shown before anyone watched.
        const QWidgetList windows = QApplication::topLevelWidgets();
        const auto found = std::find_if(windows.begin(), windows.end(), [](const QWidget* w) { return takesTheFront(w); });
        front = found != windows.end() ? *found : nullptr;
    }
    if (!front)
        return;
    front->raise();
    front->activateWindow();
    raiseFloatingWindows();
}

void Application::keepDuringCaptures(QWidget* window)
{
    if (window)
        window->setProperty(kKeptDuringCaptures, true);
}

quint64 Application::hideWindowsForCapture()
{
    QList<QWidget*> shown;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (showsInCaptures(window))
            shown.append(window);
    if (QWidget* active = QApplication::activeWindow(); active && shown.contains(active))
        m_activeBeforeCapture = active;
    else if (m_hiddenForCapture.isEmpty())
        m_activeBeforeCapture = nullptr;
    // Read before any of them goes: the order they come back in.
    for (QWidget* window : OnScreenTracker::shared().bottomToTop(shown))
        m_hiddenForCapture.append({window, window->geometry()});
    m_hiddenAt = m_showSerial;
    for (QWidget* window : std::as_const(shown))
        window->hide();
    return ++m_captureToken;
}

bool Application::restoreWindowsAfterCapture(quint64 token)
{
    if (token != m_captureToken)
        return false;
    const QList<HiddenForCapture> hidden = std::exchange(m_hiddenForCapture, {});
    const QPointer<QWidget> active = std::exchange(m_activeBeforeCapture, nullptr);
    if (hidden.isEmpty())
        return false;
    // Hidden ones are not visible, so this is a window shown since, by someone else.
    QWidget* front = frontWindow(m_hiddenAt);
    m_restoring = true;
    // Bottom first: each one mapped goes on top of those before it. Mapped without the focus; the
    // window manager stacks them under the focused window, and the raise below settles them there
    // without one.
    for (const HiddenForCapture& entry : hidden) {
        QWidget* window = entry.window;
        if (!window || window->isVisible())
            continue;
        const bool withoutActivating = window->testAttribute(Qt::WA_ShowWithoutActivating);
        window->setAttribute(Qt::WA_ShowWithoutActivating, true);
        window->show();
        window->setAttribute(Qt::WA_ShowWithoutActivating, withoutActivating);
        if (window->geometry() != entry.geometry)
            window->setGeometry(entry.geometry);
    }
    m_restoring = false;
    QWidget* focus = front ? front : active && active->isVisible() ? active.data() : nullptr;
    if (focus) {
        noteShown(focus);
        // The one shown meanwhile goes on top; the one that had the focus stays where it was.
        if (focus == front)
            front->raise();
        focus->activateWindow();
    }
    raiseFloatingWindows();
    return focus != nullptr;
}

void Application::raiseFloatingWindows()
{
    // In the order they were shown, so that among themselves they keep their stacking: the setup
    // panel stays above its veil, an alert above the panel.
    QList<QWidget*> ordered;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (isFloating(window) && std::none_of(m_shown.begin(), m_shown.end(), [window](const Shown& s) { return s.window == window; }))
            ordered.append(window);
    for (const Shown& shown : m_shown)
        if (shown.window && isFloating(shown.window))
            ordered.append(shown.window);
    for (QWidget* window : ordered)
        window->raise();
}

} // namespace platform