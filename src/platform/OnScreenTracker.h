#pragma once

#include <QAbstractNativeEventFilter>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>

#include <chrono>
#include <functional>
#include <memory>

class QWidget;

namespace platform {

// What the X server shows of our top-level windows beyond what Qt tells: the window manager's
// frame around each, whether a window hidden lately has really left the screen (its frame too),
// and the order they are stacked in. Hiding a window only asks for its unmap; the server does it
// later, and a window manager takes its frame away later still. Without X (the offscreen
// platform) a hidden window is gone at once and the order is the one given. GUI thread only.
class OnScreenTracker : public QObject, public QAbstractNativeEventFilter {
public:
    static OnScreenTracker& shared();

    // Told by Application as our top-level windows are shown and hidden.
    void windowShown(const QWidget* window);
    void windowHidden(const QWidget* window);

    // `done` runs once every window hidden lately is off the screen: the server has unmapped it
    // and the frame around it. Within the call when none is left; else later on the GUI thread,
    // with false when `timeout` passed first; never once `context` is gone.
    void whenOffScreen(QObject* context, std::chrono::milliseconds timeout, std::function<void(bool inTime)> done);

    // `windows` bottom to top as the server stacks them; those not on the screen first, in the
    // given order. Without X the given order.
    QList<QWidget*> bottomToTop(const QList<QWidget*>& windows);

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    OnScreenTracker() = default;
    struct Leaving {
        quint32 window = 0;   // ours
        quint32 onScreen = 0; // what shows it: its frame, or the window itself
        std::chrono::steady_clock::time_point since;
    };
    struct Waiter {
        QPointer<QObject> context;
        std::function<void(bool)> done;
        bool finished = false;
    };
    // The root's child that shows `window`; the frame is watched from then on.
    quint32 onScreenWindow(quint32 window);
    void watch(quint32 frame);
    // Drops what the server says is no longer shown, and what has been leaving for too long.
    void settle();
    void forget(const std::function<bool(const Leaving&)>& gone);

    QHash<quint32, quint32> m_frames; // our window -> the frame holding it
    QList<Leaving> m_leaving;
    QList<std::shared_ptr<Waiter>> m_waiters;
};

} // namespace platform
