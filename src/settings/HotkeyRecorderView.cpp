#include "settings/HotkeyRecorderView.h"

#include "app/HotKeyManager.h"
#include "app/Localization.h"
#include "platform/GlobalKeyGrabber.h"
#include "platform/SystemColors.h"
#include "settings/KeyEventHandlerView.h"
#include "settings/SettingsStyle.h"

#include <QHBoxLayout>
#include <QHideEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

struct KeyName {
    quint16 code;
    const char* name;
};

// The key codes of the combination format and their names. Every other code has no name.
constexpr KeyName keyNames[] = {
    {0, "a"},    {1, "s"},    {2, "d"},    {3, "f"},    {4, "h"},    {5, "g"},    {6, "z"},    {7, "x"},
    {8, "c"},    {9, "v"},    {11, "b"},   {12, "q"},   {13, "w"},   {14, "e"},   {15, "r"},   {16, "y"},
    {17, "t"},   {18, "1"},   {19, "2"},   {20, "3"},   {21, "4"},   {22, "6"},   {23, "5"},   {25, "9"},
    {26, "7"},   {28, "8"},   {29, "0"},   {31, "o"},   {32, "u"},   {34, "i"},   {35, "p"},   {36, "enter"},
    {37, "l"},   {38, "j"},   {40, "k"},   {45, "n"},   {46, "m"},   {48, "tab"}, {49, "space"}, {53, "esc"},
    {96, "f5"},  {97, "f6"},  {98, "f7"},  {99, "f3"},  {100, "f8"}, {101, "f9"}, {103, "f11"}, {109, "f10"},
    {111, "f12"}, {118, "f4"}, {120, "f2"}, {122, "f1"},
};

// X keysyms of the keys above that are not their own Latin-1 character.
constexpr quint32 xkReturn = 0xff0d;
constexpr quint32 xkTab = 0xff09;
constexpr quint32 xkEscape = 0xff1b;
constexpr quint32 xkF1 = 0xffbe;

// The keysym a Qt key stands for, for events that carry no X key code (synthesised ones).
quint32 keysymForQtKey(const QKeyEvent& event)
{
    if (event.modifiers() & Qt::KeypadModifier)
        return 0; // keypad keys have no name
    const int key = event.key();
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return 'a' + static_cast<quint32>(key - Qt::Key_A);
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return '0' + static_cast<quint32>(key - Qt::Key_0);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F12)
        return xkF1 + static_cast<quint32>(key - Qt::Key_F1);
    switch (key) {
    case Qt::Key_Return:
        return xkReturn;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: // Shift-Tab
        return xkTab;
    case Qt::Key_Space:
        return ' ';
    case Qt::Key_Escape:
        return xkEscape;
    default:
        return 0;
    }
}

// The one row that listens: a second one starting takes over from it.
QPointer<HotkeyRecorderView>& listeningRow()
{
    static QPointer<HotkeyRecorderView> row;
    return row;
}

QString warningText()
{
    return L::text(QStringLiteral("Конфликт с системным хоткеем"), QStringLiteral("Conflicts with system hotkey"));
}

} // namespace

