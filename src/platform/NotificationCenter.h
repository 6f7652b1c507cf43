#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <mutex>
#include <vector>

namespace platform {

struct Notification {
    QString name;
    QVariantMap userInfo;
};

// Named notifications between parts of the application. Observers run on the GUI thread: at once
// when the notification is posted there, through a queued call otherwise. An observer whose context
// object is gone is never called and is dropped.
class NotificationCenter {
public:
    using Token = quint64;
    using Handler = std::function<void(const Notification&)>;

    static NotificationCenter& defaultCenter();

    // Returns a token for removeObserver; never 0.
    Token addObserver(const QString& name, QObject* context, Handler handler);
    void removeObserver(Token token);
    void post(const QString& name, const QVariantMap& userInfo = {});
    int observerCount(const QString& name) const;

private:
    struct Observer {
        Token token;
        QString name;
        QPointer<QObject> context;
        Handler handler;
    };

    mutable std::mutex m_mutex;
    std::vector<Observer> m_observers;
    Token m_nextToken = 1;
};

} // namespace platform
