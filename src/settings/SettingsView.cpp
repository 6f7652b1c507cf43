#include "settings/SettingsView.h"

#include "app/DarkPalette.h"
#include "app/Localization.h"
#include "cloud/LoginView.h"
#include "cloud/RegisterView.h" // LoginView.h needs the full type for its QPointer
#include "settings/AboutSectionView.h"
#include "settings/AccountSectionView.h"
#include "settings/HotkeysSectionView.h"
#include "settings/MessageBoxSettingsAlertPresenter.h"
#include "settings/SettingsStyle.h"
#include "settings/SettingsViewModel.h"
#include "settings/UploadSectionView.h"
#include "settings/YandexSignInSheet.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>

namespace {

constexpr int sidebarWidth = 180;
constexpr int contentPadding = 16;
// The sections' own stacks sit inside the content area with the standard insets.
constexpr int sectionInset = 4;

} // namespace

SettingsView::SettingsView(AppState& appState, QWidget* parent, AuthManager* authManager)
    : QWidget(parent)
    , m_model(new SettingsViewModel(appState, authManager, this))
    , m_alertPresenter(std::make_unique<MessageBoxSettingsAlertPresenter>())
{
    setObjectName(QStringLiteral("SettingsView"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(makeSidebar());

    m_contentArea = new QScrollArea(this);
    m_contentArea->setObjectName(QStringLiteral("settingsContent"));
    m_contentArea->setFrameShape(QFrame::NoFrame);
    m_contentArea->setWidgetResizable(true);
    m_contentArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_contentArea->viewport()->setAutoFillBackground(false);
    layout->addWidget(m_contentArea, 1);

    connect(m_model, &SettingsViewModel::selectedSectionChanged, this, [this] {
        updateSidebar();
        showSelectedSection();
    });
    connect(m_model, &SettingsViewModel::showingTestResultChanged, this, &SettingsView::presentTestResult);
    connect(m_model, &SettingsViewModel::showYandexOAuthSheetChanged, this, &SettingsView::updateYandexSheet);
    connect(m_model, &SettingsViewModel::saveFailed, this, &SettingsView::presentSaveFailure);
    updateSidebar();
    showSelectedSection();
}

SettingsView::~SettingsView()
{
    // A login window left open belongs to this view; it goes with it.
    delete m_loginWindow.data();
}

void SettingsView::setAlertPresenter(std::unique_ptr<SettingsAlertPresenter> presenter)
{
    m_alertPresenter = std::move(presenter);
}

YandexSignInSheet* SettingsView::yandexSheet() const
{
    return m_yandexSheet;
}

void SettingsView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Only the first showing loads the settings: a window shown again after a capture hid it, or
    // coming back from being minimised, keeps its unsaved edits. Each opening from the menu after
    // a close builds a new view, which loads afresh.
    m_closing = false;
    if (event->spontaneous() || m_appeared)
        return;
    m_appeared = true;
    window()->installEventFilter(this);
    if (QWindow* handle = window()->windowHandle())
        handle->installEventFilter(this);
    m_showing = true;
    m_model->appear();
    m_showing = false;
}

bool SettingsView::eventFilter(QObject* watched, QEvent* event)
{
    // Seen before the window's controller saves what it holds at the close.
    if (watched == window() && event->type() == QEvent::Close)
        m_closing = true;
    // The window is on the screen, in front: an alert of its first showing goes above it now.
    if (watched == window()->windowHandle() && event->type() == QEvent::Expose && m_pendingSaveAlert
        && window()->windowHandle()->isExposed()) {
        const SettingsAlertPresenter::Alert alert = *std::exchange(m_pendingSaveAlert, std::nullopt);
        QTimer::singleShot(0, this, [this, alert] {
            m_alertPresenter->present(window(), alert, [open = m_saveAlertOpen] { *open = false; });
        });
    }
    return QWidget::eventFilter(watched, event);
}

void SettingsView::presentSaveFailure(const QString& message)
{
    // One alert at a time: saves that fail while it is open (a provider change saves twice) add none.
    if (*m_saveAlertOpen || !m_alertPresenter)
        return;
    *m_saveAlertOpen = true;
    const SettingsAlertPresenter::Alert alert{L::text(QStringLiteral("Настройки не сохранены"), QStringLiteral("Settings not saved")),
                                              message, QStringLiteral("OK")};
    const auto dismissed = [open = m_saveAlertOpen] { *open = false; };
    if (m_showing) {
        // The save of the first showing comes before the window is mapped and raised, which
        // would cover an alert opened now: it waits until the window is on the screen.
        m_pendingSaveAlert = alert;
        return;
    }
    if (m_closing) {
        // The window is going, and the view with it: the alert stands on its own, once the close
        // is over.
        QTimer::singleShot(0, qApp, [presenter = m_alertPresenter, alert, dismissed] { presenter->present(nullptr, alert, dismissed); });
        return;
    }
    m_alertPresenter->present(window(), alert, dismissed);
}

QWidget* SettingsView::makeSidebar()
{
    auto* sidebar = new QWidget(this);
    sidebar->setObjectName(QStringLiteral("settingsSidebar"));
    auto* outer = new QHBoxLayout(sidebar);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    auto* rows = new QVBoxLayout;
    rows->setContentsMargins(12, 12, 12, 12);
    rows->setSpacing(6);
    for (SettingsSection section : SettingsSections::allCases()) {
        auto* row = new QPushButton(sidebar);
        row->setObjectName(QStringLiteral("section_") + SettingsSections::rawValue(section));
        row->setFlat(true);
        row->setCursor(Qt::PointingHandCursor);
        row->setFocusPolicy(Qt::NoFocus);
        row->setMinimumHeight(34);
        auto* content = new QHBoxLayout(row);
        content->setContentsMargins(10, 8, 10, 8);
        content->setSpacing(8);
        auto* icon = SettingsStyle::symbolLabel(SettingsSections::iconName(section), 15, SettingsStyle::primaryColor(), row);
        icon->setFixedWidth(18);
        content->addWidget(icon);
        QFont font = SettingsStyle::sized(13, QFont::DemiBold);
        auto* title = SettingsStyle::label(SettingsSections::title(section), font, SettingsStyle::primaryColor(), row);
        content->addWidget(title);
        content->addStretch(1);
        connect(row, &QPushButton::clicked, this, [this, section] { m_model->selectSection(section); });
        m_sidebarRows.insert(section, row);
        rows->addWidget(row);
    }
    rows->addStretch(1);
    outer->addLayout(rows, 1);
    // 180 points, or wider where the desktop's font needs more room for the longest title.
    int widest = 0;
    for (QPushButton* row : std::as_const(m_sidebarRows))
        widest = std::max(widest, row->layout()->sizeHint().width());
    sidebar->setFixedWidth(std::max(sidebarWidth, widest + 12 + 12 + 1));

    auto* edge = new QWidget(sidebar);
    edge->setFixedWidth(1);
    edge->setStyleSheet(QStringLiteral("background: rgba(255, 255, 255, 26);"));
    outer->addWidget(edge);
    return sidebar;
}

void SettingsView::updateSidebar()
{
    QColor selected = SettingsStyle::accentColor();
    selected.setAlphaF(0.15);
    for (auto it = m_sidebarRows.cbegin(); it != m_sidebarRows.cend(); ++it) {
        const bool isSelected = it.key() == m_model->selectedSection();
        it.value()->setStyleSheet(QStringLiteral("QPushButton { background: %1; border: none; border-radius: 8px; }")
                                      .arg(isSelected ? SettingsStyle::css(selected) : QStringLiteral("transparent")));
        it.value()->setProperty("selected", isSelected);
    }
}

void SettingsView::showSelectedSection()
{
    QWidget* section = nullptr;
    switch (m_model->selectedSection()) {
    case SettingsSection::account:
        section = accountSettingsView();
        break;
    case SettingsSection::upload:
        section = serverSettingsView();
        break;
    case SettingsSection::hotkeys:
        section = hotkeysSettingsView();
        break;
    case SettingsSection::about:
        section = aboutView();
        break;
    }
    auto* container = new QWidget;
    container->setObjectName(QStringLiteral("sectionContainer"));
    auto* layout = new QVBoxLayout(container);
    layout->setContentsMargins(contentPadding + sectionInset, contentPadding + sectionInset,
                               contentPadding + sectionInset, contentPadding + sectionInset);
    layout->setSpacing(0);
    layout->addWidget(section, 1);
    // The old content goes with its container; a recorder still listening restores the hot keys.
    QWidget* old = m_contentArea->takeWidget();
    m_contentArea->setWidget(container);
    m_section = section;
    if (old) {
        old->hide();
        old->deleteLater();
    }
}

QWidget* SettingsView::accountSettingsView()
{
    return new AccountSectionView(m_model, [this] { showLoginWindow(); });
}

QWidget* SettingsView::serverSettingsView()
{
    return new UploadSectionView(m_model);
}

QWidget* SettingsView::hotkeysSettingsView()
{
    return new HotkeysSectionView(m_model);
}

QWidget* SettingsView::aboutView()
{
    return new AboutSectionView(m_model);
}

void SettingsView::presentTestResult()
{
    if (!m_model->showingTestResult() || !m_alertPresenter)
        return;
    const QPointer<SettingsViewModel> model(m_model);
    m_alertPresenter->present(window(),
                              {QStringLiteral("Результат тестирования"), m_model->testResult().value_or(QString()),
                               QStringLiteral("OK")},
                              [model] {
                                  if (model)
                                      model->dismissTestResult();
                              });
}

void SettingsView::updateYandexSheet()
{
    if (m_model->showYandexOAuthSheet()) {
        if (m_yandexSheet)
            return;
        const QPointer<SettingsViewModel> model(m_model);
        auto* sheet = new YandexSignInSheet(
            [model](const QString& token) {
                if (model)
                    model->handleYandexToken(token);
            },
            [model] {
                if (model)
                    model->setShowYandexOAuthSheet(false);
            },
            this);
        // Escape or the window's own close button end the sheet as well.
        connect(sheet, &QDialog::finished, this, [model] {
            if (model)
                model->setShowYandexOAuthSheet(false);
        });
        m_yandexSheet = sheet;
        sheet->open();
        return;
    }
    if (YandexSignInSheet* sheet = m_yandexSheet) {
        m_yandexSheet = nullptr;
        sheet->disconnect(this);
        sheet->hide();
        sheet->deleteLater();
    }
}

void SettingsView::showLoginWindow()
{
    if (m_loginWindow) {
        if (m_loginWindow->isVisible())
            m_loginWindow->close();
        m_loginWindow->deleteLater();
    }
    m_loginWindow = nullptr;

    auto* window = new QWidget(this, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    window->setObjectName(QStringLiteral("loginWindow"));
    window->setAttribute(Qt::WA_QuitOnClose, false);
    window->setWindowTitle(QStringLiteral("Kestrova Cloud Login"));
    window->setFixedSize(400, 500);
    // Always dark, like the settings window it comes from.
    DarkPalette::apply(window);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);

    // Both callbacks close the window on the next turn, when it still exists.
    const QPointer<QWidget> weak(window);
    auto closeLater = [weak] {
        if (weak)
            QTimer::singleShot(0, weak.data(), [weak] {
                if (weak)
                    weak->close();
            });
    };
    layout->addWidget(new LoginView(closeLater, closeLater, m_model->authManager(), window));

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        window->move(available.center() - QPoint(window->width() / 2, window->height() / 2));
    }
    window->show();
    window->raise();
    window->activateWindow();
    m_loginWindow = window;
}