HotkeyRecorderView::HotkeyRecorderView(Binding hotkey, const QString& label, std::function<void()> onChanged,
                                       QWidget* parent)
    : QWidget(parent)
    , m_hotkey(std::move(hotkey))
    , m_label(label)
    , m_onChanged(std::move(onChanged))
{
    setObjectName(QStringLiteral("HotkeyRecorderView"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);

    auto* line = new QHBoxLayout;
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(4);
    auto* title = SettingsStyle::label(label, SettingsStyle::bodyFont(), SettingsStyle::primaryColor(), this);
    title->setObjectName(QStringLiteral("hotkeyLabel"));
    title->setFixedWidth(130);
    line->addWidget(title);

    m_field = new QPushButton(this);
    m_field->setObjectName(QStringLiteral("hotkeyField"));
    m_field->setCursor(Qt::PointingHandCursor);
    m_field->setFocusPolicy(Qt::NoFocus);
    m_field->setMinimumHeight(30);
    auto* content = new QHBoxLayout(m_field);
    content->setContentsMargins(8, 6, 8, 6);
    content->setSpacing(6);
    m_icon = new QLabel(m_field);
    m_icon->setObjectName(QStringLiteral("hotkeyIcon"));
    content->addWidget(m_icon);
    m_text = new QLabel(m_field);
    m_text->setObjectName(QStringLiteral("hotkeyText"));
    m_text->setFont(SettingsStyle::bodyFont());
    content->addWidget(m_text);
    content->addStretch(1);
    m_clear = new QToolButton(m_field);
    m_clear->setObjectName(QStringLiteral("clearHotkeyButton"));
    m_clear->setAutoRaise(true);
    m_clear->setCursor(Qt::PointingHandCursor);
    m_clear->setFocusPolicy(Qt::NoFocus);
    m_clear->setIcon(QIcon(SettingsStyle::symbol(QStringLiteral("xmark.circle.fill"), 14, SettingsStyle::secondaryColor())));
    m_clear->setIconSize(QSize(14, 14));
    m_clear->setStyleSheet(QStringLiteral("QToolButton { border: none; background: transparent; }"));
    content->addWidget(m_clear);
    line->addWidget(m_field, 1);
    column->addLayout(line);

    m_warningRow = new QWidget(this);
    m_warningRow->setObjectName(QStringLiteral("conflictWarningRow"));
    auto* warning = new QHBoxLayout(m_warningRow);
    warning->setContentsMargins(134, 0, 0, 0);
    warning->setSpacing(4);
    warning->addWidget(SettingsStyle::symbolLabel(QStringLiteral("exclamationmark.triangle.fill"), 10,
                                                  platform::SystemColors::orange(), m_warningRow));
    m_warningText = SettingsStyle::label(QString(), SettingsStyle::smallCaptionFont(), platform::SystemColors::orange(),
                                         m_warningRow);
    m_warningText->setObjectName(QStringLiteral("conflictWarning"));
    warning->addWidget(m_warningText);
    warning->addStretch(1);
    column->addWidget(m_warningRow);

    connect(m_field, &QPushButton::clicked, this, &HotkeyRecorderView::toggleRecording);
    connect(m_clear, &QToolButton::clicked, this, &HotkeyRecorderView::clear);
    refresh();
}

HotkeyRecorderView::~HotkeyRecorderView()
{
    // The catcher goes with the field, later: it must not call back into this row.
    if (m_keyCatcher) {
        m_keyCatcher->onKeyEvent = nullptr;
        m_keyCatcher->onFocusLost = nullptr;
    }
    // Otherwise the global hot keys would stay off until some later restore().
    if (m_isRecording)
        HotKeyManager::shared().restore();
}

void HotkeyRecorderView::toggleRecording()
{
    m_isRecording = !m_isRecording;
    if (m_isRecording)
        startListening();
    else
        stopListening();
    refresh();
}

void HotkeyRecorderView::endListening()
{
    if (!m_isRecording)
        return;
    m_isRecording = false;
    stopListening();
    refresh();
}

void HotkeyRecorderView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    endListening();
}

void HotkeyRecorderView::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && !isActiveWindow())
        endListening();
}

void HotkeyRecorderView::startListening()
{
    // Another row listening hands over: it stops as by a click, but the hot keys stay off. Left
    // to its focus loss, it would switch them back on under this row.
    if (HotkeyRecorderView* other = listeningRow(); other && other != this) {
        other->m_isRecording = false;
        other->m_conflictWarning.reset();
        other->dropKeyCatcher();
        other->refresh();
    }
    listeningRow() = this;
    // temporarilyDisable() does nothing when the hot keys are already off.
    HotKeyManager::shared().temporarilyDisable();
    auto* catcher = new KeyEventHandlerView(m_field);
    catcher->onKeyEvent = [this](const QKeyEvent& event) { handleKeyEvent(event); };
    // A focus taken by a popup (the tray menu) or another window never comes back by itself: the
    // field would look as if it listened, receive nothing and leave every hot key off.
    catcher->onFocusLost = [this] { endListening(); };
    catcher->show();
    m_keyCatcher = catcher;
    // Once the catcher is part of the shown window.
    QTimer::singleShot(0, catcher, [catcher] {
        if (catcher->window())
            catcher->setFocus(Qt::OtherFocusReason);
    });
}

