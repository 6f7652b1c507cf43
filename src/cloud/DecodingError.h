#pragma once

#include <QString>

// Why a response body did not decode into its model. The coding path names the member where
// decoding stopped ("user.subscription.plan.currency"); empty for the top level.
struct DecodingError {
    enum class Kind {
        keyNotFound,   // a required key is missing
        valueNotFound, // a required key holds null
        typeMismatch,  // a value of the wrong JSON type
        dataCorrupted, // not JSON at all, or a rule of the model is broken
    };

    Kind kind = Kind::dataCorrupted;
    QString codingPath;
    QString debugDescription;

    static DecodingError keyNotFound(const QString& path);
    static DecodingError valueNotFound(const QString& path);
    static DecodingError typeMismatch(const QString& path, const QString& expected);
    static DecodingError dataCorrupted(const QString& path, const QString& description);

    // The general sentence of the kind, then the detail.
    QString localizedDescription() const;

    friend bool operator==(const DecodingError&, const DecodingError&) = default;
};
