#include "shell/KestrovaApp.h"

#include <QApplication>

#include <cstdio>

namespace {

// The screen grab and the global hot keys are X11's (xcb): without an X server there is nothing
// to run on. Said here in one line, before Qt's platform plugin would abort the process. Another
// platform named explicitly (the tests' offscreen one) is left to Qt.
bool missingX11Display()
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.startsWith("xcb"))
        return false;
    return qEnvironmentVariableIsEmpty("DISPLAY");
}

} // namespace

int main(int argc, char* argv[])
{
    if (missingX11Display()) {
        std::fputs("kestrova: needs an X11 session or XWayland (DISPLAY is not set): it grabs the screen and "
                   "its global hot keys through X11\n",
                   stderr);
        return 1;
    }
    // Under Wayland Qt would pick its Wayland platform; our grabs and hot keys are XWayland's.
    // Only for this process: programs it starts (a browser) choose their own.
    const bool chooseXcb = qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    if (chooseXcb)
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication application(argc, argv);
    if (chooseXcb)
        qunsetenv("QT_QPA_PLATFORM");
    KestrovaApp app;
    return app.exec();
}
