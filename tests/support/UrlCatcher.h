#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

namespace test {

// Receives the file URLs QDesktopServices would have handed to the desktop, while it lives.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    UrlCatcher();
    ~UrlCatcher() override;

    QList<QUrl> urls;

public slots:
    void open(const QUrl& url);
};

} // namespace test
