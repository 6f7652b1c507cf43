#include "platform/GlobalClickSource.h"

#include "platform/MediaClock.h"

#include <QMetaObject>

#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace platform {

// Delivers one subscriber's clicks on its context's thread. The clicks themselves wait in the
// subscription, under the source's lock: Qt's own queue locks in ways a thread checker cannot follow.
class ClickRelay : public QObject {
    Q_OBJECT

public:
    explicit ClickRelay(std::function<void()> deliver)
        : m_deliver(std::move(deliver))
    {
    }
    void post() { QMetaObject::invokeMethod(this, "deliver", Qt::QueuedConnection); }

private:
    Q_INVOKABLE void deliver() { m_deliver(); }
    std::function<void()> m_deliver;
};

struct GlobalClickSource::State {
    struct Subscription {
        std::shared_ptr<Handler> handler;
        QMetaObject::Connection destroyedConnection;
        ClickRelay* relay = nullptr;
        std::vector<GlobalClick> pending;
        bool posted = false;
    };

    // Guards the subscriptions; the reader takes it to deliver.
    mutable std::mutex mutex;
    std::map<quint64, Subscription> subscriptions;
    // Serialises starting and stopping the reader. Never held by the reader, so stopping can join it.
    std::mutex lifecycle;
    bool running = false;
    quint64 nextId = 1;

    // The reader: its connection, its thread and the descriptor that wakes it to stop.
    xcb_connection_t* connection = nullptr;
    xcb_window_t root = 0;
    uint8_t xinputOpcode = 0;
    int wakeFd = -1;
    std::thread reader;

    bool startReader(QString* error);
    void stopReader();
    void run();
    void deliver(const GlobalClick& click);
};

bool GlobalClickSource::State::startReader(QString* error)
{
    const auto fail = [&](const QString& reason) {
        if (connection)
            xcb_disconnect(connection);
        connection = nullptr;
        if (error)
            *error = reason;
        return false;
    };
    int screenNumber = 0;
    connection = xcb_connect(nullptr, &screenNumber);
    if (!connection || xcb_connection_has_error(connection))
        return fail(QStringLiteral("cannot connect to the X display"));
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && it.rem; ++i)
        xcb_screen_next(&it);
    if (!it.rem)
        return fail(QStringLiteral("the X display has no screen"));
    root = it.data->root;

    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(connection, &xcb_input_id);
    if (!extension || !extension->present)
        return fail(QStringLiteral("the X display has no XInput extension"));
    xinputOpcode = extension->major_opcode;
    // Raw events reach root-window listeners whoever grabs the pointer from XInput 2.1 on.
    xcb_input_xi_query_version_reply_t* version =
        xcb_input_xi_query_version_reply(connection, xcb_input_xi_query_version(connection, 2, 2), nullptr);
    const bool recent = version && (version->major_version > 2 || (version->major_version == 2 && version->minor_version >= 1));
    std::free(version);
    if (!recent)
        return fail(QStringLiteral("the X display does not offer XInput 2.1"));

    struct {
        xcb_input_event_mask_t head;
        uint32_t bits;
    } mask{};
    mask.head.deviceid = XCB_INPUT_DEVICE_ALL_MASTER;
    mask.head.mask_len = 1;
    mask.bits = XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS;
    xcb_generic_error_t* selectError =
        xcb_request_check(connection, xcb_input_xi_select_events_checked(connection, root, 1, &mask.head));
    if (selectError) {
        std::free(selectError);
        return fail(QStringLiteral("the X display refused raw button events"));
    }
    wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0)
        return fail(QStringLiteral("eventfd failed"));
    reader = std::thread([this] { run(); });
    return true;
}

void GlobalClickSource::State::stopReader()
{
    if (reader.joinable()) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wakeFd, &one, sizeof one);
        reader.join();
    }
    if (wakeFd >= 0)
        ::close(wakeFd);
    wakeFd = -1;
    if (connection)
        xcb_disconnect(connection);
    connection = nullptr;
}

