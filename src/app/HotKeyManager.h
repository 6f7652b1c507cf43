#pragma once

#include <QMap>
#include <QObject>
#include <QString>

#include <optional>
#include <utility>

namespace platform {
class GlobalKeyGrabber;
}

// The notifications through which hot keys, the status menu and the settings window reach the
// application delegate.
namespace NotificationName {
inline const QString captureScreenHotKey = QStringLiteral("captureScreenHotKey");
inline const QString captureFullScreenHotKey = QStringLiteral("captureFullScreenHotKey");
inline const QString startScreenRecordingHotKey = QStringLiteral("startScreenRecordingHotKey");
inline const QString hotkeySettingsChanged = QStringLiteral("hotkeySettingsChanged");
} // namespace NotificationName

// The process-wide registry of the global hot keys. A combination is stored as text such as
// "cmd+shift+4"; it is parsed into a key code and modifier mask in one fixed table (the codes the
// settings format was defined with), then translated to an X keysym and modifier bits and grabbed
// on the root window. A press posts one of the three capture notifications. GUI thread only.
class HotKeyManager : public QObject {
    Q_OBJECT
public:
    // Modifier masks of the hot-key string format.
    static constexpr quint32 cmdKey = 0x100;
    static constexpr quint32 shiftKey = 0x200;
    static constexpr quint32 optionKey = 0x800;
    static constexpr quint32 controlKey = 0x1000;

    struct HotKeyID {
        quint32 signature = 0;
        quint32 id = 0;
    };
    // 'KHKY' packed big-endian.
    static constexpr quint32 hotKeySignature = (quint32('K') << 24) | (quint32('H') << 16) | (quint32('K') << 8) | quint32('Y');
    static constexpr HotKeyID areaHotKeyID{hotKeySignature, 1};
    static constexpr HotKeyID fullScreenHotKeyID{hotKeySignature, 2};
    static constexpr HotKeyID screenRecordingHotKeyID{hotKeySignature, 4};

    static HotKeyManager& shared();

    // Replaces every registration by the given combinations ("" registers nothing for a command).
    // While temporarily disabled the strings are only stored, and registered by restore().
    void updateHotkeys(const QString& area, const QString& fullScreen, const QString& screenRecording);
    // Unregisters everything while the settings window records a combination.
    void temporarilyDisable();
    void restore();
    // Removes every registration and stops reading hot-key events.
    void unregisterAllHotKeys();

    // (key code, modifiers), or nullopt for an invalid string.
    static std::optional<std::pair<quint32, quint32>> parseHotkeyString(const QString& string);
    static std::optional<quint32> keyCodeForString(const QString& name);
    // The X keysym a key code of the table stands for; 0 for a code outside the table.
    static quint32 keysymForKeyCode(quint32 keyCode);
    // The X modifier bits for a mask of the string format.
    static quint16 x11Modifiers(quint32 modifiers);
    // How a stored combination is shown to the user, in the notation of Linux desktops: "cmd+shift+4"
    // is "Super+Shift+4", "ctrl+alt+f5" is "Ctrl+Alt+F5". Modifiers come first, in the format's order.
    static QString displayText(const QString& hotkey);

    // Posts the notification of a hot-key id (1, 2 or 4); other ids only print a line.
    void handleHotKeyEvent(quint32 id);

    const QMap<QString, QString>& currentHotkeys() const { return m_currentHotkeys; }
    bool isTemporarilyDisabled() const { return m_isTemporarilyDisabled; }
    bool isEventHandlerInstalled() const;
    // Ids with a live registration, in registration order.
    QList<quint32> registeredIDs() const;

private:
    HotKeyManager();
    void setupEventHandler();
    void registerHotkey(const QString& string, const QString& type, HotKeyID id);
    QString typeForID(quint32 id) const;

    struct HotKeyRef {
        quint32 id = 0;
        quint32 keyCode = 0;
        quint32 modifiers = 0;
        QString type;
    };

    QList<HotKeyRef> m_hotKeyRefs;
    platform::GlobalKeyGrabber* m_eventHandler = nullptr;
    QMap<QString, QString> m_currentHotkeys;
    bool m_isTemporarilyDisabled = false;
};
