#pragma once

#include <QDialog>

#include <functional>


// The Yandex Disk sign-in sheet over the settings window: a title bar with a close button and the
// embedded sign-in page, or a note when no sign-in address can be formed.
class YandexSignInSheet : public QDialog {
    Q_OBJECT
public:
    // `onToken` receives the access token of a completed sign-in; `onClose` runs on the close button.
    YandexSignInSheet(std::function<void(const QString&)> onToken, std::function<void()> onClose, QWidget* parent);

    // The sign-in page (a YandexOAuthWebView from its module), or nullptr when the address could
    // not be formed or the module could not be loaded.
    QWidget* webView() const { return m_webView; }

private:
    QWidget* m_webView = nullptr;
};
