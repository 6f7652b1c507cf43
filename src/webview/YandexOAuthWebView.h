#pragma once

#include <QTimer>
#include <QUrl>
#include <QVariant>
#include <QWebEngineView>

#include <chrono>
#include <functional>
#include <optional>

class QWebEngineProfile;

// The embedded Yandex sign-in: shows the authorisation page and hands the access token from the
// redirect's fragment to `onToken`. What happens to the token is the host's business.
class YandexOAuthWebView : public QWebEngineView {
    Q_OBJECT
    // Readable where only the module's QWidget is known.
    Q_PROPERTY(QUrl authURL READ authURL CONSTANT)
public:
    using Callback = std::function<void(const QString&)>;

    // The decisions of the view, without a page: which navigations carry a token.
    class Coordinator {
    public:
        Coordinator(Callback onToken, Callback onError);
        Coordinator() = delete;

        // For every navigation: true lets it go on. One whose fragment carries a token is stopped
        // after the token has been handed over.
        bool decidePolicy(const QUrl& url) const;
        // A finished page's "window.location.hash" as the script gave it (anything, or nothing).
        void didFinish(const QVariant& hash) const;

        // `hash` is a location fragment with its leading "#". The token is the text after the first
        // "=" of the first "access_token=..." piece, as it stands (not percent-decoded). A value with a
        // control character is no token: it would end up in a header line.
        static std::optional<QString> parseAccessToken(const QString& hash);

    private:
        const Callback onToken;
        const Callback onError;
    };

    // How long a page may take to load before it is stopped.
    static constexpr std::chrono::milliseconds defaultLoadTimeLimit{60'000};

    // `onError` is kept for the host; the view never calls it. `onToken` runs on the GUI thread,
    // after the navigation has been stopped, so the host may delete the view from it. A load that
    // has not finished after `loadTimeLimit` is stopped and, like any failed load, reported nowhere:
    // the page stays as it is until the host closes the view.
    YandexOAuthWebView(const QUrl& authURL, Callback onToken, Callback onError, QWidget* parent = nullptr,
                       std::chrono::milliseconds loadTimeLimit = defaultLoadTimeLimit);
    ~YandexOAuthWebView() override;

    QUrl authURL() const { return m_authURL; }

    // The profile of every sign-in: persistent, so the provider's cookies last from one sign-in to
    // the next.
    static QWebEngineProfile* signInProfile();

private:
    class Page;

    const QUrl m_authURL;
    Coordinator m_coordinator;
    QTimer m_loadTimeLimit;
};
