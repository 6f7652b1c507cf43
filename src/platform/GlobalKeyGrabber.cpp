#include "platform/GlobalKeyGrabber.h"

#include "platform/XcbConnection.h"

#include <QCoreApplication>
#include <QTimer>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace platform {
namespace {

// CapsLock and NumLock change the state of every key event; a grab must cover each combination.
constexpr quint16 lockVariants[] = {0, GlobalKeyGrabber::lockMask, GlobalKeyGrabber::mod2Mask,
                                    GlobalKeyGrabber::lockMask | GlobalKeyGrabber::mod2Mask};
// The eight modifier bits of the state; the rest are pointer buttons and the XKB group.
constexpr quint16 modifierBits = 0xFF;
constexpr quint16 ignoredBits = GlobalKeyGrabber::lockMask | GlobalKeyGrabber::mod2Mask;

// XKB event kinds (the second byte of an XKB event) after which key codes may have moved.
constexpr quint8 xkbNewKeyboardNotify = 0;
constexpr quint8 xkbMapNotify = 1;

// With detectable auto-repeat the server sends presses without releases while a key is held, at
// the repeat rate (25-40 per second after a ~600 ms delay). A press that follows the last one this
// closely without a release seen in between is such a repeat; a longer gap means the release went
// elsewhere (a keyboard grab of one of our windows, say) and the press is a new one.
constexpr quint32 repeatWindowMs = 1000;

} // namespace

GlobalKeyGrabber::GlobalKeyGrabber(QObject* parent)
    : QObject(parent)
{
    if (xcb_connection_t* c = connection()) {
        static const char name[] = "XKEYBOARD";
        xcb_query_extension_reply_t* reply
            = xcb_query_extension_reply(c, xcb_query_extension(c, sizeof name - 1, name), nullptr);
        if (reply) {
            if (reply->present)
                m_xkbFirstEvent = reply->first_event;
            std::free(reply);
        }
    }
}

GlobalKeyGrabber::~GlobalKeyGrabber()
{
    remove();
    ungrabAll();
}

bool GlobalKeyGrabber::isAvailable()
{
    return XcbConnection::qtConnection() != nullptr;
}

quint32 GlobalKeyGrabber::firstGroupKeysym(quint32 keycode)
{
    xcb_connection_t* c = XcbConnection::qtConnection();
    if (!c || keycode < 8 || keycode > 255)
        return 0;
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(c);
    if (!symbols)
        return 0;
    const xcb_keysym_t keysym = xcb_key_symbols_get_keysym(symbols, static_cast<xcb_keycode_t>(keycode), 0);
    xcb_key_symbols_free(symbols);
    return keysym;
}

xcb_connection_t* GlobalKeyGrabber::connection() const
{
    return XcbConnection::qtConnection();
}

QList<quint32> GlobalKeyGrabber::roots() const
{
    QList<quint32> result;
    if (xcb_connection_t* c = connection())
        for (auto it = xcb_setup_roots_iterator(xcb_get_setup(c)); it.rem; xcb_screen_next(&it))
            result.append(it.data->root);
    return result;
}

void GlobalKeyGrabber::install()
{
    if (m_installed)
        return;
    QCoreApplication::instance()->installNativeEventFilter(this);
    m_installed = true;
}

void GlobalKeyGrabber::remove()
{
    if (!m_installed)
        return;
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
    m_installed = false;
}

QList<quint8> GlobalKeyGrabber::keycodesFor(quint32 keysym) const
{
    QList<quint8> result;
    xcb_connection_t* c = connection();
    if (!c)
        return result;
    // A fresh table each time: the keymap may have changed since the last grab.
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(c);
    if (!symbols)
        return result;
    if (xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, keysym)) {
        for (xcb_keycode_t* p = codes; *p != XCB_NO_SYMBOL; ++p)
            if (!result.contains(*p))
                result.append(*p);
        std::free(codes);
    }
    xcb_key_symbols_free(symbols);
    return result;
}

