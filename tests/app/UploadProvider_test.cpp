#include "app/AnnotationType.h"
#include "app/UploadProvider.h"
#include "platform/ImageAssets.h"

#include <gtest/gtest.h>

TEST(UploadProvider, RawValuesParseExactly)
{
    const QStringList valid = {"kestrova", "ssh", "yandex", "dropbox", "gdrive", "webdav"};
    ASSERT_EQ(UploadProviders::allCases().size(), valid.size());
    for (int i = 0; i < valid.size(); ++i) {
        const auto parsed = UploadProviders::fromRawValue(valid[i]);
        ASSERT_TRUE(parsed) << valid[i].toStdString();
        EXPECT_EQ(*parsed, UploadProviders::allCases()[i]);
        EXPECT_EQ(UploadProviders::rawValue(*parsed), valid[i]);
    }
    for (const char* invalid : {"Kestrova", "", "gdrive ", "ftp"})
        EXPECT_FALSE(UploadProviders::fromRawValue(invalid)) << invalid;
    EXPECT_EQ(UploadProviders::displayName(UploadProvider::yandexDisk), "Яндекс.Диск");
    EXPECT_EQ(UploadProviders::displayName(UploadProvider::ssh), "SSH/SFTP");
}

TEST(UploadProvider, EveryProviderHasAnImageAndMissingLogosFallBack)
{
    for (UploadProvider p : UploadProviders::allCases()) {
        const auto image = UploadProviders::getImage(p, 16);
        ASSERT_TRUE(image) << UploadProviders::rawValue(p).toStdString();
        EXPECT_EQ(image->deviceIndependentSize(), QSizeF(16, 16));
    }
    EXPECT_TRUE(UploadProviders::logoAssetName(UploadProvider::ssh).isEmpty());
    EXPECT_TRUE(UploadProviders::logoAssetName(UploadProvider::webdav).isEmpty());

    const QImage logo = *UploadProviders::getImage(UploadProvider::yandexDisk, 20);
    platform::ImageAssets::setHiddenForTesting({"YandexLogo"});
    const QImage fallback = *UploadProviders::getImage(UploadProvider::yandexDisk, 20);
    platform::ImageAssets::setHiddenForTesting({});
    EXPECT_EQ(fallback, *platform::ImageAssets::symbol("arrow.down.circle.fill", 20, UploadProviders::color(UploadProvider::yandexDisk)));
    EXPECT_NE(fallback, logo);
    EXPECT_EQ(fallback.deviceIndependentSize(), QSizeF(20, 20));
}

TEST(AnnotationType, RawValuesEqualNames)
{
    const QStringList names = {"arrow", "line", "rectangle", "circle", "text", "pen", "blur"};
    ASSERT_EQ(AnnotationTypes::allCases().size(), names.size());
    for (int i = 0; i < names.size(); ++i) {
        EXPECT_EQ(AnnotationTypes::rawValue(AnnotationTypes::allCases()[i]), names[i]);
        EXPECT_EQ(AnnotationTypes::fromRawValue(names[i]), AnnotationTypes::allCases()[i]);
    }
    EXPECT_FALSE(AnnotationTypes::fromRawValue("Arrow"));
}
