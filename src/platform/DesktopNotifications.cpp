#include "platform/DesktopNotifications.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace platform {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

// A service that is being activated may take a moment; past this the notification is dropped.
constexpr int kCallTimeoutMs = 5000;

QDBusMessage call(const QString& method)
{
    return QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
}

void notify(QDBusConnection bus, const QString& title, const QString& body)
{
    QDBusMessage message = call(QStringLiteral("Notify"));
    // The desktop's default sound: the freedesktop sound theme's name for an arriving message.
    const QVariantMap hints{{QStringLiteral("sound-name"), QStringLiteral("message-new-instant")}};
    message << QStringLiteral("Kestrova") << uint(0) << QString() << title << body << QStringList() << hints << int(-1);
    // The reply (the notification's id) is of no use; the pending call is dropped unanswered.
    bus.asyncCall(message, kCallTimeoutMs);
}

} // namespace

void DesktopNotifications::post(const QString& title, const QString& body)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    // Servers with "body-markup" read the body as markup, where a link's "&" would break it.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call(QStringLiteral("GetCapabilities")), kCallTimeoutMs),
                                                QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [bus, title, body](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        QDBusPendingReply<QStringList> reply = *w;
        if (reply.isError())
            return;
        const bool markup = reply.value().contains(QStringLiteral("body-markup"));
        notify(bus, title, markup ? body.toHtmlEscaped() : body);
    });
}

} // namespace platform
