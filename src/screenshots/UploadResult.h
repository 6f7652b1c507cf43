#pragma once

#include "screenshots/UploadFailure.h"

#include <QString>

#include <functional>
#include <optional>

// What an upload's completion receives: the public link, or the failure.
struct UploadResult {
    std::optional<QString> link;
    std::optional<UploadFailure> failure;

    static UploadResult success(const QString& link) { return {link, std::nullopt}; }
    static UploadResult error(UploadFailure failure) { return {std::nullopt, std::move(failure)}; }
    bool succeeded() const { return link.has_value(); }
};

using UploadCompletion = std::function<void(const UploadResult&)>;
