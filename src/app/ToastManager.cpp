#include "app/ToastManager.h"

#include "platform/SystemColors.h"

#include <algorithm>
#include <climits>
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
    // A timer counts in int milliseconds: longer (or not-a-number) durations are clamped.
    const double milliseconds = std::isnan(durationSeconds) ? 0.0 : std::clamp(durationSeconds * 1000.0, 0.0, double(INT_MAX));
    m_dismissTimer.start(static_cast<int>(std::lround(milliseconds)));
}
