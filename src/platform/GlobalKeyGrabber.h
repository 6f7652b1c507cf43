#pragma once

#include <QAbstractNativeEventFilter>
#include <QHash>
#include <QList>
#include <QObject>

struct xcb_connection_t;

namespace platform {

// System-wide key combinations on X11: passive grabs on the root windows through Qt's own xcb
// connection, whose events are read in a native event filter. Each combination is grabbed with
// every CapsLock/NumLock variant, and matched with those two bits masked off, so the locks never
// disable a hot key. After a keyboard mapping change a grab whose key moved follows it to its new
// key codes; grabs whose keys stayed are left alone. GUI thread only.
class GlobalKeyGrabber : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    // The core protocol's modifier bits.
    enum Modifier : quint16 {
        shiftMask = 0x01,
        lockMask = 0x02, // CapsLock
        controlMask = 0x04,
        mod1Mask = 0x08, // Alt
        mod2Mask = 0x10, // NumLock
        mod4Mask = 0x40, // Super
    };

    // Outcomes of grab(): success, or the X error the server answered with.
    static constexpr int success = 0;
    static constexpr int noX11Connection = -1;
    static constexpr int badValue = 2;   // no key code of the current keymap produces the key
    static constexpr int badAccess = 10; // another client holds the combination

    explicit GlobalKeyGrabber(QObject* parent = nullptr);
    ~GlobalKeyGrabber() override;

    // True when the application runs on X11 (Qt's xcb platform).
    static bool isAvailable();
    // The keysym on the first level of the first group of the X key code `keycode`: what the key
    // is, not what it types now. 0 without X11 or for a code outside the keymap.
    static quint32 firstGroupKeysym(quint32 keycode);

    // Starts and stops reading X events. Grabs stay until ungrabbed.
    void install();
    void remove();
    bool isInstalled() const { return m_installed; }

    // Grabs `keysym` with exactly `modifiers` (plus the lock variants) on every root window. On any
    // failure nothing of this combination stays grabbed. `id` comes back in pressed().
    int grab(quint32 id, quint32 keysym, quint16 modifiers);
    void ungrab(quint32 id);
    void ungrabAll();
    bool isGrabbed(quint32 id) const;
    // The key codes currently grabbed for `id` (empty when none).
    QList<quint8> keycodes(quint32 id) const;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

signals:
    // A grabbed combination was pressed (key repeats are not reported). Queued after the X event.
    void pressed(quint32 id);
    // Taking a grab again after a keymap change failed with `status`; that grab is gone.
    void regrabFailed(quint32 id, int status);

private:
    struct Grab {
        quint32 id = 0;
        quint32 keysym = 0;
        quint16 modifiers = 0;
        QList<quint8> keycodes;
    };
    struct KeyTrack {
        bool down = false;
        quint32 lastPress = 0;
        quint32 lastRelease = 0;
        bool released = false;
    };

    xcb_connection_t* connection() const;
    QList<quint32> roots() const;
    QList<quint8> keycodesFor(quint32 keysym) const;
    int grabKeys(const QList<quint8>& keycodes, quint16 modifiers);
    void ungrabKeys(const QList<quint8>& keycodes, quint16 modifiers);
    bool isRepeat(quint8 keycode, quint32 time);
    void scheduleRegrab();
    void regrabAll();

    QList<Grab> m_grabs;
    QHash<quint8, KeyTrack> m_keys;
    bool m_installed = false;
    bool m_regrabPending = false;
    quint8 m_xkbFirstEvent = 0;
};

} // namespace platform
