#include "app/SecureCredentials.h"

#include <gtest/gtest.h>

TEST(SecureCredentials, DecodeTable)
{
    const struct {
        const char* json;
        bool decodes;
    } cases[] = {
        {R"({"ftpPassword":"","yandexAccessToken":"","yandexRefreshToken":"","kestrovaApiToken":"","ftpPasswords":{}})", true},
        {R"({"ftpPassword":"p","yandexAccessToken":"a","yandexRefreshToken":"r","kestrovaApiToken":"k","ftpPasswords":{"u@h":"x"},"extra":5})", true},
        {R"({"ftpPassword":"","yandexAccessToken":"","yandexRefreshToken":"","ftpPasswords":{}})", false}, // no api token
        {R"({"ftpPassword":"","yandexAccessToken":"","yandexRefreshToken":"","kestrovaApiToken":""})", false}, // no map
        {R"({"ftpPassword":1,"yandexAccessToken":"","yandexRefreshToken":"","kestrovaApiToken":"","ftpPasswords":{}})", false},
        {R"({"ftpPassword":"","yandexAccessToken":"","yandexRefreshToken":"","kestrovaApiToken":"","ftpPasswords":{"u@h":2}})", false},
        {R"({"ftpPassword":"","yandexAccessToken":"","yandexRefreshToken":"","kestrovaApiToken":null,"ftpPasswords":{}})", false},
        {R"([])", false},
        {R"({"ftpPassword":"")", false},
        {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SecureCredentials::fromJson(c.json).has_value(), c.decodes) << c.json;
}

TEST(SecureCredentials, RoundTripsWithEveryKeyAndKeepsUnicode)
{
    SecureCredentials record;
    record.ftpPassword = "p\"w\\";
    record.yandexAccessToken = "токен";
    record.kestrovaApiToken = "k";
    record.ftpPasswords.insert(SecureCredentials::passwordKey("user", "host"), "секрет");
    const QByteArray json = record.toJson();
    EXPECT_FALSE(json.contains('\n'));
    EXPECT_EQ(SecureCredentials::fromJson(json), record);

    const QByteArray empty = SecureCredentials{}.toJson();
    EXPECT_EQ(empty, R"({"ftpPassword":"","yandexAccessToken":"","yandexRefreshToken":"","kestrovaApiToken":"","ftpPasswords":{}})");
}
