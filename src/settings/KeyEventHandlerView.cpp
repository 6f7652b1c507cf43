#include "settings/KeyEventHandlerView.h"

#include <QKeyEvent>

KeyEventHandlerView::KeyEventHandlerView(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("keyEventHandler"));
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    setFixedSize(0, 0);
}

bool KeyEventHandlerView::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::ShortcutOverride:
        // Claimed, so that a shortcut of the window cannot take the combination being recorded.
        event->accept();
        return true;
    case QEvent::KeyPress:
        // Handled here rather than in keyPressEvent: QWidget::event spends Tab on focus changes.
        if (onKeyEvent)
            onKeyEvent(*static_cast<QKeyEvent*>(event));
        event->accept();
        return true;
    case QEvent::KeyRelease:
        event->accept();
        return true;
    case QEvent::FocusOut:
        if (onFocusLost)
            onFocusLost();
        return QWidget::event(event);
    default:
        return QWidget::event(event);
    }
}
