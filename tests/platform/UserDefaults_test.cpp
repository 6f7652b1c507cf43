#include "platform/UserDefaults.h"

#include "platform/FileWriteCounter.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using platform::UserDefaults;

TEST(UserDefaults, StandardFileFollowsXdgConfigHome)
{
    EXPECT_EQ(UserDefaults::standardFilePath(), qEnvironmentVariable("XDG_CONFIG_HOME") + "/Kestrova/Kestrova.conf");
}

TEST(UserDefaults, TellsAbsentFromStoredAndRejectsWrongForms)
{
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath("Kestrova.conf"));
    EXPECT_FALSE(defaults.string("ftpHost"));
    EXPECT_FALSE(defaults.integer("ftpPort"));
    EXPECT_FALSE(defaults.boolean("useSFTP"));

    defaults.setString("ftpHost", "");
    defaults.setInteger("ftpPort", 2121);
    defaults.setBool("useSFTP", true);
    defaults.setString("text", "a, b = c; \"d\"");
    ASSERT_TRUE(defaults.sync());

    UserDefaults reread(dir.filePath("Kestrova.conf"));
    ASSERT_TRUE(reread.string("ftpHost"));
    EXPECT_EQ(*reread.string("ftpHost"), "");
    EXPECT_EQ(reread.integer("ftpPort"), 2121);
    EXPECT_EQ(reread.boolean("useSFTP"), true);
    EXPECT_EQ(*reread.string("text"), "a, b = c; \"d\"");

    reread.setString("ftpPort", "abc");
    EXPECT_FALSE(reread.integer("ftpPort"));
    EXPECT_TRUE(reread.contains("ftpPort"));
    reread.remove("ftpPort");
    EXPECT_FALSE(reread.contains("ftpPort"));
}

TEST(UserDefaults, ReadsHandWrittenTopLevelKeys)
{
    QTemporaryDir dir;
    QFile file(dir.filePath("Kestrova.conf"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[General]\nuploadProvider=ssh\nftpPort=0\nuseFTPS=false\nbaseURL=http://a,b\n");
    file.close();
    UserDefaults defaults(file.fileName());
    EXPECT_EQ(*defaults.string("uploadProvider"), "ssh");
    EXPECT_EQ(defaults.integer("ftpPort"), 0);
    EXPECT_EQ(defaults.boolean("useFTPS"), false);
    EXPECT_EQ(*defaults.string("baseURL"), "http://a,b");
}

TEST(UserDefaults, ChangesAreWrittenOnceAtTheSyncOrWhenTheLastCopyEnds)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Kestrova.conf");
    ASSERT_TRUE(test::writeFile(path, "[General]\nftpHost=old\n"));
    test::FileWriteCounter counter(path);
    ASSERT_TRUE(counter.isValid());
    {
        UserDefaults defaults(path);
        for (int i = 0; i < 13; ++i)
            defaults.setInteger(QString("key%1").arg(i), i);
        defaults.setString("ftpHost", "new");
        defaults.remove("key0");
        EXPECT_EQ(counter.writes(), 0);
        // Read back before the write, through this object and through another.
        EXPECT_EQ(defaults.string("ftpHost"), "new");
        EXPECT_EQ(UserDefaults(path).integer("key12"), 12);
        EXPECT_FALSE(defaults.contains("key0"));
        ASSERT_TRUE(defaults.sync());
        EXPECT_EQ(counter.writes(), 1);
        EXPECT_TRUE(defaults.sync()) << "nothing left to write";
        EXPECT_EQ(counter.writes(), 1);

        UserDefaults copy = defaults;
        copy.setBool("useSFTP", true);
    }
    EXPECT_EQ(counter.writes(), 2) << "the change without a sync, written as the object ended";
    EXPECT_EQ(UserDefaults(path).boolean("useSFTP"), true);
    EXPECT_EQ(UserDefaults(path).string("ftpHost"), "new");
}

TEST(UserDefaults, ASyncThatCannotWriteTheFileSaysSo)
{
    // Root may write anywhere; a folder that is a file stops anyone.
    QTemporaryDir dir;
    ASSERT_TRUE(test::writeFile(dir.filePath("Kestrova"), "not a folder"));
    UserDefaults defaults(dir.filePath("Kestrova/Kestrova.conf"));
    defaults.setString("ftpHost", "example.org");
    EXPECT_FALSE(defaults.sync());
    // Still unwritten, still failing.
    EXPECT_FALSE(defaults.sync());
}
