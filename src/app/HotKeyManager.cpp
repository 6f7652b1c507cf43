#include "app/HotKeyManager.h"

#include "platform/Console.h"
#include "platform/GlobalKeyGrabber.h"
#include "platform/NotificationCenter.h"

#include <QKeySequence>
#include <QStringList>


namespace {

struct KeyName {
    const char* name;
    quint32 code;   // the key code of the string format
    quint32 keysym; // what the key produces on X
};

// Letters and digits are their own keysyms (lower-case Latin-1).
constexpr KeyName keyTable[] = {
    {"a", 0, 'a'},  {"b", 11, 'b'}, {"c", 8, 'c'},  {"d", 2, 'd'},  {"e", 14, 'e'}, {"f", 3, 'f'},
    {"g", 5, 'g'},  {"h", 4, 'h'},  {"i", 34, 'i'}, {"j", 38, 'j'}, {"k", 40, 'k'}, {"l", 37, 'l'},
    {"m", 46, 'm'}, {"n", 45, 'n'}, {"o", 31, 'o'}, {"p", 35, 'p'}, {"q", 12, 'q'}, {"r", 15, 'r'},
    {"s", 1, 's'},  {"t", 17, 't'}, {"u", 32, 'u'}, {"v", 9, 'v'},  {"w", 13, 'w'}, {"x", 7, 'x'},
    {"y", 16, 'y'}, {"z", 6, 'z'},
    {"0", 29, '0'}, {"1", 18, '1'}, {"2", 19, '2'}, {"3", 20, '3'}, {"4", 21, '4'}, {"5", 23, '5'},
    {"6", 22, '6'}, {"7", 26, '7'}, {"8", 28, '8'}, {"9", 25, '9'},
    {"space", 49, 0x0020},
    {"enter", 36, 0xff0d}, {"return", 36, 0xff0d},
    {"tab", 48, 0xff09},
    {"escape", 53, 0xff1b}, {"esc", 53, 0xff1b},
    {"f1", 122, 0xffbe}, {"f2", 120, 0xffbf}, {"f3", 99, 0xffc0},  {"f4", 118, 0xffc1},
    {"f5", 96, 0xffc2},  {"f6", 97, 0xffc3},  {"f7", 98, 0xffc4},  {"f8", 100, 0xffc5},
    {"f9", 101, 0xffc6}, {"f10", 109, 0xffc7}, {"f11", 103, 0xffc8}, {"f12", 111, 0xffc9},
};

std::optional<quint32> modifierMask(const QString& name)
{
    if (name == QLatin1String("cmd") || name == QLatin1String("command"))
        return HotKeyManager::cmdKey;
    if (name == QLatin1String("shift"))
        return HotKeyManager::shiftKey;
    if (name == QLatin1String("alt") || name == QLatin1String("option"))
        return HotKeyManager::optionKey;
    if (name == QLatin1String("ctrl") || name == QLatin1String("control"))
        return HotKeyManager::controlKey;
    return std::nullopt;
}

QString trimmedOfBlanks(const QString& part)
{
    qsizetype begin = 0;
    qsizetype end = part.size();
    auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    while (begin < end && blank(part[begin]))
        ++begin;
    while (end > begin && blank(part[end - 1]))
        --end;
    return part.mid(begin, end - begin);
}

// A key name of the string format as Linux desktops print it; names outside the format's table are
// looked up in Qt's own key names ("left" is "Left", "pageup" is "PgUp").
QString keyDisplayName(const QString& name)
{
    static const std::pair<const char*, const char*> named[] = {
        {"space", "Space"}, {"enter", "Return"}, {"return", "Return"}, {"tab", "Tab"},
        {"esc", "Esc"},     {"escape", "Esc"},
    };
    for (const auto& [key, shown] : named)
        if (name == QLatin1String(key))
            return QString::fromLatin1(shown);
    if (name.size() == 1)
        return name.toUpper();
    const QKeySequence sequence = QKeySequence::fromString(name, QKeySequence::PortableText);
    if (sequence.count() == 1 && sequence[0].keyboardModifiers() == Qt::NoModifier
        && sequence[0].key() != Qt::Key_unknown)
        return sequence.toString(QKeySequence::PortableText);
    return name.toUpper();
}

} // namespace

