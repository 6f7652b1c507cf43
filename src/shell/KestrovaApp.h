#pragma once

#include <QObject>

#include <memory>

class AppDelegate;
class AppState;

// The application type run by main(): makes the one AppDelegate, runs the main loop and hands the
// delegate its launch, last-window and termination callbacks. Its own AppState is only for its
// settings scene and is created when that is first used.
class KestrovaApp : public QObject {
    Q_OBJECT
public:
    // Needs the QApplication; sets the application's names and keeps it running without windows.
    KestrovaApp();
    ~KestrovaApp() override;

    AppDelegate& appDelegate() { return *m_appDelegate; }
    AppState& appState();

    // Runs the main loop until the application terminates; SIGTERM and SIGINT terminate it the
    // normal way. Returns the exit status.
    int exec();

private:
    std::unique_ptr<AppDelegate> m_appDelegate;
    std::unique_ptr<AppState> m_appState;
};
