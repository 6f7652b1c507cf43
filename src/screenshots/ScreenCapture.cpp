#include "screenshots/ScreenCapture.h"

#include "app/PermissionsManager.h"

ScreenCapture::ScreenCapture(QObject* parent)
    : QObject(parent)
{
}

ScreenCapture::~ScreenCapture() = default;

bool ScreenCapture::isCapturing() const
{
    std::lock_guard lock(m_captureLock);
    return m_isCapturing;
}

void ScreenCapture::captureScreen(Completion completion)
{
    completion(std::nullopt);
}

void ScreenCapture::captureFullScreen(Completion completion)
{
    completion(std::nullopt);
}
