#include "cloud/CloudError.h"

QString CloudError::localizedDescription() const
{
    if (auto* e = clientError())
        return e->localizedDescription();
    if (auto* e = apiError())
        return e->localizedDescription();
    return std::get<TransportError>(m_error).localizedDescription;
}

QString CloudError::debugDescription() const
{
    if (auto* e = clientError())
        return QStringLiteral("APIClientError.") + e->debugDescription();
    if (auto* e = apiError())
        return QStringLiteral("APIError(message: \"%1\")").arg(e->message);
    return std::get<TransportError>(m_error).debugDescription();
}
