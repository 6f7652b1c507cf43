#pragma once

#include "platform/ScreenGeometry.h"

#include <QList>

namespace test {

// The screens ScreenGeometry reports while this lives, in place of the real ones.
struct InjectedScreens {
    explicit InjectedScreens(const QList<platform::ScreenInfo>& list) { platform::ScreenGeometry::setScreensForTesting(list); }
    ~InjectedScreens() { platform::ScreenGeometry::setScreensForTesting({}); }
};

} // namespace test
