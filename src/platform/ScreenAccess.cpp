#include "platform/ScreenAccess.h"

#include "platform/PixelGrabber.h"

#include <QGuiApplication>

#include <mutex>

namespace platform {
namespace {

std::mutex probeMutex;
std::function<ScreenAccess::Answer()>& probeSlot()
{
    static std::function<ScreenAccess::Answer()> probe;
    return probe;
}

bool onWayland()
{
    return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        || qEnvironmentVariable("XDG_SESSION_TYPE").compare(QLatin1String("wayland"), Qt::CaseInsensitive) == 0;
}

} // namespace

ScreenAccess::Answer ScreenAccess::check()
{
    {
        std::lock_guard lock(probeMutex);
        if (probeSlot())
            return probeSlot()();
    }
    if (onWayland())
        return {Obstacle::waylandSession, QStringLiteral("this is a Wayland session, where X clients cannot read the screen")};
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return {Obstacle::otherPlatform,
                QStringLiteral("screen capture needs an X11 session (platform %1)").arg(QGuiApplication::platformName())};
    QString error;
    auto grabber = PixelGrabber::create(&error);
    if (!grabber)
        return {Obstacle::unreadableRoot, error.isEmpty() ? QStringLiteral("the screen could not be opened") : error};
    if (grabber->grab(QRect(0, 0, 1, 1), &error).isNull())
        return {Obstacle::unreadableRoot, QStringLiteral("the root window cannot be read: ") + error};
    return {};
}

QString ScreenAccess::unavailableReason()
{
    return check().reason;
}

bool ScreenAccess::preflight()
{
    return check().obstacle == Obstacle::none;
}

bool ScreenAccess::request()
{
    return preflight();
}

void ScreenAccess::setProbeForTesting(std::function<bool()> probe)
{
    if (!probe) {
        setAnswerProbeForTesting({});
        return;
    }
    setAnswerProbeForTesting([probe = std::move(probe)]() -> Answer {
        if (probe())
            return {};
        return {Obstacle::unreadableRoot, QStringLiteral("screen access denied by test probe")};
    });
}

void ScreenAccess::setAnswerProbeForTesting(std::function<Answer()> probe)
{
    std::lock_guard lock(probeMutex);
    probeSlot() = std::move(probe);
}

} // namespace platform
