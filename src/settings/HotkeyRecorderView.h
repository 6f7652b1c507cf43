#pragma once

#include "settings/KeyEventHandlerView.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <optional>

class QKeyEvent;
class QLabel;
class QPushButton;
class QToolButton;

// The settings row that records one global hot key into a setting: a click on the field starts
// listening, a key pressed with at least one modifier is written as a combination string
// ("cmd+shift+4": modifiers in the order cmd, ctrl, alt, shift, then one key name). While the field
// listens, every global hot key is switched off, so a registered combination starts no capture.
// The field shows the combination as HotKeyManager::displayText() spells it.
class HotkeyRecorderView : public QWidget {
    Q_OBJECT
public:
    // Where the combination lives: the recorder reads and writes the setting through these.
    struct Binding {
        std::function<QString()> get;
        std::function<void(const QString&)> set;
    };

    HotkeyRecorderView(Binding hotkey, const QString& label, std::function<void()> onChanged, QWidget* parent = nullptr);
    // A row that goes away while listening switches the global hot keys back on.
    ~HotkeyRecorderView() override;

    QString hotkey() const { return m_hotkey.get(); }
    QString label() const { return m_label; }
    bool isRecording() const { return m_isRecording; }
    const std::optional<QString>& conflictWarning() const { return m_conflictWarning; }

    // The field's click: starts or ends listening. Listening also ends, as by a second click, when
    // the field loses the keyboard focus (a popup menu, another window or widget takes it), when the
    // row is hidden (a capture hides the window) and when another row starts listening.
    void toggleRecording();
    // The clear button: no hot key. The global hot keys are not touched.
    void clear();
    // One key press while listening; anything that cannot be recorded is ignored and listening goes on.
    void handleKeyEvent(const QKeyEvent& event);
    // Redraws from the bound setting.
    void refresh();

    // Well-known shortcuts of Linux desktops and their programs: recorded, but marked with a warning.
    static const QStringList& systemHotkeys();
    // The key name of a key code of the combination format; none for codes without a name.
    static std::optional<QString> keyCodeToString(quint16 keyCode);
    // The key of a press as a key code of the combination format: the key's unshifted symbol on the
    // first keyboard group, so Shift-4 is 4 and a Cyrillic layout still gives Latin letters. None
    // for keys the format cannot name.
    static std::optional<quint16> keyCode(const QKeyEvent& event);
    // Shift, Control, Super/Meta, Alt, AltGr, Caps Lock and their kin.
    static bool isModifierKey(const QKeyEvent& event);

    // The catcher that reads keys while listening, or nullptr.
    KeyEventHandlerView* keyCatcher() const { return m_keyCatcher; }

protected:
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void startListening();
    void stopListening();
    // Ends listening without a combination; nothing when not listening.
    void endListening();
    void dropKeyCatcher();

    Binding m_hotkey;
    QString m_label;
    std::function<void()> m_onChanged;
    bool m_isRecording = false;
    std::optional<QString> m_conflictWarning;

    QPushButton* m_field;
    QLabel* m_icon;
    QLabel* m_text;
    QToolButton* m_clear;
    QWidget* m_warningRow;
    QLabel* m_warningText;
    QPointer<KeyEventHandlerView> m_keyCatcher;
};
