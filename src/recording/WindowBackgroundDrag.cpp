#include "recording/WindowBackgroundDrag.h"

#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

WindowBackgroundDrag::WindowBackgroundDrag(QWidget* window)
    : QObject(window)
    , m_window(window)
{
    window->installEventFilter(this);
}

bool WindowBackgroundDrag::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_window)
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton)
            return false;
        QWindow* handle = m_window->windowHandle();
        if (handle && handle->startSystemMove())
            return true;
        m_dragging = true;
        m_grabOffset = mouse->globalPosition().toPoint() - m_window->frameGeometry().topLeft();
        return true;
    }
    case QEvent::MouseMove:
        if (!m_dragging)
            return false;
        m_window->move(static_cast<QMouseEvent*>(event)->globalPosition().toPoint() - m_grabOffset);
        return true;
    case QEvent::MouseButtonRelease:
        if (!m_dragging)
            return false;
        m_dragging = false;
        return true;
    default:
        return false;
    }
}
