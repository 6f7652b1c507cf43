#pragma once

#include "cloud/DecodingError.h"

#include <QString>

#include <optional>

// The cloud client's own errors. Transport failures and the service's error body reach callers as
// themselves (see CloudError); these are the cases the client decides on.
struct APIClientError {
    enum class Case {
        httpError,        // status >= 400 (not 401) whose body is not a service error body
        decodingError,    // a successful answer that does not decode into its model
        encodingError,    // not raised: request bodies are always valid JSON
        networkError,     // not raised: transport failures are handed on unwrapped
        invalidURL,       // no address can be formed from the root and a path
        invalidResponse,  // an answer that is not an HTTP response
        unauthorized,     // status 401, or a request that needs the token while none is held
        missingCsrfToken, // still no "XSRF-TOKEN" cookie after asking the service for one
        responseTooLarge, // a successful answer longer than the client reads (APIClient::maxAnswerBytes)
    };

    Case kind = Case::invalidResponse;
    int statusCode = 0;                        // httpError
    std::optional<DecodingError> decoding;     // decodingError
    QString underlyingDescription;             // encodingError, networkError

    static APIClientError httpError(int statusCode);
    static APIClientError decodingError(const DecodingError& error);
    static APIClientError invalidURL() { return of(Case::invalidURL); }
    static APIClientError invalidResponse() { return of(Case::invalidResponse); }
    static APIClientError unauthorized() { return of(Case::unauthorized); }
    static APIClientError missingCsrfToken() { return of(Case::missingCsrfToken); }
    static APIClientError responseTooLarge() { return of(Case::responseTooLarge); }
    static APIClientError of(Case kind)
    {
        APIClientError e;
        e.kind = kind;
        return e;
    }

    // The English text shown for the error.
    QString errorDescription() const;
    QString localizedDescription() const { return errorDescription(); }
    // The case with its payload, as a developer reads it: "httpError(statusCode: 500)".
    QString debugDescription() const;

    friend bool operator==(const APIClientError&, const APIClientError&) = default;
};
