#include "platform/UserDefaults.h"

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
