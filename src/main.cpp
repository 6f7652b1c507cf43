#include "app/AppState.h"
#include "app/DebugLogger.h"
#include "platform/UnixSignalRelay.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrova"));
    QApplication::setOrganizationName(QStringLiteral("Kestrova"));
    QApplication::setQuitOnLastWindowClosed(false);

    AppState appState;
    platform::UnixSignalRelay signalRelay;
    QObject::connect(&signalRelay, &platform::UnixSignalRelay::terminationRequested, &app, [] {
        DebugLogger::shared().log(QStringLiteral("Application will terminate"));
        QApplication::quit();
    });
    QTimer::singleShot(0, &app, [] { DebugLogger::shared().log(QStringLiteral("Application starting up")); });
    const int status = QApplication::exec();
    DebugLogger::shared().flush();
    return status;
}
