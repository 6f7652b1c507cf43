#include "screenshots/PreviewToolbarItems.h"

#include "platform/ImageAssets.h"
#include "platform/SystemColors.h"
#include "screenshots/ScreenshotToolbar.h"

#include <QAbstractButton>
#include <QAction>
#include <QShortcut>
#include <QToolButton>

const QString PreviewToolbarItems::bezelStyle = QStringLiteral(
    "QPushButton { color: white; background: rgba(255, 255, 255, 22); border: 1px solid rgba(255, 255, 255, 45);"
    " border-radius: 6px; padding: 0 6px; text-align: center; }"
    "QPushButton:hover { background: rgba(255, 255, 255, 34); }"
    "QPushButton:pressed { background: rgba(255, 255, 255, 14); }");

namespace {

const char* const kDropdownMenuProperty = "dropdownMenu";

QIcon iconOf(const std::optional<QImage>& image)
{
    return image ? QIcon(QPixmap::fromImage(*image)) : QIcon();
}

// The provider's image as its upload buttons show it: own server and WebDAV in their colour.
std::optional<QImage> buttonImage(UploadProvider provider)
{
    auto image = UploadProviders::getImage(provider, 14);
    if (image && (provider == UploadProvider::ssh || provider == UploadProvider::webdav))
        return ScreenshotToolbar::tinted(*image, UploadProviders::color(provider), 0.8);
    return image;
}

std::optional<QImage> menuImage(UploadProvider provider)
{
    auto image = UploadProviders::getImage(provider, 16);
    if (!image)
        return image;
    if (provider == UploadProvider::ssh)
        return ScreenshotToolbar::tinted(*image, platform::SystemColors::orange(), 1.0);
    if (provider == UploadProvider::webdav)
        return ScreenshotToolbar::tinted(*image, platform::SystemColors::gray(), 1.0);
    return image;
}

QString uploadToolTip(UploadProvider provider)
{
    return QStringLiteral("Загрузить в ") + UploadProviders::displayName(provider) + QStringLiteral(" (Ctrl+U)");
}

} // namespace

PreviewToolbarItems::PreviewToolbarItems(std::function<QPalette()> menuPalette, const QString& buttonStyle,
                                         Actions actions, QObject* parent)
    : QObject(parent)
    , m_menuPalette(std::move(menuPalette))
    , m_buttonStyle(buttonStyle)
    , m_actions(std::move(actions))
{
}

QPalette PreviewToolbarItems::darkPalette()
{
    QPalette palette;
    const QColor window(30, 30, 32);
    const QColor text(Qt::white);
    const QColor disabledText(255, 255, 255, 90);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, QColor(40, 40, 43));
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, QColor(58, 58, 62));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, text);
    palette.setColor(QPalette::Highlight, platform::SystemColors::accent());
    palette.setColor(QPalette::HighlightedText, text);
    palette.setColor(QPalette::ToolTipBase, QColor(50, 50, 54));
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::Light, QColor(80, 80, 84));
    palette.setColor(QPalette::Midlight, QColor(66, 66, 70));
    palette.setColor(QPalette::Mid, QColor(48, 48, 52));
    palette.setColor(QPalette::Dark, QColor(20, 20, 22));
    palette.setColor(QPalette::Shadow, Qt::black);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, disabledText);
    return palette;
}

std::optional<QImage> PreviewToolbarItems::symbol(const QString& name, const QColor& tint, double opacity)
{
    auto image = platform::ImageAssets::named(name, symbolSize);
    if (!image)
        return std::nullopt;
    return ScreenshotToolbar::tinted(*image, tint, opacity);
}

QToolButton* PreviewToolbarItems::iconItem(const QString& identifier, const QString& label, const QString& toolTip,
                                           const std::optional<QImage>& image)
{
    auto* button = new QToolButton;
    button->setObjectName(identifier);
    button->setText(label);
    button->setAccessibleName(label);
    button->setToolTip(toolTip);
    button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setIcon(iconOf(image));
    button->setIconSize(QSize(int(symbolSize), int(symbolSize)));
    button->setFixedSize(32, 28);
    return button;
}

