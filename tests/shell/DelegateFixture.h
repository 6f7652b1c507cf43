#pragma once
// The delegate launched in this test process: a runtime folder of the binary's own, none of the
// development switches, the tray present and screen access as the test says.
#include "shell/AppDelegate.h"
#include "shell/StatusBarController.h"
#include "platform/ScreenAccess.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace test {

class DelegateFixture : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // A runtime folder of this binary's own, for the single-instance lock.
        static QTemporaryDir runtime;
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        for (const char* name : {"KESTROVA_DEBUG_AUTO", "KESTROVA_DEBUG_SETUP", "KESTROVA_ALLOW_MULTIPLE"})
            qunsetenv(name);
    }
    void SetUp() override
    {
        platform::ScreenAccess::setProbeForTesting([this] { return screenAccess; });
        // The tray is there: no settings window opens in its place (the X11 tests cover that).
        StatusBarController::setTrayAvailabilityProbeForTesting([] { return true; });
    }
    void TearDown() override
    {
        if (delegate)
            delegate->applicationWillTerminate();
        delegate.reset();
        platform::ScreenAccess::setProbeForTesting({});
        StatusBarController::setTrayAvailabilityProbeForTesting({});
    }

    // What the screen-access probe answers.
    bool screenAccess = true;
    std::unique_ptr<AppDelegate> delegate;
};

} // namespace test
