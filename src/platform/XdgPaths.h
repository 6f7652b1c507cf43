#pragma once

#include <QString>

namespace platform {

// The XDG base directories and the user folders, read from the environment at each call.
class XdgPaths {
public:
    static QString home();
    static QString configHome();   // $XDG_CONFIG_HOME or ~/.config
    static QString dataHome();     // $XDG_DATA_HOME or ~/.local/share
    static QString stateHome();    // $XDG_STATE_HOME or ~/.local/state
    static QString cacheHome();    // $XDG_CACHE_HOME or ~/.cache
    static QString runtimeDir();   // $XDG_RUNTIME_DIR, else a private folder in the temporary folder
    static QString picturesDir();  // the user's Pictures folder
    static QString documentsDir(); // the user's Documents folder
    static QString tempDir();
};

} // namespace platform