void HotkeyRecorderView::stopListening()
{
    HotKeyManager::shared().restore();
    m_conflictWarning.reset();
    dropKeyCatcher();
}

void HotkeyRecorderView::dropKeyCatcher()
{
    if (listeningRow() == this)
        listeningRow() = nullptr;
    if (m_keyCatcher) {
        // It may be handling the event that led here.
        m_keyCatcher->onFocusLost = nullptr;
        m_keyCatcher->deleteLater();
    }
    m_keyCatcher = nullptr;
}

void HotkeyRecorderView::clear()
{
    m_hotkey.set(QString());
    m_conflictWarning.reset();
    refresh();
    if (m_onChanged)
        m_onChanged();
}

void HotkeyRecorderView::handleKeyEvent(const QKeyEvent& event)
{
    if (!m_isRecording || isModifierKey(event))
        return;
    QStringList parts;
    const Qt::KeyboardModifiers modifiers = event.modifiers();
    if (modifiers & Qt::MetaModifier)
        parts << QStringLiteral("cmd");
    if (modifiers & Qt::ControlModifier)
        parts << QStringLiteral("ctrl");
    if (modifiers & Qt::AltModifier)
        parts << QStringLiteral("alt");
    if (modifiers & Qt::ShiftModifier)
        parts << QStringLiteral("shift");
    if (parts.isEmpty())
        return;
    const auto code = keyCode(event);
    const auto name = code ? keyCodeToString(*code) : std::nullopt;
    if (!name)
        return;
    parts << *name;
    const QString combination = parts.join(QLatin1Char('+'));

    if (systemHotkeys().contains(combination.toLower()))
        m_conflictWarning = warningText();
    else
        m_conflictWarning.reset();
    m_hotkey.set(combination);
    m_isRecording = false;
    dropKeyCatcher();
    HotKeyManager::shared().restore();
    refresh();
    if (m_onChanged)
        m_onChanged();
}

void HotkeyRecorderView::refresh()
{
    const QString combination = hotkey();
    const QColor secondary = SettingsStyle::secondaryColor();
    QColor textColor = secondary;
    QFont font = SettingsStyle::bodyFont();
    if (m_isRecording) {
        m_icon->setPixmap(SettingsStyle::symbol(QStringLiteral("record.circle"), 14, platform::SystemColors::red()));
        m_icon->show();
        m_text->setText(L::text(QStringLiteral("Нажмите комбинацию..."), QStringLiteral("Press key combination...")));
    } else if (!combination.isEmpty()) {
        m_icon->hide();
        m_text->setText(HotKeyManager::displayText(combination));
        font.setWeight(QFont::Medium);
        textColor = SettingsStyle::primaryColor();
    } else {
        m_icon->setPixmap(SettingsStyle::symbol(QStringLiteral("plus.circle"), 14, secondary));
        m_icon->show();
        m_text->setText(L::text(QStringLiteral("Назначить"), QStringLiteral("Assign")));
    }
    m_text->setFont(font);
    SettingsStyle::setTextColor(m_text, textColor);
    m_clear->setVisible(!m_isRecording && !combination.isEmpty());

    const QColor red = platform::SystemColors::red();
    const QColor background = m_isRecording ? QColor(red.red(), red.green(), red.blue(), 26) : SettingsStyle::textBackgroundColor();
    const QColor gray = platform::SystemColors::gray();
    const QColor border = m_isRecording ? red : QColor(gray.red(), gray.green(), gray.blue(), 77);
    m_field->setStyleSheet(QStringLiteral("QPushButton#hotkeyField { background: %1; border: 1px solid %2; "
                                          "border-radius: 6px; text-align: left; }")
                               .arg(SettingsStyle::css(background), SettingsStyle::css(border)));

    m_warningRow->setVisible(m_conflictWarning.has_value());
    m_warningText->setText(m_conflictWarning.value_or(QString()));
}

