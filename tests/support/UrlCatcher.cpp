#include "support/UrlCatcher.h"

#include <QDesktopServices>

namespace test {

UrlCatcher::UrlCatcher()
{
    QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open");
}

UrlCatcher::~UrlCatcher()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
}

void UrlCatcher::open(const QUrl& url)
{
    urls.append(url);
}

} // namespace test