void GlobalClickSource::State::run()
{
    pollfd fds[2] = {{xcb_get_file_descriptor(connection), POLLIN, 0}, {wakeFd, POLLIN, 0}};
    for (;;) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
            const auto* generic = reinterpret_cast<const xcb_ge_generic_event_t*>(event);
            if ((event->response_type & 0x7f) == XCB_GE_GENERIC && generic->extension == xinputOpcode
                && generic->event_type == XCB_INPUT_RAW_BUTTON_PRESS) {
                const double at = MediaClock::now();
                const auto* press = reinterpret_cast<const xcb_input_raw_button_press_event_t*>(event);
                const int button = static_cast<int>(press->detail);
                if (button == 1 || button == 3) {
                    // Raw events carry no position: ask where the pointer is now, as a click monitor does.
                    xcb_query_pointer_reply_t* pointer =
                        xcb_query_pointer_reply(connection, xcb_query_pointer(connection, root), nullptr);
                    if (pointer) {
                        deliver(GlobalClick{QPoint(pointer->root_x, pointer->root_y), button, at});
                        std::free(pointer);
                    }
                }
            }
            std::free(event);
        }
        if (xcb_connection_has_error(connection))
            return;
        if (poll(fds, 2, -1) < 0 && errno != EINTR)
            return;
        if (fds[1].revents & POLLIN)
            return;
    }
}

void GlobalClickSource::State::deliver(const GlobalClick& click)
{
    std::lock_guard lock(mutex);
    for (auto& [id, subscription] : subscriptions) {
        subscription.pending.push_back(click);
        // Posted under the lock: once unsubscribe() has taken it, nothing new is posted.
        if (!subscription.posted) {
            subscription.posted = true;
            subscription.relay->post();
        }
    }
}

GlobalClickSource& GlobalClickSource::shared()
{
    // Never destroyed: subscribers may leave during static destruction.
    static GlobalClickSource* instance = new GlobalClickSource;
    return *instance;
}

GlobalClickSource::GlobalClickSource()
    : d(new State)
{
}

GlobalClickSource::~GlobalClickSource()
{
    if (d->running)
        d->stopReader();
    delete d;
}

quint64 GlobalClickSource::subscribe(QObject* context, Handler handler, QString* error)
{
    if (!context || !handler) {
        if (error)
            *error = QStringLiteral("no context or handler");
        return 0;
    }
    std::lock_guard lifecycle(d->lifecycle);
    if (!d->running) {
        if (!d->startReader(error))
            return 0;
        d->running = true;
    }
    std::lock_guard lock(d->mutex);
    const quint64 id = d->nextId++;
    State::Subscription subscription;
    subscription.handler = std::make_shared<Handler>(std::move(handler));
    subscription.relay = new ClickRelay([this, id] {
        std::vector<GlobalClick> clicks;
        std::shared_ptr<Handler> handler;
        {
            std::lock_guard lock(d->mutex);
            const auto found = d->subscriptions.find(id);
            if (found == d->subscriptions.end())
                return;
            clicks.swap(found->second.pending);
            found->second.posted = false;
            handler = found->second.handler;
        }
        for (const GlobalClick& click : clicks)
            (*handler)(click);
    });
    subscription.relay->moveToThread(context->thread());
    subscription.destroyedConnection =
        QObject::connect(context, &QObject::destroyed, [this, id] { unsubscribe(id); });
    d->subscriptions.emplace(id, std::move(subscription));
    return id;
}

void GlobalClickSource::unsubscribe(quint64 subscription)
{
    QMetaObject::Connection connection;
    ClickRelay* relay = nullptr;
    {
        std::lock_guard lock(d->mutex);
        const auto found = d->subscriptions.find(subscription);
        if (found == d->subscriptions.end())
            return;
        connection = found->second.destroyedConnection;
        relay = found->second.relay;
        d->subscriptions.erase(found);
    }
    QObject::disconnect(connection);
    // On its own thread; a delivery already queued finds the subscription gone.
    relay->deleteLater();
    std::lock_guard lifecycle(d->lifecycle);
    bool empty = false;
    {
        std::lock_guard lock(d->mutex);
        empty = d->subscriptions.empty();
    }
    // Subscribing takes the lifecycle lock first, so nobody can join in between.
    if (empty && d->running) {
        d->stopReader();
        d->running = false;
    }
}

int GlobalClickSource::subscriberCount() const
{
    std::lock_guard lock(d->mutex);
    return static_cast<int>(d->subscriptions.size());
}

} // namespace platform

#include "GlobalClickSource.moc"
