#pragma once

#include <QWidget>

#include <functional>

class QKeyEvent;

// An invisible catcher of key presses: while it has the focus, every key press reaches onKeyEvent
// and nothing else (Tab does not move the focus, no shortcut fires). Modifier presses arrive too;
// the receiver decides what they mean. onFocusLost hears when the focus goes elsewhere, for
// whatever reason: another widget, a popup menu, another window.
class KeyEventHandlerView : public QWidget {
    Q_OBJECT
public:
    explicit KeyEventHandlerView(QWidget* parent = nullptr);

    std::function<void(const QKeyEvent&)> onKeyEvent;
    std::function<void()> onFocusLost;

protected:
    bool event(QEvent* event) override;
};
