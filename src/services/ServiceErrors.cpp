#include "services/ServiceErrors.h"

const char *ServiceAPIError::what() const noexcept
{
    switch (m_kind) {
    case Kind::rejected: return "service refused the call with an error code";
    case Kind::serverRefused: return "service refused the call";
    case Kind::invalidCredential: return "unusable e-mail address or password";
    case Kind::invalidResponse: return "unusable answer or address";
    case Kind::unauthorized: return "not signed in";
    case Kind::sessionExpired: return "no stored session to renew";
    }
    return "service error";
}

const char *ServiceNetworkError::what() const noexcept
{
    switch (m_code) {
    case Code::timedOut: return "the request timed out";
    case Code::cancelled: return "the request was cancelled";
    case Code::cannotConnectToHost: return "could not connect to the server";
    case Code::connectionLost: return "the connection was lost";
    case Code::dataLengthExceedsMaximum: return "the answer was larger than allowed";
    case Code::secureConnectionFailed: return "a secure connection could not be made";
    case Code::badURL: return "bad address";
    case Code::other: break;
    }
    return "network failure";
}

ServiceDecodingError::ServiceDecodingError(Kind kind, QString key, QString description)
    : m_kind(kind), m_key(std::move(key)), m_description(std::move(description))
{
    m_what = (m_key.isEmpty() ? m_description : m_key + QStringLiteral(": ") + m_description).toStdString();
}

ServiceDecodingError ServiceDecodingError::nested(const QString &outer) const
{
    QString path = outer;
    if (!m_key.isEmpty())
        path += m_key.startsWith(QLatin1Char('[')) ? m_key : QLatin1Char('.') + m_key;
    return ServiceDecodingError(m_kind, path, m_description);
}

bool answerMayBeLost(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const ServiceNetworkError &e) {
        return e.mayHaveLeft() && (e.code() == ServiceNetworkError::Code::timedOut ||
                                   e.code() == ServiceNetworkError::Code::connectionLost ||
                                   e.code() == ServiceNetworkError::Code::dataLengthExceedsMaximum);
    } catch (const ServiceDecodingError &) {
        return true;
    } catch (const ServiceAPIError &e) {
        return e.kind() == ServiceAPIError::Kind::invalidResponse;
    } catch (...) {
        return true;
    }
}
