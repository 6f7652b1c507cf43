#pragma once

#include <QString>
#include <QStringList>

namespace platform {

// The XDG base directories and the user folders, read from the environment at each call.
class XdgPaths {
public:
    static QString home();
    static QString configHome();   // $XDG_CONFIG_HOME or ~/.config
    static QString dataHome();     // $XDG_DATA_HOME or ~/.local/share
    static QString stateHome();    // $XDG_STATE_HOME or ~/.local/state
    static QString cacheHome();    // $XDG_CACHE_HOME or ~/.cache
    // A folder for the running copy's lock and socket that no other user can reach: the session's
    // $XDG_RUNTIME_DIR, else kestrova-runtime-<uid> in the temporary folder, else Kestrova/runtime in
    // the cache folder; the last two are made when missing. Each is taken only when it is a real
    // folder (not a link) of this user with mode 0700. `refused` gets "<path> <reason>" for each one
    // passed over. Empty when none will do.
    static QString runtimeDir(QStringList* refused = nullptr);
    static QString picturesDir();  // the user's Pictures folder
    static QString documentsDir(); // the user's Documents folder
    static QString tempDir();
};

} // namespace platform
