#include "app/ToastManager.h"

#include "platform/SystemColors.h"

#include <cmath>

namespace ToastTypes {

QColor tint(ToastType type)
{
    switch (type) {
    case ToastType::success: return platform::SystemColors::green();
    case ToastType::info: return platform::SystemColors::blue();
    case ToastType::warning: return platform::SystemColors::orange();
    }
    return {};
}

} // namespace ToastTypes

ToastManager& ToastManager::shared()
{
    static ToastManager* instance = new ToastManager;
    return *instance;
}

ToastManager::ToastManager()
{
    m_dismissTimer.setSingleShot(true);
    m_dismissTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_dismissTimer, &QTimer::timeout, this, [this] {
        m_currentToast.reset();
        emit currentToastChanged();
    });
}

void ToastManager::show(const QString& message, const QString& icon, ToastType type, double durationSeconds)
{
    m_dismissTimer.stop();
    m_currentToast = ToastData{QUuid::createUuid(), message, icon, type};
    emit currentToastChanged();
    m_dismissTimer.start(static_cast<int>(std::lround(std::max(0.0, durationSeconds) * 1000.0)));
}
