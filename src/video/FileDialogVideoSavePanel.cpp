#include "video/FileDialogVideoSavePanel.h"

#include "recording/ScreenRecorder.h"

#include <QFileDialog>

void FileDialogVideoSavePanel::begin(const Options& options, Completion completion)
{
    const bool gif = options.format == VideoExportFormat::gif;
    auto* dialog = new QFileDialog(nullptr, QStringLiteral("Сохранить видео"), QString(),
                                   gif ? QStringLiteral("GIF (*.gif)") : QStringLiteral("MPEG-4 (*.mp4)"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAttribute(Qt::WA_QuitOnClose, false);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setDefaultSuffix(VideoExportFormats::fileExtension(options.format));
    // Where the recordings are, as the screenshot panel opens in Pictures.
    dialog->setDirectory(ScreenRecorder::recordingsDirectory());
    dialog->selectFile(options.proposedName);
    QObject::connect(dialog, &QFileDialog::finished, dialog, [dialog, completion = std::move(completion)](int result) {
        const QStringList files = dialog->selectedFiles();
        if (completion)
            completion(result == QDialog::Accepted && !files.isEmpty() ? std::optional<QString>(files.first()) : std::nullopt);
    });
    // Modeless, a window of its own: the preview stays usable while the panel is open.
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}
