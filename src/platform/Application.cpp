#include "platform/Application.h"

#include <QApplication>
#include <QWidget>

namespace platform {

Application& Application::shared()
{
    static Application* instance = new Application; // lives until the process ends
    return *instance;
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

void Application::activateIgnoringOtherApps()
{
    if (QApplication::activeWindow())
        return;
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows) {
        const Qt::WindowType type = window->windowType();
        if (!window->isVisible() || type == Qt::Popup || type == Qt::ToolTip || type == Qt::Desktop
            || window->testAttribute(Qt::WA_ShowWithoutActivating)
            || window->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus))
            continue;
        window->raise();
        window->activateWindow();
        return;
    }
}

} // namespace platform
