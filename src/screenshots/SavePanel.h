#pragma once

#include <QString>

#include <optional>

class QWidget;

// The modal "save as" question of the preview, behind an interface so tests never block on it.
class SavePanel {
public:
    struct Options {
        QString title;
        QString proposedName;
    };

    virtual ~SavePanel() = default;
    // The chosen file's path, or none when the user cancelled.
    virtual std::optional<QString> runModal(QWidget* parent, const Options& options) = 0;
};
