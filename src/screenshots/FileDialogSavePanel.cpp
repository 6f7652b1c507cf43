#include "screenshots/FileDialogSavePanel.h"

#include "platform/XdgPaths.h"

#include <QDir>
#include <QFileDialog>

std::optional<QString> FileDialogSavePanel::runModal(QWidget* parent, const Options& options)
{
    QFileDialog dialog(parent, options.title);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({QStringLiteral("PNG (*.png)"), QStringLiteral("JPEG (*.jpg *.jpeg)")});
    dialog.setDefaultSuffix(QStringLiteral("png"));
    // A name typed without a suffix gets the suffix of the chosen type.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
        dialog.setDefaultSuffix(filter.startsWith(QLatin1String("JPEG")) ? QStringLiteral("jpg") : QStringLiteral("png"));
    });
    dialog.setDirectory(platform::XdgPaths::picturesDir());
    dialog.selectFile(options.proposedName);
    dialog.setWindowModality(Qt::ApplicationModal);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty() || files.first().isEmpty())
        return std::nullopt;
    return files.first();
}
