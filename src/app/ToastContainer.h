#pragma once

#include "app/ToastNotification.h"

#include <QPointer>
#include <QWidget>

class QVariantAnimation;

// Shows the toasts of ToastManager::shared() over the widget it is installed on, in its top-right
// corner. Only widgets that install a container show toasts.
class ToastContainer : public QWidget {
    Q_OBJECT
public:
    // Installs a container over `host`; it follows the host's size and is owned by it.
    static ToastContainer* install(QWidget* host);

    // The toast shown now, or nullptr (a toast on its way out no longer counts).
    ToastNotification* currentNotification() const { return m_notification; }

    static constexpr int inset = 16;
    static constexpr int transitionMilliseconds = 200;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit ToastContainer(QWidget* host);
    void currentToastChanged();
    // Where a toast rests, and where it comes from and goes to: just above the top edge.
    QPoint restingPosition(const ToastNotification* toast) const;
    QPoint hiddenPosition(const ToastNotification* toast) const;
    void place();
    void dismiss(ToastNotification* toast);

    QPointer<ToastNotification> m_notification;
    QVariantAnimation* m_appearance = nullptr;
};
