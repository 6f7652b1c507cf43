#include "cloud/DecodingError.h"

DecodingError DecodingError::keyNotFound(const QString& path)
{
    return {Kind::keyNotFound, path, QStringLiteral("No value associated with key \"%1\".").arg(path)};
}

DecodingError DecodingError::valueNotFound(const QString& path)
{
    return {Kind::valueNotFound, path, QStringLiteral("Expected a value at \"%1\" but found null instead.").arg(path)};
}

DecodingError DecodingError::typeMismatch(const QString& path, const QString& expected)
{
    return {Kind::typeMismatch, path,
            QStringLiteral("Expected to decode %1 at \"%2\" but found another kind of value instead.").arg(expected, path)};
}

DecodingError DecodingError::dataCorrupted(const QString& path, const QString& description)
{
    return {Kind::dataCorrupted, path, description};
}

QString DecodingError::localizedDescription() const
{
    const bool missing = kind == Kind::keyNotFound || kind == Kind::valueNotFound;
    const QString sentence = missing ? QStringLiteral("The data couldn't be read because it is missing.")
                                     : QStringLiteral("The data couldn't be read because it isn't in the correct format.");
    return debugDescription.isEmpty() ? sentence : sentence + QStringLiteral(" (") + debugDescription + QLatin1Char(')');
}
