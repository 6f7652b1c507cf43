#pragma once

#include "cloud/APIClientError.h"
#include "cloud/APIError.h"
#include "cloud/TransportError.h"

#include <QString>

#include <variant>

// What a failed operation of the cloud client hands to its completion: one of the client's own
// errors, the service's error body, or a transport failure. Callers tell them apart by kind.
class CloudError {
public:
    CloudError(APIClientError error)
        : m_error(std::move(error))
    {
    }
    CloudError(APIError error)
        : m_error(std::move(error))
    {
    }
    CloudError(TransportError error)
        : m_error(std::move(error))
    {
    }

    const APIClientError* clientError() const { return std::get_if<APIClientError>(&m_error); }
    const APIError* apiError() const { return std::get_if<APIError>(&m_error); }
    const TransportError* transportError() const { return std::get_if<TransportError>(&m_error); }
    bool is(APIClientError::Case kind) const { return clientError() && clientError()->kind == kind; }

    // The text for the user.
    QString localizedDescription() const;
    // The kind and payload, for developers' lines.
    QString debugDescription() const;

    friend bool operator==(const CloudError&, const CloudError&) = default;

private:
    std::variant<APIClientError, APIError, TransportError> m_error;
};
