#include "cloud/APIError.h"
#include "cloud/AnyCodable.h"
#include "cloud/LoginRequest.h"
#include "cloud/LoginResponse.h"
#include "cloud/MediaFile.h"
#include "cloud/RegisterRequest.h"
#include "cloud/RegisterResponse.h"
#include "cloud/StorageUsage.h"
#include "cloud/UploadResponse.h"
#include "cloud/JSONObjectDecoder.h"
#include "cloud/UserResponse.h"

#include <gtest/gtest.h>

#include <limits>

using nlohmann::json;

namespace {

json user(int id = 1, const char* name = "Ann")
{
    return {{"id", id}, {"name", name}, {"email", "ann@example.com"}};
}

json mediaFile()
{
    return {{"id", 7},         {"user_id", 1},     {"file_name", "a.png"},       {"mime_type", "image/png"},
            {"file_size", 10}, {"is_public", true}, {"created_at", "2024-01-01"}, {"updated_at", "2024-01-02"}};
}

json plan(json features)
{
    return {{"id", 3},           {"name", "Pro"},     {"slug", "pro"},          {"price", 9.99},
            {"currency", "EUR"}, {"billing_period", "month"}, {"features", features}, {"is_active", true},
            {"display_order", 1}, {"created_at", "c"}, {"updated_at", "u"}};
}

} // namespace

TEST(LoginResponse, TokenAndUserFromEveryShape)
{
    struct Case {
        const char* name;
        json body;
        const char* token;
        std::optional<QString> userName;
    };
    const std::vector<Case> cases = {
        {"token only", {{"token", "a"}}, "a", std::nullopt},
        {"access_token only", {{"access_token", "b"}}, "b", std::nullopt},
        {"accessToken only", {{"accessToken", "c"}}, "c", std::nullopt},
        {"token wins over access_token", {{"access_token", "2"}, {"token", "1"}}, "1", std::nullopt},
        {"data envelope", {{"data", {{"accessToken", "d"}, {"user", user(2, "Dan")}}}}, "d", "Dan"},
        {"top-level token beats data", {{"token", "top"}, {"data", {{"token", "inner"}}}}, "top", std::nullopt},
        {"top-level user beats data's",
         {{"data", {{"token", "inner"}, {"user", user(2, "Inner")}}}, {"user", user(3, "Outer")}}, "inner", "Outer"},
        {"empty token is a token", {{"token", ""}}, "", std::nullopt},
        {"extra members are ignored", {{"token", "t"}, {"expires_in", 3600}, {"user", user()}}, "t", "Ann"},
    };
    for (const Case& c : cases) {
        auto decoded = LoginResponse::decode(c.body);
        ASSERT_TRUE(decoded) << c.name << ": " << decoded.error().localizedDescription().toStdString();
        EXPECT_EQ(decoded->token, QString::fromUtf8(c.token)) << c.name;
        EXPECT_EQ(decoded->user ? std::optional<QString>(decoded->user->name) : std::nullopt, c.userName) << c.name;

        auto registered = RegisterResponse::decode(c.body);
        ASSERT_TRUE(registered) << c.name;
        EXPECT_EQ(registered->token, decoded->token) << c.name;
        EXPECT_EQ(registered->user, decoded->user) << c.name;
    }
}

TEST(LoginResponse, Failures)
{
    auto missing = LoginResponse::decode({{"user", user()}});
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().kind, DecodingError::Kind::dataCorrupted);
    EXPECT_EQ(missing.error().debugDescription, "Missing token in login response");
    EXPECT_FALSE(RegisterResponse::decode({{"data", {{"user", user()}}}}));

    // A broken user fails both shapes; the answer fails with the wrapper's error, at the user.
    auto brokenUser = LoginResponse::decode({{"token", "t"}, {"user", {{"id", 1}}}});
    ASSERT_FALSE(brokenUser);
    EXPECT_EQ(brokenUser.error().kind, DecodingError::Kind::keyNotFound);
    EXPECT_EQ(brokenUser.error().codingPath, "user.name");

    auto numberToken = LoginResponse::decode({{"token", 5}});
    ASSERT_FALSE(numberToken);
    EXPECT_EQ(numberToken.error().kind, DecodingError::Kind::typeMismatch);
    EXPECT_FALSE(LoginResponse::decode(json::array()));
}

