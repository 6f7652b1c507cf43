#pragma once

// A stand-in for the desktop's notification server (org.freedesktop.Notifications) on the session
// bus of the test run, on a connection of its own as another program's would be. Test binaries
// that run at the same time queue for the name, so each gets the service to itself in turn.

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QList>
#include <QMutex>
#include <QStringList>
#include <QThread>
#include <QUuid>
#include <QVariantMap>

#include <chrono>

namespace test {

struct PostedNotification {
    QString appName;
    QString summary;
    QString body;
    QVariantMap hints;
    int expireTimeout = 0;
};

class FakeNotificationService {
public:
    static constexpr const char* serviceName = "org.freedesktop.Notifications";

    // Which calls get a reply; the others are taken, recorded and never answered.
    enum class Replies { all, capabilitiesOnly, none };

    explicit FakeNotificationService(bool bodyMarkup = false, std::chrono::milliseconds waitForName = std::chrono::seconds(120),
                                     Replies replies = Replies::all)
        : m_connectionName(QStringLiteral("fake-notifications-") + QUuid::createUuid().toString(QUuid::Id128))
        , m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, m_connectionName))
    {
        m_object.bodyMarkup = bodyMarkup;
        m_object.replies = replies;
        if (!m_bus.isConnected())
            return;
        if (!m_bus.registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"), &m_object))
            return;
        auto reply = m_bus.interface()->registerService(QLatin1String(serviceName), QDBusConnectionInterface::QueueService,
                                                        QDBusConnectionInterface::DontAllowReplacement);
        if (!reply.isValid())
            return;
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < waitForName.count()) {
            if (m_bus.interface()->serviceOwner(QLatin1String(serviceName)).value() == m_bus.baseService()) {
                m_owned = true;
                return;
            }
            QThread::msleep(20);
        }
    }

    ~FakeNotificationService()
    {
        if (m_bus.isConnected()) {
            m_bus.interface()->unregisterService(QLatin1String(serviceName));
            m_bus.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
        }
        QDBusConnection::disconnectFromBus(m_connectionName);
    }

    // False when there is no bus, or another test held the name for the whole wait.
    bool owned() const { return m_owned; }

    QList<PostedNotification> posted() const
    {
        QMutexLocker lock(&m_object.mutex);
        return m_object.posted;
    }
    // The methods called, in order, answered or not.
    QStringList calls() const
    {
        QMutexLocker lock(&m_object.mutex);
        return m_object.calls;
    }

private:
    // Answers on the bus's dispatch thread; the list is read from the test's thread.
    struct Object : QDBusVirtualObject {
        bool bodyMarkup = false;
        Replies replies = Replies::all;
        mutable QMutex mutex;
        QList<PostedNotification> posted;
        QStringList calls;

        QString introspect(const QString&) const override
        {
            return QStringLiteral(
                "<interface name=\"org.freedesktop.Notifications\">"
                "<method name=\"GetCapabilities\"><arg direction=\"out\" type=\"as\"/></method>"
                "<method name=\"Notify\"><arg direction=\"in\" type=\"s\"/><arg direction=\"in\" type=\"u\"/>"
                "<arg direction=\"in\" type=\"s\"/><arg direction=\"in\" type=\"s\"/><arg direction=\"in\" type=\"s\"/>"
                "<arg direction=\"in\" type=\"as\"/><arg direction=\"in\" type=\"a{sv}\"/><arg direction=\"in\" type=\"i\"/>"
                "<arg direction=\"out\" type=\"u\"/></method></interface>");
        }

        bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
        {
            if (message.interface() != QLatin1String("org.freedesktop.Notifications"))
                return false;
            {
                QMutexLocker lock(&mutex);
                calls.append(message.member());
            }
            if (message.member() == QLatin1String("GetCapabilities")) {
                if (replies == Replies::none)
                    return true;
                QStringList caps{QStringLiteral("body")};
                if (bodyMarkup)
                    caps << QStringLiteral("body-markup");
                connection.send(message.createReply(QVariant(caps)));
                return true;
            }
            if (message.member() == QLatin1String("Notify")) {
                const QList<QVariant> args = message.arguments();
                if (args.size() != 8) {
                    connection.send(message.createErrorReply(QDBusError::InvalidArgs, QStringLiteral("8 arguments")));
                    return true;
                }
                PostedNotification n;
                n.appName = args[0].toString();
                n.summary = args[3].toString();
                n.body = args[4].toString();
                n.hints = qdbus_cast<QVariantMap>(args[6]);
                n.expireTimeout = args[7].toInt();
                uint id = 0;
                {
                    QMutexLocker lock(&mutex);
                    posted.append(n);
                    id = uint(posted.size());
                }
                if (replies != Replies::all)
                    return true;
                connection.send(message.createReply(QVariant::fromValue(id)));
                return true;
            }
            return false;
        }
    };

    QString m_connectionName;
    QDBusConnection m_bus;
    Object m_object;
    bool m_owned = false;
};

} // namespace test
