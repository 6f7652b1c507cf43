#include "recording/ScreenBackdrop.h"

#include "platform/CompositingManager.h"
#include "platform/PixelGrabber.h"

#include <QGuiApplication>
#include <QWidget>

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

bool ScreenBackdrop::makeClickThrough(QWidget* window)
{
    window->setAttribute(Qt::WA_QuitOnClose, false);
    window->setAttribute(Qt::WA_ShowWithoutActivating);
    window->setAttribute(Qt::WA_TransparentForMouseEvents);
    const bool shaped = !compositingAvailable();
    if (!shaped)
        window->setAttribute(Qt::WA_TranslucentBackground);
    return shaped;
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

