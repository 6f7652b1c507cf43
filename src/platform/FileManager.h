#pragma once

#include <QString>

namespace platform {

// Opening files and showing them in the desktop's file manager. Neither call blocks nor reports
// errors: a desktop without a file manager simply shows nothing.
class FileManager {
public:
    // Opens the file with its default application.
    static void openFile(const QString& path);
    // Shows the file selected in the file manager (org.freedesktop.FileManager1.ShowItems on the
    // session bus); when no file manager answers, opens the folder that holds it instead.
    static void revealFile(const QString& path);
};

} // namespace platform
