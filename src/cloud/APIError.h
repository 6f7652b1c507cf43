#pragma once

#include "cloud/DecodingError.h"
#include "cloud/Expected.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <nlohmann/json.hpp>

#include <optional>

// The service's error body, sent with a status of 400 or more; the client hands it on as an error.
struct APIError {
    QString message;
    std::optional<QMap<QString, QStringList>> errors; // field name -> that field's messages

    // The message, then every field message on a line of its own (fields in name order).
    QString localizedDescription() const;

    static Expected<APIError, DecodingError> decode(const nlohmann::json& json, const QString& path = QString());
    nlohmann::json toJson() const;

    friend bool operator==(const APIError&, const APIError&) = default;
};
