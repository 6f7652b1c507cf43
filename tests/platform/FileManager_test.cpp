// Reveal and open against the private session bus of the test run: a stand-in file manager
// registered there, and QDesktopServices' URL handler in place of the desktop.
#include "platform/FileManager.h"

#include "support/TestSupport.h"
#include "support/UrlCatcher.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QList<QStringList> shown;
public slots:
    void ShowItems(const QStringList& uris, const QString& startupId)
    {
        Q_UNUSED(startupId);
        shown.append(uris);
    }
};

// The file manager lives on a connection of its own, as another program's would.
class FileManagerService {
public:
    FileManagerService()
        : m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake-file-manager")))
    {
        m_registered = m_bus.registerObject("/org/freedesktop/FileManager1", &fake, QDBusConnection::ExportAllSlots)
                       && m_bus.registerService("org.freedesktop.FileManager1");
    }
    ~FileManagerService()
    {
        m_bus.unregisterService("org.freedesktop.FileManager1");
        m_bus.unregisterObject("/org/freedesktop/FileManager1");
        QDBusConnection::disconnectFromBus(QStringLiteral("fake-file-manager"));
    }
    bool registered() const { return m_registered; }
    FakeFileManager fake;

private:
    QDBusConnection m_bus;
    bool m_registered = false;
};

} // namespace

TEST(FileManager, RevealAsksTheFileManagerElseOpensTheFolder)
{
    if (!QDBusConnection::sessionBus().isConnected())
        GTEST_SKIP() << "no session bus";
    QTemporaryDir dir;
    const QString file = dir.path() + "/shot with space #1.png";
    test::UrlCatcher catcher;
    {
        FileManagerService service;
        ASSERT_TRUE(service.registered());
        platform::FileManager::revealFile(file);
        ASSERT_TRUE(test::waitUntil([&] { return !service.fake.shown.isEmpty(); }, 5s));
        EXPECT_EQ(service.fake.shown.first(), QStringList{QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded)});
        EXPECT_EQ(QUrl(service.fake.shown.first().first()).toLocalFile(), file);
        test::spin(100ms);
        EXPECT_TRUE(catcher.urls.isEmpty());
    }
    // Nobody answers: the folder is opened instead.
    ASSERT_TRUE(test::waitUntil(
        [] { return !QDBusConnection::sessionBus().interface()->isServiceRegistered("org.freedesktop.FileManager1"); }, 5s));
    platform::FileManager::revealFile(file);
    ASSERT_TRUE(test::waitUntil([&] { return !catcher.urls.isEmpty(); }, 5s));
    EXPECT_EQ(catcher.urls.first(), QUrl::fromLocalFile(dir.path()));
}

TEST(FileManager, OpenHandsTheFileToTheDesktop)
{
    test::UrlCatcher catcher;
    platform::FileManager::openFile("/tmp/some picture.png");
    ASSERT_EQ(catcher.urls.size(), 1);
    EXPECT_EQ(catcher.urls.first(), QUrl::fromLocalFile("/tmp/some picture.png"));
}

#include "FileManager_test.moc"
