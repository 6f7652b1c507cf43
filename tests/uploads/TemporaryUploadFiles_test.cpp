// The launch's removal of upload folders left behind: only folders of ours whose process is gone.
#include "uploads/TemporaryUploadFiles.h"

#include "support/ThrowAwayUser.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

// $TMPDIR pointed at a folder of the test for as long as it lives.
class PrivateTemporaryFolder {
public:
    PrivateTemporaryFolder()
        : m_previous(qgetenv("TMPDIR"))
        , m_hadPrevious(qEnvironmentVariableIsSet("TMPDIR"))
    {
        qputenv("TMPDIR", QFile::encodeName(m_folder.path()));
    }
    ~PrivateTemporaryFolder()
    {
        if (m_hadPrevious)
            qputenv("TMPDIR", m_previous);
        else
            qunsetenv("TMPDIR");
    }
    QString path() const { return m_folder.path(); }
    bool isValid() const { return m_folder.isValid(); }

private:
    QTemporaryDir m_folder;
    QByteArray m_previous;
    bool m_hadPrevious;
};

// The id of a process that has ended and been reaped.
qint64 endedProcessId()
{
    QProcess process;
    process.start("/bin/sleep", {"0.1"});
    if (!process.waitForStarted(5000))
        return 0;
    const qint64 pid = process.processId();
    return process.waitForFinished(5000) ? pid : 0;
}

} // namespace

TEST(TemporaryUploadFiles, FoldersAreNamedByTheirProcess)
{
    PrivateTemporaryFolder temporary;
    ASSERT_TRUE(temporary.isValid());
    QString error;
    const QString folder = TemporaryUploadFiles::createFolder(&error);
    ASSERT_FALSE(folder.isEmpty()) << error.toStdString();
    EXPECT_EQ(QFileInfo(folder).absolutePath(), temporary.path());
    EXPECT_TRUE(QFileInfo(folder).fileName().startsWith(QString("kestrova-upload-%1-").arg(::getpid())))
        << folder.toStdString();
    EXPECT_EQ(QFileInfo(folder).permissions() & 0x0777, QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser);
}

TEST(TemporaryUploadFiles, TheLaunchRemovesOnlyOurFoldersOfProcessesThatAreGone)
{
    PrivateTemporaryFolder temporary;
    ASSERT_TRUE(temporary.isValid());
    const qint64 gone = endedProcessId();
    ASSERT_GT(gone, 0);
    const QString dir = temporary.path();
    QString whyNoUser;
    const auto other = test::ThrowAwayUser::create("pw-" + test::randomHex(12), &whyNoUser);

    QString error;
    const QString ours = TemporaryUploadFiles::createFolder(&error);
    ASSERT_FALSE(ours.isEmpty()) << error.toStdString();
    const QString linkTarget = dir + "/kept-target";
    ASSERT_TRUE(QDir().mkpath(linkTarget));
    ASSERT_TRUE(test::writeFile(linkTarget + "/shot.png", "png"));

    enum class Make { folder, link, file, otherUsersFolder };
    struct Case {
        QString name;
        Make make;
        bool removed;
    };
    const Case cases[] = {
        {QString("kestrova-upload-%1-a1B2c3").arg(gone), Make::folder, true},
        {"kestrova-upload-Zx9y8W", Make::folder, true}, // named before the process id was in the name
        {QString("kestrova-upload-%1-q1w2e3").arg(::getppid()), Make::folder, false}, // a live process
        {QString("kestrova-upload-%1-link00").arg(gone), Make::link, false},
        {QString("kestrova-upload-%1-file00").arg(gone), Make::file, false},
        {QString("kestrova-upload-%1-other0").arg(gone), Make::otherUsersFolder, false},
        {QString("kestrova-upload-%1-toolong").arg(gone), Make::folder, false},
        {"kestrova-upload-notes", Make::folder, false},
    };
    for (const Case& c : cases) {
        const QString path = dir + "/" + c.name;
        switch (c.make) {
        case Make::folder:
            ASSERT_TRUE(test::writeFile(path + "/shot.png", "png"));
            break;
        case Make::link:
            ASSERT_TRUE(QFile::link(linkTarget, path));
            break;
        case Make::file:
            ASSERT_TRUE(test::writeFile(path, "notes"));
            break;
        case Make::otherUsersFolder:
            if (!other)
                continue;
            ASSERT_TRUE(test::writeFile(path + "/shot.png", "png"));
            ASSERT_TRUE(other->own(path));
            break;
        }
    }

    TemporaryUploadFiles::removeStale();

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        if (c.make == Make::otherUsersFolder && !other)
            continue;
        const QFileInfo info(dir + "/" + c.name);
        EXPECT_EQ(!info.exists() && !info.isSymLink(), c.removed);
    }
    EXPECT_TRUE(QFileInfo::exists(linkTarget + "/shot.png")) << "a link's target is never followed";
    EXPECT_TRUE(QFileInfo(ours).isDir()) << "this process's own upload folder";
    if (!other)
        GTEST_SKIP() << "another user's folder not tried: " << whyNoUser.toStdString();
}
