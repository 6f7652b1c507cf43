#include "uploads/MainQueue.h"

#include <QCoreApplication>
#include <QObject>
#include <QThread>

#include <deque>
#include <mutex>

namespace {

class MainQueueRelay : public QObject {
    Q_OBJECT
public:
    std::mutex mutex;
    std::deque<std::function<void()>> pending;
    bool posted = false;

    Q_INVOKABLE void drain()
    {
        std::deque<std::function<void()>> batch;
        {
            std::lock_guard lock(mutex);
            batch.swap(pending);
            posted = false;
        }
        for (auto& function : batch)
            function();
    }
};

MainQueueRelay& relay()
{
    // Lives as long as the process; it belongs to the GUI thread whichever thread made it.
    static MainQueueRelay* instance = [] {
        auto* r = new MainQueueRelay;
        r->moveToThread(QCoreApplication::instance()->thread());
        return r;
    }();
    return *instance;
}

} // namespace

void MainQueue::prepare()
{
    relay();
}

void MainQueue::post(std::function<void()> function)
{
    MainQueueRelay& r = relay();
    std::lock_guard lock(r.mutex);
    r.pending.push_back(std::move(function));
    // One wake-up drains everything queued meanwhile; posted under the lock, so none is lost.
    if (!r.posted) {
        r.posted = true;
        QMetaObject::invokeMethod(&r, "drain", Qt::QueuedConnection);
    }
}

#include "MainQueue.moc"