TEST(User, NestedRecordsAndStrictMembers)
{
    json record = user();
    record["display_name"] = nullptr; // null is absent for optional members
    record["subscription"] = {{"id", 1},         {"user_id", 1},    {"plan_id", 3},
                              {"status", "active"}, {"created_at", "c"}, {"updated_at", "u"},
                              {"plan", plan({{"max_storage_bytes", 10}})}};
    record["unknown_member"] = {1, 2, 3};
    auto decoded = UserResponse::decode({{"user", record}});
    ASSERT_TRUE(decoded) << decoded.error().localizedDescription().toStdString();
    EXPECT_FALSE(decoded->user.displayName);
    ASSERT_TRUE(decoded->user.subscription && decoded->user.subscription->plan);
    EXPECT_EQ(decoded->user.subscription->plan->price, "9.99"); // exact decimal, not 9.9900000000000002
    EXPECT_EQ(decoded->user.subscription->plan->currency, "EUR");

    // One broken member at any depth fails the whole answer.
    json noCurrency = record;
    noCurrency["subscription"]["plan"].erase("currency");
    auto failed = UserResponse::decode({{"user", noCurrency}});
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().codingPath, "user.subscription.plan.currency");
    json stringPrice = record;
    stringPrice["subscription"]["plan"]["price"] = "9.99";
    EXPECT_FALSE(UserResponse::decode({{"user", stringPrice}}));
    json floatId = user();
    floatId["id"] = 1.5;
    EXPECT_FALSE(User::decode(floatId));
    json wrongOptional = user();
    wrongOptional["locale"] = 5; // optional, but a present value must have its type
    EXPECT_FALSE(User::decode(wrongOptional));
    EXPECT_FALSE(UserResponse::decode(json::object()));
}

TEST(MediaFile, SecondKeysAndLenientMembers)
{
    json alternate = mediaFile();
    alternate.erase("file_name");
    alternate.erase("file_size");
    alternate["filename"] = "b.mp4";
    alternate["size_bytes"] = 20;
    alternate["disk"] = "s3";
    alternate["path"] = "x/b.mp4";
    auto f = MediaFile::decode(alternate);
    ASSERT_TRUE(f) << f.error().localizedDescription().toStdString();
    EXPECT_EQ(f->fileName, "b.mp4");
    EXPECT_EQ(f->fileSize, 20);
    EXPECT_EQ(f->storageProvider, "s3");
    EXPECT_EQ(f->storagePath, "x/b.mp4");

    // The first key wins when both are there.
    json both = alternate;
    both["file_name"] = "first.png";
    EXPECT_EQ(MediaFile::decode(both)->fileName, "first.png");

    json odd = mediaFile();
    odd["public_url"] = 5;
    odd["original_name"] = json::array();
    odd["metadata"] = "not an object";
    odd["thumbnail_path"] = nullptr;
    auto lenient = MediaFile::decode(odd);
    ASSERT_TRUE(lenient);
    EXPECT_FALSE(lenient->publicUrl);
    EXPECT_FALSE(lenient->originalName);
    EXPECT_FALSE(lenient->metadata);
    EXPECT_FALSE(lenient->thumbnailPath);
}

TEST(MediaFile, PublicFlagAndSlug)
{
    struct Case {
        const char* name;
        json isPublic; // null: key left out
        json publicSlug;
        bool expectedPublic;
        std::optional<QString> expectedSlug;
    };
    const std::vector<Case> cases = {
        {"slug only", nullptr, "abc", true, "abc"},
        {"false beats slug", false, "abc", false, "abc"},
        {"neither", nullptr, nullptr, false, std::nullopt},
        {"number 1 falls back to the slug rule", 1, nullptr, false, std::nullopt},
        {"number 1 with slug", 1, "s", true, "s"},
        {"true", true, nullptr, true, std::nullopt},
    };
    for (const Case& c : cases) {
        json record = mediaFile();
        record.erase("is_public");
        if (!c.isPublic.is_null())
            record["is_public"] = c.isPublic;
        if (!c.publicSlug.is_null())
            record["public_slug"] = c.publicSlug;
        auto f = MediaFile::decode(record);
        ASSERT_TRUE(f) << c.name;
        EXPECT_EQ(f->isPublic, c.expectedPublic) << c.name;
        EXPECT_EQ(f->slug, c.expectedSlug) << c.name;
    }
    json both = mediaFile();
    both["slug"] = "first";
    both["public_slug"] = "second";
    EXPECT_EQ(MediaFile::decode(both)->slug, "first");
}

TEST(MediaFile, RequiredMembers)
{
    for (const char* key : {"id", "user_id", "mime_type", "created_at", "updated_at"}) {
        json record = mediaFile();
        record.erase(key);
        EXPECT_FALSE(MediaFile::decode(record)) << key;
    }
    json noName = mediaFile();
    noName.erase("file_name");
    auto failed = MediaFile::decode(noName);
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().codingPath, "filename"); // the second key's error
    json noSize = mediaFile();
    noSize["file_size"] = "10";
    EXPECT_EQ(MediaFile::decode(noSize).error().codingPath, "size_bytes");
}

