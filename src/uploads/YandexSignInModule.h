#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

class QWidget;

// The Yandex sign-in web view (Qt WebEngine, that is a whole Chromium with its GL context) lives
// in a module of its own, loaded at the first sign-in: a tray program resident all day does not
// carry it for a sheet most users never open. Looked up in the process first (a program linked
// with it), then in `searchFolders`.
namespace YandexSignInModule {

// Where a program in `programFolder` looks for the module: beside it, in the install's
// lib/kestrova, and in `buildTree` only when the program itself runs from inside that tree (the
// test binaries do): an installed program never loads code from a folder it was built in.
QStringList searchFolders(const QString& programFolder, const QString& buildTree);

// A new sign-in view for `authURL` handing the token to `onToken` (see YandexOAuthWebView), or
// nullptr with `error` set when the module cannot be loaded. GUI thread.
QWidget* createView(const QUrl& authURL, std::function<void(const QString&)> onToken, QWidget* parent,
                    QString* error = nullptr);
// Whether a view has been created in this process: the module is loaded from then on.
bool isLoaded();

} // namespace YandexSignInModule
