#include "shell/PermissionRequestView.h"

#include "app/Localization.h"
#include "app/PermissionsManager.h"
#include "platform/ImageAssets.h"
#include "platform/SystemColors.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QColor kPrimaryText(255, 255, 255, 235);
const QColor kSecondaryText(235, 235, 245, 153);
// The gaps between the blocks never shrink below this to keep the window at its size.
constexpr int kMinimumSpacing = 8;

QString rgba(const QColor& color)
{
    return QStringLiteral("rgba(%1, %2, %3, %4)").arg(color.red()).arg(color.green()).arg(color.blue()).arg(color.alpha());
}

QFont textFont(int pixelSize, QFont::Weight weight = QFont::Normal)
{
    QFont f;
    f.setPixelSize(pixelSize);
    f.setWeight(weight);
    return f;
}

QLabel* symbolLabel(const QString& name, double points, const QColor& tint, QWidget* parent)
{
    auto* label = new QLabel(parent);
    if (auto image = platform::ImageAssets::symbol(name, points, tint))
        label->setPixmap(QPixmap::fromImage(*image));
    label->setFixedSize(static_cast<int>(points), static_cast<int>(points));
    label->setAlignment(Qt::AlignCenter);
    return label;
}

} // namespace

PermissionRequestView::PermissionRequestView(PermissionsManager& permissionsManager, std::function<void()> onRequestPermission,
                                             std::function<void()> onSkip, platform::ScreenAccess::Obstacle obstacle,
                                             QWidget* parent)
    : QWidget(parent)
    , m_permissionsManager(&permissionsManager)
    , m_sessionForbids(obstacle == platform::ScreenAccess::Obstacle::waylandSession)
    , m_onRequestPermission(std::move(onRequestPermission))
    , m_onSkip(std::move(onSkip))
{
    setFixedWidth(defaultWidth);
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 20, 0, 24);
    stack->setSpacing(24);

    stack->addWidget(symbolLabel(QStringLiteral("rectangle.dashed.badge.record"), 64, platform::SystemColors::accent(), this),
                     0, Qt::AlignHCenter);

    auto* heading = new QLabel(L::text(QStringLiteral("Разрешение на запись экрана"), QStringLiteral("Screen Recording Permission")), this);
    heading->setObjectName(QStringLiteral("heading"));
    heading->setFont(textFont(22, QFont::DemiBold));
    heading->setStyleSheet(QStringLiteral("color: %1;").arg(rgba(kPrimaryText)));
    heading->setAlignment(Qt::AlignCenter);
    stack->addWidget(heading);

    const QString grantable
        = L::text(QStringLiteral("Kestrova требуется разрешение на запись экрана для создания скриншотов и записи видео."),
                  QStringLiteral("Kestrova needs Screen Recording permission to capture screenshots and record video."))
        + QStringLiteral("\n\n")
        + L::text(QStringLiteral("Нажмите кнопку ниже, чтобы открыть Системные настройки и добавить Kestrova в список разрешённых приложений."),
                  QStringLiteral("Click the button below to open System Settings and add Kestrova to the allowed applications."));
    // Under Wayland no setting lets an X client read the screen: the way out is an X11 session.
    const QString forbidden
        = L::text(QStringLiteral("Kestrova не может снимать экран в этом сеансе: в сеансе Wayland программы X11 не видят экран."),
                  QStringLiteral("Kestrova cannot capture the screen in this session: in a Wayland session X11 programs cannot see the screen."))
        + QStringLiteral("\n\n")
        + L::text(QStringLiteral("Для скриншотов и записи видео выберите сеанс X11 (Xorg) на экране входа и запустите Kestrova снова."),
                  QStringLiteral("For screenshots and video recording, choose an X11 (Xorg) session on the login screen and start Kestrova again."));
    const QString explanation = m_sessionForbids ? forbidden : grantable;
    auto* body = new QLabel(this);
    body->setObjectName(QStringLiteral("explanation"));
    body->setTextFormat(Qt::PlainText);
    body->setText(explanation);
    body->setWordWrap(true);
    body->setAlignment(Qt::AlignCenter);
    body->setFont(textFont(13));
    body->setStyleSheet(QStringLiteral("color: %1;").arg(rgba(kSecondaryText)));
    body->setContentsMargins(20, 0, 20, 0);
    stack->addWidget(body);

    m_grantedRow = new QWidget(this);
    m_grantedRow->setObjectName(QStringLiteral("grantedRow"));
    auto* row = new QHBoxLayout(m_grantedRow);
    row->setContentsMargins(0, 8, 0, 8);
    row->setSpacing(8);
    row->addStretch();
    row->addWidget(symbolLabel(QStringLiteral("checkmark.circle.fill"), 16, platform::SystemColors::green(), m_grantedRow));
    auto* granted = new QLabel(L::text(QStringLiteral("Разрешение получено"), QStringLiteral("Permission Granted")), m_grantedRow);
    granted->setFont(textFont(13, QFont::Medium));
    granted->setStyleSheet(QStringLiteral("color: %1;").arg(rgba(platform::SystemColors::green())));
    row->addWidget(granted);
    row->addStretch();
    stack->addWidget(m_grantedRow);

    m_hint = new QLabel(L::text(QStringLiteral("После добавления Kestrova в список, вернитесь в это окно."),
                                QStringLiteral("After adding Kestrova to the list, return to this window.")),
                        this);
    m_hint->setObjectName(QStringLiteral("hint"));
    m_hint->setWordWrap(true);
    m_hint->setAlignment(Qt::AlignCenter);
    m_hint->setFont(textFont(10));
    m_hint->setStyleSheet(QStringLiteral("color: %1;").arg(rgba(kSecondaryText)));
    stack->addWidget(m_hint);

    stack->addStretch(1);

    auto* buttons = new QVBoxLayout;
    buttons->setContentsMargins(40, 0, 40, 0);
    buttons->setSpacing(12);
    m_requestButton = new QPushButton(m_sessionForbids ? L::text(QStringLiteral("Закрыть"), QStringLiteral("Close"))
                                                       : L::text(QStringLiteral("Открыть Системные настройки"), QStringLiteral("Open System Settings")),
                                      this);
    if (!m_sessionForbids)
        if (auto gear = platform::ImageAssets::symbol(QStringLiteral("gear"), 15, Qt::white))
            m_requestButton->setIcon(QIcon(QPixmap::fromImage(*gear)));
    m_requestButton->setIconSize(QSize(15, 15));
    m_requestButton->setFont(textFont(14, QFont::Medium));
    m_requestButton->setCursor(Qt::PointingHandCursor);
    m_requestButton->setDefault(true);
    m_requestButton->setStyleSheet(
        QStringLiteral("QPushButton { color: white; background: %1; border: none; border-radius: 8px; padding: 10px 12px; }"
                       "QPushButton:hover { background: %2; }"
                       "QPushButton:pressed { background: %3; }")
            .arg(rgba(platform::SystemColors::accent()), rgba(platform::SystemColors::accent().lighter(112)),
                 rgba(platform::SystemColors::accent().darker(120))));
    connect(m_requestButton, &QPushButton::clicked, this, [this] {
        const std::function<void()>& action = m_sessionForbids ? m_onSkip : m_onRequestPermission;
        if (action)
            action();
    });
    buttons->addWidget(m_requestButton);

    m_skipButton = new QPushButton(L::text(QStringLiteral("Продолжить без разрешения"), QStringLiteral("Continue Without Permission")), this);
    m_skipButton->setFlat(true);
    m_skipButton->setFont(textFont(13));
    m_skipButton->setCursor(Qt::PointingHandCursor);
    m_skipButton->setStyleSheet(QStringLiteral("QPushButton { color: %1; background: transparent; border: none; padding: 2px; }"
                                               "QPushButton:hover { color: %2; }")
                                    .arg(rgba(kSecondaryText), rgba(kPrimaryText)));
    connect(m_skipButton, &QPushButton::clicked, this, [this] {
        if (m_onSkip)
            m_onSkip();
    });
    buttons->addWidget(m_skipButton, 0, Qt::AlignHCenter);
    // With nothing to ask for, the main button is the way on: a second one would say the same.
    m_skipButton->setVisible(!m_sessionForbids);
    stack->addLayout(buttons);

    connect(&permissionsManager, &PermissionsManager::screenRecordingPermissionGrantedChanged, this,
            &PermissionRequestView::updateGrantedState);
    updateGrantedState();

    // 480 by 380. The hint and the granted row take turns, so the taller of the two counts. Where
    // the desktop's fonts make the texts taller than that allows at the full 24 px gaps (DejaVu's
    // wrap the explanation to five lines), the gaps give way first, down to 8 px; only then does
    // the window grow, so the texts are never cut off.
    m_grantedRow->setVisible(true);
    m_hint->setVisible(true);
    const int both = stack->totalHeightForWidth(defaultWidth);
    const int rowHeight = m_grantedRow->sizeHint().height();
    const int hintHeight = m_hint->heightForWidth(defaultWidth);
    int blocks = 0;
    for (int i = 0; i < stack->count(); ++i)
        if (!stack->itemAt(i)->isEmpty())
            ++blocks;
    updateGrantedState();
    const int gaps = std::max(1, blocks - 2); // one of the two alternating blocks shows
    const int fullSpacing = stack->spacing();
    const int content = both - std::min(rowHeight, hintHeight) - (gaps + 1) * fullSpacing;
    const int spacing = std::clamp((defaultHeight - content) / gaps, kMinimumSpacing, fullSpacing);
    stack->setSpacing(spacing);
    setFixedSize(defaultWidth, std::max(defaultHeight, content + gaps * spacing));
}

void PermissionRequestView::updateGrantedState()
{
    const bool granted = m_permissionsManager && m_permissionsManager->screenRecordingPermissionGranted();
    m_grantedRow->setVisible(granted);
    // The hint tells to come back after granting access, which this session cannot.
    m_hint->setVisible(!granted && !m_sessionForbids);
}