QToolButton* PreviewToolbarItems::saveItem(const QString& toolTip)
{
    return iconItem(QStringLiteral("save"), QStringLiteral("Сохранить"), toolTip,
                    symbol(QStringLiteral("square.and.arrow.down"), platform::SystemColors::blue(), 0.7));
}

QToolButton* PreviewToolbarItems::doneItem(const QString& toolTip)
{
    return iconItem(QStringLiteral("done"), QStringLiteral("Готово"), toolTip,
                    symbol(QStringLiteral("checkmark.circle.fill"), platform::SystemColors::green(), 0.7));
}

void PreviewToolbarItems::installKeys(QWidget* window, const Keys& keys)
{
    auto bind = [window](const QKeySequence& sequence, const std::function<void()>& action) {
        if (!action)
            return;
        auto* shortcut = new QShortcut(sequence, window);
        shortcut->setContext(Qt::WindowShortcut);
        QObject::connect(shortcut, &QShortcut::activated, window, action);
    };
    bind(QKeySequence(Qt::CTRL | Qt::Key_S), keys.save);
    bind(QKeySequence(Qt::CTRL | Qt::Key_C), keys.copy);
    bind(QKeySequence(Qt::CTRL | Qt::Key_U), keys.upload);
    // The main keyboard's Return and the keypad's Enter.
    bind(QKeySequence(Qt::Key_Return), keys.done);
    bind(QKeySequence(Qt::Key_Enter), keys.done);
    bind(QKeySequence(Qt::Key_Escape), keys.close);
}

QList<UploadProvider> PreviewToolbarItems::configuredProviders(const ServerSettings& settings, bool signedIn,
                                                              const std::function<bool(UploadProvider)>& canUpload)
{
    QList<UploadProvider> providers;
    if (signedIn)
        providers.append(UploadProvider::kestrovaCloud);
    const auto offer = [&](bool configured, UploadProvider provider) {
        if (configured && (!canUpload || canUpload(provider)))
            providers.append(provider);
    };
    offer(!settings.ftpHost.isEmpty(), UploadProvider::ssh);
    offer(!settings.yandexAccessToken.isEmpty(), UploadProvider::yandexDisk);
    offer(!settings.dropboxAccessToken.isEmpty(), UploadProvider::dropbox);
    offer(!settings.googleDriveAccessToken.isEmpty(), UploadProvider::googleDrive);
    offer(!settings.webdavURL.isEmpty(), UploadProvider::webdav);
    return providers;
}

UploadProvider PreviewToolbarItems::activeProvider(const QList<UploadProvider>& providers, UploadProvider lastUsed)
{
    if (providers.contains(lastUsed) || providers.isEmpty())
        return lastUsed;
    return providers.first();
}

QWidget* PreviewToolbarItems::uploadItem(const QString& identifier, const QList<UploadProvider>& providers,
                                         UploadProvider lastUsed)
{
    m_providers = providers;
    if (providers.isEmpty()) {
        auto* item = iconItem(identifier, QStringLiteral("Загрузить"), QStringLiteral("Настройте провайдер загрузки в настройках"),
                              // Untinted symbols take the bar's text colour.
                              platform::ImageAssets::symbol(QStringLiteral("icloud.slash"), symbolSize, Qt::white));
        item->setEnabled(false);
        return item;
    }
    if (providers.size() == 1) {
        const UploadProvider provider = providers.first();
        QPushButton* button = makeUploadButton(provider);
        button->setObjectName(identifier);
        button->setMinimumSize(110, 28);
        button->setMaximumSize(120, 28);
        button->resize(110, 28);
        connect(button, &QPushButton::clicked, this, [this, provider] { m_actions.uploadWith(provider); });
        return button;
    }
    // 130 x 28, inside the item's 120 to 140 points.
    QWidget* split = createSplitUploadButton(providers, activeProvider(providers, lastUsed));
    split->setObjectName(identifier);
    return split;
}