HotKeyManager& HotKeyManager::shared()
{
    static HotKeyManager* instance = new HotKeyManager; // lives until the process ends
    return *instance;
}

HotKeyManager::HotKeyManager() = default;

std::optional<quint32> HotKeyManager::keyCodeForString(const QString& name)
{
    for (const KeyName& key : keyTable)
        if (name == QLatin1String(key.name))
            return key.code;
    return std::nullopt;
}

quint32 HotKeyManager::keysymForKeyCode(quint32 keyCode)
{
    for (const KeyName& key : keyTable)
        if (key.code == keyCode)
            return key.keysym;
    return 0;
}

quint16 HotKeyManager::x11Modifiers(quint32 modifiers)
{
    using G = platform::GlobalKeyGrabber;
    quint16 bits = 0;
    if (modifiers & cmdKey)
        bits |= G::mod4Mask;
    if (modifiers & controlKey)
        bits |= G::controlMask;
    if (modifiers & optionKey)
        bits |= G::mod1Mask;
    if (modifiers & shiftKey)
        bits |= G::shiftMask;
    return bits;
}

std::optional<std::pair<quint32, quint32>> HotKeyManager::parseHotkeyString(const QString& string)
{
    quint32 modifiers = 0;
    QString keyName;
    const QStringList parts = string.toLower().split(QLatin1Char('+'));
    for (const QString& raw : parts) {
        const QString part = trimmedOfBlanks(raw);
        if (auto mask = modifierMask(part))
            modifiers |= *mask;
        else
            keyName = part;
    }
    const auto code = keyCodeForString(keyName);
    if (!code)
        return std::nullopt;
    return std::make_pair(*code, modifiers);
}

QString HotKeyManager::displayText(const QString& hotkey)
{
    // Read as parseHotkeyString() reads it: the last key is the one that counts.
    quint32 modifiers = 0;
    QString key;
    for (const QString& raw : hotkey.toLower().split(QLatin1Char('+'))) {
        const QString part = trimmedOfBlanks(raw);
        if (part.isEmpty())
            continue;
        if (auto mask = modifierMask(part))
            modifiers |= *mask;
        else
            key = keyDisplayName(part);
    }
    QStringList shown;
    if (modifiers & cmdKey)
        shown.append(QStringLiteral("Super"));
    if (modifiers & controlKey)
        shown.append(QStringLiteral("Ctrl"));
    if (modifiers & optionKey)
        shown.append(QStringLiteral("Alt"));
    if (modifiers & shiftKey)
        shown.append(QStringLiteral("Shift"));
    if (!key.isEmpty())
        shown.append(key);
    return shown.join(QLatin1Char('+'));
}

bool HotKeyManager::isEventHandlerInstalled() const
{
    return m_eventHandler && m_eventHandler->isInstalled();
}

QList<quint32> HotKeyManager::registeredIDs() const
{
    QList<quint32> ids;
    for (const HotKeyRef& ref : m_hotKeyRefs)
        ids.append(ref.id);
    return ids;
}

QString HotKeyManager::typeForID(quint32 id) const
{
    for (const HotKeyRef& ref : m_hotKeyRefs)
        if (ref.id == id)
            return ref.type;
    return QString();
}

void HotKeyManager::temporarilyDisable()
{
    if (m_isTemporarilyDisabled)
        return;
    m_isTemporarilyDisabled = true;
    unregisterAllHotKeys();
    platform::Console::printLine(QStringLiteral("HotKeyManager: Temporarily disabled all hotkeys"));
}

void HotKeyManager::restore()
{
    if (!m_isTemporarilyDisabled)
        return;
    m_isTemporarilyDisabled = false;
    if (!m_currentHotkeys.isEmpty())
        updateHotkeys(m_currentHotkeys.value(QStringLiteral("area")), m_currentHotkeys.value(QStringLiteral("fullScreen")),
                      m_currentHotkeys.value(QStringLiteral("screenRecording")));
    platform::Console::printLine(QStringLiteral("HotKeyManager: Restored all hotkeys"));
}

