#include "platform/OnScreenTracker.h"

#include "platform/XcbConnection.h"

#include <QGuiApplication>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>

namespace platform {
namespace {

// A window still on the screen this long after it was hidden is taken for gone: its window
// manager keeps the frame for reasons of its own, and nobody waits on it any more.
constexpr std::chrono::seconds kForgetAfter{2};

template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

// The root's child that holds `window`: the frame a window manager put around it, else the window
// itself; 0 when it is gone.
xcb_window_t rootChildOf(xcb_connection_t* c, xcb_window_t window)
{
    for (int depth = 0; depth < 16 && window; ++depth) {
        xcb_generic_error_t* error = nullptr;
        Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, window), &error), &std::free);
        std::free(error);
        if (!tree)
            return 0;
        if (tree->parent == tree->root || tree->parent == XCB_NONE)
            return window;
        window = tree->parent;
    }
    return 0;
}

quint32 nativeId(const QWidget* window)
{
    return window ? static_cast<quint32>(window->internalWinId()) : 0;
}

// One of our own top-level windows: Qt already hears of its changes, and an event mask set here
// would replace Qt's.
bool isOurTopLevel(xcb_window_t window)
{
    const QWindowList windows = QGuiApplication::topLevelWindows();
    return std::any_of(windows.begin(), windows.end(),
                       [window](const QWindow* w) { return w->handle() && static_cast<xcb_window_t>(w->winId()) == window; });
}

} // namespace

OnScreenTracker& OnScreenTracker::shared()
{
    static OnScreenTracker* instance = new OnScreenTracker; // lives until the process ends
    return *instance;
}

void OnScreenTracker::watch(quint32 frame)
{
    xcb_connection_t* c = XcbConnection::qtConnection();
    if (!c)
        return;
    // The frame is the window manager's: this only adds our interest in it, and it may be gone.
    const quint32 mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    std::free(xcb_request_check(c, xcb_change_window_attributes_checked(c, frame, XCB_CW_EVENT_MASK, &mask)));
}

quint32 OnScreenTracker::onScreenWindow(quint32 window)
{
    if (const auto frame = m_frames.constFind(window); frame != m_frames.constEnd())
        return *frame;
    xcb_connection_t* c = XcbConnection::qtConnection();
    if (!c)
        return 0;
    // Reparented before anyone watched: asked now.
    const xcb_window_t top = rootChildOf(c, window);
    if (top && top != window && !isOurTopLevel(top)) {
        m_frames.insert(window, top);
        watch(top);
    }
    return top;
}

void OnScreenTracker::windowShown(const QWidget* window)
{
    if (const quint32 id = nativeId(window))
        forget([id](const Leaving& leaving) { return leaving.window == id; });
}

void OnScreenTracker::windowHidden(const QWidget* window)
{
    const quint32 id = nativeId(window);
    if (!id || !XcbConnection::qtConnection())
        return;
    if (const quint32 shown = onScreenWindow(id))
        m_leaving.append({id, shown, std::chrono::steady_clock::now()});
}

void OnScreenTracker::forget(const std::function<bool(const Leaving&)>& gone)
{
    const bool wasLeaving = !m_leaving.isEmpty();
    m_leaving.removeIf(gone);
    if (!wasLeaving || !m_leaving.isEmpty())
        return;
    // Told from the event path or from a caller: the waiters go on from the event loop.
    for (const std::shared_ptr<Waiter>& waiter : std::as_const(m_waiters)) {
        if (waiter->finished || !waiter->context)
            continue;
        waiter->finished = true;
        QMetaObject::invokeMethod(waiter->context, [done = waiter->done] { done(true); }, Qt::QueuedConnection);
    }
    m_waiters.clear();
}

