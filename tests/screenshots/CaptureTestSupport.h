#pragma once

// Shared by the capture tests: capture methods that are undone at the end of a scope.

#include "screenshots/ScreenCaptureWindow.h"

namespace capturetest {

struct InjectedMethods {
    explicit InjectedMethods(const ScreenCaptureWindow::CaptureMethods& methods)
    {
        ScreenCaptureWindow::setCaptureMethodsForTesting(methods);
    }
    ~InjectedMethods() { ScreenCaptureWindow::setCaptureMethodsForTesting(std::nullopt); }
};

} // namespace capturetest
