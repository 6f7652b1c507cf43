#pragma once

#include <QColor>
#include <QImage>
#include <QList>
#include <QString>

#include <optional>

// The upload targets. The raw value is the stored id (settings, toolbar action ids).
enum class UploadProvider {
    kestrovaCloud,
    ssh,
    yandexDisk,
    dropbox,
    googleDrive,
    webdav,
};

namespace UploadProviders {

const QList<UploadProvider>& allCases();
QString rawValue(UploadProvider provider);
std::optional<UploadProvider> fromRawValue(const QString& raw);
QString displayName(UploadProvider provider);
QColor color(UploadProvider provider);
// The logo asset when there is one, else the fallback symbol; nullopt when neither exists.
std::optional<QImage> getImage(UploadProvider provider, double size);
QString logoAssetName(UploadProvider provider); // empty for providers without a logo
QString fallbackSymbolName(UploadProvider provider);

} // namespace UploadProviders