TEST(MediaFile, EncodesTheFirstKeysOnly)
{
    json alternate = mediaFile();
    alternate.erase("file_name");
    alternate.erase("is_public");
    alternate["filename"] = "b.mp4";
    alternate["disk"] = "s3";
    alternate["public_slug"] = "s";
    const json written = MediaFile::decode(alternate)->toJson();
    EXPECT_EQ(written["file_name"], "b.mp4");
    EXPECT_EQ(written["storage_provider"], "s3");
    EXPECT_EQ(written["slug"], "s");
    EXPECT_EQ(written["is_public"], true);
    for (const char* key : {"filename", "size_bytes", "disk", "path", "public_slug", "public_url"})
        EXPECT_FALSE(written.contains(key)) << key;
    EXPECT_EQ(*MediaFile::decode(written), *MediaFile::decode(alternate));
}

TEST(UploadResponse, FileUrlAndMessage)
{
    auto r = UploadResponse::decode({{"file", mediaFile()}, {"url", "https://x/f"}, {"extra", 1}});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->url, "https://x/f");
    EXPECT_FALSE(r->message);
    EXPECT_FALSE(UploadResponse::decode({{"url", "https://x/f"}}));
    EXPECT_FALSE(UploadResponse::decode({{"file", mediaFile()}, {"url", 3}}));
}

TEST(SubscriptionPlan, DerivedLimitsTakeWholeNumbersOnly)
{
    struct Case {
        const char* name;
        json value;
        std::optional<qint64> expected;
    };
    const std::vector<Case> cases = {
        {"whole number", 10737418240LL, 10737418240LL},
        {"float literal", 1.5e10, std::nullopt},
        {"whole float literal", 10.0, std::nullopt},
        {"string", "10737418240", std::nullopt},
        {"boolean", true, std::nullopt},
        {"null", nullptr, std::nullopt},
    };
    for (const Case& c : cases) {
        auto p = SubscriptionPlan::decode(
            plan({{"max_storage_bytes", c.value}, {"max_file_size_bytes", c.value}, {"max_monthly_uploads", c.value}}));
        ASSERT_TRUE(p) << c.name;
        EXPECT_EQ(p->maxStorageBytes(), c.expected) << c.name;
        EXPECT_EQ(p->maxFileSizeBytes(), c.expected) << c.name;
        EXPECT_EQ(p->maxMonthlyUploads(), c.expected) << c.name;
    }
    auto empty = SubscriptionPlan::decode(plan(json::object()));
    ASSERT_TRUE(empty);
    EXPECT_FALSE(empty->maxStorageBytes());
    EXPECT_FALSE(SubscriptionPlan::decode(plan(json::array())));
}

TEST(AnyCodable, KindsOfValues)
{
    const json value = {{"b", true}, {"i", 3}, {"d", 3.0}, {"s", "x"}, {"n", nullptr}, {"a", {1, "two", false}},
                        {"o", {{"k", -1}}}, {"big", 18446744073709551615ULL}};
    const AnyCodable::Object o = AnyCodable::decodeObject(value);
    EXPECT_EQ(o.at("b").boolValue(), true);
    EXPECT_FALSE(o.at("b").intValue());
    EXPECT_EQ(o.at("i").intValue(), 3);
    EXPECT_FALSE(o.at("d").intValue());
    EXPECT_EQ(o.at("d").doubleValue(), 3.0);
    EXPECT_EQ(o.at("s").stringValue(), "x");
    EXPECT_TRUE(o.at("n").isNull());
    const auto& array = std::get<AnyCodable::Array>(o.at("a").value);
    ASSERT_EQ(array.size(), 3u);
    EXPECT_EQ(array[1].stringValue(), "two");
    EXPECT_EQ(std::get<AnyCodable::Object>(o.at("o").value).at("k").intValue(), -1);
    EXPECT_TRUE(o.at("big").doubleValue()); // beyond 64 signed bits
    EXPECT_EQ(AnyCodable::toJson(o)["a"], json({1, "two", false}));
    EXPECT_EQ(AnyCodable::toJson(o)["d"].is_number_float(), true);
}

