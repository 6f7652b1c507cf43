#include "settings/AccountSectionView.h"

#include "cloud/AuthManager.h"
#include "platform/SystemColors.h"
#include "settings/AccountSummary.h"
#include "settings/SettingsStyle.h"
#include "settings/SettingsViewModel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

void addDivider(QVBoxLayout* layout, QWidget* parent)
{
    layout->addSpacing(12);
    layout->addWidget(SettingsStyle::divider(parent));
    layout->addSpacing(12);
}

// A label, a flexible space and a value.
QHBoxLayout* factRow(QLabel* label, QLabel* value)
{
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(label);
    row->addStretch(1);
    row->addWidget(value);
    return row;
}

} // namespace

AccountSectionView::AccountSectionView(SettingsViewModel* model, std::function<void()> showLoginWindow, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_showLoginWindow(std::move(showLoginWindow))
    , m_layout(new QVBoxLayout(this))
{
    setObjectName(QStringLiteral("AccountSectionView"));
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);
    AuthManager* manager = m_model->authManager();
    connect(manager, &AuthManager::isAuthenticatedChanged, this, &AccountSectionView::rebuild);
    connect(manager, &AuthManager::currentUserChanged, this, &AccountSectionView::rebuild);
    connect(manager, &AuthManager::storageUsageChanged, this, &AccountSectionView::rebuild);
    rebuild();
}

void AccountSectionView::rebuild()
{
    // Deleted later, not now: the change may come from a click on a button of the old face.
    if (m_face) {
        m_face->hide();
        m_layout->removeWidget(m_face);
        m_face->setParent(nullptr);
        m_face->deleteLater();
    }
    m_signedInFace = m_model->authManager()->isAuthenticated();
    m_face = m_signedInFace ? makeSignedInFace() : makeSignedOutFace();
    m_layout->addWidget(m_face, 1);
}

QWidget* AccountSectionView::makeSignedOutFace()
{
    auto* face = new QWidget(this);
    face->setObjectName(QStringLiteral("signedOutFace"));
    auto* layout = new QVBoxLayout(face);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(16);

    layout->addWidget(SettingsStyle::label(QStringLiteral("Войдите в Kestrova Cloud"), SettingsStyle::headlineFont(),
                                           SettingsStyle::primaryColor(), face));

    auto* signIn = new QPushButton(QStringLiteral("Войти"), face);
    signIn->setObjectName(QStringLiteral("signInButton"));
    signIn->setIcon(QIcon(SettingsStyle::symbol(QStringLiteral("person.circle.fill"), 16, Qt::white)));
    signIn->setCursor(Qt::PointingHandCursor);
    signIn->setMinimumHeight(32);
    signIn->setStyleSheet(QStringLiteral("QPushButton { background: %1; color: white; border-radius: 6px; }")
                              .arg(SettingsStyle::css(SettingsStyle::accentColor())));
    layout->addWidget(signIn);
    layout->addWidget(SettingsStyle::divider(face));

    auto* signUp = new QHBoxLayout;
    signUp->setSpacing(4);
    signUp->addWidget(SettingsStyle::label(QStringLiteral("Нет аккаунта?"), SettingsStyle::captionFont(),
                                           SettingsStyle::secondaryColor(), face));
    auto* registerLink = new QPushButton(QStringLiteral("Зарегистрироваться"), face);
    registerLink->setObjectName(QStringLiteral("registerLink"));
    registerLink->setFlat(true);
    registerLink->setFont(SettingsStyle::captionFont());
    registerLink->setCursor(Qt::PointingHandCursor);
    registerLink->setStyleSheet(QStringLiteral("QPushButton { color: %1; border: none; padding: 0; }")
                                    .arg(SettingsStyle::css(SettingsStyle::accentColor())));
    signUp->addWidget(registerLink);
    signUp->addStretch(1);
    layout->addLayout(signUp);
    layout->addStretch(1);

    connect(signIn, &QPushButton::clicked, this, [this] {
        if (m_showLoginWindow)
            m_showLoginWindow();
    });
    connect(registerLink, &QPushButton::clicked, m_model, &SettingsViewModel::openRegisterPage);
    return face;
}

