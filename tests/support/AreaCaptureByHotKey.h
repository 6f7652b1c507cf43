#pragma once
// An area capture in a running program, as the user makes one: its hot key with the pointer out of
// the way, then a drag over the area in the overlay, until the capture hands its picture on.
#include "support/ProcessConsole.h"
#include "support/TestSupport.h"

#include <QRect>

#include <gtest/gtest.h>

namespace test {

inline ::testing::AssertionResult captureAreaByHotKey(ProcessConsole& console, const QString& hotKey, QRect area)
{
    using namespace std::chrono_literals;
    if (!xdotool({"mousemove", "960", "900"}) || !xdotool({"key", hotKey}))
        return ::testing::AssertionFailure() << "xdotool failed";
    if (!console.waitForStart("ScreenCaptureWindow: Setting up overlay for frame: "))
        return ::testing::AssertionFailure() << "no overlay: " << console.text().toStdString();
    spin(700ms); // the overlay takes keyboard and pointer
    if (!xdotool(xdotoolDrag(area.topLeft(), area.topLeft() + QPoint(area.width(), area.height()))))
        return ::testing::AssertionFailure() << "xdotool failed";
    if (!console.waitForStart("ScreenCaptureWindow: Calling completion with image: true"))
        return ::testing::AssertionFailure() << "no picture: " << console.text().toStdString();
    return ::testing::AssertionSuccess();
}

} // namespace test
