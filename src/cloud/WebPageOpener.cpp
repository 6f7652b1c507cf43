#include "cloud/WebPageOpener.h"

#include <QDesktopServices>

#include <mutex>

namespace {

std::mutex handlerMutex;
std::function<void(const QUrl&)>& handler()
{
    static std::function<void(const QUrl&)> h;
    return h;
}

} // namespace

void WebPageOpener::open(const QUrl& url)
{
    std::function<void(const QUrl&)> replacement;
    {
        std::lock_guard lock(handlerMutex);
        replacement = handler();
    }
    if (replacement) {
        replacement(url);
        return;
    }
    // Without a browser nothing opens; there is nobody to tell.
    QDesktopServices::openUrl(url);
}

void WebPageOpener::setHandlerForTesting(std::function<void(const QUrl&)> h)
{
    std::lock_guard lock(handlerMutex);
    handler() = std::move(h);
}
