// The main of every test binary: a private home folder, the in-memory keychain, a QApplication on
// the platform CTest chose (offscreen or xcb), then GoogleTest.
#include "support/TestSupport.h"

#include "platform/InMemoryKeychain.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

#include <unistd.h>

#if defined(__SANITIZE_THREAD__)
#include <cstdarg>

#include <dlfcn.h>
#include <sched.h>
#include <sys/types.h>

// QProcess starts its children with clone(CLONE_VM | CLONE_VFORK): the child runs in this process's
// memory, ThreadSanitizer's state of the starting thread included, and ThreadSanitizer's clone hook
// leaves that thread ignoring every intercepted call afterwards. Its locks and thread starts then go
// unseen and each hand-over to another thread reads as a race. Started like fork the child works on
// a copy, as ThreadSanitizer itself does with vfork; QProcess reports through a pipe either way.
extern "C" int clone(int (*fn)(void*), void* stack, int flags, void* arg, ...) noexcept
{
    va_list rest;
    va_start(rest, arg);
    pid_t* parentTid = va_arg(rest, pid_t*);
    void* tls = va_arg(rest, void*);
    pid_t* childTid = va_arg(rest, pid_t*);
    va_end(rest);
    using Clone = int (*)(int (*)(void*), void*, int, void*, ...);
    static const auto next = reinterpret_cast<Clone>(dlsym(RTLD_NEXT, "clone"));
    if ((flags & CLONE_VM) && (flags & CLONE_VFORK) && !(flags & CLONE_THREAD))
        flags &= ~(CLONE_VM | CLONE_VFORK);
    return next(fn, stack, flags, arg, parentTid, tls, childTid);
}
#endif

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);

    // Each test binary gets its own home, so binaries can run in parallel without sharing settings,
    // logs or capture folders.
    // A child started by a test may be given its home in KESTROVA_TEST_HOME.
    QTemporaryDir tempHome(QDir::tempPath() + QStringLiteral("/kestrova-test-home-XXXXXX"));
    const QString given = qEnvironmentVariable("KESTROVA_TEST_HOME");
    const QString homePath = given.isEmpty() ? tempHome.path() : given;
    if (given.isEmpty() && !tempHome.isValid())
        return 2;
    const QByteArray root = QFile::encodeName(homePath);
    for (const char* sub : {"Pictures", "Documents", ".config", ".local/state", ".cache", ".local/share"})
        QDir().mkpath(homePath + QLatin1Char('/') + QLatin1String(sub));
    setenv("HOME", root.constData(), 1);
    setenv("XDG_CONFIG_HOME", (root + "/.config").constData(), 1);
    setenv("XDG_STATE_HOME", (root + "/.local/state").constData(), 1);
    setenv("XDG_CACHE_HOME", (root + "/.cache").constData(), 1);
    setenv("XDG_DATA_HOME", (root + "/.local/share").constData(), 1);
    // Pictures and Documents without a user-dirs file: QStandardPaths falls back to $HOME/Pictures.
    unsetenv("XDG_PICTURES_DIR");
    unsetenv("XDG_DOCUMENTS_DIR");
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // The embedded web view: Chromium refuses to run as root with its sandbox, and needs no GPU here
    // (scripts/headless sets both as well; this covers a test binary run by hand).
    if (geteuid() == 0)
        setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
    setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu", 0);

    // The cloud service of every test process, the program's included, is a dead local port
    // unless a test points the shared client at its fake: nothing leaves the machine.
    setenv("KESTROVA_SERVICE_ROOT", "http://127.0.0.1:1", 0);

    platform::KeychainBackend::setCurrent(std::make_shared<platform::InMemoryKeychain>());

    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    test::setTestHome(homePath);
    return RUN_ALL_TESTS();
}
