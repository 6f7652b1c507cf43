#include "platform/NotificationCenter.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <memory>

namespace platform {

NotificationCenter& NotificationCenter::defaultCenter()
{
    static NotificationCenter* center = new NotificationCenter; // lives until the process ends
    return *center;
}

NotificationCenter::Token NotificationCenter::addObserver(const QString& name, QObject* context, Handler handler)
{
    std::lock_guard lock(m_mutex);
    const Token token = m_nextToken++;
    m_observers.push_back(Observer{token, name, QPointer<QObject>(context), std::move(handler)});
    return token;
}

void NotificationCenter::removeObserver(Token token)
{
    std::lock_guard lock(m_mutex);
    std::erase_if(m_observers, [token](const Observer& o) { return o.token == token; });
}

int NotificationCenter::observerCount(const QString& name) const
{
    std::lock_guard lock(m_mutex);
    return static_cast<int>(std::count_if(m_observers.begin(), m_observers.end(), [&](const Observer& o) {
        return o.name == name && !o.context.isNull();
    }));
}

void NotificationCenter::post(const QString& name, const QVariantMap& userInfo)
{
    std::vector<Observer> targets;
    {
        std::lock_guard lock(m_mutex);
        std::erase_if(m_observers, [](const Observer& o) { return o.context.isNull(); });
        for (const Observer& o : m_observers)
            if (o.name == name)
                targets.push_back(o);
    }
    const Notification notification{name, userInfo};
    const bool onGuiThread = QCoreApplication::instance()
        && QThread::currentThread() == QCoreApplication::instance()->thread();
    for (const Observer& o : targets) {
        const Token token = o.token;
        auto stillRegistered = [this, token] {
            std::lock_guard lock(m_mutex);
            return std::any_of(m_observers.begin(), m_observers.end(), [token](const Observer& x) { return x.token == token; });
        };
        if (onGuiThread) {
            // An earlier observer of this post may have removed this one.
            if (o.context && stillRegistered())
                o.handler(notification);
        } else if (QObject* context = o.context.data()) {
            QMetaObject::invokeMethod(context, [handler = o.handler, notification, stillRegistered] {
                if (stillRegistered())
                    handler(notification);
            }, Qt::QueuedConnection);
        }
    }
}

} // namespace platform
