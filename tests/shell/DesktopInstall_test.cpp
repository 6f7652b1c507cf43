// What an install puts on the desktop: the program, its desktop entry and its icons, where the
// desktop looks for them; and the name and icon the running program gives its windows.
#include "shell/KestrovaApp.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <QImage>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

const QString appId = "org.kestrova.Kestrova";

} // namespace

TEST(DesktopInstall, TheSourceDesktopEntryValidates)
{
    const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
    ASSERT_FALSE(validator.isEmpty()) << "desktop-file-validate is missing (desktop-file-utils)";
    const auto result = test::run(validator, {test::sourcePath("resources/" + appId + ".desktop")}, 10s);
    EXPECT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 0) << result.output.toStdString();
    EXPECT_TRUE(result.output.isEmpty()) << result.output.toStdString(); // no hints either
}

TEST(DesktopInstall, PutsTheProgramItsEntryAndItsIconsUnderThePrefixAndDestdir)
{
    const QString cmake = QStandardPaths::findExecutable("cmake");
    ASSERT_FALSE(cmake.isEmpty());
    QTemporaryDir stage;
    const QString prefix = "/opt/kestrova test"; // a space in it, too
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DESTDIR", stage.path());
    const auto install = test::run(cmake, {"--install", KESTROVA_BINARY_DIR, "--prefix", prefix}, 60s, env);
    ASSERT_TRUE(install.finished);
    ASSERT_EQ(install.exitCode, 0) << install.output.toStdString();

    const QString root = stage.path() + prefix;
    const QFileInfo binary(root + "/bin/kestrova");
    EXPECT_TRUE(binary.isFile() && binary.isExecutable());
    const QString entry = root + "/share/applications/" + appId + ".desktop";
    ASSERT_TRUE(QFileInfo::exists(entry));
    const auto validate = test::run(QStandardPaths::findExecutable("desktop-file-validate"), {entry}, 10s);
    EXPECT_EQ(validate.exitCode, 0) << validate.output.toStdString();
    QFile file(entry);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    EXPECT_TRUE(text.contains("\nIcon=" + appId + "\n"));
    EXPECT_TRUE(text.contains("\nExec=kestrova\n"));

    const QString icons = root + "/share/icons/hicolor/";
    EXPECT_TRUE(QFileInfo::exists(icons + "scalable/apps/" + appId + ".svg"));
    for (int pixels : {48, 256}) {
        SCOPED_TRACE(pixels);
        const QImage png(icons + QString("%1x%1/apps/").arg(pixels) + appId + ".png");
        ASSERT_FALSE(png.isNull());
        EXPECT_EQ(png.size(), QSize(pixels, pixels));
        // The logo itself, not an empty square: opaque in the middle, clear in the corner.
        EXPECT_EQ(qAlpha(png.pixel(pixels / 2, pixels / 2)), 255);
        EXPECT_EQ(qAlpha(png.pixel(0, 0)), 0);
    }
    // Nothing outside the staging folder.
    EXPECT_FALSE(QFileInfo::exists(prefix));
}

TEST(DesktopInstall, TheRunningProgramNamesItsEntryAndGivesEveryWindowTheLogo)
{
    KestrovaApp app;
    EXPECT_EQ(QGuiApplication::desktopFileName(), appId);
    const QIcon icon = QApplication::windowIcon();
    ASSERT_FALSE(icon.isNull());
    QWidget window;
    EXPECT_EQ(window.windowIcon().cacheKey(), icon.cacheKey());
}
