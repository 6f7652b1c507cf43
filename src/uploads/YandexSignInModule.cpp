#include "uploads/YandexSignInModule.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>
#include <QStringList>
#include <QWidget>

#include <dlfcn.h>

#ifndef KESTROVA_BUILD_MODULE_DIR
#define KESTROVA_BUILD_MODULE_DIR ""
#endif

namespace YandexSignInModule {
namespace {

// The module's one entry point; see YandexOAuthWebView.cpp.
using CreateView = QWidget* (*)(const QUrl&, const std::function<void(const QString&)>&, QWidget*);
const char* const kEntryPoint = "kestrova_create_yandex_sign_in_view";
const QString kFileName = QStringLiteral("libkestrova_yandex_webview.so");

CreateView resolved = nullptr;
bool loaded = false;

CreateView resolve(QString* error)
{
    if (resolved)
        return resolved;
    // Linked into this program already (the tests of the view itself are).
    if (void* symbol = dlsym(RTLD_DEFAULT, kEntryPoint)) {
        resolved = reinterpret_cast<CreateView>(symbol);
        return resolved;
    }
    QStringList failures;
    for (const QString& folder :
         searchFolders(QCoreApplication::applicationDirPath(), QStringLiteral(KESTROVA_BUILD_MODULE_DIR))) {
        const QString path = folder + QLatin1Char('/') + kFileName;
        if (!QFileInfo::exists(path))
            continue;
        // Never unloaded: Chromium's threads run its code until the process ends.
        auto* library = new QLibrary(path);
        library->setLoadHints(QLibrary::PreventUnloadHint);
        if (auto symbol = reinterpret_cast<CreateView>(library->resolve(kEntryPoint))) {
            resolved = symbol;
            return resolved;
        }
        failures.append(library->errorString());
        delete library;
    }
    if (error)
        *error = failures.isEmpty() ? kFileName + QStringLiteral(" not found") : failures.join(QStringLiteral("; "));
    return nullptr;
}

} // namespace

QStringList searchFolders(const QString& programFolder, const QString& buildTree)
{
    const QString program = QDir::cleanPath(programFolder);
    QStringList folders{program, QDir::cleanPath(program + QStringLiteral("/../lib/kestrova"))};
    const QString tree = QDir::cleanPath(buildTree);
    if (!buildTree.isEmpty() && tree != program && program.startsWith(tree + QLatin1Char('/')))
        folders.append(tree);
    return folders;
}

QWidget* createView(const QUrl& authURL, std::function<void(const QString&)> onToken, QWidget* parent, QString* error)
{
    const CreateView create = resolve(error);
    if (!create)
        return nullptr;
    loaded = true;
    return create(authURL, onToken, parent);
}

bool isLoaded()
{
    return loaded;
}

} // namespace YandexSignInModule
