#include "app/UploadProvider.h"

#include "platform/ImageAssets.h"
#include "platform/SystemColors.h"

namespace UploadProviders {

const QList<UploadProvider>& allCases()
{
    static const QList<UploadProvider> cases = {
        UploadProvider::kestrovaCloud, UploadProvider::ssh, UploadProvider::yandexDisk,
        UploadProvider::dropbox, UploadProvider::googleDrive, UploadProvider::webdav,
    };
    return cases;
}

QString rawValue(UploadProvider provider)
{
    switch (provider) {
    case UploadProvider::kestrovaCloud: return QStringLiteral("kestrova");
    case UploadProvider::ssh: return QStringLiteral("ssh");
    case UploadProvider::yandexDisk: return QStringLiteral("yandex");
    case UploadProvider::dropbox: return QStringLiteral("dropbox");
    case UploadProvider::googleDrive: return QStringLiteral("gdrive");
    case UploadProvider::webdav: return QStringLiteral("webdav");
    }
    return {};
}

std::optional<UploadProvider> fromRawValue(const QString& raw)
{
    for (UploadProvider p : allCases())
        if (rawValue(p) == raw)
            return p;
    return std::nullopt;
}

QString displayName(UploadProvider provider)
{
    switch (provider) {
    case UploadProvider::kestrovaCloud: return QStringLiteral("Kestrova Cloud");
    case UploadProvider::ssh: return QStringLiteral("SSH/SFTP");
    case UploadProvider::yandexDisk: return QStringLiteral("Яндекс.Диск");
    case UploadProvider::dropbox: return QStringLiteral("Dropbox");
    case UploadProvider::googleDrive: return QStringLiteral("Google Drive");
    case UploadProvider::webdav: return QStringLiteral("WebDAV");
    }
    return {};
}

QColor color(UploadProvider provider)
{
    using platform::SystemColors;
    switch (provider) {
    case UploadProvider::kestrovaCloud: return SystemColors::purple();
    case UploadProvider::ssh: return SystemColors::orange();
    case UploadProvider::yandexDisk: return SystemColors::yellow();
    case UploadProvider::dropbox: return SystemColors::blue();
    case UploadProvider::googleDrive: return SystemColors::green();
    case UploadProvider::webdav: return SystemColors::gray();
    }
    return {};
}

QString logoAssetName(UploadProvider provider)
{
    switch (provider) {
    case UploadProvider::kestrovaCloud: return QStringLiteral("KestrovaLogo");
    case UploadProvider::yandexDisk: return QStringLiteral("YandexLogo");
    case UploadProvider::dropbox: return QStringLiteral("DropboxLogo");
    case UploadProvider::googleDrive: return QStringLiteral("GoogleDriveLogo");
    case UploadProvider::ssh:
    case UploadProvider::webdav: return {};
    }
    return {};
}

QString fallbackSymbolName(UploadProvider provider)
{
    switch (provider) {
    case UploadProvider::kestrovaCloud: return QStringLiteral("cloud.fill");
    case UploadProvider::ssh: return QStringLiteral("server.rack");
    case UploadProvider::yandexDisk: return QStringLiteral("arrow.down.circle.fill");
    case UploadProvider::dropbox: return QStringLiteral("shippingbox.fill");
    case UploadProvider::googleDrive: return QStringLiteral("externaldrive.badge.icloud");
    case UploadProvider::webdav: return QStringLiteral("globe");
    }
    return {};
}

std::optional<QImage> getImage(UploadProvider provider, double size)
{
    const QString asset = logoAssetName(provider);
    if (!asset.isEmpty())
        if (auto logo = platform::ImageAssets::named(asset, size))
            return logo;
    auto symbol = platform::ImageAssets::symbol(fallbackSymbolName(provider), size, color(provider));
    if (symbol)
        symbol->setText(QStringLiteral("Description"), displayName(provider));
    return symbol;
}

} // namespace UploadProviders
