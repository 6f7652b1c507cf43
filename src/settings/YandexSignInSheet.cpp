#include "settings/YandexSignInSheet.h"

#include "app/Localization.h"
#include "settings/SettingsStyle.h"
#include "uploads/YandexDiskUploader.h"
#include "app/DebugLogger.h"
#include "uploads/YandexSignInModule.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

YandexSignInSheet::YandexSignInSheet(std::function<void(const QString&)> onToken, std::function<void()> onClose,
                                     QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("YandexSignInSheet"));
    setWindowModality(Qt::WindowModal);
    setMinimumSize(640, 560);
    const QString title = L::text(QStringLiteral("Вход в Яндекс.Диск"), QStringLiteral("Yandex.Disk Sign In"));
    setWindowTitle(title);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(8, 8, 8, 8);
    auto* titleLabel = SettingsStyle::label(title, SettingsStyle::headlineFont(), SettingsStyle::primaryColor(), this);
    titleLabel->setObjectName(QStringLiteral("sheetTitle"));
    header->addWidget(titleLabel);
    header->addStretch(1);
    auto* close = new QToolButton(this);
    close->setObjectName(QStringLiteral("closeButton"));
    close->setAutoRaise(true);
    close->setCursor(Qt::PointingHandCursor);
    close->setIcon(QIcon(SettingsStyle::symbol(QStringLiteral("xmark.circle.fill"), 18, SettingsStyle::secondaryColor())));
    close->setIconSize(QSize(18, 18));
    close->setStyleSheet(QStringLiteral("QToolButton { border: none; background: transparent; }"));
    header->addWidget(close);
    layout->addLayout(header);
    layout->addWidget(SettingsStyle::divider(this));

    const auto url = YandexDiskUploader::implicitAuthURL();
    QString moduleError;
    if (url) {
        // The view never reports errors: a refused sign-in stays on its page until the user closes.
        m_webView = YandexSignInModule::createView(*url, std::move(onToken), this, &moduleError);
        if (!m_webView)
            DebugLogger::shared().logErrorMessage(QStringLiteral("Yandex sign-in view unavailable: ") + moduleError);
    }
    if (m_webView) {
        m_webView->setMinimumSize(600, 520);
        layout->addWidget(m_webView, 1);
    } else {
        const QString text = url ? L::text(QStringLiteral("Не удалось открыть страницу входа: "), QStringLiteral("Could not open the sign-in page: "))
                + moduleError
                                 : L::text(QStringLiteral("Не удалось сформировать ссылку авторизации"),
                                           QStringLiteral("Failed to generate authorization link"));
        auto* missing = SettingsStyle::label(text, SettingsStyle::bodyFont(), SettingsStyle::primaryColor(), this);
        missing->setObjectName(url ? QStringLiteral("moduleErrorText") : QStringLiteral("missingLinkText"));
        missing->setWordWrap(true);
        missing->setContentsMargins(16, 16, 16, 16);
        missing->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        layout->addWidget(missing, 1);
    }

    connect(close, &QToolButton::clicked, this, [onClose = std::move(onClose)] {
        if (onClose)
            onClose();
    });
}