int GlobalKeyGrabber::grabKeys(const QList<quint8>& keycodes, quint16 modifiers)
{
    xcb_connection_t* c = connection();
    QList<xcb_void_cookie_t> cookies;
    for (quint32 root : roots())
        for (quint8 keycode : keycodes)
            for (quint16 variant : lockVariants)
                // Not owner_events: the press goes to the root even while one of our windows has the
                // focus, so it is always a hot key and never typed into that window.
                cookies.append(xcb_grab_key_checked(c, 0, root, modifiers | variant, keycode, XCB_GRAB_MODE_ASYNC,
                                                    XCB_GRAB_MODE_ASYNC));
    int status = success;
    for (const xcb_void_cookie_t& cookie : cookies) {
        if (xcb_generic_error_t* error = xcb_request_check(c, cookie)) {
            if (status == success)
                status = error->error_code;
            std::free(error);
        }
    }
    if (status != success)
        ungrabKeys(keycodes, modifiers); // only our own grabs are released
    return status;
}

void GlobalKeyGrabber::ungrabKeys(const QList<quint8>& keycodes, quint16 modifiers)
{
    xcb_connection_t* c = connection();
    if (!c)
        return;
    for (quint32 root : roots())
        for (quint8 keycode : keycodes)
            for (quint16 variant : lockVariants)
                xcb_ungrab_key(c, keycode, root, modifiers | variant);
    xcb_flush(c);
}

int GlobalKeyGrabber::grab(quint32 id, quint32 keysym, quint16 modifiers)
{
    if (!connection())
        return noX11Connection;
    ungrab(id);
    modifiers &= modifierBits & ~ignoredBits;
    const QList<quint8> codes = keycodesFor(keysym);
    if (codes.isEmpty())
        return badValue;
    const int status = grabKeys(codes, modifiers);
    if (status != success)
        return status;
    m_grabs.append(Grab{id, keysym, modifiers, codes});
    return success;
}

void GlobalKeyGrabber::ungrab(quint32 id)
{
    for (qsizetype i = m_grabs.size() - 1; i >= 0; --i) {
        if (m_grabs[i].id != id)
            continue;
        ungrabKeys(m_grabs[i].keycodes, m_grabs[i].modifiers);
        m_grabs.removeAt(i);
    }
}

void GlobalKeyGrabber::ungrabAll()
{
    for (const Grab& g : std::as_const(m_grabs))
        ungrabKeys(g.keycodes, g.modifiers);
    m_grabs.clear();
    m_keys.clear();
}

bool GlobalKeyGrabber::isGrabbed(quint32 id) const
{
    for (const Grab& g : m_grabs)
        if (g.id == id)
            return true;
    return false;
}

QList<quint8> GlobalKeyGrabber::keycodes(quint32 id) const
{
    for (const Grab& g : m_grabs)
        if (g.id == id)
            return g.keycodes;
    return {};
}

bool GlobalKeyGrabber::isRepeat(quint8 keycode, quint32 time)
{
    KeyTrack& track = m_keys[keycode];
    // Classic auto-repeat: a release and the next press carry the same server time.
    bool repeat = track.released && track.lastRelease == time;
    // Detectable auto-repeat: presses without releases.
    if (track.down && time - track.lastPress < repeatWindowMs)
        repeat = true;
    track.down = true;
    track.released = false;
    track.lastPress = time;
    return repeat;
}

void GlobalKeyGrabber::scheduleRegrab()
{
    if (m_regrabPending || m_grabs.isEmpty())
        return;
    m_regrabPending = true;
    // A keymap change arrives as a burst of events; take the grabs once, after the burst, and after
    // Qt's own keymap has been brought up to date from the same events.
    QTimer::singleShot(0, this, [this] {
        m_regrabPending = false;
        regrabAll();
    });
}