TEST(StorageUsage, DerivedFromTheAccountRecord)
{
    struct Case {
        const char* name;
        json record;
        qint64 total, used, remaining, uploads, maxFile;
        std::optional<qint64> monthly;
    };
    json subscription = {{"id", 1},         {"user_id", 1},    {"plan_id", 3},
                         {"status", "active"}, {"created_at", "c"}, {"updated_at", "u"},
                         {"plan", plan({{"max_storage_bytes", 5000}, {"max_file_size_bytes", 700},
                                        {"max_monthly_uploads", 9}})}};
    auto with = [](json base, json extra) {
        base.update(extra);
        return base;
    };
    const std::vector<Case> cases = {
        {"used only", with(user(), {{"usage", {{"used_bytes", 100}}}}), 0, 100, 0, 0, 0, std::nullopt},
        {"plan limits",
         with(user(), {{"usage", json::object()},
                       {"plan", {{"name", "F"}, {"slug", "f"}, {"storage_limit_bytes", 1000}, {"max_monthly_uploads", 50}}}}),
         1000, 0, 1000, 0, 1000, 50},
        {"usage total wins",
         with(user(), {{"usage", {{"total_bytes", 10}, {"used_bytes", 4}, {"uploads_this_month", 2}}},
                       {"plan", {{"name", "F"}, {"slug", "f"}, {"storage_limit_bytes", 1000}}}}),
         10, 4, 6, 2, 10, std::nullopt},
        {"subscription plan features",
         with(user(), {{"usage", {{"used_bytes", 6000}}}, {"subscription", subscription}}), 5000, 6000, 0, 0, 700, 9},
        {"user plan beats subscription",
         with(user(), {{"usage", json::object()},
                       {"plan", {{"name", "F"}, {"slug", "f"}, {"upload_limit_bytes", 1}, {"max_monthly_uploads", 2}}},
                       {"subscription", subscription}}),
         5000, 0, 5000, 0, 1, 2},
        {"no overflow at the ends of the range",
         with(user(), {{"usage", {{"total_bytes", std::numeric_limits<qint64>::max()},
                                  {"used_bytes", std::numeric_limits<qint64>::min()}}}}),
         std::numeric_limits<qint64>::max(), std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max(), 0,
         std::numeric_limits<qint64>::max(), std::nullopt},
    };
    for (const Case& c : cases) {
        auto u = User::decode(c.record);
        ASSERT_TRUE(u) << c.name << ": " << u.error().localizedDescription().toStdString();
        auto s = StorageUsage::from(*u);
        ASSERT_TRUE(s) << c.name;
        EXPECT_EQ(s->totalBytes, c.total) << c.name;
        EXPECT_EQ(s->usedBytes, c.used) << c.name;
        EXPECT_EQ(s->remainingBytes, c.remaining) << c.name;
        EXPECT_EQ(s->uploadCount, c.uploads) << c.name;
        EXPECT_EQ(s->monthlyUploadsUsed, c.uploads) << c.name;
        EXPECT_EQ(s->maxFileSize, c.maxFile) << c.name;
        EXPECT_EQ(s->maxMonthlyUploads, c.monthly) << c.name;
        EXPECT_EQ(*StorageUsage::decode(s->toJson()), *s) << c.name;
    }
    auto noUsage = User::decode(with(user(), {{"plan", {{"name", "F"}, {"slug", "f"}, {"storage_limit_bytes", 1}}}}));
    EXPECT_FALSE(StorageUsage::from(*noUsage));
}

TEST(APIError, TextOfMessageAndFieldErrors)
{
    struct Case {
        json body;
        const char* text;
    };
    const std::vector<Case> cases = {
        {{{"message", "M"}}, "M"},
        {{{"message", "M"}, {"errors", json::object()}}, "M"},
        {{{"message", "M"}, {"errors", {{"email", {"E1", "E2"}}}}}, "M\nE1\nE2"},
        {{{"message", "M"}, {"errors", {{"email", json::array()}}}}, "M\n"},
        {{{"message", "M"}, {"errors", {{"password", {"P"}}, {"email", {"E"}}}}}, "M\nE\nP"},
        {{{"message", "M"}, {"errors", nullptr}}, "M"},
    };
    for (const Case& c : cases) {
        auto e = APIError::decode(c.body);
        ASSERT_TRUE(e) << c.body.dump();
        EXPECT_EQ(e->localizedDescription(), QString::fromUtf8(c.text)) << c.body.dump();
    }
    EXPECT_FALSE(APIError::decode({{"errors", {{"email", {"E"}}}}}));
    EXPECT_FALSE(APIError::decode({{"message", "M"}, {"errors", {{"email", "E"}}}}));
}

TEST(Requests, BodiesUseTheServiceKeys)
{
    EXPECT_EQ(LoginRequest({" a@b ", "p\"w"}).toJson().dump(), R"({"email":" a@b ","password":"p\"w"})");
    const json r = RegisterRequest({"Анна", "a@b", "12345678", "12345678"}).toJson();
    EXPECT_EQ(r["name"], "Анна");
    EXPECT_EQ(r["password_confirmation"], "12345678");
    EXPECT_EQ(r.size(), 4u);
}

TEST(DecodingErrors, BodiesThatAreNotJSON)
{
    for (const QByteArray& body : {QByteArray(), QByteArray("<html>"), QByteArray("{\"a\":"), QByteArray("\xff\xfe")}) {
        auto parsed = JSONObjectDecoder::parse(body);
        ASSERT_FALSE(parsed) << body.toStdString();
        EXPECT_EQ(parsed.error().kind, DecodingError::Kind::dataCorrupted);
        EXPECT_TRUE(parsed.error().localizedDescription().startsWith("The data couldn't be read"));
    }
}
