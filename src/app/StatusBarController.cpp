#include "app/StatusBarController.h"

StatusBarController::StatusBarController(AppState* appState, QObject* parent)
    : QObject(parent)
    , m_appState(appState)
{
}

StatusBarController::~StatusBarController() = default;

void StatusBarController::updateRecentScreenshots(const QList<Screenshot>&)
{
}
