#pragma once

#include "screenshots/SavePanel.h"

// The save panel of the desktop: a QFileDialog offering PNG and JPEG.
class FileDialogSavePanel : public SavePanel {
public:
    std::optional<QString> runModal(QWidget* parent, const Options& options) override;
};
