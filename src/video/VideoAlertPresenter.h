#pragma once

#include <QString>

class QWidget;

// The alerts of the video preview, shown on its window without blocking the caller; behind an
// interface so that no test waits on a dialog. Each alert has the one button "OK", which only
// closes it.
class VideoAlertPresenter {
public:
    enum class Style { warning, informational };
    struct Alert {
        QString messageText;
        QString informativeText;
        Style style = Style::warning;
    };

    virtual ~VideoAlertPresenter() = default;
    // Shows `alert` as a sheet of `window` and returns at once.
    virtual void present(QWidget* window, const Alert& alert) = 0;
};
