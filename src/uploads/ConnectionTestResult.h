#pragma once

#include "platform/AppError.h"

#include <optional>

// The outcome of a connection test: reached or not, or an error whose text the settings window
// shows. `success` is false whenever `error` is set.
struct ConnectionTestResult {
    bool success = false;
    std::optional<platform::AppError> error;

    static ConnectionTestResult reached(bool success) { return {success, std::nullopt}; }
    static ConnectionTestResult failed(const platform::AppError& error) { return {false, error}; }
};
