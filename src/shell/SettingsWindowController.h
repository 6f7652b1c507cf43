#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

class AppState;

// Opens and owns the settings window, which hosts the settings view over the delegate's AppState.
// While the window is open the application runs with the regular policy; closing it saves what was
// typed, discards the window and returns to the tray-only policy. The next showSettings() builds a
// fresh window.
class SettingsWindowController : public QObject {
    Q_OBJECT
public:
    explicit SettingsWindowController(AppState* appState, QObject* parent = nullptr);
    ~SettingsWindowController() override;

    // Shows the settings window, creating it when none is open.
    void showSettings();

    // Window delegate: the window may always close; once it closes, the controller forgets it.
    bool windowShouldClose();
    void windowWillClose();

    // The open settings window; nullptr while it is closed.
    QWidget* window() const { return m_window; }
    AppState* appState() const { return m_appState; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void bringToFront();
    // The open window's working copy goes into the AppState and the stores.
    void saveEdits();

    QPointer<QWidget> m_window;
    AppState* m_appState;
};