QPushButton* PreviewToolbarItems::makeUploadButton(UploadProvider provider)
{
    auto* button = new QPushButton;
    styleUploadButton(button, provider);
    return button;
}

void PreviewToolbarItems::styleUploadButton(QPushButton* button, UploadProvider provider)
{
    QFont font = button->font();
    font.setPixelSize(12);
    font.setWeight(QFont::Medium);
    button->setFont(font);
    button->setText(QStringLiteral("Загрузить"));
    button->setAccessibleName(QStringLiteral("Загрузить"));
    button->setIcon(iconOf(buttonImage(provider)));
    button->setIconSize(QSize(14, 14));
    button->setToolTip(uploadToolTip(provider));
    button->setProperty("provider", UploadProviders::rawValue(provider));
    button->setFocusPolicy(Qt::NoFocus);
    button->setStyleSheet(m_buttonStyle);
}

QWidget* PreviewToolbarItems::createSplitUploadButton(const QList<UploadProvider>& providers, UploadProvider activeProvider)
{
    auto* container = new QWidget;
    container->setFixedSize(130, 28);

    QPushButton* main = makeUploadButton(activeProvider);
    main->setParent(container);
    main->setObjectName(QStringLiteral("uploadMain"));
    main->setGeometry(0, 0, 105, 28);
    connect(main, &QPushButton::clicked, this, [this] { m_actions.uploadWithActive(); });

    auto* arrow = new QPushButton(container);
    arrow->setObjectName(QStringLiteral("uploadArrow"));
    arrow->setGeometry(105, 0, 25, 28);
    arrow->setAccessibleName(QStringLiteral("Выбрать"));
    arrow->setToolTip(QStringLiteral("Выбрать хранилище"));
    arrow->setFocusPolicy(Qt::NoFocus);
    arrow->setStyleSheet(m_buttonStyle);
    if (auto chevron = platform::ImageAssets::symbol(QStringLiteral("chevron.down"), 9, Qt::white))
        arrow->setIcon(QIcon(QPixmap::fromImage(*chevron)));
    arrow->setIconSize(QSize(9, 9));
    connect(arrow, &QPushButton::clicked, this, [arrow] { showProviderMenu(arrow); });

    // Owned by the arrow button, whose menu it is.
    auto* menu = new QMenu(arrow);
    menu->setPalette(m_menuPalette());
    for (UploadProvider provider : providers) {
        QAction* action = menu->addAction(iconOf(menuImage(provider)), UploadProviders::displayName(provider));
        action->setCheckable(true);
        action->setChecked(provider == activeProvider);
        action->setData(UploadProviders::rawValue(provider));
        connect(action, &QAction::triggered, this, [this, provider] { m_actions.uploadWith(provider); });
    }
    arrow->setProperty(kDropdownMenuProperty, QVariant::fromValue<QObject*>(menu));

    m_splitMainButton = main;
    m_providerMenu = menu;
    return container;
}

void PreviewToolbarItems::followLastUsedProvider(UploadProvider lastUsed)
{
    // What the main part shows is where its click uploads to.
    if (!m_splitMainButton)
        return;
    const UploadProvider active = activeProvider(lastUsed);
    if (m_splitMainButton->property("provider").toString() != UploadProviders::rawValue(active))
        styleUploadButton(m_splitMainButton, active);
    if (m_providerMenu)
        for (QAction* action : m_providerMenu->actions())
            action->setChecked(action->data().toString() == UploadProviders::rawValue(active));
}

void PreviewToolbarItems::clear()
{
    m_providers.clear();
    m_splitMainButton = nullptr;
    m_providerMenu = nullptr;
}

void PreviewToolbarItems::showProviderMenu(QAbstractButton* sender)
{
    if (!sender)
        return;
    auto* menu = qobject_cast<QMenu*>(sender->property(kDropdownMenuProperty).value<QObject*>());
    if (!menu)
        return;
    menu->popup(sender->mapToGlobal(QPoint(0, sender->height() + 2)));
}
