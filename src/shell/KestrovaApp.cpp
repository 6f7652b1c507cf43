#include "shell/KestrovaApp.h"

#include "shell/AppDelegate.h"
#include "app/AppState.h"
#include "app/DebugLogger.h"
#include "platform/UnixSignalRelay.h"

#include <QApplication>
#include <QIcon>
#include <QTimer>

#ifndef KESTROVA_VERSION
#define KESTROVA_VERSION "0"
#endif

KestrovaApp::KestrovaApp()
{
    QApplication::setApplicationName(QStringLiteral("Kestrova"));
    QApplication::setOrganizationName(QStringLiteral("Kestrova"));
    QApplication::setApplicationVersion(QStringLiteral(KESTROVA_VERSION));
    // The installed desktop entry and icon name.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.kestrova.Kestrova"));
    // Every window of the process carries the logo.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/KestrovaLogo.svg")));
    // A tray application: closing its last window never ends it.
    QApplication::setQuitOnLastWindowClosed(false);
    m_appDelegate = std::make_unique<AppDelegate>();
}

KestrovaApp::~KestrovaApp() = default;

AppState& KestrovaApp::appState()
{
    if (!m_appState)
        m_appState = std::make_unique<AppState>();
    return *m_appState;
}

int KestrovaApp::exec()
{
    AppDelegate* delegate = m_appDelegate.get();
    platform::UnixSignalRelay signalRelay;
    QObject::connect(&signalRelay, &platform::UnixSignalRelay::terminationRequested, delegate,
                     [] { QCoreApplication::exit(0); });
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, delegate, [delegate] { delegate->applicationWillTerminate(); });
    QObject::connect(qApp, &QGuiApplication::lastWindowClosed, delegate,
                     [delegate] { delegate->applicationShouldTerminateAfterLastWindowClosed(); });
    // Inside the loop, so that a launch that decides to terminate (a second instance) can.
    QTimer::singleShot(0, delegate, [delegate] { delegate->applicationDidFinishLaunching(); });
    const int status = QApplication::exec();
    DebugLogger::shared().flush();
    return status;
}
