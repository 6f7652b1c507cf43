#pragma once

#include "screenshots/Screenshot.h"

#include <QList>
#include <QObject>
#include <QPointer>

class AppState;
class ScreenshotHistoryManager;

// The tray icon and its menu: the capture commands, the recent captures, settings and quit.
class StatusBarController : public QObject {
    Q_OBJECT
public:
    explicit StatusBarController(AppState* appState, QObject* parent = nullptr);
    ~StatusBarController() override;

    QPointer<ScreenshotHistoryManager> historyManager;

    // Rebuilds the recent-captures submenu from `screenshots` (newest first).
    void updateRecentScreenshots(const QList<Screenshot>& screenshots);

private:
    AppState* m_appState;
};