const QStringList& HotkeyRecorderView::systemHotkeys()
{
    // Common to Linux desktops (GNOME, KDE Plasma, Xfce, Cinnamon, MATE) and their programs, in the
    // combination format, so only what the field can record: Delete, Print and the arrows have
    // no name there. "cmd" is Super. No default hot key of ours is among them (there is none).
    static const QStringList list{
        // Clipboard and editing in every program; a terminal's copy and paste.
        QStringLiteral("ctrl+c"), QStringLiteral("ctrl+v"), QStringLiteral("ctrl+x"), QStringLiteral("ctrl+z"),
        QStringLiteral("ctrl+shift+z"), QStringLiteral("ctrl+y"), QStringLiteral("ctrl+a"), QStringLiteral("ctrl+s"),
        QStringLiteral("ctrl+o"), QStringLiteral("ctrl+n"), QStringLiteral("ctrl+p"), QStringLiteral("ctrl+f"),
        QStringLiteral("ctrl+q"), QStringLiteral("ctrl+w"), QStringLiteral("ctrl+t"), QStringLiteral("ctrl+shift+c"),
        QStringLiteral("ctrl+shift+v"),
        // Windows: switching, closing, the window menu, the run dialog, moving and resizing.
        QStringLiteral("alt+tab"), QStringLiteral("alt+shift+tab"), QStringLiteral("alt+esc"), QStringLiteral("alt+f1"),
        QStringLiteral("alt+f2"), QStringLiteral("alt+f4"), QStringLiteral("alt+f7"), QStringLiteral("alt+f8"),
        QStringLiteral("alt+f10"), QStringLiteral("alt+space"),
        // The session: a terminal, the lock, the desktop, the screencast, the consoles.
        QStringLiteral("ctrl+alt+t"), QStringLiteral("ctrl+alt+l"), QStringLiteral("ctrl+alt+d"),
        QStringLiteral("ctrl+alt+shift+r"), QStringLiteral("ctrl+alt+f1"), QStringLiteral("ctrl+alt+f2"),
        QStringLiteral("ctrl+alt+f3"), QStringLiteral("ctrl+alt+f4"), QStringLiteral("ctrl+alt+f5"),
        QStringLiteral("ctrl+alt+f6"), QStringLiteral("ctrl+alt+f7"), QStringLiteral("ctrl+alt+f8"),
        QStringLiteral("ctrl+alt+f9"), QStringLiteral("ctrl+alt+f10"), QStringLiteral("ctrl+alt+f11"),
        QStringLiteral("ctrl+alt+f12"), QStringLiteral("ctrl+esc"),
        // Input method and keyboard layout.
        QStringLiteral("ctrl+space"), QStringLiteral("cmd+space"),
        // Super: overview, applications, lock, desktop, files, notifications, the launcher's entries.
        QStringLiteral("cmd+tab"), QStringLiteral("cmd+a"), QStringLiteral("cmd+s"), QStringLiteral("cmd+l"),
        QStringLiteral("cmd+d"), QStringLiteral("cmd+e"), QStringLiteral("cmd+h"), QStringLiteral("cmd+m"),
        QStringLiteral("cmd+v"), QStringLiteral("cmd+1"), QStringLiteral("cmd+2"), QStringLiteral("cmd+3"),
        QStringLiteral("cmd+4"),
    };
    return list;
}

std::optional<QString> HotkeyRecorderView::keyCodeToString(quint16 keyCode)
{
    for (const KeyName& key : keyNames)
        if (key.code == keyCode)
            return QString::fromLatin1(key.name);
    return std::nullopt;
}

std::optional<quint16> HotkeyRecorderView::keyCode(const QKeyEvent& event)
{
    quint32 keysym = platform::GlobalKeyGrabber::firstGroupKeysym(event.nativeScanCode());
    if (keysym == 0)
        keysym = keysymForQtKey(event);
    if (keysym == 0)
        return std::nullopt;
    // The hot-key manager grabs each code as this keysym; the two must agree.
    for (const KeyName& key : keyNames)
        if (HotKeyManager::keysymForKeyCode(key.code) == keysym)
            return key.code;
    return std::nullopt;
}

bool HotkeyRecorderView::isModifierKey(const QKeyEvent& event)
{
    switch (event.key()) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Meta:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Mode_switch:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_CapsLock:
        return true;
    default:
        return false;
    }
}
