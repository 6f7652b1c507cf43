#pragma once

#include <QPointer>
#include <QWidget>

class ToastNotification;
class QVariantAnimation;

// Shows the toasts of ToastManager::shared() over the widget it is installed on, in its top-right
// corner. Only widgets that install a container show toasts.
class ToastContainer : public QWidget {
    Q_OBJECT
public:
    // Installs a container over `host`; it follows the host's size and is owned by it.
    static ToastContainer* install(QWidget* host);

    // The toast shown now, or nullptr.
    ToastNotification* currentNotification() const { return m_notification; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit ToastContainer(QWidget* host);
    void update();
    void place();

    QPointer<ToastNotification> m_notification;
    QVariantAnimation* m_animation = nullptr;
};
