#pragma once

#include <QColor>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUuid>

#include <optional>

enum class ToastType {
    success,
    info,
    warning,
};

namespace ToastTypes {
QColor tint(ToastType type);
}

struct ToastData {
    QUuid id = QUuid::createUuid();
    QString message;
    QString icon; // symbol image name
    ToastType type = ToastType::info;

    friend bool operator==(const ToastData& a, const ToastData& b) { return a.id == b.id; }
};

// The one short in-window message of the process: a new toast replaces the current one and goes
// away by itself after its duration.
class ToastManager : public QObject {
    Q_OBJECT
public:
    static ToastManager& shared();

    const std::optional<ToastData>& currentToast() const { return m_currentToast; }
    void show(const QString& message, const QString& icon, ToastType type, double durationSeconds);
    // Time left until the current toast goes away; -1 when none is pending.
    int remainingMilliseconds() const { return m_dismissTimer.remainingTime(); }

signals:
    void currentToastChanged();

private:
    ToastManager();

    std::optional<ToastData> m_currentToast;
    QTimer m_dismissTimer;
};
