#pragma once

#include "app/ToastManager.h"

#include <QWidget>

// The capsule of one toast: the tinted symbol and the message, with a soft shadow below.
class ToastNotification : public QWidget {
    Q_OBJECT
public:
    ToastNotification(const QString& message, const QString& icon, ToastType type, QWidget* parent = nullptr);

    QString message() const { return m_message; }
    QString icon() const { return m_icon; }
    ToastType type() const { return m_type; }
    QSize sizeHint() const override;

    // For the appearing and disappearing transitions; the shadow follows it.
    double opacity() const { return m_opacity; }
    void setOpacity(double opacity);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_message;
    QString m_icon;
    ToastType m_type;
    double m_opacity = 1.0;
};