QWidget* AccountSectionView::makeSignedInFace()
{
    const AuthManager* manager = m_model->authManager();
    const std::optional<User>& user = manager->currentUser();
    const std::optional<StorageUsage>& storage = manager->storageUsage();

    auto* face = new QWidget(this);
    face->setObjectName(QStringLiteral("signedInFace"));
    auto* layout = new QVBoxLayout(face);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    if (user) {
        auto* userRow = new QHBoxLayout;
        userRow->setSpacing(12);
        userRow->addWidget(SettingsStyle::symbolLabel(QStringLiteral("person.circle.fill"), 32,
                                                      SettingsStyle::primaryColor(), face));
        auto* names = new QVBoxLayout;
        names->setSpacing(2);
        auto* name = SettingsStyle::label(user->name, SettingsStyle::headlineFont(), SettingsStyle::primaryColor(), face);
        name->setObjectName(QStringLiteral("userName"));
        names->addWidget(name);
        auto* email = SettingsStyle::label(user->email, SettingsStyle::subheadlineFont(), SettingsStyle::secondaryColor(), face);
        email->setObjectName(QStringLiteral("userEmail"));
        names->addWidget(email);
        userRow->addLayout(names);
        userRow->addStretch(1);
        layout->addLayout(userRow);
        layout->addSpacing(16);
        addDivider(layout, face);
    }

    if (storage) {
        auto* block = new QWidget(face);
        block->setObjectName(QStringLiteral("storageBlock"));
        auto* rows = new QVBoxLayout(block);
        rows->setContentsMargins(0, 0, 0, 0);
        rows->setSpacing(8);
        auto* info = SettingsStyle::label(manager->storageInfo(), SettingsStyle::captionFont(),
                                          SettingsStyle::secondaryColor(), block);
        info->setObjectName(QStringLiteral("storageInfo"));
        rows->addLayout(factRow(SettingsStyle::label(QStringLiteral("Хранилище"), SettingsStyle::bodyFont(),
                                                     SettingsStyle::primaryColor(), block),
                                info));

        const double percentage = AccountSummary::storagePercentage(*storage);
        const bool nearlyFull = AccountSummary::isStorageNearlyFull(*storage);
        auto* barRow = new QHBoxLayout;
        barRow->setSpacing(8);
        auto* bar = new QProgressBar(block);
        bar->setObjectName(QStringLiteral("storageBar"));
        bar->setRange(0, 100);
        bar->setValue(static_cast<int>(std::clamp(percentage, 0.0, 100.0)));
        bar->setTextVisible(false);
        bar->setFixedHeight(6);
        bar->setProperty("tint", nearlyFull ? QStringLiteral("orange") : QStringLiteral("accent"));
        bar->setStyleSheet(QStringLiteral("QProgressBar { background: rgba(255, 255, 255, 30); border: none; border-radius: 3px; }"
                                          "QProgressBar::chunk { background: %1; border-radius: 3px; }")
                               .arg(SettingsStyle::css(nearlyFull ? platform::SystemColors::orange()
                                                                  : SettingsStyle::accentColor())));
        barRow->addWidget(bar, 1);
        auto* percent = SettingsStyle::label(AccountSummary::percentageText(*storage), SettingsStyle::captionFont(),
                                             SettingsStyle::secondaryColor(), block);
        percent->setObjectName(QStringLiteral("storagePercent"));
        percent->setFixedWidth(35);
        percent->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        barRow->addWidget(percent);
        rows->addLayout(barRow);

        if (nearlyFull) {
            auto* warning = SettingsStyle::label(QStringLiteral("Хранилище почти заполнено"), SettingsStyle::captionFont(),
                                                 platform::SystemColors::orange(), block);
            warning->setObjectName(QStringLiteral("storageWarning"));
            rows->addWidget(warning);
        }
        layout->addWidget(block);
        addDivider(layout, face);
    }

    if (user && user->plan) {
        auto* block = new QWidget(face);
        block->setObjectName(QStringLiteral("limitsBlock"));
        auto* rows = new QVBoxLayout(block);
        rows->setContentsMargins(0, 0, 0, 0);
        rows->setSpacing(8);
        QFont semibold = SettingsStyle::bodyFont();
        semibold.setWeight(QFont::DemiBold);
        auto* limit = SettingsStyle::label(AccountSummary::uploadLimitText(user->plan->uploadLimitMb), semibold,
                                           SettingsStyle::primaryColor(), block);
        limit->setObjectName(QStringLiteral("uploadLimit"));
        rows->addLayout(factRow(SettingsStyle::label(QStringLiteral("Макс. размер файла:"), SettingsStyle::bodyFont(),
                                                     SettingsStyle::secondaryColor(), block),
                                limit));
        if (user->usage && user->usage->uploadsThisMonth) {
            auto* uploads = SettingsStyle::label(QString::number(*user->usage->uploadsThisMonth), SettingsStyle::bodyFont(),
                                                 SettingsStyle::primaryColor(), block);
            uploads->setObjectName(QStringLiteral("uploadsThisMonth"));
            rows->addLayout(factRow(SettingsStyle::label(QStringLiteral("Загружено в этом месяце:"),
                                                         SettingsStyle::bodyFont(), SettingsStyle::secondaryColor(), block),
                                    uploads));
        }
        layout->addWidget(block);
        addDivider(layout, face);
    }

    layout->addStretch(1);
    auto* signOut = new QPushButton(QStringLiteral("Выйти из аккаунта"), face);
    signOut->setObjectName(QStringLiteral("signOutButton"));
    signOut->setFlat(true);
    signOut->setCursor(Qt::PointingHandCursor);
    signOut->setIcon(QIcon(SettingsStyle::symbol(QStringLiteral("rectangle.portrait.and.arrow.right"), 14,
                                                 platform::SystemColors::red())));
    signOut->setStyleSheet(QStringLiteral("QPushButton { color: %1; border: none; text-align: left; }")
                               .arg(SettingsStyle::css(platform::SystemColors::red())));
    layout->addWidget(signOut, 0, Qt::AlignLeft);
    connect(signOut, &QPushButton::clicked, m_model, &SettingsViewModel::signOut);
    return face;
}