void OnScreenTracker::settle()
{
    const auto now = std::chrono::steady_clock::now();
    forget([now](const Leaving& leaving) { return now - leaving.since > kForgetAfter; });
    xcb_connection_t* c = XcbConnection::qtConnection();
    if (!c || m_leaving.isEmpty())
        return;
    // One round trip for all: the answers come after every request sent before them, our unmaps
    // among them; a frame the window manager has not yet taken away is still viewable.
    QList<xcb_get_window_attributes_cookie_t> cookies;
    for (const Leaving& leaving : std::as_const(m_leaving))
        cookies.append(xcb_get_window_attributes(c, leaving.onScreen));
    QList<quint32> gone;
    for (int i = 0; i < cookies.size(); ++i) {
        xcb_generic_error_t* error = nullptr;
        Reply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(c, cookies[i], &error), &std::free);
        std::free(error);
        if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE)
            gone.append(m_leaving[i].onScreen);
    }
    forget([&gone](const Leaving& leaving) { return gone.contains(leaving.onScreen); });
}

void OnScreenTracker::whenOffScreen(QObject* context, std::chrono::milliseconds timeout, std::function<void(bool)> done)
{
    settle();
    if (m_leaving.isEmpty()) {
        done(true);
        return;
    }
    m_waiters.removeIf([](const std::shared_ptr<Waiter>& waiter) { return waiter->finished || !waiter->context; });
    auto waiter = std::make_shared<Waiter>(Waiter{context, std::move(done)});
    m_waiters.append(waiter);
    QTimer::singleShot(timeout, context, [waiter] {
        if (waiter->finished)
            return;
        waiter->finished = true;
        waiter->done(false);
    });
}

QList<QWidget*> OnScreenTracker::bottomToTop(const QList<QWidget*>& windows)
{
    xcb_connection_t* c = XcbConnection::qtConnection();
    if (!c || windows.size() < 2)
        return windows;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr), &std::free);
    if (!tree)
        return windows;
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    const QList<xcb_window_t> stack(children, children + xcb_query_tree_children_length(tree.get()));
    QList<QPair<qsizetype, QWidget*>> placed;
    for (QWidget* window : windows) {
        const quint32 id = nativeId(window);
        placed.append({id ? stack.indexOf(onScreenWindow(id)) : -1, window});
    }
    std::stable_sort(placed.begin(), placed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    QList<QWidget*> ordered;
    for (const auto& entry : placed)
        ordered.append(entry.second);
    return ordered;
}

bool OnScreenTracker::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t" || !message)
        return false;
    auto* event = static_cast<xcb_generic_event_t*>(message);
    // Synthetic events (sent by a client, not by the server) say nothing about what is shown.
    if (event->response_type & 0x80)
        return false;
    switch (event->response_type & 0x7f) {
    case XCB_REPARENT_NOTIFY: {
        // A window manager took one of our windows into its frame, or let it go.
        const auto* reparent = reinterpret_cast<xcb_reparent_notify_event_t*>(event);
        if (reparent->event != reparent->window || !isOurTopLevel(reparent->window))
            break;
        m_frames.remove(reparent->window);
        xcb_connection_t* c = XcbConnection::qtConnection();
        const xcb_window_t top = c ? rootChildOf(c, reparent->window) : 0;
        if (top && top != reparent->window && !isOurTopLevel(top)) {
            m_frames.insert(reparent->window, top);
            watch(top);
        }
        break;
    }
    case XCB_UNMAP_NOTIFY: {
        const quint32 window = reinterpret_cast<xcb_unmap_notify_event_t*>(event)->window;
        forget([window](const Leaving& leaving) { return leaving.onScreen == window; });
        break;
    }
    case XCB_DESTROY_NOTIFY: {
        const quint32 window = reinterpret_cast<xcb_destroy_notify_event_t*>(event)->window;
        m_frames.remove(window);
        m_frames.removeIf([window](const QHash<quint32, quint32>::iterator& it) { return it.value() == window; });
        // Our own window destroyed inside a frame still leaves the frame on the screen for a moment.
        forget([window](const Leaving& leaving) { return leaving.onScreen == window; });
        break;
    }
    default:
        break;
    }
    return false;
}

} // namespace platform
