#pragma once

#include <QUrl>

#include <functional>

// Opens a web page in the user's default browser. Tests put a handler in its place.
class WebPageOpener {
public:
    static void open(const QUrl& url);

    // Tests: receive the address instead of the browser; an empty handler restores the browser.
    static void setHandlerForTesting(std::function<void(const QUrl&)> handler);
};