void HotKeyManager::updateHotkeys(const QString& area, const QString& fullScreen, const QString& screenRecording)
{
    unregisterAllHotKeys();
    // Registering now would let a press of an old combination start a capture while the settings
    // window is recording a new one; restore() registers these.
    if (!m_isTemporarilyDisabled) {
        setupEventHandler();
        if (!area.isEmpty())
            registerHotkey(area, QStringLiteral("area"), areaHotKeyID);
        if (!fullScreen.isEmpty())
            registerHotkey(fullScreen, QStringLiteral("fullScreen"), fullScreenHotKeyID);
        if (!screenRecording.isEmpty())
            registerHotkey(screenRecording, QStringLiteral("screenRecording"), screenRecordingHotKeyID);
    }
    m_currentHotkeys = {
        {QStringLiteral("area"), area},
        {QStringLiteral("fullScreen"), fullScreen},
        {QStringLiteral("screenRecording"), screenRecording},
    };
}

void HotKeyManager::setupEventHandler()
{
    if (!m_eventHandler) {
        m_eventHandler = new platform::GlobalKeyGrabber(this);
        connect(m_eventHandler, &platform::GlobalKeyGrabber::pressed, this, &HotKeyManager::handleHotKeyEvent);
        connect(m_eventHandler, &platform::GlobalKeyGrabber::regrabFailed, this, [this](quint32 id, int status) {
            platform::Console::printLine(QStringLiteral("Failed to register ") + typeForID(id)
                                         + QStringLiteral(" hotkey: ") + QString::number(status));
            m_hotKeyRefs.removeIf([id](const HotKeyRef& ref) { return ref.id == id; });
        });
    }
    m_eventHandler->install();
}

void HotKeyManager::registerHotkey(const QString& string, const QString& type, HotKeyID id)
{
    const auto parsed = parseHotkeyString(string);
    if (!parsed) {
        platform::Console::printLine(QStringLiteral("Invalid hotkey string for ") + type + QStringLiteral(": ") + string);
        return;
    }
    const auto [keyCode, modifiers] = *parsed;
    auto fail = [&](int status) {
        platform::Console::printLine(QStringLiteral("Failed to register ") + type + QStringLiteral(" hotkey: ")
                                     + QString::number(status));
    };
    // X lets one client grab a combination twice, so a second command would silently take over
    // the first one's keys; refuse it as the server refuses another client's grab.
    for (const HotKeyRef& ref : std::as_const(m_hotKeyRefs)) {
        if (ref.keyCode == keyCode && ref.modifiers == modifiers) {
            fail(platform::GlobalKeyGrabber::badAccess);
            return;
        }
    }
    const int status = m_eventHandler->grab(id.id, keysymForKeyCode(keyCode), x11Modifiers(modifiers));
    if (status != platform::GlobalKeyGrabber::success) {
        if (status == platform::GlobalKeyGrabber::noX11Connection) {
            static bool explained = false;
            if (!explained) {
                explained = true;
                platform::Console::printLine(QStringLiteral("HotKeyManager: Global hot keys need an X11 session"));
            }
        }
        fail(status);
        return;
    }
    platform::Console::printLine(QStringLiteral("Successfully registered ") + type + QStringLiteral(" hotkey: ") + string);
    m_hotKeyRefs.append(HotKeyRef{id.id, keyCode, modifiers, type});
}

void HotKeyManager::unregisterAllHotKeys()
{
    if (m_eventHandler) {
        for (const HotKeyRef& ref : std::as_const(m_hotKeyRefs))
            m_eventHandler->ungrab(ref.id);
        m_eventHandler->ungrabAll();
        m_eventHandler->remove();
    }
    m_hotKeyRefs.clear();
}

void HotKeyManager::handleHotKeyEvent(quint32 id)
{
    auto& center = platform::NotificationCenter::defaultCenter();
    switch (id) {
    case 1:
        center.post(NotificationName::captureScreenHotKey);
        break;
    case 2:
        center.post(NotificationName::captureFullScreenHotKey);
        break;
    case 4:
        center.post(NotificationName::startScreenRecordingHotKey);
        break;
    default:
        platform::Console::printLine(QStringLiteral("Unknown hotkey ID: ") + QString::number(id));
        break;
    }
}
