#pragma once

#include "app/ToastManager.h"

#include <QWidget>

// The capsule of one toast: the tinted symbol and the message.
class ToastNotification : public QWidget {
    Q_OBJECT
public:
    ToastNotification(const QString& message, const QString& icon, ToastType type, QWidget* parent = nullptr);

    QString message() const { return m_message; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_message;
    QString m_icon;
    ToastType m_type;
};