void GlobalKeyGrabber::regrabAll()
{
    // Most of these notifications move no key of ours: the server sends one whenever the keys
    // start coming from another keyboard device, and the press that caused it is often still on
    // its way. A grab is changed only where its key codes moved, the new codes grabbed before the
    // old ones are let go, so that the combination is never ungrabbed in between.
    QList<Grab> kept;
    QList<std::pair<quint32, int>> failed;
    for (const Grab& g : std::as_const(m_grabs)) {
        const QList<quint8> codes = keycodesFor(g.keysym);
        if (codes == g.keycodes) {
            kept.append(g);
            continue;
        }
        QList<quint8> added;
        QList<quint8> gone;
        for (quint8 code : codes)
            if (!g.keycodes.contains(code))
                added.append(code);
        for (quint8 code : g.keycodes)
            if (!codes.contains(code))
                gone.append(code);
        const int status = codes.isEmpty() ? badValue : grabKeys(added, g.modifiers);
        if (status == success) {
            ungrabKeys(gone, g.modifiers);
            kept.append(Grab{g.id, g.keysym, g.modifiers, codes});
        } else {
            ungrabKeys(g.keycodes, g.modifiers);
            failed.append({g.id, status});
        }
    }
    m_grabs = kept;
    // Press tracking only for the key codes still grabbed.
    m_keys.removeIf([this](const QHash<quint8, KeyTrack>::iterator& it) {
        return std::none_of(m_grabs.cbegin(), m_grabs.cend(), [&](const Grab& g) { return g.keycodes.contains(it.key()); });
    });
    for (const auto& [id, status] : failed)
        emit regrabFailed(id, status);
}

bool GlobalKeyGrabber::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t" || !message)
        return false;
    auto* event = static_cast<xcb_generic_event_t*>(message);
    const quint8 type = event->response_type & 0x7F;

    if (type == XCB_KEY_PRESS || type == XCB_KEY_RELEASE) {
        // Press and release events share one layout.
        auto* key = reinterpret_cast<xcb_key_press_event_t*>(event);
        bool ourKey = false;
        for (const Grab& g : std::as_const(m_grabs))
            ourKey = ourKey || g.keycodes.contains(key->detail);
        if (!ourKey)
            return false;
        if (type == XCB_KEY_RELEASE) {
            // Seen on any window: the release may reach one of our windows that grabbed the keyboard.
            KeyTrack& track = m_keys[key->detail];
            track.down = false;
            track.released = true;
            track.lastRelease = key->time;
            return roots().contains(key->event);
        }
        if (!roots().contains(key->event))
            return false;
        const quint16 state = key->state & modifierBits & ~ignoredBits;
        const bool repeat = isRepeat(key->detail, key->time);
        for (const Grab& g : std::as_const(m_grabs)) {
            if (g.modifiers != state || !g.keycodes.contains(key->detail))
                continue;
            if (!repeat) {
                const quint32 id = g.id;
                // Out of the X event path: the receiver may open windows or grab the keyboard.
                QMetaObject::invokeMethod(this, [this, id] { emit pressed(id); }, Qt::QueuedConnection);
            }
            return true;
        }
        return true;
    }

    if (type == XCB_MAPPING_NOTIFY) {
        auto* mapping = reinterpret_cast<xcb_mapping_notify_event_t*>(event);
        if (mapping->request != XCB_MAPPING_POINTER)
            scheduleRegrab();
        return false; // Qt updates its own keymap from it
    }

    // Clients that use XKB (Qt does) are told of keymap changes by XKB events instead.
    if (m_xkbFirstEvent && type == m_xkbFirstEvent) {
        quint8 xkbType = 0;
        std::memcpy(&xkbType, reinterpret_cast<const char*>(event) + 1, 1);
        if (xkbType == xkbNewKeyboardNotify || xkbType == xkbMapNotify)
            scheduleRegrab();
    }
    return false;
}

} // namespace platform
