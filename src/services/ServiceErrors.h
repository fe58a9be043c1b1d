#pragma once

#include <QString>

#include <exception>
#include <optional>
#include <string>

// How the service client reports failure: every operation is a coroutine that
// throws one of the types below (or KeychainStore::KeychainError, or a web
// transport's own error), and callers catch by type. Nothing is returned as an
// error value; a coroutine that completes has succeeded. None of these carry
// words for the user: the application state puts them into words.

// The service's own refusals and the client's checks. Spelled ZephylAPI::APIError.
class ServiceAPIError final : public std::exception {
public:
    enum class Kind {
        rejected,          // the server's error code (or a fixed code of the account calls)
        serverRefused,     // a refusal without a readable code; keeps the HTTP status
        invalidCredential, // unusable e-mail or password; nothing was sent
        invalidResponse,   // not an HTTP answer, or an unusable address or answer
        unauthorized,      // no access token, or the service said the session is not valid
        sessionExpired,    // no stored refresh token to renew the session with
    };

    static ServiceAPIError rejected(QString code) { return ServiceAPIError(Kind::rejected, std::move(code), 0); }
    static ServiceAPIError serverRefused(int status, std::optional<QString> code = std::nullopt)
    {
        ServiceAPIError e(Kind::serverRefused, code.value_or(QString()), status);
        e.m_hasCode = code.has_value();
        return e;
    }
    static ServiceAPIError invalidCredential() { return ServiceAPIError(Kind::invalidCredential, {}, 0); }
    static ServiceAPIError invalidResponse() { return ServiceAPIError(Kind::invalidResponse, {}, 0); }
    static ServiceAPIError unauthorized() { return ServiceAPIError(Kind::unauthorized, {}, 0); }
    static ServiceAPIError sessionExpired() { return ServiceAPIError(Kind::sessionExpired, {}, 0); }

    Kind kind() const { return m_kind; }
    // rejected: the code; serverRefused: the optional code.
    std::optional<QString> code() const
    {
        if (m_kind == Kind::rejected || (m_kind == Kind::serverRefused && m_hasCode))
            return m_code;
        return std::nullopt;
    }
    // serverRefused: the HTTP status; 0 otherwise.
    int status() const { return m_status; }

    bool operator==(const ServiceAPIError &other) const
    {
        return m_kind == other.m_kind && m_status == other.m_status && code() == other.code();
    }

    const char *what() const noexcept override;

private:
    ServiceAPIError(Kind kind, QString code, int status)
        : m_kind(kind), m_code(std::move(code)), m_status(status), m_hasCode(kind == Kind::rejected)
    {
    }
    Kind m_kind;
    QString m_code;
    int m_status;
    bool m_hasCode;
};

// A failure of the client's own HTTP exchange: the counterpart of the platform
// URL-loading errors, passed to callers unchanged. Spelled ZephylAPI::NetworkError.
class ServiceNetworkError final : public std::exception {
public:
    enum class Code {
        timedOut,            // the request's own time-out, or 30 s without any bytes moving
        cancelled,           // the request was cancelled by its caller
        cannotConnectToHost, // the host refused the connection
        connectionLost,      // the connection dropped after the request went out, before its whole answer
        dataLengthExceedsMaximum, // the answer grew past what its kind of call accepts
        secureConnectionFailed,
        badURL,
        other,
    };

    explicit ServiceNetworkError(Code code, int qtError = 0, bool mayHaveLeft = true)
        : m_code(code), m_qtError(qtError), m_mayHaveLeft(mayHaveLeft)
    {
    }
    Code code() const { return m_code; }
    // The QNetworkReply::NetworkError behind it, for diagnostics; 0 when none.
    int qtError() const { return m_qtError; }
    // Any of the request may have reached the server. False only when none of
    // it can have: a time-out spent waiting for a network, or for a connection.
    bool mayHaveLeft() const { return m_mayHaveLeft; }
    const char *what() const noexcept override;

private:
    Code m_code;
    int m_qtError;
    bool m_mayHaveLeft;
};

// A JSON answer that does not have the expected shape, or an unreadable body.
// `key` is the path of the key at fault ("items[3].id"), empty for the whole
// body. Spelled ZephylAPI::DecodingError.
class ServiceDecodingError final : public std::exception {
public:
    enum class Kind { keyNotFound, valueNotFound, typeMismatch, dataCorrupted };

    ServiceDecodingError(Kind kind, QString key, QString description);
    Kind kind() const { return m_kind; }
    QString key() const { return m_key; }
    QString description() const { return m_description; }
    // The same error with an outer key in front of its path.
    ServiceDecodingError nested(const QString &outer) const;
    const char *what() const noexcept override { return m_what.c_str(); }

private:
    Kind m_kind;
    QString m_key;
    QString m_description;
    std::string m_what;
};

// A request went out but no usable answer came back: it timed out, the
// connection dropped, or what arrived was no readable answer (unreadable, or
// past the size its kind of call accepts). The service may have done what was
// asked all the same. A refusal, a connection that never opened, or a time-out
// before any of the request left, proves it did nothing; a failure of another
// road (a page's own fetch) proves nothing either way, so it counts as lost.
bool answerMayBeLost(const std::exception_ptr &error);
