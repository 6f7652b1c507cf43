// The delegate's anchor window on a real X server, where no compositor hides a transparent window.
#include "shell/AppDelegate.h"

#include "app/HotKeyManager.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QWidget>

#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <gtest/gtest.h>

#include <cstdlib>

TEST(AppDelegateX11, TheAnchorWindowIsMappedButHasNoPixelAndTakesNoInput)
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11)
        GTEST_SKIP() << "needs the xcb platform";
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    AppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    QWidget* anchor = delegate.anchorWindow();
    ASSERT_TRUE(anchor);
    EXPECT_TRUE(anchor->isVisible());

    xcb_connection_t* c = x11->connection();
    const auto window = static_cast<xcb_window_t>(anchor->winId());
    xcb_get_window_attributes_reply_t* attributes = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr);
    ASSERT_TRUE(attributes);
    EXPECT_EQ(attributes->map_state, XCB_MAP_STATE_VIEWABLE);
    EXPECT_TRUE(attributes->override_redirect); // kept out of the window manager's lists
    std::free(attributes);
    for (xcb_shape_kind_t kind : {XCB_SHAPE_SK_BOUNDING, XCB_SHAPE_SK_INPUT}) {
        xcb_shape_get_rectangles_reply_t* shape = xcb_shape_get_rectangles_reply(c, xcb_shape_get_rectangles(c, window, kind), nullptr);
        ASSERT_TRUE(shape) << int(kind);
        EXPECT_EQ(shape->rectangles_len, 0) << int(kind);
        std::free(shape);
    }
    delegate.applicationWillTerminate();
    HotKeyManager::shared().updateHotkeys("", "", "");
}
