#include "recording/ScreenBackdrop.h"

#include "platform/CompositingManager.h"
#include "platform/PixelGrabber.h"

#include <QGuiApplication>

namespace {

std::optional<bool>& compositingOverride()
{
    static std::optional<bool> value;
    return value;
}

} // namespace

bool ScreenBackdrop::compositingAvailable()
{
    if (compositingOverride())
        return *compositingOverride();
    return platform::CompositingManager::isRunning();
}

void ScreenBackdrop::setCompositingForTesting(std::optional<bool> running)
{
    compositingOverride() = running;
}

QImage ScreenBackdrop::freeze(const platform::ScreenInfo& screen)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb") || screen.nativeGeometry.isEmpty())
        return {};
    // A connection of its own for one picture: the overlays are made a few times per recording.
    const std::unique_ptr<platform::PixelGrabber> grabber = platform::PixelGrabber::create();
    if (!grabber)
        return {};
    QImage image = grabber->grab(screen.nativeGeometry);
    if (!image.isNull())
        image.setDevicePixelRatio(screen.devicePixelRatio);
    return image;
}

