#pragma once

#include "screenshots/UploadFailure.h"

#include <QString>

// Why a screenshot upload to the cloud failed. Each case has a Russian text for the user and an
// English technical text for reports and the log; the service's and the network's messages are
// mapped to user texts by keyword tables, the technical text keeps them as they came.
class UploadError {
public:
    enum class Case {
        fileTooLarge,          // not raised: the service enforces its own limit
        apiError,              // the service answered with its error body
        networkError,          // every other failure of the upload call
        notAuthenticated,      // no signed-in account
        imageConversionFailed, // the image gave no PNG
        noPublicURL,           // stored, but the answer names neither a link nor a slug
    };

    static UploadError fileTooLarge(const QString& maxSize) { return {Case::fileTooLarge, maxSize}; }
    static UploadError apiError(const QString& message) { return {Case::apiError, message}; }
    static UploadError networkError(const QString& message) { return {Case::networkError, message}; }
    static UploadError notAuthenticated() { return {Case::notAuthenticated, QString()}; }
    static UploadError imageConversionFailed() { return {Case::imageConversionFailed, QString()}; }
    static UploadError noPublicURL() { return {Case::noPublicURL, QString()}; }

    Case kind() const { return m_kind; }
    // The maximum size, or the message of apiError and networkError; empty for the other cases.
    const QString& payload() const { return m_payload; }

    // The text for the user.
    QString errorDescription() const;
    QString localizedDescription() const { return errorDescription(); }
    // "UploadError.apiError: " + the service's message, unmapped.
    QString technicalDescription() const;
    // The case with its payload, as the log shows the value: "apiError(\"Server Error\")".
    QString description() const;
    // The failure as the screenshot preview reports it.
    UploadFailure failure() const;

    friend bool operator==(const UploadError&, const UploadError&) = default;

private:
    UploadError(Case kind, QString payload)
        : m_kind(kind)
        , m_payload(std::move(payload))
    {
    }

    static QString parseAPIErrorMessage(const QString& message);
    static QString parseNetworkErrorMessage(const QString& message);

    Case m_kind;
    QString m_payload;
};
