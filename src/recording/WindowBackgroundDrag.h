#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>

class QWidget;

// Lets the user move a borderless window by dragging its background: the window manager moves it
// where there is one, the window follows the pointer itself where there is none. Presses that a
// child takes (a button) are not drags.
class WindowBackgroundDrag : public QObject {
    Q_OBJECT
public:
    explicit WindowBackgroundDrag(QWidget* window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> m_window;
    bool m_dragging = false;
    QPoint m_grabOffset;
};
