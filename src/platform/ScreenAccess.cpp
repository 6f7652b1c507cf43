#include "platform/ScreenAccess.h"

#include "platform/PixelGrabber.h"

#include <QGuiApplication>

#include <mutex>

namespace platform {
namespace {

std::mutex probeMutex;
std::function<bool()>& probeSlot()
{
    static std::function<bool()> probe;
    return probe;
}

bool onWayland()
{
    return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        || qEnvironmentVariable("XDG_SESSION_TYPE").compare(QLatin1String("wayland"), Qt::CaseInsensitive) == 0;
}

} // namespace

QString ScreenAccess::unavailableReason()
{
    {
        std::lock_guard lock(probeMutex);
        if (probeSlot())
            return probeSlot()() ? QString() : QStringLiteral("screen access denied by test probe");
    }
    if (onWayland())
        return QStringLiteral("this is a Wayland session, where X clients cannot read the screen");
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return QStringLiteral("screen capture needs an X11 session (platform %1)").arg(QGuiApplication::platformName());
    QString error;
    auto grabber = PixelGrabber::create(&error);
    if (!grabber)
        return error;
    if (grabber->grab(QRect(0, 0, 1, 1), &error).isNull())
        return QStringLiteral("the root window cannot be read: ") + error;
    return QString();
}

bool ScreenAccess::preflight()
{
    return unavailableReason().isEmpty();
}

bool ScreenAccess::request()
{
    return preflight();
}

void ScreenAccess::setProbeForTesting(std::function<bool()> probe)
{
    std::lock_guard lock(probeMutex);
    probeSlot() = std::move(probe);
}

} // namespace platform
