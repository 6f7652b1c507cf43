#pragma once

#include <QString>
#include <QStringList>

// Runs the recording flow's modal alerts. Behind an interface so that no test waits on a dialog.
class RecordingAlertPresenter {
public:
    struct Alert {
        QString messageText;
        QString informativeText;
        QStringList buttons; // the first is the default
    };

    virtual ~RecordingAlertPresenter() = default;
    // Shows the alert and returns when the user closes it: the index of the button that closed it.
    virtual int runModal(const Alert& alert) = 0;
};
