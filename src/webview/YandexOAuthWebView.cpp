#include "webview/YandexOAuthWebView.h"

#include <QCoreApplication>
#include <QOpenGLContext>
#include <QPointer>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineProfile>

class YandexOAuthWebView::Page : public QWebEnginePage {
public:
    Page(QWebEngineProfile* profile, const Coordinator* coordinator, QObject* parent)
        : QWebEnginePage(profile, parent)
        , m_coordinator(coordinator)
    {
    }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool) override
    {
        return m_coordinator->decidePolicy(url);
    }

private:
    const Coordinator* m_coordinator;
};

YandexOAuthWebView::Coordinator::Coordinator(Callback onToken, Callback onError)
    : onToken(std::move(onToken))
    , onError(std::move(onError))
{
}

bool YandexOAuthWebView::Coordinator::decidePolicy(const QUrl& url) const
{
    if (!url.isValid() || !url.hasFragment())
        return true;
    const auto token = parseAccessToken(QLatin1Char('#') + url.fragment(QUrl::FullyEncoded));
    if (!token)
        return true;
    if (onToken)
        onToken(*token);
    return false;
}

void YandexOAuthWebView::Coordinator::didFinish(const QVariant& hash) const
{
    if (hash.typeId() != QMetaType::QString)
        return;
    if (const auto token = parseAccessToken(hash.toString()); token && onToken)
        onToken(*token);
}

std::optional<QString> YandexOAuthWebView::Coordinator::parseAccessToken(const QString& hash)
{
    if (!hash.contains(QLatin1String("access_token=")))
        return std::nullopt;
    qsizetype begin = 0;
    qsizetype end = hash.size();
    while (begin < end && hash.at(begin) == QLatin1Char('#'))
        ++begin;
    while (end > begin && hash.at(end - 1) == QLatin1Char('#'))
        --end;
    const QStringList pieces = hash.mid(begin, end - begin).split(QLatin1Char('&'), Qt::SkipEmptyParts);
    for (const QString& piece : pieces) {
        const qsizetype equals = piece.indexOf(QLatin1Char('='));
        if (equals <= 0 || equals == piece.size() - 1)
            continue; // fewer than two non-empty parts
        if (piece.left(equals) != QLatin1String("access_token"))
            continue;
        const QString token = piece.mid(equals + 1);
        for (const QChar c : token)
            if (c.unicode() < 0x20 || c.unicode() == 0x7f)
                return std::nullopt;
        return token;
    }
    return std::nullopt;
}

QWebEngineProfile* YandexOAuthWebView::signInProfile()
{
    static QPointer<QWebEngineProfile> profile;
    if (!profile)
        profile = new QWebEngineProfile(QStringLiteral("Kestrova"), QCoreApplication::instance());
    return profile;
}

YandexOAuthWebView::YandexOAuthWebView(const QUrl& authURL, Callback onToken, Callback onError, QWidget* parent,
                                       std::chrono::milliseconds loadTimeLimit)
    : QWebEngineView(parent)
    , m_authURL(authURL)
    // The token is handed over from the event loop: the host usually closes (and deletes) the view
    // at once, which must not happen inside the page's own navigation call.
    , m_coordinator(
          [this, onToken = std::move(onToken)](const QString& token) {
              QTimer::singleShot(0, this, [onToken, token] {
                  if (onToken)
                      onToken(token);
              });
          },
          std::move(onError))
{
    setPage(new Page(signInProfile(), &m_coordinator, this));
    // Without a limit a server that never answers would leave the page loading for many minutes.
    m_loadTimeLimit.setSingleShot(true);
    m_loadTimeLimit.setInterval(loadTimeLimit);
    connect(&m_loadTimeLimit, &QTimer::timeout, this, &QWebEngineView::stop);
    connect(this, &QWebEngineView::loadStarted, &m_loadTimeLimit, qOverload<>(&QTimer::start));
    connect(this, &QWebEngineView::loadFinished, &m_loadTimeLimit, &QTimer::stop);
    connect(this, &QWebEngineView::loadFinished, this, [this](bool ok) {
        if (!ok)
            return;
        const QPointer<YandexOAuthWebView> self(this);
        page()->runJavaScript(QStringLiteral("window.location.hash"), [self](const QVariant& hash) {
            if (self)
                self->m_coordinator.didFinish(hash);
        });
    });
    load(m_authURL);
}

YandexOAuthWebView::~YandexOAuthWebView()
{
    // The page refers to the coordinator; it goes first.
    delete page();
}

// Qt's own (QtGui exports them; their declaration is in a private header).
QOpenGLContext* qt_gl_global_share_context();
void qt_gl_set_global_share_context(QOpenGLContext* context);

// The module's entry point, looked up by YandexSignInModule when the first sign-in opens.
extern "C" Q_DECL_EXPORT QWidget* kestrova_create_yandex_sign_in_view(const QUrl& authURL,
                                                                       const std::function<void(const QString&)>& onToken,
                                                                       QWidget* parent)
{
    // Qt WebEngine expects the shared GL context that QGuiApplication makes at start when asked
    // to; the resident program does not ask, so it is made here, at the first sign-in only.
    if (!qt_gl_global_share_context()) {
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
        auto* context = new QOpenGLContext(QCoreApplication::instance());
        context->create();
        qt_gl_set_global_share_context(context);
    }
    return new YandexOAuthWebView(authURL, onToken, [](const QString&) {}, parent);
}
